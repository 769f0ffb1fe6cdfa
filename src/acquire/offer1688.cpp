#include "acquire/offer1688.h"

#include "acquire/itemrow.h"
#include "base/commatext.h"
#include "base/text.h"
#include "table/itemtable.h"
#include "web/httpclient.h"

QStringList PairOfferAttributes(const QStringList& captures) {
    QStringList pairs;
    for (qsizetype i = 0; i + 5 <= captures.size(); i += 2)
        pairs.append(captures[i] + QLatin1Char(':') + captures[i + 1]);
    return pairs;
}

QStringList OfferAttributeCaptures(const QString& page) {
    // The greedy group runs to the last end marker of the page.
    const QString block = TPatterns::FindsStr(
        QStringLiteral("<tbody>([\\w\\W]+)widget-custom offerdetail_common_serviceDesc"), page, false);
    return TPatterns::FindSList(QStringLiteral("\">([^<]*)"), block, false);
}

bool ScrapeOffer1688(TC& tc, TItemTable& grid, const QString& link, const QString& watermark) {
    const QString page = tc.HGetText(link);
    // An error page (404, 500) or a redirect's own body is no offer page: the fetch failed.
    if (page.isEmpty() || page == TC::Error || !TC::IsSuccess(tc.LastStatus()))
        return false;

    // Everything is read and fetched first; the row is then appended as one unit, so no other
    // writer of the table waits for the network.
    auto first = [&page](const char* pattern) {
        return TrimText(TPatterns::FindsStr(QString::fromUtf8(pattern), page, false));
    };
    const QString title = first("<h1 class=\"d-title\">([^<]*)");
    const QString keywords = first("<meta name=\"keywords\" content=\"([^\"]*)");
    const QString price = first("'refPrice':'([^']*)");
    const QString delivery = first("delivery-addr\">([^<]*)");
    // The description's address is used exactly as the page has it.
    const QString address = TPatterns::FindsStr(QStringLiteral("data-tfs-url=\"([^\"]*)"), page, false);
    const QString detail = DescriptionFromReply(SuccessfulReply(tc, address));
    const QStringList pairs = PairOfferAttributes(OfferAttributeCaptures(page));

    grid.AppendRow([&](TRowWriter& row) {
        row.SetCell(ColTitle, title);
        row.SetCell(ColCategory, keywords);
        row.SetCell(ColPrice, price);
        row.SetCell(ColDelivery, delivery);
        row.SetCell(ColHtml, page);
        row.SetCell(ColLink, link);
        row.SetCell(ColWatermark, watermark);
        row.SetCell(ColDetail, detail);
        WriteAttributeColumns(row, pairs);
        row.SetCell(ColProps, ToCommaText(pairs));
    });
    return true;
}

TJobResult Insert1688Urls(const TJobContext& job, TItemTable& grid, const QStringList& links) {
    return RunLinksInOrder(job, links, [&job, &grid](TC& tc, const QString& link) {
        return ScrapeOffer1688(tc, grid, link, job.Choices().WatermarkText);
    });
}
