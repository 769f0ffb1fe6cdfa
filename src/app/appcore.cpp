#include "app/appcore.h"

#include "collect/linklist.h"
#include "platform/paths.h"
#include "table/itemtable.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>

namespace {

const QString GridFileName = QStringLiteral("grid.db");
const QString LinkListFileName = QStringLiteral("listnew");

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
    // Seam: the page cache store is prepared here (initializeDB) once the page cache exists.
    NextstartupUpdate = false;
    // Seam: the settings file is read into Choices here once it exists; until then the
    // defaults of a first start stand.
    UpdateChoices([](TChoices& c) { c = TChoices(); });
    m_grid->ResetGrid();
    if (QFileInfo::exists(TPaths::WorkFile(GridFileName))) {
        // Seam: the saved table is loaded here once the grid file format exists.
    }
    if (QFileInfo::exists(TPaths::WorkFile(LinkListFileName))) {
        // Seam: the saved link list is loaded here once the link-list file format exists.
    }
    VersionText = FileVersionText();
    // Seam: the update buffer is created here once the self-update exists.
    // Seam: the province list is filled here once the item scraper brings it.
    ProvinceList.clear();
}

void TAppCore::SaveState() {
    // Seam: the settings file is written here once it exists.
    if (m_links->Count() > 0) {
        // Seam: the link list is written to "listnew" here once the file format exists.
    }
    // Seam: the table is written to "grid.db" here once the grid file format exists.
    ProvinceList.clear();
}
