// The marketplace simulator as a program, for trying Tovrel by hand without the internet:
//
//   marketsim ROOT [PORT]
//
// serves ROOT/HOST/PATH for every host (a file named with the query, such as "item.htm?id=1", is
// preferred to one without) and prints the proxy address to give Tovrel as http_proxy.

#include "marketsim.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTextStream out(stdout);
    if (args.isEmpty() || !QDir(args[0]).exists()) {
        QTextStream(stderr) << "usage: marketsim ROOT [PORT]   (ROOT holds one folder per host)\n";
        return 2;
    }
    TMarketSim sim(args.size() > 1 ? quint16(args[1].toUInt()) : quint16(0));
    const QDir root(args[0]);
    for (const QString& host : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        sim.ServeDir(host, root.filePath(host), "text/html; charset=GBK");
    out << "http_proxy=" << sim.Origin() << Qt::endl;
    return app.exec();
}
