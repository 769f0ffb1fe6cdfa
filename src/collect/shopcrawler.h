#pragma once

#include "base/job.h"

#include <QString>

class TLinkList;
class TServiceSnapshot;

// The shop crawlers: a shop or category link becomes the links of every item the shop lists. The
// Taobao and 1688 crawlers walk their listing pages the same way and differ only in the data below.

// True when every character is one of "0" to "9" (so also for the empty text).
bool IsAllDigits(const QString& text);
// The decimal value of an all-digit, non-empty text that fits a signed 32-bit integer; otherwise
// the default.
int DigitTextToInt(const QString& text, int defaultValue);

// What one marketplace's shops look like to the crawler.
struct TShopSite {
    // The address of listing page n (1 for the first) of a shop for a link kind (1 shop, 2
    // category); the empty text for another kind.
    QString (*PageAddress)(const QString& shop, int linkKind, int n);
    // The request profile the pages are fetched with (HGetTextNew, HGetText).
    const char* Profile;
    // Group 1 is the page count, read from the first page only; anything but plain digits (or no
    // match) counts as one page.
    QString PageCountPattern;
    // The item area: after the first start marker (the whole page without one), before the first
    // end marker that follows (nothing without one).
    QString AreaStart, AreaEnd;
    // Group 1 is an item id, found in the area ignoring letter case.
    QString IdPattern;
    // Used only where IdPattern finds no item in an area: the same links written
    // protocol-relative ("//host/...") or with https (the 2017 pages).
    QString OtherFormsIdPattern;
    // The link listed for an item id: this text with "%1" replaced by the id.
    QString LinkTemplate;
};

// The item ids of a listing page, in page order (repeats included): by IdPattern, or where that
// finds none, by OtherFormsIdPattern.
QStringList ShopItemIds(const TShopSite& site, const QString& page);

// The Taobao shops ("/search.htm", "/category.htm"; the item area between "下一页" and "上一页").
TShopSite TaobaoShopSite(const TServiceSnapshot& service);
// The 1688 shops ("/page/offerlist.htm"; the offer area between "wp-offerlist-windows" and
// "pagination").
TShopSite Shop1688Site(const TServiceSnapshot& service);

QString TaobaoShopPageAddress(const QString& shop, int linkKind, int n);
QString Shop1688PageAddress(const QString& shop, int linkKind, int n);
// The area of a listing page between the site's markers.
QString ShopItemArea(const TShopSite& site, const QString& page);

// The crawl ends after this many pages in a row that add no new link.
inline constexpr int MaxFruitlessPages = 3;
// The most pages a crawl walks, whatever page count the shop announces (a real shop shows at most a
// hundred pages; a hostile one could announce a hundred thousand).
inline constexpr int MaxCrawlPages = 500;

// Walks the listing pages of the shop at `shop` and appends the link of every item not yet listed
// (ignoring letter case); then shows how many links the list holds ("发现了[n]个宝贝！"). The link
// kind is read from the choices for each page address; a kind that is neither shop nor category
// keeps the previous address. The crawl ends early after MaxFruitlessPages pages in a row that add
// nothing new, and the list is saved after each page that added links. 100 ms between pages.
TJobResult CrawlShop(const TJobContext& job, TLinkList& links, const QString& shop, const TShopSite& site);

// The two crawlers under the names the rest of the program knows them by.
TJobResult CrawlTaoBaoShop(const TJobContext& job, TLinkList& links, const QString& shop);
TJobResult Crawl1688Shop(const TJobContext& job, TLinkList& links, const QString& shop);
