// The grid file and the table's other whole-table paths:
// - saving and loading the table of 1,000 realistic items (the shared corpus's item pages as the
//   page cells, or a synthetic 300 KB page without the corpus), next to their floor: the same
//   plaintext bytes enciphered and hex-coded in memory with OpenSSL, nothing else;
// - a wide table (the attribute columns of the corpus page with 5,685 attribute entries, 5,697
//   columns) against a narrow one of about the same size, per byte: load, save and `table --json`;
// - the load's peak memory against the loaded table's UTF-16 text (BM_LoadPeakMemory), measured
//   in child processes so that nothing else this program did counts.

#include "base/ansi.h"
#include "base/cipher.h"
#include "base/commatext.h"
#include "benchtables.h"
#include "cli/clicommands.h"
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
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

// The floor: the same plaintext as the 1,000-item grid file, enciphered and hex-coded (and the
// reverse) in memory with nothing else.
const QByteArray& floorPlaintext() {
    static const QByteArray plain = [] {
        TItemTable grid;
        if (!LoadGridFromFile(grid, SavedBenchTable(TBenchTable::Narrow)))
            return QByteArray();
        return TAnsi::Encode(GridToJson(grid.Snapshot(), grid.ColCount()));
    }();
    return plain;
}

QByteArray floorEncipher(const QByteArray& plain) {
    static const char Hex[] = "0123456789ABCDEF";
    QByteArray padded = plain;
    padded.append((16 - padded.size() % 16) % 16, '\0');
    QByteArray blocks(padded.size(), '\0');
    const unsigned char key[16] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int written = 0;
    EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, reinterpret_cast<uchar*>(blocks.data()), &written,
                      reinterpret_cast<const uchar*>(padded.constData()), int(padded.size()));
    EVP_CIPHER_CTX_free(ctx);
    QByteArray hex(blocks.size() * 2, '\0');
    char* to = hex.data();
    for (const char c : blocks) {
        *to++ = Hex[uchar(c) >> 4];
        *to++ = Hex[uchar(c) & 15];
    }
    return hex;
}

void BM_FloorEncipher(benchmark::State& state) {
    const QByteArray& plain = floorPlaintext();
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray hex = floorEncipher(plain);
        bytes = hex.size();
        benchmark::DoNotOptimize(hex.constData());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = bytes / 1e6;
}

void BM_FloorDecipher(benchmark::State& state) {
    const QByteArray hex = floorEncipher(floorPlaintext());
    for (auto _ : state) {
        QByteArray blocks(hex.size() / 2, '\0');
        const char* from = hex.constData();
        auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
        for (qsizetype i = 0; i < blocks.size(); ++i)
            blocks[i] = char(digit(from[2 * i]) << 4 | digit(from[2 * i + 1]));
        QByteArray plain(blocks.size(), '\0');
        const unsigned char key[16] = {};
        EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
        int written = 0;
        EVP_DecryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key, nullptr);
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_DecryptUpdate(ctx, reinterpret_cast<uchar*>(plain.data()), &written,
                          reinterpret_cast<const uchar*>(blocks.constData()), int(blocks.size()));
        EVP_CIPHER_CTX_free(ctx);
        benchmark::DoNotOptimize(plain.constData());
    }
    state.SetBytesProcessed(state.iterations() * hex.size());
    state.counters["file_MB"] = hex.size() / 1e6;
}

// The load's peak memory over the loaded table's UTF-16 text, in a child process that does nothing
// else.
void BM_LoadPeakMemory(benchmark::State& state) {
    const QString file = SavedBenchTable(TBenchTable(state.range(0)));
    double ratio = 0, peak = 0, text = 0;
    for (auto _ : state) {
        int pipeFds[2];
        if (file.isEmpty() || pipe(pipeFds) != 0) {
            state.SkipWithError("no table or no pipe");
            return;
        }
        const pid_t child = fork();
        if (child == 0) {
            close(pipeFds[0]);
            const double before = PeakMegabytes();
            TItemTable grid;
            const bool loaded = bool(LoadGridFromFile(grid, file));
            const double figures[2] = {PeakMegabytes() - before, TableTextBytes(grid) / 1048576.0};
            if (!loaded || write(pipeFds[1], figures, sizeof figures) != sizeof figures)
                _exit(1);
            _exit(0);
        }
        close(pipeFds[1]);
        double figures[2] = {0, 0};
        const bool read = ::read(pipeFds[0], figures, sizeof figures) == sizeof figures;
        close(pipeFds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (!read || figures[1] <= 0) {
            state.SkipWithError("the child could not load the table");
            return;
        }
        peak = figures[0];
        text = figures[1];
        ratio = peak / text;
    }
    state.counters["peak_growth_MB"] = peak;
    state.counters["text_MB"] = text;
    state.counters["peak_over_text"] = ratio;
}

} // namespace

// The floors first, while the machine is quiet (a save leaves the system writing for a while).
// Loads and saves go through the disk, whose speed on a virtual machine swings by a factor of three
// from one save to the next: each figure (and its floor alike) is the median of seven runs.
static void medianOfSeven(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(7)->ReportAggregatesOnly();
}
BENCHMARK(BM_FloorEncipher)->Apply(medianOfSeven);
BENCHMARK(BM_FloorDecipher)->Apply(medianOfSeven);
// 0 = the 1,000-item table, 1 = the wide table (201 rows, 5,697 columns), 2 = a narrow table of the
// wide one's size.
BENCHMARK(BM_LoadGrid)->Arg(0)->Arg(1)->Arg(2)->Apply(medianOfSeven);
BENCHMARK(BM_SaveGrid)->Arg(0)->Arg(1)->Arg(2)->Apply(medianOfSeven);
BENCHMARK(BM_TableJson)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadPeakMemory)->Arg(0)->Iterations(1);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
