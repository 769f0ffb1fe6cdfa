#include "app/appcore.h"
#include "app/session.h"
#include "gui/appicon.h"
#include "gui/mainwindow.h"
#include "gui/visualstyle.h"
#include "gui/webpages.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTextStream>
#include <QTranslator>

#include <cstdio>

int main(int argc, char** argv) {
    TSession::SuitLargeTexts();
    // Answered before anything else is set up, so they need no display: the update checks that a
    // new program starts by asking it its version.
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "--version") == 0) {
            std::printf("Tovrel %s\n", qPrintable(TAppCore::FileVersionText()));
            return 0;
        }
        if (qstrcmp(argv[i], "--help") == 0 || qstrcmp(argv[i], "-h") == 0) {
            std::printf("用法: Tovrel [--workdir DIR]\n"
                        "      Tovrel --help | --version\n"
                        "\n"
                        "在工作文件夹 DIR 上打开 Tovrel 的窗口（不给出时：程序所在的文件夹可写并且已有\n"
                        "状态文件时为该文件夹，否则为用户的数据文件夹 ~/.local/share/Tovrel）。\n"
                        "tovrel-cli 不用窗口执行同样的命令。\n");
            return 0;
        }
    }
    // The web views go through the same proxies as every other request; Chromium takes them as
    // switches read when the first view is made.
    RouteWebViewsThroughProxies();
    // The web views share one OpenGL context set-up; it must be chosen before the application.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tovrel"));
    // The icon of every window, and the desktop entry that names the running program.
    QApplication::setWindowIcon(AppIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tovrel.Tovrel"));

    if (const TStatus found = TSession::FindProgramFolder(); !found) {
        QMessageBox box(
            QMessageBox::Critical, QStringLiteral("提示"),
            QStringLiteral("找不到程序的工作文件夹（%1），Tovrel 无法启动。").arg(found.error().Detail),
            QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText);
        box.exec();
        return 1;
    }
    const QStringList args = QApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--workdir"));
    if (at > 0) {
        if (at + 1 >= args.size() || !TSession::UseWorkFolder(args[at + 1])) {
            QTextStream(stderr) << "Tovrel: --workdir 需要一个已有的文件夹\n";
            return 2;
        }
    }

    // Ctrl+C, SIGTERM or a closed terminal end the program like "退出": every event loop ends, and
    // the destroy step stops the jobs and saves. A request during the start is acted on as soon as
    // the window's loop runs.
    TSession::IgnoreBrokenPipes();
    TSession::TTermination termination;
    QObject::connect(&termination, &TSession::TTermination::terminationRequested, &app,
                     [] { QCoreApplication::exit(0); });

    ApplyVisualStyle(app);
    // The program speaks Chinese, Qt's own texts included: the buttons of its questions ("是",
    // "否", which its messages name), the file dialogs, the web views' menus.
    for (const char* catalogue : {"qtbase_zh_CN", "qtwebengine_zh_CN"}) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QLatin1String(catalogue), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QApplication::installTranslator(translator);
        else
            delete translator;
    }
    TAppCore core;
    // One process writes a working folder at a time: a second window or a tovrel-cli command on
    // the same folder is refused before it loads anything.
    if (const TStatus locked = core.LockWorkFolder(); !locked) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("提示"), core.FolderBusyMessage(),
                        QMessageBox::Ok);
        box.setTextFormat(Qt::PlainText); // it names what the lock file says
        box.exec();
        return 1;
    }
    TFrMain window(&core);
    window.show();
    return app.exec();
}
