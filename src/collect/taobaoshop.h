#pragma once

#include "base/job.h"

#include <QString>

class TLinkList;

// True when every character is one of "0" to "9" (so also for the empty text).
bool IsAllDigits(const QString& text);
// The decimal value of an all-digit, non-empty text that fits a signed 32-bit integer; otherwise
// the default.
int DigitTextToInt(const QString& text, int defaultValue);

// The address of listing page n (1 for the first) of a shop for a link kind (1 shop, 2 category);
// the empty text for another kind.
QString ShopPageAddress(const QString& shop, int linkKind, int n);
// The item area of a listing page: after the first "下一页", before the first "上一页" that follows.
QString ShopItemArea(const QString& page);

// The crawl ends after this many pages in a row that add no new link.
inline constexpr int MaxFruitlessPages = 3;

// Walks the listing pages of the shop at `shop` and appends the item link of every item not yet
// listed; then shows how many links the list holds. The link kind is read from the choices for
// each page address. The crawl ends early after MaxFruitlessPages pages in a row that add nothing
// new, and the list is saved after each page that added links.
TJobResult CrawlTaoBaoShop(const TJobContext& job, TLinkList& links, const QString& shop);
