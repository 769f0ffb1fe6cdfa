#include "export/props.h"

#include "base/commatext.h"
#include "base/text.h"
#include "web/httpclient.h"
#include "web/patterns.h"

namespace {

// The text of the object that starts at `position`: at most 500 characters, cut before its first
// "}" (nothing when there is none within them).
QString objectAt(const QString& reply, qsizetype position) {
    const QString window = reply.mid(position, 500);
    const qsizetype end = window.indexOf(QLatin1Char('}'));
    return end >= 0 ? window.left(end) : QString();
}

const QString NameMember = QStringLiteral("\"name\":\"");

} // namespace

QString PropertyRequestUrl(const QString& head, const QString& propsHost, const QString& categoryId) {
    return head + propsHost + QStringLiteral("/apitools/ajax_props.do?act=props&cid=") + categoryId;
}

QString LookupPropPair(const QString& reply, QString name, QString value) {
    // The reply writes "/" as "\/".
    name.replace(QLatin1Char('/'), QStringLiteral("\\/"));
    value.replace(QLatin1Char('/'), QStringLiteral("\\/"));

    QString pid;
    if (const qsizetype at = reply.indexOf(NameMember + name); at >= 0)
        pid = TPatterns::FindsStr(QStringLiteral(",\"pid\":([^,]*)"), objectAt(reply, at), false);

    QString vid;
    qsizetype at = reply.indexOf(NameMember + value);
    if (at < 0 && !TrimText(value).isEmpty())
        at = reply.indexOf(TrimText(value));
    if (at >= 0) {
        const QString object = objectAt(reply, at);
        vid = TPatterns::FindsStr(QStringLiteral(",\"vid\":([^}]*)"), object, false);
        if (TrimText(vid).isEmpty())
            vid = TPatterns::FindsStr(QStringLiteral(",\"parent_vid\":([^,]*)"), object, false);
    }
    if (TrimText(pid).isEmpty() || TrimText(vid).isEmpty())
        return {};
    return pid + QLatin1Char(':') + vid + QLatin1Char(';');
}

QString CategoryPropertyField(const QString& reply, const QString& props) {
    if (reply.isEmpty())
        return {};
    QString field;
    for (const QString& entry : FromCommaText(props)) {
        const qsizetype colon = entry.indexOf(QLatin1Char(':'));
        const QString name = colon >= 0 ? entry.left(colon) : QString();
        const QString value = TrimText(colon >= 0 ? entry.mid(colon + 1) : entry);
        if (value.contains(QLatin1Char(' ')))
            for (const QString& piece : TPatterns::SplitString(value, QStringLiteral(" ")))
                field += LookupPropPair(reply, name, piece);
        else
            field += LookupPropPair(reply, name, value);
    }
    if (!field.isEmpty())
        field.chop(1);
    return field;
}
