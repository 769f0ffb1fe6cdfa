#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

class TMemoryBlock;

// A text kept compressed in memory: an item's page (by far its largest cell, hundreds of kilobytes
// of markup) takes a fifth or less of its room that way, and is opened only when a job or a save
// needs it. Compressed with zstd at a fast level: packing must not slow a table's load much.

// Packed bytes, never changed once made: a copy shares them (a reference count). The pages of a
// loaded table lie side by side in a few large blocks (TPackedTextBlocks); a block is given back
// when the last page in it goes.
class TPackedText {
  public:
    TPackedText() = default;
    // A copy of bytes packed elsewhere (or of any bytes: Unpack refuses what is no packed text).
    static TPackedText FromBytes(QByteArrayView bytes);

    bool isEmpty() const { return m_size == 0; }
    QByteArrayView Bytes() const { return {m_data.get(), m_size}; }

  private:
    friend class TPackedTextBlocks;
    TPackedText(std::shared_ptr<const char> data, qsizetype size) : m_data(std::move(data)), m_size(size) {}
    std::shared_ptr<const char> m_data;
    qsizetype m_size = 0;
};

namespace PackedText {
// The text compressed, every UTF-16 unit kept (a lone surrogate too); the empty text packs to
// nothing. Throws std::bad_alloc when there is no memory for it.
TPackedText Pack(QStringView text);
// A page as the grid file stores it, packed without reading it: the body of its JSON string, in
// the code page's bytes with its escapes, checked already (StoredJsonStringText reads it). Loading a
// table so takes no decoding of its pages; a page is read when it is opened.
TPackedText PackStored(QByteArrayView storedJsonString);
// The text again; the empty text for nothing (and for bytes Pack or PackStored did not make).
QString Unpack(const TPackedText& packed);
// The body of a page packed with PackStored, as it was given, into `body` (whose room is used
// again); false for any other packed text.
bool UnpackStored(const TPackedText& packed, QByteArray& body);
} // namespace PackedText

// Packs many texts one after another into shared blocks of memory (a table's pages as it loads),
// written in place: no page is copied after it is packed, and the memory is taken from the system
// a block at a time (see TMemoryBlock). One thread at a time.
class TPackedTextBlocks {
  public:
    TPackedTextBlocks();
    ~TPackedTextBlocks();
    TPackedTextBlocks(const TPackedTextBlocks&) = delete;
    TPackedTextBlocks& operator=(const TPackedTextBlocks&) = delete;

    TPackedText Pack(QStringView text);
    TPackedText PackStored(QByteArrayView storedJsonString);

  private:
    TPackedText pack(char kind, const char* data, size_t size);
    // Room for `bytes` in the current block (a new block when it has none); nullptr when a text
    // that large is better packed on its own.
    char* room(size_t bytes);
    TPackedText take(size_t bytes); // the `bytes` just written at room()'s place
    void closeBlock();
    std::shared_ptr<TMemoryBlock> m_block;
    size_t m_used = 0;
};
