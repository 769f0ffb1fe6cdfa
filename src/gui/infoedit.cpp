#include "gui/infoedit.h"

#include "app/appcore.h"
#include "base/ansi.h"
#include "table/itemtable.h"

#include <QFile>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

// The text as it comes back from the ANSI code page: characters the code page cannot hold become "?".
QString throughCodePage(const QString& text) {
    return TAnsi::Decode(TAnsi::Encode(text));
}

// Puts the loaded page into edit mode, and keeps Tab inside it (as a tab in the text rather than a
// move of the focus to the window's buttons).
const char* const EditMode = R"(
document.designMode = "on";
document.addEventListener("keydown", function (e) {
    if (e.key === "Tab" && !e.ctrlKey && !e.altKey && !e.metaKey) {
        e.preventDefault();
        document.execCommand("insertText", false, "\t");
    }
}, true);
)";

QPushButton* button(const QString& caption, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    // Enter typed in the page never presses a button.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

} // namespace

TFInfoEdit::TFInfoEdit(TAppCore* core, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), m_core(core) {
    setObjectName(QStringLiteral("FInfoEdit"));
    setWindowTitle(QStringLiteral("编辑信息"));
    auto* layout = new QVBoxLayout(this);
    auto* fields = new QFormLayout;
    auto field = [this, fields](const QString& caption, const QString& name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(name);
        fields->addRow(new QLabel(caption, this), edit);
        return edit;
    };
    Edit1 = field(QStringLiteral("商品名称"), QStringLiteral("Edit1"));
    Edit2 = field(QStringLiteral("商品分类"), QStringLiteral("Edit2"));
    Edit3 = field(QStringLiteral("价格"), QStringLiteral("Edit3"));
    Edit4 = field(QStringLiteral("配送方式"), QStringLiteral("Edit4"));
    layout->addLayout(fields);
    layout->addWidget(new QLabel(QStringLiteral("商品详情"), this));
    WebBrowser1 = new QWebEngineView(this);
    WebBrowser1->setObjectName(QStringLiteral("WebBrowser1"));
    // The pictures the picture download saved are local files the description points at.
    WebBrowser1->settings()->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
    layout->addWidget(WebBrowser1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    BtnSave = button(QStringLiteral("保存"), QStringLiteral("BtnSave"), this);
    BtnCancel = button(QStringLiteral("取消"), QStringLiteral("BtnCancel"), this);
    buttons->addWidget(BtnSave);
    buttons->addWidget(BtnCancel);
    layout->addLayout(buttons);

    // Client area 652 × 455, centred on the desktop.
    resize(652, 455);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    connect(BtnSave, &QPushButton::clicked, this, &TFInfoEdit::InfoEditToGrid);
    connect(BtnCancel, &QPushButton::clicked, this, &QWidget::hide);
    connect(WebBrowser1, &QWebEngineView::loadFinished, this, [this](bool) {
        WebBrowser1->page()->runJavaScript(QString::fromLatin1(EditMode));
        m_loading = false;
        emit loaded();
    });
    SetWebBrowser(QString());
}

void TFInfoEdit::SetWebBrowser(const QString& Htmlstr) {
    m_pending = throughCodePage(Htmlstr);
    m_loading = true;
    // The page goes through a file: a description of any size loads, and it may show the local
    // pictures it refers to.
    const QString path = m_pageDir.filePath(QStringLiteral("description.html"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
        file.write("\xEF\xBB\xBF" + m_pending.toUtf8()) >= 0 && file.flush()) {
        file.close();
        WebBrowser1->load(QUrl::fromLocalFile(path));
    } else {
        WebBrowser1->setHtml(m_pending, QUrl::fromLocalFile(m_pageDir.path() + QLatin1Char('/')));
    }
}

void TFInfoEdit::GetWebBrowserHtml(const std::function<void(const QString&)>& result) {
    if (m_loading) {
        result(m_pending);
        return;
    }
    WebBrowser1->page()->toHtml([result](const QString& html) { result(throughCodePage(html)); });
}

void TFInfoEdit::GridToInfoEdit() {
    TItemTable& table = *m_core->Table();
    const int row = table.Row();
    if (!table.IsUsableRow(row))
        return;
    const QStringList cells = table.RowCells(row);
    m_row = table.RowId(row);
    Edit1->setText(cells[ColTitle]);
    Edit2->setText(cells[ColCategory]);
    Edit3->setText(cells[ColPrice]);
    Edit4->setText(cells[ColDelivery]);
    SetWebBrowser(cells[ColLocalDetail].isEmpty() ? cells[ColDetail] : cells[ColLocalDetail]);
}

void TFInfoEdit::ShowInfoEdit() {
    GridToInfoEdit();
    show();
    raise();
}

void TFInfoEdit::InfoEditToGrid() {
    TItemTable& table = *m_core->Table();
    if (!table.IsUsableRow(table.Row()) || m_row == 0)
        return;
    // The fields as they stand now, for the row shown now; the description joins them when the view
    // has given it back.
    TItemEdit edit;
    edit.Title = Edit1->text();
    edit.Category = Edit2->text();
    edit.Price = Edit3->text();
    edit.Delivery = Edit4->text();
    const quint64 row = m_row;
    GetWebBrowserHtml([this, edit, row](const QString& html) mutable {
        edit.LocalDetail = html;
        m_core->Table()->EditRow(row, edit);
        emit saved();
    });
}
