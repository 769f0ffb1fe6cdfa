#include "base/servicevalues.h"

#include "platform/files.h"
#include "platform/paths.h"

#include <QFile>
#include <QList>
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

// Reads one key of the [service] section. The format is deliberately plain: "key = value" lines
// (keys compared ignoring case, the value trimmed of spaces and tabs and otherwise taken as it
// stands, commas, quotes and backslashes included), "[section]" headers, and lines starting with
// ";" or "#" as comments. A later line of the same key wins. Anything else is ignored, so a
// damaged file still yields whatever keys it holds.
std::pair<bool, QString> readKey(const QString& path, const QString& wanted) {
    // Only a regular file of a sane size is read: a pipe in its place would block every use.
    const TResult<QByteArray> bytes = ReadStateFile(path, 1 << 20);
    if (!bytes)
        return {false, {}};
    const QString text = QString::fromUtf8(*bytes);
    bool inSection = false;
    bool found = false;
    QString value;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (QString line : lines) {
        if (line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')) || trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'))) {
            inSection = trimmed.mid(1, trimmed.size() - 2)
                            .trimmed()
                            .compare(QLatin1String(TServiceValues::Section), Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0 || line.left(eq).trimmed().compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        QString v = line.mid(eq + 1);
        auto isPad = [](QChar c) { return c == u' ' || c == u'\t' || c == u'\r'; };
        while (!v.isEmpty() && isPad(v.front()))
            v.remove(0, 1);
        while (!v.isEmpty() && isPad(v.back()))
            v.chop(1);
        value = v;
        found = true;
    }
    return {found, value};
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
    const auto [found, value] = readKey(TPaths::WorkFile(QLatin1String(FileName)), KeyName(key));
    return found ? value : DefaultValue(key);
}
