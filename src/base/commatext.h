#pragma once

#include <QString>
#include <QStringList>

// The comma-text form: the one way a list of texts is kept in one text (the category and
// attribute cells of the item table, and the link-list file).
//
// Writing joins the entries with ","; an entry holding a character U+0001..U+0020, a double
// quote or a comma is put in double quotes with inner quotes doubled. A list of exactly one
// empty entry is written as two double quotes.
QString ToCommaText(const QStringList& entries);

// Reading is looser than writing: besides commas, spaces, tabs and line breaks outside quotes
// also separate entries, two commas in a row give an empty entry, and a comma as the very last
// character gives a final empty entry. A U+0000 character ends the text.
QStringList FromCommaText(const QString& text);
