#include "table/packedtext.h"

#include "table/gridjson.h"

#include <zstd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <memory>
#include <new>

namespace {

// Fast rather than small: a negative level compresses markup several times over at a few hundred
// megabytes a second.
constexpr int PackLevel = -3;

// The first byte of a packed text says what the frame after it holds: the text's UTF-8, or (for a
// text with a lone surrogate, which UTF-8 cannot carry) its UTF-16 units as they are.
constexpr char Utf8Frame = '8';
constexpr char Utf16Frame = 'W';
// Or the body of a JSON string as the grid file stores it (PackStored).
constexpr char StoredFrame = 'J';

// One context per thread, kept: making one for every cell would cost more than small cells take.
ZSTD_CCtx* compressor() {
    thread_local std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    return context.get();
}

ZSTD_DCtx* decompressor() {
    thread_local std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    return context.get();
}

bool hasLoneSurrogate(QStringView text) {
    const char16_t* p = text.utf16();
    const char16_t* end = p + text.size();
#if defined(__SSE2__)
    // Eight units at a time while none is a surrogate at all (text of the Basic Multilingual Plane,
    // nearly every page); from the first block that holds one, unit by unit.
    const __m128i high5 = _mm_set1_epi16(short(0xF800)), surrogate = _mm_set1_epi16(short(0xD800));
    while (end - p >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high5), surrogate)) != 0)
            break;
        p += 8;
    }
#endif
    for (; p < end; ++p) {
        if ((*p & 0xF800) != 0xD800)
            continue;
        if ((*p & 0xFC00) == 0xD800 && p + 1 < end && (p[1] & 0xFC00) == 0xDC00) {
            ++p;
            continue;
        }
        return true;
    }
    return false;
}

QByteArray compress(char kind, const char* data, size_t size) {
    QByteArray packed(qsizetype(1 + ZSTD_compressBound(size)), Qt::Uninitialized);
    packed[0] = kind;
    ZSTD_CCtx* context = compressor();
    if (!context)
        throw std::bad_alloc();
    const size_t written =
        ZSTD_compressCCtx(context, packed.data() + 1, size_t(packed.size()) - 1, data, size, PackLevel);
    if (ZSTD_isError(written))
        throw std::bad_alloc(); // with room for the bound, zstd fails only when it cannot get memory
    packed.truncate(qsizetype(1 + written));
    packed.squeeze();
    return packed;
}

} // namespace

QByteArray PackedText::Pack(QStringView text) {
    if (text.isEmpty())
        return {};
    if (hasLoneSurrogate(text))
        return compress(Utf16Frame, reinterpret_cast<const char*>(text.utf16()), size_t(text.size()) * 2);
    const QByteArray utf8 = text.toUtf8();
    return compress(Utf8Frame, utf8.constData(), size_t(utf8.size()));
}

QByteArray PackedText::PackStored(QByteArrayView storedJsonString) {
    if (storedJsonString.isEmpty())
        return {};
    return compress(StoredFrame, storedJsonString.data(), size_t(storedJsonString.size()));
}

QString PackedText::Unpack(const QByteArray& packed) {
    if (packed.size() < 2)
        return {};
    const char* frame = packed.constData() + 1;
    const size_t frameSize = size_t(packed.size()) - 1;
    const unsigned long long size = ZSTD_getFrameContentSize(frame, frameSize);
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN)
        return {};
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    ZSTD_DCtx* context = decompressor();
    if (!context)
        throw std::bad_alloc();
    const size_t got = ZSTD_decompressDCtx(context, bytes.data(), size_t(bytes.size()), frame, frameSize);
    if (ZSTD_isError(got) || got != size)
        return {};
    if (packed[0] == Utf16Frame)
        return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
    if (packed[0] == StoredFrame)
        return StoredJsonStringText(bytes);
    return QString::fromUtf8(bytes);
}
