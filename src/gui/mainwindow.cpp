#include "gui/mainwindow.h"

#include "app/appcore.h"
#include "app/session.h"
#include "base/itemcolumns.h"
#include "base/text.h"
#include "gui/infoedit.h"
#include "gui/stringgridview.h"
#include "gui/webpages.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <climits>

#include <memory>
#include <vector>

namespace {

QPushButton* makeButton(const QString& caption, const QString& name, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

} // namespace

TFrMain::TFrMain(TAppCore* core, QWidget* parent) : QMainWindow(parent), m_core(core) {
    FormCreate();
}

TFrMain::~TFrMain() {
    FormDestroy();
}

QSize TFrMain::SizeForScreen(const QSize& screen) {
    return {screen.width() - screen.width() / 5, screen.height() - screen.height() / 5};
}

void TFrMain::FormCreate() {
    setObjectName(QStringLiteral("FrMain"));
    setWindowTitle(QStringLiteral("Quelvar网店宝贝复制专家"));

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    m_pointers = new TPointerFetcher(this);
    // The welcome view opens no windows and shows no script dialogs; the help view's new windows
    // open in the user's browser.
    WelcomeView = new QWebEngineView;
    WelcomeView->setObjectName(QStringLiteral("WebBrowser1"));
    WelcomeView->setPage(new TWelcomePage(WelcomeView));
    TabSheet1 = WelcomeView;
    TabSheet2 = buildSearchPage();
    TabSheet3 = buildSettingsPage();
    TabSheet4 = buildLogPage();
    HelpView = new QWebEngineView;
    HelpView->setObjectName(QStringLiteral("WebBrowser2"));
    HelpView->setPage(new THelpPage([this](const QUrl& url) { OpenInBrowser(url); }, HelpView));
    TabSheet5 = HelpView;
    // An empty view shows the window's colour rather than a white page; a page, once it loads, is
    // on white as in any browser (a publisher's page without a background of its own would show
    // its black text on the dark window otherwise).
    for (QWebEngineView* view : {WelcomeView, HelpView}) {
        view->page()->setBackgroundColor(palette().color(QPalette::Window));
        connect(view, &QWebEngineView::loadStarted, view,
                [view] { view->page()->setBackgroundColor(Qt::white); });
    }
    // A publisher's page that does not load gives way to the program's own.
    FallBackToBuiltInPage(WelcomeView, BuiltInWelcomePage());
    FallBackToBuiltInPage(HelpView, BuiltInHelpPage());
    PageControl1->addTab(TabSheet1, QStringLiteral("欢迎使用"));
    PageControl1->addTab(TabSheet2, QStringLiteral("宝贝搜索"));
    PageControl1->addTab(TabSheet3, QStringLiteral(" 设 置 "));
    PageControl1->addTab(TabSheet4, QStringLiteral(" 日 志 "));
    PageControl1->addTab(TabSheet5, QStringLiteral("帮助中心"));
    setCentralWidget(PageControl1);
    buildToolBar();
    buildStatusBar();

    // 1. The page tabs are hidden; the welcome page is current.
    PageControl1->tabBar()->hide();
    PageControl1->setCurrentIndex(0);

    // 4. Size: the screen less a fifth; centred when shown.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        resize(SizeForScreen(screen->size()));
        move(screen->geometry().center() - rect().center());
    }
    // 5. The second status panel starts empty.
    StatusPanels[1]->clear();

    // The core's start-up steps: page cache, settings, table reset, saved table and link list,
    // version, update buffer, province list. Their messages are shown as they come.
    connect(m_core, &TAppCore::messageShown, this, [this](const QString& text, const QString& caption) {
        MessageBox(text, caption, QMessageBox::Ok, QMessageBox::Information);
    });
    if (const TStatus started = m_core->Startup(); !started)
        MessageBox(m_core->FolderBusyMessage(), QStringLiteral("提示"), QMessageBox::Ok,
                   QMessageBox::Warning);
    showChoices();
    ListBox1->addItems(m_core->LinkItems().Items());
    Label5->setText(m_core->VersionText);

    // 13. The check-box pictures, made once from the style's check-box indicator.
    StringGrid1->SetCheckPictures(MakeCheckPicture(true), MakeCheckPicture(false));

    // The item editor: created hidden, kept for the whole run.
    InfoEdit = new TFInfoEdit(
        m_core, [this] { return StringGrid1->Row(); }, this);
    InfoEdit->hide();

    connectCore();
}

void TFrMain::buildToolBar() {
    auto* bar = new QToolBar(this);
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setIconSize(QSize(32, 32));
    addToolBar(Qt::TopToolBarArea, bar);

    struct Tool {
        const char16_t* caption;
        QStyle::StandardPixmap icon;
        std::function<void()> action;
    };
    const Tool tools[] = {
        {u"欢迎使用", QStyle::SP_DirHomeIcon, [this] { PageControl1->setCurrentIndex(0); }},
        {u"商品下载", QStyle::SP_ArrowDown, [this] { PageControl1->setCurrentIndex(1); }},
        {u"设置", QStyle::SP_FileDialogDetailedView, [this] { PageControl1->setCurrentIndex(2); }},
        {u"运行日志", QStyle::SP_FileDialogContentsView, [this] { PageControl1->setCurrentIndex(3); }},
        {u"帮助", QStyle::SP_DialogHelpButton,
         [this] {
             PageControl1->setCurrentIndex(4);
             CheckUpdate(false);
             LoadPointedPage(HelpView, QStringLiteral("/help.txt"), BuiltInHelpPage());
         }},
        {u"客服", QStyle::SP_MessageBoxInformation, [this] { openSupportChat(); }},
        // "退出" ends the application without the close step; the destroy step still saves.
        {u"退出", QStyle::SP_DialogCloseButton, [] { QCoreApplication::exit(0); }},
    };
    for (const Tool& tool : tools) {
        auto* button = new QToolButton(bar);
        button->setText(QString::fromUtf16(tool.caption));
        button->setIcon(style()->standardIcon(tool.icon));
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setAutoRaise(true);
        button->setMinimumWidth(72);
        connect(button, &QToolButton::clicked, this, tool.action);
        bar->addWidget(button);
        ToolButtons.append(button);
    }
}

QWidget* TFrMain::buildSearchPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    // Top row: data source, link kind, link input.
    auto* top = new QHBoxLayout;
    RadioGroup1 = new QGroupBox(QStringLiteral("数据来源"), page);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    auto* sources = new QHBoxLayout(RadioGroup1);
    for (const QString& caption : {QStringLiteral("淘宝"), QStringLiteral("1688"), QStringLiteral("拍拍")}) {
        auto* radio = new QRadioButton(caption, RadioGroup1);
        sources->addWidget(radio);
        RadioGroup1Items.append(radio);
    }
    top->addWidget(RadioGroup1);
    ComboBox1 = new QComboBox(page);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems({QStringLiteral("宝贝连接"), QStringLiteral("店铺连接"), QStringLiteral("店铺分类")});
    top->addWidget(ComboBox1);
    edit1 = new QPlainTextEdit(page);
    edit1->setObjectName(QStringLiteral("edit1"));
    // A multi-line box (pasted addresses keep their line breaks until the add command trims them),
    // two lines high.
    edit1->setFixedHeight(edit1->fontMetrics().lineSpacing() * 2 + 12);
    edit1->setTabChangesFocus(true);
    top->addWidget(edit1, 1);
    layout->addLayout(top);

    // Middle: the link list with the command row beside it.
    auto* listBox = new QGroupBox(QStringLiteral("商品列表"), page);
    auto* listLayout = new QHBoxLayout(listBox);
    ListBox1 = new QListWidget(listBox);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    listLayout->addWidget(ListBox1, 1);
    auto* commands = new QGridLayout;
    BtnAdd = makeButton(QStringLiteral("︾添加"), QStringLiteral("BtnAdd"), listBox);
    BtnRemove = makeButton(QStringLiteral("移除"), QStringLiteral("BtnRemove"), listBox);
    BtnClear = makeButton(QStringLiteral("清空"), QStringLiteral("BtnClear"), listBox);
    BtnSearch = makeButton(QStringLiteral("开始搜索"), QStringLiteral("BtnSearch"), listBox);
    BtnSelectAll = makeButton(QStringLiteral("全选"), QStringLiteral("BtnSelectAll"), listBox);
    BtnInvert = makeButton(QStringLiteral("反选"), QStringLiteral("BtnInvert"), listBox);
    Button9 = makeButton(QStringLiteral("导出CSV"), QStringLiteral("Button9"), listBox);
    Button10 = makeButton(QStringLiteral("下载图片"), QStringLiteral("Button10"), listBox);
    BtnBatchWatermark =
        makeButton(QStringLiteral("批量修改水印文字"), QStringLiteral("BtnBatchWatermark"), listBox);
    const QList<QPushButton*> order = {BtnAdd,    BtnRemove, BtnClear, BtnSearch,        BtnSelectAll,
                                       BtnInvert, Button9,   Button10, BtnBatchWatermark};
    for (int i = 0; i < order.size(); ++i)
        commands->addWidget(order[i], i / 3, i % 3);
    listLayout->addLayout(commands);

    StringGrid1 = new TStringGridView(m_core, page);
    StringGrid1->setObjectName(QStringLiteral("StringGrid1"));

    auto* splitter = new QSplitter(Qt::Vertical, page);
    splitter->addWidget(listBox);
    splitter->addWidget(StringGrid1);
    splitter->setStretchFactor(1, 3);
    layout->addWidget(splitter, 1);

    connect(BtnSelectAll, &QPushButton::clicked, this, [this] { m_core->SelectAllItems(); });
    connect(BtnInvert, &QPushButton::clicked, this, [this] { m_core->InvertItemSelection(); });
    connect(StringGrid1->DeleteAction(), &QAction::triggered, this, &TFrMain::deleteCurrentRow);
    connect(StringGrid1->DeleteSelectedAction(), &QAction::triggered, this, &TFrMain::deleteSelectedRows);
    return page;
}

QWidget* TFrMain::buildSettingsPage() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);

    auto* version = new QHBoxLayout;
    Button11 = makeButton(QStringLiteral("检测更新"), QStringLiteral("Button11"), page);
    version->addWidget(Button11);
    version->addWidget(new QLabel(QStringLiteral("当前版本:"), page));
    Label5 = new QLabel(page);
    Label5->setObjectName(QStringLiteral("Label5"));
    version->addWidget(Label5);
    // "更新已下载，退出时安装" once a downloaded update waits for the end of the program.
    UpdateNote = new QLabel(page);
    UpdateNote->setObjectName(QStringLiteral("UpdateNote"));
    UpdateNote->hide();
    version->addWidget(UpdateNote);
    version->addStretch(1);
    layout->addLayout(version);

    Panel6 = new QGroupBox(QStringLiteral("更新中"), page);
    Panel6->setObjectName(QStringLiteral("Panel6"));
    auto* updateLayout = new QHBoxLayout(Panel6);
    ProgressBar2 = new QProgressBar(Panel6);
    ProgressBar2->setObjectName(QStringLiteral("ProgressBar2"));
    updateLayout->addWidget(ProgressBar2);
    Panel6->hide(); // shown while an update downloads
    layout->addWidget(Panel6);

    BtnClearCache = makeButton(QStringLiteral("清除临时数据"), QStringLiteral("BtnClearCache"), page);
    auto* cacheRow = new QHBoxLayout;
    cacheRow->addWidget(BtnClearCache);
    cacheRow->addStretch(1);
    layout->addLayout(cacheRow);

    auto* watermark = new QHBoxLayout;
    watermark->addWidget(new QLabel(QStringLiteral("水印文字:"), page));
    WatermarkEdit = new QLineEdit(page);
    WatermarkEdit->setObjectName(QStringLiteral("Edit4"));
    watermark->addWidget(WatermarkEdit, 1);
    layout->addLayout(watermark);

    cbDL = new QCheckBox(QStringLiteral("不下载商品主图"), page);
    cbDLXX = new QCheckBox(QStringLiteral("不下载商品属性"), page);
    cbDLJG = new QCheckBox(QStringLiteral("标题合并价格"), page);
    for (QCheckBox* box : {cbDL, cbDLXX, cbDLJG})
        layout->addWidget(box);

    // The export's prices: price × factor + amount, two decimals.
    auto* prices = new QGroupBox(QStringLiteral("价格调整"), page);
    prices->setObjectName(QStringLiteral("GroupPriceAdjustment"));
    auto* pricesLayout = new QHBoxLayout(prices);
    SpinPriceFactor = new QDoubleSpinBox(prices);
    SpinPriceFactor->setObjectName(QStringLiteral("SpinPriceFactor"));
    SpinPriceFactor->setDecimals(4);
    SpinPriceFactor->setRange(0.0001, MaxPriceFactor);
    SpinPriceFactor->setSingleStep(0.05);
    SpinPriceFactor->setValue(1);
    SpinPriceAmount = new QDoubleSpinBox(prices);
    SpinPriceAmount->setObjectName(QStringLiteral("SpinPriceAmount"));
    SpinPriceAmount->setDecimals(2);
    SpinPriceAmount->setRange(-MaxPriceAmount, MaxPriceAmount);
    SpinPriceAmount->setSingleStep(1);
    pricesLayout->addWidget(new QLabel(QStringLiteral("导出价格 = 价格 ×"), prices));
    pricesLayout->addWidget(SpinPriceFactor);
    pricesLayout->addWidget(new QLabel(QStringLiteral("+"), prices));
    pricesLayout->addWidget(SpinPriceAmount);
    pricesLayout->addWidget(new QLabel(QStringLiteral("（保留两位小数；价格区间的每个数都调整）"), prices));
    pricesLayout->addStretch(1);
    layout->addWidget(prices);

    BtnBatchTitles = makeButton(QStringLiteral("批量替换宝贝名称"), QStringLiteral("BtnBatchTitles"), page);
    auto* titlesRow = new QHBoxLayout;
    titlesRow->addWidget(BtnBatchTitles);
    titlesRow->addStretch(1);
    layout->addLayout(titlesRow);
    layout->addStretch(1);
    return page;
}

QWidget* TFrMain::buildLogPage() {
    Memo1 = new QPlainTextEdit;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Base, Qt::black);
    palette.setColor(QPalette::Text, QColor(0, 255, 0));
    Memo1->setPalette(palette);
    return Memo1;
}

void TFrMain::buildStatusBar() {
    StatusBar1 = statusBar();
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    const int widths[] = {200, 20, 200, 200, 50};
    for (int i = 0; i < 5; ++i) {
        auto* panel = new QLabel(StatusBar1);
        panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        panel->setMinimumWidth(widths[i]);
        if (i < 4)
            panel->setMaximumWidth(widths[i]);
        StatusBar1->addWidget(panel, i == 4 ? 1 : 0);
        StatusPanels.append(panel);
        if (i == 0) {
            ProgressBar1 = new QProgressBar(StatusBar1);
            ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
            ProgressBar1->setFixedWidth(140);
            ProgressBar1->setTextVisible(false);
            ProgressBar1->hide();
            StatusBar1->addWidget(ProgressBar1);
        }
    }
    // The first panel may say what came of a job at more length than its width.
    StatusPanels[0]->setMaximumWidth(360);
    StatusPanels[3]->setText(QStringLiteral("版本 ") + TAppCore::FileVersionText());
    UpdateStatus = new QLabel(StatusBar1);
    UpdateStatus->setObjectName(QStringLiteral("UpdateStatus"));
    UpdateStatus->hide();
    StatusBar1->addPermanentWidget(UpdateStatus);
}

void TFrMain::showChoices() {
    const TChoices c = m_core->Choices();
    // The controls show the core's choices without announcing that as a change of their own.
    const QList<QObject*> controls = {RadioGroup1, ComboBox1, edit1,           WatermarkEdit,  cbDL,
                                      cbDLXX,      cbDLJG,    SpinPriceFactor, SpinPriceAmount};
    std::vector<std::unique_ptr<QSignalBlocker>> blockers;
    for (QObject* control : controls)
        blockers.push_back(std::make_unique<QSignalBlocker>(control));
    for (QRadioButton* radio : RadioGroup1Items)
        blockers.push_back(std::make_unique<QSignalBlocker>(radio));
    if (c.DataSource >= 0 && c.DataSource < RadioGroup1Items.size())
        RadioGroup1Items[c.DataSource]->setChecked(true);
    ComboBox1->setCurrentIndex(c.LinkKind);
    if (edit1->toPlainText() != c.LinkText)
        edit1->setPlainText(c.LinkText);
    if (WatermarkEdit->text() != c.WatermarkText)
        WatermarkEdit->setText(c.WatermarkText);
    cbDL->setChecked(c.NoMainPictures);
    cbDLXX->setChecked(c.NoProperties);
    cbDLJG->setChecked(c.TitleWithPrice);
    SpinPriceFactor->setValue(c.PriceFactor);
    SpinPriceAmount->setValue(c.PriceAmount);
}

void TFrMain::connectCore() {
    TAppCore& core = *m_core;
    for (int i = 0; i < RadioGroup1Items.size(); ++i)
        connect(RadioGroup1Items[i], &QRadioButton::toggled, this, [this, &core, i](bool on) {
            const int old = core.Choices().DataSource;
            if (!on || old == i)
                return;
            // Another source empties the table and the link list: nothing the seller has goes
            // without a question.
            const bool somethingToLose = core.Items().RowCount() > 1 || core.LinkItems().Count() > 0;
            if (somethingToLose && MessageBox(QStringLiteral("切换数据来源会清空宝贝表格和商品列表，确定吗?"),
                                              QStringLiteral("提示"), QMessageBox::Yes | QMessageBox::No,
                                              QMessageBox::Question) != QMessageBox::Yes) {
                if (old >= 0 && old < RadioGroup1Items.size()) {
                    const QSignalBlocker quiet(RadioGroup1Items[old]);
                    RadioGroup1Items[old]->setChecked(true);
                }
                return;
            }
            core.ChangeDataSource(i);
        });
    connect(ComboBox1, &QComboBox::currentIndexChanged, this,
            [&core](int kind) { core.ChangeLinkKind(kind); });
    connect(edit1, &QPlainTextEdit::textChanged, this, [this, &core] {
        const QString text = edit1->toPlainText();
        core.UpdateChoices([&text](TChoices& c) { c.LinkText = text; });
    });
    connect(WatermarkEdit, &QLineEdit::textChanged, this, [&core](const QString& text) {
        core.UpdateChoices([&text](TChoices& c) { c.WatermarkText = text; });
    });
    connect(cbDL, &QCheckBox::toggled, this,
            [&core](bool on) { core.UpdateChoices([on](TChoices& c) { c.NoMainPictures = on; }); });
    connect(cbDLXX, &QCheckBox::toggled, this,
            [&core](bool on) { core.UpdateChoices([on](TChoices& c) { c.NoProperties = on; }); });
    connect(cbDLJG, &QCheckBox::toggled, this,
            [&core](bool on) { core.UpdateChoices([on](TChoices& c) { c.TitleWithPrice = on; }); });
    connect(SpinPriceFactor, &QDoubleSpinBox::valueChanged, this, [&core](double factor) {
        core.UpdateChoices([factor](TChoices& c) { c.PriceFactor = factor; });
    });
    connect(SpinPriceAmount, &QDoubleSpinBox::valueChanged, this, [&core](double amount) {
        core.UpdateChoices([amount](TChoices& c) { c.PriceAmount = amount; });
    });
    connect(m_core, &TAppCore::choicesChanged, this, &TFrMain::showChoices);
    // Leaving the watermark box trims its text.
    connect(WatermarkEdit, &QLineEdit::editingFinished, this,
            [this] { WatermarkEdit->setText(TrimText(WatermarkEdit->text())); });
    connect(Button11, &QPushButton::clicked, this, [this] { CheckUpdate(true); });
    connect(BtnClearCache, &QPushButton::clicked, this, [this] {
        if (const TStatus cleared = m_core->ClearTemporaryData(); !cleared)
            MessageBox(cleared.error().Detail, QStringLiteral("提示"), QMessageBox::Ok,
                       QMessageBox::Information);
    });

    // The link-collection commands.
    // A command's button stops its running job instead (after asking).
    connect(BtnAdd, &QPushButton::clicked, this, [this, &core] {
        if (!stopOnPress(TJobKind::Crawl))
            core.AddLink();
    });
    connect(BtnRemove, &QPushButton::clicked, this,
            [this, &core] { core.RemoveLink(ListBox1->currentRow()); });
    connect(BtnClear, &QPushButton::clicked, this, [&core] { core.ClearLinks(); });
    connect(Button9, &QPushButton::clicked, this, &TFrMain::Button9Click);
    connect(BtnBatchWatermark, &QPushButton::clicked, this, &TFrMain::BtnBatchWatermarkClick);
    connect(BtnBatchTitles, &QPushButton::clicked, this, &TFrMain::BtnBatchTitlesClick);
    connect(StringGrid1->EditAction(), &QAction::triggered, InfoEdit, &TFInfoEdit::ShowInfoEdit);
    // While the editor is open it follows the table's cursor onto usable rows.
    connect(StringGrid1, &TStringGridView::StringGrid1Click, this, [this] {
        if (InfoEdit->isVisible())
            InfoEdit->GridToInfoEdit();
    });
    connect(Button10, &QPushButton::clicked, this, [this] {
        if (stopOnPress(TJobKind::Pictures))
            return;
        const QString folder = ChooseFolder(QStringLiteral("请选择要保存的文件夹"));
        if (!folder.isEmpty())
            m_core->StartPictureDownload(folder);
    });
    connect(BtnSearch, &QPushButton::clicked, this, [this, &core] {
        if (!stopOnPress(TJobKind::Search))
            core.StartSearch([this] { InfoEdit->hide(); });
    });

    // Reports from workers arrive queued on this thread.
    connect(m_core, &TAppCore::statusTextChanged, this,
            [this](const QString& text) { StatusPanels[4]->setText(text); });
    connect(m_core, &TAppCore::logCleared, Memo1, &QPlainTextEdit::clear);
    connect(m_core, &TAppCore::logLine, Memo1, &QPlainTextEdit::appendPlainText);
    connect(m_core, &TAppCore::commandsEnabled, this, &TFrMain::EnableCommands);
    // A job's progress and its end: the first status panel and the bar beside it; the update
    // download's bytes go to its own bar on the settings page.
    connect(m_core, &TAppCore::jobStarted, this, &TFrMain::showJobStarted);
    connect(m_core, &TAppCore::jobAdvanced, this, [this](TJobKind kind, qint64 done, qint64 total) {
        if (kind != TJobKind::Update) {
            showJobAdvanced(kind, done, total);
            return;
        }
        // In bytes (a download is limited well below the bar's range); a busy bar while the
        // server has not said how many.
        const qint64 most = TAppCore::MaxUpdateBytes();
        ProgressBar2->setRange(0, int(qBound<qint64>(0, total, most)));
        ProgressBar2->setValue(int(qBound<qint64>(0, done, most)));
        UpdateStatus->setText(
            total > 0 ? QStringLiteral("更新中 %1%").arg(std::clamp<qint64>(done * 100 / total, 0, 100))
                      : QStringLiteral("更新中"));
    });
    connect(m_core, &TAppCore::jobFinished, this, [this](TJobKind kind, const TJobResult& result) {
        if (kind == TJobKind::Update)
            UpdateDownloaded(result);
        else
            showJobFinished(kind, result);
    });
    connect(m_core, &TAppCore::captionChanged, this, [this](TJobKind kind, const QString& caption) {
        if (QPushButton* button = commandButton(kind))
            button->setText(caption);
    });

    // The item and selection count follows every change of the table (the table changes on this
    // thread only; the count is shown once per turn of the event loop).
    const TItemTable* table = &m_core->Items();
    connect(table, &TItemTable::rowsAppended, this, &TFrMain::selectionCountChanged);
    connect(table, &TItemTable::cellsChanged, this, &TFrMain::selectionCountChanged);
    connect(table, &TItemTable::rowRemoved, this, &TFrMain::selectionCountChanged);
    connect(table, &TItemTable::tableReset, this, &TFrMain::selectionCountChanged);
    showSelectionCount();

    const TLinkList* links = &m_core->LinkItems();
    connect(
        links, &TLinkList::appended, ListBox1, [this](int, const QString& link) { ListBox1->addItem(link); },
        Qt::QueuedConnection);
    connect(
        links, &TLinkList::removed, ListBox1, [this](int index) { delete ListBox1->takeItem(index); },
        Qt::QueuedConnection);
    connect(
        links, &TLinkList::reset, ListBox1,
        [this](const QStringList& items) {
            ListBox1->clear();
            ListBox1->addItems(items);
        },
        Qt::QueuedConnection);
}

QPushButton* TFrMain::commandButton(TJobKind kind) const {
    switch (kind) {
    case TJobKind::Search:
        return BtnSearch;
    case TJobKind::Export:
        return Button9;
    case TJobKind::Pictures:
        return Button10;
    case TJobKind::Crawl:
        return BtnAdd;
    case TJobKind::Update:
        break;
    }
    return nullptr;
}

bool TFrMain::stopOnPress(TJobKind kind) {
    if (!m_core->Running(kind))
        return false;
    if (MessageBox(QStringLiteral("确定要停止吗?"), QStringLiteral("提示"),
                   QMessageBox::Yes | QMessageBox::No, QMessageBox::Question) == QMessageBox::Yes &&
        m_core->Running(kind)) {
        m_core->StopJob(kind);
        StatusPanels[0]->setText(QStringLiteral("正在停止..."));
    }
    return true;
}

void TFrMain::showJobStarted(TJobKind kind) {
    if (kind == TJobKind::Update)
        return;
    // The busy state has locked the commands; the running one's button stays usable, to stop it.
    if (QPushButton* button = commandButton(kind))
        button->setEnabled(true);
    StatusPanels[0]->setText(TAppCore::ProgressText(kind, 0, 0));
    StatusPanels[0]->setToolTip(QString());
    ProgressBar1->setRange(0, 0); // moving, until the total is known
    ProgressBar1->show();
}

void TFrMain::showJobAdvanced(TJobKind kind, qint64 done, qint64 total) {
    if (!m_core->Running(kind))
        return; // a report that arrives after the job's end
    StatusPanels[0]->setText(TAppCore::ProgressText(kind, done, total));
    if (total > 0) {
        // Links, pages, rows and pictures: counts far inside the bar's range.
        ProgressBar1->setRange(0, int(std::min<qint64>(total, INT_MAX)));
        ProgressBar1->setValue(int(std::min(done, total)));
    }
}

void TFrMain::showJobFinished(TJobKind kind, const TJobResult& result) {
    const QString text = TAppCore::OutcomeText(kind, result);
    StatusPanels[0]->setText(text);
    StatusPanels[0]->setToolTip(text);
    ProgressBar1->hide();
}

void TFrMain::selectionCountChanged() {
    if (m_selectionCountDue)
        return;
    m_selectionCountDue = true;
    QTimer::singleShot(0, this, [this] {
        m_selectionCountDue = false;
        showSelectionCount();
    });
}

void TFrMain::showSelectionCount() {
    const TItemTable::TSelectionCount count = m_core->Items().SelectionCount();
    StatusPanels[2]->setText(QStringLiteral("共 %1 件，已选 %2 件").arg(count.items).arg(count.selected));
}

void TFrMain::EnableCommands(bool Enabled) {
    for (QWidget* w : std::initializer_list<QWidget*>{RadioGroup1, BtnAdd, BtnInvert, BtnSelectAll, BtnSearch,
                                                      Button9, Button10, BtnBatchWatermark})
        w->setEnabled(Enabled);
}

void TFrMain::deleteCurrentRow() {
    const TItemTable& items = m_core->Items();
    const int row = StringGrid1->Row();
    if (!items.IsUsableRow(row))
        return;
    // The question names the row's item; the row is deleted by its identity, in case a job has
    // changed the table while the question was open.
    const quint64 id = items.RowId(row);
    const QString question =
        QStringLiteral("确定要删除 '") + items.Cell(ColTitle, row) + QStringLiteral("' 吗?");
    if (MessageBox(question, QStringLiteral("删除提示"), QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::Question) == QMessageBox::Yes)
        m_core->DeleteItem(items.RowOfId(id));
}

void TFrMain::deleteSelectedRows() {
    const int selected = m_core->Items().SelectionCount().selected;
    if (selected == 0) {
        MessageBox(TAppCore::NothingSelectedMessage(), QStringLiteral("提示"), QMessageBox::Ok,
                   QMessageBox::Information);
        return;
    }
    if (MessageBox(QStringLiteral("确定要删除选中的 %1 个宝贝吗?").arg(selected), QStringLiteral("删除提示"),
                   QMessageBox::Yes | QMessageBox::No, QMessageBox::Question) == QMessageBox::Yes)
        m_core->DeleteSelectedItems();
}

void TFrMain::openSupportChat() {
    const QString account = TSession::ServiceValue(TServiceKey::SupportAccount);
    const QString link = QStringLiteral("tencent://message/?uin=") + account;
    TSession::OpenLink(link, this, [this, account](bool opened) {
        if (!opened)
            MessageBox(QStringLiteral("这台电脑上没有可以打开QQ会话的程序。\n请在QQ中添加客服号码 ") +
                           account + QStringLiteral(" 与我们联系。"),
                       QStringLiteral("提示"), QMessageBox::Ok, QMessageBox::Information);
    });
}

void TFrMain::Button9Click() {
    if (stopOnPress(TJobKind::Export))
        return;
    // Nothing ticked: said before a folder is asked for.
    if (m_core->Items().SelectionCount().selected == 0) {
        MessageBox(TAppCore::NothingSelectedMessage(), QStringLiteral("提示"), QMessageBox::Ok,
                   QMessageBox::Information);
        return;
    }
    const QString folder = ChooseFolder(QStringLiteral("请选择要保存的文件夹"));
    if (folder.isEmpty())
        return;
    // A package file held open by another program (the spreadsheet it was checked in): the user may
    // close it and try again.
    for (;;) {
        const TStatus started = m_core->StartExportTo(folder);
        if (started) {
            PageControl1->setCurrentWidget(TabSheet4);
            return;
        }
        if (started.error().Code != TErrc::Locked) {
            StatusPanels[4]->setText(started.error().Detail);
            MessageBox(started.error().Detail, QStringLiteral("提示"), QMessageBox::Ok,
                       QMessageBox::Information);
            return;
        }
        if (MessageBox(started.error().Detail, QStringLiteral("提示"),
                       QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Warning) != QMessageBox::Retry)
            return;
    }
}

void TFrMain::BtnBatchWatermarkClick() {
    const int changed = m_core->BatchWatermark();
    StatusPanels[4]->setText(QStringLiteral("%1 个宝贝的水印文字已修改").arg(changed));
}

void TFrMain::BtnBatchTitlesClick() {
    const QString file = ChooseFile(QStringLiteral("打开"));
    if (file.isEmpty())
        return;
    // The window says what came of it: a silent no-op would leave the user guessing.
    const TResult<int> replaced = m_core->RetitleFromFile(file);
    StatusPanels[4]->setText(replaced ? QStringLiteral("已替换 %1 个宝贝名称").arg(*replaced)
                                      : QStringLiteral("没有替换宝贝名称：") + replaced.error().Detail);
}

QString TFrMain::ChooseFile(const QString& caption) {
    return QFileDialog::getOpenFileName(this, caption);
}

QString TFrMain::ChooseFolder(const QString& caption) {
    return QFileDialog::getExistingDirectory(this, caption, QString(), QFileDialog::ShowDirsOnly);
}

QMessageBox::StandardButton TFrMain::MessageBox(const QString& text, const QString& caption,
                                                QMessageBox::StandardButtons buttons,
                                                QMessageBox::Icon icon) {
    QMessageBox box(icon, caption, text, buttons, this);
    // Texts from outside (a published version, a file name, a page's words) are shown as they are,
    // never as markup.
    box.setTextFormat(Qt::PlainText);
    return QMessageBox::StandardButton(box.exec());
}

void TFrMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        // Once the window is on the screen, so that a question about an update shows over it.
        QMetaObject::invokeMethod(this, &TFrMain::FormShow, Qt::QueuedConnection);
    }
}

void TFrMain::FormShow() {
    // The welcome page loads while the update question waits for an answer.
    LoadPointedPage(WelcomeView, QStringLiteral("/welcome.txt"), BuiltInWelcomePage());
    CheckUpdate(false);
}

void TFrMain::LoadPointedPage(QWebEngineView* view, const QString& pointerPath, const QUrl& builtIn) {
    QString server = TSession::ServiceValue(TServiceKey::PublisherServer);
    while (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    // The pointer file is fetched off this thread; the view navigates when it has come (or failed),
    // to the built-in page when it names nothing a view can show.
    const int key = view == WelcomeView ? 0 : 1;
    m_pointers->Fetch(key, server + pointerPath, [view, builtIn](const QString& text) {
        const QUrl address = UsablePageAddress(text);
        view->load(address.isEmpty() ? builtIn : address);
    });
}

void TFrMain::OpenInBrowser(const QUrl& url) {
    TSession::OpenInBrowser(url.toString());
}

TStatus TFrMain::WriteUpdateScript(bool restartNow) {
    return m_core->ApplyUpdate(restartNow);
}

void TFrMain::QuitAfterUpdate() {
    QCoreApplication::exit(0);
}

void TFrMain::CheckUpdate(bool verbose) {
    if (!m_core->UpdateOffered()) {
        if (verbose)
            MessageBox(QStringLiteral("已经是最新版本了！"), QStringLiteral("提示"), QMessageBox::Ok,
                       QMessageBox::Information);
        return;
    }
    // A download under way is not offered again; one waiting for the close is only recalled.
    if (m_core->Running(TJobKind::Update))
        return;
    if (m_core->NextstartupUpdate) {
        if (verbose)
            MessageBox(UpdateWaitsText(), QStringLiteral("更新提示"), QMessageBox::Ok,
                       QMessageBox::Information);
        return;
    }
    // Asked once a run; "检测更新" asks again.
    if (m_updateAsked && !verbose)
        return;
    m_updateAsked = true;
    // An installed copy never replaces itself: the package manager brings the new version.
    if (TAppCore::InstalledByPackageManager()) {
        MessageBox(TAppCore::PackageManagerUpdateMessage(), QStringLiteral("更新提示"), QMessageBox::Ok,
                   QMessageBox::Information);
        return;
    }
    if (MessageBox(QStringLiteral("检测到新版本 '") + TAppCore::LatestVersion() +
                       QStringLiteral("' 是否更新？"),
                   QStringLiteral("更新提示"), QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::Question) != QMessageBox::Yes)
        return;
    Button11->setEnabled(false);
    ProgressBar2->setMaximum(1);
    ProgressBar2->setValue(0);
    Panel6->show();
    UpdateStatus->setText(QStringLiteral("更新中"));
    UpdateStatus->show();
    if (!m_core->StartUpdateDownload()) {
        Panel6->hide();
        UpdateStatus->hide();
        Button11->setEnabled(true);
    }
}

QString TFrMain::UpdateWaitsText() {
    return QStringLiteral("更新已下载，退出时安装");
}

void TFrMain::UpdateDownloaded(const TJobResult& result) {
    // The settings page and the status bar are free again whatever came of the download.
    Panel6->hide();
    UpdateStatus->hide();
    Button11->setEnabled(true);
    if (result.Outcome == TJobOutcome::Stopped)
        return; // the program is ending: nothing to ask or say
    if (result.Outcome != TJobOutcome::Done) {
        // Nothing was staged; the reason is in the run log.
        MessageBox(QStringLiteral("更新失败,请检查网络后重新更新！"), QStringLiteral("提示"), QMessageBox::Ok,
                   QMessageBox::Information);
        PageControl1->setCurrentWidget(TabSheet3);
        Button11->setFocus();
        return;
    }
    const QString ready =
        QStringLiteral("更新文件已准备就绪\n\r\"是\" 现在重启并更新\n\r\"否\" 下次启动更新");
    if (MessageBox(ready, QStringLiteral("更新提示"), QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::Information) != QMessageBox::Yes) {
        // At the close, the script puts the new version in place without starting it.
        m_core->NextstartupUpdate = true;
        UpdateStatus->setText(UpdateWaitsText());
        UpdateStatus->show();
        UpdateNote->setText(UpdateWaitsText());
        UpdateNote->show();
        return;
    }
    if (const TStatus started = WriteUpdateScript(true); !started) {
        MessageBox(QStringLiteral("更新失败：") + started.error().Detail, QStringLiteral("提示"),
                   QMessageBox::Ok, QMessageBox::Information);
        return;
    }
    // The script waits for this process to end: the jobs are stopped and the state saved first.
    FormDestroy();
    QuitAfterUpdate();
}

void TFrMain::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TFrMain::FormClose() {
    if (!m_core->NextstartupUpdate)
        return;
    // An update waits for the close: the program ends now, and its script puts the new version
    // in place for the next start.
    FormDestroy();
    QuitAfterUpdate();
}

void TFrMain::FormDestroy() {
    if (m_destroyed)
        return;
    m_destroyed = true;
    // The running jobs are stopped and waited for before anything is saved; what could not be
    // saved has been shown.
    (void)m_core->Shutdown();
    // The update chosen for the next start is put in place by every orderly end ("退出" and a
    // signal too), once this process has gone. When its script cannot be started the old version
    // stays, and the user is told.
    if (m_core->NextstartupUpdate) {
        m_core->NextstartupUpdate = false;
        if (const TStatus started = WriteUpdateScript(false); !started)
            MessageBox(QStringLiteral("更新失败：") + started.error().Detail, QStringLiteral("提示"),
                       QMessageBox::Ok, QMessageBox::Information);
    }
}
