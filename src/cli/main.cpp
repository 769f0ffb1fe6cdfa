#include "app/session.h"
#include "cli/clicommands.h"

#include <QGuiApplication>
#include <QTextStream>

namespace {

// The command line's standard error carries the program's own texts; Qt's notes about its
// environment (a runtime folder, a platform plugin) are not for its users. Errors still show.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        QTextStream(stderr) << message << '\n';
}

} // namespace

int main(int argc, char** argv) {
    TSession::SuitLargeTexts();
    qInstallMessageHandler(quietMessages);
    TSession::IgnoreBrokenPipes();
    // Drawing watermarks needs the fonts of a GUI application; the command line never shows a
    // window, so it runs on the offscreen platform unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tovrel-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The state files live beside the program unless --workdir names another folder: a program
    // whose folder cannot be found writes nowhere else instead.
    if (const TStatus found = TSession::FindProgramFolder(); !found) {
        err << "tovrel-cli: 找不到程序的工作文件夹（" << found.error().Detail << "）\n";
        return 1;
    }
    return RunCli(QCoreApplication::arguments().mid(1), out, err);
}
