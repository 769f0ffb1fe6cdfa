// The search against the local marketplace simulator, reached as an HTTP proxy, next to curl
// fetching the same pages through the same server:
// - the per-link search (data source 拍拍) over N links, until the last row is in (the save is no
//   part of it), beside `curl --parallel --parallel-max 16`;
// - the Taobao search over N links, less its 100 ms pause after each link, beside curl fetching the
//   same pages one after another;
// - the per-link search's peak memory beyond what stays when it has ended (the rows it added), for
//   100 and 200 links (flat when it does not grow with the number of links).
// The pages are the shared corpus's item pages (or one synthetic page), each served at many
// addresses.

#include "benchtables.h"
#include "config/servicevalues.h"
#include "marketsim.h"

#include "acquire/taobaoitem.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "table/itemtable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

// The simulator with N item pages, http_proxy pointing at it, and a working folder whose
// service.ini keeps to the simulator's hosts.
struct TSearchSite {
    TMarketSim sim;
    QTemporaryDir dir;
    QStringList links;

    explicit TSearchSite(int count) {
        const QStringList pages = BenchPages();
        for (int i = 0; i < count; ++i) {
            const QString path = QStringLiteral("/item.htm?id=%1").arg(500000 + i);
            // Served as the real server sends them: GBK, declared.
            sim.Route(QStringLiteral("item.taobao.com"), path,
                      TSimResponse::Text(pages[i % pages.size()], QByteArrayLiteral("GBK")));
            links.append(QStringLiteral("http://item.taobao.com") + path);
        }
        qputenv("http_proxy", sim.Origin().toUtf8());
        qunsetenv("no_proxy");
        QFile ini(dir.filePath(QStringLiteral("service.ini")));
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[service]\nHead=http://\n");
        ini.close();
        TPaths::SetWorkDir(dir.path());
    }
};

TChoices noChoices() {
    return TChoices();
}

void BM_PerLinkSearch(benchmark::State& state) {
    TSearchSite site(int(state.range(0)));
    TSilentReporter reporter;
    std::atomic<bool> stop{false};
    int rows = 0;
    for (auto _ : state) {
        TItemTable grid;
        TTableChangeQueue changes(grid);
        const TJobContext job(stop, reporter, noChoices, TServiceValues::Snapshot());
        benchmark::DoNotOptimize(
            InsertTaoBaoUrlsPerLink(job, changes, site.links, QStringLiteral("http://"), QString()));
        changes.Drain();
        rows = grid.RowCount() - 1;
    }
    state.counters["rows"] = rows;
    state.counters["links"] = double(site.links.size());
}

void BM_TaobaoSearchBeyondPauses(benchmark::State& state) {
    TSearchSite site(int(state.range(0)));
    TSilentReporter reporter;
    std::atomic<bool> stop{false};
    int rows = 0;
    for (auto _ : state) {
        TItemTable grid;
        TTableChangeQueue changes(grid);
        const TJobContext job(stop, reporter, noChoices, TServiceValues::Snapshot());
        QElapsedTimer clock;
        clock.start();
        benchmark::DoNotOptimize(InsertTaoBaoUrls(job, changes, site.links));
        changes.Drain();
        // The pause after each link is the program's courtesy to the server, not work.
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9 - 0.1 * double(site.links.size()));
        rows = grid.RowCount() - 1;
    }
    state.counters["rows"] = rows;
}

// curl fetching the same pages through the same server: in parallel (16 at a time) or one after
// another.
void runCurl(benchmark::State& state, bool parallel) {
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        state.SkipWithError("curl is not installed");
        return;
    }
    TSearchSite site(int(state.range(0)));
    QStringList args{QStringLiteral("--silent"), QStringLiteral("--proxy"), site.sim.Origin()};
    if (parallel)
        args << QStringLiteral("--parallel") << QStringLiteral("--parallel-immediate")
             << QStringLiteral("--parallel-max") << QStringLiteral("16");
    for (const QString& link : site.links)
        args << QStringLiteral("-o") << QStringLiteral("/dev/null") << link;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        QProcess process;
        process.start(curl, args);
        if (!process.waitForFinished(600000) || process.exitCode() != 0)
            state.SkipWithError("curl failed");
        state.SetIterationTime(double(clock.nsecsElapsed()) / 1e9);
    }
}

void BM_CurlParallel(benchmark::State& state) {
    runCurl(state, true);
}

void BM_CurlSequential(benchmark::State& state) {
    runCurl(state, false);
}

// The per-link search's peak memory beyond what stays when it has ended (the rows it added),
// measured by a fresh run of this program (no threads of earlier benchmarks, a peak of its own):
// it prints its two figures.
constexpr const char* MemoryRunVariable = "TOVREL_BENCH_SEARCH_MEMORY";

int measureMemory(int links) {
    TSearchSite site(links);
    TSilentReporter reporter;
    std::atomic<bool> stop{false};
    TItemTable grid;
    const double before = LiveMegabytes();
    const TJobContext job(stop, reporter, noChoices, TServiceValues::Snapshot());
    TTableChangeQueue changes(grid);
    // As in the program: the search runs on a thread of its own while the table's thread takes
    // the rows in as they come.
    std::atomic<bool> done{false};
    std::thread search([&] {
        InsertTaoBaoUrlsPerLink(job, changes, site.links, QStringLiteral("http://"), QString());
        done = true;
    });
    while (!done) {
        changes.Drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    search.join();
    changes.Drain();
    // What stays after the search is the rows (and the program's own caches); the rest of the peak
    // was the search's working memory.
    std::printf("%f %f\n", PeakMegabytes() - before, LiveMegabytes() - before);
    return grid.RowCount() - 1 == links ? 0 : 1;
}

void BM_PerLinkSearchMemory(benchmark::State& state) {
    // The search's working memory at its peak depends on how many links happen to be at their
    // largest at once: each figure is the run with the median of five measuring runs.
    constexpr int Runs = 5;
    struct TRun {
        double growth = 0, text = 0;
    };
    std::vector<TRun> runs;
    for (auto _ : state) {
        for (int r = 0; r < Runs; ++r) {
            QProcess run;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QString::fromLatin1(MemoryRunVariable), QString::number(state.range(0)));
            run.setProcessEnvironment(env);
            run.start(QCoreApplication::applicationFilePath(), {});
            const QList<QByteArray> figures = run.waitForFinished(600000) && run.exitCode() == 0
                                                  ? run.readAllStandardOutput().trimmed().split(' ')
                                                  : QList<QByteArray>();
            if (figures.size() != 2) {
                state.SkipWithError("the measuring run failed");
                return;
            }
            runs.push_back({figures[0].toDouble(), figures[1].toDouble()});
        }
    }
    std::sort(runs.begin(), runs.end(),
              [](const TRun& a, const TRun& b) { return a.growth - a.text < b.growth - b.text; });
    const TRun& median = runs[runs.size() / 2];
    state.counters["peak_growth_MB"] = median.growth;
    state.counters["rows_MB"] = median.text;
    state.counters["beyond_rows_MB"] = median.growth - median.text;
}

} // namespace

BENCHMARK(BM_PerLinkSearch)->Arg(200)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_CurlParallel)->Arg(200)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TaobaoSearchBeyondPauses)
    ->Arg(50)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);
BENCHMARK(BM_CurlSequential)->Arg(50)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PerLinkSearchMemory)->Arg(100)->Arg(200)->Iterations(1);

int main(int argc, char** argv) {
    TMemory::SuitLargeTexts(); // as the program does
    QCoreApplication app(argc, argv);
    if (const int links = qEnvironmentVariableIntValue(MemoryRunVariable); links > 0)
        return measureMemory(links);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
