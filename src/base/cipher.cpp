#include "base/cipher.h"

#include "base/ansi.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QIODevice>

#include <openssl/evp.h>

#include <memory>

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
        QByteArray out(blocks.size() + 16, '\0');
        int written = 0;
        m_ok = m_ok &&
               EVP_CipherUpdate(m_ctx.get(), reinterpret_cast<uchar*>(out.data()), &written,
                                reinterpret_cast<const uchar*>(blocks.constData()), int(blocks.size())) == 1;
        out.truncate(m_ok ? written : 0);
        return out;
    }

  private:
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> m_ctx;
    bool m_ok = false;
};

TError damaged(const char* why) {
    return MakeError(TErrc::Damaged, QString::fromLatin1(why));
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

QByteArray BytesToHex(const QByteArray& Bytes) {
    return Bytes.toHex().toUpper();
}

TResult<QByteArray> HexToBytes(const QByteArray& Text) {
    QByteArray out(Text.size() / 2, '\0');
    const char* in = Text.constData();
    char* to = out.data();
    for (qsizetype i = 0; i < out.size(); ++i) {
        const int hi = hexDigit(in[2 * i]), lo = hexDigit(in[2 * i + 1]);
        if ((hi | lo) < 0)
            return damaged("Invalid hexadecimal text");
        to[i] = char(hi << 4 | lo);
    }
    return out;
}

struct TCipherWriter::TState {
    TState(QIODevice& device, const QByteArray& key, int keySize) : out(device), aes(key, keySize, true) {}
    QIODevice& out;
    TAes aes;
    qint64 start = 0;   // where the length prefix goes
    quint64 length = 0; // plaintext bytes committed
    bool begun = false; // leading blanks are behind us
    QByteArray held;    // blanks that end the text so far: dropped unless more text follows
    QByteArray pending; // committed bytes not yet a whole block
    bool ok = true;
};

TCipherWriter::TCipherWriter(QIODevice& out, const QByteArray& key, int keySize)
    : d(std::make_unique<TState>(out, key, keySize)) {
    d->start = out.pos();
    d->ok = d->aes.ok() && out.write(QByteArray(16, '0')) == 16;
}

TCipherWriter::~TCipherWriter() = default;

bool TCipherWriter::emitBlocks(const QByteArray& bytes) {
    d->length += quint64(bytes.size());
    d->pending += bytes;
    const qsizetype whole = d->pending.size() - d->pending.size() % 16;
    if (whole == 0)
        return d->ok;
    const QByteArray hex = BytesToHex(d->aes.run(d->pending.left(whole)));
    d->pending.remove(0, whole);
    d->ok = d->ok && d->aes.ok() && d->out.write(hex) == hex.size();
    return d->ok;
}

bool TCipherWriter::Write(const QByteArray& plain) {
    qsizetype from = 0;
    if (!d->begun) {
        while (from < plain.size() && uchar(plain[from]) <= 0x20)
            ++from;
        if (from == plain.size())
            return d->ok;
        d->begun = true;
    }
    d->held += plain.mid(from);
    qsizetype last = d->held.size();
    while (last > 0 && uchar(d->held[last - 1]) <= 0x20)
        --last;
    if (last == 0)
        return d->ok;
    const QByteArray commit = d->held.left(last);
    d->held.remove(0, last);
    return emitBlocks(commit);
}

bool TCipherWriter::Finish() {
    if (!d->pending.isEmpty()) {
        d->pending.append(16 - d->pending.size() % 16, '\0');
        const QByteArray hex = BytesToHex(d->aes.run(d->pending));
        d->pending.clear();
        d->ok = d->ok && d->aes.ok() && d->out.write(hex) == hex.size();
    }
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

TResult<QByteArray> DecryptDevice(QIODevice& in, const QByteArray& key, int keySize, bool checkLength) {
    const QByteArray prefix = in.read(16);
    if (prefix.isEmpty())
        return QByteArray();
    if (prefix.size() < 16)
        return damaged("Stream read error");
    // Trimming finds the end of the text; the stored length is checked only when asked for.
    const TResult<QByteArray> lengthBytes = HexToBytes(prefix);
    if (!lengthBytes)
        return lengthBytes.error();
    quint64 stored = 0;
    for (int i = 7; i >= 0; --i)
        stored = stored << 8 | uchar((*lengthBytes)[i]);
    TAes aes(key, keySize, false);
    QByteArray plain;
    if (const qint64 size = in.size() - in.pos(); !in.isSequential() && size > 0)
        plain.reserve(size / 2);
    QByteArray carry; // digits of an incomplete block
    constexpr qint64 Chunk = 1 << 20;
    while (true) {
        const QByteArray piece = in.read(Chunk);
        if (piece.isEmpty())
            break;
        carry += piece;
        const qsizetype whole = carry.size() - carry.size() % 32;
        const TResult<QByteArray> blocks = HexToBytes(carry.left(whole));
        if (!blocks)
            return blocks.error();
        plain += aes.run(*blocks);
        carry.remove(0, whole);
    }
    if (!aes.ok())
        return damaged("AES failed");
    // What follows the prefix must be a whole, non-zero number of blocks; an odd last digit is
    // not part of any byte.
    if (carry.size() > 1 || plain.isEmpty())
        return damaged("Invalid buffer size for decryption");
    if (checkLength) {
        const quint64 size = quint64(plain.size());
        bool agrees = stored <= size && size - stored < 16;
        for (qsizetype i = qsizetype(std::min(stored, size)); agrees && i < plain.size(); ++i)
            agrees = plain[i] == '\0';
        if (!agrees)
            return damaged("the stored length does not match the content");
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
