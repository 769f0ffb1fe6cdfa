// The 1688 offer page scraper and the 1688 shop crawler.

#include "marketsim.h"
#include "testenv.h"
#include "testfiles.h"

#include "acquire/itemrow.h"
#include "acquire/offer1688.h"
#include "app/appcore.h"
#include "base/commatext.h"
#include "base/servicekeys.h"
#include "collect/shopcrawler.h"
#include "table/itemtable.h"
#include "table/linklist.h"
#include "web/httpclient.h"

#include <QSignalSpy>
#include <QTest>

using TAddResult = TAppCore::TAddResult;

namespace {

const QString OfferHost = "detail.1688.com";

QString offerLink(const QString& id) {
    return "http://detail.1688.com/offer/" + id + ".html";
}

QString offerPath(const QString& id) {
    return "/offer/" + id + ".html";
}

// An offer-list page of a 1688 shop: the page count (when given), offers outside the area, the
// offers in the area, and the pagination.
QString offerList(const QString& count, const QStringList& ids, const QString& outside = "9999") {
    QString page = "<html><body><div class=\"recommend\"><a href=\"http://detail.1688.com/offer/" + outside +
                   ".html\">推荐</a></div>";
    if (!count.isNull())
        page += "<span class=\"page-count\">" + count + "</span>";
    page += "<div class=\"wp-offerlist-windows\"><ul>";
    for (const QString& id : ids)
        page += "<li><a href=\"HTTP://detail.1688.com/offer/" + id + ".html\" title=\"货品\">货品</a></li>";
    return page +
           "</ul></div><div class=\"pagination\"><a>下一页</a></div><a href=\"http://detail.1688.com/offer/" +
           outside + ".html\"></a></body></html>";
}

} // namespace

class Test1688 : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void pairing_data();
    void pairing();
    void offerCellByCell();
    void descriptionAddressToThisMachineIsRefused();
    void realOfferPage_data();
    void realOfferPage();
    void attributesWithoutTheEndMarker();
    void jsonDescriptionReply_data();
    void jsonDescriptionReply();
    void runEndsAtAFailedPage();
    void searchThroughTheCore();

    void pageAddresses_data();
    void pageAddresses();
    void crawlerWalksEveryPage();
    void crawlerPageCount_data();
    void crawlerPageCount();
    void categoryLinkKeepsItsQuery();

  private:
    std::unique_ptr<TTestEnvironment> m_env;
    TMarketSim* m_sim = nullptr;
    // Runs a crawl of `shop` with the given link kind and returns its result.
    TJobResult crawl(TAppCore& core, int kind, const QString& shop);
};

void Test1688::init() {
    m_env = std::make_unique<TTestEnvironment>();
    m_sim = &m_env->Sim();
}

void Test1688::cleanup() {
    m_env.reset();
}

void Test1688::pairing_data() {
    QTest::addColumn<int>("captures");
    QTest::addColumn<QStringList>("pairs");
    QTest::newRow("4 captures: no pair") << 4 << QStringList{};
    QTest::newRow("5: one pair") << 5 << QStringList{"n0:v0"};
    QTest::newRow("6: one pair") << 6 << QStringList{"n0:v0"};
    QTest::newRow("7: two pairs") << 7 << QStringList{"n0:v0", "n1:v1"};
    QTest::newRow("8: two pairs") << 8 << QStringList{"n0:v0", "n1:v1"};
    QTest::newRow("9: three pairs") << 9 << QStringList{"n0:v0", "n1:v1", "n2:v2"};
    QTest::newRow("none") << 0 << QStringList{};
}

void Test1688::pairing() {
    QFETCH(int, captures);
    QFETCH(QStringList, pairs);
    QStringList list;
    for (int i = 0; i < captures; ++i)
        list.append(QString(i % 2 == 0 ? "n%1" : "v%1").arg(i / 2));
    QCOMPARE(PairOfferAttributes(list), pairs);
}

void Test1688::offerCellByCell() {
    TSimResponse page;
    page.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/html; charset=GBK"));
    page.Body = readFile(TOVREL_TEST_DATA_DIR "/1688-offer.html");
    m_sim->Route(OfferHost, offerPath("601"), page);
    // A 14-character description reply leaves its 11th character.
    m_sim->Route("img.alicdn.com", "/tfscom/TB1scarfdesc", TSimResponse::Text("0123456789X!!!"));
    TItemTable grid;
    grid.AppendRow(); // rows before it stay
    THttpClient tc;
    QVERIFY(ScrapeOffer1688(tc, grid, offerLink("601"), "小店"));
    QCOMPARE(grid.RowCount(), 3);
    QCOMPARE(grid.Cell(ColNo, 2), "2");
    QCOMPARE(grid.Cell(ColSelect, 2), " ");
    QCOMPARE(grid.Cell(ColTitle, 2), "冬季加厚羊绒围巾女 义乌厂家直销");
    QCOMPARE(grid.Cell(ColCategory, 2), "羊绒围巾,加厚围巾,女士围巾"); // the keywords, separators kept
    QCOMPARE(grid.Cell(ColPrice, 2), "28.80");
    QCOMPARE(grid.Cell(ColDelivery, 2), "浙江省 金华市");
    QCOMPARE(grid.Cell(ColDetail, 2), "X");
    QVERIFY(grid.Cell(ColHtml, 2).contains("d-title"));
    QCOMPARE(grid.Cell(ColLink, 2), offerLink("601"));
    QCOMPARE(grid.Cell(ColWatermark, 2), "小店");
    QCOMPARE(grid.Cell(ColLocalDetail, 2), "");
    // Twelve captures: the four pairs of the table; the last four captures (the service block) never
    // pair. A name holding ":" is cut at it, the rest joining the value.
    const QStringList pairs = {"货源类别:现货", "品牌:暖冬", "面料名称:含量:羊绒 80%", "产地:义乌"};
    QCOMPARE(FromCommaText(grid.Cell(ColProps, 2)), pairs);
    QCOMPARE(grid.ColCount(), 12 + 4);
    QCOMPARE(grid.Cell(12, 0), "货源类别");
    QCOMPARE(grid.Cell(14, 0), "面料名称");
    QCOMPARE(grid.Cell(14, 2), "含量:羊绒 80%");
    QCOMPARE(grid.Cell(15, 2), "义乌");
    // No postage request and no Head: the offer page and its description only.
    QCOMPARE(m_sim->Requests().size(), 2);
}

void Test1688::descriptionAddressToThisMachineIsRefused() {
    // The offer page names a description on the seller's own machine.
    TSimResponse page;
    page.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/html; charset=GBK"));
    page.Body =
        readFile(TOVREL_TEST_DATA_DIR "/1688-offer.html")
            .replace("http://img.alicdn.com/tfscom/TB1scarfdesc", "http://127.0.0.1:631/tfscom/TB1scarfdesc");
    m_sim->Route(OfferHost, offerPath("602"), page);
    m_sim->Route("127.0.0.1", "/tfscom/TB1scarfdesc", TSimResponse::Text("0123456789SECRET!!!"));
    TItemTable grid;
    THttpClient tc;
    QStringList notes;
    QVERIFY(
        ScrapeOffer1688(tc, grid, offerLink("602"), "", [&notes](const QString& line) { notes << line; }));
    QCOMPARE(grid.Cell(ColTitle, 1), "冬季加厚羊绒围巾女 义乌厂家直销");
    QCOMPARE(grid.Cell(ColDetail, 1), "");
    QCOMPARE(notes.size(), 1);
    QVERIFY2(notes[0].contains("127.0.0.1:631") && notes[0].contains("指向本机或内部网络"),
             qPrintable(notes[0]));
    QCOMPARE(m_sim->Requests().size(), 1); // the offer page alone
}

void Test1688::realOfferPage_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("keywords");
    QTest::addColumn<QString>("price");
    QTest::addColumn<QString>("delivery");
    QTest::addColumn<int>("attributes");
    QTest::addColumn<QString>("firstAttribute");
    QTest::newRow("a page in the 2019 layout") << TOVREL_TEST_DATA_DIR "/1688-offer.html"
                                               << "冬季加厚羊绒围巾女 义乌厂家直销"
                                               << "羊绒围巾,加厚围巾,女士围巾"
                                               << "28.80"
                                               << "浙江省 金华市" << 4 << "货源类别:现货";
    const QString real = TOVREL_CORPUS_DIR "/1688-offer/1688-offer-2019-601748658723.html";
    if (QFile::exists(real))
        QTest::newRow("the real page of 2019")
            << real << "新品绿光森林前扣无钢圈蕾丝聚拢内衣三角杯无痕内衣少女文胸厂家"
            << "蕾丝内衣,蕾丝聚拢内衣,前扣聚拢内衣,聚拢内衣,前扣内衣"
            << "16.50"
            << "广东省 汕头市" << -1 << "货源类别:现货"; // without the old end marker: the whole table
}

void Test1688::realOfferPage() {
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(QString, keywords);
    QFETCH(QString, price);
    QFETCH(QString, delivery);
    QFETCH(int, attributes);
    QFETCH(QString, firstAttribute);
    TSimResponse page;
    page.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/html; charset=GBK"));
    page.Body = readFile(file);
    QVERIFY(!page.Body.isEmpty());
    m_sim->Route(OfferHost, offerPath("601748658723"), page);
    TItemTable grid;
    THttpClient tc;
    QVERIFY(ScrapeOffer1688(tc, grid, offerLink("601748658723"), ""));
    QCOMPARE(grid.Cell(ColTitle, 1), title);
    QCOMPARE(grid.Cell(ColCategory, 1), keywords);
    QCOMPARE(grid.Cell(ColPrice, 1), price);
    QCOMPARE(grid.Cell(ColDelivery, 1), delivery);
    const QStringList pairs = FromCommaText(grid.Cell(ColProps, 1));
    if (attributes >= 0)
        QCOMPARE(pairs.size(), attributes);
    else
        QVERIFY2(pairs.size() >= 10, qPrintable(pairs.join('|')));
    QCOMPARE(pairs.value(0), firstAttribute);
}

void Test1688::attributesWithoutTheEndMarker() {
    // The newer layout: the table ends the attributes, every pair counts, values are decoded.
    const QString page = "<h1 class=\"d-title\">新款</h1><table><tbody><tr>"
                         "<td class=\"de-feature\">品牌</td><td class=\"de-value\">艳依婷&nbsp;</td>"
                         "<td class=\"de-feature\">含量</td><td class=\"de-value\">80（%） </td></tr>"
                         "<tr><td class=\"de-feature\">产地</td><td class=\"de-value\">汕头</td></tr>"
                         "</tbody></table><div class=\"d-service\"><span class=\"x\">服务</span>"
                         "<span class=\"y\">不是属性</span></div>";
    QCOMPARE(OfferAttributes(page), (QStringList{"品牌:艳依婷", "含量:80（%）", "产地:汕头"}));
}

void Test1688::jsonDescriptionReply_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("description");
    QTest::newRow("offer_details with its escapes")
        << "var offer_details={\"content\":\"<p><img "
           "src=\\\"http://img.alicdn.com/a.jpg\\\"/>\\u5c3a\\u7801</p>\"};"
        << "<p><img src=\"http://img.alicdn.com/a.jpg\"/>尺码</p>";
    QTest::newRow("blanks and no semicolon") << " var offer_details = {\"content\":\"<p>好</p>\",\"x\":1} "
                                             << "<p>好</p>";
    QTest::newRow("Taobao's form is cut as ever") << "var desc='<p>好</p>';\n"
                                                  << "<p>好</p>";
    QTest::newRow("an object without content is cut as ever") << "var d={\"other\":\"12345678\"};"
                                                              << "her\":\"12345678";
}

void Test1688::jsonDescriptionReply() {
    QFETCH(QString, reply);
    QFETCH(QString, description);
    QCOMPARE(DescriptionFromReply(reply), description);
}

void Test1688::runEndsAtAFailedPage() {
    m_sim->Route(OfferHost, offerPath("1"), TSimResponse::Text("<h1 class=\"d-title\">一</h1>", "GBK"));
    m_sim->Route(OfferHost, offerPath("2"), TSimResponse()); // an empty page
    m_sim->Route(OfferHost, offerPath("3"), TSimResponse::Text("<h1 class=\"d-title\">三</h1>", "GBK"));
    TAppCore& core = m_env->Core();
    core.ChangeDataSource(Source1688);
    core.UpdateChoices([](TChoices& c) {
        c.WatermarkText = "水印";
        c.TitleWithPrice = true; // no effect on 1688 offers
    });
    for (const QString id : {"1", "2", "3"})
        core.Links()->Append(offerLink(id));
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QSignalSpy captions(&core, &TAppCore::captionChanged);
    QVERIFY(core.StartSearch());
    QVERIFY(finished.wait(20000));
    QCOMPARE(core.Table()->RowCount(), 2);
    QCOMPARE(core.Table()->Cell(ColTitle, 1), "一");
    QCOMPARE(core.Table()->Cell(ColWatermark, 1), "水印");
    QCOMPARE(m_sim->Count(OfferHost, offerPath("3")), 0); // no later link fetched
    const TJobResult result = finished.first()[1].value<TJobResult>();
    QCOMPARE(result.Outcome, TJobOutcome::Failed);
    QCOMPARE(result.Summary, "第 2 个连接无法下载（页面无法读取），搜索已停止");
    QCOMPARE(captions.first()[1].toString(), "搜索中..");
    QCOMPARE(captions.last()[1].toString(), "开始搜索");
}

void Test1688::searchThroughTheCore() {
    // The address box adds offer links for the source 1688 as it does for Taobao.
    TAppCore& core = m_env->Core();
    core.ChangeDataSource(Source1688);
    core.UpdateChoices([](TChoices& c) { c.LinkText = "  " + offerLink("7") + "\n"; });
    QCOMPARE(core.AddLink(), TAddResult::Added);
    core.UpdateChoices([](TChoices& c) { c.LinkText = offerLink("7").toUpper(); });
    QCOMPARE(core.AddLink(), TAddResult::Duplicate);
    QCOMPARE(core.Links()->Items(), QStringList{offerLink("7")});
}

void Test1688::pageAddresses_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("address");
    QTest::newRow("shop, first page")
        << int(KindShop) << 1 << "http://s.1688.com/page/offerlist.htm?keywords=&showType=&sortType=showcase";
    QTest::newRow("shop, page 4") << int(KindShop) << 4 << "http://s.1688.com/page/offerlist.htm?pageNum=4";
    QTest::newRow("category, first page") << int(KindCategory) << 1 << "http://s.1688.com";
    QTest::newRow("category, page 2") << int(KindCategory) << 2 << "http://s.1688.com?pageNum=2";
    QTest::newRow("an item link kind has no pages") << int(KindItem) << 2 << "";
}

void Test1688::pageAddresses() {
    QFETCH(int, kind);
    QFETCH(int, n);
    QFETCH(QString, address);
    QCOMPARE(Shop1688PageAddress("http://s.1688.com", kind, n), address);
}

TJobResult Test1688::crawl(TAppCore& core, int kind, const QString& shop) {
    core.ChangeDataSource(Source1688);
    core.UpdateChoices([&](TChoices& c) {
        c.LinkKind = kind;
        c.LinkText = shop;
    });
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    if (core.AddLink() != TAddResult::CrawlStarted || !finished.wait(20000))
        return TJobResult{TJobOutcome::Failed, "the crawl did not run", {}};
    return finished.first()[1].value<TJobResult>();
}

void Test1688::crawlerWalksEveryPage() {
    const QString shop = "http://warm.1688.com";
    m_sim->Route("warm.1688.com", "/page/offerlist.htm?keywords=&showType=&sortType=showcase",
                 TSimResponse::Text(offerList("3", {"11", "12"}), "GBK"));
    m_sim->Route("warm.1688.com", "/page/offerlist.htm?pageNum=2",
                 TSimResponse::Text(offerList(QString(), {"12", "13"}), "GBK"));
    m_sim->Route("warm.1688.com", "/page/offerlist.htm?pageNum=3",
                 TSimResponse::Text(offerList(QString(), {"14"}), "GBK"));
    TAppCore& core = m_env->Core();
    core.ChangeDataSource(Source1688);
    core.Links()->Append(offerLink("13").toUpper()); // listed before, in other letter case
    QSignalSpy status(&core, &TAppCore::statusTextChanged);
    QSignalSpy enabled(&core, &TAppCore::commandsEnabled);
    const TJobResult result = crawl(core, KindShop, shop);
    QCOMPARE(result.Outcome, TJobOutcome::Done);
    // Offers outside the area are not taken; one found twice or listed before is listed once.
    QCOMPARE(core.Links()->Items(),
             (QStringList{offerLink("13").toUpper(), offerLink("11"), offerLink("12"), offerLink("14")}));
    QCOMPARE(m_sim->Requests().size(), 3);
    // The status text counts the links listed before the crawl too.
    QCOMPARE(status.last()[0].toString(), "发现了[4]个宝贝！");
    QCOMPARE(enabled.first()[0].toBool(), false);
    QCOMPARE(enabled.last()[0].toBool(), true);
    // The pages are fetched with HGetText.
    for (const TSimRequest& r : m_sim->Requests())
        QCOMPARE(r.Header("Accept-Language"), QByteArray("zh-cn"));
}

void Test1688::crawlerPageCount_data() {
    QTest::addColumn<QString>("count");
    QTest::addColumn<int>("requests");
    QTest::newRow("no count: one page") << QString() << 1;
    QTest::newRow("a blank count: one page") << "  " << 1;
    QTest::newRow("a blank before the digits: one page") << " 3" << 1;
    QTest::newRow("0: no page processed") << "0" << 1;
    QTest::newRow("2: two pages") << "2" << 2;
}

void Test1688::crawlerPageCount() {
    QFETCH(QString, count);
    QFETCH(int, requests);
    m_sim->Route("c.1688.com", "/page/offerlist.htm?keywords=&showType=&sortType=showcase",
                 TSimResponse::Text(offerList(count, {"21"}), "GBK"));
    m_sim->Route("c.1688.com", "/page/offerlist.htm?pageNum=2",
                 TSimResponse::Text(offerList(QString(), {"22"}), "GBK"));
    TAppCore& core = m_env->Core();
    crawl(core, KindShop, "http://c.1688.com");
    QCOMPARE(m_sim->Requests().size(), requests);
    QCOMPARE(core.Links()->Count(), count == "0" ? 0 : requests);
}

void Test1688::categoryLinkKeepsItsQuery() {
    // A category link is fetched as typed; the later pages add "?pageNum=" even after a query.
    const QString category = "http://cat.1688.com/page/offerlist_123.htm?tradenumFilter=false";
    m_sim->Route("cat.1688.com", "/page/offerlist_123.htm?tradenumFilter=false",
                 TSimResponse::Text(offerList("2", {"31"}), "GBK"));
    m_sim->Route("cat.1688.com", "/page/offerlist_123.htm?tradenumFilter=false?pageNum=2",
                 TSimResponse::Text(offerList(QString(), {"32"}), "GBK"));
    TAppCore& core = m_env->Core();
    crawl(core, KindCategory, category);
    QCOMPARE(core.Links()->Items(), (QStringList{offerLink("31"), offerLink("32")}));
    QCOMPARE(m_sim->Requests().last().Path,
             QByteArray("/page/offerlist_123.htm?tradenumFilter=false?pageNum=2"));
}

QTEST_GUILESS_MAIN(Test1688)
#include "test_1688.moc"
