// How long the window takes to show its table: from the start of the table's load (the table
// announces its emptying first) to the window shown with the table page painted (the iteration
// time, timed by hand), and the part of it after the table's rows are in ("after_load_ms").

#include "app/appcore.h"
#include "benchtables.h"
#include "gui/mainwindow.h"
#include "gui/stringgridview.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "table/itemtable.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

namespace {

// A window that answers every question with "No" and opens nothing.
class TQuietWindow : public TFrMain {
  public:
    using TFrMain::TFrMain;

  protected:
    QMessageBox::StandardButton MessageBox(const QString&, const QString&, QMessageBox::StandardButtons,
                                           QMessageBox::Icon) override {
        return QMessageBox::No;
    }
};

void BM_WindowAfterLoad(benchmark::State& state) {
    const QString table = SavedBenchTable(TBenchTable(state.range(0)));
    if (table.isEmpty()) {
        state.SkipWithError("the table could not be made");
        return;
    }
    int rows = 0, columns = 0;
    double afterLoad = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        QFile::copy(table, dir.filePath(QStringLiteral("grid.db")));
        // The publisher is a port where nothing listens: nothing reaches out.
        QFile ini(dir.filePath(QStringLiteral("service.ini")));
        if (ini.open(QIODevice::WriteOnly))
            ini.write("[service]\nPublisherServer=http://127.0.0.1:1\n");
        ini.close();
        TPaths::SetWorkDir(dir.path());

        TAppCore core;
        QElapsedTimer clock;
        qint64 loading = -1, loaded = -1;
        QObject::connect(
            core.Table(), &TItemTable::tableReset, &core,
            [&](int rowCount, int) {
                if (rowCount > 1)
                    loaded = clock.nsecsElapsed();
                else if (loaded < 0)
                    loading = clock.nsecsElapsed();
            },
            Qt::DirectConnection);
        clock.start();
        {
            TQuietWindow window(&core);
            window.show();
            window.PageControl1->setCurrentWidget(window.TabSheet2);
            if (!QTest::qWaitForWindowExposed(&window)) {
                state.SkipWithError("the window did not show");
                return;
            }
            // Everything queued for the window (the table's rows among it) is handled, and the
            // table page is painted.
            QCoreApplication::processEvents();
            window.StringGrid1->viewport()->repaint();
            const qint64 shown = clock.nsecsElapsed();
            state.SetIterationTime(double(shown - loading) / 1e9);
            afterLoad += double(shown - loaded) / 1e6;
            rows = core.Table()->RowCount();
            columns = core.Table()->ColCount();
            window.FormDestroy();
        }
        QTest::qWait(50); // the web views' helpers settle before the next window
    }
    state.counters["after_load_ms"] = afterLoad / double(state.iterations());
    state.counters["rows"] = rows;
    state.counters["columns"] = columns;
    state.counters["file_MB"] = QFileInfo(table).size() / 1e6;
}

} // namespace

// 0 = the 1,000-item table, 1 = the wide table, 2 = a narrow table of the wide one's size.
BENCHMARK(BM_WindowAfterLoad)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

int main(int argc, char** argv) {
    TMemory::SuitLargeTexts(); // as the program does
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    if (qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").isEmpty())
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
