#pragma once

#include "base/result.h"

#include <QList>
#include <QString>
#include <QStringList>

class TItemTable;
class TLinkList;

// The files that keep the item table ("grid.db") and the link list ("listnew") between runs. Both
// hold the string cipher's hexadecimal text (128-bit key) of a plaintext in the ANSI code page:
// the table as a JSON array of row objects (see gridjson.h), the list as lines.

inline constexpr const char* GridKey = "pxvo";
// The link-list file's key: four ASCII letters, different from the grid file's.
inline constexpr const char* LinkListKey = "qlvn";

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
