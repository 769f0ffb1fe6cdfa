#include "table/packedtext.h"

#include <zstd.h>

#include <memory>
#include <new>

namespace {

// Fast rather than small: a negative level compresses markup several times over at a few hundred
// megabytes a second.
constexpr int PackLevel = -3;

// One context per thread, kept: making one for every cell would cost more than small cells take.
ZSTD_CCtx* compressor() {
    thread_local std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> context(ZSTD_createCCtx(), ZSTD_freeCCtx);
    return context.get();
}

ZSTD_DCtx* decompressor() {
    thread_local std::unique_ptr<ZSTD_DCtx, size_t (*)(ZSTD_DCtx*)> context(ZSTD_createDCtx(), ZSTD_freeDCtx);
    return context.get();
}

} // namespace

QByteArray PackedText::Pack(QStringView text) {
    if (text.isEmpty())
        return {};
    const QByteArray utf8 = text.toUtf8();
    QByteArray packed(qsizetype(ZSTD_compressBound(size_t(utf8.size()))), Qt::Uninitialized);
    ZSTD_CCtx* context = compressor();
    const size_t size = context ? ZSTD_compressCCtx(context, packed.data(), size_t(packed.size()),
                                                    utf8.constData(), size_t(utf8.size()), PackLevel)
                                : ZSTD_compress(packed.data(), size_t(packed.size()), utf8.constData(),
                                                size_t(utf8.size()), PackLevel);
    if (ZSTD_isError(size))
        throw std::bad_alloc(); // zstd fails only when it cannot get memory
    packed.truncate(qsizetype(size));
    packed.squeeze();
    return packed;
}

QString PackedText::Unpack(const QByteArray& packed) {
    if (packed.isEmpty())
        return {};
    const unsigned long long size = ZSTD_getFrameContentSize(packed.constData(), size_t(packed.size()));
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN)
        return {};
    QByteArray utf8(qsizetype(size), Qt::Uninitialized);
    ZSTD_DCtx* context = decompressor();
    const size_t got = context ? ZSTD_decompressDCtx(context, utf8.data(), size_t(utf8.size()),
                                                     packed.constData(), size_t(packed.size()))
                               : ZSTD_decompress(utf8.data(), size_t(utf8.size()), packed.constData(),
                                                 size_t(packed.size()));
    if (ZSTD_isError(got))
        return {};
    utf8.truncate(qsizetype(got));
    return QString::fromUtf8(utf8);
}
