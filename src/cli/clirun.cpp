#include "cli/clicommands.h"

#include "app/appcore.h"
#include "app/session.h"
#include "cli/clicommand.h"
#include "cli/clioutput.h"

#include <QCommandLineParser>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

#include <functional>
#include <memory>

namespace {

// What the arguments ask for: the help, the version, or a command (with its working folder).
struct TInvocation {
    bool help = false;
    bool version = false;
    QString workDir;
    const TCliCommand* command = nullptr;
    TCliArgs args;
};

// The invocation the arguments make: the options before the command, the command and its
// arguments (checked before anything is loaded, so a usage error touches no file). Fails
// (TErrc::Refused) with what is wrong.
TResult<TInvocation> parseInvocation(const QStringList& args) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // The program's options come before the command; what follows the command is its own.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption workDir(QStringLiteral("workdir"), QString(), QStringLiteral("DIR"));
    parser.addOptions({help, version, workDir});
    if (!parser.parse(QStringList{QStringLiteral("tovrel-cli")} + args)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (unknown.isEmpty())
            return MakeError(TErrc::Refused, QStringLiteral("--workdir 需要一个文件夹"));
        return MakeError(TErrc::Refused,
                         QStringLiteral("未知的选项：") +
                             (unknown.first().size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) +
                             unknown.first());
    }
    TInvocation inv;
    if (parser.isSet(help)) {
        inv.help = true;
        return inv;
    }
    if (parser.isSet(version)) {
        inv.version = true;
        return inv;
    }
    if (parser.isSet(workDir)) {
        inv.workDir = parser.value(workDir);
        if (inv.workDir.trimmed().isEmpty())
            return MakeError(TErrc::Refused, QStringLiteral("--workdir 需要一个文件夹"));
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return MakeError(TErrc::Refused, QStringLiteral("没有给出命令"));
    inv.command = FindCliCommand(positional[0]);
    if (!inv.command)
        return MakeError(TErrc::Refused, QStringLiteral("未知的命令：") + positional[0]);
    // "tovrel-cli COMMAND --help" tells that command's usage.
    if (positional.size() == 2 && (positional[1] == u"--help" || positional[1] == u"-h")) {
        inv.help = true;
        return inv;
    }
    TResult<TCliArgs> parsed = ParseCliArgs(*inv.command, positional.mid(1));
    if (!parsed)
        return parsed.error();
    if (const TStatus checked = inv.command->check(*parsed); !checked)
        return checked.error();
    inv.args = std::move(parsed).value();
    return inv;
}

// The texts the window would show go to the error stream, one line each; jobs report from their
// threads, so the writes are serialised. Returns the function that writes such a line.
std::function<void(const QString&)> reportToErrorStream(TAppCore& core, QTextStream& err) {
    auto errLock = std::make_shared<QMutex>();
    auto say = [&err, errLock](const QString& text) {
        QMutexLocker lock(errLock.get());
        err << text << '\n';
        err.flush();
    };
    QObject::connect(&core, &TAppCore::statusTextChanged, &core, say, Qt::DirectConnection);
    QObject::connect(&core, &TAppCore::logLine, &core, say, Qt::DirectConnection);
    QObject::connect(&core, &TAppCore::progress, &core, say, Qt::DirectConnection);
    // A line per finished step, as the window's first status panel counts it, and what came of
    // the job when it ends. The update download's bytes are not counted line by line.
    QObject::connect(
        &core, &TAppCore::jobAdvanced, &core,
        [say](TJobKind kind, qint64 done, qint64 total, const QString& detail) {
            if (kind == TJobKind::Update || done == 0)
                return;
            const QString step = TAppCore::ProgressText(kind, done, total);
            say(detail.isEmpty() ? step : step + QLatin1Char(' ') + FlatText(detail));
        },
        Qt::DirectConnection);
    QObject::connect(
        &core, &TAppCore::jobFinished, &core,
        [say](TJobKind kind, const TJobResult& result) {
            if (kind != TJobKind::Update)
                say(TAppCore::OutcomeText(kind, result));
        },
        Qt::DirectConnection);
    QObject::connect(
        &core, &TAppCore::messageShown, &core, [say](const QString& text, const QString&) { say(text); },
        Qt::DirectConnection);
    return say;
}

} // namespace

QString CliUsage() {
    QString usage = QStringLiteral(
        "用法: tovrel-cli [--workdir DIR] COMMAND [ARGS]\n"
        "      tovrel-cli --help | --version\n"
        "      tovrel-cli COMMAND --help\n"
        "\n"
        "在程序保存的状态上执行一个命令，然后像窗口关闭时一样保存状态。状态保存在工作文件夹中：\n"
        "给出 DIR 时为 DIR；否则，程序所在的文件夹可写并且已有状态文件时（便携版）为该文件夹；\n"
        "否则为用户的数据文件夹 ~/.local/share/Tovrel。\n"
        "\n"
        "命令:\n");
    for (const TCliCommand& c : CliCommands())
        usage += QStringLiteral("  ") + c.usage + QLatin1Char('\n');
    usage += QStringLiteral("\n退出状态: 0 成功，1 失败，2 用法错误，130 被中断\n");
    return usage;
}

int RunCli(const QStringList& args, QTextStream& out, QTextStream& err) {
    const TResult<TInvocation> parsed = parseInvocation(args);
    if (!parsed) {
        err << "tovrel-cli: " << parsed.error().Detail << "\n\n" << CliUsage();
        return int(TCliExit::Usage);
    }
    const TInvocation& inv = *parsed;
    if (inv.help) {
        if (inv.command)
            out << "用法: tovrel-cli [--workdir DIR] " << inv.command->usage << '\n';
        else
            out << CliUsage();
        return int(TCliExit::Ok);
    }
    if (inv.version) {
        out << "tovrel-cli " << TAppCore::FileVersionText() << '\n';
        return int(TCliExit::Ok);
    }
    if (!inv.workDir.isEmpty() && !TSession::UseWorkFolder(inv.workDir)) {
        err << "tovrel-cli: 工作文件夹不存在：" << inv.workDir << '\n';
        return int(TCliExit::Failure);
    }

    TAppCore core;
    const std::function<void(const QString&)> say = reportToErrorStream(core, err);
    // Ctrl+C, SIGTERM or a closed terminal stop the running job the way the window's close does:
    // what was finished stays and is saved, and the exit status tells that it was interrupted.
    TSession::TTermination termination;
    QObject::connect(&termination, &TSession::TTermination::terminationRequested, &core, [&core, say](int) {
        say(QStringLiteral("正在停止：已完成的部分会保留"));
        core.AskJobsToStop();
    });

    TCliContext context{core, out, err};
    if (inv.command->state == TCliCommand::TState::None) {
        const int status = inv.command->run(context, inv.args);
        out.flush();
        return status;
    }
    // One process writes a working folder at a time.
    const TAppCore::TStartupParts parts = inv.command->state == TCliCommand::TState::AllButTable
                                              ? TAppCore::TStartupParts::AllButTable
                                              : TAppCore::TStartupParts::Everything;
    if (const TStatus started = core.Startup(parts); !started) {
        err << "tovrel-cli: " << core.FolderBusyMessage() << '\n';
        return int(TCliExit::Failure);
    }
    int status = inv.command->run(context, inv.args);
    // Jobs are stopped and waited for, then what changed is saved. A change that could not be
    // saved is a failure (the reasons have been printed).
    if (const TStatus saved = core.Shutdown(); !saved && status == int(TCliExit::Ok))
        status = int(TCliExit::Failure);
    if (TSession::LastTerminationRequest() != 0)
        status = int(TCliExit::Interrupted);
    out.flush();
    err.flush();
    return status;
}
