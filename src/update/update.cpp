#include "update/update.h"

#include "base/ansi.h"
#include "base/servicevalues.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "web/httpclient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

// A path inside single quotes for the POSIX shell (a quote in it closed, escaped and reopened).
QString shellQuoted(const QString& path) {
    return QLatin1Char('\'') + QString(path).replace(QLatin1Char('\''), QStringLiteral("'\\''")) +
           QLatin1Char('\'');
}

} // namespace

bool IsNewVersion(const QString& latest, const QString& current) {
    return latest != current;
}

QString UpdateAddress(const QString& publisher) {
    QString server = publisher;
    while (server.endsWith(QLatin1Char('/')))
        server.chop(1);
    return server + QLatin1Char('/') + TPaths::WindowExecutableName();
}

TStatus CheckExecutable(const QByteArray& bytes) {
#ifdef Q_OS_WIN
    const bool executable = bytes.startsWith("MZ");
#else
    const bool executable = bytes.startsWith("\x7F"
                                             "ELF");
#endif
    if (!executable)
        return MakeError(TErrc::BadReply, QStringLiteral("the download is no executable for this system"));
    return {};
}

QString StagedExecutable(const QString& installDir) {
    return QDir(installDir).filePath(QStringLiteral("bak/") + TPaths::WindowExecutableName());
}

TJobResult DownloadUpdate(const TJobContext& job, const QString& installDir) {
    TJobResult result;
    auto fail = [&](const QString& why) {
        result.Outcome = job.Stopped() ? TJobOutcome::Stopped : TJobOutcome::Failed;
        result.Summary = QStringLiteral("更新失败,请检查网络后重新更新！");
        job.Report().Log(result.Summary + QStringLiteral("（") + why + QStringLiteral("）"));
        return result;
    };
    TC tc(TRequestLimits(), job.StopFlag());
    const QString address = UpdateAddress(job.Service().Value(TServiceKey::PublisherServer));
    // A new download starts from nothing: the bytes of a failed one are never added to.
    const TResult<QByteArray> bytes =
        tc.Download(address, MaxUpdateBytes,
                    [&job](qint64 received, qint64 total) { job.Report().Advance(received, total); });
    if (!bytes)
        return fail(bytes.error().Detail);
    if (const TStatus executable = CheckExecutable(*bytes); !executable)
        return fail(executable.error().Detail);
    const QString staged = StagedExecutable(installDir);
    if (!QDir().mkpath(QFileInfo(staged).path()))
        return fail(QStringLiteral("the folder bak could not be made"));
    // Written whole and renamed into place, so a staged copy is never half a program.
    if (const TStatus written = WriteWholeFile(staged, *bytes); !written)
        return fail(written.error().Detail);
    QFile::setPermissions(staged, QFile::permissions(staged) | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                      QFileDevice::ExeOther);
    result.Produced.append(staged);
    result.Summary = QStringLiteral("更新文件已准备就绪");
    return result;
}

QStringList UpdateScriptLines(TScriptKind kind, const QString& executable, bool restartNow, qint64 pid,
                              const QStringList& restartArguments) {
    QStringList lines;
    if (kind == TScriptKind::WindowsBatch) {
        const QString exe = QDir::toNativeSeparators(executable);
        QString dir = QDir::toNativeSeparators(QFileInfo(executable).path());
        if (!dir.endsWith(QLatin1Char('\\')))
            dir += QLatin1Char('\\');
        const QString name = QFileInfo(executable).fileName();
        lines << QStringLiteral("@echo off") << QStringLiteral(":try")
              << QStringLiteral("del \"") + exe + QLatin1Char('"')
              << QStringLiteral("if exist \"") + exe + QStringLiteral("\" goto try")
              << QStringLiteral(":loop")
              << QStringLiteral("copy \".\\bak\\") + name + QStringLiteral("\"  \"") + dir + QLatin1Char('"')
              << QStringLiteral("if not exist \"") + exe + QStringLiteral("\" goto loop");
        if (restartNow) {
            QString start = QStringLiteral("start \"\" \"") + exe + QLatin1Char('"');
            for (const QString& argument : restartArguments)
                start += QStringLiteral(" \"") + argument + QLatin1Char('"');
            lines << start;
        }
        lines << QStringLiteral("del %0");
        return lines;
    }
    const QString staged =
        QFileInfo(executable).path() + QStringLiteral("/bak/") + QFileInfo(executable).fileName();
    lines << QStringLiteral("#!/bin/sh")
          << QStringLiteral(
                 "# Puts the new Tovrel in place once the old one no longer runs, then removes itself.")
          << QStringLiteral("exe=") + shellQuoted(executable)
          << QStringLiteral("staged=") + shellQuoted(staged) << QStringLiteral("pid=%1").arg(pid)
          << QStringLiteral("running() {")
          << QStringLiteral("    # The program's own process, unless it has ended (a zombie has ended too).")
          << QStringLiteral("    if [ \"$pid\" -gt 0 ] && kill -0 \"$pid\" 2>/dev/null; then")
          << QStringLiteral("        grep -qs '^State:[[:space:]]*Z' \"/proc/$pid/status\" || return 0")
          << QStringLiteral("    fi") << QStringLiteral("    # Any other process that runs the executable.")
          << QStringLiteral("    for p in /proc/[0-9]*; do")
          << QStringLiteral("        [ \"$(readlink \"$p/exe\" 2>/dev/null)\" = \"$exe\" ] && return 0")
          << QStringLiteral("    done") << QStringLiteral("    return 1") << QStringLiteral("}")
          << QStringLiteral("while running; do sleep 1; done") << QStringLiteral("tries=0")
          << QStringLiteral("until cp \"$staged\" \"$exe.new\" && chmod 755 \"$exe.new\" && mv -f "
                            "\"$exe.new\" \"$exe\"; do")
          << QStringLiteral("    tries=$((tries + 1))")
          << QStringLiteral("    if [ \"$tries\" -ge 60 ]; then rm -f \"$exe.new\" \"$0\"; exit 1; fi")
          << QStringLiteral("    sleep 1") << QStringLiteral("done");
    if (restartNow) {
        QString start = QStringLiteral("nohup \"$exe\"");
        for (const QString& argument : restartArguments)
            start += QLatin1Char(' ') + shellQuoted(argument);
        lines << start + QStringLiteral(" >/dev/null 2>&1 &");
    }
    lines << QStringLiteral("rm -f \"$0\"");
    return lines;
}

QString UpdateScriptName() {
#ifdef Q_OS_WIN
    return QStringLiteral("update.bat");
#else
    return QStringLiteral("update.sh");
#endif
}

TStatus WriteUpdateScript(const QString& installDir, bool restartNow, const QStringList& restartArguments) {
    const QString exe = QDir(installDir).filePath(TPaths::WindowExecutableName());
#ifdef Q_OS_WIN
    const TScriptKind kind = TScriptKind::WindowsBatch;
#else
    const TScriptKind kind = TScriptKind::PosixShell;
#endif
    const QString text =
        UpdateScriptLines(kind, exe, restartNow, QCoreApplication::applicationPid(), restartArguments)
            .join(kind == TScriptKind::WindowsBatch ? QStringLiteral("\r\n") : QStringLiteral("\n")) +
        (kind == TScriptKind::WindowsBatch ? QStringLiteral("\r\n") : QStringLiteral("\n"));
    const QString script = QDir(installDir).filePath(UpdateScriptName());
    if (const TStatus written =
            WriteWholeFile(script, kind == TScriptKind::WindowsBatch ? TAnsi::Encode(text) : text.toUtf8());
        !written)
        return written;
    if (!TShell::StartScriptDetached(script, installDir))
        return MakeError(TErrc::Io, QStringLiteral("the update script could not be started"));
    return {};
}
