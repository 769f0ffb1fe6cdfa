#pragma once

#include <QHash>
#include <QString>

#include <utility>

// The values the program needs at run time that come from outside (the file "service.ini", read by
// config/servicevalues.h): their keys, their built-in defaults, and a set of them as they stood at
// one moment.
enum class TServiceKey {
    Head,             // put in front of a host name to form an absolute address
    CsvTemplate,      // the CSV row template of the export
    LatestVersion,    // the latest published file version
    ItemHost,         // the marketplace's item host (item links, the item page Referer)
    DetailDataHost,   // the item-detail auxiliary data service (postage, sale data)
    DetailPageHost,   // the item-detail page service
    HomePage,         // the marketplace's home page address (a Referer)
    PropsHost,        // the open-API host of the category property service
    TaobaoShopDomain, // the Taobao shop domain of the shop address template
    ShopDomain1688,   // the 1688 shop domain of the shop address template
    OfferHost1688,    // the 1688 offer host
    PictureCdnOld,    // the old picture CDN domain, rewritten by the export
    PictureCdnNew,    // the current picture CDN domain
    PublisherServer,  // the publisher's web server (welcome, help, update)
    SupportAccount,   // the support account number of the chat link
    CookieLib,        // the fixed cookie of each request profile; empty sends no Cookie header
    CookieNew,
    CookiePage,
    CookieDetail,
};

// The values as they stood at one moment: what a job works with from its start to its end. A key
// the file does not hold gives its built-in default.
class TServiceSnapshot {
  public:
    TServiceSnapshot() = default;
    explicit TServiceSnapshot(QHash<QString, QString> values) : m_values(std::move(values)) {}
    QString Value(TServiceKey key) const;
    // By the key's name in service.ini (ignoring letter case); the empty text for an unknown key.
    QString Value(const QString& keyName) const;
    QString Head() const { return Value(TServiceKey::Head); }

  private:
    QHash<QString, QString> m_values; // as the file has them, by key name in lower case
};

namespace TServiceValues {

QString DefaultValue(TServiceKey key);
QString KeyName(TServiceKey key);
// The key of a name in service.ini (ignoring letter case); nothing for an unknown name.
bool KeyByName(const QString& keyName, TServiceKey* key);

// The built-in CSV row template: 60 fields in the order of the export's header lines.
QString DefaultCsvTemplate();

} // namespace TServiceValues
