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

void TShell::ExitProcessNow(int code) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(code);
}
