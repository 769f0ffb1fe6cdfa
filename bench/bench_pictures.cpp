// DrawWatermark on an 800 × 800 JPEG, side by side with ImageMagick's convert drawing the same
// text and writing a quality-100 JPEG (when `convert` is installed); and the picture download of
// one item with 200 pictures from the local marketplace simulator (wall time and peak memory).

#include "benchtables.h"
#include "config/servicevalues.h"
#include "marketsim.h"

#include "app/appcore.h"
#include "pictures/picturedownload.h"
#include "pictures/watermark.h"
#include "platform/paths.h"
#include "table/itemtable.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

namespace {

QByteArray photo(int size) {
    QImage image(size, size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size, size);
    gradient.setColorAt(0, QColor(200, 120, 40));
    gradient.setColorAt(1, QColor(30, 90, 180));
    painter.fillRect(image.rect(), gradient);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return bytes;
}

QTemporaryDir& scratch() {
    static QTemporaryDir dir;
    return dir;
}

void BM_DrawWatermark(benchmark::State& state) {
    const QByteArray bytes = photo(800);
    const QString out = scratch().filePath(QStringLiteral("ours.jpg"));
    for (auto _ : state)
        if (!DrawWatermark(QStringLiteral("Tovrel 小店专供"), out, bytes))
            state.SkipWithError("the watermarked picture could not be written");
}
BENCHMARK(BM_DrawWatermark)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

void BM_ImageMagickConvert(benchmark::State& state) {
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty()) {
        state.SkipWithError("ImageMagick's convert is not installed (apt-get install imagemagick)");
        return;
    }
    const QString in = scratch().filePath(QStringLiteral("in.jpg"));
    QFile file(in);
    file.open(QIODevice::WriteOnly);
    file.write(photo(800));
    file.close();
    const QString out = scratch().filePath(QStringLiteral("magick.jpg"));
    // The same drawing: bold 24-pixel Liberation Sans, a translucent black shadow one pixel right
    // and down, translucent white text, centred at the top; quality 100.
    const QStringList args = {in,
                              QStringLiteral("-font"),
                              QStringLiteral("Liberation-Sans-Bold"),
                              QStringLiteral("-pointsize"),
                              QStringLiteral("24"),
                              QStringLiteral("-gravity"),
                              QStringLiteral("north"),
                              QStringLiteral("-fill"),
                              QStringLiteral("#00000099"),
                              QStringLiteral("-annotate"),
                              QStringLiteral("+1+27"),
                              QStringLiteral("Tovrel 小店专供"),
                              QStringLiteral("-fill"),
                              QStringLiteral("#FFFFFF99"),
                              QStringLiteral("-annotate"),
                              QStringLiteral("+0+26"),
                              QStringLiteral("Tovrel 小店专供"),
                              QStringLiteral("-quality"),
                              QStringLiteral("100"),
                              out};
    for (auto _ : state) {
        QProcess process;
        process.start(convert, args);
        process.waitForFinished(60000);
    }
}
BENCHMARK(BM_ImageMagickConvert)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);

void BM_Download200Pictures(benchmark::State& state) {
    TMarketSim sim;
    TSimResponse picture;
    picture.Body = photo(400);
    QString description;
    for (int i = 0; i < 200; ++i) {
        sim.Route(QStringLiteral("img.example.com"), QStringLiteral("/p/%1.jpg").arg(i), picture);
        description += QStringLiteral("<img src=\"http://img.example.com/p/%1.jpg\">").arg(i);
    }
    qputenv("http_proxy", sim.Origin().toLatin1());
    QTemporaryDir dir;
    TPaths::SetWorkDir(dir.path());
    TAppCore core;
    if (!core.Startup().ok()) {
        state.SkipWithError("the working folder is in use");
        return;
    }
    core.Table()->AppendRow([&](TRowWriter& row) {
        row.SetCell(ColTitle, QStringLiteral("二百张图"));
        row.SetCell(ColDetail, description);
        row.SetCell(ColWatermark, QStringLiteral("小店"));
    });
    std::atomic<bool> stop{false};
    TSilentReporter reporter;
    const TJobContext job(stop, reporter, {}, TServiceValues::Snapshot());
    TTableChangeQueue changes(*core.Table());
    for (auto _ : state) {
        DownloadPictures(job, changes, core.Table()->SelectedRows(), dir.path(), false);
        changes.Drain();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = usage.ru_maxrss / 1024.0;
    state.counters["pictures"] = 200;
    qunsetenv("http_proxy");
}
BENCHMARK(BM_Download200Pictures)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
