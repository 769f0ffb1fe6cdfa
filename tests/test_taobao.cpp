// The Taobao item scraper, its two runners, the shop crawler and the link-list commands, against
// the marketplace simulator reached as an HTTP proxy under the marketplace's own host names.

#include "marketsim.h"
#include "taobaopages.h"
#include "testenv.h"
#include "testfiles.h"

#include "acquire/itemrow.h"
#include "acquire/province.h"
#include "acquire/taobaoitem.h"
#include "app/appcore.h"
#include "base/commatext.h"
#include "collect/shopcrawler.h"
#include "config/servicevalues.h"
#include "platform/paths.h"
#include "table/gridfile.h"
#include "table/itemtable.h"
#include "table/linklist.h"
#include "web/httpclient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <limits>

using TAddResult = TAppCore::TAddResult;

namespace {

const QString ItemHost = "item.taobao.com";
const QString DataHost = "detailskip.taobao.com";

QByteArray gbk(const QString& text) {
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

QString itemLink(const QString& id) {
    return "http://item.taobao.com/item.htm?id=" + id;
}
QString itemPath(const QString& id) {
    return "/item.htm?id=" + id;
}
QString postagePath(const QString& id) {
    return "/json/postageFee.htm?itemId=" + id + "&al=false&ap=false&ss=false&free=true";
}

} // namespace

class TestTaobao : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void itemId_data();
    void itemId();
    void delivery_data();
    void delivery();
    void pageAddresses_data();
    void pageAddresses();
    void wrongDescriptionGuessIsRepaired_data();
    void wrongDescriptionGuessIsRepaired();
    void failedDescriptionReplyIsNoDescription();
    void descriptionAddressesStayPublic_data();
    void descriptionAddressesStayPublic();
    void description_data();
    void description();
    void category_data();
    void category();
    void splitLocation_data();
    void splitLocation();
    void digits_data();
    void digits();
    void itemArea_data();
    void itemArea();

    void itemCellByCell();
    void titles_data();
    void titles();
    void valuesOutOfMarkup_data();
    void valuesOutOfMarkup();
    void postageGoesOutWithThePage();
    void attributeValuesLineUpUnderTheirNames();
    void aNameTwiceInOneItemTakesTwoColumns();
    void attributeNamesMatchAttributeCaptions();
    void realCorpusPage_data();
    void realCorpusPage();
    void tmallItemPage();
    void sequentialRunStopsAtFailedPage();
    void sequentialRunPassesDelistedItems_data();
    void sequentialRunPassesDelistedItems();
    void sequentialRunPausesAfterEachLink();
    void errorPagesAreNoItems_data();
    void errorPagesAreNoItems();
    void largestPageStillReadsItsAttributes();
    void sequentialRunTitlePriceAndBlankHead();
    void perLinkWorkers();
    void runsAskTheirJobsPostageHost_data();
    void runsAskTheirJobsPostageHost();
    void emptyListEndsSearchAtOnce_data();
    void emptyListEndsSearchAtOnce();
    void crawlerWalksEveryPage();
    void crawlerWithoutPages_data();
    void crawlerWithoutPages();
    void shopItemLinkForms_data();
    void shopItemLinkForms();
    void crawlerOnRealShopPage_data();
    void crawlerOnRealShopPage();
    void crawlerEndsAfterFruitlessPages();
    void crawlerWalksAtMostItsPageLimit();
    void missingDescriptionsAreCountedAndLogged();
    void addCommand();
    void linkListLookup();
    void splitLinks_data();
    void splitLinks();
    void manyLinksAtOnce();
    void stoppedSearchKeepsFinishedRows_data();
    void stoppedSearchKeepsFinishedRows();
    void kindAndSourceChanges();

  private:
    std::unique_ptr<TTestEnvironment> m_env;
    TMarketSim* m_sim = nullptr;
    void serveItem(const QString& id, const QString& title, const QStringList& attributes,
                   const QString& location = "浙江杭州");
};

void TestTaobao::init() {
    m_env = std::make_unique<TTestEnvironment>();
    m_sim = &m_env->Sim();
}

void TestTaobao::cleanup() {
    m_env.reset();
}

void TestTaobao::serveItem(const QString& id, const QString& title, const QStringList& attributes,
                           const QString& location) {
    m_sim->Route(ItemHost, itemPath(id), TSimResponse::Text(itemPage(id, title, attributes), "GBK"));
    m_sim->Route(DataHost, postagePath(id), TSimResponse::Text(postageReply(location), "GBK"));
    m_sim->Route("dsc.taobaocdn.com", "/i1/" + id + "/desc.js",
                 TSimResponse::Text("var desc='<p>" + title + "的描述</p>';\n", "GBK"));
}

void TestTaobao::itemId_data() {
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("id");
    QTest::newRow("?id= at the end") << "http://item.taobao.com/item.htm?id=123"
                                     << "123";
    QTest::newRow("no &id=: everything after ?id=") << "http://item.taobao.com/item.htm?id=123&spm=abc"
                                                    << "123&spm=abc";
    QTest::newRow("&id= wins") << "http://item.taobao.com/item.htm?spm=abc&id=123"
                               << "123";
    QTest::newRow("&id= up to the next &") << "http://a/item.htm?x=1&id=7&y=2"
                                           << "7";
    QTest::newRow("no id") << "http://a/item.htm"
                           << "";
}

void TestTaobao::itemId() {
    QFETCH(QString, link);
    QFETCH(QString, id);
    QCOMPARE(TaobaoItemId(link), id);
}

void TestTaobao::delivery_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("cell");
    QTest::newRow("a failed fetch") << "error"
                                    << "-;;";
    QTest::newRow("wrapped reply")
        << "$callback({\"location\":\"浙江杭州\",\"destination\":\"北京\",\"carriage\":\"快递 "
           "10.00\",\"estimation\":\"3天\"});"
        << "浙江杭州-北京;快递 10.00;3天";
    QTest::newRow("markup inside values is removed, ignoring case")
        << "$CALLBACK({\"location\":\"<span>浙江</"
           "SPAN>\",\"destination\":\"北京\",\"carriage\":\"<SPAN>快递&NBSP;10.00</em>"
           "</span>\",\"estimation\":\"3天\"});"
        << "浙江-北京;快递10.00;3天";
    QTest::newRow("markup written with escaped quotes is removed once the values are read")
        << "$callback({\"location\":\"浙江杭州\",\"destination\":\"北京\",\"carriage\":\"快递 <em "
           "class=\\\"tb-rmb-num\\\">10.00</em>\",\"estimation\":\"<em class=\\\"tb-rmb\\\">&yen;3天\"});"
        << "浙江杭州-北京;快递 10.00;3天";
    QTest::newRow("missing, null and number members")
        << "{\"location\":null,\"carriage\":10.5,\"estimation\":true}"
        << "null-;10.5;true";
    QTest::newRow("a truncated reply") << "$callback({\"location\":\"浙江杭州\",\"destin"
                                       << "-;;";
    QTest::newRow("an HTML page") << "<html><body>请登录</body></html>"
                                  << "-;;";
    QTest::newRow("a JSON array") << "[1,2]"
                                  << "-;;";
    QTest::newRow("an object member keeps its JSON text") << "{\"location\":{\"a\":1}}"
                                                          << "{\"a\":1}-;;";
}

void TestTaobao::delivery() {
    QFETCH(QString, reply);
    QFETCH(QString, cell);
    QCOMPARE(DeliveryFromPostage(reply), cell);
}

void TestTaobao::pageAddresses_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("saleData");
    const QString script = "g_config.dynamicScript(\"http://dsc.taobaocdn.com/i1/1/desc.js\");";
    const QString byProtocol =
        "descUrl          : location.protocol==='http:' ? "
        "'//dsc.taobaocdn.com/i2/1/TB1.desc%7Cvar%5Edesc' : '//desc.alicdn.com/i2/1/TB1.desc',";
    const QString json = "\"wholeSibUrl\":\"http://detailskip.taobao.com/json/sib.htm?id=1\"";
    const QString hub = "wholeSibUrl      : '//detailskip.taobao.com/service/getData/1/p1/item/detail/"
                        "sib.htm?itemId=1&modules=dynStock,qrcode',";
    QTest::newRow("the older layout") << script + json << "http://dsc.taobaocdn.com/i1/1/desc.js"
                                      << "http://detailskip.taobao.com/json/sib.htm?id=1";
    QTest::newRow("the 2017 layout: the http choice, made absolute")
        << byProtocol + hub << "http://dsc.taobaocdn.com/i2/1/TB1.desc%7Cvar%5Edesc"
        << "http://detailskip.taobao.com/service/getData/1/p1/item/detail/"
           "sib.htm?itemId=1&modules=dynStock,qrcode";
    QTest::newRow("a plain descUrl") << "descUrl: '//dsc.taobaocdn.com/i3/d'"
                                     << "http://dsc.taobaocdn.com/i3/d"
                                     << "";
    QTest::newRow("a plain descUrl with its scheme") << "\"descUrl\":\"https://desc.alicdn.com/i3/d\""
                                                     << "https://desc.alicdn.com/i3/d"
                                                     << "";
    QTest::newRow("both layouts: the older forms win")
        << byProtocol + script + hub + json << "http://dsc.taobaocdn.com/i1/1/desc.js"
        << "http://detailskip.taobao.com/json/sib.htm?id=1";
    QTest::newRow("neither") << "<title>x-淘宝网</title>"
                             << ""
                             << "";
}

void TestTaobao::pageAddresses() {
    QFETCH(QString, page);
    QFETCH(QString, description);
    QFETCH(QString, saleData);
    QCOMPARE(DescriptionAddress(page), description);
    QCOMPARE(SaleDataAddress(page), saleData);
    // The first reading from the undecoded page agrees on pages of these forms.
    QCOMPARE(DescriptionAddressGuess(gbk(page), "text/html; charset=GBK"), description);
    QCOMPARE(DescriptionAddressGuess(page.toUtf8(), "text/html; charset=UTF-8"), description);
}

void TestTaobao::wrongDescriptionGuessIsRepaired_data() {
    QTest::addColumn<QByteArray>("page");
    const QByteArray right = "descUrl : location.protocol==='http:' ? '//dsc.taobaocdn.com/i1/8/desc.js' : "
                             "'//desc.alicdn.com/i1/8/desc.js',";
    // 0x81 and "d" make one GBK character, so the text holds no "descUrl" there.
    QTest::newRow("the name's bytes inside a character") << gbk("<html><title>甲-淘宝网</title>") + "\x81" +
                                                                "descUrl : '//wrong.example/desc'\n" +
                                                                QByteArray(6000, ' ') + right;
    // The form that chooses by protocol comes first in rank, but lies beyond the first reading.
    QTest::newRow("the ranking form far after a plain one") << gbk("<html><title>甲-淘宝网</title>") +
                                                                   "descUrl : '//wrong.example/desc',\n" +
                                                                   QByteArray(6000, ' ') + right;
}

void TestTaobao::wrongDescriptionGuessIsRepaired() {
    // The description's address read from the page as it came is checked against the decoded
    // page: a wrong one is followed by a request for the right one, whose reply is the
    // description.
    QFETCH(QByteArray, page);
    TSimResponse r;
    r.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/html; charset=GBK"));
    r.Body = page;
    m_sim->Route(ItemHost, itemPath("8"), r);
    m_sim->Route("wrong.example", "/desc", TSimResponse::Text("var desc='<p>错的</p>';\n", "GBK"));
    m_sim->Route("dsc.taobaocdn.com", "/i1/8/desc.js",
                 TSimResponse::Text("var desc='<p>对的</p>';\n", "GBK"));
    TItemTable grid;
    THttpClient tc;
    TTaobaoItemInput in;
    in.link = itemLink("8");
    in.head = "http://";
    QVERIFY(ScrapeTaobaoItem(tc, grid, in));
    QCOMPARE(grid.Cell(ColTitle, 1), "甲");
    QCOMPARE(grid.Cell(ColDetail, 1), "<p>对的</p>");
    QCOMPARE(m_sim->Count("wrong.example", "/desc"), 1);
    QCOMPARE(m_sim->Count("dsc.taobaocdn.com", "/i1/8/desc.js"), 1);
}

void TestTaobao::failedDescriptionReplyIsNoDescription() {
    // The page names a description that the server does not have: its error page is no description.
    m_sim->Route(ItemHost, itemPath("7"), TSimResponse::Text(itemPage("7", "甲", {"品牌:A"}), "GBK"));
    TItemTable grid;
    THttpClient tc;
    TTaobaoItemInput in;
    in.link = itemLink("7");
    in.head = "http://";
    QVERIFY(ScrapeTaobaoItem(tc, grid, in));
    QCOMPARE(grid.Cell(ColTitle, 1), "甲");
    QCOMPARE(grid.Cell(ColDetail, 1), "");
    QCOMPARE(m_sim->Count("dsc.taobaocdn.com", "/i1/7/desc.js"), 1);
}

void TestTaobao::descriptionAddressesStayPublic_data() {
    QTest::addColumn<QString>("script"); // how the page names its description
    QTest::addColumn<QString>("host");   // the host it names
    QTest::addColumn<bool>("taken");
    QTest::newRow("a public host") << "g_config.dynamicScript(\"http://dsc.taobaocdn.com/i1/9/desc.js\")"
                                   << "dsc.taobaocdn.com" << true;
    QTest::newRow("loopback") << "g_config.dynamicScript(\"http://127.0.0.1:631/i1/9/desc.js\")"
                              << "127.0.0.1" << false;
    QTest::newRow("descUrl to loopback, protocol-relative")
        << "var g_config={descUrl:'//127.0.0.1:8080/i1/9/desc.js'}"
        << "127.0.0.1" << false;
    QTest::newRow("localhost") << "g_config.dynamicScript(\"http://localhost/i1/9/desc.js\")"
                               << "localhost" << false;
    QTest::newRow("10.x") << "g_config.dynamicScript(\"http://10.1.1.1/i1/9/desc.js\")"
                          << "10.1.1.1" << false;
    QTest::newRow("192.168.x") << "g_config.dynamicScript(\"http://192.168.1.1/i1/9/desc.js\")"
                               << "192.168.1.1" << false;
    QTest::newRow("[::1]") << "g_config.dynamicScript(\"http://[::1]:8080/i1/9/desc.js\")"
                           << "[::1]" << false;
}

void TestTaobao::descriptionAddressesStayPublic() {
    QFETCH(QString, script);
    QFETCH(QString, host);
    QFETCH(bool, taken);
    QString page = itemPage("9", "乙", {"品牌:B"});
    page.replace("g_config.dynamicScript(\"http://dsc.taobaocdn.com/i1/9/desc.js\")", script);
    m_sim->Route(ItemHost, itemPath("9"), TSimResponse::Text(page, "GBK"));
    // Whoever answers at that address (the simulator plays every host) is never asked.
    const TSimResponse secret = TSimResponse::Text("var desc='root:x:0:0:root';\n");
    m_sim->Route("*", "/i1/9/desc.js", secret);
    m_sim->Route(host, "/i1/9/desc.js", secret);
    TItemTable grid;
    THttpClient tc;
    TTaobaoItemInput in;
    in.link = itemLink("9");
    in.head = "http://";
    QStringList notes;
    in.note = [&notes](const QString& line) { notes.append(line); };
    QVERIFY(ScrapeTaobaoItem(tc, grid, in));
    QCOMPARE(grid.Cell(ColTitle, 1), "乙");
    if (taken) {
        QCOMPARE(grid.Cell(ColDetail, 1), "root:x:0:0:root");
        QVERIFY(notes.isEmpty());
        return;
    }
    QCOMPARE(grid.Cell(ColDetail, 1), "");
    QCOMPARE(notes.size(), 1);
    QVERIFY2(notes[0].startsWith(itemLink("9")) && notes[0].contains("指向本机或内部网络"),
             qPrintable(notes[0]));
    // Only the item page and the postage were asked for.
    for (const TSimRequest& r : m_sim->Requests())
        QVERIFY2(!r.Path.contains("desc.js"), r.Target.constData());
}

void TestTaobao::description_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("detail");
    QTest::newRow("the wrapper is cut") << "var desc='<p>好</p>';\n"
                                        << "<p>好</p>";
    QTest::newRow("exactly 13 characters") << "var desc='';\n"
                                           << "";
    QTest::newRow("14 characters") << "var desc='x';\n"
                                   << "x";
    QTest::newRow("a failed fetch") << "error"
                                    << "";
    QTest::newRow("nothing") << ""
                             << "";
}

void TestTaobao::description() {
    QFETCH(QString, reply);
    QFETCH(QString, detail);
    QCOMPARE(DescriptionFromReply(reply), detail);
}

void TestTaobao::category_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("category");
    QTest::newRow("titles between the header and the notice")
        << "<a title=\"before\"><div class=\"tb-detail-hd\"><a title=\"男装\"></a><a title=\"夹克 外套\"></a>"
           "<div class=\"tb-notice\" title=\"after\">"
        << "男装,\"夹克 外套\"";
    QTest::newRow("the header after the notice") << "tb-notice <a title=\"x\"> tb-detail-hd <a title=\"y\">"
                                                 << "";
    QTest::newRow("no notice") << "tb-detail-hd <a title=\"x\">"
                               << "";
    QTest::newRow("no header") << "<a title=\"x\"> tb-notice"
                               << "";
    QTest::newRow("no titles") << "tb-detail-hd tb-notice"
                               << "";
}

void TestTaobao::category() {
    QFETCH(QString, page);
    QFETCH(QString, category);
    QCOMPARE(CategoryFromPage(page), category);
}

void TestTaobao::splitLocation_data() {
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("province");
    QTest::addColumn<QString>("city");
    QTest::newRow("浙江杭州") << "浙江杭州"
                              << "浙江"
                              << "杭州";
    QTest::newRow("北京") << "北京"
                          << "北京"
                          << "";
    QTest::newRow("北京市") << "北京市"
                            << "北京市"
                            << "";
    QTest::newRow("内蒙古呼和浩特") << "内蒙古呼和浩特"
                                    << "内蒙古"
                                    << "呼和浩特";
    QTest::newRow("浙江省杭州市") << "浙江省杭州市"
                                  << "浙江省"
                                  << "杭州市";
    QTest::newRow("山西太原 (山西 has no 省)") << "山西太原"
                                               << "山西"
                                               << "太原";
    QTest::newRow("surrounding spaces") << "  广东深圳 \n"
                                        << "广东"
                                        << "深圳";
    QTest::newRow("one character") << "浙"
                                   << "浙"
                                   << "";
    QTest::newRow("no province") << "火星基地"
                                 << ""
                                 << "";
    QTest::newRow("empty") << ""
                           << ""
                           << "";
    QTest::newRow("海外") << "海外美国"
                          << "海外"
                          << "美国";
}

void TestTaobao::splitLocation() {
    QFETCH(QString, location);
    QFETCH(QString, province);
    QFETCH(QString, city);
    const QStringList provinces = ProvinceListEntries();
    QCOMPARE(provinces.size(), 35);
    const auto [p, c] = SplitLocation(provinces, location);
    QCOMPARE(p, province);
    QCOMPARE(c, city);
}

void TestTaobao::digits_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("allDigits");
    QTest::addColumn<int>("value");
    QTest::newRow("3") << "3" << true << 3;
    QTest::newRow("empty") << "" << true << 1;
    QTest::newRow("a space after the number") << "3 " << false << 1;
    QTest::newRow("a sign") << "-3" << false << 1;
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("leading zeros") << "007" << true << 7;
    QTest::newRow("too big for 32 bits") << "2147483648" << true << 1;
    QTest::newRow("the largest") << "2147483647" << true << 2147483647;
    QTest::newRow("full-width digits") << "３" << false << 1;
}

void TestTaobao::digits() {
    QFETCH(QString, text);
    QFETCH(bool, allDigits);
    QFETCH(int, value);
    QCOMPARE(IsAllDigits(text), allDigits);
    QCOMPARE(DigitTextToInt(text, 1), value);
}

void TestTaobao::itemArea_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("area");
    QTest::newRow("between the pagers") << "a 下一页 b 上一页 c 上一页"
                                        << " b ";
    QTest::newRow("no 下一页: the whole page up to 上一页") << "a 上一页 b"
                                                            << "a ";
    QTest::newRow("下一页 but no 上一页 after it") << "a 上一页 下一页 b"
                                                   << "";
    QTest::newRow("neither") << "a b"
                             << "";
}

void TestTaobao::itemArea() {
    QFETCH(QString, page);
    QFETCH(QString, area);
    QCOMPARE(ShopItemArea(TaobaoShopSite(TServiceValues::Snapshot()), page), area);
}

void TestTaobao::itemCellByCell() {
    serveItem("1001", "男装夹克", {"品牌:&nbsp;李宁", "价格:100", "无冒号"});
    TItemTable grid;
    THttpClient tc;
    TTaobaoItemInput in;
    in.link = itemLink("1001");
    in.head = "http://";
    in.watermark = "我的店";
    QVERIFY(ScrapeTaobaoItem(tc, grid, in));
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(grid.Cell(ColNo, 1), "1");
    QCOMPARE(grid.Cell(ColSelect, 1), " ");
    QCOMPARE(grid.Cell(ColTitle, 1), "男装夹克");
    QCOMPARE(grid.Cell(ColCategory, 1), "男装,\"夹克 外套\"");
    QCOMPARE(grid.Cell(ColPrice, 1), "128.00");
    QCOMPARE(grid.Cell(ColDelivery, 1), "浙江杭州-北京;快递10.00;3天");
    QCOMPARE(grid.Cell(ColDetail, 1), "<p>男装夹克的描述</p>");
    QCOMPARE(grid.Cell(ColHtml, 1), itemPage("1001", "男装夹克", {"品牌:&nbsp;李宁", "价格:100", "无冒号"}));
    QCOMPARE(grid.Cell(ColProps, 1), "品牌:李宁,价格:100,无冒号"); // references decoded, blanks trimmed
    QCOMPARE(grid.Cell(ColLink, 1), itemLink("1001"));
    QCOMPARE(grid.Cell(ColLocalDetail, 1), "");
    QCOMPARE(grid.Cell(ColWatermark, 1), "我的店");
    // Attributes: each under a column of its name (a name like a fixed caption too), an entry
    // without ":" under an empty caption.
    QCOMPARE(grid.ColCount(), 15);
    QCOMPARE(grid.Cell(12, 0), "品牌");
    QCOMPARE(grid.Cell(12, 1), "李宁");
    QCOMPARE(grid.Cell(13, 0), "价格");
    QCOMPARE(grid.Cell(14, 0), "");
    QCOMPARE(grid.Cell(13, 1), "100");
    QCOMPARE(grid.Cell(14, 1), "无冒号");
    QCOMPARE(grid.Cell(ColPrice, 0), "价格");
    // The requests went where the item procedure sends them.
    QCOMPARE(m_sim->Count(DataHost, postagePath("1001")), 1);
    QCOMPARE(m_sim->Count("dsc.taobaocdn.com", "/i1/1001/desc.js"), 1);
}

void TestTaobao::postageGoesOutWithThePage() {
    // The page comes after 300 ms. The postage request needs only the item's id: it goes out at
    // once, beside the page's; the description's needs the page, and follows it.
    serveItem("77", "慢页面", {"品牌:A"}, "广东广州");
    TSimResponse page = TSimResponse::Text(itemPage("77", "慢页面", {"品牌:A"}), "GBK");
    page.DelayMs = 300;
    m_sim->Route(ItemHost, itemPath("77"), page);
    TItemTable grid;
    THttpClient tc;
    TTaobaoItemInput in;
    in.link = itemLink("77");
    in.head = "http://";
    QVERIFY(ScrapeTaobaoItem(tc, grid, in));
    QCOMPARE(grid.Cell(ColDelivery, 1), "广东广州-北京;快递10.00;3天");
    QCOMPARE(grid.Cell(ColDetail, 1), "<p>慢页面的描述</p>");
    auto arrived = [this](const QString& host) {
        for (const TSimRequest& r : m_sim->Requests())
            if (r.Host == host.toUtf8())
                return r.ArrivedUs;
        return qint64(-1);
    };
    const qint64 pageAt = arrived(ItemHost), postageAt = arrived(DataHost),
                 descriptionAt = arrived("dsc.taobaocdn.com");
    QVERIFY(pageAt >= 0 && postageAt >= 0 && descriptionAt >= 0);
    QVERIFY2(std::abs(postageAt - pageAt) < 200000, qPrintable(QString::number(postageAt - pageAt)));
    QVERIFY2(descriptionAt - pageAt >= 290000, qPrintable(QString::number(descriptionAt - pageAt)));
}

void TestTaobao::attributeValuesLineUpUnderTheirNames() {
    serveItem("1", "甲", {"品牌:A", "颜色:红"});
    serveItem("2", "乙", {"尺码:L", "材质:棉", "季节:春"});
    serveItem("3", "丙", {"品牌:C"});
    TItemTable grid;
    THttpClient tc;
    for (const QString id : {"1", "2", "3"}) {
        TTaobaoItemInput in;
        in.link = itemLink(id);
        in.head = "http://";
        QVERIFY(ScrapeTaobaoItem(tc, grid, in));
    }
    // Each name has one column; the third item's "品牌" goes under the first item's.
    QStringList captions;
    for (int c = 12; c < grid.ColCount(); ++c)
        captions.append(grid.Cell(c, 0));
    QCOMPARE(captions, (QStringList{"品牌", "颜色", "尺码", "材质", "季节"}));
    const auto attributes = [&grid](int row) {
        QStringList values;
        for (int c = 12; c < grid.ColCount(); ++c)
            values.append(grid.Cell(c, row));
        return values;
    };
    QCOMPARE(attributes(1), (QStringList{"A", "红", "", "", ""}));
    QCOMPARE(attributes(2), (QStringList{"", "", "L", "棉", "春"}));
    QCOMPARE(attributes(3), (QStringList{"C", "", "", "", ""}));
}

void TestTaobao::aNameTwiceInOneItemTakesTwoColumns() {
    // Both values stay: the second "颜色" gets a column of its own, captioned with the same name.
    serveItem("4", "丁", {"颜色:红", "颜色:蓝"});
    serveItem("5", "戊", {"颜色:黑"});
    TItemTable grid;
    THttpClient tc;
    for (const QString id : {"4", "5"}) {
        TTaobaoItemInput in;
        in.link = itemLink(id);
        in.head = "http://";
        QVERIFY(ScrapeTaobaoItem(tc, grid, in));
    }
    QCOMPARE(grid.ColCount(), 14);
    QCOMPARE(grid.Cell(12, 0), "颜色");
    QCOMPARE(grid.Cell(13, 0), "颜色");
    QCOMPARE(grid.Cell(12, 1), "红");
    QCOMPARE(grid.Cell(13, 1), "蓝");
    QCOMPARE(grid.Cell(12, 2), "黑");
    QCOMPARE(grid.Cell(13, 2), "");
}

void TestTaobao::attributeNamesMatchAttributeCaptions() {
    // A name matches the caption of an attribute column, ignoring letter case; a fixed column's
    // caption ("价格") is not an attribute's. An entry without ":" goes under an empty caption.
    TItemTable grid;
    const auto captions = [&grid] {
        QStringList names;
        for (int c = 12; c < grid.ColCount(); ++c)
            names.append(grid.Cell(c, 0));
        return names;
    };
    grid.AppendRow([](TRowWriter& row) {
        WriteAttributeColumns(row, {"价格:1", ":x", "BRAND:a", "brand:b", ":y", "Brand:c", "新:d"});
    });
    QCOMPARE(captions(), (QStringList{"价格", "", "BRAND", "brand", "", "Brand", "新"}));
    QCOMPARE(grid.Cell(ColPrice, 1), "");
    QCOMPARE(grid.Cell(12, 1), "1");
    QCOMPARE(grid.Cell(16, 1), "y");
    QCOMPARE(grid.Cell(17, 1), "c");
    // A second row: known names find their columns, a new one gets the next column.
    grid.AppendRow([](TRowWriter& row) { WriteAttributeColumns(row, {"新:1", "旧:2", "brand:e", ":z"}); });
    QCOMPARE(grid.ColCount(), 20);
    QCOMPARE(grid.Cell(19, 0), "旧");
    QCOMPARE((QStringList{grid.Cell(18, 2), grid.Cell(19, 2), grid.Cell(14, 2), grid.Cell(13, 2)}),
             (QStringList{"1", "2", "e", "z"}));
    // A caption changed or gone no longer counts: after a change of the caption, and after a load.
    grid.SetCell(19, 0, "别的");
    grid.AppendRow([](TRowWriter& row) { WriteAttributeColumns(row, {"别的:1", "旧:2"}); });
    QCOMPARE(grid.Cell(19, 3), "1");
    QCOMPARE(grid.Cell(20, 0), "旧");
    grid.Replace({TItemTable::FixedCaptions() + QStringList{"乙"}}, 13);
    grid.AppendRow([](TRowWriter& row) { WriteAttributeColumns(row, {"旧:1", "乙:2", "别的:3"}); });
    QCOMPARE(captions(), (QStringList{"乙", "旧", "别的"}));
    QCOMPARE((QStringList{grid.Cell(12, 1), grid.Cell(13, 1), grid.Cell(14, 1)}),
             (QStringList{"2", "1", "3"}));
}

void TestTaobao::titles_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("title");
    QTest::newRow("Taobao's suffix") << "<title>女装连衣裙-淘宝网</title>"
                                     << "女装连衣裙";
    QTest::newRow("a hyphen inside") << "<title>2017新款长袖衬衫Q-9063-淘宝网</title>"
                                     << "2017新款长袖衬衫Q-9063";
    QTest::newRow("baby goods") << "<title>宝宝连体衣 纯棉 新生儿-淘宝网</title>"
                                << "宝宝连体衣 纯棉 新生儿";
    QTest::newRow("淘 and 网 inside") << "<title>淘气网红同款-淘宝网</title>"
                                      << "淘气网红同款";
    QTest::newRow("Tmall's suffix") << "<title>【聚】clarks休闲女鞋 妈妈-tmall.com天猫</title>"
                                    << "【聚】clarks休闲女鞋 妈妈";
    QTest::newRow("1688's suffix") << "<title>冬季加厚羊绒围巾女 - 阿里巴巴</title>"
                                   << "冬季加厚羊绒围巾女";
    QTest::newRow("no known suffix") << "<title> 手工-皂 </title>"
                                     << "手工-皂";
    QTest::newRow("references") << "<title>T恤&amp;短裤&nbsp;套装-淘宝网</title>"
                                << "T恤&短裤\u00A0套装";
    QTest::newRow("a title element with attributes") << "<title data-x=\"1\">围巾-淘宝网</title>"
                                                     << "围巾";
    QTest::newRow("no title") << "<html><body>x</body></html>"
                              << "";
}

void TestTaobao::titles() {
    QFETCH(QString, page);
    QFETCH(QString, title);
    QCOMPARE(TitleFromPage(page), title);
}

void TestTaobao::valuesOutOfMarkup_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("attributes");
    QTest::addColumn<QString>("saleAddress");
    // The 2016 fragment's form: &nbsp; after the colon.
    QTest::newRow("the 2016 attribute list")
        << "<ul class=\"attributes-list\"><li title=\"&nbsp;棉\">材质:&nbsp;棉</li>"
           "<li title=\"x\">适用季节:&nbsp;&#26149;&#23395;</li></ul><ul><li title=\"y\">not an "
           "attribute</li></ul>"
           "<script>var "
           "c={\"wholeSibUrl\":\"//detailskip.taobao.com/sib.htm?itemId=1&amp;sellerId=2\"}</script>"
        << QStringList{"材质:棉", "适用季节:春季"} << "//detailskip.taobao.com/sib.htm?itemId=1&sellerId=2";
    QTest::newRow("the 2017 layout's address")
        << "<ul class=\"attributes-list\"><li title=\"a\">品牌:&amp;Co</li></ul>"
           "wholeSibUrl      : "
           "'//detailskip.taobao.com/sib.htm?itemId=1&amp;sellerId=2&amp;modules=dynStock',"
        << QStringList{"品牌:&Co"}
        << "http://detailskip.taobao.com/sib.htm?itemId=1&sellerId=2&modules=dynStock";
}

void TestTaobao::valuesOutOfMarkup() {
    QFETCH(QString, page);
    QFETCH(QStringList, attributes);
    QFETCH(QString, saleAddress);
    QCOMPARE(AttributeEntries(page), attributes);
    QCOMPARE(SaleDataAddress(page), saleAddress);
}

void TestTaobao::realCorpusPage_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("price");
    QTest::addColumn<int>("attributes");
    QTest::addColumn<QString>("third");    // the third attribute entry, decoded
    QTest::addColumn<QString>("descPath"); // where the page's descUrl points on dsc.taobaocdn.com
    QTest::newRow("a page in the 2018 layout")
        << TOVREL_TEST_DATA_DIR "/taobao-item-2018.html"
        << "冬季双面羊绒大衣女中长款 宽松 加厚"
        << "1288.00" << 4 << "品牌:暖冬"
        << "/i1/600/000/600000000001/TB1desc.desc%7Cvar%5Edesc%3Blang%5Egbk";
    const QString real = TOVREL_CORPUS_DIR "/taobao-item/tb-item-raw-2018-561495525977.html";
    if (QFile::exists(real))
        QTest::newRow("a real raw page of 2018")
            << real << "FFAN泛泛 御寒神器 回馈Bi入款 貉子大毛领加厚羽绒服女中长款3色"
            << "899.00" << 19 << "品牌:ffan"
            << "/i2/560/490/561495525977/TB1_Du5eAfb_uJkHFNR8qw3vpla.desc%7Cvar%5Edesc%3Bsign%5E"
               "d4b25aadf1b0b48de565d34b3a0d3f95%3Blang%5Egbk%3Bt%5E1516958426";
}

void TestTaobao::realCorpusPage() {
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(QString, price);
    QFETCH(int, attributes);
    QFETCH(QString, third);
    QFETCH(QString, descPath);
    m_sim->Route("dsc.taobaocdn.com", descPath, TSimResponse::Text("var desc='<p>商品描述</p>';\n", "GBK"));
    // A raw item page as the marketplace's server sends it (GBK), the form this program fetches.
    TSimResponse page;
    page.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/html; charset=GBK"));
    page.Body = readFile(file);
    QVERIFY(!page.Body.isEmpty());
    m_sim->Route(ItemHost, itemPath("561495525977"), page);
    TItemTable grid;
    THttpClient tc;
    TTaobaoItemInput in;
    in.link = itemLink("561495525977");
    in.head = "http://";
    QVERIFY(ScrapeTaobaoItem(tc, grid, in));
    QCOMPARE(grid.Cell(ColTitle, 1), title);
    QCOMPARE(grid.Cell(ColPrice, 1), price);
    const QStringList props = FromCommaText(grid.Cell(ColProps, 1));
    QCOMPARE(props.size(), attributes);
    QCOMPARE(props[2], third);
    QCOMPARE(grid.ColCount(), 12 + attributes);
    QCOMPARE(grid.Cell(14, 0), third.section(':', 0, 0));
    QCOMPARE(grid.Cell(14, 1), third.section(':', 1));
    // The 2018 layout has no category area; its description comes from its descUrl entry.
    QCOMPARE(grid.Cell(ColCategory, 1), "");
    QCOMPARE(grid.Cell(ColDetail, 1), "<p>商品描述</p>");
    // Read right the first time: the description was asked for once.
    QCOMPARE(m_sim->Count("dsc.taobaocdn.com", descPath), 1);
}

void TestTaobao::sequentialRunPausesAfterEachLink() {
    // The pause after a link is counted from its last request; the reading of the page falls into
    // it, so three links never take less than three pauses, and the servers hear nothing for
    // 100 ms between one link's last request and the next link's first.
    for (const QString id : {"1", "2", "3"})
        serveItem(id, "宝贝" + id, {"品牌:A"});
    m_env->WriteServiceIni("[service]\nHead=http://\n");
    TAppCore core;
    QVERIFY(core.Startup().ok());
    for (const QString id : {"1", "2", "3"})
        core.Links()->Append(itemLink(id));
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(core.StartSearch());
    QVERIFY(finished.wait(20000));
    QVERIFY2(clock.elapsed() >= 300, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(core.Table()->RowCount(), 4);
    const QList<TSimRequest> requests = m_sim->Requests();
    QCOMPARE(requests.size(), 9); // page, postage and description of each link
    for (int link = 1; link < 3; ++link) {
        qint64 lastOfPrevious = 0, firstOfNext = std::numeric_limits<qint64>::max();
        for (int i = 0; i < 3; ++i) {
            lastOfPrevious = std::max(lastOfPrevious, requests[3 * (link - 1) + i].ArrivedUs);
            firstOfNext = std::min(firstOfNext, requests[3 * link + i].ArrivedUs);
        }
        // A request's arrival lags its sending by a little; the silence is the pause, less that.
        QVERIFY2(firstOfNext - lastOfPrevious >= 98000,
                 qPrintable(QString::number(firstOfNext - lastOfPrevious)));
    }
}

void TestTaobao::tmallItemPage() {
    // A Tmall item searched with the data source 淘宝: read from its own layout.
    const QString id = "44089553661";
    TSimResponse page;
    page.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/html; charset=utf-8"));
    page.Body = readFile(TOVREL_TEST_DATA_DIR "/tmall-item-2015.html");
    QVERIFY(!page.Body.isEmpty());
    m_sim->Route("detail.tmall.com", "/item.htm?id=" + id, page);
    m_sim->Route("dsc.taobaocdn.com", "/i2/440/890/44089553661/TB1desc.desc%7Cvar%5Edesc%3Blang%5Egbk",
                 TSimResponse::Text("var desc='<p>天猫的描述</p>';\n", "GBK"));
    m_sim->Route(DataHost, postagePath(id), TSimResponse::Text(postageReply("广东广州"), "GBK"));
    TItemTable grid;
    THttpClient tc;
    TTaobaoItemInput in;
    in.link = "http://detail.tmall.com/item.htm?id=" + id;
    in.head = "http://";
    QVERIFY(ScrapeTaobaoItem(tc, grid, in));
    QCOMPARE(grid.Cell(ColTitle, 1), "【聚】羊皮休闲女鞋 平跟 舒适&轻便");
    QCOMPARE(grid.Cell(ColPrice, 1), "1499.00");
    QCOMPARE(grid.Cell(ColDetail, 1), "<p>天猫的描述</p>");
    QCOMPARE(FromCommaText(grid.Cell(ColProps, 1)),
             (QStringList{"是否商场同款:是", "品牌:clarks", "内里材质:真皮"}));
    QCOMPARE(grid.Cell(12, 0), "是否商场同款");
    QCOMPARE(grid.Cell(13, 1), "clarks");
    QCOMPARE(grid.Cell(ColDelivery, 1), "广东广州-北京;快递10.00;3天");
    const TPatterns::TPatternText text(QString::fromUtf8(page.Body));
    QVERIFY(IsTmallItem(QString(), text));
    QCOMPARE(TmallCategoryId(text), "50012027");
    QCOMPARE(TmallMainPictureAddresses(text),
             (QStringList{"http://gi1.md.alicdn.com/bao/uploaded/i1/TB1main_!!0-item_pic.jpg_60x60q90.jpg",
                          "//gi2.md.alicdn.com/imgextra/i2/100/TB2second_!!100.jpg_60x60q90.jpg"}));
    // The real page of 2015, when it is there.
    const QString real = TOVREL_CORPUS_DIR "/tmall-item/tmall-detail-2015-44089553661.html";
    if (QFile::exists(real)) {
        const QString realPage = QString::fromUtf8(readFile(real));
        const TTaobaoPageFields fields = ReadTaobaoPage(realPage, in.link);
        QCOMPARE(fields.title, "【聚】clarks休闲女鞋Un Halsie简洁轻便舒适大方平跟英伦 妈妈");
        QCOMPARE(fields.price, "1499.00");
        QVERIFY(fields.attributes.size() >= 10);
        QCOMPARE(fields.attributes.value(1), "品牌:clarks");
        QVERIFY(fields.descriptionAddress.startsWith("http://dsc.taobaocdn.com/i2/440/890/44089553661/"));
        QCOMPARE(TmallCategoryId(realPage), "50012027");
        QCOMPARE(TmallMainPictureAddresses(realPage).size(), 5);
    }
}

void TestTaobao::sequentialRunStopsAtFailedPage() {
    serveItem("1", "甲", {"品牌:A"});
    TSimResponse empty; // a page that arrives empty counts as a failed fetch
    m_sim->Route(ItemHost, itemPath("2"), empty);
    serveItem("3", "丙", {"品牌:C"});
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.UpdateChoices([](TChoices& c) { c.WatermarkText = "水印"; });
    for (const QString id : {"1", "2", "3"})
        core.Links()->Append(itemLink(id));
    QSignalSpy enabled(&core, &TAppCore::commandsEnabled);
    QSignalSpy captions(&core, &TAppCore::captionChanged);
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QVERIFY(core.StartSearch());
    QVERIFY(finished.wait(20000));
    QCOMPARE(core.Table()->RowCount(), 2);
    QCOMPARE(core.Table()->Cell(ColTitle, 1), "甲");
    QCOMPARE(core.Table()->Cell(ColWatermark, 1), "水印");
    QCOMPARE(m_sim->Count(ItemHost, itemPath("3")), 0);
    QCOMPARE(enabled.size(), 2);
    QCOMPARE(enabled[0][0].toBool(), false);
    QCOMPARE(enabled[1][0].toBool(), true);
    QCOMPARE(captions.first()[1].toString(), "搜索中..");
    QCOMPARE(captions.last()[1].toString(), "开始搜索");
}

void TestTaobao::sequentialRunPassesDelistedItems_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("outcome");
    // An item taken off the marketplace is passed by; a marketplace that refuses or fails will
    // not answer the next link either: the run stops and says why.
    QTest::newRow("404") << 404 << "完成：2 个宝贝，1 个已下架（跳过）";
    QTest::newRow("410") << 410 << "完成：2 个宝贝，1 个已下架（跳过）";
    QTest::newRow("403") << 403 << "已停止：第 2 个连接无法下载（HTTP 403），已有 1 个宝贝";
    QTest::newRow("429") << 429 << "已停止：第 2 个连接无法下载（HTTP 429），已有 1 个宝贝";
    QTest::newRow("503") << 503 << "已停止：第 2 个连接无法下载（HTTP 503），已有 1 个宝贝";
}

void TestTaobao::sequentialRunPassesDelistedItems() {
    QFETCH(int, status);
    QFETCH(QString, outcome);
    serveItem("1", "甲", {"品牌:A"});
    m_sim->Route(ItemHost, itemPath("2"), TSimResponse::Text("没有这个宝贝", "GBK", status));
    serveItem("3", "丙", {"品牌:C"});
    TAppCore core;
    QVERIFY(core.Startup().ok());
    for (const QString id : {"1", "2", "3"})
        core.Links()->Append(itemLink(id));
    QSignalSpy log(&core, &TAppCore::logLine);
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QVERIFY(core.StartSearch());
    QVERIFY(finished.wait(20000));
    const TJobResult result = finished.first()[1].value<TJobResult>();
    QCOMPARE(TAppCore::OutcomeText(TJobKind::Search, result), outcome);
    const bool delisted = status == 404 || status == 410;
    QCOMPARE(core.Table()->RowCount(), delisted ? 3 : 2);
    QCOMPARE(m_sim->Count(ItemHost, itemPath("3")), delisted ? 1 : 0);
    QCOMPARE(result.Outcome, delisted ? TJobOutcome::Done : TJobOutcome::Failed);
    QStringList lines;
    for (const QList<QVariant>& line : std::as_const(log))
        lines.append(line.first().toString());
    QVERIFY2(lines.join('\n').contains(itemLink("2")), qPrintable(lines.join('\n')));
}

void TestTaobao::errorPagesAreNoItems_data() {
    QTest::addColumn<int>("source");
    QTest::newRow("淘宝 (one link after another)") << SourceTaobao;
    QTest::newRow("拍拍 (one worker per link)") << SourcePaipai;
}

void TestTaobao::errorPagesAreNoItems() {
    QFETCH(int, source);
    serveItem("1", "甲", {"品牌:A"});
    // An item page that answers with a server error, and one that redirects to a login page.
    m_sim->Route(ItemHost, itemPath("2"), TSimResponse::Text(itemPage("2", "服务器错误", {}), "GBK", 500));
    m_sim->Route(ItemHost, itemPath("3"),
                 TSimResponse::Redirect("http://login.taobao.com/", 302, "<html>moved</html>"));
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.ChangeDataSource(source);
    for (const QString id : {"1", "2", "3"})
        core.Links()->Append(itemLink(id));
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QVERIFY(core.StartSearch());
    QVERIFY(finished.wait(20000));
    QCOMPARE(core.Table()->RowCount(), 2);
    QCOMPARE(core.Table()->Cell(ColTitle, 1), "甲");
    const TJobResult result = finished.first()[1].value<TJobResult>();
    QCOMPARE(result.Outcome, TJobOutcome::Failed);
    // The sequential run stops at the first failed link and says which one; the workers each end.
    QCOMPARE(result.Summary,
             source == SourceTaobao ? "第 2 个连接无法下载（HTTP 500），搜索已停止" : "2 个连接无法下载");
    QCOMPARE(m_sim->Count(ItemHost, itemPath("3")), source == SourceTaobao ? 0 : 1);
    // What the status bar says of it.
    QCOMPARE(result.Count, 1);
    QCOMPARE(result.Failures, source == SourceTaobao ? 1 : 2);
    QCOMPARE(TAppCore::OutcomeText(TJobKind::Search, result),
             source == SourceTaobao ? "已停止：第 2 个连接无法下载（HTTP 500），已有 1 个宝贝"
                                    : "完成：1 个宝贝，2 个失败");
}

void TestTaobao::largestPageStillReadsItsAttributes() {
    // A page as large as a reply may be, its attribute list at the start and its last "</ul>" at the
    // very end: the greedy block runs over all of it.
    const qsizetype size = TRequestLimits().MaxPageBytes;
    QString page = "<ul class=\"attributes-list\"><li title=\"x\">品牌:李宁</li><li title=\"y\">材质:棉</li>";
    const QString filler = "<p>描述文字 text without markers</p>\n";
    page += filler.repeated((size - page.size()) / filler.size());
    page += "</ul>";
    QVERIFY(page.size() >= size - filler.size());
    const QStringList entries = AttributeEntries(page);
    QCOMPARE(entries.mid(0, 2), (QStringList{"品牌:李宁", "材质:棉"}));
}

void TestTaobao::sequentialRunTitlePriceAndBlankHead() {
    m_sim->Route(ItemHost, itemPath("9"), TSimResponse::Text(itemPage("9", "无价", {}, ""), "GBK"));
    QFile ini(m_env->File("service.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[service]\nHead=  \n");
    ini.close();
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.UpdateChoices([](TChoices& c) { c.TitleWithPrice = true; });
    core.Links()->Append(itemLink("9"));
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QVERIFY(core.StartSearch());
    QVERIFY(finished.wait(20000));
    QCOMPARE(core.Table()->Cell(ColTitle, 1), "无价_");
    QCOMPARE(core.Table()->Cell(ColDelivery, 1), ""); // a blank Head sends no postage request
    QCOMPARE(m_sim->Count(DataHost, postagePath("9")), 0);
}

void TestTaobao::perLinkWorkers() {
    serveItem("1", "甲", {"品牌:A"}, "上海");
    serveItem("2", "乙", {"品牌:B"}, "上海");
    serveItem("3", "丙", {"品牌:C"}, "上海");
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.ChangeDataSource(SourcePaipai);
    core.UpdateChoices([](TChoices& c) {
        c.TitleWithPrice = true; // the workers never merge title and price
        c.WatermarkText = "水印";
    });
    for (const QString id : {"1", "2", "3"})
        core.Links()->Append(itemLink(id));
    QSignalSpy enabled(&core, &TAppCore::commandsEnabled);
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QVERIFY(core.StartSearch());
    // The search ends only after every worker has ended.
    QVERIFY(finished.wait(20000));
    QCOMPARE(core.Table()->RowCount(), 4);
    QCOMPARE(enabled.size(), 2);
    QStringList titles;
    for (int r = 1; r < 4; ++r) {
        titles.append(core.Table()->Cell(ColTitle, r));
        QCOMPARE(core.Table()->Cell(ColNo, r), QString::number(r));
        QCOMPARE(core.Table()->Cell(ColDelivery, r), "上海-北京;快递10.00;3天");
        QCOMPARE(core.Table()->Cell(ColWatermark, r), "水印");
    }
    titles.sort();
    QCOMPARE(titles, (QStringList{"丙", "乙", "甲"}));
}

void TestTaobao::runsAskTheirJobsPostageHost_data() {
    QTest::addColumn<bool>("perLink");
    QTest::newRow("sequential") << false;
    QTest::newRow("per link") << true;
}

void TestTaobao::runsAskTheirJobsPostageHost() {
    // A run asks the postage host of the service values its job started with, not of the file as
    // it is later.
    QFETCH(bool, perLink);
    serveItem("1", "甲", {"品牌:A"}, "上海");
    m_sim->Route("postage.example", postagePath("1"), TSimResponse::Text(postageReply("广东深圳"), "GBK"));
    m_env->WriteServiceIni("[service]\nHead=http://\nDetailDataHost=elsewhere.example\n");
    TSilentReporter reporter;
    std::atomic<bool> stop{false};
    const TJobContext job(
        stop, reporter, [] { return TChoices(); },
        TServiceSnapshot({{"head", "http://"}, {"detaildatahost", "postage.example"}}));
    TItemTable grid;
    TTableChangeQueue changes(grid);
    const TJobResult result = perLink ? InsertTaoBaoUrlsPerLink(job, changes, {itemLink("1")}, "http://", "")
                                      : InsertTaoBaoUrls(job, changes, {itemLink("1")});
    changes.Drain();
    QCOMPARE(result.Outcome, TJobOutcome::Done);
    QCOMPARE(grid.Cell(ColDelivery, 1), "广东深圳-北京;快递10.00;3天");
    QCOMPARE(m_sim->Count("postage.example", postagePath("1")), 1);
    QCOMPARE(m_sim->Count("elsewhere.example", postagePath("1")), 0);
}

void TestTaobao::emptyListEndsSearchAtOnce_data() {
    QTest::addColumn<int>("source");
    QTest::newRow("淘宝") << SourceTaobao;
    QTest::newRow("拍拍") << SourcePaipai;
}

void TestTaobao::emptyListEndsSearchAtOnce() {
    QFETCH(int, source);
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.ChangeDataSource(source);
    QSignalSpy enabled(&core, &TAppCore::commandsEnabled);
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QVERIFY(core.StartSearch());
    QVERIFY(finished.size() == 1 || finished.wait(5000));
    QCOMPARE(enabled.last()[0].toBool(), true);
    QCOMPARE(core.Table()->RowCount(), 1);
}

void TestTaobao::crawlerWalksEveryPage() {
    const QString shop = "http://myshop.taobao.com";
    auto listing = [](const QString& pager, const QStringList& ids, const QString& outside) {
        QString page = "<div>推荐 <a href=\"http://item.taobao.com/item.htm?id=" + outside + "\"></a></div>" +
                       pager + "<a>下一页</a><div class=\"items\">";
        for (const QString& id : ids)
            page += "<a href=\"HTTP://item.taobao.com/item.htm?id=" + id + "&amp;x=1\">宝贝</a>";
        return page + "</div><a>上一页</a><a href=\"http://item.taobao.com/item.htm?id=" + outside +
               "\"></a>";
    };
    m_sim->Route(
        "myshop.taobao.com", "/search.htm?spm=a1z10.1.w4010-8951997237.2.NGhW3u&search=y",
        TSimResponse::Text(listing("<span class=\"page-info\">1/3</span>", {"11", "12"}, "99"), "GBK"));
    m_sim->Route("myshop.taobao.com", "/search.htm?search=y&pageNo=2",
                 TSimResponse::Text(listing("", {"12", "13"}, "98"), "GBK"));
    m_sim->Route("myshop.taobao.com", "/search.htm?search=y&pageNo=3",
                 TSimResponse::Text(listing("", {"14"}, "97"), "GBK"));
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.Links()->Append(itemLink("13").toUpper()); // already listed, in other letter case
    core.ChangeLinkKind(KindShop);
    core.UpdateChoices([&shop](TChoices& c) { c.LinkText = "  " + shop + "\r\n"; });
    QSignalSpy status(&core, &TAppCore::statusTextChanged);
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QSignalSpy enabled(&core, &TAppCore::commandsEnabled);
    QSignalSpy pages(&core, &TAppCore::jobAdvanced);
    QCOMPARE(core.AddLink(), TAddResult::CrawlStarted);
    QCOMPARE(core.Choices().LinkText, shop); // the box was trimmed
    QVERIFY(finished.wait(20000));
    QCOMPARE(core.Links()->Items(),
             (QStringList{itemLink("13").toUpper(), itemLink("11"), itemLink("12"), itemLink("14")}));
    QCOMPARE(status.size(), 1);
    QCOMPARE(status[0][0].toString(), "发现了[4]个宝贝！");
    // Three new links over three pages.
    QCOMPARE(TAppCore::OutcomeText(TJobKind::Crawl, finished.first()[1].value<TJobResult>()),
             "完成：发现 3 个新宝贝");
    QCOMPARE(pages.size(), 3);
    QCOMPARE(TAppCore::ProgressText(TJobKind::Crawl, pages[1][1].toLongLong(), pages[1][2].toLongLong()),
             "抓取第 2/3 页");
    QCOMPARE(enabled.size(), 2);
    QCOMPARE(enabled[1][0].toBool(), true);
    QCOMPARE(m_sim->Requests().size(), 3);
    for (const TSimRequest& r : m_sim->Requests())
        QCOMPARE(r.Header("User-Agent"),
                 QByteArray("Mozilla/5.0 (Windows NT 6.1; rv:19.0) Gecko/20100101 Firefox/19.0"));
}

void TestTaobao::crawlerWithoutPages_data() {
    QTest::addColumn<QString>("pager");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("links");
    QTest::newRow("no page-info: one page") << "" << 1 << 1;
    QTest::newRow("1/0: no page at all") << "<span class=\"page-info\">1/0</span>" << 1 << 0;
    QTest::newRow("1/2 with a space: one page") << "<span class=\"page-info\">1/2 </span>" << 1 << 1;
}

void TestTaobao::crawlerWithoutPages() {
    QFETCH(QString, pager);
    QFETCH(int, requests);
    QFETCH(int, links);
    m_sim->Route("cats.taobao.com", "/category.htm?spm=a1z10.1.w4010-8951997237.2.NGhW3u&search=y",
                 TSimResponse::Text(pager + "下一页 http://item.taobao.com/item.htm?id=5 上一页", "GBK"));
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.UpdateChoices([](TChoices& c) {
        c.LinkKind = KindCategory;
        c.LinkText = "http://cats.taobao.com";
    });
    QSignalSpy status(&core, &TAppCore::statusTextChanged);
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QCOMPARE(core.AddLink(), TAddResult::CrawlStarted);
    QVERIFY(finished.wait(20000));
    QCOMPARE(m_sim->Requests().size(), requests);
    QCOMPARE(core.Links()->Count(), links);
    QCOMPARE(status.last()[0].toString(), QString("发现了[%1]个宝贝！").arg(links));
}

void TestTaobao::shopItemLinkForms_data() {
    QTest::addColumn<bool>("offers"); // a 1688 shop, else a Taobao one
    QTest::addColumn<QString>("area");
    QTest::addColumn<QStringList>("ids");
    QTest::newRow("http links") << false << "<a href=\"http://item.taobao.com/item.htm?id=1\">"
                                << QStringList{"1"};
    QTest::newRow("protocol-relative links")
        << false << "<a href=\"//item.taobao.com/item.htm?id=2\"><a href=\"//item.taobao.com/item.htm?id=3\">"
        << QStringList{"2", "3"};
    QTest::newRow("https links") << false << "<a href=\"https://item.taobao.com/item.htm?id=4\">"
                                 << QStringList{"4"};
    QTest::newRow("http links win over the others")
        << false << "//item.taobao.com/item.htm?id=5 http://item.taobao.com/item.htm?id=6"
        << QStringList{"6"};
    QTest::newRow("another host's links are not items")
        << false << "//img.taobao.com/item.htm?id=7" << QStringList{};
    QTest::newRow("1688 offers, protocol-relative")
        << true << "<a href=\"//detail.1688.com/offer/8.html\">" << QStringList{"8"};
    QTest::newRow("1688 offers, https")
        << true << "<a href=\"https://detail.1688.com/offer/9.html\">" << QStringList{"9"};
}

void TestTaobao::shopItemLinkForms() {
    QFETCH(bool, offers);
    QFETCH(QString, area);
    QFETCH(QStringList, ids);
    const TServiceSnapshot service = TServiceValues::Snapshot();
    const TShopSite site = offers ? Shop1688Site(service) : TaobaoShopSite(service);
    QCOMPARE(ShopItemIds(site, site.AreaStart + area + site.AreaEnd), ids);
}

void TestTaobao::crawlerOnRealShopPage_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("first"); // the first item ids, in page order
    QTest::addColumn<int>("items");
    QTest::newRow("a shop page in the 2017 layout") << TOVREL_TEST_DATA_DIR "/taobao-shop-search-2017.html"
                                                    << QStringList{"600000000001", "600000000002"} << 2;
    const QString real = TOVREL_CORPUS_DIR "/taobao-shop-list/tb-shop-search-2017-36948107.html";
    if (QFile::exists(real))
        QTest::newRow("a real shop page of 2017")
            << real << QStringList{"554247854626", "554164968913", "552403123192"} << 24;
}

void TestTaobao::crawlerOnRealShopPage() {
    QFETCH(QString, file);
    QFETCH(QStringList, first);
    QFETCH(int, items);
    TSimResponse page;
    page.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", "text/html; charset=GBK"));
    page.Body = readFile(file);
    QVERIFY(!page.Body.isEmpty());
    m_sim->Route("shop36948107.taobao.com", "/search.htm?spm=a1z10.1.w4010-8951997237.2.NGhW3u&search=y",
                 page);
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.UpdateChoices([](TChoices& c) {
        c.LinkKind = KindShop;
        c.LinkText = "http://shop36948107.taobao.com";
    });
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QCOMPARE(core.AddLink(), TAddResult::CrawlStarted);
    QVERIFY(finished.wait(30000));
    // The page says "1/5". Its item links are written without "http:" (the 2017 layout); they are
    // listed in the http form the item scraper reads. The other pages are not there, so the
    // crawl ends after three pages that added nothing.
    QCOMPARE(core.Links()->Count(), items);
    for (int i = 0; i < first.size(); ++i)
        QCOMPARE(core.Links()->Items()[i], "http://item.taobao.com/item.htm?id=" + first[i]);
    QCOMPARE(m_sim->Requests().size(), 4);
    QCOMPARE(m_sim->Requests().last().Path, QByteArray("/search.htm?search=y&pageNo=4"));
}

namespace {

// Records the log and the counts of a crawl, and stops it after `stopAfter` pages.
class TPageCounter : public TReporter {
  public:
    TPageCounter(std::atomic<bool>& stop, int stopAfter) : m_stop(stop), m_stopAfter(stopAfter) {}
    void Status(const QString&) override {}
    void ClearLog() override {}
    void Log(const QString& line) override { log.append(line); }
    void Progress(const QString&) override {}
    void Advance(qint64 done, qint64 total, const QString&) override {
        totals.append(total);
        if (done >= m_stopAfter)
            m_stop = true;
    }
    QStringList log;
    QList<qint64> totals;

  private:
    std::atomic<bool>& m_stop;
    int m_stopAfter;
};

} // namespace

void TestTaobao::crawlerWalksAtMostItsPageLimit() {
    // Every page of this shop has new items, and it announces a hundred thousand pages.
    for (int n = 1; n <= 3; ++n) {
        QString page = n == 1 ? "<span class=\"page-info\">1/100000</span>" : "";
        page += "<a>下一页</a><a href=\"http://item.taobao.com/item.htm?id=" + QString::number(n) +
                "\">宝贝</a><a>上一页</a>";
        m_sim->Route("huge.taobao.com",
                     n == 1 ? "/search.htm?spm=a1z10.1.w4010-8951997237.2.NGhW3u&search=y"
                            : "/search.htm?search=y&pageNo=" + QString::number(n),
                     TSimResponse::Text(page, "GBK"));
    }
    std::atomic<bool> stop{false};
    TPageCounter counter(stop, 2);
    TChoices choices;
    choices.LinkKind = KindShop;
    const TJobContext job(
        stop, counter, [choices] { return choices; }, TServiceValues::Snapshot());
    TLinkList links;
    const TJobResult result = CrawlShop(job, links, "http://huge.taobao.com", TaobaoShopSite(job.Service()));
    QCOMPARE(result.Outcome, TJobOutcome::Stopped);
    QVERIFY(!counter.totals.isEmpty());
    for (const qint64 total : counter.totals)
        QCOMPARE(total, qint64(MaxCrawlPages));
    QVERIFY2(counter.log.contains("店铺显示有 100000 页，只抓取前 500 页"),
             qPrintable(counter.log.join('\n')));
}

void TestTaobao::missingDescriptionsAreCountedAndLogged() {
    serveItem("1", "甲", {});
    serveItem("2", "乙", {});
    // The second item's description is too large to be one.
    TSimResponse huge;
    huge.Body = QByteArray(17 << 20, 'x');
    m_sim->Route("dsc.taobaocdn.com", "/i1/2/desc.js", huge);
    std::atomic<bool> stop{false};
    TPageCounter counter(stop, std::numeric_limits<int>::max());
    const TJobContext job(
        stop, counter, [] { return TChoices(); }, TServiceValues::Snapshot());
    TItemTable grid;
    TTableChangeQueue changes(grid);
    const TJobResult result = InsertTaoBaoUrls(job, changes, {itemLink("1"), itemLink("2")});
    changes.Drain();
    // Both rows are there; the run says one came without its description, and fails for it.
    QCOMPARE(grid.RowCount(), 3);
    QCOMPARE(grid.Cell(ColDetail, 1), "<p>甲的描述</p>");
    QCOMPARE(grid.Cell(ColDetail, 2), "");
    QCOMPARE(result.Outcome, TJobOutcome::Failed);
    QCOMPARE(result.Count, 2);
    QCOMPARE(result.Incomplete, 1);
    QCOMPARE(result.Summary, "1 个宝贝没有下载到描述");
    QCOMPARE(TAppCore::OutcomeText(TJobKind::Search, result), "完成：2 个宝贝，1 个没有描述");
    QCOMPARE(counter.log.size(), 1);
    QVERIFY2(counter.log[0].startsWith(itemLink("2") + "：描述没有下载（回复大于 16 MB）"),
             qPrintable(counter.log[0]));
}

void TestTaobao::crawlerEndsAfterFruitlessPages() {
    // The shop claims a hundred thousand pages; only the first two have items.
    auto listing = [](const QString& pager, const QStringList& ids) {
        QString page = pager + "<a>下一页</a>";
        for (const QString& id : ids)
            page += "<a href=\"http://item.taobao.com/item.htm?id=" + id + "\">宝贝</a>";
        return page + "<a>上一页</a>";
    };
    m_sim->Route("big.taobao.com", "/search.htm?spm=a1z10.1.w4010-8951997237.2.NGhW3u&search=y",
                 TSimResponse::Text(listing("<span class=\"page-info\">1/100000</span>", {"1", "2"}), "GBK"));
    TSimResponse second = TSimResponse::Text(listing("", {"2", "3"}), "GBK");
    second.DelayMs = 1500;
    m_sim->Route("big.taobao.com", "/search.htm?search=y&pageNo=2", second);
    m_sim->Route("big.taobao.com", "/search.htm?search=y&pageNo=3",
                 TSimResponse::Text(listing("", {"3"}), "GBK"));
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.UpdateChoices([](TChoices& c) {
        c.LinkKind = KindShop;
        c.LinkText = "http://big.taobao.com";
    });
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QCOMPARE(core.AddLink(), TAddResult::CrawlStarted);
    // The first page's links are saved while the crawl waits for the second.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_env->File("listnew")), 1400);
    QCOMPARE(finished.size(), 0);
    TLinkList saved;
    QVERIFY(LoadLinkListFromFile(saved, m_env->File("listnew")).ok());
    QCOMPARE(saved.Items(), (QStringList{itemLink("1"), itemLink("2")}));
    QVERIFY(finished.wait(20000));
    // Page 2 added item 3; pages 3, 4 and 5 added nothing: no page after them is asked for.
    QCOMPARE(core.Links()->Items(), (QStringList{itemLink("1"), itemLink("2"), itemLink("3")}));
    QCOMPARE(m_sim->Requests().size(), 5);
    QCOMPARE(m_sim->Requests().last().Path, QByteArray("/search.htm?search=y&pageNo=5"));
}

void TestTaobao::addCommand() {
    TAppCore core;
    QVERIFY(core.Startup().ok());
    QSignalSpy messages(&core, &TAppCore::messageShown);
    core.UpdateChoices([](TChoices& c) { c.LinkText = "\t" + itemLink("1") + " \n"; });
    QCOMPARE(core.AddLink(), TAddResult::Added);
    core.UpdateChoices([](TChoices& c) { c.LinkText = itemLink("1").toUpper(); });
    QCOMPARE(core.AddLink(), TAddResult::Duplicate);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages[0][0].toString(), "这个连接已经添加过了！");
    QCOMPARE(messages[0][1].toString(), "提示");
    // Nothing that the list could not read back is added.
    core.UpdateChoices([](TChoices& c) { c.LinkText = ""; });
    QCOMPARE(core.AddLink(), TAddResult::Refused);
    core.UpdateChoices([](TChoices& c) { c.LinkText = itemLink("2") + QChar(0) + "x"; });
    QCOMPARE(core.AddLink(), TAddResult::Refused);
    QCOMPARE(messages.size(), 3);
    QCOMPARE(messages[1][0].toString(), "这个连接无法添加：是空的");
    QCOMPARE(messages[2][0].toString(), "这个连接无法添加：含有控制字符");
    QCOMPARE(core.Links()->Items(), QStringList{itemLink("1")});
    // A shop link with the source 拍拍 does nothing.
    core.ChangeDataSource(SourcePaipai);
    core.ChangeLinkKind(KindShop);
    QCOMPARE(core.AddLink(), TAddResult::Nothing);
    QCOMPARE(core.Links()->Count(), 0);
    QVERIFY(!core.RemoveLink(-1));
}

void TestTaobao::linkListLookup() {
    // The lookup follows every change of the list, duplicates loaded from a file included.
    TLinkList list;
    list.Replace({itemLink("1"), itemLink("1").toUpper(), itemLink("2")});
    QVERIFY(list.Contains(itemLink("1")));
    QVERIFY(list.RemoveAt(0));
    QVERIFY(!list.AppendIfMissing(itemLink("1"))); // the upper-case copy is still there
    QVERIFY(list.RemoveAt(0));
    QVERIFY(!list.Contains(itemLink("1")));
    QVERIFY(list.AppendIfMissing(itemLink("1")));
    QVERIFY(!list.AppendIfMissing(QString::fromUtf16(u"HTTP://ITEM.TAOBAO.COM/ITEM.HTM?ID=2")));
    list.Clear();
    QVERIFY(!list.Contains(itemLink("2")));
    list.Append(itemLink("3"));
    QVERIFY(list.Contains(itemLink("3").toUpper()));
}

void TestTaobao::splitLinks_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("links");
    const QString a = itemLink("1"), b = itemLink("2"), c = itemLink("3");
    QTest::newRow("one link") << " " + a + "\n" << QStringList{a};
    QTest::newRow("lines, Windows and Unix") << a + "\r\n" + b + "\n" + c << QStringList{a, b, c};
    QTest::newRow("spaces and tabs") << a + "  " + b + "\t" + c << QStringList{a, b, c};
    QTest::newRow("blank lines and an ideographic space") << "\n\n" + a + "\u3000" + b + "\n \t\n"
                                                          << QStringList{a, b};
    QTest::newRow("nothing but blanks") << " \r\n\t" << QStringList{};
}

void TestTaobao::splitLinks() {
    QFETCH(QString, text);
    QFETCH(QStringList, links);
    QCOMPARE(TLinkList::SplitLinks(text), links);
}

void TestTaobao::manyLinksAtOnce() {
    TAppCore core;
    QVERIFY(core.Startup().ok());
    QSignalSpy messages(&core, &TAppCore::messageShown);
    QSignalSpy status(&core, &TAppCore::statusTextChanged);
    core.Links()->Append(itemLink("1"));
    // Ten links pasted: one already listed (in other letter case), one twice in the paste.
    QStringList pasted;
    for (int i = 2; i <= 10; ++i)
        pasted.append(itemLink(QString::number(i)));
    const QString text = itemLink("1").toUpper() + "\r\n" + pasted.join("\n") + "\t" + itemLink("5");
    core.UpdateChoices([&text](TChoices& c) { c.LinkText = text; });
    TAppCore::TAddCounts counts;
    QCOMPARE(core.AddLink(&counts), TAddResult::Added);
    QCOMPARE(counts.added, 9);
    QCOMPARE(counts.listed, 2);
    QCOMPARE(core.Links()->Items(), QStringList{itemLink("1")} + pasted);
    QCOMPARE(status.last().first().toString(), "已添加 9 个连接，2 个已在列表中");
    QCOMPARE(messages.size(), 0);          // no box per duplicate
    QCOMPARE(core.Choices().LinkText, ""); // the links are in the list now
    // All of them again: nothing added, still no box.
    QCOMPARE(core.AddLinks(pasted, &counts), TAddResult::Duplicate);
    QCOMPARE(counts.added, 0);
    QCOMPARE(counts.listed, 9);
    QCOMPARE(messages.size(), 0);
    // A crawl takes one shop: two shop addresses are refused, nothing crawled.
    core.ChangeLinkKind(KindShop);
    core.UpdateChoices([](TChoices& c) { c.LinkText = "http://a.taobao.com\nhttp://b.taobao.com"; });
    QCOMPARE(core.AddLink(), TAddResult::Refused);
    QCOMPARE(messages.size(), 1);
    QVERIFY(!core.Busy());
    QCOMPARE(m_sim->Requests().size(), 0);
}

void TestTaobao::stoppedSearchKeepsFinishedRows_data() {
    QTest::addColumn<int>("source");
    QTest::newRow("淘宝 (one link after another)") << SourceTaobao;
    QTest::newRow("拍拍 (one worker per link)") << SourcePaipai;
}

void TestTaobao::stoppedSearchKeepsFinishedRows() {
    QFETCH(int, source);
    serveItem("1", "甲", {});
    serveItem("2", "乙", {});
    TSimResponse silent;
    silent.Silent = true; // the third page never comes
    m_sim->Route(ItemHost, itemPath("3"), silent);
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.ChangeDataSource(source);
    for (const QString id : {"1", "2", "3"})
        core.Links()->Append(itemLink(id));
    QSignalSpy advanced(&core, &TAppCore::jobAdvanced);
    QSignalSpy finished(&core, &TAppCore::jobFinished);
    QVERIFY(core.StartSearch());
    QTRY_COMPARE_WITH_TIMEOUT(core.Table()->RowCount(), 3, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->Count(ItemHost, itemPath("3")), 1, 20000);
    core.StopJob(TJobKind::Search);
    QVERIFY(finished.wait(10000));
    const TJobResult result = finished.first()[1].value<TJobResult>();
    QCOMPARE(result.Outcome, TJobOutcome::Stopped);
    // The two finished rows stay; the abandoned link is no failure.
    QCOMPARE(core.Table()->RowCount(), 3);
    QCOMPARE(result.Count, 2);
    QCOMPARE(result.Failures, 0);
    QCOMPARE(TAppCore::OutcomeText(TJobKind::Search, result), "已停止：2 个宝贝");
    // The progress counted from 0 of 3, a link at a time, never backwards.
    QVERIFY(advanced.size() >= 3);
    qint64 last = -1;
    for (const QList<QVariant>& args : advanced) {
        QCOMPARE(args[0].value<TJobKind>(), TJobKind::Search);
        QCOMPARE(args[2].toLongLong(), 3);
        QVERIFY(args[1].toLongLong() >= last);
        last = args[1].toLongLong();
    }
    QCOMPARE(advanced.first()[1].toLongLong(), 0);
    QCOMPARE(TAppCore::ProgressText(TJobKind::Search, advanced[2][1].toLongLong(), 3), "搜索 2/3");
}

void TestTaobao::kindAndSourceChanges() {
    TAppCore core;
    QVERIFY(core.Startup().ok());
    core.ChangeLinkKind(KindShop);
    QCOMPARE(core.Choices().LinkText, "http://XXXXXXXX.taobao.com");
    core.ChangeLinkKind(KindCategory);
    QCOMPARE(core.Choices().LinkText, "");
    core.ChangeLinkKind(KindItem);
    QCOMPARE(core.Choices().LinkText, "");
    core.Links()->Append("a");
    core.Table()->AppendRow([](TRowWriter& row) {
        row.WidenTo(14);
        row.SetCell(13, "x");
    });
    core.ChangeDataSource(Source1688);
    QCOMPARE(core.Links()->Count(), 0);
    QCOMPARE(core.Table()->RowCount(), 1);
    QCOMPARE(core.Table()->ColCount(), 12);
    core.ChangeLinkKind(KindShop);
    QCOMPARE(core.Choices().LinkText, "http://XXXXXXXX.1688.com");
}

QTEST_GUILESS_MAIN(TestTaobao)
#include "test_taobao.moc"
