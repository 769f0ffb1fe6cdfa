#include "app/appcore.h"
#include "app/itemtablemodel.h"
#include "app/settings.h"
#include "gui/infoedit.h"
#include "gui/mainwindow.h"
#include "gui/stringgridview.h"
#include "gui/visualstyle.h"
#include "marketsim.h"
#include "platform/paths.h"
#include "table/gridfile.h"
#include "table/itemtable.h"
#include "table/linklist.h"
#include "taobaopages.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QToolButton>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <csignal>
#include <sys/types.h>

namespace {

// The window with its message boxes answered by the test.
class TTestWindow : public TFrMain {
  public:
    using TFrMain::TFrMain;
    QMessageBox::StandardButton answer = QMessageBox::No;
    QStringList asked;
    QString folder; // what the folder picker answers
    QString file;   // what the open-file dialog answers

  protected:
    QString ChooseFile(const QString& caption) override {
        asked.append(caption);
        return file;
    }
    QString ChooseFolder(const QString& caption) override {
        asked.append(caption);
        return folder;
    }
    QMessageBox::StandardButton MessageBox(const QString& text, const QString& caption,
                                           QMessageBox::StandardButtons, QMessageBox::Icon) override {
        asked.append(caption + QStringLiteral("|") + text);
        return answer;
    }
};

QToolButton* toolButton(TFrMain& w, const QString& caption) {
    for (QToolButton* b : w.ToolButtons)
        if (b->text() == caption)
            return b;
    return nullptr;
}

const QByteArray ServiceIni = "[service]\nPublisherServer=http://127.0.0.1:1\n";

void addItem(TItemTable& table, const QString& title) {
    table.AppendRow([&](TRowWriter& row) { row.SetCell(ColTitle, title); });
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT
  private slots:
    void deleteKeyAndSpace();
    void initTestCase();
    void init();
    void cleanup();
    void sizeRule_data();
    void sizeRule();
    void firstStart();
    void toolButtonsSwitchPages();
    void pagesCarryTheirControls();
    void busyStateDoesNotNest();
    void workerReportsReachTheWindow();
    void gridShowsCaptionRowAndHidesColumns();
    void clickOnCheckBoxToggles();
    void sortingIsTheViewsOnly();
    void widenedColumnStaysWide();
    void contextMenuFollowsUsableRow();
    void deleteAsksFirst();
    void doubleClickOpensLinkUnchanged();
    void linkCommands();
    void exportCommand();
    void closingStopsJobsThenSaves();
    void editorFilledFromTheRow();
    void editorSavesTheFivePartsIntoItsRow();
    void editorFollowsTheCursor();
    void editorSavedBeforeItsPageLoaded();
    void editorCancelTouchesNothing();
    void editorKeepsHostileDescriptionsHarmless_data();
    void editorKeepsHostileDescriptionsHarmless();
    void editorKeepsEveryCharacter();
    void editorShowsRemoteAndLocalPictures();
    void editorKeepsTheDescriptionWhenItCannotShowIt();
    void batchButtons();
    void terminationClosesTheRealWindowInOrder();
    void versionWithoutADisplay();
    void searchProgressInTheStatusBar();
    void commandButtonStopsItsJob_data();
    void commandButtonStopsItsJob();
    void manyLinksPastedAtOnce();
    void selectionCountFollowsTheTable();
    void priceAdjustmentControls();

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TAppCore> m_core;
    std::unique_ptr<TTestWindow> m_window;
};

void TestMainWindow::initTestCase() {
    ApplyVisualStyle(*qApp);
}

void TestMainWindow::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    TPaths::SetWorkDir(m_dir->path());
    // The welcome page's pointer is asked of a port where nothing listens (the built-in page
    // shows), so no test reaches out to the publisher.
    QFile ini(m_dir->filePath(QStringLiteral("service.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(ServiceIni);
    ini.close();
    m_core = std::make_unique<TAppCore>();
    m_window = std::make_unique<TTestWindow>(m_core.get());
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestMainWindow::cleanup() {
    m_window.reset();
    m_core.reset();
    m_dir.reset();
}

void TestMainWindow::sizeRule_data() {
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<QSize>("window");
    QTest::newRow("full HD") << QSize(1920, 1080) << QSize(1536, 864);
    QTest::newRow("a fifth rounds down") << QSize(1366, 768) << QSize(1093, 615);
}

void TestMainWindow::sizeRule() {
    QFETCH(QSize, screen);
    QFETCH(QSize, window);
    QCOMPARE(TFrMain::SizeForScreen(screen), window);
}

void TestMainWindow::firstStart() {
    TFrMain& w = *m_window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Quelvar网店宝贝复制专家"));
    QCOMPARE(w.size(), TFrMain::SizeForScreen(QGuiApplication::primaryScreen()->size()));
    QVERIFY(!w.PageControl1->tabBar()->isVisible());
    QCOMPARE(w.PageControl1->currentIndex(), 0);
    QVERIFY(w.RadioGroup1Items[0]->isChecked());
    QCOMPARE(w.ComboBox1->currentText(), QStringLiteral("宝贝连接"));
    QCOMPARE(w.edit1->toPlainText(), QString());
    QCOMPARE(w.WatermarkEdit->text(), QString());
    QVERIFY(!w.cbDL->isChecked() && !w.cbDLXX->isChecked() && !w.cbDLJG->isChecked());
    QCOMPARE(w.ListBox1->count(), 0);
    QCOMPARE(w.StringGrid1->Model()->rowCount(), 1);
    QCOMPARE(w.Label5->text(), QStringLiteral("1.0.0.1"));
    QCOMPARE(w.StatusPanels.size(), 5);
    const int widths[] = {200, 20, 200, 200, 50};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(w.StatusPanels[i]->minimumWidth(), widths[i]);
    QCOMPARE(w.StatusPanels[3]->text(), QStringLiteral("版本 1.0.0.1"));
    QCOMPARE(w.StatusPanels[2]->text(), QStringLiteral("共 0 件，已选 0 件"));
    for (int i : {0, 1, 4})
        QCOMPARE(w.StatusPanels[i]->text(), QString());
    QVERIFY(w.ProgressBar1->isHidden());
}

void TestMainWindow::toolButtonsSwitchPages() {
    TFrMain& w = *m_window;
    QStringList captions;
    for (QToolButton* b : w.ToolButtons)
        captions.append(b->text());
    QCOMPARE(captions, (QStringList{"欢迎使用", "商品下载", "设置", "运行日志", "帮助", "客服", "退出"}));
    const QList<std::pair<QString, int>> pages = {
        {"商品下载", 1}, {"设置", 2}, {"运行日志", 3}, {"帮助", 4}, {"欢迎使用", 0}};
    for (const auto& [caption, page] : pages) {
        QTest::mouseClick(toolButton(w, caption), Qt::LeftButton);
        QCOMPARE(w.PageControl1->currentIndex(), page);
    }
    QStringList pageCaptions;
    for (int i = 0; i < w.PageControl1->count(); ++i)
        pageCaptions.append(w.PageControl1->tabText(i));
    QCOMPARE(pageCaptions, (QStringList{"欢迎使用", "宝贝搜索", " 设 置 ", " 日 志 ", "帮助中心"}));
    QCOMPARE(w.PageControl1->widget(3), w.TabSheet4);
}

void TestMainWindow::pagesCarryTheirControls() {
    TFrMain& w = *m_window;
    auto texts = [](QWidget* page, auto type) {
        QStringList list;
        for (auto* child : page->findChildren<decltype(type)>())
            list.append(child->text());
        return list;
    };
    const QStringList searchButtons = texts(w.TabSheet2, static_cast<QPushButton*>(nullptr));
    for (const char* caption :
         {"︾添加", "移除", "清空", "开始搜索", "全选", "反选", "导出CSV", "下载图片", "批量修改水印文字"})
        QVERIFY2(searchButtons.contains(QString::fromUtf8(caption)), caption);
    QCOMPARE(texts(w.TabSheet2, static_cast<QRadioButton*>(nullptr)), (QStringList{"淘宝", "1688", "拍拍"}));
    QCOMPARE(w.RadioGroup1->title(), QStringLiteral("数据来源"));
    QStringList groups;
    for (QGroupBox* g : w.TabSheet2->findChildren<QGroupBox*>())
        groups.append(g->title());
    QVERIFY(groups.contains(QStringLiteral("商品列表")));

    const QStringList settingsLabels = texts(w.TabSheet3, static_cast<QLabel*>(nullptr));
    QVERIFY(settingsLabels.contains(QStringLiteral("当前版本:")));
    QVERIFY(settingsLabels.contains(QStringLiteral("水印文字:")));
    const QStringList settingsButtons = texts(w.TabSheet3, static_cast<QPushButton*>(nullptr));
    for (const char* caption : {"检测更新", "清除临时数据", "批量替换宝贝名称"})
        QVERIFY2(settingsButtons.contains(QString::fromUtf8(caption)), caption);
    QCOMPARE(texts(w.TabSheet3, static_cast<QCheckBox*>(nullptr)),
             (QStringList{"不下载商品主图", "不下载商品属性", "标题合并价格"}));
    QCOMPARE(w.Panel6->title(), QStringLiteral("更新中"));
    QVERIFY(w.Panel6->isHidden());

    QVERIFY(w.Memo1->isReadOnly());
    QCOMPARE(w.Memo1->palette().color(QPalette::Base), QColor(Qt::black));
    QCOMPARE(w.Memo1->palette().color(QPalette::Text), QColor(0, 255, 0));
}

void TestMainWindow::busyStateDoesNotNest() {
    TFrMain& w = *m_window;
    const QList<QWidget*> locked = {w.RadioGroup1, w.BtnAdd,  w.BtnInvert, w.BtnSelectAll,
                                    w.BtnSearch,   w.Button9, w.Button10,  w.BtnBatchWatermark};
    const QList<QWidget*> free = {w.ComboBox1,   w.BtnRemove, w.BtnClear,
                                  w.StringGrid1, w.edit1,     w.WatermarkEdit};
    w.EnableCommands(false);
    w.EnableCommands(false);
    for (QWidget* c : locked)
        QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    for (QWidget* c : free)
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
    w.EnableCommands(true);
    for (QWidget* c : locked)
        QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
}

void TestMainWindow::workerReportsReachTheWindow() {
    TFrMain& w = *m_window;
    std::atomic<bool> release{false};
    QVERIFY(m_core->StartJob(TJobKind::Export, [&release](const TJobContext& job) {
        job.Report().ClearLog();
        job.Report().Log(QStringLiteral("开始下载..."));
        job.Report().Status(QStringLiteral("导出记录[0]条"));
        while (!release)
            QThread::msleep(5);
        return TJobResult();
    }));
    QTRY_COMPARE(w.StatusPanels[4]->text(), QStringLiteral("导出记录[0]条"));
    QCOMPARE(w.Button9->text(), QStringLiteral("导出中.."));
    // The busy command's own button stays usable (it stops the export); the others are locked.
    QVERIFY(w.Button9->isEnabled());
    QVERIFY(!w.BtnSearch->isEnabled());
    QCOMPARE(w.Memo1->toPlainText(), QStringLiteral("开始下载..."));
    release = true;
    QTRY_COMPARE(w.Button9->text(), QStringLiteral("导出CSV"));
    QVERIFY(w.Button9->isEnabled());
}

void TestMainWindow::gridShowsCaptionRowAndHidesColumns() {
    TFrMain& w = *m_window;
    TStringGridView* view = w.StringGrid1;
    addItem(*m_core->Table(), QStringLiteral("宝贝一"));
    QTRY_COMPARE(view->Model()->rowCount(), 2);
    // The captions are the header's, not a row of cells.
    QVERIFY(!view->horizontalHeader()->isHidden());
    QCOMPARE(view->model()->rowCount(), 1);
    QCOMPARE(view->model()->headerData(ColTitle, Qt::Horizontal).toString(), QStringLiteral("商品名称"));
    QCOMPARE(view->model()->index(0, ColTitle).data().toString(), QStringLiteral("宝贝一"));
    for (int c = ColDetail; c <= ColLocalDetail; ++c)
        QVERIFY(view->isColumnHidden(c));
    QVERIFY(!view->isColumnHidden(ColWatermark));
    QCOMPARE(view->columnWidth(ColTitle), 350);
    // An attribute column appears at the default width.
    m_core->Table()->AppendRow([](TRowWriter& row) {
        row.WidenTo(13);
        row.SetCell(12, QStringLiteral("红"));
    });
    QTRY_COMPARE(view->model()->columnCount(), 13);
    QVERIFY(!view->isColumnHidden(12));
    QCOMPARE(view->columnWidth(12), 64);
    QVERIFY(!view->CheckPicture(true).isNull());
    QVERIFY(view->CheckPicture(true).toImage() != view->CheckPicture(false).toImage());
}

void TestMainWindow::clickOnCheckBoxToggles() {
    TFrMain& w = *m_window;
    TStringGridView* view = w.StringGrid1;
    TItemTable* grid = m_core->Table();
    addItem(*grid, QStringLiteral("a"));
    addItem(*grid, QStringLiteral("b"));
    QTRY_COMPARE(view->Model()->rowCount(), 3);
    w.PageControl1->setCurrentIndex(1);
    QTest::qWait(50);
    const QPoint box = view->visualRect(view->IndexOf(ColSelect, 2)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(view->Row(), 2);
    QCOMPARE(grid->Cell(ColSelect, 2), QString());
    QCOMPARE(grid->Cell(ColSelect, 1), QStringLiteral(" "));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(grid->Cell(ColSelect, 2), QStringLiteral(" "));
    // A click on the selection column's caption toggles nothing.
    QHeaderView* header = view->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(ColSelect) + 4, header->height() / 2));
    QCOMPARE(grid->Cell(ColSelect, 0), QStringLiteral("选择"));
    QCOMPARE(grid->Cell(ColSelect, 1), QStringLiteral(" "));
    QCOMPARE(grid->Cell(ColSelect, 2), QStringLiteral(" "));
    // A right press on a title cell moves the row but keeps the column.
    view->SetCurrentCell(ColTitle, 1);
    QTest::mousePress(view->viewport(), Qt::RightButton, {},
                      view->visualRect(view->IndexOf(ColNo, 2)).center());
    QCOMPARE(view->Row(), 2);
    QCOMPARE(view->Col(), ColTitle);
}

void TestMainWindow::sortingIsTheViewsOnly() {
    TFrMain& w = *m_window;
    TStringGridView* view = w.StringGrid1;
    TItemTable* grid = m_core->Table();
    const QList<QPair<QString, QString>> items = {{QStringLiteral("乙"), QStringLiteral("99.50")},
                                                  {QStringLiteral("甲"), QStringLiteral("128.00")},
                                                  {QStringLiteral("丙"), QStringLiteral("9")}};
    for (const auto& [title, price] : items)
        grid->AppendRow([&](TRowWriter& row) {
            row.SetCell(ColTitle, title);
            row.SetCell(ColPrice, price);
        });
    QTRY_COMPARE(view->Model()->rowCount(), 4);
    w.PageControl1->setCurrentIndex(1);
    const auto shownColumn = [view](int col) {
        QStringList shown;
        for (int r = 0; r < view->model()->rowCount(); ++r)
            shown.append(view->model()->index(r, col).data().toString());
        return shown;
    };
    QHeaderView* header = view->horizontalHeader();
    const auto clickCaption = [header](int col) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(col) + 10, header->height() / 2));
    };
    // Prices sort as numbers, both ways; a third click restores the stored order.
    clickCaption(ColPrice);
    QCOMPARE(shownColumn(ColPrice), (QStringList{"9", "99.50", "128.00"}));
    clickCaption(ColPrice);
    QCOMPARE(shownColumn(ColPrice), (QStringList{"128.00", "99.50", "9"}));
    // The table keeps its order; the view's rows still name the table's rows.
    QCOMPARE(grid->Cell(ColTitle, 1), QStringLiteral("乙"));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      view->visualRect(view->model()->index(0, ColSelect)).center());
    QCOMPARE(view->Row(), 2);
    QCOMPARE(grid->Cell(ColSelect, 2), QString());
    QCOMPARE(grid->Cell(ColSelect, 1), QStringLiteral(" "));
    view->SetCurrentCell(ColTitle, 3);
    QCOMPARE(view->currentIndex().row(), 2);
    QCOMPARE(view->currentIndex().data().toString(), QStringLiteral("丙"));
    // A changed cell moves to its place in the order.
    grid->SetCell(ColPrice, 3, QStringLiteral("500"));
    QTRY_COMPARE(shownColumn(ColPrice), (QStringList{"500", "128.00", "99.50"}));
    clickCaption(ColPrice);
    QCOMPARE(shownColumn(ColTitle), (QStringList{"乙", "甲", "丙"}));
    // Titles sort in the usual Chinese order (by reading: bing, jia, yi).
    clickCaption(ColTitle);
    QCOMPARE(shownColumn(ColTitle), (QStringList{"丙", "甲", "乙"}));
}

void TestMainWindow::widenedColumnStaysWide() {
    TFrMain& w = *m_window;
    TStringGridView* view = w.StringGrid1;
    addItem(*m_core->Table(), QStringLiteral("宝贝"));
    QTRY_COMPARE(view->Model()->rowCount(), 2);
    QCOMPARE(view->horizontalHeader()->sectionResizeMode(ColTitle), QHeaderView::Interactive);
    view->setColumnWidth(ColTitle, 500);
    // New attribute columns and new rows keep the seller's width; a cleared table starts afresh.
    m_core->Table()->AppendRow([](TRowWriter& row) {
        row.WidenTo(14);
        row.SetCell(13, QStringLiteral("红"));
    });
    QTRY_COMPARE(view->model()->columnCount(), 14);
    QCOMPARE(view->columnWidth(ColTitle), 500);
    QCOMPARE(view->columnWidth(13), 64);
    m_core->Table()->ResetGrid();
    QTRY_COMPARE(view->Model()->rowCount(), 1);
    QCOMPARE(view->columnWidth(ColTitle), 350);
}

void TestMainWindow::contextMenuFollowsUsableRow() {
    TStringGridView* view = m_window->StringGrid1;
    TItemTable* grid = m_core->Table();
    view->PopupMenuGridPopup();
    QVERIFY(!view->EditAction()->isVisible());
    QVERIFY(!view->DeleteAction()->isVisible());
    addItem(*grid, QStringLiteral("a"));
    addItem(*grid, QStringLiteral("b"));
    grid->SetCell(ColNo, 2, QString());
    QTRY_COMPARE(view->Model()->rowCount(), 3);
    view->SetCurrentCell(ColTitle, 1);
    view->PopupMenuGridPopup();
    QVERIFY(view->EditAction()->isVisible());
    QVERIFY(view->DeleteAction()->isVisible());
    QCOMPARE(view->EditAction()->text(), QStringLiteral("&E编辑"));
    QCOMPARE(view->DeleteAction()->text(), QStringLiteral("&D删除"));
    view->SetCurrentCell(ColTitle, 2); // no row number: not usable
    view->PopupMenuGridPopup();
    QVERIFY(!view->EditAction()->isVisible());
    QVERIFY(!view->DeleteAction()->isVisible());
}

void TestMainWindow::deleteAsksFirst() {
    TTestWindow& w = *m_window;
    TItemTable* grid = m_core->Table();
    addItem(*grid, QStringLiteral("a"));
    addItem(*grid, QStringLiteral("it's \"b\""));
    addItem(*grid, QStringLiteral("c"));
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 4);
    w.StringGrid1->SetCurrentCell(ColTitle, 2);
    w.answer = QMessageBox::No;
    w.StringGrid1->DeleteAction()->trigger();
    QCOMPARE(w.asked, QStringList{QStringLiteral("删除提示|确定要删除 'it's \"b\"' 吗?")});
    QCOMPARE(grid->RowCount(), 4);
    w.answer = QMessageBox::Yes;
    w.StringGrid1->DeleteAction()->trigger();
    QCOMPARE(grid->RowCount(), 3);
    QCOMPARE(grid->Cell(ColTitle, 2), QStringLiteral("c"));
    QCOMPARE(grid->Cell(ColNo, 2), QStringLiteral("2"));
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 3);
}

void TestMainWindow::doubleClickOpensLinkUnchanged() {
    // The browser is whatever BROWSER names; here a script that records its argument.
    const QString record = m_dir->filePath(QStringLiteral("opened.txt"));
    const QString script = m_dir->filePath(QStringLiteral("browser.sh"));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\nprintf '%s' \"$1\" > \"$0.tmp\" && mv \"$0.tmp\" " + record.toUtf8() + "\n");
    file.close();
    file.setPermissions(file.permissions() | QFile::ExeOwner);
    qputenv("BROWSER", script.toUtf8());

    TStringGridView* view = m_window->StringGrid1;
    TItemTable* grid = m_core->Table();
    const QString link = QStringLiteral("http://item.taobao.com/item.htm?id=1&spm=a b%20c#宝贝");
    grid->AppendRow([&](TRowWriter& row) { row.SetCell(ColLink, link); });
    QTRY_COMPARE(view->Model()->rowCount(), 2);
    m_window->PageControl1->setCurrentIndex(1);

    // The caption opens nothing.
    QHeaderView* header = view->horizontalHeader();
    const QPoint caption(header->sectionViewportPosition(ColTitle) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, caption);
    QTest::mouseDClick(header->viewport(), Qt::LeftButton, {}, caption);
    QTest::qWait(300);
    QVERIFY(!QFile::exists(record));

    const QPoint cell = view->visualRect(view->IndexOf(ColTitle, 1)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);
    QTRY_VERIFY(QFile::exists(record));
    QFile opened(record);
    QVERIFY(opened.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(opened.readAll()), link);
    qunsetenv("BROWSER");
}

void TestMainWindow::linkCommands() {
    TTestWindow& w = *m_window;
    w.PageControl1->setCurrentIndex(1);
    w.edit1->setPlainText(" http://item.taobao.com/item.htm?id=1\n");
    QTest::mouseClick(w.BtnAdd, Qt::LeftButton);
    QTRY_COMPARE(w.ListBox1->count(), 1);
    QCOMPARE(w.ListBox1->item(0)->text(), QStringLiteral("http://item.taobao.com/item.htm?id=1"));
    QCOMPARE(w.edit1->toPlainText(), QStringLiteral("http://item.taobao.com/item.htm?id=1"));
    QTest::mouseClick(w.BtnAdd, Qt::LeftButton);
    QCOMPARE(w.asked, QStringList{QStringLiteral("提示|这个连接已经添加过了！")});

    w.ComboBox1->setCurrentIndex(1);
    QCOMPARE(w.edit1->toPlainText(), QStringLiteral("http://XXXXXXXX.taobao.com"));
    w.ComboBox1->setCurrentIndex(0);
    QCOMPARE(w.edit1->toPlainText(), QString());

    m_core->Table()->AppendRow();
    w.ListBox1->setCurrentRow(0);
    // Another source would empty the table and the list: asked first, and "否" keeps everything.
    w.asked.clear();
    w.answer = QMessageBox::No;
    w.RadioGroup1Items[2]->click();
    QCOMPARE(w.asked, QStringList{QStringLiteral("提示|切换数据来源会清空宝贝表格和商品列表，确定吗?")});
    QCOMPARE(m_core->Choices().DataSource, 0);
    QVERIFY(w.RadioGroup1Items[0]->isChecked());
    QVERIFY(!w.RadioGroup1Items[2]->isChecked());
    QCOMPARE(m_core->Table()->RowCount(), 2);
    QVERIFY(w.ListBox1->count() > 0);
    w.answer = QMessageBox::Yes;
    w.RadioGroup1Items[2]->click();
    QCOMPARE(m_core->Choices().DataSource, 2);
    QTRY_COMPARE(w.ListBox1->count(), 0);
    QCOMPARE(m_core->Table()->RowCount(), 1);
    // With nothing to lose there is no question.
    w.asked.clear();
    w.RadioGroup1Items[1]->click();
    QCOMPARE(m_core->Choices().DataSource, 1);
    QCOMPARE(w.asked, QStringList());
    w.RadioGroup1Items[2]->click();
    w.answer = QMessageBox::No;

    // 拍拍 with an empty list: the search ends at once and the button reads as before.
    QTest::mouseClick(w.BtnSearch, Qt::LeftButton);
    QTRY_COMPARE(w.BtnSearch->text(), QStringLiteral("开始搜索"));
    QVERIFY(w.BtnSearch->isEnabled());
}

void TestMainWindow::exportCommand() {
    TTestWindow& w = *m_window;
    // Nothing ticked: said so, and no folder is asked for.
    QTest::mouseClick(w.Button9, Qt::LeftButton);
    QCOMPARE(w.asked, QStringList{QStringLiteral("提示|没有选中的宝贝")});
    m_core->Table()->AppendRow([](TRowWriter& row) { row.SetCell(ColTitle, QStringLiteral("先选中")); });
    // Cancelling the folder picker does nothing.
    w.asked.clear();
    QTest::mouseClick(w.Button9, Qt::LeftButton);
    QCOMPARE(w.asked, QStringList{QStringLiteral("请选择要保存的文件夹")});
    QCOMPARE(w.PageControl1->currentIndex(), 0);
    m_core->DeleteItem(1);
    // A folder: the log page shows, the package is written, the status bar says how many rows.
    // (A blank Head keeps the property lookup from reaching out to the marketplace.)
    QFile ini(m_dir->filePath(QStringLiteral("service.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(ServiceIni + "Head=\n");
    ini.close();
    m_core->Table()->AppendRow([](TRowWriter& row) {
        row.SetCell(ColTitle, QStringLiteral("窗口导出"));
        row.SetCell(ColHtml, QStringLiteral("<title>窗口导出-淘宝网</title>"));
    });
    w.folder = m_dir->filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(w.folder));
    QTest::mouseClick(w.Button9, Qt::LeftButton);
    QCOMPARE(w.PageControl1->currentWidget(), w.TabSheet4);
    QTRY_COMPARE(w.StatusPanels[4]->text(), QStringLiteral("导出记录[1]条"));
    QTRY_COMPARE(w.Button9->text(), QStringLiteral("导出CSV"));
    QVERIFY(w.Button9->isEnabled());
    QVERIFY(w.Memo1->toPlainText().contains(QStringLiteral("宝贝 “窗口导出” 下载完毕.")));
    QVERIFY(w.Memo1->toPlainText().contains(QStringLiteral("★★★已经全部下载完毕★★★")));
    QCOMPARE(QDir(w.folder).entryList({QStringLiteral("KVR_*.csv")}, QDir::Files).size(), 1);
}

namespace {

// An item with all the parts the editor shows.
void addEditableItem(TItemTable& table, const QString& title, const QString& detail,
                     const QString& local = {}) {
    table.AppendRow([&](TRowWriter& row) {
        row.SetCell(ColTitle, title);
        row.SetCell(ColCategory, title + QStringLiteral("分类"));
        row.SetCell(ColPrice, QStringLiteral("99.00"));
        row.SetCell(ColDelivery, QStringLiteral("浙江杭州-北京;快递;3天"));
        row.SetCell(ColDetail, detail);
        row.SetCell(ColHtml, QStringLiteral("<title>") + title + QStringLiteral("</title>"));
        row.SetCell(ColLocalDetail, local);
    });
}

// The text of the editor's page, once it has loaded.
QString pageText(TFInfoEdit& editor) {
    QString text;
    bool done = false;
    editor.DescriptionView->page()->toPlainText([&](const QString& t) {
        text = t;
        done = true;
    });
    if (!QTest::qWaitFor([&done] { return done; }, 10000))
        return QStringLiteral("the page gave no text");
    return text;
}

} // namespace

void TestMainWindow::editorFilledFromTheRow() {
    TFrMain& w = *m_window;
    addEditableItem(*m_core->Table(), QStringLiteral("大衣"), QStringLiteral("<p>原描述</p>"));
    addEditableItem(*m_core->Table(), QStringLiteral("围巾"), QStringLiteral("<p>原描述二</p>"),
                    QStringLiteral("<p>本地描述</p>"));
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 3);
    QVERIFY(!w.InfoEdit->isVisible());
    w.StringGrid1->SetCurrentCell(ColTitle, 2);
    w.StringGrid1->PopupMenuGridPopup();
    w.StringGrid1->EditAction()->trigger();
    TFInfoEdit& e = *w.InfoEdit;
    QVERIFY(e.isVisible());
    QCOMPARE(e.windowTitle(), QStringLiteral("编辑信息"));
    QVERIFY(e.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!e.isModal());
    QCOMPARE(e.size(), QSize(652, 455));
    QCOMPARE(e.TitleEdit->text(), QStringLiteral("围巾"));
    QCOMPARE(e.CategoryEdit->text(), QStringLiteral("围巾分类"));
    QCOMPARE(e.PriceEdit->text(), QStringLiteral("99.00"));
    QCOMPARE(e.DeliveryEdit->text(), QStringLiteral("浙江杭州-北京;快递;3天"));
    // The local description comes first when there is one.
    QTRY_VERIFY_WITH_TIMEOUT(e.Loaded(), 10000);
    QCOMPARE(pageText(e), QStringLiteral("本地描述"));
    bool editable = false;
    e.DescriptionView->page()->runJavaScript(
        QStringLiteral("document.designMode"), QWebEngineScript::ApplicationWorld,
        [&](const QVariant& v) { editable = v.toString() == QLatin1String("on"); });
    QTRY_VERIFY(editable);
}

void TestMainWindow::editorSavesTheFivePartsIntoItsRow() {
    TFrMain& w = *m_window;
    addEditableItem(*m_core->Table(), QStringLiteral("大衣"), QStringLiteral("<p>原描述</p>"));
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 2);
    w.StringGrid1->SetCurrentCell(ColTitle, 1);
    TFInfoEdit& e = *w.InfoEdit;
    e.ShowInfoEdit();
    QTRY_VERIFY_WITH_TIMEOUT(e.Loaded(), 10000);
    e.TitleEdit->setText(QStringLiteral(" 新大衣 "));
    e.CategoryEdit->setText(QStringLiteral("新分类"));
    e.PriceEdit->setText(QStringLiteral("120.00"));
    e.DeliveryEdit->setText(QStringLiteral("上海"));
    // An edit in the page itself, as typing would make it.
    bool typed = false;
    e.DescriptionView->page()->runJavaScript(
        QStringLiteral("document.body.innerHTML = '<p>改过的描述</p>'; true"),
        QWebEngineScript::ApplicationWorld, [&](const QVariant&) { typed = true; });
    QTRY_VERIFY(typed);
    QSignalSpy saved(&e, &TFInfoEdit::saved);
    QTest::mouseClick(e.BtnSave, Qt::LeftButton);
    QVERIFY(saved.wait(10000));
    const QStringList row = m_core->Table()->RowCells(1);
    QCOMPARE(row[ColTitle], QStringLiteral(" 新大衣 ")); // as it stands, not trimmed
    QCOMPARE(row[ColCategory], QStringLiteral("新分类"));
    QCOMPARE(row[ColPrice], QStringLiteral("120.00"));
    QCOMPARE(row[ColDelivery], QStringLiteral("上海"));
    QVERIFY2(row[ColLocalDetail].contains(QStringLiteral("<p>改过的描述</p>")),
             qPrintable(row[ColLocalDetail]));
    QCOMPARE(row[ColDetail], QStringLiteral("<p>原描述</p>"));
    QCOMPARE(row[ColHtml], QStringLiteral("<title>大衣</title>")); // untouched
    QVERIFY(e.isVisible());                                        // the window stays open
}

void TestMainWindow::editorFollowsTheCursor() {
    TFrMain& w = *m_window;
    addEditableItem(*m_core->Table(), QStringLiteral("一"), QStringLiteral("<p>描述一</p>"));
    addEditableItem(*m_core->Table(), QStringLiteral("二"), QStringLiteral("<p>描述二</p>"));
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 3);
    w.StringGrid1->SetCurrentCell(ColTitle, 1);
    TFInfoEdit& e = *w.InfoEdit;
    e.ShowInfoEdit();
    e.TitleEdit->setText(QStringLiteral("没有保存的修改"));
    // Moving onto another usable row refills all five parts; the unsaved edit is dropped.
    w.StringGrid1->SetCurrentCell(ColTitle, 2);
    QCOMPARE(e.TitleEdit->text(), QStringLiteral("二"));
    QTRY_VERIFY_WITH_TIMEOUT(e.Loaded(), 10000);
    QCOMPARE(pageText(e), QStringLiteral("描述二"));
    // The caption row refills nothing, and "保存" there does nothing.
    w.StringGrid1->SetCurrentCell(ColTitle, 0);
    QCOMPARE(e.TitleEdit->text(), QStringLiteral("二"));
    QSignalSpy saved(&e, &TFInfoEdit::saved);
    QTest::mouseClick(e.BtnSave, Qt::LeftButton);
    QTest::qWait(200);
    QCOMPARE(saved.size(), 0);
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, 2), QString());
    // A search hides the editor.
    QTest::mouseClick(w.BtnSearch, Qt::LeftButton);
    QVERIFY(!e.isVisible());
}

void TestMainWindow::editorSavedBeforeItsPageLoaded() {
    TFrMain& w = *m_window;
    addEditableItem(*m_core->Table(), QStringLiteral("一"), QStringLiteral("<p>描述一</p>"));
    addEditableItem(*m_core->Table(), QStringLiteral("二"), QStringLiteral("<p>描述二</p>"));
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 3);
    TFInfoEdit& e = *w.InfoEdit;
    w.StringGrid1->SetCurrentCell(ColTitle, 1);
    e.ShowInfoEdit();
    QTRY_VERIFY_WITH_TIMEOUT(e.Loaded(), 10000);
    // The next row, saved at once: its own description is written, not the one still on screen.
    w.StringGrid1->SetCurrentCell(ColTitle, 2);
    QSignalSpy saved(&e, &TFInfoEdit::saved);
    e.InfoEditToGrid();
    QTRY_COMPARE(saved.size(), 1);
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, 2), QStringLiteral("<p>描述二</p>"));
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, 1), QString());
}

void TestMainWindow::editorCancelTouchesNothing() {
    TFrMain& w = *m_window;
    addEditableItem(*m_core->Table(), QStringLiteral("大衣"), QStringLiteral("<p>原描述</p>"));
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 2);
    const QStringList before = m_core->Table()->RowCells(1);
    w.StringGrid1->SetCurrentCell(ColTitle, 1);
    TFInfoEdit& e = *w.InfoEdit;
    e.ShowInfoEdit();
    e.TitleEdit->setText(QStringLiteral("不要的修改"));
    QTest::mouseClick(e.BtnCancel, Qt::LeftButton);
    QVERIFY(!e.isVisible());
    QCOMPARE(m_core->Table()->RowCells(1), before);
    // Closed and opened again, it is the same window, filled from the row again.
    e.close();
    e.ShowInfoEdit();
    QCOMPARE(e.TitleEdit->text(), QStringLiteral("大衣"));
}

namespace {

// Runs a script in the editor's own world (the page's scripts never run) and waits for its value.
QVariant inEditor(TFInfoEdit& editor, const QString& script) {
    QVariant result;
    bool done = false;
    editor.DescriptionView->page()->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                                                  [&](const QVariant& v) {
                                                      result = v;
                                                      done = true;
                                                  });
    if (!QTest::qWaitFor([&done] { return done; }, 10000))
        return QStringLiteral("no answer");
    return result;
}

// Opens the editor on row 1 and waits until its page shows the description.
TFInfoEdit& openEditor(TFrMain& w) {
    w.StringGrid1->SetCurrentCell(ColTitle, 1);
    TFInfoEdit& e = *w.InfoEdit;
    e.ShowInfoEdit();
    if (!QTest::qWaitFor([&e] { return e.Loaded(); }, 10000))
        qWarning("the editor's page did not load");
    return e;
}

// Presses "保存" and waits for the row to be written.
bool save(TFInfoEdit& e) {
    QSignalSpy saved(&e, &TFInfoEdit::saved);
    QTest::mouseClick(e.BtnSave, Qt::LeftButton);
    return !saved.isEmpty() || saved.wait(10000);
}

QByteArray pngPicture(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

void TestMainWindow::editorKeepsHostileDescriptionsHarmless_data() {
    QTest::addColumn<QString>("description");
    QTest::newRow("a script reading a local file")
        << "<p>甲</p><script>var x = new XMLHttpRequest(); x.open('GET', 'file:///etc/passwd', false); "
           "x.send();"
           "document.body.insertAdjacentText('beforeend', x.responseText);"
           "fetch('file:///etc/passwd').then(r => r.text()).then(t => document.body.append(t));</script>";
    QTest::newRow("a frame of a local file") << "<p>甲</p><iframe src=\"file:///etc/passwd\"></iframe>";
    QTest::newRow("a frame of a web page") << "<p>甲</p><iframe src=\"http://127.0.0.1:1/\"></iframe>";
    QTest::newRow("a navigation by script")
        << "<p>甲</p><script>location.href = 'file:///etc/passwd';</script>";
    QTest::newRow("a meta refresh to a local file")
        << "<meta http-equiv=\"refresh\" content=\"0;url=file:///etc/passwd\"><p>甲</p>";
    QTest::newRow("a meta refresh to a web page")
        << "<meta http-equiv=\"refresh\" content=\"0;url=http://127.0.0.1:1/\"><p>甲</p>";
    QTest::newRow("a rewrite on a timer")
        << "<p>甲</p><script>setTimeout(function () { document.body.innerHTML = "
           "'<a href=\"http://evil.example/\">evil</a>'; }, 100);</script>";
    QTest::newRow("event handlers and script addresses")
        << "<p>甲</p><img src=\"x.png\" onerror=\"document.body.innerHTML = 'hacked'\">"
           "<div onclick=\"alert(1)\" ONMOUSEOVER=\"alert(2)\">d</div><a href=\" javascript:alert(3)\">j</a>"
           "<body onload=\"alert(4)\">";
    QTest::newRow("a window and a dialog")
        << "<p>甲</p><script>window.open('http://evil.example/'); alert('x');</script>";
}

void TestMainWindow::editorKeepsHostileDescriptionsHarmless() {
    QFETCH(QString, description);
    TFrMain& w = *m_window;
    addEditableItem(*m_core->Table(), QStringLiteral("大衣"), description);
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 2);
    TFInfoEdit& e = openEditor(w);
    QVERIFY(e.Loaded());
    // Time for timers, refreshes and frames to do what they would.
    QTest::qWait(1500);
    // The seller's edit.
    QCOMPARE(inEditor(e, "document.body.insertAdjacentHTML('beforeend', '<p>卖家的修改</p>'); true").toBool(),
             true);
    QVERIFY(save(e));
    const QString stored = m_core->Table()->Cell(ColLocalDetail, 1);
    QVERIFY2(stored.contains("<p>甲</p>") && stored.contains("<p>卖家的修改</p>"), qPrintable(stored));
    for (const char* never :
         {"<script", "onerror", "onclick", "onmouseover", "onload", "javascript:", "root:", "hacked", "evil"})
        QVERIFY2(!stored.contains(QLatin1String(never), Qt::CaseInsensitive), qPrintable(stored));
    // The view is still on its own document, and no window was opened.
    QCOMPARE(e.DescriptionView->url().scheme(), QStringLiteral("http"));
    QCOMPARE(inEditor(e, "document.querySelectorAll('p').length").toInt(), 2);
    QVERIFY(e.LabelNote->text().isEmpty());
}

void TestMainWindow::editorKeepsEveryCharacter() {
    TFrMain& w = *m_window;
    const QString description =
        QStringLiteral("<p>表情😀 不换行\u00A0空格 ß 한국어 ภาษาไทย &amp; &nbsp;</p><br/><IMG SRC='a.jpg'>");
    addEditableItem(*m_core->Table(), QStringLiteral("大衣"), description);
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 2);
    TFInfoEdit& e = openEditor(w);
    // Saved unchanged: the description to the byte.
    QVERIFY(save(e));
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, 1), description);
    // Edited: every character is still there.
    QCOMPARE(inEditor(e, "document.body.insertAdjacentHTML('beforeend', '<p>新</p>'); true").toBool(), true);
    QVERIFY(save(e));
    const QString edited = m_core->Table()->Cell(ColLocalDetail, 1);
    for (const QString& kept :
         {QStringLiteral("表情😀"), QStringLiteral("ß 한국어 ภาษาไทย"), QStringLiteral("<p>新</p>")})
        QVERIFY2(edited.contains(kept), qPrintable(edited));
    QVERIFY(!edited.contains('?'));
}

void TestMainWindow::editorShowsRemoteAndLocalPictures() {
    TFrMain& w = *m_window;
    TMarketSim sim;
    sim.Route("*", "/remote.png", TSimResponse{200, {{"Content-Type", "image/png"}}, pngPicture(30, 20)});
    // A picture the picture download saved, and a local file that is no picture.
    QTemporaryDir folder;
    const QString local = folder.filePath(QStringLiteral("保存的 图片.png"));
    QFile file(local);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(pngPicture(12, 8));
    file.close();
    const QString description =
        QStringLiteral("<p>图</p><img id=\"remote\" src=\"//127.0.0.1:%1/remote.png\">"
                       "<img id=\"local\" src=\"%2\"><img id=\"secret\" src=\"file:///etc/passwd\">")
            .arg(sim.Port())
            .arg(QUrl::fromLocalFile(local).toString());
    m_core->Table()->AppendRow([&](TRowWriter& row) {
        row.SetCell(ColTitle, QStringLiteral("有图"));
        row.SetCell(ColLink, QStringLiteral("http://item.taobao.com/item.htm?id=5"));
        row.SetCell(ColDetail, description);
    });
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 2);
    TFInfoEdit& e = openEditor(w);
    // The remote picture comes over http (the item's own scheme), the local one through the editor.
    QTRY_COMPARE_WITH_TIMEOUT(inEditor(e, "document.getElementById('remote').naturalWidth").toInt(), 30,
                              10000);
    QTRY_COMPARE_WITH_TIMEOUT(inEditor(e, "document.getElementById('local').naturalWidth").toInt(), 12,
                              10000);
    QCOMPARE(inEditor(e, "document.getElementById('secret').naturalWidth").toInt(), 0);
    QCOMPARE(sim.Count("127.0.0.1", "/remote.png"), 1);
    // An edit keeps the local picture's address as the picture download wrote it.
    QCOMPARE(inEditor(e, "document.body.insertAdjacentHTML('afterbegin', '<p>新</p>'); true").toBool(), true);
    QVERIFY(save(e));
    const QString stored = m_core->Table()->Cell(ColLocalDetail, 1);
    QVERIFY2(stored.contains(QUrl::fromLocalFile(local).toString(QUrl::FullyEncoded)) ||
                 stored.contains(QUrl::fromLocalFile(local).toString()),
             qPrintable(stored));
    QVERIFY(!stored.contains(QStringLiteral("tovrel-picture")));
}

void TestMainWindow::editorKeepsTheDescriptionWhenItCannotShowIt() {
    TFrMain& w = *m_window;
    addEditableItem(*m_core->Table(), QStringLiteral("大衣"), QStringLiteral("<p>原描述</p>"),
                    QStringLiteral("<p>本地描述</p>"));
    QTRY_COMPARE(w.StringGrid1->Model()->rowCount(), 2);
    TFInfoEdit& e = openEditor(w);
    e.TitleEdit->setText(QStringLiteral("新名称"));
    // The page's renderer dies; "保存" pressed before it is back keeps the description.
    QSignalSpy saved(&e, &TFInfoEdit::saved);
    bool pressed = false;
    connect(e.DescriptionView->page(), &QWebEnginePage::renderProcessTerminated, &e, [&] {
        QTest::mouseClick(e.BtnSave, Qt::LeftButton);
        pressed = true;
    });
    const qint64 renderer = e.DescriptionView->page()->renderProcessPid();
    QVERIFY(renderer > 0);
    QCOMPARE(::kill(pid_t(renderer), SIGKILL), 0);
    QTRY_VERIFY_WITH_TIMEOUT(pressed, 10000);
    QTRY_COMPARE(saved.size(), 1);
    QCOMPARE(m_core->Table()->Cell(ColTitle, 1), QStringLiteral("新名称"));
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, 1), QStringLiteral("<p>本地描述</p>"));
    QVERIFY(!e.LabelNote->text().isEmpty());
    // The view comes back with the description.
    QTRY_VERIFY_WITH_TIMEOUT(e.Loaded() && pageText(e) == QStringLiteral("本地描述"), 20000);
}

void TestMainWindow::batchButtons() {
    TTestWindow& w = *m_window;
    for (const char* title : {"一", "二", "三"})
        addEditableItem(*m_core->Table(), QString::fromUtf8(title), QString());
    m_core->Table()->ToggleMark(2);
    w.WatermarkEdit->setText(QStringLiteral("新水印"));
    QTest::mouseClick(w.BtnBatchWatermark, Qt::LeftButton);
    QCOMPARE(m_core->Table()->Cell(ColWatermark, 1), QStringLiteral("新水印"));
    QCOMPARE(m_core->Table()->Cell(ColWatermark, 2), QString());
    QCOMPARE(w.StatusPanels[4]->text(), QStringLiteral("2 个宝贝的水印文字已修改"));
    // Titles from a file; the status bar says how many, or why none.
    w.file = m_dir->filePath(QStringLiteral("titles.txt"));
    QFile file(w.file);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\xEF\xBB\xBF甲\n乙\n");
    file.close();
    QTest::mouseClick(w.BtnBatchTitles, Qt::LeftButton);
    QCOMPARE(w.StatusPanels[4]->text(), QStringLiteral("已替换 2 个宝贝名称"));
    QCOMPARE(m_core->Table()->Cell(ColTitle, 2), QStringLiteral("乙"));
    QCOMPARE(m_core->Table()->Cell(ColTitle, 3), QStringLiteral("三"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("1\n2\n3\n4\n");
    file.close();
    QTest::mouseClick(w.BtnBatchTitles, Qt::LeftButton);
    QVERIFY(w.StatusPanels[4]->text().startsWith(QStringLiteral("没有替换宝贝名称")));
    QCOMPARE(m_core->Table()->Cell(ColTitle, 1), QStringLiteral("甲"));
}

void TestMainWindow::closingStopsJobsThenSaves() {
    // A job that is still adding to the table when the window closes.
    QVERIFY(m_core->StartJob(TJobKind::Search, [this](const TJobContext& job) {
        while (!job.Stopped())
            QThread::msleep(5);
        m_core->TableChanges().Apply([](TItemTable& table) { addItem(table, QStringLiteral("最后一个")); });
        return TJobResult{TJobOutcome::Stopped, {}, {}};
    }));
    QVERIFY(!m_window->Button9->isEnabled());
    m_window->close();
    m_window.reset(); // the destroy step
    TItemTable saved;
    QVERIFY(LoadGridFromFile(saved, m_dir->filePath("grid.db")).ok());
    QCOMPARE(saved.RowCount(), 2);
    QCOMPARE(saved.Cell(ColTitle, 1), QStringLiteral("最后一个"));
}

void TestMainWindow::versionWithoutADisplay() {
    // The update asks a new program its version before it puts it in place: no display needed.
    QProcess window;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    window.setProcessEnvironment(environment);
    window.start(QStringLiteral(TOVREL_GUI_PATH), {"--version"});
    QVERIFY(window.waitForFinished(30000));
    QCOMPARE(window.exitCode(), 0);
    QCOMPARE(window.readAllStandardOutput(), ("Tovrel " + TAppCore::FileVersionText() + "\n").toUtf8());
}

void TestMainWindow::terminationClosesTheRealWindowInOrder() {
    QTemporaryDir dir;
    QFile ini(dir.filePath(QStringLiteral("service.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(ServiceIni);
    ini.close();
    QProcess window;
    window.start(QStringLiteral(TOVREL_GUI_PATH), {"--workdir", dir.path()});
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir.filePath("tovrel.lock")), 30000);
    window.terminate(); // SIGTERM
    QVERIFY(window.waitForFinished(60000));
    QCOMPARE(window.exitStatus(), QProcess::NormalExit);
    QCOMPARE(window.exitCode(), 0);
    QVERIFY(!QFile::exists(dir.filePath("tovrel.lock"))); // released by an orderly end
}

namespace {

// http_proxy names the simulator while a test runs, so the window's requests reach it.
class TProxyThrough {
  public:
    explicit TProxyThrough(const TMarketSim& sim) {
        qputenv("http_proxy", sim.Origin().toLatin1());
        qunsetenv("no_proxy");
        qunsetenv("NO_PROXY");
    }
    ~TProxyThrough() { qunsetenv("http_proxy"); }
};

QString itemLink(int id) {
    return QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(id);
}

} // namespace

void TestMainWindow::searchProgressInTheStatusBar() {
    TTestWindow& w = *m_window;
    TMarketSim sim;
    const TProxyThrough proxy(sim);
    // Six links searched by the per-link workers (拍拍): four answer at once, one fails, and the
    // last answers late, so the count waits at 5 of 6.
    for (int id : {1, 2, 3, 4})
        sim.Route(
            "item.taobao.com", QStringLiteral("/item.htm?id=%1").arg(id),
            TSimResponse::Text(itemPage(QString::number(id), QStringLiteral("宝贝%1").arg(id), {}), "GBK"));
    sim.Route("item.taobao.com", "/item.htm?id=5", TSimResponse::Text("服务器错误", "GBK", 500));
    TSimResponse late = TSimResponse::Text(itemPage("6", QStringLiteral("宝贝6"), {}), "GBK");
    late.DelayMs = 1500;
    sim.Route("item.taobao.com", "/item.htm?id=6", late);
    w.RadioGroup1Items[SourcePaipai]->click();
    for (int id = 1; id <= 6; ++id) {
        m_core->Links()->Append(itemLink(id));
        sim.Route("dsc.taobaocdn.com", QStringLiteral("/i1/%1/desc.js").arg(id),
                  TSimResponse::Text(QStringLiteral("var desc='<p>描述</p>';\n"), "GBK"));
    }
    QTest::mouseClick(w.BtnSearch, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(w.StatusPanels[0]->text(), QStringLiteral("搜索 5/6"), 20000);
    QVERIFY(w.ProgressBar1->isVisible());
    QCOMPARE(w.ProgressBar1->maximum(), 6);
    QCOMPARE(w.ProgressBar1->value(), 5);
    QCOMPARE(w.BtnSearch->text(), QStringLiteral("搜索中.."));
    QTRY_COMPARE_WITH_TIMEOUT(w.StatusPanels[0]->text(), QStringLiteral("完成：5 个宝贝，1 个失败"), 20000);
    QVERIFY(w.ProgressBar1->isHidden());
    QCOMPARE(w.BtnSearch->text(), QStringLiteral("开始搜索"));
    QTRY_COMPARE(w.StatusPanels[2]->text(), QStringLiteral("共 5 件，已选 5 件"));
    QVERIFY(w.asked.isEmpty());
}

void TestMainWindow::commandButtonStopsItsJob_data() {
    QTest::addColumn<TJobKind>("kind");
    QTest::addColumn<QString>("stopped");
    QTest::newRow("search") << TJobKind::Search << QStringLiteral("已停止：3 个宝贝");
    QTest::newRow("shop crawl") << TJobKind::Crawl << QStringLiteral("已停止：发现 3 个新宝贝");
    QTest::newRow("export") << TJobKind::Export << QStringLiteral("已停止：没有写入 CSV 文件");
    QTest::newRow("picture download") << TJobKind::Pictures << QStringLiteral("已停止：图片 3 张");
}

void TestMainWindow::commandButtonStopsItsJob() {
    QFETCH(TJobKind, kind);
    QFETCH(QString, stopped);
    TTestWindow& w = *m_window;
    QPushButton* button = kind == TJobKind::Search   ? w.BtnSearch
                          : kind == TJobKind::Crawl  ? w.BtnAdd
                          : kind == TJobKind::Export ? w.Button9
                                                     : w.Button10;
    // A job that has finished 3 of 7 steps and goes on until it is stopped.
    QVERIFY(m_core->StartJob(kind, [](const TJobContext& job) {
        job.Report().Advance(3, 7);
        while (!job.Stopped())
            QThread::msleep(5);
        TJobResult result;
        result.Outcome = TJobOutcome::Stopped;
        result.Count = 3;
        return result;
    }));
    QTRY_COMPARE(w.StatusPanels[0]->text(), TAppCore::ProgressText(kind, 3, 7));
    QCOMPARE(button->text(), TAppCore::BusyCaption(kind));
    QVERIFY(button->isEnabled());
    QVERIFY(!w.BtnBatchWatermark->isEnabled());
    // "No" lets it run on; "Yes" stops it.
    const QString question = QStringLiteral("提示|确定要停止吗?");
    w.answer = QMessageBox::No;
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(w.asked, QStringList{question});
    QTest::qWait(50);
    QVERIFY(m_core->Running(kind));
    w.answer = QMessageBox::Yes;
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(w.asked, (QStringList{question, question}));
    QTRY_VERIFY(!m_core->Running(kind));
    QCOMPARE(w.StatusPanels[0]->text(), stopped);
    QCOMPARE(button->text(), TAppCore::DefaultCaption(kind));
    QVERIFY(button->isEnabled() && w.BtnBatchWatermark->isEnabled());
    // Pressed again, the button starts its command as before (no question).
    QCOMPARE(w.asked.size(), 2);
}

void TestMainWindow::manyLinksPastedAtOnce() {
    TTestWindow& w = *m_window;
    m_core->Links()->Append(itemLink(3));
    QStringList pasted;
    for (int id = 1; id <= 10; ++id)
        pasted.append(itemLink(id));
    // Ten links pasted, on lines, with spaces and a tab between some of them.
    w.edit1->setPlainText(pasted.mid(0, 4).join("\n") + "  " + pasted.mid(4, 3).join("\t") + "\r\n" +
                          pasted.mid(7).join("\n") + "\n");
    QTest::mouseClick(w.BtnAdd, Qt::LeftButton);
    QTRY_COMPARE(w.ListBox1->count(), 10);
    QCOMPARE(m_core->Links()->Items(), QStringList{itemLink(3)} + pasted.mid(0, 2) + pasted.mid(3));
    QCOMPARE(w.StatusPanels[4]->text(), QStringLiteral("已添加 9 个连接，1 个已在列表中"));
    QVERIFY(w.asked.isEmpty()); // no box per duplicate
    QCOMPARE(w.edit1->toPlainText(), QString());
}

void TestMainWindow::selectionCountFollowsTheTable() {
    TTestWindow& w = *m_window;
    TItemTable& table = *m_core->Table();
    for (const QString& title : {QStringLiteral("一"), QStringLiteral("二"), QStringLiteral("三")})
        addItem(table, title);
    QTRY_COMPARE(w.StatusPanels[2]->text(), QStringLiteral("共 3 件，已选 3 件"));
    table.ToggleMark(2);
    QTRY_COMPARE(w.StatusPanels[2]->text(), QStringLiteral("共 3 件，已选 2 件"));
    table.InvertSelection();
    QTRY_COMPARE(w.StatusPanels[2]->text(), QStringLiteral("共 3 件，已选 1 件"));
    QVERIFY(StringGridDel(table, 2));
    QTRY_COMPARE(w.StatusPanels[2]->text(), QStringLiteral("共 2 件，已选 0 件"));
    table.ResetGrid();
    QTRY_COMPARE(w.StatusPanels[2]->text(), QStringLiteral("共 0 件，已选 0 件"));
}

void TestMainWindow::priceAdjustmentControls() {
    TTestWindow& w = *m_window;
    QCOMPARE(w.SpinPriceFactor->value(), 1.0);
    QCOMPARE(w.SpinPriceAmount->value(), 0.0);
    w.SpinPriceFactor->setValue(1.2);
    w.SpinPriceAmount->setValue(5);
    QCOMPARE(m_core->Choices().PriceFactor, 1.2);
    QCOMPARE(m_core->Choices().PriceAmount, 5.0);
    // A change through the core shows in the controls.
    m_core->UpdateChoices([](TChoices& c) { c.PriceAmount = -2.5; });
    QCOMPARE(w.SpinPriceAmount->value(), -2.5);
    QVERIFY(m_core->SaveState().ok());
    TChoices read;
    ReadSettings(read, m_dir->filePath(QStringLiteral("setting.ini")));
    QCOMPARE(read.PriceFactor, 1.2);
    QCOMPARE(read.PriceAmount, -2.5);
}

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

void TestMainWindow::deleteKeyAndSpace() {
    TTestWindow& w = *m_window;
    for (const char* title : {"甲", "乙", "丙"})
        m_core->Table()->AppendRow(
            [title](TRowWriter& row) { row.SetCell(ColTitle, QString::fromUtf8(title)); });
    w.StringGrid1->setFocus();
    // Space unticks the current row.
    w.StringGrid1->SetCurrentCell(ColTitle, 2);
    QTest::keyClick(w.StringGrid1, Qt::Key_Space);
    QCOMPARE(m_core->Items().Cell(ColSelect, 2), QString());
    // Delete asks once for the ticked rows; "否" keeps them, "是" deletes them.
    w.asked.clear();
    w.answer = QMessageBox::No;
    QTest::keyClick(w.StringGrid1, Qt::Key_Delete);
    QCOMPARE(w.asked, QStringList{QStringLiteral("删除提示|确定要删除选中的 2 个宝贝吗?")});
    QCOMPARE(m_core->Items().RowCount(), 4);
    w.answer = QMessageBox::Yes;
    QTest::keyClick(w.StringGrid1, Qt::Key_Delete);
    QCOMPARE(m_core->Items().RowCount(), 2);
    QCOMPARE(m_core->Items().Cell(ColTitle, 1), QStringLiteral("乙"));
    // With nothing ticked, it says so.
    w.asked.clear();
    QTest::keyClick(w.StringGrid1, Qt::Key_Delete);
    QCOMPARE(w.asked, QStringList{QStringLiteral("提示|没有选中的宝贝")});
}

#include "test_mainwindow.moc"
