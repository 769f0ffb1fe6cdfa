#include "gui/webpages.h"

#include "app/session.h"

#include <QRegularExpression>
#include <QThread>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineView>

QUrl UsablePageAddress(const QString& pointerText) {
    const QString text = pointerText.trimmed();
    constexpr qsizetype MaxAddress = 2048;
    if (text.size() > MaxAddress)
        return {};
    static const QRegularExpression blank(QStringLiteral("\\s"));
    if (text.isEmpty() || text.contains(blank))
        return {};
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return {};
    return url;
}

QUrl BuiltInWelcomePage() {
    return QUrl(QStringLiteral("qrc:/pages/welcome.html"));
}

QUrl BuiltInHelpPage() {
    return QUrl(QStringLiteral("qrc:/pages/help.html"));
}

namespace {

// A proxy as Chromium names it: scheme://host:port (credentials cannot be given on its command
// line and are left out; libcurl's default port 1080 when none is given).
QByteArray chromiumProxy(const QByteArray& value) {
    QByteArray text = value.trimmed();
    if (text.isEmpty())
        return {};
    if (!text.contains("://"))
        text.prepend("http://");
    const QUrl url(QString::fromUtf8(text));
    if (!url.isValid() || url.host().isEmpty())
        return {};
    return (url.scheme().toLower() + QStringLiteral("://") + url.host() + QLatin1Char(':') +
            QString::number(url.port(1080)))
        .toUtf8();
}

// no_proxy's entries as Chromium's bypass rules: a name covers the host and its subdomains.
QByteArray chromiumBypassList(const QByteArray& noProxy) {
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    static const QRegularExpression address(QStringLiteral("^[0-9.:/\\[\\]]+$"));
    QStringList rules;
    for (QString entry : QString::fromUtf8(noProxy).split(separators, Qt::SkipEmptyParts)) {
        if (entry == u"*" || address.match(entry).hasMatch()) {
            rules << entry;
            continue;
        }
        while (entry.startsWith(QLatin1Char('.')) || entry.startsWith(QLatin1Char('*')))
            entry.remove(0, 1);
        if (!entry.isEmpty())
            rules << entry << QStringLiteral("*.") + entry;
    }
    return rules.join(QLatin1Char(';')).toUtf8();
}

} // namespace

QByteArray ChromiumProxySwitches(const QByteArray& httpProxy, const QByteArray& httpsProxy,
                                 const QByteArray& noProxy) {
    QByteArrayList servers;
    if (const QByteArray http = chromiumProxy(httpProxy); !http.isEmpty())
        servers << "http=" + http;
    if (const QByteArray https = chromiumProxy(httpsProxy); !https.isEmpty())
        servers << "https=" + https;
    if (servers.isEmpty())
        return {};
    QByteArray switches = "--proxy-server=" + servers.join(';');
    if (const QByteArray bypass = chromiumBypassList(noProxy); !bypass.isEmpty())
        switches += " --proxy-bypass-list=" + bypass;
    return switches;
}

void RouteWebViewsThroughProxies() {
    // The variables as libcurl reads them: http_proxy only in lower case (a CGI program's
    // HTTP_PROXY may come from a request header), the others in either case.
    auto either = [](const char* lower, const char* upper) {
        const QByteArray value = qgetenv(lower);
        return value.isEmpty() ? qgetenv(upper) : value;
    };
    const QByteArray switches = ChromiumProxySwitches(
        qgetenv("http_proxy"), either("https_proxy", "HTTPS_PROXY"), either("no_proxy", "NO_PROXY"));
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (switches.isEmpty() || flags.contains("--proxy-server") || flags.contains("--no-proxy-server"))
        return;
    flags = flags.isEmpty() ? switches : flags + ' ' + switches;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

QWebEnginePage* TPublisherPage::createWindow(WebWindowType) {
    return nullptr; // no window of the program's own: see THelpPage
}

void TPublisherPage::javaScriptAlert(const QUrl&, const QString&) {}

bool TPublisherPage::javaScriptConfirm(const QUrl&, const QString&) {
    return false;
}

bool TPublisherPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
    return false;
}

THelpPage::THelpPage(std::function<void(const QUrl&)> openExternally, QObject* parent)
    : TPublisherPage(parent), m_openExternally(std::move(openExternally)) {
    connect(this, &QWebEnginePage::newWindowRequested, this, [this](QWebEngineNewWindowRequest& request) {
        // Only a click of the user's, and one browser window at a time.
        constexpr qint64 GapMs = 1000;
        const QUrl url = request.requestedUrl();
        const QString scheme = url.scheme().toLower();
        if (!request.isUserInitiated() || (scheme != u"http" && scheme != u"https"))
            return;
        if (m_lastOpened.isValid() && m_lastOpened.elapsed() < GapMs)
            return;
        m_lastOpened.start();
        if (m_openExternally)
            m_openExternally(url);
    });
}

void FallBackToBuiltInPage(QWebEngineView* view, const QUrl& builtIn) {
    // A load that failed (not one stopped because another began); an error status of the server
    // (a 404 or 500 page) is no page of the publisher's either.
    QObject::connect(view->page(), &QWebEnginePage::loadingChanged, view,
                     [view, builtIn](const QWebEngineLoadingInfo& info) {
                         const bool failed = info.status() == QWebEngineLoadingInfo::LoadFailedStatus ||
                                             (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus &&
                                              info.isErrorPage());
                         if (failed && info.url() != builtIn)
                             view->load(builtIn);
                     });
}

TPointerFetcher::~TPointerFetcher() {
    m_abandon = true;
    for (QThread* thread : std::as_const(m_threads)) {
        thread->wait();
        delete thread;
    }
}

void TPointerFetcher::Fetch(int view, const QString& address, std::function<void(const QString&)> done) {
    if (view >= m_latest.size())
        m_latest.resize(view + 1);
    const quint64 serial = ++m_serial;
    m_latest[view] = serial;
    QThread* thread = QThread::create([this, view, serial, address, done = std::move(done)] {
        const QString text = TSession::FetchPublisherText(address, &m_abandon);
        // Handed over on the fetcher's thread (the fetcher outlives this thread: it waits for it);
        // a handover still queued when the fetcher goes is dropped with it.
        QMetaObject::invokeMethod(
            this,
            [this, view, serial, text, done] {
                if (m_latest.value(view) == serial)
                    done(text);
            },
            Qt::QueuedConnection);
    });
    m_threads.append(thread);
    connect(thread, &QThread::finished, this, [this, thread] {
        m_threads.removeOne(thread);
        thread->deleteLater();
    });
    thread->start();
}
