#include "base/cipher.h"

#include "base/ansi.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QIODevice>

#include <openssl/evp.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace {

const EVP_CIPHER* cipherFor(int keySize) {
    switch (keySize) {
    case 1:
        return EVP_aes_192_ecb();
    case 2:
        return EVP_aes_256_ecb();
    default:
        return EVP_aes_128_ecb();
    }
}

int keyBytes(int keySize) {
    return keySize == 1 ? 24 : keySize == 2 ? 32 : 16;
}

QByteArray keyBuffer(const QByteArray& key, int keySize) {
    QByteArray buffer(keyBytes(keySize), '\0');
    std::copy_n(key.constData(), std::min<qsizetype>(key.size(), buffer.size()), buffer.data());
    return buffer;
}

// A running AES transform in one direction over whole blocks. A failure of the library (which
// does not happen with these fixed ciphers short of running out of memory) makes ok() false.
class TAes {
  public:
    TAes(const QByteArray& key, int keySize, bool encrypt)
        : m_ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free) {
        const QByteArray k = keyBuffer(key, keySize);
        m_ok =
            m_ctx &&
            EVP_CipherInit_ex(m_ctx.get(), cipherFor(keySize), nullptr,
                              reinterpret_cast<const uchar*>(k.constData()), nullptr, encrypt ? 1 : 0) == 1 &&
            EVP_CIPHER_CTX_set_padding(m_ctx.get(), 0) == 1;
    }
    bool ok() const { return m_ok; }
    // `blocks` is a multiple of 16 bytes.
    QByteArray run(const QByteArray& blocks) {
        QByteArray out(blocks.size(), '\0');
        run(blocks.constData(), blocks.size(), out.data());
        return m_ok ? out : QByteArray();
    }
    // The same into `out`, which has room for `size` bytes.
    void run(const char* in, qsizetype size, char* out) {
        int written = 0;
        m_ok = m_ok &&
               EVP_CipherUpdate(m_ctx.get(), reinterpret_cast<uchar*>(out), &written,
                                reinterpret_cast<const uchar*>(in), int(size)) == 1 &&
               written == size;
    }

  private:
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> m_ctx;
    bool m_ok = false;
};

TError damaged(const char* why) {
    return MakeError(TErrc::Damaged, QString::fromUtf8(why));
}

QByteArray trimmed(const QByteArray& bytes) {
    qsizetype b = 0, e = bytes.size();
    while (b < e && uchar(bytes[b]) <= 0x20)
        ++b;
    while (e > b && uchar(bytes[e - 1]) <= 0x20)
        --e;
    return bytes.mid(b, e - b);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

namespace {

// Upper-case hexadecimal, two digits per byte, by table.
struct THexTable {
    std::array<std::array<char, 2>, 256> digits;
    THexTable() {
        static const char Hex[] = "0123456789ABCDEF";
        for (int b = 0; b < 256; ++b)
            digits[b] = {Hex[b >> 4], Hex[b & 15]};
    }
};

void toHex(const char* in, qsizetype size, char* out) {
    static const THexTable table;
    qsizetype i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: each nibble n becomes '0' + n, plus 7 more from 10 on ('A' - '9' - 1).
    const __m128i nibble = _mm_set1_epi8(0x0F), nine = _mm_set1_epi8(9), zero = _mm_set1_epi8('0'),
                  seven = _mm_set1_epi8(7);
    auto ascii = [&](__m128i x) {
        return _mm_add_epi8(_mm_add_epi8(x, zero), _mm_and_si128(_mm_cmpgt_epi8(x, nine), seven));
    };
    for (; i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i hi = ascii(_mm_and_si128(_mm_srli_epi16(v, 4), nibble));
        const __m128i lo = ascii(_mm_and_si128(v, nibble));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi8(hi, lo));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 16), _mm_unpackhi_epi8(hi, lo));
    }
#endif
    for (; i < size; ++i) {
        const std::array<char, 2>& d = table.digits[uchar(in[i])];
        out[2 * i] = d[0];
        out[2 * i + 1] = d[1];
    }
}

// The value of each byte as a hexadecimal digit, -1 for any other byte.
struct TDigitTable {
    std::array<signed char, 256> value;
    TDigitTable() {
        for (int b = 0; b < 256; ++b)
            value[b] = static_cast<signed char>(hexDigit(char(b)));
    }
};

// `size` bytes from 2 * `size` digits; false at a character that is no hexadecimal digit.
bool fromHex(const char* in, qsizetype size, char* out) {
    static const TDigitTable table;
    int bad = 0;
    qsizetype i = 0;
#if defined(__SSE2__)
    // Sixteen bytes from thirty-two digits at a time.
    const __m128i zeroChar = _mm_set1_epi8('0'), nine = _mm_set1_epi8(9), lowerA = _mm_set1_epi8('a'),
                  five = _mm_set1_epi8(5), ten = _mm_set1_epi8(10), caseBit = _mm_set1_epi8(0x20),
                  lowByte = _mm_set1_epi16(0x00F0);
    // The digits' values, and whether each is a digit at all.
    auto values = [&](__m128i c, __m128i* valid) {
        const __m128i d = _mm_sub_epi8(c, zeroChar);
        const __m128i isDigit = _mm_cmpeq_epi8(_mm_min_epu8(d, nine), d);
        const __m128i l = _mm_sub_epi8(_mm_or_si128(c, caseBit), lowerA);
        const __m128i isLetter = _mm_cmpeq_epi8(_mm_min_epu8(l, five), l);
        *valid = _mm_and_si128(*valid, _mm_or_si128(isDigit, isLetter));
        return _mm_or_si128(_mm_and_si128(isDigit, d), _mm_andnot_si128(isDigit, _mm_add_epi8(l, ten)));
    };
    // Each 16-bit lane holds the high digit's value in its low byte and the low digit's in its high one.
    auto combine = [&](__m128i v) {
        return _mm_or_si128(_mm_and_si128(_mm_slli_epi16(v, 4), lowByte), _mm_srli_epi16(v, 8));
    };
    __m128i valid = _mm_set1_epi8(-1);
    for (; i + 16 <= size; i += 16) {
        const __m128i a = values(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i)), &valid);
        const __m128i b = values(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16)), &valid);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(combine(a), combine(b)));
    }
    if (_mm_movemask_epi8(valid) != 0xFFFF)
        return false;
#endif
    for (; i < size; ++i) {
        const int hi = table.value[uchar(in[2 * i])], lo = table.value[uchar(in[2 * i + 1])];
        bad |= hi | lo;
        out[i] = char(hi << 4 | lo);
    }
    return bad >= 0;
}

// Pieces of this many blocks are enciphered and written at a time.
constexpr qsizetype PieceBytes = 1 << 20;

} // namespace

QByteArray BytesToHex(const QByteArray& Bytes) {
    QByteArray out(Bytes.size() * 2, '\0');
    toHex(Bytes.constData(), Bytes.size(), out.data());
    return out;
}

TResult<QByteArray> HexToBytes(const QByteArray& Text) {
    QByteArray out(Text.size() / 2, '\0');
    if (!fromHex(Text.constData(), out.size(), out.data()))
        return damaged("不是有效的十六进制文本");
    return out;
}

// The plaintext's whole blocks go out in pieces, each enciphered, made hexadecimal and written as
// one. Once there is more than one piece, a thread of the writer's own does that for each while the
// caller makes the next ones (the system's copying of a large file into the page cache takes as
// long as making it), with at most two pieces waiting.
struct TCipherWriter::TState {
    TState(QIODevice& device, const QByteArray& key, int keySize) : out(device), aes(key, keySize, true) {}
    ~TState() { stopWriting(); }
    QIODevice& out;
    TAes aes;
    qint64 start = 0;   // where the length prefix goes
    quint64 length = 0; // plaintext bytes committed
    bool begun = false; // leading blanks are behind us
    QByteArray held;    // blanks that end the text so far: dropped unless more text follows
    QByteArray pending; // committed bytes not yet a whole block
    QByteArray plain;   // whole blocks not yet handed over
    // Used by whoever processes a piece: the caller before the thread starts and after it ends,
    // the thread in between.
    QByteArray blocks; // one piece, enciphered
    QByteArray hex;    // one piece, as hexadecimal text
    bool ok = true;

    std::thread writer;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<QByteArray> queue;
    bool closing = false;
    std::atomic<bool> writeFailed{false};

    // Hands a piece of whole blocks over to be enciphered and written; false once that has failed.
    bool send(QByteArray piece) {
        if (!writer.joinable()) {
            // The first piece is processed here: a small text never starts a thread.
            if (length <= quint64(PieceBytes) && queue.empty())
                return process(piece);
            writer = std::thread([this] { writeQueued(); });
        }
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return queue.size() < 2; });
        queue.push_back(std::move(piece));
        changed.notify_all();
        return !writeFailed;
    }
    bool process(const QByteArray& piece) {
        if (writeFailed || piece.isEmpty())
            return !writeFailed;
        if (blocks.size() < piece.size())
            blocks.resize(piece.size());
        aes.run(piece.constData(), piece.size(), blocks.data());
        hex.resize(2 * piece.size());
        toHex(blocks.constData(), piece.size(), hex.data());
        if (!aes.ok() || out.write(hex) != hex.size())
            writeFailed = true;
        return !writeFailed;
    }
    void writeQueued() {
        while (true) {
            QByteArray piece;
            {
                std::unique_lock<std::mutex> guard(lock);
                changed.wait(guard, [this] { return !queue.empty() || closing; });
                if (queue.empty())
                    return;
                piece = std::move(queue.front());
                queue.pop_front();
                changed.notify_all();
            }
            process(piece);
        }
    }
    // Waits until every piece handed over is written.
    void stopWriting() {
        if (!writer.joinable())
            return;
        {
            std::lock_guard<std::mutex> guard(lock);
            closing = true;
        }
        changed.notify_all();
        writer.join();
    }
};

TCipherWriter::TCipherWriter(QIODevice& out, const QByteArray& key, int keySize)
    : d(std::make_unique<TState>(out, key, keySize)) {
    d->start = out.pos();
    d->ok = d->aes.ok() && out.write(QByteArray(16, '0')) == 16;
}

TCipherWriter::~TCipherWriter() = default;

// Gathers whole blocks into pieces, which go out to be enciphered and written.
bool TCipherWriter::writeBlocks(const char* bytes, qsizetype size) {
    while (size > 0 && d->ok) {
        const qsizetype take = std::min(size, PieceBytes - d->plain.size());
        d->plain.append(bytes, take);
        bytes += take;
        size -= take;
        if (d->plain.size() >= PieceBytes) {
            d->ok = d->send(std::move(d->plain));
            d->plain = QByteArray();
            d->plain.reserve(PieceBytes);
        }
    }
    return d->ok;
}

bool TCipherWriter::emitBlocks(QByteArrayView bytes) {
    d->length += quint64(bytes.size());
    if (!d->pending.isEmpty()) {
        const qsizetype fill = std::min<qsizetype>(16 - d->pending.size(), bytes.size());
        d->pending.append(bytes.first(fill));
        bytes = bytes.sliced(fill);
        if (d->pending.size() < 16)
            return d->ok;
        writeBlocks(d->pending.constData(), 16);
        d->pending.clear();
    }
    // The whole blocks straight from the caller's bytes; the rest waits for more.
    const qsizetype whole = bytes.size() - bytes.size() % 16;
    writeBlocks(bytes.data(), whole);
    d->pending.append(bytes.sliced(whole));
    return d->ok;
}

bool TCipherWriter::Write(const QByteArray& plain) {
    QByteArrayView text(plain);
    if (!d->begun) {
        qsizetype from = 0;
        while (from < text.size() && uchar(text[from]) <= 0x20)
            ++from;
        if (from == text.size())
            return d->ok;
        d->begun = true;
        text = text.sliced(from);
    }
    // Blanks at the end are held back until text follows them (the text is trimmed).
    qsizetype last = text.size();
    while (last > 0 && uchar(text[last - 1]) <= 0x20)
        --last;
    if (last == 0) {
        d->held.append(text);
        return d->ok;
    }
    if (!d->held.isEmpty()) {
        emitBlocks(d->held);
        d->held.clear();
    }
    emitBlocks(text.first(last));
    d->held.append(text.sliced(last));
    return d->ok;
}

bool TCipherWriter::Finish() {
    if (!d->pending.isEmpty()) {
        d->pending.append(16 - d->pending.size() % 16, '\0');
        writeBlocks(d->pending.constData(), d->pending.size());
        d->pending.clear();
    }
    d->stopWriting();
    d->ok = d->ok && d->process(d->plain);
    d->plain.clear();
    d->ok = d->ok && !d->writeFailed;
    QByteArray prefix(8, '\0');
    quint64 length = d->length;
    for (int i = 0; i < 8; ++i, length >>= 8)
        prefix[i] = char(length & 0xFF);
    const qint64 end = d->out.pos();
    d->ok = d->ok && d->out.seek(d->start) && d->out.write(BytesToHex(prefix)) == 16 && d->out.seek(end);
    return d->ok;
}

QByteArray EncryptText(const QByteArray& Value, const QByteArray& Key, int KeySize) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    TCipherWriter writer(buffer, Key, KeySize);
    writer.Write(Value);
    writer.Finish();
    return buffer.data();
}

struct TCipherReader::TState {
    TState(QIODevice& device, const QByteArray& key, int keySize, bool check)
        : in(device), aes(key, keySize, false), checkLength(check) {}
    QIODevice& in;
    TAes aes;
    bool checkLength;
    bool started = false;
    bool ended = false;
    quint64 stored = 0; // the length the prefix gives
    quint64 given = 0;  // plaintext bytes handed out
    quint64 deciphered = 0;
    QByteArray digits; // the digits being read; the first `carried` are an incomplete block's
    qsizetype carried = 0;
    QByteArray tail; // with checkLength: the bytes past the stored length (the padding)
    std::optional<TError> error;
};

TCipherReader::TCipherReader(QIODevice& in, const QByteArray& key, int keySize, bool checkLength)
    : d(std::make_unique<TState>(in, key, keySize, checkLength)) {}

TCipherReader::~TCipherReader() = default;

TResult<qsizetype> TCipherReader::AppendNext(QByteArray& text) {
    if (d->error)
        return *d->error;
    if (d->ended)
        return qsizetype(0);
    auto fail = [this](const char* why) -> TError {
        d->error = damaged(why);
        return *d->error;
    };
    if (!d->started) {
        d->started = true;
        const QByteArray prefix = d->in.read(16);
        if (prefix.isEmpty()) {
            d->ended = true;
            return qsizetype(0);
        }
        if (prefix.size() < 16)
            return fail("数据太短，无法读取");
        char lengthBytes[8];
        if (!fromHex(prefix.constData(), 8, lengthBytes))
            return fail("不是有效的十六进制文本");
        for (int i = 7; i >= 0; --i)
            d->stored = d->stored << 8 | uchar(lengthBytes[i]);
    }
    while (true) {
        // The digits are read into the same buffer every time, after those of an incomplete block
        // the last piece left, and deciphered straight onto the end of the text: a file of any size
        // is read with the same few megabytes.
        QByteArray& hex = d->digits;
        const qsizetype carried = d->carried;
        hex.resize(carried + 2 * PieceBytes);
        const qint64 got = d->in.read(hex.data() + carried, 2 * PieceBytes);
        if (got <= 0) {
            // The end: what follows the prefix must be a whole, non-zero number of blocks (an odd
            // last digit is not part of any byte), and with checkLength the stored length must
            // agree with the content.
            d->ended = true;
            if (!d->aes.ok())
                return fail("解密失败");
            if (carried > 1 || d->deciphered == 0)
                return fail("密文长度不对，无法解密");
            if (d->checkLength) {
                bool agrees = d->stored <= d->deciphered && d->deciphered - d->stored < 16;
                for (const char c : std::as_const(d->tail))
                    agrees = agrees && c == '\0';
                if (!agrees)
                    return fail("保存的长度与内容不符");
            }
            return qsizetype(0);
        }
        const qsizetype have = carried + qsizetype(got);
        const qsizetype whole = have - have % 32;
        if (whole == 0) {
            d->carried = have;
            continue;
        }
        const qsizetype bytes = whole / 2;
        const qsizetype at = text.size();
        text.resize(at + bytes);
        char* plain = text.data() + at;
        if (!fromHex(hex.constData(), bytes, plain)) {
            text.truncate(at);
            return fail("不是有效的十六进制文本");
        }
        d->aes.run(plain, bytes, plain);
        if (!d->aes.ok()) {
            text.truncate(at);
            return fail("解密失败");
        }
        std::memmove(hex.data(), hex.constData() + whole, size_t(have - whole));
        d->carried = have - whole;
        d->deciphered += quint64(bytes);
        if (!d->checkLength) {
            d->given += quint64(bytes);
            return bytes;
        }
        // Only the stored length is text; the rest is padding, checked at the end.
        const quint64 room = d->stored > d->given ? d->stored - d->given : 0;
        qsizetype given = bytes;
        if (quint64(bytes) > room) {
            given = qsizetype(room);
            d->tail.append(plain + given, bytes - given);
            text.truncate(at + given);
        }
        d->given += quint64(given);
        if (given > 0)
            return given;
    }
}

TResult<QByteArray> DecryptDevice(QIODevice& in, const QByteArray& key, int keySize, bool checkLength) {
    TCipherReader reader(in, key, keySize, checkLength);
    QByteArray plain;
    if (const qint64 size = in.size() - in.pos(); !in.isSequential() && size > 0)
        plain.reserve(size / 2);
    while (true) {
        const TResult<qsizetype> appended = reader.AppendNext(plain);
        if (!appended)
            return appended.error();
        if (*appended == 0)
            break;
    }
    return trimmed(plain);
}

TResult<QByteArray> DecryptText(const QByteArray& Value, const QByteArray& Key, int KeySize,
                                bool checkLength) {
    QBuffer buffer;
    buffer.setData(Value);
    buffer.open(QIODevice::ReadOnly);
    return DecryptDevice(buffer, Key, KeySize, checkLength);
}

QString Md5Text(const QString& text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(TAnsi::Encode(text), QCryptographicHash::Md5).toHex().toUpper());
}
