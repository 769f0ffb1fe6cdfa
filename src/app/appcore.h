#pragma once

#include "base/choices.h"
#include "base/job.h"
#include "base/result.h"
#include "platform/folderlock.h"
#include "table/itemtable.h"
#include "table/linklist.h"

#include <QList>
#include <QMetaType>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class TTableChangeQueue;
class TPageCache;
struct TExportJob;

// The program's state and behaviour without any window: the item table, the link list, the
// user's choices, the commands, the jobs, and the start-up and shutdown steps. The window and
// tovrel-cli are front ends over one instance of it, living on their main thread.
//
// Jobs: every long command (search, crawl, export, picture download) runs as a job on a thread of
// its own, started here. A job reports through the signals below (status text, run log, progress
// lines), which may be emitted from its thread; the window receives them queued. While a job runs
// the busy state holds (commandsEnabled(false)) and its command shows its busy caption; when it
// ends, on this object's thread, the caption and the busy state are restored, what it changed is
// saved, and jobFinished reports its outcome.
class TAppCore : public QObject {
    Q_OBJECT
  public:
    explicit TAppCore(QObject* parent = nullptr);
    // Stops the running jobs and waits for them; saves nothing (Shutdown saves).
    ~TAppCore() override;

    // The table and the link list as the front ends see them: to read and to show. Every change
    // goes through the commands below.
    const TItemTable& Items() const { return *m_grid; }
    const TLinkList& LinkItems() const { return *m_links; }
    // The same to change, for the core's own commands and for tests that set up a state.
    TItemTable* Table() const { return m_grid; }
    TLinkList* Links() const { return m_links; }
    // The page cache, prepared by Startup.
    TPageCache* PageCache() const { return m_pageCache.get(); }
    // The command "清除临时数据": purges the page cache's old entries. Fails with the message to show
    // ("清除临时数据失败").
    TStatus ClearTemporaryData();

    // A copy of the choices; jobs read them from their threads.
    TChoices Choices() const;
    // Changes the choices under the lock and announces the change (choicesChanged).
    void UpdateChoices(const std::function<void(TChoices&)>& edit);

    bool NextstartupUpdate = false;
    // The publisher's key an update must be signed with: the one the build carries.
    QByteArray UpdateKey;
    // The version label's text, set at start-up.
    QString VersionText;

    // Takes the working folder for this process, so that no other window or tovrel-cli loads,
    // changes and saves the same files meanwhile. Fails with TErrc::Locked when another running
    // process holds it (FolderHolder names it). A folder where no lock file can be made (a
    // read-only folder) is used without one.
    TStatus LockWorkFolder();
    TFolderHolder FolderHolder() const;
    // The message that tells the user who holds the working folder.
    QString FolderBusyMessage() const;

    // What Startup loads: everything, or all but the item table (for a command that works on the
    // links and the settings alone, so that it neither reads nor writes the table's file).
    enum class TStartupParts { Everything, AllButTable };
    // The start-up steps that do not concern a window, in their order: page cache, settings,
    // table reset, saved table, saved link list, version text. Takes the working folder first
    // when LockWorkFolder has not; fails, loading nothing, when another process holds it.
    TStatus Startup(TStartupParts parts = TStartupParts::Everything);
    // Loads the item table after a Startup that left it out; nothing when it is loaded.
    void LoadTable();
    // Writes the settings, the link list (an empty list removes its file) and the table. A file
    // that cannot be written keeps its old content; each failure is shown, and the result fails
    // with all of them.
    TStatus SaveState();
    // SaveState when the table, the link list or the choices changed since they were loaded or
    // last saved (a command that changes nothing writes nothing).
    TStatus SaveIfChanged();
    // The orderly end: stops the running jobs, waits for them, then saves what changed. Runs once.
    TStatus Shutdown();

    // The running program's file version as "major.minor.release.build", from the build's
    // project version.
    static QString FileVersionText();
    // The caption of a command's button when no job of its kind runs.
    static QString DefaultCaption(TJobKind kind);
    // The caption while it runs (the empty text for a job without a button of its own).
    static QString BusyCaption(TJobKind kind);
    // How far a job is, as the status bar and tovrel-cli show it ("搜索 12/40", "抓取第 3/7 页",
    // "导出 5/18", "图片 37/120"); the count alone while the total is not known.
    static QString ProgressText(TJobKind kind, qint64 done, qint64 total);
    // What came of a job, as the status bar and tovrel-cli show it when it has ended
    // ("完成：38 个宝贝，2 个失败").
    static QString OutcomeText(TJobKind kind, const TJobResult& result);

    // Reporting channels of commands and jobs.
    void SetStatusText(const QString& text) { emit statusTextChanged(text); }
    void ShowMessage(const QString& text, const QString& caption) { emit messageShown(text, caption); }

    // --- Commands (on this object's thread) ---

    enum class TAddResult { Added, Duplicate, CrawlStarted, Busy, Nothing, Refused };
    struct TAddCounts {
        int added = 0;   // links appended
        int listed = 0;  // links the list already held (or that came twice in the text)
        int refused = 0; // texts that are no link, or that the list has no room for
        QString refusal; // the first of those, with its number and why ("第 2 个：含有控制字符")
    };
    // The add command: trims the address box; an item link is appended unless listed (ignoring
    // letter case), a shop or category link starts the shop crawl of the data source.
    // Several item links in the box (separated by line breaks, spaces or tabs) go to AddLinks and
    // the box is emptied (they are in the list now); one link alone keeps the duplicate message.
    // Several shop links are refused with a message: a crawl takes one shop.
    TAddResult AddLink(TAddCounts* counts = nullptr);
    // Appends each item link unless listed (ignoring letter case, also against the links before
    // it) or refused (no link by TLinkList::WhyNotALink, or no room left in the list), and says in
    // the status text how many were added, how many were listed already and how many were refused,
    // naming the first and why; no message box. Added when at least one link was appended, else
    // Refused when one was refused, else Duplicate.
    TAddResult AddLinks(const QStringList& links, TAddCounts* counts = nullptr);
    // Why a text is no item link of the data source (empty when it is one): an http or https
    // address on one of the marketplace's domains (or the item host of service.ini), with the
    // number that names the item where the marketplace's item links carry one.
    static QString WhyNotAnItemLink(int source, const QString& link);
    // The same with the service values given (to check many links against one reading).
    static QString WhyNotAnItemLink(int source, const QString& link, const TServiceSnapshot& service);
    static QString DuplicateMessage();
    static QString AddedLinksText(const TAddCounts& counts);
    bool RemoveLink(int index);
    void ClearLinks();
    // The address template a link kind puts into the address box for a data source.
    static QString AddressTemplate(int source, int kind);
    void ChangeLinkKind(int kind);
    // Empties the link list and resets the item table; nothing when the source stays the same.
    void ChangeDataSource(int source);
    // Starts the search of the data source over the link list as it stands now. `closeEditor`
    // closes the item editor if it is open.
    bool StartSearch(const std::function<void()>& closeEditor = {});
    // Starts the export of the selected rows as they stand now into a new package in `folder`: names
    // the package ("KVR_" + time stamp), checks that its CSV file is not in use (TErrc::Locked with
    // the message to show, so that the user may close it and try again), makes the picture folder,
    // and starts the job (TErrc::Refused when a job that holds the busy state runs, or with
    // NothingSelectedMessage when no row is selected: then nothing is written).
    TStatus StartExportTo(const QString& folder);
    // The same into given files (the package's names made beforehand; for tests); false when busy
    // or when no row is selected.
    bool StartExport(const TExportJob& job);
    static QString NothingSelectedMessage();
    // Starts the picture download of the selected rows as they stand now into `folder`.
    bool StartPictureDownload(const QString& folder);

    // The batch watermark ("批量修改水印文字"): every selected row gets the watermark text as it
    // stands; returns how many rows that was.
    int BatchWatermark();
    // The batch re-titling ("批量替换宝贝名称") from a text file: the titles of rows 1 to n become the
    // file's n lines when 1 <= n <= the number of items. Returns n; fails with TErrc::Refused and
    // why nothing changed (an empty file, more lines than items), or TErrc::Io when the file cannot
    // be read.
    TResult<int> RetitleFromFile(const QString& path);
    // Writes an edit into item `row` (as numbered now); fails with TErrc::Refused for the caption row,
    // a row that does not exist or one without a number.
    TStatus EditItem(int row, const TItemEdit& edit);
    // The same for the item with this identity (the editor's row), wherever it now stands; false
    // when it is gone.
    // Why a price the seller typed is no price (empty when it is one): a non-negative number or a
    // range of two, as item pages show them.
    static QString WhyNotAPrice(const QString& price);
    bool EditItemById(quint64 id, const TItemEdit& edit);
    // Deletes item `row`, renumbering the items below; false for the caption row or a row that
    // does not exist.
    // Deletes every ticked item (the rows below renumbered); returns how many.
    int DeleteSelectedItems();
    bool DeleteItem(int row);
    void SelectAllItems();
    void InvertItemSelection();
    // Flips the selection mark of item `row`; false for the caption row or a row that does not exist.
    bool ToggleItem(int row);

    // --- Self-update ---

    // The latest published version (a service value).
    static QString LatestVersion();
    // The version an update replaces: the window program's. In the window that is the running
    // version; tovrel-cli asks the window program beside it (--version), so that once an update is
    // in place it is no longer offered. The running version when there is no such program or it
    // does not answer.
    QString InstalledVersion() const;
    // Whether an update is offered: the latest version differs in any way from the installed one.
    bool UpdateOffered() const;
    // Whether this copy was installed by the package manager (its folder may not be written, or is
    // under /usr or /opt): it never replaces itself; the package manager installs the new version.
    static bool InstalledByPackageManager();
    // What the update offer says then.
    static QString PackageManagerUpdateMessage();
    // Starts the download of the published window executable as the update job, staged in the
    // folder "bak" beside the executables when it is sound; false when one runs already.
    bool StartUpdateDownload();
    // Writes and starts the script that puts the staged executable in place once this process has
    // ended (starting it again when `restartNow`, on this working folder). The caller then shuts
    // down and ends the program.
    TStatus ApplyUpdate(bool restartNow);
    // Where a downloaded update is staged, and the largest update downloaded.
    static QString StagedUpdate();
    static qint64 MaxUpdateBytes();

    // --- Jobs ---

    // Where a job hands over the rows and cells it makes; the core applies them on its own thread.
    TTableChanges& TableChanges() const;
    // Runs `body` as a job of `kind` on a thread of its own. Search, crawl, export and picture
    // download hold the busy state, so only one of them runs at a time: false when one already
    // runs (nothing is started). A job that raises fails with the reason.
    bool StartJob(TJobKind kind, std::function<TJobResult(const TJobContext&)> body);
    // Whether a job that holds the busy state runs.
    bool Busy() const;
    bool Running(TJobKind kind) const;
    // Asks the running job of `kind` to stop; it ends as stopped, keeping what it finished.
    void StopJob(TJobKind kind);
    // Asks every running job to stop, without waiting; each reports its end as it comes.
    void AskJobsToStop();
    // Asks every running job to stop and waits until each has ended (its end is reported).
    void StopJobs();

  signals:
    void statusTextChanged(const QString& text);
    void logCleared();
    void logLine(const QString& line);
    void commandsEnabled(bool enabled);
    void captionChanged(TJobKind kind, const QString& caption);
    // The choices changed through the core (a command, not the window's own controls).
    void choicesChanged();
    // A message for the user, with its caption.
    void messageShown(const QString& text, const QString& caption);
    // A line of progress that only a text front end shows (one per link, page or item).
    void progress(const QString& line);
    void jobStarted(TJobKind kind);
    // How far a running job is (see TReporter::Advance); may come from the job's thread.
    void jobAdvanced(TJobKind kind, qint64 done, qint64 total, const QString& detail);
    void jobFinished(TJobKind kind, const TJobResult& result);

  private:
    mutable QString m_installedVersion; // asked once
    struct TJob;
    class TCoreReporter;
    void finishJob(const std::shared_ptr<TJob>& job);
    // Keeps a state file that could not be read aside and tells the user; false when it could not
    // be kept aside (so it must not be overwritten).
    bool keepAside(const QString& fileName, const QString& what, const QString& why);
    // Tells the user that a state file cannot be read and stays as it is; false (it must not be
    // overwritten).
    bool leaveUnread(const QString& fileName, const QString& what, const QString& why);
    bool holdsBusyState(TJobKind kind) const;
    // Reads the table's file into the table (a damaged one kept aside, an unreadable one left).
    void loadTable();
    struct TRevisions {
        quint64 table = 0, links = 0, choices = 0;
        bool operator==(const TRevisions&) const = default;
    };
    TRevisions revisions() const;

    TItemTable* m_grid;
    TLinkList* m_links;
    // The rows and cells the jobs hand over, applied to the table on this object's thread.
    std::unique_ptr<TTableChangeQueue> m_changes;
    std::unique_ptr<TPageCache> m_pageCache;
    std::unique_ptr<TFolderLock> m_folderLock;

    mutable QMutex m_choicesLock;
    TChoices m_choices;
    quint64 m_choicesRevision = 0;

    mutable QMutex m_jobsLock;
    QList<std::shared_ptr<TJob>> m_jobs;

    QMutex m_saveLock;
    TRevisions m_saved;
    bool m_started = false;
    // False for a state file that could not be read nor kept aside: it is not overwritten.
    bool m_settingsSavable = true;
    bool m_tableSavable = true;
    bool m_tableLoaded = false; // read from its file (or found absent) in this run
    bool m_linksSavable = true;
    bool m_shutDown = false;
};

Q_DECLARE_METATYPE(TJobKind)
Q_DECLARE_METATYPE(TJobResult)
