#pragma once

#include <QByteArray>
#include <QString>

// The workstation's ANSI code page as the program's files and the publisher's text files use it:
// code page 936 (GBK), the code page of the Chinese-language systems the program serves.
namespace TAnsi {

QString Decode(const QByteArray& bytes);
// A character the code page cannot hold becomes "?".
QByteArray Encode(const QString& text);
// Whether the code page holds this UTF-16 unit, so that it survives Encode and Decode unchanged
// (never true for a surrogate: the code page holds no character beyond U+FFFF).
bool Holds(char16_t unit);

} // namespace TAnsi
