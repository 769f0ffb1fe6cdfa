// The table at scale: working folders of 1,000, 5,000 and 10,000 items (the shared corpus's item
// pages as their page cells, or a synthetic page without the corpus), used through the real
// tovrel-cli as a seller's scripts would:
// - `table` (load and print): its time beside the floor of deciphering and decoding the same file,
//   and its peak memory beside the table's UTF-16 text;
// - `list` beside `list` on an empty folder (a command on the links must not pay for the table);
// - a change and its save (`toggle 1`), after which `table` must read the saved file back.
// Each command runs as a process of its own; its peak memory is its own (the kernel's count for
// the child, whose parent, this program, never holds a table).

#include "benchtables.h"
#include "table/gridfile.h"
#include "table/itemtable.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <map>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QTemporaryDir& scratch() {
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tovrel-scale-XXXXXX"));
    return dir;
}

// A working folder holding a table of `items` items (none: an empty folder), made once per run in
// a child process; the table's UTF-16 text in MB is kept beside it.
struct TScaleFolder {
    QString path;
    double textMB = 0;
};

TScaleFolder scaleFolder(int items) {
    static std::map<int, TScaleFolder> folders;
    if (const auto it = folders.find(items); it != folders.end())
        return it->second;
    TScaleFolder folder;
    folder.path = scratch().filePath(QString::number(items));
    QDir().mkpath(folder.path);
    if (items > 0) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            return {};
        const pid_t child = fork();
        if (child == 0) {
            close(pipeFds[0]);
            TItemTable grid;
            FillBenchItems(grid, items);
            const double text = TableTextBytes(grid) / 1048576.0;
            const bool saved = bool(SaveGridToFile(grid, folder.path + QStringLiteral("/grid.db")));
            _exit(saved && write(pipeFds[1], &text, sizeof text) == sizeof text ? 0 : 1);
        }
        close(pipeFds[1]);
        const bool read = ::read(pipeFds[0], &folder.textMB, sizeof folder.textMB) == sizeof folder.textMB;
        close(pipeFds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        if (!read || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return {};
    }
    folders[items] = folder;
    return folder;
}

// One run of tovrel-cli on a folder, its output thrown away.
struct TCliRun {
    bool ok = false;
    double seconds = 0;
    double peakMB = 0;
    QByteArray out;
};

TCliRun runCli(const QString& folder, const QStringList& args, bool keepOutput = false) {
    TCliRun run;
    QTemporaryDir outDir;
    const QByteArray outFile = QFile::encodeName(outDir.filePath(QStringLiteral("out")));
    QList<QByteArray> argv{QByteArrayLiteral(TOVREL_CLI_PATH), QByteArrayLiteral("--workdir"),
                           QFile::encodeName(folder)};
    for (const QString& a : args)
        argv.append(a.toUtf8());
    std::vector<char*> pointers;
    for (QByteArray& a : argv)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    const pid_t child = fork();
    if (child == 0) {
        const int out =
            ::open(keepOutput ? outFile.constData() : "/dev/null", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = ::open("/dev/null", O_WRONLY);
        dup2(out, 1);
        dup2(null, 2);
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child)
        return run;
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    run.peakMB = usage.ru_maxrss / 1024.0;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (keepOutput) {
        QFile file(QString::fromLocal8Bit(outFile));
        if (file.open(QIODevice::ReadOnly))
            run.out = file.readAll();
    }
    return run;
}

void BM_ScaleTable(benchmark::State& state) {
    const TScaleFolder folder = scaleFolder(int(state.range(0)));
    if (folder.path.isEmpty()) {
        state.SkipWithError("the table could not be made");
        return;
    }
    double peak = 0;
    for (auto _ : state) {
        const TCliRun run = runCli(folder.path, {QStringLiteral("table")});
        if (!run.ok)
            state.SkipWithError("table failed");
        state.SetIterationTime(run.seconds);
        peak = run.peakMB;
    }
    state.counters["peak_MB"] = peak;
    state.counters["text_MB"] = folder.textMB;
    state.counters["file_MB"] = QFileInfo(folder.path + QStringLiteral("/grid.db")).size() / 1e6;
}

// The floor of `table`: the same file read, deciphered and decoded into UTF-16 text.
void BM_ScaleFloor(benchmark::State& state) {
    const TScaleFolder folder = scaleFolder(int(state.range(0)));
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        if (FloorReadDeciphered(folder.path + QStringLiteral("/grid.db"), true) <= 0)
            state.SkipWithError("the file could not be read");
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    }
}

void BM_ScaleList(benchmark::State& state) {
    const TScaleFolder folder = scaleFolder(int(state.range(0)));
    for (auto _ : state) {
        const TCliRun run = runCli(folder.path, {QStringLiteral("list")});
        if (!run.ok)
            state.SkipWithError("list failed");
        state.SetIterationTime(run.seconds);
    }
}

// A change and its save, then the saved table read back whole.
void BM_ScaleChangeSave(benchmark::State& state) {
    const int items = int(state.range(0));
    const TScaleFolder folder = scaleFolder(items);
    for (auto _ : state) {
        const TCliRun run = runCli(folder.path, {QStringLiteral("toggle"), QStringLiteral("1")});
        if (!run.ok)
            state.SkipWithError("toggle failed");
        state.SetIterationTime(run.seconds);
    }
    const TCliRun back = runCli(folder.path, {QStringLiteral("table")}, true);
    if (!back.ok || back.out.count('\n') != items)
        state.SkipWithError("the saved table was not read back whole");
    state.counters["read_back"] = back.ok && back.out.count('\n') == items ? 1 : 0;
}

} // namespace

// Each size's floor right before its `table`, so that both read the file from the same cache
// state (the three folders together are larger than a small machine's page cache).
BENCHMARK(BM_ScaleFloor)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ScaleTable)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ScaleFloor)->Arg(5000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ScaleTable)->Arg(5000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ScaleFloor)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ScaleTable)->Arg(10000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ScaleList)->Arg(0)->Arg(1000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_ScaleChangeSave)
    ->Arg(1000)
    ->Arg(5000)
    ->Arg(10000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
