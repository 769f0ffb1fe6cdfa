#include "cli/clicommands.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tovrel-cli"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    return RunCli(QCoreApplication::arguments().mid(1), out, err);
}
