// Throughput of the pattern operations with the program's stored patterns over real item pages
// (the shared corpus next to the project, when it is there) or a synthetic 300 KB page.

#include "web/httpclient.h"
#include "web/patterns.h"

#include <QDir>
#include <QFile>

#include <benchmark/benchmark.h>

namespace {

struct TPages {
    QStringList texts;
    qint64 bytes = 0; // as stored on disk
    bool real = false;
};

TPages syntheticPage() {
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
    return {{page}, qint64(page.size()) * 2, false};
}

const TPages& pages() {
    static const TPages loaded = [] {
        TPages p;
        const QDir dir(QStringLiteral(TOVREL_CORPUS_DIR "/taobao-item"));
        for (const QString& name : dir.entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QByteArray bytes = f.readAll();
            p.texts.append(TC::DecodeBody(bytes, QByteArray()));
            p.bytes += bytes.size();
        }
        p.real = !p.texts.isEmpty();
        return p.real ? p : syntheticPage();
    }();
    return loaded;
}

void runFindsStr(benchmark::State& state, const char* pattern) {
    const TPages& p = pages();
    const QString pat = QString::fromUtf8(pattern);
    for (auto _ : state)
        for (const QString& page : p.texts)
            benchmark::DoNotOptimize(TPatterns::FindsStr(pat, page, false));
    state.SetBytesProcessed(state.iterations() * p.bytes);
    state.SetLabel(p.real ? "corpus item pages" : "synthetic 300 KB page");
}

void runFindSList(benchmark::State& state, const char* pattern) {
    const TPages& p = pages();
    const QString pat = QString::fromUtf8(pattern);
    for (auto _ : state)
        for (const QString& page : p.texts)
            benchmark::DoNotOptimize(TPatterns::FindSList(pat, page, false));
    state.SetBytesProcessed(state.iterations() * p.bytes);
    state.SetLabel(p.real ? "corpus item pages" : "synthetic 300 KB page");
}

} // namespace

// The item scraper's and the export's first-capture patterns.
BENCHMARK_CAPTURE(runFindsStr, title, "<title>([^-淘宝网<]*)");
BENCHMARK_CAPTURE(runFindsStr, price, "<em class=\"tb-rmb-num\">([^<]*)");
BENCHMARK_CAPTURE(runFindsStr, descScript, "g_config.dynamicScript\\(\"([^\"]*)");
BENCHMARK_CAPTURE(runFindsStr, attributesBlock, "attributes-list\">([\\w\\W]+)</ul>");
BENCHMARK_CAPTURE(runFindsStr, categoryId, "data-catid=\"([^\"]*)");
BENCHMARK_CAPTURE(runFindsStr, quantity, "old_quantity=([^&]*)");
BENCHMARK_CAPTURE(runFindsStr, saleDataUrl, "\"wholeSibUrl\":\"([^\"]*)");
// Their every-match patterns.
BENCHMARK_CAPTURE(runFindSList, titleAttributes, "title=\"([^\"]*)");
BENCHMARK_CAPTURE(runFindSList, attributeEntries, "\">([^<]*)");
BENCHMARK_CAPTURE(runFindSList, saleProperties, "<li data-value=\"([^\"]*)");

BENCHMARK_MAIN();
