#include "config/servicevalues.h"

#include "platform/files.h"
#include "platform/paths.h"

#include "base/initext.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QStringList>

#include <array>
#include <utility>

namespace {

// How service.ini is read: lines starting with ";" or "#" are comments, a later line of the same
// key wins, and a value is taken as it stands after the "=" (quotes, commas and backslashes
// included) without the blanks around it. Anything else is ignored, so a damaged file still yields
// whatever keys it holds.
const TIniRules ServiceRules{QStringLiteral(";#"), true, false, -1};

// The values of the file as they were when it was last read, and what the file looked like then.
struct TServiceFile {
    QString path;
    bool exists = false;
    qint64 size = -1;
    QDateTime modified;
    QByteArray bytes;
    QHash<QString, QString> values; // by key name in lower case
};

QMutex g_lock;
TServiceFile g_file;

// The file's values, parsed again only when the file changed. Its path, size and modification time
// tell, except for a file modified in the last seconds: the clock that stamps files is coarse, so
// two edits close together may carry the same time, and such a file's bytes are compared instead.
QHash<QString, QString> currentValues() {
    const QString path = TPaths::WorkFile(QLatin1String(TServiceValues::FileName));
    const QFileInfo info(path);
    const bool exists = info.isFile();
    const QDateTime modified = info.lastModified();
    QMutexLocker lock(&g_lock);
    const bool sameStamp = g_file.path == path && g_file.exists == exists && g_file.size == info.size() &&
                           g_file.modified == modified;
    const bool recent = exists && modified.msecsTo(QDateTime::currentDateTime()) < 3000;
    if (sameStamp && !recent)
        return g_file.values;
    // Only a regular file of a sane size is read: a pipe in its place would block every use.
    const TResult<QByteArray> bytes = ReadStateFile(path, 1 << 20);
    const QByteArray content = bytes ? *bytes : QByteArray();
    if (sameStamp && content == g_file.bytes)
        return g_file.values;
    g_file = TServiceFile{path, exists, info.size(), modified, content, {}};
    const TIniText text = TIniText::FromBytes(content, TIniEncoding::Utf8);
    for (const auto& [key, value] : text.Section(QLatin1String(TServiceValues::Section), ServiceRules))
        g_file.values.insert(key.toLower(), value);
    return g_file.values;
}

} // namespace

QString TServiceValues::Value(TServiceKey key) {
    return Snapshot().Value(key);
}

QString TServiceValues::Value(const QString& keyName) {
    return Snapshot().Value(keyName);
}

TServiceSnapshot TServiceValues::Snapshot() {
    return TServiceSnapshot(currentValues());
}
