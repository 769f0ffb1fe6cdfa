#include "acquire/offer1688.h"

#include "acquire/itemrow.h"
#include "base/htmltext.h"
#include "base/text.h"
#include "table/itemtable.h"
#include "web/httpclient.h"

QStringList PairOfferAttributes(const QStringList& captures) {
    QStringList pairs;
    for (qsizetype i = 0; i + 5 <= captures.size(); i += 2)
        pairs.append(captures[i] + QLatin1Char(':') + captures[i + 1]);
    return pairs;
}

QStringList OfferAttributeCaptures(const TPatterns::TPatternText& page) {
    // The greedy group runs to the last end marker of the page; the block is a part of the page.
    const TPatterns::TPatternText block = TPatterns::FindsText(
        QStringLiteral("<tbody>([\\w\\W]+)widget-custom offerdetail_common_serviceDesc"), page);
    return TPatterns::FindSList(QStringLiteral("\">([^<]*)"), block, false);
}

QStringList OfferAttributes(const TPatterns::TPatternText& page) {
    QStringList pairs;
    const QStringView text = page.View();
    if (TPatterns::FindLiteral(text, u"widget-custom offerdetail_common_serviceDesc") >= 0) {
        pairs = PairOfferAttributes(OfferAttributeCaptures(page));
    } else {
        // The newer pages have no such marker: the attribute table ends where the table does.
        const qsizetype start = TPatterns::FindLiteral(text, u"<tbody>");
        const qsizetype end = start < 0 ? -1 : TPatterns::FindLiteral(text.mid(start), u"</table>");
        if (end < 0)
            return {};
        const QStringList captures =
            TPatterns::FindSList(QStringLiteral("\">([^<]*)"), page.Part(start + 7, end - 7), false);
        for (qsizetype i = 0; i + 1 < captures.size(); i += 2)
            pairs.append(captures[i] + QLatin1Char(':') + captures[i + 1]);
    }
    // Each name and value as the page means it.
    for (QString& pair : pairs) {
        const qsizetype colon = pair.indexOf(QLatin1Char(':'));
        pair = MarkupText(pair.left(colon)) + QLatin1Char(':') + MarkupText(pair.mid(colon + 1));
    }
    return pairs;
}

std::optional<TItemRowValues> ReadOffer1688(THttpClient& tc, const QString& link, const QString& watermark,
                                            const std::function<void(const QString& line)>& note,
                                            int* incomplete) {
    // An error page (404, 500) or a redirect's own body is no offer page: the fetch failed.
    const QString page = SuccessfulReply(tc, link);
    if (page.isEmpty())
        return std::nullopt;

    // The page is made ready for the patterns once.
    const TPatterns::TPatternText text(page);
    auto first = [&text](const char* pattern) {
        return TrimText(TPatterns::FindsStr(QString::fromUtf8(pattern), text, false));
    };
    TItemRowValues item;
    item.title = MarkupText(first("<h1 class=\"d-title\">([^<]*)"));
    item.category = MarkupText(first("<meta name=\"keywords\" content=\"([^\"]*)"));
    item.price = first("'refPrice':'([^']*)");
    item.delivery = MarkupText(first("delivery-addr\">([^<]*)"));
    // The description's address as the page means it ("&amp;" read as "&").
    const QString address = AbsoluteAddress(
        MarkupAddress(TPatterns::FindsStr(QStringLiteral("data-tfs-url=\"([^\"]*)"), text, false)));
    const std::optional<QString> detail = FetchDescription(tc, address, [&note, &link](const QString& line) {
        if (note)
            note(link + QStringLiteral("：") + line);
    });
    item.detail = detail.value_or(QString());
    if (!detail && incomplete)
        ++*incomplete;
    item.attributes = OfferAttributes(text);
    item.page = page;
    item.link = link;
    item.watermark = watermark;
    return item;
}

bool ScrapeOffer1688(THttpClient& tc, TItemTable& grid, const QString& link, const QString& watermark,
                     const std::function<void(const QString& line)>& note, int* incomplete) {
    const std::optional<TItemRowValues> item = ReadOffer1688(tc, link, watermark, note, incomplete);
    if (item)
        AppendItemRow(grid, *item);
    return item.has_value();
}

TJobResult Insert1688Urls(const TJobContext& job, TTableChanges& table, const QStringList& links) {
    int incomplete = 0;
    TJobResult result =
        RunLinksInOrder(job, links, [&job, &table, &incomplete](THttpClient& tc, const QString& link) {
            std::optional<TItemRowValues> item = ReadOffer1688(
                tc, link, job.Choices().WatermarkText,
                [&job](const QString& line) { job.Report().Log(line); }, &incomplete);
            if (item)
                HandOverRow(table, std::move(*item));
            return item.has_value();
        });
    CountIncompleteRows(result, incomplete);
    return result;
}
