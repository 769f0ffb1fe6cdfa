#pragma once

#include <QByteArrayView>
#include <QStringView>

// Plain text searches over whole pages, sixteen bytes at a time where the processor allows.
namespace TPatterns {

// Where `word` first occurs in `text` (0 for the empty word), or -1.
qsizetype FindLiteral(QStringView text, QStringView word);
// Where `word` last occurs in `text` (the text's size for the empty word), or -1.
qsizetype FindLastLiteral(QStringView text, QStringView word);
// The same as FindLiteral for bytes (a page as it came, before it is decoded).
qsizetype FindBytes(QByteArrayView bytes, QByteArrayView word);

} // namespace TPatterns
