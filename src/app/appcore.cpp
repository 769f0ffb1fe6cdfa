#include "app/appcore.h"

#include "acquire/province.h"
#include "app/settings.h"
#include "table/gridfile.h"
#include "web/pagecache.h"

#include "collect/linklist.h"
#include "platform/paths.h"
#include "table/itemtable.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QThread>

namespace {

const QString SettingsFileName = QStringLiteral("setting.ini");
const QString GridFileName = QStringLiteral("grid.db");
const QString LinkListFileName = QStringLiteral("listnew");
const QString PageCacheFileName = QStringLiteral("DB.MDB");

} // namespace

TAppCore::TAppCore(QObject* parent)
    : QObject(parent), m_grid(new TItemTable(this)), m_links(new TLinkList(this)) {
    m_linkWorkers.setMaxThreadCount(MaxLinkWorkers);
}

TAppCore::~TAppCore() {
    StopWorkers();
}

void TAppCore::StartWorker(const std::function<void()>& body) {
    QThread* thread = QThread::create(body);
    {
        QMutexLocker lock(&m_workersLock);
        m_workers.append(thread);
    }
    connect(thread, &QThread::finished, this, [this, thread] {
        {
            QMutexLocker lock(&m_workersLock);
            m_workers.removeOne(thread);
        }
        thread->deleteLater();
    });
    thread->start();
}

void TAppCore::WaitForWorkers() {
    while (ThreadsRunning > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void TAppCore::StopWorkers() {
    m_stopping = true;
    m_linkWorkers.waitForDone();
    QList<QThread*> running;
    {
        QMutexLocker lock(&m_workersLock);
        running = m_workers;
    }
    for (QThread* thread : running)
        thread->wait();
}

QString TAppCore::FileVersionText() {
    return QStringLiteral(TOVREL_VERSION_TEXT);
}

QString TAppCore::DefaultCaption(TCommand command) {
    switch (command) {
    case TCommand::Search:
        return QStringLiteral("开始搜索");
    case TCommand::Export:
        return QStringLiteral("导出CSV");
    case TCommand::Pictures:
        return QStringLiteral("下载图片");
    }
    return {};
}

TAppCore::TChoices TAppCore::Choices() const {
    QMutexLocker lock(&m_choicesLock);
    return m_choices;
}

void TAppCore::UpdateChoices(const std::function<void(TChoices&)>& edit) {
    {
        QMutexLocker lock(&m_choicesLock);
        edit(m_choices);
    }
    emit choicesChanged();
}

void TAppCore::Startup() {
    // 2. The page cache store.
    m_pageCache = std::make_unique<TPageCache>(TPaths::WorkFile(PageCacheFileName), TPageCache::MachineKey());
    for (const QString& message : m_pageCache->initializeDB())
        ShowMessage(message, QStringLiteral("提示"));
    NextstartupUpdate = false;
    // 6. The settings.
    UpdateChoices([](TChoices& c) {
        c = TChoices();
        ReadSettings(c, TPaths::WorkFile(SettingsFileName));
    });
    // 7.-9. The table and the link list.
    m_grid->ResetGrid();
    const QString gridFile = TPaths::WorkFile(GridFileName);
    if (QFileInfo::exists(gridFile)) {
        const TFileResult loaded = LoadGridFromFile(*m_grid, gridFile);
        if (!loaded.ok) {
            // The file is kept aside before anything can overwrite it, and the user is told where.
            const QString aside = gridFile + QStringLiteral(".bad");
            QFile::remove(aside);
            const bool kept = QFile::rename(gridFile, aside);
            ShowMessage(kept ? QStringLiteral("宝贝表格文件 %1 无法读取（%2），已另存为 %3。")
                                   .arg(GridFileName, loaded.error, aside)
                             : QStringLiteral("宝贝表格文件 %1 无法读取（%2）。").arg(gridFile, loaded.error),
                        QStringLiteral("提示"));
        }
    }
    const QString listFile = TPaths::WorkFile(LinkListFileName);
    if (QFileInfo::exists(listFile))
        LoadLinkListFromFile(*m_links, listFile);
    // 10.-12. The version text, the update buffer and the province list.
    VersionText = FileVersionText();
    // Seam: the update buffer is created here once the self-update exists.
    ProvinceList = ProvinceListEntries();
}

void TAppCore::SaveState() {
    const QString settingsError = WriteSettings(Choices(), TPaths::WorkFile(SettingsFileName));
    if (!settingsError.isEmpty())
        ShowMessage(settingsError, QStringLiteral("提示"));
    if (m_links->Count() > 0) {
        const TFileResult saved = SaveLinkListToFile(*m_links, TPaths::WorkFile(LinkListFileName));
        if (!saved.ok)
            ShowMessage(QStringLiteral("商品列表无法保存到 %1：%2").arg(LinkListFileName, saved.error),
                        QStringLiteral("提示"));
    }
    const TFileResult saved = SaveGridToFile(*m_grid, TPaths::WorkFile(GridFileName));
    if (!saved.ok)
        ShowMessage(QStringLiteral("宝贝表格无法保存到 %1：%2").arg(GridFileName, saved.error),
                    QStringLiteral("提示"));
    ProvinceList.clear();
}
