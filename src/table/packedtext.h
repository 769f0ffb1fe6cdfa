#pragma once

#include <QByteArray>
#include <QString>

// A text kept compressed in memory: an item's page (by far its largest cell, hundreds of kilobytes
// of markup) takes a fifth or less of its room that way, and is opened only when a job or a save
// needs it. Compressed with zstd at a fast level: packing must not slow a table's load much.
namespace PackedText {
// The text compressed (its UTF-8 in a zstd frame); the empty text packs to nothing.
QByteArray Pack(QStringView text);
// The text again; nothing for nothing (and for bytes that are no packed text, which never happens
// to what Pack made).
QString Unpack(const QByteArray& packed);
} // namespace PackedText
