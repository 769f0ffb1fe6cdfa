#include "base/commatext.h"
#include "table/itemtable.h"

#include <benchmark/benchmark.h>

// Appending item rows the way a scraper does: numbered, marked, a page-sized html cell and a
// handful of attribute columns.
static void BM_AppendRows(benchmark::State& state) {
    const QString page(300 * 1024, QLatin1Char('x'));
    for (auto _ : state) {
        TItemTable table;
        for (int i = 0; i < state.range(0); ++i)
            table.AppendRow([&](TRowWriter& row) {
                row.SetCell(ColTitle, QStringLiteral("宝贝标题"));
                row.SetCell(ColHtml, page);
                row.WidenTo(ColFirstAttribute + 8);
                for (int a = 0; a < 8; ++a)
                    row.SetCell(ColFirstAttribute + a, QString::number(a));
            });
        benchmark::DoNotOptimize(table.RowCount());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_AppendRows)->Arg(1000);

static void BM_CommaTextRoundTrip(benchmark::State& state) {
    QStringList props;
    for (int i = 0; i < 40; ++i)
        props.append(QStringLiteral("品牌:某某 %1,\"款\"").arg(i));
    for (auto _ : state) {
        const QString text = ToCommaText(props);
        benchmark::DoNotOptimize(FromCommaText(text));
    }
}
BENCHMARK(BM_CommaTextRoundTrip);

BENCHMARK_MAIN();
