#include "gui/infoedit.h"

#include "app/appcore.h"
#include "app/session.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QVariantMap>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

namespace {

// The scheme local pictures are shown through, and how the picture download writes their addresses.
const QByteArray PictureScheme = "tovrel-picture";
const QString LocalPrefix = QStringLiteral("file:///");
const QString ViewPrefix = QStringLiteral("tovrel-picture:///");

// The largest picture file shown.
constexpr qint64 MaxPictureBytes = qint64(32) << 20;

// Serves picture files of this computer to the editor's page, and nothing else: a regular file
// with a picture's suffix, of a picture's size.
class TLocalPictureHandler : public QWebEngineUrlSchemeHandler {
  public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        const QString path = job->requestUrl().path(QUrl::FullyDecoded);
        static const QStringList suffixes = {
            QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("gif"),
            QStringLiteral("bmp"), QStringLiteral("webp"), QStringLiteral("tbi")};
        const QFileInfo info(path);
        if (!info.isFile() || info.isSymLink() || !suffixes.contains(info.suffix().toLower()) ||
            info.size() > MaxPictureBytes) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            job->fail(QWebEngineUrlRequestJob::RequestDenied);
            return;
        }
        auto* buffer = new QBuffer(job);
        buffer->setData(file.read(MaxPictureBytes));
        buffer->open(QIODevice::ReadOnly);
        // The picture's own bytes tell its kind; the page takes any image.
        job->reply("image/*", buffer);
    }
};

QString toView(QString html) {
    return html.replace(LocalPrefix, ViewPrefix, Qt::CaseInsensitive);
}

QString fromView(QString html) {
    return html.replace(ViewPrefix, LocalPrefix);
}

// The document the descriptions are shown in: it never changes; descriptions replace its body.
const char* const Skeleton =
    "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><base href=\"http://item.taobao.com/\"></head>"
    "<body></body></html>";

// Run once the document is there (in the editor's own script world; the page's scripts never run):
// edit mode, and Tab kept inside the page (a tab in the text rather than a move of the focus to the
// window's buttons).
const char* const EditMode = R"(
document.designMode = "on";
document.addEventListener("keydown", function (e) {
    if (e.key === "Tab" && !e.ctrlKey && !e.altKey && !e.metaKey) {
        e.preventDefault();
        document.execCommand("insertText", false, "\t");
    }
}, true);
true;
)";

// The body as "保存" stores it: a copy without script elements, event-handler attributes and
// script addresses, and how many such things were taken out.
const char* const ReadBack = R"(
(function () {
    var body = document.body.cloneNode(true);
    var removed = 0;
    body.querySelectorAll("script").forEach(function (e) { e.remove(); removed++; });
    body.querySelectorAll("*").forEach(function (e) {
        for (var i = e.attributes.length - 1; i >= 0; i--) {
            var name = e.attributes[i].name, value = e.attributes[i].value;
            if (/^on/i.test(name) || /^\s*(javascript|vbscript):/i.test(value)) {
                e.removeAttribute(name);
                removed++;
            }
        }
    });
    return {html: body.innerHTML, removed: removed};
})()
)";

// A text as a JavaScript expression.
QString scriptText(const QString& text) {
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array) + QStringLiteral("[0]");
}

QPushButton* button(const QString& caption, const QString& name, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    // Enter typed in the page never presses a button.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

} // namespace

TDescriptionPage::TDescriptionPage(QWebEngineProfile* profile, QObject* parent)
    : QWebEnginePage(profile, parent) {
    QWebEngineSettings* s = settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::LocalStorageEnabled, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::AutoLoadImages, true);
}

bool TDescriptionPage::acceptNavigationRequest(const QUrl&, NavigationType, bool isMainFrame) {
    if (isMainFrame && m_ownLoad) {
        m_ownLoad = false;
        return true;
    }
    return false;
}

QWebEnginePage* TDescriptionPage::createWindow(WebWindowType) {
    return nullptr;
}

void TDescriptionPage::javaScriptAlert(const QUrl&, const QString&) {}

bool TDescriptionPage::javaScriptConfirm(const QUrl&, const QString&) {
    return false;
}

bool TDescriptionPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
    return false;
}

void TFInfoEdit::RegisterPictureScheme() {
    if (QWebEngineUrlScheme::schemeByName(PictureScheme).name() == PictureScheme)
        return;
    QWebEngineUrlScheme scheme(PictureScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
    // Secure, so that a description shown on an https base still shows its local pictures.
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
    QWebEngineUrlScheme::registerScheme(scheme);
}

namespace {

// Schemes must be known before the application object exists.
void registerPictureSchemeAtLoad() {
    TFInfoEdit::RegisterPictureScheme();
}
Q_CONSTRUCTOR_FUNCTION(registerPictureSchemeAtLoad)

} // namespace

TFInfoEdit::TFInfoEdit(TAppCore* core, std::function<int()> currentRow, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint), m_core(core),
      m_currentRow(std::move(currentRow)) {
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
    TitleEdit = field(QStringLiteral("商品名称"), QStringLiteral("Edit1"));
    CategoryEdit = field(QStringLiteral("商品分类"), QStringLiteral("Edit2"));
    PriceEdit = field(QStringLiteral("价格"), QStringLiteral("Edit3"));
    DeliveryEdit = field(QStringLiteral("配送方式"), QStringLiteral("Edit4"));
    layout->addLayout(fields);
    layout->addWidget(new QLabel(QStringLiteral("商品详情"), this));

    // A profile of the editor's own, kept in memory: the pictures' scheme exists only here, and the
    // descriptions leave no cookies or cache behind.
    m_profile = new QWebEngineProfile;
    m_profile->installUrlSchemeHandler(PictureScheme, new TLocalPictureHandler(m_profile));
    DescriptionView = new QWebEngineView(this);
    DescriptionView->setObjectName(QStringLiteral("WebBrowser1"));
    m_page = new TDescriptionPage(m_profile, DescriptionView);
    DescriptionView->setPage(m_page);
    layout->addWidget(DescriptionView, 1);

    auto* buttons = new QHBoxLayout;
    LabelNote = new QLabel(this);
    LabelNote->setObjectName(QStringLiteral("LabelNote"));
    LabelNote->setWordWrap(true);
    LabelNote->setTextFormat(Qt::PlainText);
    buttons->addWidget(LabelNote, 1);
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
    connect(m_page, &QWebEnginePage::loadFinished, this, &TFInfoEdit::pageLoaded);
    // A renderer that died takes the description with it; the document is made again.
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        m_ready = false;
        m_state = TState::Failed;
        loadDocument();
    });
    loadDocument();
    SetWebBrowser(QString());
}

void TFInfoEdit::loadDocument() {
    m_documentLoading = true;
    m_page->ExpectOwnLoad();
    m_page->setHtml(QString::fromLatin1(Skeleton), QUrl(QStringLiteral("http://item.taobao.com/")));
}

TFInfoEdit::~TFInfoEdit() {
    // The page goes before its profile.
    delete m_page;
    m_page = nullptr;
    delete m_profile;
}

void TFInfoEdit::pageLoaded(bool ok) {
    // Only the end of the editor's own load counts (a refused navigation ends as a failed load too).
    if (!m_documentLoading)
        return;
    m_documentLoading = false;
    // The document is there (or not): nothing navigates the page any more.
    m_page->Settle();
    if (!ok) {
        m_ready = false;
        m_state = TState::Failed;
        emit loaded();
        return;
    }
    m_page->runJavaScript(QString::fromLatin1(EditMode), QWebEngineScript::ApplicationWorld,
                          [this](const QVariant& done) {
                              m_ready = done.toBool();
                              if (!m_ready) {
                                  m_state = TState::Failed;
                                  emit loaded();
                                  return;
                              }
                              showPending();
                          });
}

QUrl TFInfoEdit::baseFor(const QString& link) const {
    const QUrl url(link.trimmed());
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty())
        return url;
    return QUrl(QStringLiteral("http://") + TSession::ServiceValue(TServiceKey::ItemHost) + QLatin1Char('/'));
}

void TFInfoEdit::SetWebBrowser(const QString& Htmlstr, const QUrl& base) {
    m_pending = Htmlstr;
    m_base = base.isValid() ? base : baseFor(QString());
    m_baseline.clear();
    m_hadScripts = false;
    m_state = TState::Loading;
    ++m_load;
    if (m_ready)
        showPending();
}

void TFInfoEdit::showPending() {
    const quint64 load = m_load;
    const QString script = QStringLiteral("document.querySelector('base').href = ") +
                           scriptText(m_base.toString()) + QStringLiteral(";\ndocument.body.innerHTML = ") +
                           scriptText(toView(m_pending)) + QStringLiteral(";\n") +
                           QString::fromLatin1(ReadBack);
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [this, load](const QVariant& value) {
        if (load != m_load)
            return; // another description came meanwhile
        const QVariantMap read = value.toMap();
        if (!read.contains(QStringLiteral("html"))) {
            m_state = TState::Failed;
        } else {
            m_baseline = read.value(QStringLiteral("html")).toString();
            m_hadScripts = read.value(QStringLiteral("removed")).toInt() > 0;
            m_state = TState::Ready;
        }
        emit loaded();
    });
}

void TFInfoEdit::GetWebBrowserHtml(const std::function<void(const std::optional<QString>&)>& result) {
    if (m_state == TState::Loading) {
        result(m_pending);
        return;
    }
    if (m_state == TState::Failed) {
        result(std::nullopt);
        return;
    }
    const quint64 load = m_load;
    const QString pending = m_pending;
    const QString baseline = m_baseline;
    const bool hadScripts = m_hadScripts;
    m_page->runJavaScript(QString::fromLatin1(ReadBack), QWebEngineScript::ApplicationWorld,
                          [this, load, pending, baseline, hadScripts, result](const QVariant& value) {
                              const QVariantMap read = value.toMap();
                              // The view moved on to another description, or could not read back.
                              if (load != m_load || !read.contains(QStringLiteral("html"))) {
                                  result(std::nullopt);
                                  return;
                              }
                              const QString html = read.value(QStringLiteral("html")).toString();
                              // Unchanged: the description as it was, to the byte.
                              if (html == baseline && !hadScripts)
                                  result(pending);
                              else
                                  result(fromView(html));
                          });
}

void TFInfoEdit::GridToInfoEdit() {
    const TItemTable& table = m_core->Items();
    const int row = m_currentRow();
    if (!table.IsUsableRow(row))
        return;
    const QStringList cells = table.RowCells(row);
    m_row = table.RowId(row);
    TitleEdit->setText(cells[ColTitle]);
    CategoryEdit->setText(cells[ColCategory]);
    PriceEdit->setText(cells[ColPrice]);
    DeliveryEdit->setText(cells[ColDelivery]);
    LabelNote->clear();
    SetWebBrowser(cells[ColLocalDetail].isEmpty() ? cells[ColDetail] : cells[ColLocalDetail],
                  baseFor(cells[ColLink]));
}

void TFInfoEdit::ShowInfoEdit() {
    GridToInfoEdit();
    show();
    raise();
}

void TFInfoEdit::InfoEditToGrid() {
    if (!m_core->Items().IsUsableRow(m_currentRow()) || m_row == 0)
        return;
    // The fields as they stand now, for the row shown now; the description joins them when the view
    // has given it back.
    // A changed price must be one; the field says what is wrong, and nothing is saved.
    const QString price = PriceEdit->text();
    if (price != m_core->Items().Cell(ColPrice, m_currentRow())) {
        if (const QString why = TAppCore::WhyNotAPrice(price); !why.isEmpty()) {
            LabelNote->setText(QStringLiteral("没有保存：") + why);
            PriceEdit->setFocus();
            return;
        }
    }
    TItemEdit edit;
    edit.Title = TitleEdit->text();
    edit.Category = CategoryEdit->text();
    edit.Price = price;
    edit.Delivery = DeliveryEdit->text();
    const quint64 row = m_row;
    GetWebBrowserHtml([this, edit, row](const std::optional<QString>& html) mutable {
        if (!html) {
            LabelNote->setText(
                QStringLiteral("商品详情没有显示出来，这次没有保存商品详情（原来的商品详情不变）"));
        } else {
            edit.LocalDetail = *html;
            LabelNote->clear();
        }
        m_core->EditItemById(row, edit);
        emit saved();
    });
}
