#include "app/appcore.h"

#include "update/update.h"

#include "app/settings.h"
#include "config/servicevalues.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "table/gridfile.h"
#include "table/itemtable.h"
#include "table/linklist.h"
#include "web/pagecache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace {

const QString SettingsFileName = QStringLiteral("setting.ini");
const QString GridFileName = QStringLiteral("grid.db");
const QString LinkListFileName = QStringLiteral("listnew");
const QString PageCacheFileName = QStringLiteral("DB.MDB");

} // namespace

// Hands a job's reports on as the core's signals, from whatever thread the job runs on.
class TAppCore::TCoreReporter : public TReporter {
  public:
    TCoreReporter(TAppCore& core, TJobKind kind) : m_core(core), m_kind(kind) {}
    void Status(const QString& text) override { emit m_core.statusTextChanged(text); }
    void ClearLog() override { emit m_core.logCleared(); }
    void Log(const QString& line) override { emit m_core.logLine(line); }
    void Progress(const QString& line) override { emit m_core.progress(line); }
    // Workers of one job finish steps on several threads at once: the reports are passed on one at
    // a time, and a count never goes back (a step counted later may be reported first).
    void Advance(qint64 done, qint64 total, const QString& detail) override {
        QMutexLocker lock(&m_advanceLock);
        if (total == m_total && done < m_done)
            done = m_done;
        m_done = done;
        m_total = total;
        emit m_core.jobAdvanced(m_kind, done, total, detail);
    }

  private:
    TAppCore& m_core;
    TJobKind m_kind;
    QMutex m_advanceLock;
    qint64 m_done = 0, m_total = -1;
};

// One running job. Its thread, stop flag and result belong to it; `ended` is touched only on the
// core's thread.
struct TAppCore::TJob {
    TJobKind kind = TJobKind::Search;
    std::unique_ptr<TCoreReporter> reporter;
    std::atomic<bool> stop{false};
    std::unique_ptr<QThread> thread;
    TJobResult result;
    bool ended = false;
};

TAppCore::TAppCore(QObject* parent)
    : QObject(parent), UpdateKey(BuiltInUpdateKey()), m_grid(new TItemTable(this)),
      m_links(new TLinkList(this)), m_changes(std::make_unique<TTableChangeQueue>(*m_grid, [this] {
          // The jobs' changes are applied on this object's thread, a batch at a time.
          QMetaObject::invokeMethod(
              this, [this] { m_changes->Drain(); }, Qt::QueuedConnection);
      })) {
    qRegisterMetaType<TJobKind>();
    qRegisterMetaType<TJobResult>();
}

TTableChanges& TAppCore::TableChanges() const {
    return *m_changes;
}

TAppCore::~TAppCore() {
    StopJobs();
}

QString TAppCore::FileVersionText() {
    return QStringLiteral(TOVREL_VERSION_TEXT);
}

QString TAppCore::DefaultCaption(TJobKind kind) {
    switch (kind) {
    case TJobKind::Search:
        return QStringLiteral("开始搜索");
    case TJobKind::Export:
        return QStringLiteral("导出CSV");
    case TJobKind::Pictures:
        return QStringLiteral("下载图片");
    case TJobKind::Crawl:
        return QStringLiteral("︾添加");
    case TJobKind::Update:
        break;
    }
    return {};
}

QString TAppCore::BusyCaption(TJobKind kind) {
    switch (kind) {
    case TJobKind::Search:
        return QStringLiteral("搜索中..");
    case TJobKind::Export:
        return QStringLiteral("导出中..");
    case TJobKind::Pictures:
        return QStringLiteral("下载中..");
    case TJobKind::Crawl:
        return QStringLiteral("抓取中..");
    case TJobKind::Update:
        break;
    }
    return {};
}

QString TAppCore::ProgressText(TJobKind kind, qint64 done, qint64 total) {
    const QString count = total > 0 ? QStringLiteral("%1/%2").arg(done).arg(total) : QString::number(done);
    switch (kind) {
    case TJobKind::Search:
        return QStringLiteral("搜索 ") + count;
    case TJobKind::Crawl:
        return QStringLiteral("抓取第 %1 页").arg(count);
    case TJobKind::Export:
        return QStringLiteral("导出 ") + count;
    case TJobKind::Pictures:
        return QStringLiteral("图片 ") + count;
    case TJobKind::Update:
        return QStringLiteral("更新 %1 KB").arg(done / 1024);
    }
    return count;
}

QString TAppCore::OutcomeText(TJobKind kind, const TJobResult& r) {
    // A job that failed before it got anything done says why.
    if (r.Outcome == TJobOutcome::Failed && r.Count == 0 && r.Failures == 0 && !r.Summary.isEmpty())
        return QStringLiteral("失败：") + r.Summary;
    const QString head =
        r.Outcome == TJobOutcome::Stopped ? QStringLiteral("已停止：") : QStringLiteral("完成：");
    auto failures = [&r](const QString& what) {
        return r.Failures > 0 ? QStringLiteral("，") + what.arg(r.Failures) : QString();
    };
    QString incomplete = r.Incomplete > 0 ? QStringLiteral("，%1 个没有描述").arg(r.Incomplete) : QString();
    if (r.Delisted > 0)
        incomplete += QStringLiteral("，%1 个已下架（跳过）").arg(r.Delisted);
    if (r.AlreadyInTable > 0)
        incomplete += QStringLiteral("，%1 个已在表格中（跳过）").arg(r.AlreadyInTable);
    switch (kind) {
    case TJobKind::Search:
        // A run that stopped at a link it could not fetch did not finish: it says where it stopped.
        if (r.EndedEarly) {
            QString where = r.Summary.section(QStringLiteral("；"), 0, 0);
            if (where.endsWith(QStringLiteral("，搜索已停止")))
                where.chop(6);
            return QStringLiteral("已停止：") + where + QStringLiteral("，已有 %1 个宝贝").arg(r.Count) +
                   incomplete;
        }
        return head + QStringLiteral("%1 个宝贝").arg(r.Count) + failures(QStringLiteral("%1 个失败")) +
               incomplete;
    case TJobKind::Crawl:
        return head + QStringLiteral("发现 %1 个新宝贝").arg(r.Count);
    case TJobKind::Export:
        if (r.Produced.isEmpty())
            return head + QStringLiteral("没有写入 CSV 文件");
        return head + QStringLiteral("导出 %1 个宝贝").arg(r.Count) +
               failures(QStringLiteral("%1 个数据不完整"));
    case TJobKind::Pictures:
        return head + QStringLiteral("图片 %1 张").arg(r.Count) + failures(QStringLiteral("%1 张失败"));
    case TJobKind::Update:
        break;
    }
    return head + r.Summary;
}

TChoices TAppCore::Choices() const {
    QMutexLocker lock(&m_choicesLock);
    return m_choices;
}

void TAppCore::UpdateChoices(const std::function<void(TChoices&)>& edit) {
    {
        QMutexLocker lock(&m_choicesLock);
        edit(m_choices);
        ++m_choicesRevision;
    }
    emit choicesChanged();
}

// --- The working folder, start-up and shutdown ---

TStatus TAppCore::LockWorkFolder() {
    if (m_folderLock && m_folderLock->Held())
        return {};
    m_folderLock = std::make_unique<TFolderLock>(TPaths::WorkDir());
    const TStatus locked = m_folderLock->Lock();
    // Where no lock file can be made, no other process can write the state files either.
    if (!locked && locked.error().Code == TErrc::Io)
        return {};
    return locked;
}

TFolderHolder TAppCore::FolderHolder() const {
    return m_folderLock ? m_folderLock->Holder() : TFolderHolder();
}

QString TAppCore::FolderBusyMessage() const {
    if (m_folderLock && !m_folderLock->Problem().isEmpty())
        return m_folderLock->Problem();
    const TFolderHolder holder = FolderHolder();
    QString who = holder.App.isEmpty() ? QStringLiteral("另一个程序") : holder.App;
    who += QStringLiteral("（进程号 ") + QString::number(holder.Pid);
    if (!holder.Host.isEmpty())
        who += QStringLiteral("，计算机 ") + holder.Host;
    who += QStringLiteral("）");
    return QStringLiteral("工作文件夹 %1 正在被 %2 使用。同一个文件夹同一时间只能由一个 Tovrel 窗口或 "
                          "tovrel-cli 命令使用，请先关闭它再试。")
        .arg(QDir::toNativeSeparators(TPaths::WorkDir()), who);
}

bool TAppCore::keepAside(const QString& fileName, const QString& what, const QString& why) {
    const QString path = TPaths::WorkFile(fileName);
    const TResult<QString> aside = SetAside(path);
    if (aside) {
        ShowMessage(QStringLiteral("%1文件 %2 无法读取（%3），已另存为 %4。")
                        .arg(what, fileName, why, QFileInfo(*aside).fileName()),
                    QStringLiteral("提示"));
        return true;
    }
    ShowMessage(
        QStringLiteral("%1文件 %2 无法读取（%3），也无法另存（%4）。为了不覆盖它，本次运行不会保存%1。")
            .arg(what, QDir::toNativeSeparators(path), why, aside.error().Detail),
        QStringLiteral("提示"));
    return false;
}

bool TAppCore::leaveUnread(const QString& fileName, const QString& what, const QString& why) {
    ShowMessage(QStringLiteral(
                    "%1文件 %2 无法读取（%3）。文件保持原样，本次运行不会保存%1；请检查它的权限后重新启动。")
                    .arg(what, QDir::toNativeSeparators(TPaths::WorkFile(fileName)), why),
                QStringLiteral("提示"));
    return false;
}

void TAppCore::loadTable() {
    m_tableLoaded = true;
    const QString gridFile = TPaths::WorkFile(GridFileName);
    if (!PathTaken(gridFile))
        return;
    if (const TStatus loaded = LoadGridFromFile(*m_grid, gridFile); !loaded) {
        m_grid->ResetGrid();
        m_tableSavable = loaded.error().Code == TErrc::Io
                             ? leaveUnread(GridFileName, QStringLiteral("宝贝表格"), loaded.error().Detail)
                             : keepAside(GridFileName, QStringLiteral("宝贝表格"), loaded.error().Detail);
    }
}

void TAppCore::LoadTable() {
    if (m_tableLoaded)
        return;
    loadTable();
    QMutexLocker lock(&m_saveLock);
    m_saved.table = m_grid->Revision();
}

TStatus TAppCore::Startup(TStartupParts parts) {
    if (const TStatus locked = LockWorkFolder(); !locked)
        return locked;
    // The page cache store.
    m_pageCache = std::make_unique<TPageCache>(TPaths::WorkFile(PageCacheFileName), TPageCache::MachineKey());
    if (const TStatus prepared = m_pageCache->initializeDB(); !prepared) {
        const QString& what = prepared.error().Detail;
        // Old entries that cannot be purged (a read-only folder) only take room: a line in the
        // run log, not a message.
        if (what == TPageCache::NotPurged)
            emit logLine(QStringLiteral("页面缓存的旧数据没有清除（清除表失败），下次启动时再清除"));
        else
            ShowMessage(what == TPageCache::StoreNotMade ? QStringLiteral("数据库创建失败")
                                                         : QStringLiteral("数据表创建失败"),
                        QStringLiteral("提示"));
    }
    if (!m_pageCache->Notice().isEmpty())
        emit logLine(m_pageCache->Notice());
    NextstartupUpdate = false;
    // The settings. Something that is no file in the settings file's place is kept aside, so the
    // settings can be written again.
    const QString settingsFile = TPaths::WorkFile(SettingsFileName);
    if (PathTaken(settingsFile) && !QFileInfo(settingsFile).isFile()) {
        m_settingsSavable =
            keepAside(SettingsFileName, QStringLiteral("设置"), QStringLiteral("不是普通文件"));
    } else if (PathTaken(settingsFile)) {
        // Settings that cannot be read are not written over with the defaults.
        QFile file(settingsFile);
        if (!file.open(QIODevice::ReadOnly))
            m_settingsSavable = leaveUnread(SettingsFileName, QStringLiteral("设置"), file.errorString());
    }
    UpdateChoices([&settingsFile](TChoices& c) {
        c = TChoices();
        ReadSettings(c, settingsFile);
    });
    // The table and the link list. A damaged file is kept aside before anything can overwrite it;
    // one that cannot be kept aside, or cannot be read at all (no permission, not enough memory),
    // stays where it is and is never overwritten in this run.
    m_grid->ResetGrid();
    m_tableLoaded = false;
    if (parts == TStartupParts::Everything)
        loadTable();
    bool linksToSave = false;
    const QString listFile = TPaths::WorkFile(LinkListFileName);
    if (PathTaken(listFile)) {
        if (const TStatus loaded = LoadLinkListFromFile(*m_links, listFile); !loaded) {
            if (loaded.error().Code == TErrc::Io) {
                m_links->Clear();
                m_linksSavable =
                    leaveUnread(LinkListFileName, QStringLiteral("商品列表"), loaded.error().Detail);
            } else {
                m_linksSavable =
                    keepAside(LinkListFileName, QStringLiteral("商品列表"), loaded.error().Detail);
                // The links that could be read are written to a new file.
                linksToSave = m_linksSavable && m_links->Count() > 0;
            }
        }
    }
    VersionText = FileVersionText();
    QMutexLocker lock(&m_saveLock);
    m_started = true;
    m_saved = revisions();
    if (linksToSave)
        m_saved.links = 0;
    return {};
}

TAppCore::TRevisions TAppCore::revisions() const {
    TRevisions r;
    r.table = m_grid->Revision();
    r.links = m_links->Revision();
    QMutexLocker lock(&m_choicesLock);
    r.choices = m_choicesRevision;
    return r;
}

TStatus TAppCore::SaveState() {
    QMutexLocker lock(&m_saveLock);
    // A state that was never loaded from the folder is never written over its files.
    if (!m_started)
        return {};
    const TRevisions saving = revisions();
    QStringList failures;
    // Each part counts as saved only when its file was written, so a failed part is tried again.
    auto save = [&](bool savable, quint64 TRevisions::*part, const QString& notSaved,
                    const std::function<QString()>& write) {
        // Only a part that changed is written: its file holds what it holds otherwise.
        if (saving.*part == m_saved.*part)
            return;
        if (!savable) {
            if (saving.*part != m_saved.*part)
                failures.append(notSaved);
            return;
        }
        const QString why = write();
        if (why.isEmpty())
            m_saved.*part = saving.*part;
        else
            failures.append(why);
    };
    save(m_settingsSavable, &TRevisions::choices,
         QStringLiteral("设置没有保存：%1 在启动时无法读取，为了不覆盖它，本次运行不保存")
             .arg(SettingsFileName),
         [&] {
             const TStatus written = WriteSettings(Choices(), TPaths::WorkFile(SettingsFileName));
             return written ? QString() : written.error().Detail;
         });
    save(m_linksSavable, &TRevisions::links,
         QStringLiteral("商品列表没有保存：%1 在启动时无法读取，为了不覆盖它，本次运行不保存")
             .arg(LinkListFileName),
         [&] {
             const TStatus written = SaveLinkListToFile(*m_links, TPaths::WorkFile(LinkListFileName));
             return written ? QString()
                            : QStringLiteral("商品列表无法保存到 %1：%2")
                                  .arg(LinkListFileName, written.error().Detail);
         });
    // A table that was never loaded is never written over its file.
    save(m_tableSavable && m_tableLoaded, &TRevisions::table,
         QStringLiteral("宝贝表格没有保存：%1 在启动时无法读取，为了不覆盖它，本次运行不保存")
             .arg(GridFileName),
         [&] {
             const TStatus written = SaveGridToFile(*m_grid, TPaths::WorkFile(GridFileName));
             return written ? QString()
                            : QStringLiteral("宝贝表格无法保存到 %1：%2")
                                  .arg(GridFileName, written.error().Detail);
         });
    for (const QString& failure : failures)
        ShowMessage(failure, QStringLiteral("提示"));
    if (!failures.isEmpty())
        return MakeError(TErrc::Io, failures.join(QLatin1Char('\n')));
    return {};
}

TStatus TAppCore::SaveIfChanged() {
    {
        QMutexLocker lock(&m_saveLock);
        if (!m_started || revisions() == m_saved)
            return {};
    }
    return SaveState();
}

TStatus TAppCore::Shutdown() {
    if (m_shutDown)
        return {};
    m_shutDown = true;
    StopJobs();
    return SaveIfChanged();
}

// --- Jobs ---

bool TAppCore::holdsBusyState(TJobKind kind) const {
    return kind != TJobKind::Update;
}

bool TAppCore::Busy() const {
    QMutexLocker lock(&m_jobsLock);
    for (const std::shared_ptr<TJob>& job : m_jobs)
        if (holdsBusyState(job->kind))
            return true;
    return false;
}

bool TAppCore::Running(TJobKind kind) const {
    QMutexLocker lock(&m_jobsLock);
    for (const std::shared_ptr<TJob>& job : m_jobs)
        if (job->kind == kind)
            return true;
    return false;
}

bool TAppCore::StartJob(TJobKind kind, std::function<TJobResult(const TJobContext&)> body) {
    if (m_shutDown || (holdsBusyState(kind) ? Busy() : Running(kind)))
        return false;
    auto job = std::make_shared<TJob>();
    job->kind = kind;
    job->reporter = std::make_unique<TCoreReporter>(*this, kind);
    {
        QMutexLocker lock(&m_jobsLock);
        m_jobs.append(job);
    }
    if (holdsBusyState(kind)) {
        emit commandsEnabled(false);
        if (!BusyCaption(kind).isEmpty())
            emit captionChanged(kind, BusyCaption(kind));
    }
    emit jobStarted(kind);
    TJob* running = job.get();
    std::weak_ptr<TJob> handle = job;
    // The service values as they stand when the job starts serve it to its end.
    job->thread.reset(QThread::create(
        [this, running, handle, body = std::move(body), service = TServiceValues::Snapshot()] {
            // A checkpoint saves on this object's thread, after the changes handed over so far.
            const TJobContext context(
                running->stop, *running->reporter, [this] { return Choices(); }, service,
                [this] {
                    QMetaObject::invokeMethod(
                        this,
                        [this] {
                            m_changes->Drain();
                            (void)SaveIfChanged();
                        },
                        Qt::QueuedConnection);
                });
            try {
                running->result = body(context);
            } catch (const std::exception& e) {
                running->result.Outcome = TJobOutcome::Failed;
                running->result.Summary = QStringLiteral("出错：") + QString::fromLocal8Bit(e.what());
                running->reporter->Log(running->result.Summary);
            }
            QMetaObject::invokeMethod(
                this,
                [this, handle] {
                    if (const std::shared_ptr<TJob> ended = handle.lock())
                        finishJob(ended);
                },
                Qt::QueuedConnection);
        }));
    job->thread->start();
    return true;
}

void TAppCore::finishJob(const std::shared_ptr<TJob>& job) {
    if (job->ended)
        return;
    job->ended = true;
    job->thread->wait();
    // What the job handed over is in the table, and saved, before anybody hears of its end, so
    // nothing of it depends on an orderly exit later. A failure has been shown; the next save
    // tries again.
    m_changes->Drain();
    (void)SaveIfChanged();
    {
        QMutexLocker lock(&m_jobsLock);
        m_jobs.removeOne(job);
    }
    if (holdsBusyState(job->kind)) {
        if (!DefaultCaption(job->kind).isEmpty())
            emit captionChanged(job->kind, DefaultCaption(job->kind));
        if (!Busy())
            emit commandsEnabled(true);
    }
    emit jobFinished(job->kind, job->result);
}

void TAppCore::StopJob(TJobKind kind) {
    QMutexLocker lock(&m_jobsLock);
    for (const std::shared_ptr<TJob>& job : m_jobs)
        if (job->kind == kind)
            job->stop = true;
}

void TAppCore::AskJobsToStop() {
    QMutexLocker lock(&m_jobsLock);
    for (const std::shared_ptr<TJob>& job : m_jobs)
        job->stop = true;
}

void TAppCore::StopJobs() {
    QList<std::shared_ptr<TJob>> jobs;
    {
        QMutexLocker lock(&m_jobsLock);
        jobs = m_jobs;
    }
    for (const std::shared_ptr<TJob>& job : jobs)
        job->stop = true;
    for (const std::shared_ptr<TJob>& job : jobs)
        finishJob(job);
}
