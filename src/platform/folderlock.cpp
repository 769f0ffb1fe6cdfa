#include "platform/folderlock.h"

#include <QDir>
#include <QLockFile>

TFolderLock::TFolderLock(const QString& folder)
    : m_file(std::make_unique<QLockFile>(QDir(folder).filePath(QString::fromLatin1(FileName)))) {
    // A lock is stale only when its process is gone, never by its age: the window holds its folder
    // for as long as it runs.
    m_file->setStaleLockTime(0);
}

TFolderLock::~TFolderLock() = default;

TStatus TFolderLock::Lock() {
    if (m_file->isLocked() || m_file->tryLock(0))
        return {};
    switch (m_file->error()) {
    case QLockFile::LockFailedError:
        m_holder = TFolderHolder();
        m_file->getLockInfo(&m_holder.Pid, &m_holder.Host, &m_holder.App);
        return MakeError(TErrc::Locked, m_holder.App);
    case QLockFile::PermissionError:
        return MakeError(TErrc::Io, QStringLiteral("permission denied"));
    default:
        return MakeError(TErrc::Io, QStringLiteral("the lock file could not be made"));
    }
}

bool TFolderLock::Held() const {
    return m_file->isLocked();
}
