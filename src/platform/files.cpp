#include "platform/files.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TError ioError(const QFileDevice& file) {
    return FileError(file);
}

} // namespace

TError FileError(const QFileDevice& file) {
    const int code = errno;
    QString reason = file.errorString();
    if ((reason.isEmpty() || reason == u"Unknown error") && code != 0)
        reason = QString::fromLocal8Bit(std::strerror(code));
    return MakeError(TErrc::Io, reason);
}

void StartWriteBack(const QFileDevice& file) {
#if defined(__linux__)
    if (const int fd = file.handle(); fd >= 0)
        (void)sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); // a hint: its failure changes nothing
#else
    (void)file;
#endif
}

TStatus CommitSaveFile(QSaveFile& file) {
    // QSaveFile commits even when the bytes still in its buffer cannot be written (the disk is
    // full, a size limit is reached), so the flush is checked here first.
    if (!file.flush()) {
        const TError error = ioError(file);
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return ioError(file);
    return {};
}

TStatus WriteWholeFile(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return ioError(file);
    if (file.write(bytes) != bytes.size()) {
        const TError error = ioError(file);
        file.cancelWriting();
        return error;
    }
    return CommitSaveFile(file);
}

namespace {

TError systemError() {
    return MakeError(TErrc::Io, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

TStatus ClearForRegularFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) != 0)
        return errno == ENOENT ? TStatus() : TStatus(systemError());
    if (S_ISREG(info.st_mode))
        return {};
    if (S_ISDIR(info.st_mode))
        return MakeError(TErrc::Io, QStringLiteral("这里是一个文件夹"));
    // A link goes, not what it points at.
    if (::unlink(name.constData()) != 0)
        return systemError();
    return {};
}

TStatus MakeRealFolder(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    struct stat info {};
    if (::lstat(name.constData(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return {};
        if (::unlink(name.constData()) != 0)
            return systemError();
    } else if (errno != ENOENT) {
        return systemError();
    }
    if (::mkdir(name.constData(), 0755) != 0 && errno != EEXIST)
        return systemError();
    // Made by another meanwhile: it must still be a real folder.
    if (::lstat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return MakeError(TErrc::Io, QStringLiteral("文件夹无法创建"));
    return {};
}

bool PathTaken(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

TResult<QByteArray> ReadStateFile(const QString& path, qint64 maxBytes) {
    const QFileInfo info(path);
    if (!info.isFile())
        return MakeError(TErrc::Damaged, QStringLiteral("不是普通文件"));
    if (info.size() > maxBytes)
        return MakeError(TErrc::Damaged, QStringLiteral("大于 %1 字节").arg(maxBytes));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ioError(file);
    // The size may have changed since it was looked at: never more than the limit is read.
    QByteArray bytes;
    bytes.reserve(info.size());
    while (true) {
        const QByteArray piece = file.read(std::min<qint64>(maxBytes + 1 - bytes.size(), 1 << 16));
        if (piece.isEmpty())
            break;
        bytes += piece;
        if (bytes.size() > maxBytes)
            return MakeError(TErrc::Damaged, QStringLiteral("大于 %1 字节").arg(maxBytes));
    }
    if (file.error() != QFileDevice::NoError)
        return ioError(file);
    return bytes;
}

TResult<QByteArray> ReadChosenFile(const QString& path, qint64 maxBytes) {
    // Opened without waiting (a pipe with no writer would block the open itself), then looked at
    // through the very file opened.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return systemError();
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const TError error = systemError();
        ::close(fd);
        return error;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        return MakeError(TErrc::Refused, S_ISDIR(info.st_mode) ? QStringLiteral("这是一个文件夹")
                                                               : QStringLiteral("不是普通文件"));
    }
    if (info.st_size > maxBytes) {
        ::close(fd);
        return MakeError(TErrc::Refused, QStringLiteral("文件超过 %1 MB").arg(maxBytes >> 20));
    }
    QByteArray bytes;
    bytes.reserve(qsizetype(info.st_size));
    char piece[1 << 16];
    while (true) {
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const TError error = systemError();
            ::close(fd);
            return error;
        }
        if (n == 0)
            break;
        bytes.append(piece, qsizetype(n));
        if (bytes.size() > maxBytes) {
            ::close(fd);
            return MakeError(TErrc::Refused, QStringLiteral("文件超过 %1 MB").arg(maxBytes >> 20));
        }
    }
    ::close(fd);
    return bytes;
}

TResult<QString> SetAside(const QString& path) {
    QString aside = path + QStringLiteral(".bad");
    for (int n = 1; PathTaken(aside); ++n)
        aside = path + QStringLiteral(".bad.") + QString::number(n);
    if (std::rename(QFile::encodeName(path).constData(), QFile::encodeName(aside).constData()) != 0)
        return MakeError(TErrc::Io, QString::fromLocal8Bit(std::strerror(errno)));
    return aside;
}

QString LocalFileAddress(const QString& path) {
    return QUrl::fromLocalFile(path).toString();
}
