#pragma once

#include <QHash>
#include <QString>

#include <utility>

// Values the program needs at run time that come from outside: the file "service.ini" (UTF-8)
// in the working directory, section [service]. The file is read again whenever it changed (its
// size or modification time), so an edit made while the program runs takes effect at the next use,
// and it is not parsed again at every use. A key missing from the file (or a missing or unreadable
// file) gives the built-in default; a key present with an empty value gives the empty text.
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

// The values as they stood at one moment: what a job works with from its start to its end.
class TServiceSnapshot {
  public:
    TServiceSnapshot() = default;
    explicit TServiceSnapshot(QHash<QString, QString> values) : m_values(std::move(values)) {}
    QString Value(TServiceKey key) const;
    QString Head() const { return Value(TServiceKey::Head); }

  private:
    QHash<QString, QString> m_values; // as the file has them, by key name in lower case
};

namespace TServiceValues {

inline constexpr const char* FileName = "service.ini";
inline constexpr const char* Section = "service";

QString Value(TServiceKey key);
// By the key's name in service.ini (ignoring letter case); the empty text for an unknown key.
QString Value(const QString& keyName);
TServiceSnapshot Snapshot();
QString DefaultValue(TServiceKey key);
QString KeyName(TServiceKey key);

// The built-in CSV row template: 60 fields in the order of the export's header lines.
QString DefaultCsvTemplate();

inline QString Head() {
    return Value(TServiceKey::Head);
}
inline QString CsvTemplate() {
    return Value(TServiceKey::CsvTemplate);
}
inline QString LatestVersion() {
    return Value(TServiceKey::LatestVersion);
}

} // namespace TServiceValues
