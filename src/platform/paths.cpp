#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

QMutex g_lock;
QString g_workDir;
QString g_installDir;
QString g_programDir; // found by FindProgramFolder

QString programDirLocked() {
    return g_programDir.isEmpty() ? QCoreApplication::applicationDirPath() : g_programDir;
}

} // namespace

TStatus TPaths::FindProgramFolder() {
    QByteArray folder;
#ifdef Q_OS_LINUX
    QByteArray target(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", target.data(), size_t(target.size()));
    if (length <= 0 || length >= target.size())
        return MakeError(TErrc::Io,
                         QStringLiteral("/proc/self/exe: ") + QString::fromLocal8Bit(std::strerror(errno)));
    target.truncate(length);
    folder = target.left(target.lastIndexOf('/'));
    if (folder.isEmpty())
        folder = "/";
#else
    folder = QFile::encodeName(QCoreApplication::applicationDirPath());
    if (folder.isEmpty())
        return MakeError(TErrc::Io, QStringLiteral("找不到程序所在的文件夹"));
#endif
    QString name = QFile::decodeName(folder);
    if (QFile::encodeName(name) != folder) {
        // A name Qt's file names cannot carry: the folder becomes the current one and is reached
        // through the system's link to it, a name that Qt carries (and that stays absolute, as
        // the files written through a temporary file beside them need).
        if (::chdir(folder.constData()) != 0)
            return MakeError(TErrc::Io, QFile::decodeName(folder) + QStringLiteral("：") +
                                            QString::fromLocal8Bit(std::strerror(errno)));
        name = QStringLiteral("/proc/self/cwd");
    }
    QMutexLocker lock(&g_lock);
    g_programDir = name;
    return {};
}

QString TPaths::DataFolder() {
    // The same folder for the window and tovrel-cli, whatever each calls itself.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Tovrel");
}

bool TPaths::IsPortableFolder(const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    if (::access(name.constData(), W_OK) != 0)
        return false;
    for (const char* state : {"grid.db", "listnew", "setting.ini"})
        if (QFileInfo::exists(QDir(folder).filePath(QLatin1String(state))))
            return true;
    return false;
}

TStatus TPaths::ChooseWorkFolder() {
    const QString program = [] {
        QMutexLocker lock(&g_lock);
        return programDirLocked();
    }();
    if (IsPortableFolder(program)) {
        SetWorkDir(program);
        return {};
    }
    const QString data = DataFolder();
    if (!QDir().mkpath(data))
        return MakeError(TErrc::Io,
                         QStringLiteral("数据文件夹 %1 无法创建").arg(QDir::toNativeSeparators(data)));
    SetWorkDir(data);
    return {};
}

bool TPaths::InstallDirWritable() {
    return ::access(QFile::encodeName(InstallDir()).constData(), W_OK) == 0;
}

QString TPaths::WorkDir() {
    QMutexLocker lock(&g_lock);
    if (g_workDir.isEmpty())
        g_workDir = programDirLocked();
    return g_workDir;
}

void TPaths::SetWorkDir(const QString& dir) {
    QMutexLocker lock(&g_lock);
    g_workDir = QDir(dir).absolutePath();
}

QString TPaths::WorkFile(const QString& name) {
    return QDir(WorkDir()).filePath(name);
}

QString TPaths::InstallDir() {
    QMutexLocker lock(&g_lock);
    return g_installDir.isEmpty() ? programDirLocked() : g_installDir;
}

void TPaths::SetInstallDir(const QString& dir) {
    QMutexLocker lock(&g_lock);
    g_installDir = dir.isEmpty() ? QString() : QDir(dir).absolutePath();
}

QString TPaths::WindowExecutableName() {
#ifdef Q_OS_WIN
    return QStringLiteral("Tovrel.exe");
#else
    return QStringLiteral("Tovrel");
#endif
}

QString TPaths::CliExecutableName() {
#ifdef Q_OS_WIN
    return QStringLiteral("tovrel-cli.exe");
#else
    return QStringLiteral("tovrel-cli");
#endif
}
