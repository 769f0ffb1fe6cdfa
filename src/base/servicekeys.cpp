#include "base/servicekeys.h"

#include <QStringList>

#include <array>

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

bool TServiceValues::KeyByName(const QString& keyName, TServiceKey* key) {
    for (const KeyInfo& k : Keys)
        if (keyName.compare(QLatin1String(k.name), Qt::CaseInsensitive) == 0) {
            *key = k.key;
            return true;
        }
    return false;
}

QString TServiceSnapshot::Value(TServiceKey key) const {
    const auto it = m_values.constFind(TServiceValues::KeyName(key).toLower());
    return it != m_values.constEnd() ? it.value() : TServiceValues::DefaultValue(key);
}

QString TServiceSnapshot::Value(const QString& keyName) const {
    TServiceKey key;
    return TServiceValues::KeyByName(keyName, &key) ? Value(key) : QString();
}
