#include "collect/taobaoshop.h"

#include "base/servicevalues.h"
#include "table/linklist.h"
#include "web/httpclient.h"

#include <QThread>

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

QString ShopPageAddress(const QString& shop, int linkKind, int n) {
    const QString path = linkKind == 1   ? QStringLiteral("/search.htm")
                         : linkKind == 2 ? QStringLiteral("/category.htm")
                                         : QString();
    if (path.isEmpty())
        return {};
    if (n <= 1)
        return shop + path + QStringLiteral("?spm=a1z10.1.w4010-8951997237.2.NGhW3u&search=y");
    return shop + path + QStringLiteral("?search=y&pageNo=") + QString::number(n);
}

QString ShopItemArea(const QString& page) {
    const QString next = QStringLiteral("下一页");
    const qsizetype start = page.indexOf(next);
    const QString after = start >= 0 ? page.mid(start + next.size()) : page;
    const qsizetype end = after.indexOf(QStringLiteral("上一页"));
    return end >= 0 ? after.left(end) : QString();
}

TJobResult CrawlTaoBaoShop(const TJobContext& job, TLinkList& links, const QString& shop) {
    TJobResult result;
    const QString itemHost = job.Service().Value(TServiceKey::ItemHost);
    // The item host goes into the pattern as it is, its dots unescaped.
    const QString idPattern =
        QStringLiteral("http:\\/\\/") + itemHost + QStringLiteral("\\/item.htm\\?id=(\\d+)");
    TC tc(TRequestLimits(), job.StopFlag());

    QString address = ShopPageAddress(shop, job.Choices().LinkKind, 1);
    QString page = tc.HGetTextNew(address);
    const int pages =
        DigitTextToInt(tc.FindsStr(QStringLiteral("<span class=\"page-info\">1/([^<]*)"), page, false), 1);
    int fruitless = 0; // pages in a row that added no link
    for (int i = 1; i <= pages; ++i) {
        if (job.Stopped()) {
            result.Outcome = TJobOutcome::Stopped;
            break;
        }
        const QStringList ids = tc.FindSList(idPattern, ShopItemArea(page), false);
        int added = 0;
        for (const QString& id : ids)
            added += links.AppendIfMissing(QStringLiteral("http://") + itemHost +
                                           QStringLiteral("/item.htm?id=") + id);
        job.Report().Progress(
            QStringLiteral("page %1/%2: %3 item(s), %4 new").arg(i).arg(pages).arg(ids.size()).arg(added));
        // The links found so far are kept even if the program is killed later.
        if (added > 0)
            job.Checkpoint();
        // The page count is the shop's word: a run of pages that add nothing means the shop has no
        // more (or the server is gone), however many pages it announced.
        fruitless = added > 0 ? 0 : fruitless + 1;
        if (fruitless >= MaxFruitlessPages && i < pages) {
            job.Report().Progress(
                QStringLiteral("%1 pages in a row added no link: the crawl ends").arg(fruitless));
            break;
        }
        // The kind is read again for every page; another kind keeps the previous address.
        const QString nextAddress = ShopPageAddress(shop, job.Choices().LinkKind, i + 1);
        if (!nextAddress.isEmpty())
            address = nextAddress;
        if (i < pages)
            page = tc.HGetTextNew(address);
        QThread::msleep(100);
    }
    job.Report().Status(QStringLiteral("发现了[") + QString::number(links.Count()) +
                        QStringLiteral("]个宝贝！"));
    return result;
}
