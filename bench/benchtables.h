#pragma once

// The tables the benchmarks work on, made the same way for each of them.

#include "base/job.h"

#include <QString>
#include <QStringList>

class TItemTable;

// The shared corpus's item pages, decoded as the program decodes them; none without the corpus.
QStringList CorpusItemPages();
// The shared corpus's item pages (or one synthetic 300 KB page without the corpus).
QStringList BenchPages();
// Appends `items` realistic items, their pages BenchPages in turn.
void FillBenchItems(TItemTable& grid, int items);

// The process's peak resident memory so far, in MB.
double PeakMegabytes();
// The table's text as UTF-16 bytes.
qint64 TableTextBytes(const TItemTable& grid);
// The process's resident memory now, in MB, after freed memory has been handed back to the system.
double LiveMegabytes();

enum class TBenchTable {
    Narrow,    // 1,000 realistic items (the corpus pages as their page cells)
    Wide,      // 201 items with the attribute columns of the widest corpus page: 5,697 columns
    WideSized, // narrow items making a file of the wide table's size
};
// A saved grid file of that table, made once per run (in a child process, so that the table never
// lived in this one); the empty text when it could not be made.
QString SavedBenchTable(TBenchTable table);

// The floors of the grid file's save and load, the least any program must do with the same bytes.
// Writes `plain` enciphered (AES, as the grid file is) and made hexadecimal by table, a piece at a
// time, to `file`, and syncs it to the disk; false when it could not.
bool FloorWriteEnciphered(const QByteArray& file, const QByteArray& plain);
// Reads `file` a piece at a time, decodes its hexadecimal by table and deciphers it; with `decode`
// also decodes the plaintext from the code page into UTF-16 text (with the program's own decoder,
// by table, the fastest there is). Returns the plaintext's size
// (0 when the file could not be read).
qint64 FloorReadDeciphered(const QString& file, bool decode);
