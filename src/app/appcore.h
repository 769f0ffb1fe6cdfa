#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class TItemTable;
class TLinkList;
class TPageCache;

// The commands whose captions change while their work runs.
enum class TCommand { Search, Export, Pictures };

// The program's state and behaviour without any window: the item table, the link list, the
// user's choices, and the start-up and shutdown steps. The window and tovrel-cli are front ends
// over one instance of it.
//
// Workers report through the signals below (status text, run log, captions, busy state). They
// may emit them from any thread; the window receives them queued on its own thread, tovrel-cli
// prints them.
class TAppCore : public QObject {
    Q_OBJECT
  public:
    explicit TAppCore(QObject* parent = nullptr);
    ~TAppCore() override;

    TItemTable* StringGrid1() const { return m_grid; }
    TLinkList* ListBox1() const { return m_links; }
    // The page cache, prepared by Startup.
    TPageCache* PageCache() const { return m_pageCache.get(); }

    // The user's choices, as the window's controls hold them.
    struct TChoices {
        int DataSource = 0; // 0 "淘宝", 1 "1688", 2 "拍拍"
        int LinkKind = 0;   // 0 "宝贝连接", 1 "店铺连接", 2 "店铺分类"; -1 none
        QString LinkText;
        QString WatermarkText;
        bool cbDL = false;   // "不下载商品主图"
        bool cbDLXX = false; // "不下载商品属性"
        bool cbDLJG = false; // "标题合并价格"
    };
    // A copy of the choices; workers read them from their threads.
    TChoices Choices() const;
    // Changes the choices under the lock and announces the change (choicesChanged).
    void UpdateChoices(const std::function<void(TChoices&)>& edit);

    bool NextstartupUpdate = false;
    QStringList ProvinceList;
    // Workers the user-interface thread waits for; changed only on that thread.
    int ThreadsRunning = 0;
    // The version label's text, set at start-up.
    QString VersionText;

    // The start-up steps that do not concern a window, in their order: page cache, settings,
    // table reset, saved table, saved link list, version text, update buffer, province list.
    void Startup();
    // The shutdown save: settings, link list (only when not empty), table; then the province
    // list is released.
    void SaveState();

    // The running program's file version as "major.minor.release.build".
    static QString FileVersionText();

    static QString DefaultCaption(TCommand command);

    // Reporting channels for workers and commands.
    void SetStatusText(const QString& text) { emit statusTextChanged(text); }
    void ClearLog() { emit logCleared(); }
    void Log(const QString& line) { emit logLine(line); }
    void EnableCommands(bool enabled) { emit commandsEnabled(enabled); }
    void SetCaption(TCommand command, const QString& caption) { emit captionChanged(command, caption); }
    void ShowMessage(const QString& text, const QString& caption) { emit messageShown(text, caption); }

    // Workers. A worker thread of its own runs `body` and is released when it ends; the per-link
    // workers share a pool that runs at most MaxLinkWorkers of them at a time (the others wait for
    // a free place). Only the user-interface thread starts workers.
    static constexpr int MaxLinkWorkers = 16;
    void StartWorker(const std::function<void()>& body);
    QThreadPool& LinkWorkers() { return m_linkWorkers; }
    // Waits, processing the thread's events all the time, while ThreadsRunning is above 0.
    void WaitForWorkers();
    // Set when the program ends: workers stop at the next link or page, and requests in flight
    // are abandoned.
    bool Stopping() const { return m_stopping.load(); }
    // The flag a worker's TC watches to abandon its request in flight.
    const std::atomic<bool>* StopFlag() const { return &m_stopping; }
    // Stops every worker and waits for them to end.
    void StopWorkers();

    // A search or a crawl has ended (its caption and busy state are restored).
    void FinishSearch() { emit searchFinished(); }
    void FinishCrawl() { emit crawlFinished(); }
    void FinishExport(bool written) { emit exportFinished(written); }
    void Progress(const QString& line) { emit progress(line); }

  signals:
    void statusTextChanged(const QString& text);
    void logCleared();
    void logLine(const QString& line);
    void commandsEnabled(bool enabled);
    void captionChanged(TCommand command, const QString& caption);
    // The choices changed through the core (a command, not the window's own controls).
    void choicesChanged();
    // An informational message for the user, with its caption.
    void messageShown(const QString& text, const QString& caption);
    // A line of progress that only a text front end shows (one per link or page as it finishes).
    void progress(const QString& line);
    void searchFinished();
    void crawlFinished();
    // An export has ended; `written` tells whether the file was written.
    void exportFinished(bool written);

  private:
    std::atomic<bool> m_stopping{false};
    QThreadPool m_linkWorkers;
    QMutex m_workersLock;
    QList<QThread*> m_workers;
    mutable QMutex m_choicesLock;
    TChoices m_choices;
    TItemTable* m_grid;
    TLinkList* m_links;
    std::unique_ptr<TPageCache> m_pageCache;
};
