#include "base/servicevalues.h"

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

struct KeyInfo {
    TServiceKey key;
    const char* name;
    const char* fallback;
};

// Keys as they are spelled in service.ini, with their built-in defaults. CsvTemplate and
// LatestVersion have computed defaults (see DefaultValue).
constexpr std::array<KeyInfo, 19> Keys{{
    {TServiceKey::Head, "Head", "http://"},
    {TServiceKey::CsvTemplate, "CsvTemplate", ""},
    {TServiceKey::LatestVersion, "LatestVersion", ""},
    {TServiceKey::ItemHost, "ItemHost", "item.taobao.com"},
    {TServiceKey::DetailDataHost, "DetailDataHost", "detailskip.taobao.com"},
    {TServiceKey::DetailPageHost, "DetailPageHost", "hws.m.taobao.com"},
    {TServiceKey::HomePage, "HomePage", "http://www.taobao.com/"},
    {TServiceKey::PropsHost, "PropsHost", "open.taobao.com"},
    {TServiceKey::TaobaoShopDomain, "TaobaoShopDomain", "taobao.com"},
    {TServiceKey::ShopDomain1688, "ShopDomain1688", "1688.com"},
    {TServiceKey::OfferHost1688, "OfferHost1688", "detail.1688.com"},
    {TServiceKey::PictureCdnOld, "PictureCdnOld", "taobaocdn.com"},
    {TServiceKey::PictureCdnNew, "PictureCdnNew", "alicdn.com"},
    {TServiceKey::PublisherServer, "PublisherServer", "http://www.tovrel.example"},
    {TServiceKey::SupportAccount, "SupportAccount", "800000000"},
    {TServiceKey::CookieLib, "CookieLib", ""},
    {TServiceKey::CookieNew, "CookieNew", ""},
    {TServiceKey::CookiePage, "CookiePage", ""},
    {TServiceKey::CookieDetail, "CookieDetail", ""},
}};

const KeyInfo& info(TServiceKey key) {
    for (const KeyInfo& k : Keys)
        if (k.key == key)
            return k;
    return Keys[0];
}

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

QString TServiceValues::KeyName(TServiceKey key) {
    return QLatin1String(info(key).name);
}

QString TServiceValues::DefaultCsvTemplate() {
    // One field per column of the header lines, in their order. Text fields that can hold
    // separators are quoted; the other columns carry the listing assistant's usual fixed values.
    static const char* const Fields[] = {
        "\"k_title\"",
        "k_id",
        "",
        "1",
        "\"k_province\"",
        "\"k_city\"",
        "1",
        "k_price",
        "0",
        "k_qty", // 1-10
        "7",
        "2",
        "0",
        "0",
        "0",
        "0",
        "0",
        "1",
        "0",
        "", // 11-20
        "\"k_desc\"",
        "\"k_goods_prop\"",
        "",
        "0",
        "",
        "200",
        "",
        "0",
        "\"k_pic\"",
        "", // 21-30
        "\"k_sell_prop\"",
        "\"k_user_input_id\"",
        "\"k_user_input_desc\"",
        "",
        "\"k1_sell_prop_desc\"",
        "0",
        "0",
        "0",
        "1",
        "", // 31-40
        "1",
        "0",
        "0",
        "",
        "",
        "0",
        "-1",
        "",
        "0",
        "", // 41-50
        "",
        "0",
        "",
        "",
        "",
        "",
        "1",
        "",
        "",
        "", // 51-60
    };
    QStringList fields;
    for (const char* f : Fields)
        fields.append(QLatin1String(f));
    return fields.join(QLatin1Char(','));
}

QString TServiceValues::DefaultValue(TServiceKey key) {
    switch (key) {
    case TServiceKey::CsvTemplate:
        return DefaultCsvTemplate();
    case TServiceKey::LatestVersion:
        // Without a published version the running one counts as the latest: nothing is offered.
        return QStringLiteral(TOVREL_VERSION_TEXT);
    default:
        return QString::fromUtf8(info(key).fallback);
    }
}

QString TServiceValues::Value(TServiceKey key) {
    return Snapshot().Value(key);
}

QString TServiceValues::Value(const QString& keyName) {
    for (const KeyInfo& k : Keys)
        if (keyName.compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0)
            return Value(k.key);
    return {};
}

TServiceSnapshot TServiceValues::Snapshot() {
    return TServiceSnapshot(currentValues());
}

QString TServiceSnapshot::Value(TServiceKey key) const {
    const auto it = m_values.constFind(TServiceValues::KeyName(key).toLower());
    return it != m_values.constEnd() ? it.value() : TServiceValues::DefaultValue(key);
}
