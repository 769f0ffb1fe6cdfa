#include "platform/paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex g_lock;
QString g_workDir;
QString g_installDir;

} // namespace

QString TPaths::WorkDir() {
    QMutexLocker lock(&g_lock);
    if (g_workDir.isEmpty())
        g_workDir = QCoreApplication::applicationDirPath();
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
    return g_installDir.isEmpty() ? QCoreApplication::applicationDirPath() : g_installDir;
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
