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
