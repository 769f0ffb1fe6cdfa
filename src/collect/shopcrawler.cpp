#include "collect/shopcrawler.h"

#include <algorithm>

#include "base/servicekeys.h"
#include "platform/pause.h"
#include "table/linklist.h"
#include "web/httpclient.h"

#include <QRegularExpression>

#include <limits>

bool IsAllDigits(const QString& text) {
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

int DigitTextToInt(const QString& text, int defaultValue) {
    if (text.isEmpty() || !IsAllDigits(text))
        return defaultValue;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value > std::numeric_limits<int>::max())
        return defaultValue;
    return int(value);
}

QString TaobaoShopPageAddress(const QString& shop, int linkKind, int n) {
    const QString path = linkKind == 1   ? QStringLiteral("/search.htm")
                         : linkKind == 2 ? QStringLiteral("/category.htm")
                                         : QString();
    if (path.isEmpty())
        return {};
    if (n <= 1)
        return shop + path + QStringLiteral("?spm=a1z10.1.w4010-8951997237.2.NGhW3u&search=y");
    return shop + path + QStringLiteral("?search=y&pageNo=") + QString::number(n);
}

QString Shop1688PageAddress(const QString& shop, int linkKind, int n) {
    if (linkKind == 1) {
        if (n <= 1)
            return shop + QStringLiteral("/page/offerlist.htm?keywords=&showType=&sortType=showcase");
        return shop + QStringLiteral("/page/offerlist.htm?pageNum=") + QString::number(n);
    }
    // A category link is the address of its offer list itself; a query it already carries is kept,
    // so the later pages' addresses may hold a second "?".
    if (linkKind == 2)
        return n <= 1 ? shop : QString(shop + QStringLiteral("?pageNum=") + QString::number(n));
    return {};
}

namespace {

// The id patterns of a site's links, `afterSlashes` being the pattern from the host on: written
// with "http://", and the other forms (protocol-relative, https).
void setIdPatterns(TShopSite& site, const QString& afterSlashes) {
    site.IdPattern = QStringLiteral("http:\\/\\/") + afterSlashes;
    site.OtherFormsIdPattern = QStringLiteral("(?:https:)?\\/\\/") + afterSlashes;
}

} // namespace

TShopSite TaobaoShopSite(const TServiceSnapshot& service) {
    const QString host = service.Value(TServiceKey::ItemHost);
    TShopSite site;
    site.PageAddress = TaobaoShopPageAddress;
    site.Profile = "HGetTextNew";
    site.PageCountPattern = QStringLiteral("<span class=\"page-info\">1/([^<]*)");
    site.AreaStart = QStringLiteral("下一页");
    site.AreaEnd = QStringLiteral("上一页");
    // The item host goes into the pattern as it is, its dots unescaped.
    setIdPatterns(site, host + QStringLiteral("\\/item.htm\\?id=(\\d+)"));
    site.LinkTemplate = QStringLiteral("http://") + host + QStringLiteral("/item.htm?id=%1");
    return site;
}

TShopSite Shop1688Site(const TServiceSnapshot& service) {
    const QString host = service.Value(TServiceKey::OfferHost1688);
    TShopSite site;
    site.PageAddress = Shop1688PageAddress;
    site.Profile = "HGetText";
    site.PageCountPattern = QStringLiteral("page-count\">([^<]*)");
    site.AreaStart = QStringLiteral("wp-offerlist-windows");
    site.AreaEnd = QStringLiteral("pagination");
    // The offer host's dots are escaped, so only that host matches.
    setIdPatterns(site, QRegularExpression::escape(host) + QStringLiteral("\\/offer\\/(\\d+)\\.html"));
    site.LinkTemplate = QStringLiteral("http://") + host + QStringLiteral("/offer/%1.html");
    return site;
}

QString ShopItemArea(const TShopSite& site, const QString& page) {
    const qsizetype start = page.indexOf(site.AreaStart);
    const QString after = start >= 0 ? page.mid(start + site.AreaStart.size()) : page;
    const qsizetype end = after.indexOf(site.AreaEnd);
    return end >= 0 ? after.left(end) : QString();
}

QStringList ShopItemIds(const TShopSite& site, const QString& page) {
    const TPatterns::TPatternText area(ShopItemArea(site, page));
    const QStringList ids = TPatterns::FindSList(site.IdPattern, area, false);
    if (!ids.isEmpty() || site.OtherFormsIdPattern.isEmpty())
        return ids;
    return TPatterns::FindSList(site.OtherFormsIdPattern, area, false);
}

TJobResult CrawlShop(const TJobContext& job, TLinkList& links, const QString& shop, const TShopSite& site) {
    TJobResult result;
    THttpClient tc(TRequestLimits(), job.StopFlag(), job.Service());
    const TProfile& profile = *TProfile::Named(QLatin1String(site.Profile));
    auto fetch = [&](const QString& address) {
        // A page that did not come holds no links.
        return tc.FetchText(profile, address).value_or(QString());
    };

    QString address = site.PageAddress(shop, job.Choices().LinkKind, 1);
    QString page = fetch(address);
    const int announced = DigitTextToInt(TPatterns::FindsStr(site.PageCountPattern, page, false), 1);
    const int pages = std::min(announced, MaxCrawlPages);
    if (announced > pages)
        job.Report().Log(QStringLiteral("店铺显示有 %1 页，只抓取前 %2 页").arg(announced).arg(pages));
    int fruitless = 0; // pages in a row that added no link
    for (int i = 1; i <= pages; ++i) {
        if (job.Stopped()) {
            result.Outcome = TJobOutcome::Stopped;
            break;
        }
        const QStringList ids = ShopItemIds(site, page);
        int added = 0;
        for (const QString& id : ids)
            added += links.AppendIfMissing(QString(site.LinkTemplate).replace(QStringLiteral("%1"), id));
        result.Count += added;
        job.Report().Advance(i, pages, QStringLiteral("%1 个宝贝，%2 个新的").arg(ids.size()).arg(added));
        // The links found so far are kept even if the program is killed later.
        if (added > 0)
            job.Checkpoint();
        // The page count is the shop's word: a run of pages that add nothing means the shop has no
        // more (or the server is gone), however many pages it announced.
        fruitless = added > 0 ? 0 : fruitless + 1;
        if (fruitless >= MaxFruitlessPages && i < pages) {
            job.Report().Progress(QStringLiteral("连续 %1 页没有新的宝贝，抓取结束").arg(fruitless));
            break;
        }
        // The kind is read again for every page; another kind keeps the previous address.
        const QString nextAddress = site.PageAddress(shop, job.Choices().LinkKind, i + 1);
        if (!nextAddress.isEmpty())
            address = nextAddress;
        if (i < pages)
            page = fetch(address);
        PauseFor(100000);
    }
    job.Report().Status(QStringLiteral("发现了[") + QString::number(links.Count()) +
                        QStringLiteral("]个宝贝！"));
    return result;
}

TJobResult CrawlTaoBaoShop(const TJobContext& job, TLinkList& links, const QString& shop) {
    return CrawlShop(job, links, shop, TaobaoShopSite(job.Service()));
}

TJobResult Crawl1688Shop(const TJobContext& job, TLinkList& links, const QString& shop) {
    return CrawlShop(job, links, shop, Shop1688Site(job.Service()));
}
