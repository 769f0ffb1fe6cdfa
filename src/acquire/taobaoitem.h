#pragma once

#include "acquire/itemrow.h"
#include "base/job.h"
#include "web/patterns.h"

#include <QRunnable>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>

class THttpClient;
class TItemTable;
class TTableChanges;

// What one Taobao item link needs besides the page itself.
struct TTaobaoItemInput {
    QString link;
    QString head; // the service value Head as read for this link
    // The host of the postage address: the service value DetailDataHost as the run's job read it
    // (the built-in one unless set).
    QString postageHost = TServiceValues::DefaultValue(TServiceKey::DetailDataHost);
    QString watermark; // ColWatermark
    bool sendPostage = true;
    // Read after the price is known: whether the title takes "_" and the price (sequential run).
    std::function<bool()> mergeTitlePrice;
    // Told what the run log should know about the item (a description that could not be fetched).
    std::function<void(const QString& line)> note;
    // Counts the rows added without the description their page names.
    std::atomic<int>* incomplete = nullptr;
};

// The item id of a link: after "&id=", else after "?id=".
QString TaobaoItemId(const QString& link);
// The postage address of an item, on `host` (the service value DetailDataHost).
QString PostageAddress(const QString& head, const QString& host, const QString& itemId);
// The delivery cell from a postage reply: the reply stripped of its wrapper and markup, read as a
// JSON object, joined as location-destination;carriage;estimation ("-;;" when it is no object).
QString DeliveryFromPostage(const QString& reply);
// The comma text of the title attributes between "tb-detail-hd" and the first "tb-notice", each
// decoded and trimmed.
QString CategoryFromPage(const QString& page);
// The description address of an item page: the g_config.dynamicScript("...") address; on a page
// without one (the 2017 layout), the page's descUrl entry (of the form that chooses by protocol,
// the http address), made absolute. Empty when the page has neither.
QString DescriptionAddress(const TPatterns::TPatternText& page);
// A first reading of the description address from a page as it came, before it is decoded: the
// few kilobytes from the first "dynamicScript(" (or else "descUrl") on are decoded and read. Right
// for the pages the marketplace sends, where the address is written in plain ASCII near its
// name, but not certain (a mention of the name in a script or a comment comes first, a
// multi-byte character holds the name's bytes), so it must be checked against DescriptionAddress
// of the decoded page.
QString DescriptionAddressGuess(const QByteArray& bytes, const QByteArray& contentType);
// The sale-data address of an item page: the "wholeSibUrl":"..." address; on a page without one,
// the wholeSibUrl : '...' entry of the 2017 layout, made absolute. "&amp;" is read as "&" (as a
// browser reads the page). Empty when the page has neither.
QString SaleDataAddress(const TPatterns::TPatternText& page);
// The attribute entries of the page's attribute list, from its start to its own end: "name:value"
// with the name and the value decoded (HTML references) and trimmed.
QStringList AttributeEntries(const TPatterns::TPatternText& page);
// The attribute entries of a list's items (the text of each item), read the same way.
QStringList AttributeEntriesOfList(const TPatterns::TPatternText& list);
// The item's title: the page's title without the marketplace's name after it ("-淘宝网",
// "-tmall.com天猫", 1688's "-阿里巴巴"), decoded and trimmed; a title without a known suffix whole.
QString TitleFromPage(const TPatterns::TPatternText& page);

// Tmall item pages (detail.tmall.com/item.htm?id=N) are searched with the data source "淘宝" and
// read from their own layout: a Tmall link, or a page set up by "TShop.Setup(" or titled
// "...-tmall.com天猫".
bool IsTmallItem(const QString& link, const TPatterns::TPatternText& page);
// The Tmall layout's price ("defaultItemPrice", else the first "price" of its data).
QString TmallPrice(const TPatterns::TPatternText& page);
// The Tmall layout's category id ("categoryId":"N", or categoryId=N in an address).
QString TmallCategoryId(const TPatterns::TPatternText& page);
// The Tmall layout's attribute entries (the list J_AttrUL), read as AttributeEntriesOfList does.
QStringList TmallAttributeEntries(const TPatterns::TPatternText& page);
// The Tmall layout's main pictures as written (the img src of the thumbnail list J_UlThumb).
QStringList TmallMainPictureAddresses(const TPatterns::TPatternText& page);

// What the item procedure reads from an item page itself (the requests aside).
struct TTaobaoPageFields {
    QString title;
    QString category;
    QString price;
    QString descriptionAddress;
    QStringList attributes;
};
// Reads a Taobao or (by IsTmallItem) a Tmall page; `link` is the item's link when known.
TTaobaoPageFields ReadTaobaoPage(const QString& page, const QString& link = QString());

// The item procedure: fetches the page, the postage estimate and the description, then appends
// the row (title, category, price, delivery, description, page, link, watermark, attribute
// columns, attributes) as one unit. Returns false, adding no row, when the page could not be
// fetched.
bool ScrapeTaobaoItem(THttpClient& tc, TItemTable& grid, const TTaobaoItemInput& in);
// The same without the table: the row's values, or nothing when the page could not be fetched.
std::optional<TItemRowValues> ReadTaobaoItem(THttpClient& tc, const TTaobaoItemInput& in);

// The sequential run (data source "淘宝") over the links as they stood when the search started:
// Head, the watermark text and "标题合并价格" are read anew for each link, and the run pauses 100 ms
// after each item. It ends at the first link whose page cannot be fetched (the job fails, naming
// that link), or when the job is stopped.
TJobResult InsertTaoBaoUrls(const TJobContext& job, TTableChanges& table, const QStringList& links);

// The per-link run (data source "拍拍"): one TPerLinkItemWorker per link, a bounded number
// running at a time, with Head and the watermark text as they were when the search started. Ends
// when every worker has ended.
TJobResult InsertTaoBaoUrlsPerLink(const TJobContext& job, TTableChanges& table, const QStringList& links,
                                   const QString& head, const QString& watermark);

// One per-link worker: runs the item procedure for its link. It never merges title and price,
// always asks for the postage, and does not pause.
class TPerLinkItemWorker : public QRunnable {
  public:
    QString Head;
    QString PostageHost;
    QString Link;
    QString Picstr;                 // the watermark text
    TServiceSnapshot Service;       // the job's service values
    TTableChanges* Table = nullptr; // where the row goes
    // The job's stop flag: a request in flight is abandoned when it is set.
    const std::atomic<bool>* Stop = nullptr;
    // Runs on the worker's thread when it ends: the empty text when the row was added, else why not.
    std::function<void(const QString& failure)> OnEnd;
    // Counts rows added without their description; told why.
    std::atomic<int>* Incomplete = nullptr;
    std::function<void(const QString& line)> Note;

    void run() override;
};
