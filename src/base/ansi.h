#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

// The workstation's ANSI code page as the program's files and the publisher's text files use it:
// code page 936 (GBK), the code page of the Chinese-language systems the program serves.
namespace TAnsi {

QString Decode(const QByteArray& bytes);
// A character the code page cannot hold becomes "?".
QByteArray Encode(const QString& text);
// Whether the code page holds this UTF-16 unit, so that it survives Encode and Decode unchanged
// (never true for a surrogate: the code page holds no character beyond U+FFFF).
bool Holds(char16_t unit);

// The code page's bytes for a unit it holds: one byte (returned below 0x100) or two (the lead byte
// in the high byte); 0xFFFF for a unit it does not hold. Each unit encodes on its own, so a text's
// encoding is its units' encodings one after another (what Encode gives for a text it can hold).
quint16 EncodedUnit(char16_t unit);

// Decodes `bytes` as Decode does when they are well-formed code-page text, by table (many times
// faster on large texts); false, with `out` undefined, when they hold a byte sequence the code page
// has no character for (Decode then decides what it becomes).
bool DecodeWellFormed(QByteArrayView bytes, QString& out);

// The code page's bytes for any text, losing nothing: each unit the code page holds as Encode
// gives it, every other character (an emoji, a letter of another script) as its four-byte
// GB18030 sequence (a lead byte followed by a digit, which no code-page character has). A text the
// code page holds gives the same bytes as Encode; an unpaired surrogate becomes "?".
QByteArray EncodeLossless(const QString& text);
// Reads what EncodeLossless writes, and any code-page text; false, with `out` undefined, on bytes
// that are neither.
bool DecodeLossless(QByteArrayView bytes, QString& out);

} // namespace TAnsi
