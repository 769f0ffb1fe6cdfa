// The jobs a seller waits for, over a network: the marketplace simulator answers every request
// after 50 ms, as a server a few hundred kilometres away would. Each job is measured beside curl
// making the very requests the job made (recorded from a first run), through the same simulator:
// - the export of 100 items (sale data, properties and 5 pictures each) beside curl fetching them
//   8 at a time;
// - the Taobao search of 20 links, less its 100 ms pause after each link, beside curl fetching
//   the same pages, postage and descriptions one after another;
// - the picture download of 20 items with 5 pictures each beside curl fetching them 8 at a time.

#include "benchtables.h"
#include "config/servicevalues.h"
#include "marketsim.h"
#include "taobaopages.h"

#include "acquire/taobaoitem.h"
#include "export/csvexport.h"
#include "pictures/picturedownload.h"
#include "platform/paths.h"
#include "table/itemtable.h"
#include "web/pagecache.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <benchmark/benchmark.h>

namespace {

constexpr int LatencyMs = 50;

TChoices noChoices() {
    return TChoices();
}

// A JPEG of about 30 KB.
QByteArray pictureBytes(int seed) {
    QImage image(160, 160, QImage::Format_RGB32);
    QRandomGenerator random(quint32(seed + 1));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, random.generate());
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

// The simulator reached as the proxy of every request, answering after LatencyMs, and a working
// folder whose service.ini keeps to the simulator's hosts.
struct TLatencySite {
    TMarketSim sim;
    QTemporaryDir dir;

    TLatencySite() {
        qputenv("http_proxy", sim.Origin().toUtf8());
        qunsetenv("no_proxy");
        QFile ini(dir.filePath(QStringLiteral("service.ini")));
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[service]\nHead=http://\n");
        ini.close();
        TPaths::SetWorkDir(dir.path());
    }
    void route(const QString& host, const QString& path, TSimResponse response) {
        response.DelayMs = LatencyMs;
        sim.Route(host, path, response);
    }
    void routeText(const QString& host, const QString& path, const QString& text) {
        route(host, path, TSimResponse::Text(text, QByteArrayLiteral("GBK")));
    }
    void routePicture(const QString& host, const QString& path, int seed) {
        route(host, path, TSimResponse{200, {{"Content-Type", "image/jpeg"}}, pictureBytes(seed)});
    }
    // The absolute addresses of the requests made since the last call.
    QStringList takeRequests() {
        QStringList targets;
        for (const TSimRequest& r : sim.Requests())
            targets.append(QString::fromUtf8(r.Target));
        sim.ClearRequests();
        return targets;
    }
};

// curl fetching `targets` through the simulator: `parallel` at a time (1: one after another).
// Returns the seconds it took, or a negative number when it failed.
double curlSeconds(const TLatencySite& site, const QStringList& targets, int parallel) {
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty() || targets.isEmpty())
        return -1;
    QStringList args{QStringLiteral("--silent"), QStringLiteral("--proxy"), site.sim.Origin()};
    if (parallel > 1)
        args << QStringLiteral("--parallel") << QStringLiteral("--parallel-immediate")
             << QStringLiteral("--parallel-max") << QString::number(parallel);
    for (const QString& target : targets)
        args << QStringLiteral("-o") << QStringLiteral("/dev/null") << target;
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(curl, args);
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return -1;
    return double(clock.nsecsElapsed()) / 1e9;
}

// curl making the requests the site's job has just made (its first run), `parallel` at a time,
// once per iteration.
void replayWithCurl(benchmark::State& state, TLatencySite& site, int parallel) {
    const QStringList targets = site.takeRequests();
    for (auto _ : state) {
        const double seconds = curlSeconds(site, targets, parallel);
        if (seconds < 0)
            state.SkipWithError("curl failed or is not installed");
        state.SetIterationTime(std::max(seconds, 0.0));
    }
    state.counters["requests"] = double(targets.size());
}

// --- The export ---

struct TExportSite : TLatencySite {
    TItemTable grid;
    explicit TExportSite(int items) {
        for (int id = 1; id <= items; ++id) {
            // Each item in a category of its own, so each asks for its properties.
            const QString cid = QString::number(50010000 + id);
            QString page =
                QStringLiteral("<html><head><title>商品%1-淘宝网</title></head><body>"
                               "<div data-catid=\"%2\"></div>"
                               "<a href=\"x?old_quantity=25&amp;y\"></a><script>var c={\"wholeSibUrl\":"
                               "\"http://detailskip.taobao.com/json/sib.htm?itemId=%1\"};</script>")
                    .arg(id)
                    .arg(cid);
            for (int n = 1; n <= 5; ++n) {
                page += QStringLiteral("<img data-src=\"http://img.example/p/%1_%2.jpg\">").arg(id).arg(n);
                routePicture(QStringLiteral("img.example"), QStringLiteral("/p/%1_%2.jpg").arg(id).arg(n),
                             id * 10 + n);
            }
            page += QStringLiteral("</body></html>");
            routeText(QStringLiteral("detailskip.taobao.com"),
                      QStringLiteral("/json/sib.htm?itemId=%1").arg(id),
                      QStringLiteral(
                          "{\"sendCity\":\"浙江杭州\",\"skuMap\":{\";1627207:28341;\":{\"stock\":\"5\"}}}"));
            routeText(
                QStringLiteral("open.taobao.com"),
                QStringLiteral("/apitools/ajax_props.do?act=props&cid=") + cid,
                QStringLiteral("{\"item_prop\":[{\"name\":\"品牌\",\"pid\":20000}],\"prop_value\":[{\"name\":"
                               "\"李宁\",\"pid\":20000,\"vid\":3227292}]}"));
            grid.AppendRow([&](TRowWriter& row) {
                row.SetCell(ColTitle, QStringLiteral("商品%1").arg(id));
                row.SetCell(ColPrice, QStringLiteral("99.00"));
                row.SetCell(ColHtml, page);
                row.SetCell(ColProps, QStringLiteral("品牌:李宁"));
            });
        }
    }
    // One export into a fresh folder with a fresh page cache; false when it did not finish well.
    bool exportOnce() {
        QTemporaryDir out;
        TPageCache cache(out.filePath(QStringLiteral("DB.MDB")), QByteArrayLiteral("bench"));
        if (!cache.initializeDB())
            return false;
        TExportJob job = ExportJobFor(out.path());
        job.rows = grid.SelectedRows();
        job.tableRowCount = grid.RowCount();
        TSilentReporter reporter;
        std::atomic<bool> stop{false};
        const TJobContext context(stop, reporter, noChoices, TServiceValues::Snapshot());
        return ExportCsv(context, job, &cache).Outcome == TJobOutcome::Done;
    }
};

void BM_ExportLatency(benchmark::State& state) {
    TExportSite site(int(state.range(0)));
    for (auto _ : state) {
        site.sim.ClearRequests();
        if (!site.exportOnce())
            state.SkipWithError("the export did not finish well");
    }
    state.counters["requests"] = double(site.takeRequests().size());
}

void BM_ExportCurlAnchor(benchmark::State& state) {
    TExportSite site(int(state.range(0)));
    if (!site.exportOnce()) {
        state.SkipWithError("the export did not finish well");
        return;
    }
    replayWithCurl(state, site, 8);
}

// --- The Taobao search ---

struct TSearchSite : TLatencySite {
    QStringList links;
    explicit TSearchSite(int count) {
        // A page of a real page's size: the item's markup and 200 KB of the rest of a page.
        const QString filler = QStringLiteral("<!-- ") + QStringLiteral("页面的其余部分 ").repeated(25000) +
                               QStringLiteral(" -->");
        for (int i = 0; i < count; ++i) {
            const QString id = QString::number(600000 + i);
            routeText(QStringLiteral("item.taobao.com"), QStringLiteral("/item.htm?id=") + id,
                      itemPage(id, QStringLiteral("宝贝") + id, {QStringLiteral("品牌:A")}) + filler);
            routeText(QStringLiteral("detailskip.taobao.com"),
                      QStringLiteral("/json/postageFee.htm?itemId=") + id +
                          QStringLiteral("&al=false&ap=false&ss=false&free=true"),
                      postageReply(QStringLiteral("浙江杭州")));
            routeText(DescriptionHost, descriptionPath(id), descriptionReply(QStringLiteral("<p>描述</p>")));
            links.append(QStringLiteral("http://item.taobao.com/item.htm?id=") + id);
        }
    }
    // The seconds of one search beyond its pauses; negative when a row is missing.
    double searchOnce() {
        TItemTable grid;
        TTableChangeQueue changes(grid);
        TSilentReporter reporter;
        std::atomic<bool> stop{false};
        const TJobContext job(stop, reporter, noChoices, TServiceValues::Snapshot());
        QElapsedTimer clock;
        clock.start();
        InsertTaoBaoUrls(job, changes, links);
        changes.Drain();
        const double seconds = double(clock.nsecsElapsed()) / 1e9 - 0.1 * double(links.size());
        return grid.RowCount() - 1 == links.size() && !grid.Cell(ColDelivery, 1).isEmpty() ? seconds : -1;
    }
};

void BM_TaobaoSearchLatency(benchmark::State& state) {
    TSearchSite site(int(state.range(0)));
    for (auto _ : state) {
        const double seconds = site.searchOnce();
        if (seconds < 0)
            state.SkipWithError("the search did not add every row whole");
        state.SetIterationTime(std::max(seconds, 0.0));
    }
}

void BM_TaobaoSearchCurlAnchor(benchmark::State& state) {
    TSearchSite site(int(state.range(0)));
    if (site.searchOnce() < 0) {
        state.SkipWithError("the search did not add every row whole");
        return;
    }
    replayWithCurl(state, site, 1);
}

// --- The picture download ---

struct TPictureSite : TLatencySite {
    TItemTable grid;
    QList<TRowCopy> rows; // the rows as each download starts from them
    explicit TPictureSite(int items) {
        for (int id = 1; id <= items; ++id) {
            QString description;
            for (int n = 1; n <= 5; ++n) {
                description += QStringLiteral("<img src=\"http://img.example/d/%1_%2.jpg\">").arg(id).arg(n);
                routePicture(QStringLiteral("img.example"), QStringLiteral("/d/%1_%2.jpg").arg(id).arg(n),
                             id * 10 + n);
            }
            grid.AppendRow([&](TRowWriter& row) {
                row.SetCell(ColTitle, QStringLiteral("图片商品%1").arg(id));
                row.SetCell(ColPrice, QStringLiteral("10.00"));
                row.SetCell(ColDetail, description);
            });
        }
        rows = grid.SelectedRows();
    }
    // One download of every row's pictures; what it writes back goes to a table of its own, so the
    // next download starts from the same rows.
    bool downloadOnce() {
        QTemporaryDir out;
        TItemTable written;
        TTableChangeQueue changes(written);
        TSilentReporter reporter;
        std::atomic<bool> stop{false};
        const TJobContext job(stop, reporter, noChoices, TServiceValues::Snapshot());
        const TJobResult result = DownloadPictures(job, changes, rows, out.path(), false);
        changes.Drain();
        return result.Outcome == TJobOutcome::Done && result.Count == 5 * rows.size();
    }
};

void BM_PicturesLatency(benchmark::State& state) {
    TPictureSite site(int(state.range(0)));
    for (auto _ : state)
        if (!site.downloadOnce())
            state.SkipWithError("the download did not save every picture");
}

void BM_PicturesCurlAnchor(benchmark::State& state) {
    TPictureSite site(int(state.range(0)));
    if (!site.downloadOnce()) {
        state.SkipWithError("the download did not finish well");
        return;
    }
    replayWithCurl(state, site, 8);
}

} // namespace

BENCHMARK(BM_ExportLatency)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExportCurlAnchor)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TaobaoSearchLatency)->Arg(20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_TaobaoSearchCurlAnchor)->Arg(20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PicturesLatency)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PicturesCurlAnchor)->Arg(20)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
