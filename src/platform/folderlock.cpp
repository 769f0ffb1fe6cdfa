#include "platform/folderlock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// When process `pid` started, as a time of the clock files are stamped with; invalid when the
// system does not tell.
QDateTime processStart(qint64 pid) {
#ifdef Q_OS_LINUX
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile system(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly) || !system.open(QIODevice::ReadOnly))
        return {};
    // The fields after the program's name (which may hold blanks and brackets): the start time is
    // the 22nd field of the line, the 20th after the name.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    bool ok = false;
    const qint64 ticks = fields.value(19).toLongLong(&ok);
    qint64 boot = -1;
    for (const QByteArray& entry : system.readAll().split('\n'))
        if (entry.startsWith("btime "))
            boot = entry.mid(6).trimmed().toLongLong();
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    if (!ok || boot < 0 || perSecond <= 0)
        return {};
    return QDateTime::fromMSecsSinceEpoch(boot * 1000 + ticks * 1000 / perSecond);
#else
    Q_UNUSED(pid);
    return {};
#endif
}

// Whether process `pid` runs and is the one that made a lock written at `written`: a process that
// started after that is another program that was given the same number since.
bool isLiveHolder(qint64 pid, const QDateTime& written) {
    if (pid <= 0)
        return false;
#ifdef Q_OS_UNIX
    if (::kill(pid_t(pid), 0) != 0 && errno != EPERM)
        return false;
#endif
    const QDateTime started = processStart(pid);
    // The start time is known to the clock tick and the boot time to the second.
    return !started.isValid() || !written.isValid() || started <= written.addSecs(2);
}

QString systemReason() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

TFolderLock::TFolderLock(const QString& folder)
    : m_path(QDir(folder).filePath(QString::fromLatin1(FileName))),
      m_file(std::make_unique<QLockFile>(m_path)) {
    // A lock is stale only when its process is gone, never by its age: the window holds its folder
    // for as long as it runs.
    m_file->setStaleLockTime(0);
}

TFolderLock::~TFolderLock() = default;

TStatus TFolderLock::takeOverIfStale() {
    const QByteArray name = QFile::encodeName(m_path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0)
        return {}; // gone meanwhile
    auto removed = [&](int result) -> TStatus {
        if (result == 0)
            return {};
        return MakeError(TErrc::Locked,
                         QStringLiteral("锁文件 %1 无法删除（%2）。如果没有别的 Tovrel 窗口或 tovrel-cli "
                                        "命令在使用这个文件夹，请删除这个文件后再试。")
                             .arg(QDir::toNativeSeparators(m_path), systemReason()));
    };
    // Something that is no lock of ours in its place: a folder (when empty), a link, a pipe.
    if (S_ISDIR(info.st_mode))
        return removed(::rmdir(name.constData()));
    if (!S_ISREG(info.st_mode))
        return removed(::unlink(name.constData()));
    // A lock that cannot be read, or names no live process of ours on this computer.
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return removed(::unlink(name.constData()));
    const QList<QByteArray> lines = file.read(4096).split('\n');
    bool numbered = false;
    const qint64 pid = lines.value(0).trimmed().toLongLong(&numbered);
    const QString host = QString::fromUtf8(lines.value(2).trimmed());
    const QDateTime written = QFileInfo(m_path).lastModified();
    file.close();
    if (numbered && pid > 0 && !host.isEmpty() && host != QSysInfo::machineHostName())
        return MakeError(TErrc::Locked, QString()); // another computer's: whether it runs is not known here
    if (numbered && isLiveHolder(pid, written))
        return MakeError(TErrc::Locked, QString());
    return removed(::unlink(name.constData()));
}

TStatus TFolderLock::Lock() {
    m_problem.clear();
    if (m_file->isLocked() || m_file->tryLock(0))
        return {};
    if (PathExists() || m_file->error() == QLockFile::LockFailedError) {
        if (const TStatus taken = takeOverIfStale(); !taken && !taken.error().Detail.isEmpty()) {
            m_problem = taken.error().Detail;
            m_holder = TFolderHolder();
            return taken;
        }
        if (m_file->tryLock(0))
            return {};
    }
    switch (m_file->error()) {
    case QLockFile::LockFailedError:
        m_holder = TFolderHolder();
        m_file->getLockInfo(&m_holder.Pid, &m_holder.Host, &m_holder.App);
        return MakeError(TErrc::Locked, m_holder.App);
    case QLockFile::PermissionError:
        return MakeError(TErrc::Io, QStringLiteral("没有权限"));
    default:
        return MakeError(TErrc::Io, QStringLiteral("无法创建锁文件"));
    }
}

bool TFolderLock::PathExists() const {
    struct stat info {};
    return ::lstat(QFile::encodeName(m_path).constData(), &info) == 0;
}

bool TFolderLock::Held() const {
    return m_file->isLocked();
}
