#pragma once

#include "base/job.h"
#include "table/packedtext.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class THttpClient;
class TItemTable;
class TRowWriter;
class TTableChanges;

// What the item scrapers of both marketplaces share: the attribute columns, the description cut,
// and the frame of a run that works through the links one after another.

// One item as a scraper appends it.
struct TItemRowValues {
    QString title;
    QString category;
    QString price;
    QString delivery;
    QString detail; // the description
    QString page;
    TPackedText packedPage; // the page packed, in place of `page` when that is empty
    QString link;
    QString watermark;
    QStringList attributes; // "name:value" entries
};
// Appends the item as one row: its cells, its attribute columns and the comma text of its
// attributes.
void AppendItemRow(TItemTable& grid, const TItemRowValues& item);
// Hands the item over to be appended on the table's own thread (a job's way to add a row).
void HandOverRow(TTableChanges& table, TItemRowValues item);

// Writes the attribute entries ("name:value") into the appended row, each value under the
// attribute column (from column 12) captioned with its name, letter case ignored. A name with no
// such column yet, or one that comes again in the same entries after its columns are used, gets a
// new column at the end captioned with it. An entry without ":" has an empty name and is all value.
// Columns are never moved or removed, so a stored table keeps its columns as they are.
void WriteAttributeColumns(TRowWriter& row, const QStringList& entries);

// The description from a description reply, without its 10-character head and 3-character tail
// (Taobao's "var desc='…';"); from a script that assigns a JSON object with a "content" string
// (1688's "var offer_details={"content":"…"};"), that content with its escapes read. Empty for a
// failed fetch ("error" or the empty text) and for a reply of 13 characters or fewer.
QString DescriptionFromReply(const QString& reply);

// The text of a GET of `address` (HGetText), or the empty text when the request failed or the
// server answered with anything but success (its error page is not what was asked for).
QString SuccessfulReply(THttpClient& tc, const QString& address);

// The description from the address an item page names, fetched as an address read out of a page
// (see TPageAddresses in web/httpclient.h): the reply cut as DescriptionFromReply (empty for a page
// that names no address). Nothing when the address could not be fetched (no response, an error
// status, a reply too large, an address leading to the seller's own machine or network); `note` is
// then told why, in the run log's words.
std::optional<QString> FetchDescription(THttpClient& tc, const QString& address,
                                        const std::function<void(const QString&)>& note);

// The run log's words for an address read out of a page that was refused: what it was for (e.g.
// "描述") and the address.
QString RefusedPageAddressText(const QString& what, const QString& address);

// An address as a page writes it, made absolute: a protocol-relative one ("//host/...") is given
// "http:" in front; any other is returned trimmed.
QString AbsoluteAddress(const QString& address);

// Counts a search's rows that came without their description: a run that did all else it set out to
// do fails then, saying how many (the rows stay).
void CountIncompleteRows(TJobResult& result, int incomplete);

// The run over the links as they stood when the search started, one after another: `scrape` turns
// one link into a row (false: the page could not be fetched), then the run pauses until 100 ms have
// passed since the link's last request (so a scraper does its requests first and reads after). The run
// ends at the first link that fails (the job fails: "第 N 个连接无法下载，搜索已停止"), or when the
// job is stopped; each link's end is a progress line.
TJobResult RunLinksInOrder(const TJobContext& job, const QStringList& links,
                           const std::function<bool(THttpClient& tc, const QString& link)>& scrape);
