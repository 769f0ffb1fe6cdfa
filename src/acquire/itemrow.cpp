#include "acquire/itemrow.h"

#include "base/commatext.h"
#include "platform/pause.h"
#include "table/itemtable.h"
#include "table/packedtext.h"
#include "web/httpclient.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>

#include <algorithm>

void WriteAttributeColumns(TRowWriter& row, const QStringList& entries) {
    // Each value goes under the attribute column of its own name (letter case ignored), so rows of
    // different items line up; a name the table has no column for yet gets a new column at the end.
    // A name that comes twice in one item takes the next column of that name, so no value is lost.
    // The places are worked out first and the table widened once: a page with thousands of
    // attributes costs no more per attribute than one with ten.
    struct TPlace {
        int col;
        bool isNew;
        qsizetype colon; // where the entry's name ends, or -1: no name
    };
    QList<TPlace> places;
    places.reserve(entries.size());
    QHash<QString, QList<int>> columnsOf; // by folded name, as the table had them
    QHash<QString, int> usedOf;           // by folded name, how many this row has taken
    int next = std::max(row.ColCount(), int(ColFirstAttribute));
    for (const QString& e : entries) {
        const qsizetype colon = e.indexOf(QLatin1Char(':'));
        const QString key = (colon >= 0 ? e.left(colon) : QString()).toCaseFolded();
        auto known = columnsOf.find(key);
        if (known == columnsOf.end())
            known = columnsOf.insert(key, row.AttributeColumnsNamed(key));
        const int used = usedOf[key]++;
        places.append(used < known->size() ? TPlace{known->at(used), false, colon}
                                           : TPlace{next++, true, colon});
    }
    row.WidenTo(next);
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const QString& e = entries[i];
        const TPlace& place = places[i];
        if (place.isNew)
            row.SetCell(place.col, 0, place.colon >= 0 ? e.left(place.colon) : QString());
        row.SetCell(place.col, place.colon >= 0 ? e.mid(place.colon + 1) : e);
    }
}

void AppendItemRow(TItemTable& grid, const TItemRowValues& item) {
    grid.AppendRow([&item](TRowWriter& row) {
        row.SetCell(ColTitle, item.title);
        row.SetCell(ColCategory, item.category);
        row.SetCell(ColPrice, item.price);
        row.SetCell(ColDelivery, item.delivery);
        if (item.page.isEmpty() && !item.packedPage.isEmpty())
            row.SetPackedPage(item.packedPage);
        else
            row.SetCell(ColHtml, item.page);
        row.SetCell(ColLink, item.link);
        row.SetCell(ColWatermark, item.watermark);
        row.SetCell(ColDetail, item.detail);
        WriteAttributeColumns(row, item.attributes);
        row.SetCell(ColProps, ToCommaText(item.attributes));
    });
}

void HandOverRow(TTableChanges& table, TItemRowValues item) {
    // The page is packed here, on the job's thread, not on the table's (the window's) thread.
    item.packedPage = PackedText::Pack(item.page);
    item.page = QString();
    table.Apply([item = std::move(item)](TItemTable& grid) { AppendItemRow(grid, item); });
}

QString DescriptionFromReply(const QString& reply) {
    if (reply.isEmpty() || reply == THttpClient::Error || reply.size() <= 13)
        return {};
    // A script that assigns a JSON object with the description as its "content" (1688's
    // "var offer_details={"content":"…"};"): the content, its escapes read.
    static const QRegularExpression assignment(
        QStringLiteral("^\\s*var\\s+[A-Za-z_$][\\w$]*\\s*=\\s*(\\{[\\s\\S]*\\})\\s*;?\\s*$"));
    if (const QRegularExpressionMatch m = assignment.match(reply); m.hasMatch()) {
        const QJsonValue content =
            QJsonDocument::fromJson(m.captured(1).toUtf8()).object().value(QStringLiteral("content"));
        if (content.isString())
            return content.toString();
    }
    return reply.mid(10, reply.size() - 13);
}

QString SuccessfulReply(THttpClient& tc, const QString& address) {
    return tc.FetchPage(TProfile::Of("HGetText"), address).value_or(QString());
}

std::optional<QString> FetchDescription(THttpClient& tc, const QString& address,
                                        const std::function<void(const QString&)>& note) {
    if (address.isEmpty())
        return QString();
    const TPageAddresses fromPage(tc);
    const TResult<QString> reply = tc.FetchPage(TProfile::Of("HGetText"), address);
    if (reply)
        return DescriptionFromReply(*reply);
    if (note) {
        if (reply.error().Code == TErrc::Refused)
            note(RefusedPageAddressText(QStringLiteral("描述"), address));
        else
            note(QStringLiteral("描述没有下载（%1）：%2").arg(reply.error().Detail, address));
    }
    return std::nullopt;
}

QString RefusedPageAddressText(const QString& what, const QString& address) {
    return what + QStringLiteral("地址 ") + address + QStringLiteral(" 指向本机或内部网络，已拒绝，没有下载");
}

QString AbsoluteAddress(const QString& address) {
    const QString trimmed = address.trimmed();
    return trimmed.startsWith(QLatin1String("//")) ? QStringLiteral("http:") + trimmed : trimmed;
}

void CountIncompleteRows(TJobResult& result, int incomplete) {
    result.Incomplete = incomplete;
    if (incomplete == 0)
        return;
    const QString missing = QStringLiteral("%1 个宝贝没有下载到描述").arg(incomplete);
    if (result.Outcome == TJobOutcome::Done) {
        result.Outcome = TJobOutcome::Failed;
        result.Summary = missing;
    } else if (result.Outcome == TJobOutcome::Failed) {
        result.Summary += QStringLiteral("；") + missing;
    }
}

TJobResult RunLinksInOrder(const TJobContext& job, const QStringList& links,
                           const std::function<bool(THttpClient& tc, const QString& link)>& scrape) {
    TJobResult result;
    const qint64 total = links.size();
    job.Report().Advance(0, total);
    // One web helper for the run: the memory of its replies is used again from link to link.
    THttpClient tc(TRequestLimits(), job.StopFlag(), job.Service());
    for (int i = 0; i < links.size(); ++i) {
        if (job.Stopped()) {
            result.Outcome = TJobOutcome::Stopped;
            break;
        }
        if (!scrape(tc, links[i])) {
            if (job.Stopped()) {
                result.Outcome = TJobOutcome::Stopped;
                break;
            }
            // The item page's answer (the scrapers ask for it first, and nothing after a failure).
            const int status = tc.LastStatus();
            if (status == 404 || status == 410) {
                // A delisted item: passed by, and the run goes on.
                ++result.Delisted;
                job.Report().Log(QStringLiteral("第 %1 个连接的宝贝已下架（HTTP %2），已跳过：%3")
                                     .arg(i + 1)
                                     .arg(status)
                                     .arg(links[i]));
                job.Report().Advance(i + 1, total, links[i] + QStringLiteral("：已下架，跳过"));
            } else {
                // No answer, or a refusal (403, 429, 5xx): the marketplace will not answer the
                // next link either, so the run stops and says why.
                const QString why = status == 0 ? QStringLiteral("没有响应：") + tc.LastError().Detail
                                    : THttpClient::IsSuccess(status) ? QStringLiteral("页面无法读取")
                                                                     : QStringLiteral("HTTP %1").arg(status);
                result.Outcome = TJobOutcome::Failed;
                result.EndedEarly = true;
                result.Failures = 1;
                result.Summary = QStringLiteral("第 %1 个连接无法下载（%2），搜索已停止").arg(i + 1).arg(why);
                job.Report().Log(result.Summary + QStringLiteral("：") + links[i]);
                job.Report().Advance(i + 1, total,
                                     links[i] + QStringLiteral("：无法下载（") + why + QStringLiteral("）"));
                job.Report().Status(result.Summary);
                break;
            }
        } else {
            ++result.Count;
            job.Report().Advance(i + 1, total, links[i]);
        }
        // The pause is the server's: 100 ms from the link's last request to the next link's first.
        // What the scraper did after its last request (reading the page, writing the row) falls
        // into it.
        constexpr qint64 PauseUs = 100000;
        const qint64 since = std::max<qint64>(tc.UsSinceLastRequest(), 0);
        PauseFor(std::clamp<qint64>(PauseUs - since, 0, PauseUs));
    }
    return result;
}
