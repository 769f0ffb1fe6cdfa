#include "table/packedtext.h"

#include "platform/memory.h"
#include "table/gridjson.h"

#include <zstd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cstring>
#include <memory>
#include <new>

namespace {

// Fast rather than small: at this level zstd packs markup about four times over at more than a
// gigabyte a second, so that packing a loading table's pages on one thread keeps up with the
// reading (a quarter of the memory is plenty: the pages' UTF-16 text would be eight times as much).
constexpr int PackLevel = -20;

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

// Compresses `size` bytes into `to` (room for ZSTD_compressBound(size) + 1), the frame's kind
// first; the bytes written.
size_t compressInto(char* to, size_t room, char kind, const char* data, size_t size) {
    to[0] = kind;
    ZSTD_CCtx* context = compressor();
    if (!context)
        throw std::bad_alloc();
    const size_t written = ZSTD_compressCCtx(context, to + 1, room - 1, data, size, PackLevel);
    if (ZSTD_isError(written))
        throw std::bad_alloc(); // with room for the bound, zstd fails only when it cannot get memory
    return 1 + written;
}

size_t roomFor(size_t size) {
    return 1 + ZSTD_compressBound(size);
}

// A text packed on its own: compressed into a buffer the thread keeps, then copied to memory of
// its exact size.
TPackedText packAlone(char kind, const char* data, size_t size) {
    thread_local QByteArray scratch;
    const size_t room = roomFor(size);
    if (size_t(scratch.size()) < room)
        scratch.resize(qsizetype(room));
    const size_t written = compressInto(scratch.data(), room, kind, data, size);
    TPackedText packed = TPackedText::FromBytes(QByteArrayView(scratch.constData(), qsizetype(written)));
    // A rare huge page's buffer is not kept for the life of the thread.
    if (scratch.size() > (16 << 20))
        scratch = QByteArray();
    return packed;
}

// The blocks a loaded table's pages are packed into; a page whose bound is over a quarter of it is
// packed on its own.
constexpr size_t BlockBytes = size_t(32) << 20;

} // namespace

TPackedText TPackedText::FromBytes(QByteArrayView bytes) {
    if (bytes.isEmpty())
        return {};
    std::shared_ptr<char[]> data = std::make_shared_for_overwrite<char[]>(size_t(bytes.size()));
    char* raw = data.get();
    std::memcpy(raw, bytes.data(), size_t(bytes.size()));
    return TPackedText(std::shared_ptr<const char>(std::move(data), raw), bytes.size());
}

namespace {

// What Pack and PackStored hand to `pack` (which puts it in a block or on its own): the frame's
// kind and its bytes.
template <typename Packer> TPackedText packText(QStringView text, Packer&& pack) {
    if (text.isEmpty())
        return {};
    if (hasLoneSurrogate(text))
        return pack(Utf16Frame, reinterpret_cast<const char*>(text.utf16()), size_t(text.size()) * 2);
    const QByteArray utf8 = text.toUtf8();
    return pack(Utf8Frame, utf8.constData(), size_t(utf8.size()));
}

template <typename Packer> TPackedText packStored(QByteArrayView stored, Packer&& pack) {
    if (stored.isEmpty())
        return {};
    return pack(StoredFrame, stored.data(), size_t(stored.size()));
}

} // namespace

TPackedText PackedText::Pack(QStringView text) {
    return packText(text, packAlone);
}

TPackedText PackedText::PackStored(QByteArrayView storedJsonString) {
    return packStored(storedJsonString, packAlone);
}

namespace {

// The bytes of a packed text's frame into `bytes` (its room used again); false for bytes Pack or
// PackStored did not make.
bool unpackBytes(QByteArrayView packed, QByteArray& bytes) {
    if (packed.size() < 2)
        return false;
    const char* frame = packed.data() + 1;
    const size_t frameSize = size_t(packed.size()) - 1;
    const unsigned long long size = ZSTD_getFrameContentSize(frame, frameSize);
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN)
        return false;
    bytes.resize(qsizetype(size));
    ZSTD_DCtx* context = decompressor();
    if (!context)
        throw std::bad_alloc();
    const size_t got = ZSTD_decompressDCtx(context, bytes.data(), size_t(bytes.size()), frame, frameSize);
    return !ZSTD_isError(got) && got == size;
}

} // namespace

QString PackedText::Unpack(const TPackedText& packedText) {
    const QByteArrayView packed = packedText.Bytes();
    QByteArray bytes;
    if (!unpackBytes(packed, bytes))
        return {};
    if (packed[0] == Utf16Frame)
        return QString(reinterpret_cast<const QChar*>(bytes.constData()), bytes.size() / 2);
    if (packed[0] == StoredFrame)
        return StoredJsonStringText(bytes);
    return QString::fromUtf8(bytes);
}

bool PackedText::UnpackStored(const TPackedText& packedText, QByteArray& body) {
    const QByteArrayView packed = packedText.Bytes();
    return !packed.isEmpty() && packed[0] == StoredFrame && unpackBytes(packed, body);
}

TPackedTextBlocks::TPackedTextBlocks() = default;

TPackedTextBlocks::~TPackedTextBlocks() {
    closeBlock();
}

TPackedText TPackedTextBlocks::Pack(QStringView text) {
    return packText(text,
                    [this](char kind, const char* data, size_t size) { return pack(kind, data, size); });
}

TPackedText TPackedTextBlocks::PackStored(QByteArrayView storedJsonString) {
    return packStored(storedJsonString,
                      [this](char kind, const char* data, size_t size) { return pack(kind, data, size); });
}

TPackedText TPackedTextBlocks::pack(char kind, const char* data, size_t size) {
    const size_t bound = roomFor(size);
    char* to = room(bound);
    if (!to)
        return packAlone(kind, data, size);
    return take(compressInto(to, bound, kind, data, size));
}

char* TPackedTextBlocks::room(size_t bytes) {
    if (bytes > BlockBytes / 4)
        return nullptr;
    if (!m_block || m_block->Size() - m_used < bytes) {
        closeBlock();
        m_block = std::make_shared<TMemoryBlock>(BlockBytes);
        m_used = 0;
    }
    return m_block->Data() + m_used;
}

TPackedText TPackedTextBlocks::take(size_t bytes) {
    // The page shares the block's ownership and points at its own bytes in it.
    TPackedText packed(std::shared_ptr<const char>(m_block, m_block->Data() + m_used), qsizetype(bytes));
    m_used += bytes;
    return packed;
}

void TPackedTextBlocks::closeBlock() {
    // The rest of a block no page will use goes back to the system.
    if (m_block)
        m_block->ShrinkTo(m_used);
    m_block.reset();
}
