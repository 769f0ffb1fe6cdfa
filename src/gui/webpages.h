#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>

#include <atomic>
#include <functional>

class QThread;
class QWebEngineView;

// The welcome and help views: the publisher's pages, found through pointer files on its server,
// and the program's own pages when those cannot be reached.

// The address a pointer file names, when it is one a view can show: an http or https address with
// a host, no blanks inside and at most 2 KB long. The empty address otherwise ("error", an error
// page's text, a file: or javascript: address, a text too long to be an address).
QUrl UsablePageAddress(const QString& pointerText);

// The pages built into the program, shown when the publisher's are unavailable.
QUrl BuiltInWelcomePage();
QUrl BuiltInHelpPage();

// The Chromium switches that route the web views through the same proxies as every other request
// (http_proxy, https_proxy, no_proxy and their upper-case forms, as libcurl reads them). Empty
// when no proxy is set.
QByteArray ChromiumProxySwitches(const QByteArray& httpProxy, const QByteArray& httpsProxy,
                                 const QByteArray& noProxy);
// Adds those switches for this process's environment to QTWEBENGINE_CHROMIUM_FLAGS, unless the
// flags name a proxy already. Runs before the first web view is made.
void RouteWebViewsThroughProxies();

// A page of the publisher's (welcome or help): it shows no script dialogs, and opens no new window
// of its own.
class TPublisherPage : public QWebEnginePage {
  public:
    using QWebEnginePage::QWebEnginePage;

  protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl& origin, const QString& text) override;
    bool javaScriptConfirm(const QUrl& origin, const QString& text) override;
    bool javaScriptPrompt(const QUrl& origin, const QString& text, const QString& value,
                          QString* result) override;
};

// The welcome view's page: a link or script that would open a new window does nothing.
class TWelcomePage : public TPublisherPage {
  public:
    using TPublisherPage::TPublisherPage;
};

// The help view's page: a link the user clicks that would open a new window opens its address in
// the user's browser instead, through `openExternally`, one at a time (a second within a second of
// the first is dropped); a window a script asks for without a click never opens.
class THelpPage : public TPublisherPage {
  public:
    THelpPage(std::function<void(const QUrl&)> openExternally, QObject* parent);

  private:
    std::function<void(const QUrl&)> m_openExternally;
    QElapsedTimer m_lastOpened;
};

// Shows the built-in page `builtIn` in `view` whenever a page it loads fails to load.
void FallBackToBuiltInPage(QWebEngineView* view, const QUrl& builtIn);

// Fetches pointer files (HGetTextFileStr) on threads of their own, so the window stays responsive,
// and hands each text to its callback on this object's thread. Only the latest fetch of a view is
// handed on; an earlier one still under way is superseded. Ending it abandons the fetches under
// way and waits for their threads.
class TPointerFetcher : public QObject {
  public:
    explicit TPointerFetcher(QObject* parent = nullptr) : QObject(parent) {}
    ~TPointerFetcher() override;
    // Fetches `address` for `view` (any key naming the view).
    void Fetch(int view, const QString& address, std::function<void(const QString& text)> done);
    // Whether a fetch is under way.
    bool Busy() const { return !m_threads.isEmpty(); }

  private:
    std::atomic<bool> m_abandon{false};
    QList<QThread*> m_threads;
    QList<quint64> m_latest; // per view: the serial number of its latest fetch
    quint64 m_serial = 0;
};
