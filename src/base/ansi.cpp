#include "base/ansi.h"

#include <QStringDecoder>
#include <QStringEncoder>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <memory>

namespace {

constexpr const char* CodePage = "GBK";
constexpr quint16 NotHeld = 0xFFFF;
constexpr char16_t NoCharacter = 0xFFFF; // in the decoding tables: no character for these bytes

bool isLead(uchar b) {
    return b >= 0x81 && b <= 0xFE;
}
bool isTrail(uchar b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// Both directions of the code page, unit by unit, made once from the system's converter: a unit is
// held when it goes through the code page and back unchanged.
struct TTables {
    std::array<quint16, 0x10000> encoded;
    std::array<char16_t, 0x100> single;        // a byte on its own
    std::array<char16_t, 0x80 * 0x100> paired; // (lead - 0x80) * 0x100 + trail

    TTables() {
        encoded.fill(NotHeld);
        single.fill(NoCharacter);
        paired.fill(NoCharacter);
        QStringEncoder encoder(CodePage, QStringConverter::Flag::Stateless);
        QStringDecoder decoder(CodePage, QStringConverter::Flag::Stateless);
        if (!encoder.isValid() || !decoder.isValid()) {
            for (char16_t c = 0; c < 0x80; ++c) {
                encoded[c] = c;
                single[c] = c;
            }
            return;
        }
        for (uint c = 0; c < 0x10000; ++c) {
            if (c >= 0xD800 && c < 0xE000)
                continue;
            const QChar unit{char16_t(c)};
            const QByteArray bytes = encoder.encode(QStringView(&unit, 1));
            const QString back = decoder.decode(bytes);
            if (back.size() != 1 || back[0] != unit)
                continue;
            if (bytes.size() == 1) {
                encoded[c] = uchar(bytes[0]);
                single[uchar(bytes[0])] = char16_t(c);
            } else if (bytes.size() == 2 && isLead(uchar(bytes[0])) && isTrail(uchar(bytes[1]))) {
                encoded[c] = quint16(uchar(bytes[0]) << 8 | uchar(bytes[1]));
                paired[(uchar(bytes[0]) - 0x80) * 0x100 + uchar(bytes[1])] = char16_t(c);
            }
        }
    }
};

const TTables& tables() {
    static const std::unique_ptr<TTables> t = std::make_unique<TTables>();
    return *t;
}

} // namespace

QString TAnsi::Decode(const QByteArray& bytes) {
    QStringDecoder decoder(CodePage);
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

QByteArray TAnsi::Encode(const QString& text) {
    // The converter writes "?" for each character the code page cannot hold.
    QStringEncoder encoder(CodePage);
    if (!encoder.isValid())
        return text.toLatin1();
    return encoder.encode(text);
}

bool TAnsi::Holds(char16_t unit) {
    return tables().encoded[unit] != NotHeld;
}

quint16 TAnsi::EncodedUnit(char16_t unit) {
    return tables().encoded[unit];
}

bool TAnsi::DecodeWellFormed(QByteArrayView bytes, QString& out) {
    const TTables& t = tables();
    const uchar* b = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    out.resize(n); // at most one unit per byte
    char16_t* to = reinterpret_cast<char16_t*>(out.data());
    qsizetype k = 0;
    qsizetype i = 0;
    while (i < n) {
        // Runs of ASCII, the bulk of a page, are copied as they are.
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        while (i + 16 <= n) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
            if (_mm_movemask_epi8(v) != 0)
                break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k + 8), _mm_unpackhi_epi8(v, zero));
            i += 16;
            k += 16;
        }
#endif
        while (i < n && b[i] < 0x80)
            to[k++] = b[i++];
        if (i >= n)
            break;
        char16_t c;
        if (isLead(b[i]) && i + 1 < n && isTrail(b[i + 1])) {
            c = t.paired[(b[i] - 0x80) * 0x100 + b[i + 1]];
            i += 2;
        } else {
            c = t.single[b[i]];
            ++i;
        }
        if (c == NoCharacter)
            return false;
        to[k++] = c;
    }
    out.truncate(k);
    return true;
}

namespace {

// GB18030's four-byte form: lead, digit, lead, digit.
bool isDigitByte(uchar b) {
    return b >= 0x30 && b <= 0x39;
}

} // namespace

QByteArray TAnsi::EncodeLossless(const QString& text) {
    const TTables& t = tables();
    QByteArray out;
    out.reserve(text.size() * 2);
    QStringEncoder wide("GB18030", QStringConverter::Flag::Stateless);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        const quint16 code = t.encoded[unit];
        if (code != NotHeld) {
            if (code < 0x100)
                out += char(code);
            else
                out += char(code >> 8), out += char(code & 0xFF);
            continue;
        }
        // A whole character: a surrogate pair counts as one.
        const qsizetype length =
            QChar::isHighSurrogate(unit) && i + 1 < text.size() && text[i + 1].isLowSurrogate() ? 2 : 1;
        const QByteArray bytes =
            wide.isValid() ? wide.encode(QStringView(text).mid(i, length)) : QByteArray();
        if (bytes.size() == 4 && isLead(uchar(bytes[0])) && isDigitByte(uchar(bytes[1])))
            out += bytes;
        else
            out += '?';
        i += length - 1;
    }
    return out;
}

bool TAnsi::DecodeLossless(QByteArrayView bytes, QString& out) {
    // Code-page text alone (the usual case) is read by table at once.
    if (DecodeWellFormed(bytes, out))
        return true;
    const TTables& t = tables();
    QStringDecoder wide("GB18030", QStringConverter::Flag::Stateless);
    const uchar* b = reinterpret_cast<const uchar*>(bytes.data());
    const qsizetype n = bytes.size();
    out.clear();
    out.reserve(n);
    qsizetype i = 0;
    while (i < n) {
        if (b[i] < 0x80) {
            out += QChar(char16_t(b[i++]));
            continue;
        }
        if (i + 3 < n && isLead(b[i]) && isDigitByte(b[i + 1]) && isLead(b[i + 2]) && isDigitByte(b[i + 3])) {
            if (!wide.isValid())
                return false;
            const QString c = wide.decode(QByteArrayView(b + i, 4));
            if (wide.hasError() || c.isEmpty() || c.contains(QChar(0xFFFD)))
                return false;
            out += c;
            i += 4;
            continue;
        }
        char16_t c;
        if (isLead(b[i]) && i + 1 < n && isTrail(b[i + 1])) {
            c = t.paired[(b[i] - 0x80) * 0x100 + b[i + 1]];
            i += 2;
        } else {
            c = t.single[b[i]];
            ++i;
        }
        if (c == NoCharacter)
            return false;
        out += QChar(c);
    }
    return true;
}
