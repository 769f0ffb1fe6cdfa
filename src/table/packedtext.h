#pragma once

#include <QByteArray>
#include <QString>

// A text kept compressed in memory: an item's page (by far its largest cell, hundreds of kilobytes
// of markup) takes a fifth or less of its room that way, and is opened only when a job or a save
// needs it. Compressed with zstd at a fast level: packing must not slow a table's load much.
namespace PackedText {
// The text compressed, every UTF-16 unit kept (a lone surrogate too); the empty text packs to
// nothing. Throws std::bad_alloc when there is no memory for it.
QByteArray Pack(QStringView text);
// A page as the grid file stores it, packed without reading it: the body of its JSON string, in
// the code page's bytes with its escapes, checked already (StoredJsonStringText reads it). Loading a
// table so takes no decoding of its pages; a page is read when it is opened.
QByteArray PackStored(QByteArrayView storedJsonString);
// The text again; the empty text for nothing (and for bytes Pack or PackStored did not make).
QString Unpack(const QByteArray& packed);
} // namespace PackedText
