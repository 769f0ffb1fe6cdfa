#include "platform/shell.h"

#include <QProcess>

#include <cstdio>
#include <unistd.h>

namespace {

QString opener() {
    return QStringLiteral("xdg-open");
}

} // namespace

bool TShell::OpenInBrowser(const QString& link) {
    const QString browser = qEnvironmentVariable("BROWSER").trimmed();
    return QProcess::startDetached(browser.isEmpty() ? opener() : browser, {link});
}

void TShell::OpenLink(const QString& link, QObject* context, const std::function<void(bool)>& done) {
    auto* process = new QProcess(context);
    QObject::connect(process, &QProcess::finished, context,
                     [process, done](int code, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (done)
                             done(status == QProcess::NormalExit && code == 0);
                     });
    QObject::connect(process, &QProcess::errorOccurred, context,
                     [process, done](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         process->deleteLater();
                         if (done)
                             done(false);
                     });
    process->start(opener(), {link});
}

bool TShell::StartScriptDetached(const QString& script, const QString& folder) {
#ifdef Q_OS_WIN
    return QProcess::startDetached(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), script}, folder);
#else
    // Its own session: closing the terminal the program ran in does not end the script.
    return QProcess::startDetached(QStringLiteral("setsid"), {QStringLiteral("/bin/sh"), script}, folder);
#endif
}

void TShell::ExitProcessNow(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}
