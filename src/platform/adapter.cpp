#include "platform/adapter.h"

#include <QDir>
#include <QFile>

#include <map>

namespace {

QString readLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readLine()).trimmed();
}

} // namespace

QString AdapterAddress() {
    // Linux lists its adapters under /sys/class/net; "first" is the lowest interface index.
    const QDir net(QStringLiteral("/sys/class/net"));
    std::map<int, QString> byIndex;
    for (const QString& name : net.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        const QString address = readLine(net.filePath(name + QStringLiteral("/address"))).toUpper();
        if (address.size() != 17 || address == u"00:00:00:00:00:00")
            continue;
        bool ok = false;
        const int index = readLine(net.filePath(name + QStringLiteral("/ifindex"))).toInt(&ok);
        byIndex.emplace(ok ? index : 1 << 30, address);
    }
    if (byIndex.empty())
        return {};
    return QString(byIndex.begin()->second).replace(QLatin1Char(':'), QLatin1Char('-'));
}
