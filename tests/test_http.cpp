#include "marketsim.h"
#include "testenv.h"

#include "platform/paths.h"
#include "web/httpclient.h"
#include "web/netaddress.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostInfo>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

namespace {

using THeaderList = QList<std::pair<QByteArray, QByteArray>>;

// The headers a request carried, without the transport's own Host (unless the profile set it)
// and Content-Length.
THeaderList sentHeaders(const TSimRequest& r, bool keepHost) {
    THeaderList out;
    for (const auto& h : r.Headers) {
        if (h.first.compare("Content-Length", Qt::CaseInsensitive) == 0)
            continue;
        if (!keepHost && h.first.compare("Host", Qt::CaseInsensitive) == 0)
            continue;
        out.append(h);
    }
    return out;
}

QByteArray gbk(const QString& text) {
    QStringEncoder encoder("GBK");
    return encoder.encode(text);
}

const QByteArray BrowserA = "Mozilla/5.0 (Windows NT 6.1; rv:19.0) Gecko/20100101 Firefox/19.0";
const QByteArray BrowserB = "Mozilla/5.0 (X11; Ubuntu; Linux x86_64; rv:23.0) Gecko/20100101 Firefox/23.0";
const QByteArray PageAccept = "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";
const QByteArray LanguageList = "zh-cn,zh;q=0.8,en-us;q=0.5,en;q=0.3";

} // namespace

class TestHttp : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void profileHeaders_data();
    void profileHeaders();
    void emptyCookieSendsNoCookieHeader();
    void postSendsTheFormAsUtf8();
    void redirects();
    void errorPagesAreText_data();
    void errorPagesAreText();
    void decoding_data();
    void decoding();
    void oneClientReadsRepliesInTurn();
    void unreachable_data();
    void unreachable();
    void silentServerTimesOut();
    void onlyTheWebIsReached_data();
    void onlyTheWebIsReached();
    void limitsEndRequests();
    void utf16Body();
    void textFileIsTrimmed();
    void proxyVariablesAreHonoured();
    void fixtureFilesByHostAndPath();
    void localHosts_data();
    void localHosts();
    void pageAddressesStayOffThisMachine_data();
    void pageAddressesStayOffThisMachine();
    void pageAddressRedirectedHomeIsRefused();
    void proxyChoice_data();
    void proxyChoice();

  private:
    std::unique_ptr<TTestEnvironment> m_env;
    TMarketSim* m_sim = nullptr;
    QString url(const QString& path) const { return m_sim->Origin() + path; }
};

void TestHttp::init() {
    // Requests in these tests go straight to the simulator.
    m_env = std::make_unique<TTestEnvironment>(TTestEnvironment::TProxy::None);
    m_sim = &m_env->Sim();
    m_env->WriteServiceIni(
        "[service]\nDetailDataHost=detailskip.example\nItemHost=item.example\nDetailPageHost=hws.example\n"
        "HomePage=http://www.example/\nCookieLib=cna=lib; t=1\nCookieNew=cna=new\nCookiePage=isg=page\n"
        "CookieDetail=mall_fp_ab=detail\n");
}

void TestHttp::cleanup() {
    m_env.reset();
}

void TestHttp::profileHeaders_data() {
    QTest::addColumn<QString>("profile");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<bool>("setsHost");
    QTest::addColumn<THeaderList>("headers");
    QTest::newRow("HGetText") << "HGetText" << QByteArray("GET") << false
                              << THeaderList{{"Accept-Language", "zh-cn"},
                                             {"Content-Type", "text/html; charset=UTF-8"}};
    QTest::newRow("HGetTextNew") << "HGetTextNew" << QByteArray("GET") << false
                                 << THeaderList{{"User-Agent", BrowserA},
                                                {"Accept", PageAccept},
                                                {"Accept-Language", LanguageList},
                                                {"Cookie", "cna=new"},
                                                {"Connection", "keep-alive"}};
    QTest::newRow("HGetTextPage") << "HGetTextPage" << QByteArray("GET") << false
                                  << THeaderList{{"User-Agent", BrowserA},
                                                 {"Accept", PageAccept},
                                                 {"Accept-Language", LanguageList},
                                                 {"Cookie", "isg=page"},
                                                 {"Connection", "keep-alive"}};
    QTest::newRow("HGetTextLib") << "HGetTextLib" << QByteArray("GET") << true
                                 << THeaderList{{"Host", "detailskip.example"},
                                                {"User-Agent", BrowserA},
                                                {"Accept", "*/*"},
                                                {"Accept-Language", "zh-CN,zh;q=0.8"},
                                                {"Referer", "http://item.example/item.htm"},
                                                {"Cookie", "cna=lib; t=1"},
                                                {"Connection", "keep-alive"}};
    QTest::newRow("Htaobao_curl_detail (quoted values keep their quotes)")
        << "Htaobao_curl_detail" << QByteArray("POST") << true
        << THeaderList{{"Host", "hws.example"},
                       {"User-Agent", BrowserB},
                       {"Accept", PageAccept},
                       {"Accept-Language", "\"en-Us,en;q=0.5\""},
                       {"Accept-Encoding", "\"deflate\""},
                       {"Referer", "\"http://www.example/\""},
                       {"Cookie", "mall_fp_ab=detail"},
                       {"Connection", "keep-alive"}};
    QTest::newRow("HPost") << "HPost" << QByteArray("POST") << false
                           << THeaderList{
                                  {"Accept-Language", "zh-cn"},
                                  {"Content-Type", "application/x-www-form-urlencoded; charset=UTF-8"}};
    QTest::newRow("HOpen sends no header") << "HOpen" << QByteArray("GET") << false << THeaderList{};
    QTest::newRow("HGet sends no header") << "HGet" << QByteArray("GET") << false << THeaderList{};
}

void TestHttp::profileHeaders() {
    QFETCH(QString, profile);
    QFETCH(QByteArray, method);
    QFETCH(bool, setsHost);
    QFETCH(THeaderList, headers);
    m_sim->Route("*", "/p", TSimResponse::Text("ok"));
    THttpClient tc;
    const QString u = url("/p");
    if (profile == u"HGetText")
        QCOMPARE(tc.HGetText(u), "ok");
    else if (profile == u"HGetTextNew")
        QCOMPARE(tc.HGetTextNew(u), "ok");
    else if (profile == u"HGetTextPage")
        QCOMPARE(tc.HGetTextPage(u), "ok");
    else if (profile == u"HGetTextLib")
        QCOMPARE(tc.HGetTextLib(u), "ok");
    else if (profile == u"Htaobao_curl_detail")
        QCOMPARE(tc.Htaobao_curl_detail(u), "ok");
    else if (profile == u"HPost")
        QCOMPARE(tc.HPost(u, QString()), "ok");
    else if (profile == u"HOpen")
        QCOMPARE(tc.HOpen("GET", u).value_or("none"), QByteArray("ok"));
    else
        QCOMPARE(tc.HGet(u), QString(QChar(0x6B6F))); // the bytes "ok" read as UTF-16 are one unit
    const QList<TSimRequest> requests = m_sim->Requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].Method, method);
    QCOMPARE(sentHeaders(requests[0], setsHost), headers);
    if (method == "POST")
        QCOMPARE(requests[0].Header("Content-Length"), QByteArray("0"));
}

void TestHttp::emptyCookieSendsNoCookieHeader() {
    QTemporaryDir dir;
    TPaths::SetWorkDir(dir.path());
    m_sim->Route("*", "/p", TSimResponse::Text("ok"));
    THttpClient tc;
    QCOMPARE(tc.HGetTextNew(url("/p")), "ok");
    QCOMPARE(tc.HGetTextLib(url("/p")), "ok");
    for (const TSimRequest& r : m_sim->Requests())
        QVERIFY(!r.HeaderNames().contains("Cookie"));
    TPaths::SetWorkDir(m_env->Dir());
}

void TestHttp::postSendsTheFormAsUtf8() {
    m_sim->Route("*", "/form", TSimResponse::Text("done"));
    THttpClient tc;
    QCOMPARE(tc.HPost(url("/form"), "name=宝贝&x=1"), "done");
    QCOMPARE(m_sim->Requests().first().Body, QString("name=宝贝&x=1").toUtf8());
}

void TestHttp::redirects() {
    m_sim->Route("*", "/old", TSimResponse::Redirect("/new", 302, "moved"));
    m_sim->Route("*", "/new", TSimResponse::Text("target"));
    m_sim->Route("*", "/empty-redirect", TSimResponse::Redirect("/new", 301));
    THttpClient tc;
    QCOMPARE(tc.HGetText(url("/old")), "moved");
    QCOMPARE(tc.HGetText(url("/empty-redirect")), "");
    QCOMPARE(tc.HGetTextNew(url("/old")), "moved");
    QCOMPARE(m_sim->Count("127.0.0.1", "/new"), 0);
    QCOMPARE(tc.HOpen("GET", url("/old")).value_or("none"), QByteArray("target"));
    QCOMPARE(m_sim->Count("127.0.0.1", "/new"), 1);
}

void TestHttp::errorPagesAreText_data() {
    QTest::addColumn<int>("status");
    QTest::newRow("404") << 404;
    QTest::newRow("500") << 500;
}

void TestHttp::errorPagesAreText() {
    QFETCH(int, status);
    m_sim->Route("*", "/bad", TSimResponse::Text("<h1>坏了</h1>", "UTF-8", status));
    THttpClient tc;
    QCOMPARE(tc.HGetText(url("/bad")), "<h1>坏了</h1>");
    QCOMPARE(tc.HGetTextLib(url("/bad")), "<h1>坏了</h1>");
    QCOMPARE(tc.HOpen("GET", url("/bad")).value_or("none"), QString("<h1>坏了</h1>").toUtf8());
}

namespace {

// Text as UTF-16 little-endian bytes, without a byte-order mark: only a declared charset reads it.
QByteArray utf16le(const QString& text) {
    return QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
}

} // namespace

void TestHttp::decoding_data() {
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");
    const QString chinese = "<title>男装夹克-淘宝网</title>";
    QTest::newRow("declared GBK") << QByteArray("text/html; charset=GBK") << gbk(chinese) << chinese;
    QTest::newRow("declared gb2312 with a character only GBK has")
        << QByteArray("text/html;charset=gb2312") << gbk("喆") << "喆";
    QTest::newRow("declared UTF-8") << QByteArray("text/html; charset=UTF-8") << chinese.toUtf8() << chinese;
    QTest::newRow("declared in quotes")
        << QByteArray("text/html; charset=\"utf-8\"") << chinese.toUtf8() << chinese;
    QTest::newRow("declared in other letter case, with blanks and single quotes")
        << QByteArray("text/html; CharSet = 'UTF-16LE'") << utf16le(chinese) << chinese;
    QTest::newRow("a word with charset in it before the declaration")
        << QByteArray("text/html; x-charsets; charset=utf-16le") << utf16le(chinese) << chinese;
    QTest::newRow("undeclared, a meta charset in the page")
        << QByteArray("text/html") << gbk("<meta charset=\"gbk\">" + chinese)
        << "<meta charset=\"gbk\">" + chinese;
    QTest::newRow("undeclared, an http-equiv meta")
        << QByteArray("text/html")
        << gbk("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />" + chinese)
        << "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\" />" + chinese;
    QTest::newRow("undeclared, valid UTF-8") << QByteArray() << chinese.toUtf8() << chinese;
    QTest::newRow("undeclared, not UTF-8: GBK") << QByteArray() << gbk(chinese) << chinese;
}

void TestHttp::decoding() {
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, text);
    TSimResponse r;
    if (!contentType.isEmpty())
        r.Headers.append(std::pair<QByteArray, QByteArray>("Content-Type", contentType));
    r.Body = body;
    m_sim->Route("*", "/page", r);
    THttpClient tc;
    QCOMPARE(tc.HGetText(url("/page")), text);
}

void TestHttp::oneClientReadsRepliesInTurn() {
    // One client keeps the room of its replies, also across a page fetched undecoded while other
    // requests are made (a sequential search): each reply must still come out whole and alone,
    // whatever came before it, and no text may keep the room of a longer one.
    const QString longChinese = QString("<p>男装夹克，春秋款</p>").repeated(20000);
    const QString longAscii = QString("<p>plain text</p>").repeated(15000);
    const QString shortText = "var desc='<p>短</p>';";
    const QByteArray picture(300000, '\x7f');
    auto route = [this](const QString& path, const QByteArray& charset, const QByteArray& body) {
        TSimResponse r;
        if (!charset.isEmpty())
            r.Headers.append({"Content-Type", "text/html; charset=" + charset});
        r.Body = body;
        m_sim->Route("*", path, r);
    };
    route("/long-gbk", "GBK", gbk(longChinese));
    route("/long-utf8", "UTF-8", longAscii.toUtf8());
    route("/short", "GBK", gbk(shortText));
    route("/picture", {}, picture);
    THttpClient tc;
    struct TStep {
        const char* path;
        QString text;   // empty: a file
        bool undecoded; // fetched undecoded, a short text fetched before it is decoded
    };
    const TStep steps[] = {
        {"/long-gbk", longChinese, false}, {"/short", shortText, true},      {"/long-utf8", longAscii, true},
        {"/long-gbk", longChinese, true},  {"/picture", {}, false},          {"/long-utf8", longAscii, false},
        {"/short", shortText, false},      {"/long-gbk", longChinese, true}, {"/short", shortText, true},
    };
    for (const TStep& step : steps) {
        if (step.undecoded) {
            THttpClient::TUndecodedText reply = tc.HGetTextUndecoded(url(step.path));
            QVERIFY(reply.Answered);
            QCOMPARE(tc.HGetText(url("/short")), shortText);
            const QString text = tc.DecodeText(std::move(reply));
            QVERIFY2(text == step.text, step.path);
            QVERIFY2(text.capacity() <= text.size() + text.size() / 8 + 16, step.path);
            continue;
        }
        if (step.text.isEmpty()) {
            const TResult<QByteArray> bytes = tc.HOpen("GET", url(step.path));
            QVERIFY(bytes.ok());
            QCOMPARE(bytes->size(), picture.size());
            QVERIFY(*bytes == picture);
            continue;
        }
        const QString text = tc.HGetText(url(step.path));
        QVERIFY2(text == step.text, step.path);
        QVERIFY2(text.capacity() <= text.size() + text.size() / 8 + 16, step.path);
    }
}

void TestHttp::unreachable_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("a host that cannot be resolved") << "http://nonexistent.invalid/item.htm";
    QTest::newRow("nothing listening") << "http://127.0.0.1:1/";
    QTest::newRow("not an address") << "";
    QTest::newRow("no scheme") << "127.0.0.1:1/item.htm";
}

void TestHttp::unreachable() {
    QFETCH(QString, address);
    // Short limits, so a machine whose name server does not answer still ends each request soon.
    TRequestLimits timeouts;
    timeouts.ResolveMs = 2000;
    timeouts.ConnectMs = 2000;
    THttpClient tc(timeouts);
    QCOMPARE(tc.HGetText(address), "error");
    QCOMPARE(tc.HGetTextNew(address), "error");
    QCOMPARE(tc.HGetTextLib(address), "error");
    QCOMPARE(tc.HGetTextPage(address), "error");
    QCOMPARE(tc.Htaobao_curl_detail(address), "error");
    QCOMPARE(tc.HPost(address, "a=1"), "");
    QCOMPARE(tc.HGet(address), "");
    QCOMPARE(tc.HGetN(address), "");
    QVERIFY(!tc.HOpen("GET", address).ok());
    QCOMPARE(tc.HGetTextFileStr(address), "error");
}

void TestHttp::silentServerTimesOut() {
    TSimResponse silent;
    silent.Silent = true;
    m_sim->Route("*", "/silent", silent);
    TSimResponse slow;
    slow.Body = "slow but steady";
    slow.TrickleMs = 50;
    m_sim->Route("*", "/slow", slow);
    TRequestLimits shortTimeouts;
    shortTimeouts.SendMs = 1000;
    shortTimeouts.ReceiveMs = 1000;
    THttpClient tc(shortTimeouts);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(tc.HGetText(url("/silent")), "error");
    QVERIFY2(timer.elapsed() < 10000, "the receive timeout did not end the request");
    QVERIFY(!tc.HOpen("GET", url("/silent")).ok());
    // A reply that keeps arriving is not cut off.
    QCOMPARE(tc.HGetText(url("/slow")), "slow but steady");
}

void TestHttp::utf16Body() {
    TSimResponse r;
    r.Body = QByteArray("h\0i\0\0\0x\0", 8);
    m_sim->Route("*", "/u16", r);
    r.Body = QByteArray("o\0k\0!", 5); // an odd last byte is ignored
    m_sim->Route("*", "/odd", r);
    THttpClient tc;
    QCOMPARE(tc.HGet(url("/u16")), "hi");
    QCOMPARE(tc.HGetN(url("/odd")), "ok");
}

void TestHttp::textFileIsTrimmed() {
    TSimResponse r;
    r.Body = "\r\n\r\n  " + gbk("http://www.example/欢迎.htm") + "\r\n";
    m_sim->Route("*", "/welcome.txt", r);
    m_sim->Route("*", "/moved.txt", TSimResponse::Redirect("/welcome.txt"));
    THttpClient tc;
    QCOMPARE(tc.HGetTextFileStr(url("/welcome.txt")), "http://www.example/欢迎.htm");
    QCOMPARE(tc.HGetTextFileStr(url("/moved.txt")), "http://www.example/欢迎.htm");
}

void TestHttp::proxyVariablesAreHonoured() {
    m_sim->Route("item.taobao.com", "/item.htm?id=1", TSimResponse::Text("item one"));
    qputenv("http_proxy", m_sim->Origin().toLatin1());
    THttpClient tc;
    const QString viaProxy = tc.HGetText("http://item.taobao.com/item.htm?id=1");
    qputenv("no_proxy", "item.taobao.com");
    const QString bypassed = tc.HGetText("http://item.taobao.com:1/item.htm?id=1");
    qunsetenv("http_proxy");
    qunsetenv("no_proxy");
    QCOMPARE(viaProxy, "item one");
    QCOMPARE(m_sim->Requests().first().ViaProxy, true);
    QCOMPARE(m_sim->Requests().first().Host, QByteArray("item.taobao.com"));
    QCOMPARE(bypassed, "error"); // no_proxy: straight to a port where nothing listens
    QCOMPARE(m_sim->Requests().size(), 1);
}

void TestHttp::fixtureFilesByHostAndPath() {
    QTemporaryDir pages;
    QVERIFY(QDir(pages.path()).mkpath("shop"));
    QFile page(pages.filePath("shop/list.htm"));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write(gbk("<p>店铺</p>"));
    page.close();
    m_sim->ServeDir("shop.taobao.com", pages.path(), "text/html; charset=GBK");
    qputenv("http_proxy", m_sim->Origin().toLatin1());
    THttpClient tc;
    const QString found = tc.HGetText("http://shop.taobao.com/shop/list.htm?x=1");
    const QString otherHost = tc.HGetText("http://other.taobao.com/shop/list.htm");
    const QString outside = tc.HGetText("http://shop.taobao.com/../secret");
    qunsetenv("http_proxy");
    QCOMPARE(found, "<p>店铺</p>");
    QVERIFY(otherHost.contains("404"));
    QVERIFY(outside.contains("404"));
}

void TestHttp::onlyTheWebIsReached_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("redirect"); // only the profiles that follow redirects go on
    QTest::newRow("a local file") << "file:///etc/passwd" << false;
    QTest::newRow("a local file, upper case") << "FILE:///etc/hostname" << false;
    QTest::newRow("gopher to a local service") << "gopher://127.0.0.1:{port}/_hello" << false;
    QTest::newRow("dict to a local service") << "dict://127.0.0.1:{port}/d:x" << false;
    QTest::newRow("a redirect to a local file") << "{origin}/to-file" << true;
    QTest::newRow("a redirect to a local service") << "{origin}/to-gopher" << true;
}

void TestHttp::onlyTheWebIsReached() {
    QFETCH(QString, address);
    QFETCH(bool, redirect);
    // A local service that must never hear from the program.
    QTcpServer service;
    QVERIFY(service.listen(QHostAddress::LocalHost));
    const QString port = QString::number(service.serverPort());
    m_sim->Route("*", "/to-file", TSimResponse::Redirect("file:///etc/passwd"));
    m_sim->Route("*", "/to-gopher",
                 TSimResponse::Redirect(("gopher://127.0.0.1:" + port + "/_x").toLatin1()));
    address.replace("{port}", port).replace("{origin}", m_sim->Origin());
    THttpClient tc;
    QCOMPARE(tc.HGetText(address), redirect ? "" : "error"); // a redirect's own (empty) body
    QCOMPARE(tc.HGet(address), "");
    QVERIFY(!tc.HOpen("GET", address).ok());
    QCOMPARE(tc.HGetTextFileStr(address), "error");
    QVERIFY(!service.waitForNewConnection(200));
}

void TestHttp::limitsEndRequests() {
    TSimResponse trickle;
    trickle.Body = QByteArray(100, 'x');
    trickle.TrickleMs = 100; // ten bytes a second: never idle long enough for the idle timeout
    m_sim->Route("*", "/trickle", trickle);
    TSimResponse big;
    big.Body = QByteArray(3 << 20, 'x');
    m_sim->Route("*", "/big", big);
    big.NoLength = true; // the size is seen only as the bytes arrive
    m_sim->Route("*", "/endless", big);
    TRequestLimits limits;
    limits.TotalMs = 1500;
    limits.MaxPageBytes = 1 << 20;
    limits.MaxFileBytes = 2 << 20;
    THttpClient tc(limits);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(tc.HGetText(url("/trickle")), "error");
    QVERIFY2(timer.elapsed() < 6000, "the deadline did not end the request");
    QCOMPARE(tc.LastError().Code, TErrc::NoReply);
    for (const char* path : {"/big", "/endless"}) {
        QCOMPARE(tc.HGetText(url(path)), "error");
        QCOMPARE(tc.LastError().Code, TErrc::BadReply);
        QVERIFY(!tc.HOpen("GET", url(path)).ok());
        QCOMPARE(tc.LastError().Code, TErrc::BadReply);
        QVERIFY(tc.LastError().Detail.contains("2 MB"));
    }
    // Within the limits the same client still works.
    m_sim->Route("*", "/small", TSimResponse::Text("fine"));
    QCOMPARE(tc.HGetText(url("/small")), "fine");
}

void TestHttp::localHosts_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("local");
    QTest::newRow("localhost") << "localhost" << true;
    QTest::newRow("LOCALHOST.") << "LOCALHOST." << true;
    QTest::newRow("a subdomain of localhost") << "shop.localhost" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("loopback") << "127.0.0.1" << true;
    QTest::newRow("loopback, elsewhere in 127/8") << "127.45.6.7" << true;
    QTest::newRow("loopback in short form") << "127.1" << true;
    QTest::newRow("loopback as one number") << "2130706433" << true;
    QTest::newRow("loopback in hexadecimal") << "0x7f.0.0.1" << true;
    QTest::newRow("loopback in octal") << "0177.0.0.01" << true;
    QTest::newRow("unspecified") << "0.0.0.0" << true;
    QTest::newRow("private 10/8") << "10.20.30.40" << true;
    QTest::newRow("private 172.16/12") << "172.31.255.1" << true;
    QTest::newRow("private 192.168/16") << "192.168.1.1" << true;
    QTest::newRow("link-local (cloud metadata)") << "169.254.169.254" << true;
    QTest::newRow("IPv6 loopback") << "[::1]" << true;
    QTest::newRow("IPv6 unspecified") << "::" << true;
    QTest::newRow("IPv6 link-local with zone") << "[fe80::1%25eth0]" << true;
    QTest::newRow("IPv6 unique-local") << "[fd12:3456::1]" << true;
    QTest::newRow("IPv4-mapped loopback") << "[::ffff:127.0.0.1]" << true;
    QTest::newRow("IPv4-mapped private") << "[::ffff:c0a8:0101]" << true;
    QTest::newRow("a marketplace host") << "img.alicdn.com" << false;
    QTest::newRow("a name made of digits and letters") << "127.0.0.1.example.com" << false;
    QTest::newRow("a public address") << "140.205.94.189" << false;
    QTest::newRow("172 outside the private range") << "172.32.0.1" << false;
    QTest::newRow("a public IPv6 address") << "[2400:3200::1]" << false;
    QTest::newRow("too large to be an address") << "4294967296" << false;
}

void TestHttp::localHosts() {
    QFETCH(QString, host);
    QFETCH(bool, local);
    QCOMPARE(IsLocalHost(host), local);
}

void TestHttp::pageAddressesStayOffThisMachine_data() {
    QTest::addColumn<QString>("address"); // {port}: the simulator's
    QTest::addColumn<bool>("reachable");  // whether the seller may fetch it as a link of their own
    QTest::newRow("127.0.0.1") << "http://127.0.0.1:{port}/secret" << true;
    QTest::newRow("localhost") << "http://localhost:{port}/secret" << true;
    QTest::newRow("loopback as one number") << "http://2130706433:{port}/secret" << true;
    QTest::newRow("[::1]") << "http://[::1]:{port}/secret" << false;
    QTest::newRow("10.x") << "http://10.0.0.1:{port}/secret" << false;
    QTest::newRow("192.168.x") << "http://192.168.0.1:{port}/secret" << false;
    // A name that the resolver gives a loopback address: caught at the connection.
    const QString name = QHostInfo::localHostName();
    const QHostInfo resolved = QHostInfo::fromName(name);
    if (!name.isEmpty() && !resolved.addresses().isEmpty() && resolved.addresses().first().isLoopback() &&
        resolved.addresses().first().protocol() == QAbstractSocket::IPv4Protocol)
        QTest::newRow("this machine's name") << "http://" + name + ":{port}/secret" << true;
}

void TestHttp::pageAddressesStayOffThisMachine() {
    QFETCH(QString, address);
    QFETCH(bool, reachable);
    m_sim->Route("*", "/secret", TSimResponse::Text("the seller's own service"));
    address.replace("{port}", QString::number(m_sim->Port()));
    THttpClient tc;
    // A link the seller typed reaches it.
    if (reachable)
        QCOMPARE(tc.HGetText(address), "the seller's own service");
    const qsizetype before = m_sim->Requests().size();
    {
        const TPageAddresses fromPage(tc);
        QCOMPARE(tc.HGetText(address), "error");
        QCOMPARE(tc.LastError().Code, TErrc::Refused);
        QVERIFY(!tc.HOpen("GET", address).ok());
        QCOMPARE(tc.LastError().Code, TErrc::Refused);
        QVERIFY(!tc.LastError().Detail.isEmpty());
    }
    QCOMPARE(m_sim->Requests().size(), before);
    // The marking ends with its scope.
    if (reachable)
        QCOMPARE(tc.HGetText(address), "the seller's own service");
}

void TestHttp::pageAddressRedirectedHomeIsRefused() {
    // A public picture host (played by the simulator as a proxy) sends the program home.
    const QString home = m_sim->Origin() + "/secret";
    m_sim->Route("*", "/secret", TSimResponse::Text("the seller's own service"));
    m_sim->Route("pics.example.com", "/a.jpg", TSimResponse::Redirect(home.toLatin1()));
    m_sim->Route("pics.example.com", "/b.jpg", TSimResponse::Text("a picture"));
    qputenv("http_proxy", m_sim->Origin().toLatin1());
    THttpClient tc;
    TResult<QByteArray> followed = tc.HOpen("GET", "http://pics.example.com/a.jpg");
    const qsizetype afterTyped = m_sim->Requests().size();
    TResult<QByteArray> refused = MakeError(TErrc::Io);
    TResult<QByteArray> publicOne = MakeError(TErrc::Io);
    TError refusal;
    {
        const TPageAddresses fromPage(tc);
        refused = tc.HOpen("GET", "http://pics.example.com/a.jpg");
        refusal = tc.LastError();
        publicOne = tc.HOpen("GET", "http://pics.example.com/b.jpg");
    }
    qunsetenv("http_proxy");
    QVERIFY(followed.ok());
    QCOMPARE(*followed, QByteArray("the seller's own service"));
    QVERIFY(!refused.ok());
    QCOMPARE(refusal.Code, TErrc::Refused);
    QCOMPARE(refusal.Detail, QStringLiteral("127.0.0.1"));
    QVERIFY(publicOne.ok());
    QCOMPARE(*publicOne, QByteArray("a picture"));
    // The refused transfer asked the picture host only; the redirect was never sent.
    const QList<TSimRequest> requests = m_sim->Requests().mid(afterTyped);
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].Path, QByteArray("/a.jpg"));
    QCOMPARE(requests[1].Path, QByteArray("/b.jpg"));
}

void TestHttp::proxyChoice_data() {
    QTest::addColumn<QByteArray>("httpProxy");
    QTest::addColumn<QByteArray>("noProxy");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("proxied");
    QTest::newRow("no proxy") << QByteArray() << QByteArray() << "http"
                              << "img.alicdn.com" << false;
    QTest::newRow("http proxy") << QByteArray("http://10.0.0.1:3128") << QByteArray() << "http"
                                << "img.alicdn.com" << true;
    QTest::newRow("http proxy, https address")
        << QByteArray("http://10.0.0.1:3128") << QByteArray() << "https"
        << "img.alicdn.com" << false;
    QTest::newRow("exempt by domain")
        << QByteArray("http://10.0.0.1:3128") << QByteArray("alicdn.com") << "http"
        << "img.alicdn.com" << false;
    QTest::newRow("exempt with a leading dot")
        << QByteArray("http://10.0.0.1:3128") << QByteArray(" .alicdn.com") << "http"
        << "img.alicdn.com" << false;
    QTest::newRow("a suffix is no domain")
        << QByteArray("http://10.0.0.1:3128") << QByteArray("cdn.com") << "http"
        << "img.alicdn.com" << true;
    QTest::newRow("everything exempt") << QByteArray("http://10.0.0.1:3128") << QByteArray("*") << "http"
                                       << "img.alicdn.com" << false;
}

void TestHttp::proxyChoice() {
    QFETCH(QByteArray, httpProxy);
    QFETCH(QByteArray, noProxy);
    QFETCH(QString, scheme);
    QFETCH(QString, host);
    QFETCH(bool, proxied);
    qputenv("http_proxy", httpProxy);
    qputenv("no_proxy", noProxy);
    const bool chosen = ProxyAppliesTo(scheme, host);
    qunsetenv("http_proxy");
    qunsetenv("no_proxy");
    QCOMPARE(chosen, proxied);
}

QTEST_GUILESS_MAIN(TestHttp)
#include "test_http.moc"
