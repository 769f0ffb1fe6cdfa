// Throughput of the pattern operations with the program's stored patterns (bench/patterns.txt)
// over real item pages (the shared corpus next to the project, when it is there) or a synthetic
// 300 KB page. Figures are MB/s of UTF-16 text, each page made ready for the patterns once, as the
// scrapers do; BM_AllPatterns is the figure compared with Python's re (patterns_anchor.py).

#include "benchtables.h"

#include "web/patterns.h"

#include <QFile>
#include <QTextStream>

#include <benchmark/benchmark.h>

#include <vector>

namespace {

struct TPages {
    std::vector<TPatterns::TPatternText> texts;
    qint64 utf16Bytes = 0;
    bool real = false;
};

QString syntheticPage() {
    QString page = QStringLiteral("<html><head><title>男装夹克2015新款-淘宝网</title></head><body>");
    page += QStringLiteral("<div class=\"tb-detail-hd\"><h1 data-catid=\"50010158\">夹克</h1></div>");
    page += QStringLiteral(
        "<em class=\"tb-rmb-num\">128.00</em><script>g_config.dynamicScript(\"//dsc.example/desc\")"
        "</script>");
    while (page.size() < 150 * 1024) // ~300 KB as UTF-16
        page += QStringLiteral(
            "<li data-value=\"1627207:28341\" title=\"红色\"><a href=\"#\"><span>红色</span></a></li>"
            "<p class=\"x\">商品详情 old_quantity=5&amp;</p>\n");
    page += QStringLiteral("<ul class=\"attributes-list\"><li title=\"棉\">面料: 棉</li></ul></body></html>");
    return page;
}

const TPages& pages() {
    static const TPages loaded = [] {
        TPages p;
        QStringList texts = CorpusItemPages();
        p.real = !texts.isEmpty();
        if (!p.real)
            texts.append(syntheticPage());
        for (const QString& text : texts) {
            p.texts.emplace_back(text);
            p.utf16Bytes += text.size() * 2;
        }
        return p;
    }();
    return loaded;
}

struct TStoredPattern {
    bool all = false; // every match ignoring case, else the first match
    QString pattern;
};

// The stored patterns, as bench/patterns.txt lists them.
const QList<TStoredPattern>& storedPatterns() {
    static const QList<TStoredPattern> list = [] {
        QList<TStoredPattern> out;
        QFile file(QStringLiteral(TOVREL_BENCH_DIR "/patterns.txt"));
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
            return out;
        QTextStream in(&file);
        in.setEncoding(QStringConverter::Utf8);
        while (!in.atEnd()) {
            const QString line = in.readLine();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const qsizetype tab = line.indexOf(QLatin1Char('\t'));
            if (tab > 0)
                out.append({line.left(tab) == u"all", line.mid(tab + 1)});
        }
        return out;
    }();
    return list;
}

// One stored pattern over one page, as the scrapers run it.
template <typename TPage> void runPattern(const TStoredPattern& sp, const TPage& page) {
    if (sp.all)
        benchmark::DoNotOptimize(TPatterns::FindSList(sp.pattern, page, false));
    else
        benchmark::DoNotOptimize(TPatterns::FindsStr(sp.pattern, page, false));
}

void label(benchmark::State& state, const TPages& p) {
    state.SetLabel(p.real ? "corpus item pages" : "synthetic 300 KB page");
}

// Each stored pattern over every page, one by one.
void BM_Pattern(benchmark::State& state) {
    const TPages& p = pages();
    if (state.range(0) >= storedPatterns().size()) {
        state.SkipWithError("bench/patterns.txt has no pattern of that number");
        return;
    }
    const TStoredPattern& sp = storedPatterns()[state.range(0)];
    for (auto _ : state)
        for (const TPatterns::TPatternText& page : p.texts)
            runPattern(sp, page);
    state.SetBytesProcessed(state.iterations() * p.utf16Bytes);
    state.SetLabel(sp.pattern.toStdString());
}

// Every stored pattern over every page: the bytes count once per pattern, as the anchor counts them.
void BM_AllPatterns(benchmark::State& state) {
    const TPages& p = pages();
    const QList<TStoredPattern>& list = storedPatterns();
    if (list.isEmpty()) {
        state.SkipWithError("bench/patterns.txt could not be read");
        return;
    }
    for (auto _ : state)
        for (const TPatterns::TPatternText& page : p.texts)
            for (const TStoredPattern& sp : list)
                runPattern(sp, page);
    state.SetBytesProcessed(state.iterations() * p.utf16Bytes * list.size());
    label(state, p);
}
BENCHMARK(BM_AllPatterns)->Unit(benchmark::kMillisecond);

// A page handed over as a QString is checked at each call: the cost the scrapers avoid.
void BM_AllPatternsUncheckedPages(benchmark::State& state) {
    const TPages& p = pages();
    const QList<TStoredPattern>& list = storedPatterns();
    for (auto _ : state)
        for (const TPatterns::TPatternText& page : p.texts) {
            const QString text = page.Text();
            for (const TStoredPattern& sp : list)
                runPattern(sp, text); // each call checks the text anew
        }
    state.SetBytesProcessed(state.iterations() * p.utf16Bytes * list.size());
    label(state, p);
}
BENCHMARK(BM_AllPatternsUncheckedPages)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK(BM_Pattern)->DenseRange(0, 9)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
