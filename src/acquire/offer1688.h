#pragma once

#include "acquire/itemrow.h"
#include "base/job.h"
#include "web/patterns.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class THttpClient;
class TItemTable;
class TTableChanges;

// The 1688 offer page scraper: one offer link becomes one row of the item table. The offer page
// carries title, keywords, reference price and delivery address as plain markup; the description
// comes from the address the page names, the attributes from its attribute table.

// The attribute pairs ("name:value") of a list of captures that alternate name, value, name, ...:
// the pairs (0, 1), (2, 3), ... up to the capture count less five; the last three or four captures
// never enter a pair, and fewer than five captures give none.
QStringList PairOfferAttributes(const QStringList& captures);
// The captures of the page's attribute block (from its first "<tbody>" to the last end marker).
QStringList OfferAttributeCaptures(const TPatterns::TPatternText& page);
// The attribute pairs ("name:value", each decoded and trimmed) of an offer page: paired from the
// captures as PairOfferAttributes does on a page with the end marker; on a page without it (the
// newer layout) every name and value of the attribute table, from its first "<tbody>" to the
// table's end.
QStringList OfferAttributes(const TPatterns::TPatternText& page);

// The offer procedure for one link: fetches the offer page and its description, then appends the
// row (title, keywords, price, delivery address, description, page, link, watermark, attribute
// columns, attribute pairs) as one unit. Returns false, adding no row, when the page could not be
// fetched (no response, an empty page, or a status that is no success).
// `note` is told what the run log should know (a description that could not be fetched), and
// `incomplete` counts a row added without its description.
bool ScrapeOffer1688(THttpClient& tc, TItemTable& grid, const QString& link, const QString& watermark,
                     const std::function<void(const QString& line)>& note = {}, int* incomplete = nullptr);
// The same without the table: the row's values, or nothing when the page could not be fetched.
std::optional<TItemRowValues> ReadOffer1688(THttpClient& tc, const QString& link, const QString& watermark,
                                            const std::function<void(const QString& line)>& note = {},
                                            int* incomplete = nullptr);

// The search of the data source "1688" (Insert1688Urls): the offer procedure for each link as they
// stood when the search started, one after another with 100 ms between them, the watermark text
// read anew for each link; it ends at the first link whose page cannot be fetched.
TJobResult Insert1688Urls(const TJobContext& job, TTableChanges& table, const QStringList& links);
