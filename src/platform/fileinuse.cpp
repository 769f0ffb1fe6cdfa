#include "platform/fileinuse.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Another process with a descriptor on the file that was opened for writing.
bool openForWritingElsewhere(const QString& canonical) {
    const QDir proc(QStringLiteral("/proc"));
    const QString self = QString::number(::getpid());
    for (const QString& pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool numeric = false;
        pid.toInt(&numeric);
        if (!numeric || pid == self)
            continue;
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        for (const QString& fd : fds.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
            if (QFileInfo(fds.filePath(fd)).symLinkTarget() != canonical)
                continue;
            QFile info(proc.filePath(pid + QStringLiteral("/fdinfo/") + fd));
            if (!info.open(QIODevice::ReadOnly))
                return true;
            for (const QByteArray& line : info.readAll().split('\n'))
                if (line.startsWith("flags:")) {
                    const int flags = line.mid(6).trimmed().toInt(nullptr, 8);
                    if ((flags & O_ACCMODE) != O_RDONLY)
                        return true;
                }
        }
    }
    return false;
}

} // namespace

bool FileInUse(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return true;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    const bool locked = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
    ::close(fd);
    if (locked)
        return true;
    if (QFileInfo::exists(
            info.dir().filePath(QStringLiteral(".~lock.") + info.fileName() + QLatin1Char('#'))))
        return true;
    return openForWritingElsewhere(info.canonicalFilePath());
}
