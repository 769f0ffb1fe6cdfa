// The grid file and the table's other whole-table paths:
// - saving and loading the table of 1,000 realistic items (the shared corpus's item pages as the
//   page cells, or a synthetic 300 KB page without the corpus), next to their floors: the same
//   plaintext enciphered, made hexadecimal, written and synced; the same file read, its
//   hexadecimal decoded, deciphered and decoded into text;
// - a wide table (the attribute columns of the corpus page with 5,685 attribute entries, 5,697
//   columns) against a narrow one of about the same size, per byte: load, save and `table --json`;
// (The load's peak memory is measured by bench_scale, on processes of their own.)

#include "base/ansi.h"
#include "base/cipher.h"
#include "base/commatext.h"
#include "benchtables.h"
#include "cli/clicommands.h"
#include "platform/memory.h"
#include "table/gridfile.h"
#include "table/gridjson.h"
#include "table/itemtable.h"
#include "web/httpclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <map>
#include <memory>

namespace {

void BM_SaveGrid(benchmark::State& state) {
    const TBenchTable shape = TBenchTable(state.range(0));
    const QString source = SavedBenchTable(shape);
    TItemTable grid;
    if (source.isEmpty() || !LoadGridFromFile(grid, source)) {
        state.SkipWithError("the table could not be made");
        return;
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("grid.db"));
    for (auto _ : state) {
        // Each save starts with nothing left to write from the one before; its own writing to the
        // disk (the save ends with the file on the disk) counts.
        state.PauseTiming();
        ::sync();
        state.ResumeTiming();
        if (!SaveGridToFile(grid, file))
            state.SkipWithError("the table could not be saved");
    }
    const qint64 bytes = QFileInfo(file).size();
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = bytes / 1e6;
    state.counters["columns"] = grid.ColCount();
}

void BM_LoadGrid(benchmark::State& state) {
    const QString file = SavedBenchTable(TBenchTable(state.range(0)));
    if (file.isEmpty()) {
        state.SkipWithError("the table could not be made");
        return;
    }
    int columns = 0;
    for (auto _ : state) {
        TItemTable grid;
        if (!LoadGridFromFile(grid, file))
            state.SkipWithError("the table could not be loaded");
        columns = grid.ColCount();
    }
    const qint64 bytes = QFileInfo(file).size();
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = bytes / 1e6;
    state.counters["columns"] = columns;
}

// `tovrel-cli table --json` on the saved table, printed to nowhere.
void BM_TableJson(benchmark::State& state) {
    const QString file = SavedBenchTable(TBenchTable(state.range(0)));
    QTemporaryDir dir;
    if (file.isEmpty() || !QFile::copy(file, dir.filePath(QStringLiteral("grid.db")))) {
        state.SkipWithError("the table could not be made");
        return;
    }
    for (auto _ : state) {
        QString out, err;
        QTextStream outStream(&out), errStream(&err);
        if (RunCli(
                {QStringLiteral("--workdir"), dir.path(), QStringLiteral("table"), QStringLiteral("--json")},
                outStream, errStream) != 0)
            state.SkipWithError("table --json failed");
        benchmark::DoNotOptimize(out.size());
    }
    state.SetBytesProcessed(state.iterations() * QFileInfo(file).size());
}

// The floors: the least any program must do to write or read the same grid file.
// - save: the same plaintext as the 1,000-item grid file enciphered (AES, as the file is) and made
//   hexadecimal by table, a piece at a time, written to a file and synced to the disk;
// - load: the saved file read a piece at a time, its hexadecimal decoded by table, deciphered, and
//   decoded from the code page into text (a table is text: no load can do less).
const QByteArray& floorPlaintext() {
    static const QByteArray plain = [] {
        TItemTable grid;
        if (!LoadGridFromFile(grid, SavedBenchTable(TBenchTable::Narrow)))
            return QByteArray();
        return TAnsi::Encode(GridToJson(grid.Snapshot(), grid.ColCount()));
    }();
    return plain;
}

void BM_FloorSave(benchmark::State& state) {
    const QByteArray& plain = floorPlaintext();
    QTemporaryDir dir;
    const QByteArray file = QFile::encodeName(dir.filePath(QStringLiteral("floor.db")));
    for (auto _ : state) {
        state.PauseTiming();
        ::sync();
        state.ResumeTiming();
        if (!FloorWriteEnciphered(file, plain))
            state.SkipWithError("the floor's file could not be written");
    }
    state.SetBytesProcessed(state.iterations() * plain.size() * 2);
    state.counters["file_MB"] = plain.size() * 2 / 1e6;
}

void BM_FloorLoad(benchmark::State& state) {
    const QString file = SavedBenchTable(TBenchTable::Narrow);
    for (auto _ : state)
        if (FloorReadDeciphered(file, true) <= 0)
            state.SkipWithError("the floor's file could not be read");
    const qint64 bytes = QFileInfo(file).size();
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = bytes / 1e6;
}

} // namespace

// The floors first, while the machine is quiet (a save leaves the system writing for a while).
// Loads and saves go through the disk, whose speed on a virtual machine swings by a factor of three
// from one save to the next: each figure (and its floor alike) is the median of seven runs.
static void medianOfSeven(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7)->ReportAggregatesOnly();
}
BENCHMARK(BM_FloorSave)->Apply(medianOfSeven);
BENCHMARK(BM_FloorLoad)->Apply(medianOfSeven);
// 0 = the 1,000-item table, 1 = the wide table (201 rows, 5,697 columns), 2 = a narrow table of the
// wide one's size.
BENCHMARK(BM_LoadGrid)->Arg(0)->Arg(1)->Arg(2)->Apply(medianOfSeven);
BENCHMARK(BM_SaveGrid)->Arg(0)->Arg(1)->Arg(2)->Apply(medianOfSeven);
BENCHMARK(BM_TableJson)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    TMemory::SuitLargeTexts(); // as the program does
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
