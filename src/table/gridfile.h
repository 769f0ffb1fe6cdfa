#pragma once

#include "base/result.h"

#include <QList>
#include <QString>
#include <QStringList>

class TItemTable;
class TLinkList;

// The files that keep the item table ("grid.db") and the link list ("listnew") between runs. Both
// hold the string cipher's hexadecimal text (128-bit key) of a plaintext in the ANSI code page:
// the table as a JSON array of row objects, the list as lines.

inline constexpr const char* GridKey = "pxvo";
// The link-list file's key: four ASCII letters, different from the grid file's.
inline constexpr const char* LinkListKey = "qlvn";

// The JSON text of a table: one object per row, members named by column index in the order of
// their name hash; ", \, / and U+0000 escaped, and characters the code page cannot hold written as
// \u escapes (surrogate pairs beyond U+FFFF).
QString GridToJson(const QList<QStringList>& rows, int colCount);
// Reads the rows of the JSON text from its bytes in the ANSI code page; accepts raw control
// characters inside strings. Fails (TErrc::Damaged) when the text is no JSON array whose first
// element is an object. Each row holds the cells of the first element's member count (at least the twelve
// fixed columns); `complete` is false when an element that is no object cut the rows short.
struct TGridJson {
    QList<QStringList> rows; // the rows read, in order
    int colCount = 0;
    int elementCount = 0; // the elements of the array (rows read or not)
    bool complete = true;
};
TResult<TGridJson> GridFromAnsiJson(const QByteArray& json);
// The same, the text handed to the reader in pieces of `pieceBytes` as a file's are (the file's
// pieces are large; any size reads the same table).
TResult<TGridJson> GridFromAnsiJsonPieces(const QByteArray& json, qsizetype pieceBytes);
// The order in which the members of a row object are written.
QList<int> GridMemberOrder(int colCount);

// Writes the whole table, replacing the file through a temporary file in the same folder, so a
// failed write leaves the previous file whole.
TStatus SaveGridToFile(const TItemTable& grid, const QString& FileName);
// Replaces the table from the file. On a failure the table keeps what it had reached (the reset
// table when nothing could be read) and the result says why (TErrc::Damaged, or TErrc::Io when the
// file cannot be opened).
TStatus LoadGridFromFile(TItemTable& grid, const QString& FileName);

// Writes the list; an empty list removes the file, so that it comes back empty.
TStatus SaveLinkListToFile(const TLinkList& list, const QString& FileName);
// Replaces the list from the file by the comma-text reading rules; a failure (a file that does not
// read cleanly: TErrc::Damaged) empties the list.
TStatus LoadLinkListFromFile(TLinkList& list, const QString& FileName);
