#include "platform/shell.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#ifdef Q_OS_LINUX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;
#endif

namespace {

QString opener() {
    return QStringLiteral("xdg-open");
}

// Starts `program` in `folder` as a process of its own that outlives this one: in a session of
// its own (closing the terminal does not end it), with the standard streams on /dev/null, with
// the default handling of every signal, and with none of this process's other descriptors. A
// program that kept those (the web views' sockets among them) would keep this process's helper
// processes alive after it has ended.
bool startDetached(const QString& program, const QStringList& arguments, const QString& folder) {
    if (QStandardPaths::findExecutable(program).isEmpty() && !QFile::exists(program))
        return false;
#ifdef Q_OS_LINUX
    // A shell in between starts the program in the background and ends at once, so the program
    // is nobody's child here and leaves no process behind when it ends.
    QByteArrayList args{"/bin/sh", "-c", "\"$0\" \"$@\" &", QFile::encodeName(program)};
    for (const QString& argument : arguments)
        args << QFile::encodeName(argument);
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    const QByteArray dir = QFile::encodeName(folder);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!dir.isEmpty())
        posix_spawn_file_actions_addchdir_np(&actions, dir.constData());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all); // SIGPIPE is ignored here, not there
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
#else
    return QProcess::startDetached(program, arguments, folder);
#endif
}

} // namespace

bool TShell::OpenInBrowser(const QString& link) {
    const QString browser = qEnvironmentVariable("BROWSER").trimmed();
    return startDetached(browser.isEmpty() ? opener() : browser, {link}, QString());
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
    return startDetached(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), script}, folder);
#else
    return startDetached(QStringLiteral("/bin/sh"), {script}, folder);
#endif
}
