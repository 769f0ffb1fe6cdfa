// Saving and loading the table of 1,000 realistic items: the shared corpus's item pages as the
// page cells (or a synthetic 300 KB page without the corpus). Run each benchmark on its own
// (--benchmark_filter=Save or =Load) to read its peak memory: the figure is the process's.

#include "base/ansi.h"
#include "table/gridfile.h"
#include "table/itemtable.h"
#include "web/httpclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

QStringList pages() {
    QStringList texts;
    const QDir dir(QStringLiteral(TOVREL_CORPUS_DIR "/taobao-item"));
    for (const QString& name : dir.entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            texts.append(TC::DecodeBody(f.readAll(), QByteArray()));
    }
    if (texts.isEmpty())
        texts.append(QStringLiteral("<html><title>宝贝-淘宝网</title>") +
                     QStringLiteral("商品详情 ").repeated(30000));
    return texts;
}

void fillTable(TItemTable& grid) {
    const QStringList html = pages();
    for (int i = 0; i < 1000; ++i)
        grid.AppendRow([&](TRowWriter& row) {
            row.SetCell(ColTitle, QStringLiteral("2015春夏新款女装连衣裙 %1").arg(i));
            row.SetCell(ColCategory, QStringLiteral("女装/女士精品,连衣裙"));
            row.SetCell(ColPrice, QStringLiteral("168.00"));
            row.SetCell(ColDelivery, QStringLiteral("浙江杭州-北京;快递 10.00;3天"));
            row.SetCell(ColDetail,
                        QStringLiteral("<p><img src=\"http://img.alicdn.com/imgextra/i1/1/TB2.jpg\"></p>"));
            row.SetCell(ColHtml, html[i % html.size()]);
            row.SetCell(ColProps, QStringLiteral("\"品牌: 其他\",\"材质: 棉\""));
            row.SetCell(ColLink,
                        QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(41234567890LL + i));
            row.SetCell(ColWatermark, QStringLiteral("小店专供"));
            row.WidenTo(15);
            row.SetCell(12, QStringLiteral(" 其他"));
        });
}

double peakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void BM_SaveGrid(benchmark::State& state) {
    QTemporaryDir dir;
    TItemTable grid;
    fillTable(grid);
    const QString file = dir.filePath(QStringLiteral("grid.db"));
    for (auto _ : state)
        if (!SaveGridToFile(grid, file))
            state.SkipWithError("the table could not be saved");
    const qint64 bytes = QFileInfo(file).size();
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = bytes / 1048576.0;
    state.counters["peak_rss_MB"] = peakMegabytes();
}
BENCHMARK(BM_SaveGrid)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoadGrid(benchmark::State& state) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("grid.db"));
    {
        TItemTable grid;
        fillTable(grid);
        if (!SaveGridToFile(grid, file)) {
            state.SkipWithError("the table could not be saved");
            return;
        }
    }
    const double before = peakMegabytes();
    for (auto _ : state) {
        TItemTable grid;
        if (!LoadGridFromFile(grid, file))
            state.SkipWithError("the table could not be loaded");
        benchmark::DoNotOptimize(grid.RowCount());
    }
    const qint64 bytes = QFileInfo(file).size();
    state.SetBytesProcessed(state.iterations() * bytes);
    state.counters["file_MB"] = bytes / 1048576.0;
    state.counters["peak_rss_MB"] = peakMegabytes();
    state.counters["peak_before_MB"] = before;
}
BENCHMARK(BM_LoadGrid)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
