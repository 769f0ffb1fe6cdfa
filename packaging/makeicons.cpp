// Writes the program's icon at the icon theme's sizes: FOLDER/SIZE.png for each size. Run at build
// time for the package.

#include "gui/appicon.h"

#include <QDir>
#include <QGuiApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << "usage: tovrel-make-icons FOLDER\n";
        return 2;
    }
    if (!QDir().mkpath(args[1]))
        return 1;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        if (!DrawAppIcon(size).save(QDir(args[1]).filePath(QStringLiteral("%1.png").arg(size)), "PNG"))
            return 1;
    return 0;
}
