#pragma once

#include <QString>

class QTextStream;
class TItemTable;

// One line of plain output per cell text: tabs and line breaks inside a cell become spaces, and
// the other control characters (which a terminal would obey) are shown escaped as \xNN.
QString FlatText(const QString& text);

// Appends `text` as a JSON string: the quote, the backslash and the control characters escaped,
// and a surrogate without its partner (which UTF-8 cannot carry) as a \u escape.
void AppendJsonString(QString& out, const QString& text);

// The item table as `table` prints it: one line per item (number, selection mark, title, price,
// delivery), or with `json` every row, the caption row included, as a JSON array of arrays.
void PrintItemTable(const TItemTable& items, bool json, QTextStream& out);
