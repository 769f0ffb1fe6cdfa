// The Taobao Assistant CSV export and its category property lookup.

#include "exportedcsv.h"
#include "marketsim.h"
#include "testenv.h"
#include "testfiles.h"

#include "acquire/taobaoitem.h"
#include "app/appcore.h"
#include "base/cipher.h"
#include "base/servicekeys.h"
#include "export/csvexport.h"
#include "export/price.h"
#include "export/props.h"
#include "platform/fileinuse.h"
#include "platform/paths.h"
#include "table/gridfile.h"
#include "table/itemtable.h"
#include "web/httpclient.h"
#include "web/patterns.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <chrono>

namespace {

// An item page with everything the export reads.
QString exportPage(const QString& id, const QString& title, const QString& price) {
    return "<html><head><title>" + title +
           "-淘宝网</title></head>\r\n<body><div data-catid=\"50010158\"></div>\n"
           "<em class=\"tb-rmb-num\">" +
           price +
           "</em><a href=\"x?old_quantity=25&amp;y\"></a>\n"
           "<script>var c={\"wholeSibUrl\":\"http://detailskip.taobao.com/json/sib.htm?itemId=" +
           id +
           "\"};</script>\n"
           "<ul><li data-value=\"1627207:28341\"><a href=\"#\"><span>红色</span></a><i>已选中</i></li>"
           "<li data-value=\"20509:28383\" title=\"XL\"></li></ul>\n"
           "<img src=\"http://img01.taobaocdn.com/imgextra/i1/1/a.jpg\"></body></html>";
}

const QString SaleReply =
    "{\"sendCity\":\"浙江 "
    "杭州\",\"skuMap\":{\";1627207:28341;\":{\"stock\":\"5\"},\";1627207:28342;\":{\"price\":"
    "\"9\",\"stock\":\"7\"}}}";

const QString PropsReply =
    "{\"item_prop\":[{\"name\":\"品牌\",\"parent_vid\":0,\"pid\":20000,\"sort\":1},"
    "{\"name\":\"材质\",\"pid\":20021}],\"prop_value\":[{\"name\":\"李宁\",\"pid\":20000,"
    "\"vid\":3227292},{\"name\":\"棉\",\"pid\":20021,\"vid\":105255}]}";

// The default template filled by hand: the placeholders of each column replaced, fields joined
// by tabs.
QString expectedLine(const QMap<QString, QString>& values) {
    QStringList fields = TServiceValues::DefaultCsvTemplate().split(',');
    for (QString& f : fields)
        for (auto it = values.begin(); it != values.end(); ++it)
            if (f == it.key() || f == '"' + it.key() + '"')
                f.replace(it.key(), it.value());
    for (QString& f : fields)
        for (const char* empty : {"k_user_input_id", "k_user_input_desc"})
            f.replace(QLatin1String(empty), QString());
    return fields.join('\t');
}

QByteArray utf16File(const QStringList& lines) {
    QByteArray bytes("\xFF\xFE", 2);
    for (const QString& line : lines) {
        const QString withEnd = line + '\n';
        bytes.append(reinterpret_cast<const char*>(withEnd.utf16()), withEnd.size() * 2);
    }
    return bytes;
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void headerLines();
    void exportPaths_data();
    void exportPaths();
    void price_data();
    void price();
    void adjustPrice_data();
    void adjustPrice();
    void cleaningAndFields();
    void fillTemplate_data();
    void fillTemplate();
    void hostileValues_data();
    void hostileValues();
    void lookupPropPair_data();
    void lookupPropPair();
    void propertyField_data();
    void propertyField();
    void realPropertyReply_data();
    void realPropertyReply();

    void twoItemsByteForByte();
    void noSelectedRow();
    void failingSaleDataStillExports();
    void newerLayoutSaleData_data();
    void newerLayoutSaleData();
    void propertyOptionsAndCache();
    void hintLine_data();
    void hintLine();
    void unwritableFileIsReported();
    void fileInUse();
    void rowDeletedDuringExport();
    void failuresAreReportedAndNotCached();
    void pageAddressesToThisMachineAreRefused();
    void tmallItemExportsLikeATaobaoItem();
    void jobKeepsTheServiceValuesItStartedWith_data();
    void jobKeepsTheServiceValuesItStartedWith();
    void shutdownStopsExportThenSaves();
    void editedTitleAndPriceAreExported();
    void adjustedPricesAreExported();
    void stoppedExportWritesNoFile();
    void rowsAtOnceWriteWhatOneAtATimeWrites();

  private:
    std::unique_ptr<TTestEnvironment> m_env;
    TMarketSim* m_sim = nullptr;
    TAppCore* m_core = nullptr;
    void addRow(const QString& id, const QString& title, const QString& price, const QString& props,
                const QString& detail = "<p>描述</p>", bool selected = true);
    QString runExport(bool* written = nullptr);
};

void TestExport::cleanup() {
    m_env.reset();
}

void TestExport::init() {
    m_env = std::make_unique<TTestEnvironment>();
    m_sim = &m_env->Sim();
    m_core = &m_env->Core();
    m_sim->Route("detailskip.taobao.com", "/json/sib.htm?itemId=1", TSimResponse::Text(SaleReply, "GBK"));
    m_sim->Route("detailskip.taobao.com", "/json/sib.htm?itemId=2", TSimResponse::Text(SaleReply, "GBK"));
    m_sim->Route("open.taobao.com", "/apitools/ajax_props.do?act=props&cid=50010158",
                 TSimResponse::Text(PropsReply));
}

void TestExport::addRow(const QString& id, const QString& title, const QString& price, const QString& props,
                        const QString& detail, bool selected) {
    m_core->Table()->AppendRow([&](TRowWriter& row) {
        row.SetCell(ColSelect, selected ? " " : "");
        row.SetCell(ColTitle, title);
        row.SetCell(ColPrice, price);
        row.SetCell(ColHtml, exportPage(id, title, price));
        row.SetCell(ColDetail, detail);
        row.SetCell(ColProps, props);
        row.SetCell(ColWatermark, "小店");
    });
}

QString TestExport::runExport(bool* written) {
    const QString out = m_env->File("out");
    QDir().mkpath(out);
    const TExportJob job = ExportJobFor(out);
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    if (!m_core->StartExport(job) || !finished.wait(30000))
        return {};
    if (written)
        *written = finished.first()[1].value<TJobResult>().Outcome == TJobOutcome::Done;
    return job.csvPath;
}

void TestExport::headerLines() {
    const QStringList english = CsvHeaderLine(0).split(',');
    const QStringList chinese = CsvHeaderLine(10).split(',');
    QCOMPARE(english.size(), 60);
    QCOMPARE(chinese.size(), 60);
    QCOMPARE(english.first(), "title");
    QCOMPARE(english[28], "picture");
    QCOMPARE(english.last(), "input_custom_cpv");
    QCOMPARE(chinese.first(), "宝贝名称");
    QCOMPARE(chinese[55], "sku 条形码");
    QCOMPARE(chinese.last(), "自定义属性值");
}

void TestExport::exportPaths_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("csv");
    QTest::newRow("a folder") << "/home/me/out"
                              << "/home/me/out/KVR_20150108093005007.csv";
    QTest::newRow("a folder ending in a separator") << "/"
                                                    << "/KVR_20150108093005007.csv";
}

void TestExport::exportPaths() {
    QFETCH(QString, folder);
    QFETCH(QString, csv);
    const TExportJob job = ExportJobFor(folder, QDateTime(QDate(2015, 1, 8), QTime(9, 30, 5, 7)));
    QCOMPARE(job.csvPath, csv);
    QCOMPARE(job.pictureFolder, csv.left(csv.size() - 4));
}

void TestExport::price_data() {
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("exported");
    QTest::newRow("128.00") << "128.00"
                            << "128";
    QTest::newRow("99.50") << "99.50"
                           << "99.50";
    QTest::newRow("a range") << "10.00-20.00"
                             << "10-20";
    QTest::newRow("blanks around") << " 5.00 "
                                   << "5";
    QTest::newRow("no price") << ""
                              << "";
}

void TestExport::price() {
    QFETCH(QString, shown);
    QFETCH(QString, exported);
    QCOMPARE(ExportPrice(shown), exported);
}

void TestExport::adjustPrice_data() {
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("amount");
    QTest::addColumn<QString>("price");
    QTest::addColumn<QString>("adjusted");
    QTest::newRow("no adjustment keeps the text as written") << 1.0 << 0.0 << "28.0"
                                                             << "28.0";
    QTest::newRow("factor and amount") << 1.2 << 5.0 << "128.00"
                                       << "158.60";
    QTest::newRow("amount only") << 1.0 << 5.0 << "99.5"
                                 << "104.50";
    QTest::newRow("rounded to two decimals") << 1.1 << 0.0 << "19.99"
                                             << "21.99"; // 21.989
    QTest::newRow("half a cent rounds up, exactly") << 0.5 << 0.0 << "5.35"
                                                    << "2.68"; // 2.675
    QTest::newRow("a factor of six decimals") << 1.333333 << 0.0 << "3"
                                              << "4.00"; // 3.999999
    QTest::newRow("a range: each end") << 1.2 << 5.0 << "28.00-35.00"
                                       << "38.60-47.00";
    QTest::newRow("text around a number") << 2.0 << 0.0 << "¥28 起"
                                          << "¥56.00 起";
    QTest::newRow("empty") << 1.2 << 5.0 << ""
                           << "";
    QTest::newRow("no number") << 1.2 << 5.0 << "面议"
                               << "面议";
    QTest::newRow("a discount below zero becomes 0") << 1.0 << -200.0 << "99.00"
                                                     << "0.00";
    QTest::newRow("a number too long for a price") << 2.0 << 0.0 << "1234567890123"
                                                   << "1234567890123";
    // 999999999999.999999 × 1000 + 1000000 = 1000000000999999.999: no overflow, rounded up.
    QTest::newRow("the largest price, factor and amount") << 1000.0 << 1000000.0 << "999999999999.999999"
                                                          << "1000000001000000.00";
}

void TestExport::adjustPrice() {
    QFETCH(double, factor);
    QFETCH(double, amount);
    QFETCH(QString, price);
    QFETCH(QString, adjusted);
    QCOMPARE(AdjustPrice(price, TPriceAdjustment{factor, amount}), adjusted);
}

void TestExport::cleaningAndFields() {
    const QString cleaned = CleanPageText(exportPage("1", "男装夹克", "128.00"));
    QVERIFY(!cleaned.contains('\r') && !cleaned.contains('\n'));
    QVERIFY(cleaned.contains("http://gd1.alicdn.com/bao/uploaded/i1/1/a.jpg"));
    QCOMPARE(AliasField(cleaned), "1627207:28341:红色;20509:28383:XL;");
    QCOMPARE(DescriptionField("<p class=\"a\">x\r\ny</p>\n"), "<p class=\"\"a\"\">xy</p>");
    // Every sale entry, in order: the first one follows "{", the others a comma.
    QCOMPARE(SkuField(QString(SaleReply).remove(' '), "128"), "128:5::1627207:28341;128:7::1627207:28342;");
    QCOMPARE(SkuField("error", "128"), "");
    // The title stops at -, 淘, 宝, 网 or <.
    QCOMPARE(TPatterns::FindsStr("<title>([^-淘宝网<]*)", QString("<title>A宝B-淘宝网</title>"), false), "A");
}

void TestExport::fillTemplate_data() {
    QTest::addColumn<QString>("rowTemplate");
    QTest::addColumn<QString>("line");
    QTest::newRow("a placeholder twice") << "k_title,k_title"
                                         << "T\tT";
    QTest::newRow("k1_sell_prop_desc is not hit by k_sell_prop") << "k_sell_prop|k1_sell_prop_desc"
                                                                 << "S|AL";
    QTest::newRow("an empty template") << ""
                                       << "";
    QTest::newRow("the user input placeholders are emptied") << "k_user_input_id|k_user_input_desc"
                                                             << "|";
    QTest::newRow("fixed fields stay as they are") << "1,\"k_title\",,0"
                                                   << "1\t\"T\"\t\t0";
}

void TestExport::fillTemplate() {
    QFETCH(QString, rowTemplate);
    QFETCH(QString, line);
    TExportValues v;
    v.title = "T";
    v.sellProp = "S";
    v.alias = "AL";
    QCOMPARE(FillTemplate(rowTemplate, v), line);
}

void TestExport::hostileValues_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("exported"); // the title field as it stands in the line
    QTest::newRow("a double quote") << "13\" 电脑包"
                                    << "\"13\"\" 电脑包\"";
    QTest::newRow("a comma") << "包, 黑色"
                             << "\"包, 黑色\"";
    QTest::newRow("a tab") << "包\t黑色"
                           << "\"包 黑色\"";
    QTest::newRow("line breaks") << "包\r\n黑色\n"
                                 << "\"包  黑色 \"";
    QTest::newRow("a placeholder's name") << "包 k_desc k_price"
                                          << "\"包 k_desc k_price\"";
    QTest::newRow("a placeholder's tail") << "black_price"
                                          << "\"black_price\"";
    QTest::newRow("everything at once") << "13\" laptop bag, black_price k_desc\t"
                                        << "\"13\"\" laptop bag, black_price k_desc \"";
}

void TestExport::hostileValues() {
    QFETCH(QString, title);
    QFETCH(QString, exported);
    TExportValues v;
    v.title = title;
    v.categoryId = "50010158";
    v.price = "168";
    v.province = "浙江";
    v.city = "杭州";
    v.description = DescriptionField("<p>\"描述\", 一\r\n二</p>");
    v.alias = "1627207:28341:红色;";
    const QStringList fields = FillTemplate(TServiceValues::DefaultCsvTemplate(), v).split('\t');
    // The row keeps its 60 fields, every value stays in its own column and is not searched.
    QCOMPARE(fields.size(), 60);
    auto field = [&fields](const char* name) { return FieldByName(fields, CsvHeaderLine(0), name); };
    QCOMPARE(field("title"), exported);
    QCOMPARE(field("cid"), "50010158");
    QCOMPARE(field("location_state"), "\"浙江\"");
    QCOMPARE(field("location_city"), "\"杭州\"");
    QCOMPARE(field("price"), "168");
    QCOMPARE(field("description"), "\"<p>\"\"描述\"\", 一二</p>\""); // prepared once, not doubled again
    QCOMPARE(field("propAlias"), "\"1627207:28341:红色;\"");
}

void TestExport::lookupPropPair_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("pair");
    const QString reply =
        "[{\"name\":\"颜色分类\",\"pid\":1627207},{\"name\":\"红色\",\"pid\":1627207,\"vid\":28326},"
        "{\"name\":\"尺码\",\"pid\":20509}]";
    QTest::newRow("name and value both found") << reply << "颜色分类"
                                               << "红色"
                                               << "1627207:28326;";
    QTest::newRow("a name that is the start of a longer one") << reply << "颜色"
                                                              << "红色"
                                                              << "1627207:28326;";
    QTest::newRow("an unknown value") << reply << "颜色分类"
                                      << "紫色"
                                      << "";
    QTest::newRow("an unknown name") << reply << "季节"
                                     << "红色"
                                     << "";
    QTest::newRow("the value found outside a name member")
        << "[{\"name\":\"尺码\",\"pid\":20509},{\"alias\":\"XL\",\"vid\":28383}]"
        << "尺码"
        << "XL"
        << "20509:28383;";
    QTest::newRow("parent_vid when vid is missing")
        << "[{\"name\":\"尺码\",\"pid\":20509},{\"name\":\"XL\",\"parent_vid\":777,\"x\":1}]"
        << "尺码"
        << "XL"
        << "20509:777;";
    QTest::newRow("parent_vid when vid is empty")
        << "[{\"name\":\"尺码\",\"pid\":20509},{\"name\":\"XL\",\"parent_vid\":777,\"vid\": }]"
        << "尺码"
        << "XL"
        << "20509:777;";
    QTest::newRow("a slash is looked up as \\/")
        << "[{\"name\":\"上市年份\\/季节\",\"pid\":1},{\"name\":\"2015\\/春\","
           "\"vid\":2}]"
        << "上市年份/季节"
        << "2015/春"
        << "1:2;";
    QTest::newRow("the vid runs to the end of its object")
        << "[{\"name\":\"尺码\",\"pid\":20509},{\"name\":\"XL\",\"vid\":28383,\"sort\":2}]"
        << "尺码"
        << "XL"
        << "20509:28383,\"sort\":2;";
    QTest::newRow("a closing brace more than 500 characters away")
        << "[{\"name\":\"尺码\"," + QString(500, 'x') + ",\"pid\":20509},{\"name\":\"XL\",\"vid\":1}]"
        << "尺码"
        << "XL"
        << "";
    QTest::newRow("the pid within 500 characters")
        << "[{\"name\":\"尺码\"," + QString(450, 'x') + ",\"pid\":20509},{\"name\":\"XL\",\"vid\":1}]"
        << "尺码"
        << "XL"
        << "20509:1;";
}

void TestExport::lookupPropPair() {
    QFETCH(QString, reply);
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, pair);
    QCOMPARE(LookupPropPair(reply, name, value), pair);
}

void TestExport::propertyField_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("props");
    QTest::addColumn<QString>("field");
    const QString reply =
        "[{\"name\":\"颜色分类\",\"pid\":1627207},{\"name\":\"红色\",\"vid\":28326},{\"name\":\"蓝色\","
        "\"vid\":28340},{\"name\":\"黑色\",\"vid\":28341},{\"name\":\"材质\",\"pid\":20021},"
        "{\"name\":\"棉\",\"vid\":105255}]";
    QTest::newRow("two pairs, one semicolon between") << reply << "颜色分类:红色,材质:棉"
                                                      << "1627207:28326;20021:105255";
    QTest::newRow("three space-separated values give three pairs")
        << reply << "\"颜色分类:红色 蓝色 黑色\""
        << "1627207:28326;1627207:28340;1627207:28341";
    QTest::newRow("the value is trimmed") << reply << "\"材质:  棉 \""
                                          << "20021:105255";
    QTest::newRow("an attribute not found gives nothing") << reply << "颜色分类:红色,产地:中国"
                                                          << "1627207:28326";
    QTest::newRow("a reply error") << "error"
                                   << "颜色分类:红色"
                                   << "";
    QTest::newRow("an empty reply") << ""
                                    << "颜色分类:红色"
                                    << "";
}

void TestExport::propertyField() {
    QFETCH(QString, reply);
    QFETCH(QString, props);
    QFETCH(QString, field);
    QCOMPARE(CategoryPropertyField(reply, props), field);
}

void TestExport::realPropertyReply_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("props");
    QTest::addColumn<QString>("field");
    QTest::newRow("a reply in the service's form") << TOVREL_TEST_DATA_DIR "/taobao-props-reply.json"
                                                   << "\"颜色分类:黑色 驼色\",面料:羊绒"
                                                   << "1627207:28341;1627207:3224419;122216347:28335";
    const QString real = TOVREL_CORPUS_DIR "/taobao-props/ajax-props-cid50010850-2018.json";
    if (QFile::exists(real))
        QTest::newRow("a real reply of 2018") << real << "\"颜色分类:乳白色 军绿色\""
                                              << "1627207:28321;1627207:3232483";
}

void TestExport::realPropertyReply() {
    QFETCH(QString, file);
    QFETCH(QString, props);
    QFETCH(QString, field);
    const QByteArray reply = readFile(file);
    QVERIFY(!reply.isEmpty());
    QCOMPARE(CategoryPropertyField(QString::fromUtf8(reply), props), field);
}

void TestExport::twoItemsByteForByte() {
    addRow("1", "男装夹克", "128.00", "品牌:李宁", "<p>描述 \"一\"</p>\r\n");
    addRow("3", "不导出", "1.00", "", "", false);
    addRow("2", "女装", "99.50", "\"材质: 棉\"");
    QSignalSpy status(m_core, &TAppCore::statusTextChanged);
    QSignalSpy log(m_core, &TAppCore::logLine);
    bool written = false;
    const QString csv = runExport(&written);
    QVERIFY(written);
    QVERIFY(QFileInfo(csv).fileName().startsWith("KVR_"));
    QVERIFY(QFileInfo(csv.left(csv.size() - 4)).isDir()); // the picture folder

    const QMap<QString, QString> common = {
        {"k_id", "50010158"}, {"k_province", "浙江"},
        {"k_city", "杭州"},   {"k_qty", "25"},
        {"k_pic", ""},        {"k1_sell_prop_desc", "1627207:28341:红色;20509:28383:XL;"}};
    QMap<QString, QString> first = common;
    first.insert({{"k_title", "男装夹克"},
                  {"k_price", "128"},
                  {"k_desc", "<p>描述 \"\"一\"\"</p>"},
                  {"k_goods_prop", "20000:3227292"},
                  {"k_sell_prop", "128:5::1627207:28341;128:7::1627207:28342;"}});
    QMap<QString, QString> second = common;
    second.insert({{"k_title", "女装"},
                   {"k_price", "99.50"},
                   {"k_desc", "<p>描述</p>"},
                   {"k_goods_prop", "20021:105255"},
                   {"k_sell_prop", "99.50:5::1627207:28341;99.50:7::1627207:28342;"}});
    const QStringList lines = {"version 1.00", CsvHeaderLine(0).replace(',', '\t'),
                               CsvHeaderLine(10).replace(',', '\t'), expectedLine(first),
                               expectedLine(second)};
    QCOMPARE(readFile(csv), utf16File(lines));
    QCOMPARE(expectedLine(first).split('\t').size(), 60);

    QCOMPARE(status.last().first().toString(), "导出记录[2]条");
    QStringList logged;
    for (const auto& args : log)
        logged.append(args.first().toString());
    QCOMPARE(logged, (QStringList{"开始下载...", "宝贝 “男装夹克” 开始下载...",
                                  "宝贝 “男装夹克” 正在下载商品主图......", "宝贝 “男装夹克” 下载完毕.",
                                  "宝贝 “女装” 开始下载...", "宝贝 “女装” 正在下载商品主图......",
                                  "宝贝 “女装” 下载完毕.", "★★★已经全部下载完毕★★★"}));
    // The sale data went through HGetTextLib's fixed host.
    for (const TSimRequest& r : m_sim->Requests())
        if (r.Path.startsWith("/json/sib.htm"))
            QCOMPARE(r.Header("Host"), QByteArray("detailskip.taobao.com"));
}

void TestExport::noSelectedRow() {
    // Nothing ticked: said so, and no package, no folder and no job.
    addRow("1", "男装夹克", "128.00", "品牌:李宁", "", false);
    QSignalSpy captions(m_core, &TAppCore::captionChanged);
    const QString out = m_env->File("out");
    QDir().mkpath(out);
    const TStatus started = m_core->StartExportTo(out);
    QVERIFY(!started);
    QCOMPARE(started.error().Detail, "没有选中的宝贝");
    QVERIFY(!m_core->StartExport(ExportJobFor(out)));
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(captions.size(), 0);
    QCOMPARE(m_sim->Requests().size(), 0);
}

void TestExport::failingSaleDataStillExports() {
    m_sim->Route("detailskip.taobao.com", "/json/sib.htm?itemId=1", TSimResponse());
    m_core->Table()->AppendRow([](TRowWriter& row) {
        row.SetCell(ColTitle, "无销售数据");
        row.SetCell(ColHtml, "<title>无销售数据-淘宝网</title>\"wholeSibUrl\":\"http://127.0.0.1:1/sib\"");
    });
    const TExportedCsv csv = TExportedCsv::Read(runExport());
    QCOMPARE(csv.lines.size(), 5); // three header lines, the row, and the empty text after the last LF
    QCOMPARE(csv.items.value(0).size(), 60);
    QCOMPARE(csv.Field(0, "title"), "\"无销售数据\"");
    QCOMPARE(csv.Field(0, "location_state"), "\"\""); // no province
    QCOMPARE(csv.Field(0, "skuProps"), "\"\"");       // no SKU entries
}

void TestExport::newerLayoutSaleData_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("id");
    QTest::newRow("a page in the 2018 layout") << TOVREL_TEST_DATA_DIR "/taobao-item-2018.html"
                                               << "600000000001";
    const QString real = TOVREL_CORPUS_DIR "/taobao-item/tb-item-raw-2018-561495525977.html";
    if (QFile::exists(real))
        QTest::newRow("a real raw page of 2018") << real << "561495525977";
}

void TestExport::newerLayoutSaleData() {
    QFETCH(QString, file);
    QFETCH(QString, id);
    // The page's sale data is written wholeSibUrl : '//detailskip...'; the reply is served there.
    const QString page = THttpClient::DecodeBody(readFile(file), "text/html; charset=GBK");
    const QUrl sale(SaleDataAddress(page));
    QCOMPARE(sale.scheme(), "http");
    QCOMPARE(sale.host(), "detailskip.taobao.com");
    QVERIFY(sale.query().startsWith("itemId=" + id));
    m_sim->Route(
        "detailskip.taobao.com", sale.path(QUrl::FullyEncoded) + '?' + sale.query(QUrl::FullyEncoded),
        TSimResponse::Text("{\"data\":{\"deliveryFee\":{\"data\":{\"sendCity\":\"浙江杭州\"}}}}", "GBK"));
    m_core->UpdateChoices([](TChoices& c) { c.NoMainPictures = true; });
    m_core->Table()->AppendRow([&page](TRowWriter& row) {
        row.SetCell(ColTitle, "羽绒服");
        row.SetCell(ColHtml, page);
    });
    const TExportedCsv csv = TExportedCsv::Read(runExport());
    QCOMPARE(csv.lines.size(), 5);
    QCOMPARE(csv.Field(0, "location_state"), "\"浙江\"");
    QCOMPARE(csv.Field(0, "location_city"), "\"杭州\"");
}

void TestExport::propertyOptionsAndCache() {
    addRow("1", "男装夹克", "128.00", "品牌:李宁");
    const QString propsPath = "/apitools/ajax_props.do?act=props&cid=50010158";
    runExport();
    runExport();
    QCOMPARE(m_sim->Count("open.taobao.com", propsPath), 1); // the second export used the cache
    // "不下载商品属性" or a blank Head: no request, no field.
    QFile::remove(m_env->File("DB.MDB"));
    m_env->StopCore(); // the working folder is free again
    m_core = &m_env->Core();
    addRow("1", "男装夹克", "128.00", "品牌:李宁");
    m_core->UpdateChoices([](TChoices& c) { c.NoProperties = true; });
    runExport();
    QFile ini(m_env->File("service.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[service]\nHead=\n");
    ini.close();
    m_core->UpdateChoices([](TChoices& c) { c.NoProperties = false; });
    const QString csv = runExport();
    QCOMPARE(m_sim->Count("open.taobao.com", propsPath), 1);
    QVERIFY(!readUtf16File(csv).contains("20000"));
}

void TestExport::hintLine_data() {
    QTest::addColumn<int>("items");
    QTest::addColumn<bool>("hint");
    QTest::newRow("ten items") << 10 << false;
    QTest::newRow("eleven items, one selected") << 11 << true;
}

void TestExport::hintLine() {
    // The hint counts the table's rows, not the selected ones.
    QFETCH(int, items);
    QFETCH(bool, hint);
    for (int i = 0; i < items; ++i)
        addRow("1", "x", "1", "", "", i == 0);
    QSignalSpy log(m_core, &TAppCore::logLine);
    runExport();
    QCOMPARE(log.size() > 1 &&
                 log[1].first().toString() == "下载的数据大于10条,请耐心等待^_^!~ 或者先去做点别的吧",
             hint);
}

void TestExport::unwritableFileIsReported() {
    QSignalSpy status(m_core, &TAppCore::statusTextChanged);
    QSignalSpy log(m_core, &TAppCore::logLine);
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    addRow("1", "男装夹克", "128.00", "");
    TExportJob job = ExportJobFor(m_env->File("missing/folder"));
    job.pictureFolder = m_env->File("pictures"); // made by the command; the CSV's folder is missing
    QVERIFY(m_core->StartExport(job));
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.first()[1].value<TJobResult>().Outcome, TJobOutcome::Failed);
    QVERIFY(log.last().first().toString().startsWith("无法写入文件"));
    QCOMPARE(status.last().first().toString(), "导出失败");
}

void TestExport::fileInUse() {
    const QString path = m_env->File("KVR_1.csv");
    QVERIFY(!FileInUse(path)); // no file
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
    f.close();
    QVERIFY(!FileInUse(path));
    // Another process holding the file open for writing.
    QProcess holder;
    holder.start("/bin/sh", {"-c", "exec 3>>\"$0\"; echo ready; exec sleep 30", path});
    QVERIFY(holder.waitForReadyRead(10000));
    QVERIFY(FileInUse(path));
    holder.kill();
    holder.waitForFinished();
    QVERIFY(!FileInUse(path));
    // An office suite's lock file beside it.
    QFile lock(m_env->File(".~lock.KVR_1.csv#"));
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.close();
    QVERIFY(FileInUse(path));
}

void TestExport::failuresAreReportedAndNotCached() {
    // The sale-data and property services are down (the proxy answers for them with an error).
    const QString propsPath = "/apitools/ajax_props.do?act=props&cid=50010158";
    m_sim->Route("detailskip.taobao.com", "/json/sib.htm?itemId=1",
                 TSimResponse::Text("<html>Bad Gateway</html>", "UTF-8", 502));
    m_sim->Route("open.taobao.com", propsPath, TSimResponse::Text("<html>Bad Gateway</html>", "UTF-8", 502));
    addRow("1", "男装夹克", "128.00", "品牌:李宁");
    QSignalSpy log(m_core, &TAppCore::logLine);
    QSignalSpy status(m_core, &TAppCore::statusTextChanged);
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    const QString out = m_env->File("out");
    QDir().mkpath(out);
    QVERIFY(m_core->StartExport(ExportJobFor(out)));
    QVERIFY(finished.wait(30000));
    const TJobResult result = finished.first()[1].value<TJobResult>();
    // The file is written with what could be had, and the export says what is missing.
    QCOMPARE(result.Outcome, TJobOutcome::Failed);
    QCOMPARE(result.Produced.size(), 1);
    const TExportedCsv incomplete = TExportedCsv::Read(result.Produced.first());
    QCOMPARE(incomplete.items.value(0).size(), 60);
    QCOMPARE(incomplete.Field(0, "location_state"), "\"\""); // no province
    QVERIFY2(result.Summary.contains("销售数据无法获取：“男装夹克”") &&
                 result.Summary.contains("宝贝属性无法获取：“男装夹克”"),
             qPrintable(result.Summary));
    QStringList logged;
    for (const auto& args : log)
        logged.append(args.first().toString());
    QVERIFY(!logged.contains("★★★已经全部下载完毕★★★"));
    QCOMPARE(logged.last(), result.Summary);
    QCOMPARE(status.last().first().toString(), "导出记录[1]条，有数据不完整");
    // The failed property request was not kept: once the service is back, it is asked again.
    m_sim->Route("detailskip.taobao.com", "/json/sib.htm?itemId=1", TSimResponse::Text(SaleReply, "GBK"));
    m_sim->Route("open.taobao.com", propsPath, TSimResponse::Text(PropsReply));
    bool written = false;
    const QString csv = runExport(&written);
    QVERIFY(written);
    QCOMPARE(m_sim->Count("open.taobao.com", propsPath), 2);
    QVERIFY(readUtf16File(csv).contains("20000:3227292"));
}

void TestExport::pageAddressesToThisMachineAreRefused() {
    // A page whose sale data and main picture point at the seller's own machine.
    const QString page = exportPage("1", "男装夹克", "128.00")
                             .replace("http://detailskip.taobao.com/json/sib.htm?itemId=1",
                                      "http://192.168.1.1/json/sib.htm?itemId=1") +
                         "<img data-src=\"http://127.0.0.1:8080/admin/photo.jpg\">";
    m_sim->Route("192.168.1.1", "/json/sib.htm?itemId=1", TSimResponse::Text(SaleReply, "GBK"));
    m_core->Table()->AppendRow([&page](TRowWriter& row) {
        row.SetCell(ColTitle, "男装夹克");
        row.SetCell(ColPrice, "128.00");
        row.SetCell(ColHtml, page);
    });
    QSignalSpy log(m_core, &TAppCore::logLine);
    bool written = true;
    const QString csv = runExport(&written);
    QVERIFY(!csv.isEmpty());
    QVERIFY(!written); // incomplete: the refused parts are missing
    QCOMPARE(TExportedCsv::Read(csv).Field(0, "location_state"),
             "\"\""); // no province from the refused sale data
    QStringList logged;
    for (const auto& args : log)
        logged.append(args.first().toString());
    const QString all = logged.join('\n');
    QVERIFY2(all.contains("销售数据地址 http://192.168.1.1/json/sib.htm?itemId=1 指向本机或内部网络"),
             qPrintable(all));
    QVERIFY2(
        all.contains(QRegularExpression("图片 http://127.0.0.1:8080/\\S* 没有保存：地址指向本机或内部网络")),
        qPrintable(all));
    for (const TSimRequest& r : m_sim->Requests())
        QVERIFY2(r.Host != "192.168.1.1" && r.Host != "127.0.0.1", r.Target.constData());
}

void TestExport::tmallItemExportsLikeATaobaoItem() {
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray jpg;
    QBuffer buffer(&jpg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG");
    const TSimResponse image{200, {{"Content-Type", "image/jpeg"}}, jpg};
    m_sim->Route("gi1.md.alicdn.com", "/bao/uploaded/i1/TB1main_!!0-item_pic.jpg", image);
    m_sim->Route("gi2.md.alicdn.com", "/bao/uploaded/i2/100/TB2second_!!100.jpg", image);
    m_sim->Route("gi3.md.alicdn.com", "/bao/uploaded/i3/100/TB2black_!!100.jpg", image);
    m_sim->Route("open.taobao.com", "/apitools/ajax_props.do?act=props&cid=50012027",
                 TSimResponse::Text(PropsReply));
    const QString page = QString::fromUtf8(readFile(TOVREL_TEST_DATA_DIR "/tmall-item-2015.html"));
    m_core->Table()->AppendRow([&page](TRowWriter& row) {
        row.SetCell(ColTitle, "羊皮休闲女鞋");
        row.SetCell(ColPrice, "1499.00");
        row.SetCell(ColHtml, page);
        row.SetCell(ColLink, "http://detail.tmall.com/item.htm?id=44089553661");
        row.SetCell(ColDetail, "<p>天猫的描述</p>");
    });
    bool written = false;
    const QString csv = runExport(&written);
    QVERIFY(written);
    const TExportedCsv package = TExportedCsv::Read(csv);
    QCOMPARE(package.items.value(0).size(), 60);
    QCOMPARE(package.Field(0, "cid"), "50012027"); // the category from the Tmall data
    QCOMPARE(package.Field(0, "num"), "131");      // the page's own stock
    // The stock of each combination from the page's own data (written there without quotes).
    QCOMPARE(package.Field(0, "skuProps"),
             "\"1499:1::20549:103189693;1627207:28341;1499:7::20549:418624880;1627207:28341;\"");
    // Two main pictures (one protocol-relative) and the sale-property picture, all written.
    const QString first =
        Md5Text("http://gi1.md.alicdn.com/bao/uploaded/i1/TB1main_!!0-item_pic.jpg").toLower();
    const QString second =
        Md5Text("http://gi2.md.alicdn.com/bao/uploaded/i2/100/TB2second_!!100.jpg").toLower();
    const QString black = Md5Text("http://gi3.md.alicdn.com/bao/uploaded/i3/100/TB2black_!!100.jpg");
    QCOMPARE(package.Field(0, "picture"),
             "\"" + first + ":1:0:|;" + second + ":1:1:|;" + black + ":2:0:1627207:28341|;\"");
    QCOMPARE(QDir(csv.left(csv.size() - 4)).entryList(QDir::Files).size(), 3);
    // No sale-data request: the page held it.
    for (const TSimRequest& r : m_sim->Requests())
        QVERIFY2(!r.Path.contains("sib"), r.Target.constData());
}

void TestExport::jobKeepsTheServiceValuesItStartedWith_data() {
    QTest::addColumn<QString>("what");
    QTest::newRow("the sale-data request's cookie") << "cookie";
    QTest::newRow("the sale-data request's Host header") << "host";
    QTest::newRow("the property service's host") << "props";
    QTest::newRow("the picture CDN rewrite") << "cdn";
}

void TestExport::jobKeepsTheServiceValuesItStartedWith() {
    QFETCH(QString, what);
    auto serviceIni = [](const QByteArray& v) {
        return "[service]\nCookieLib=cookie-" + v + "\nDetailDataHost=data-" + v +
               ".example\nPropsHost=props-" + v + ".example\nPictureCdnOld=old.example\nPictureCdnNew=new-" +
               v + ".example\n";
    };
    m_env->WriteServiceIni(serviceIni("a"));
    // The sale data of the first eight items comes late: the file changes while the export waits
    // for it, and the ninth item (the export fetches eight at a time) is read after the change.
    TSimResponse sale = TSimResponse::Text(SaleReply, "GBK");
    sale.DelayMs = 1500;
    const int items = 9;
    for (int id = 1; id < items; ++id)
        m_sim->Route("sib.example", QString("/sib?itemId=%1").arg(id), sale);
    m_sim->Route("sib.example", QString("/sib?itemId=%1").arg(items), TSimResponse::Text(SaleReply, "GBK"));
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QByteArray jpg;
    QBuffer buffer(&jpg);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "JPEG");
    for (const char* host : {"img.new-a.example", "img.new-b.example"})
        m_sim->Route(host, "/p/main.jpg", TSimResponse{200, {{"Content-Type", "image/jpeg"}}, jpg});
    for (const char* host : {"props-a.example", "props-b.example"})
        m_sim->Route(host, "/apitools/ajax_props.do?act=props&cid=50010158", TSimResponse::Text(PropsReply));
    for (int id = 1; id <= items; ++id)
        m_core->Table()->AppendRow([id](TRowWriter& row) {
            row.SetCell(ColTitle, QStringLiteral("快照%1").arg(id));
            row.SetCell(ColPrice, "10.00");
            row.SetCell(ColHtml,
                        QStringLiteral(
                            "<div data-catid=\"50010158\"></div>\"wholeSibUrl\":\"http://sib.example/"
                            "sib?itemId=%1\"<img data-src=\"http://img.old.example/p/main.jpg_60x60.jpg\">")
                            .arg(id));
        });
    const QString out = m_env->File("out");
    QDir().mkpath(out);
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    QVERIFY(m_core->StartExport(ExportJobFor(out)));
    // The first sale-data request, whichever row's it is (rows take their places among the
    // requests in flight in any order): the rest of the first eight wait 1.5 s for it or for a
    // place of their own, the ninth for a row to end.
    const auto saleDataAsked = [this] {
        const QList<TSimRequest> requests = m_sim->Requests();
        return std::any_of(requests.cbegin(), requests.cend(),
                           [](const TSimRequest& r) { return r.Path.startsWith("/sib?"); });
    };
    QTRY_VERIFY(saleDataAsked());
    m_env->WriteServiceIni(serviceIni("b"));
    const qint64 changedUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count();
    QVERIFY(finished.wait(30000));
    // The requests of that kind that arrived after the change: there are some, and every one of
    // them carries the values the export started with.
    QList<TSimRequest> after;
    for (const TSimRequest& r : m_sim->Requests()) {
        const bool ofKind = what == "cookie" || what == "host" ? r.Path.startsWith("/sib?")
                            : what == "props"                  ? r.Path.startsWith("/apitools/ajax_props.do")
                                                               : r.Path == "/p/main.jpg";
        if (ofKind && r.ArrivedUs > changedUs)
            after.append(r);
    }
    QVERIFY(!after.isEmpty());
    for (const TSimRequest& r : after) {
        if (what == "cookie")
            QCOMPARE(r.Header("Cookie"), QByteArray("cookie-a"));
        else if (what == "host")
            QCOMPARE(r.Header("Host"), QByteArray("data-a.example"));
        else if (what == "props")
            QCOMPARE(r.Host, QByteArray("props-a.example"));
        else
            QCOMPARE(r.Host, QByteArray("img.new-a.example"));
    }
}

void TestExport::editedTitleAndPriceAreExported() {
    addRow("1", "男装夹克", "128.00", "");
    addRow("2", "女装", "99.50", "");
    // The first item edited, the second re-titled from a file.
    TItemEdit edit;
    edit.Title = QString(" 改过的名称 ");
    edit.Price = QString("150.00");
    QVERIFY(m_core->EditItem(1, edit).ok());
    writeFile(m_env->File("titles.txt"), "\xEF\xBB\xBF新名称一\r\n新名称二\r\n");
    QCOMPARE(*m_core->RetitleFromFile(m_env->File("titles.txt")), 2);
    QCOMPARE(m_core->Table()->Cell(ColTitle, 1), "新名称一");
    QVERIFY(m_core
                ->EditItem(1,
                           [] {
                               TItemEdit e;
                               e.Title = QString("编辑后的大衣");
                               return e;
                           }())
                .ok());
    const TExportedCsv csv = TExportedCsv::Read(runExport());
    // What the table shows is what the package carries: trimmed, the price without ".00", also in
    // the SKU field.
    QCOMPARE(csv.Field(0, "title"), "\"编辑后的大衣\"");
    QCOMPARE(csv.Field(0, "price"), "150");
    QCOMPARE(csv.Field(0, "skuProps"), "\"150:5::1627207:28341;150:7::1627207:28342;\"");
    QCOMPARE(csv.Field(1, "title"), "\"新名称二\"");
    QCOMPARE(csv.Field(1, "price"), "99.50");
    // The page text is untouched.
    QVERIFY(m_core->Table()->Cell(ColHtml, 1).contains("<title>男装夹克-淘宝网</title>"));
}

void TestExport::adjustedPricesAreExported() {
    addRow("1", "男装夹克", "128.00", "");
    addRow("2", "女装", "28.00-35.00", "");
    m_core->UpdateChoices([](TChoices& c) {
        c.PriceFactor = 1.2;
        c.PriceAmount = 5;
    });
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    const TExportedCsv csv = TExportedCsv::Read(runExport());
    // 128 × 1.2 + 5, in the price field and in every SKU entry; a range adjusted at each end (and
    // ".00" dropped as for any exported price).
    QCOMPARE(csv.Field(0, "price"), "158.60");
    QCOMPARE(csv.Field(0, "skuProps"), "\"158.60:5::1627207:28341;158.60:7::1627207:28342;\"");
    QCOMPARE(csv.Field(1, "price"), "38.60-47");
    QVERIFY(csv.Field(1, "skuProps").startsWith("\"38.60-47:5::"));
    // The table keeps the prices as they were.
    QCOMPARE(m_core->Table()->Cell(ColPrice, 1), "128.00");
    const TJobResult result = finished.first()[1].value<TJobResult>();
    QCOMPARE(TAppCore::OutcomeText(TJobKind::Export, result), "完成：导出 2 个宝贝");
}

void TestExport::stoppedExportWritesNoFile() {
    // The second row's sale data never comes: the export is stopped while it waits.
    TSimResponse silent;
    silent.Silent = true;
    m_sim->Route("detailskip.taobao.com", "/json/sib.htm?itemId=2", silent);
    addRow("1", "男装夹克", "128.00", "");
    addRow("2", "女装", "99.50", "");
    // The first row's main picture is saved before the stop.
    m_core->Table()->SetCell(ColHtml, 1,
                             m_core->Table()->Cell(ColHtml, 1) +
                                 "<img data-src=\"http://img.alicdn.com/bao/a.jpg_60x60.jpg\">");
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    m_sim->Route("img.alicdn.com", "/bao/a.jpg", TSimResponse{200, {{"Content-Type", "image/png"}}, png});
    QSignalSpy log(m_core, &TAppCore::logLine);
    QSignalSpy advanced(m_core, &TAppCore::jobAdvanced);
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    const QString out = m_env->File("out");
    QDir().mkpath(out);
    const TExportJob job = ExportJobFor(out);
    QVERIFY(m_core->StartExport(job));
    QTRY_VERIFY(m_sim->Count("detailskip.taobao.com", "/json/sib.htm?itemId=2") == 1);
    // Rows are fetched side by side: the second row's request may go out before the first row
    // is finished, so the stop waits until the first row has been counted.
    QTRY_VERIFY(!advanced.isEmpty() && advanced.last()[1].toLongLong() == 1);
    m_core->StopJob(TJobKind::Export);
    QVERIFY(finished.wait(10000));
    const TJobResult result = finished.first()[1].value<TJobResult>();
    QCOMPARE(result.Outcome, TJobOutcome::Stopped);
    QVERIFY(!QFile::exists(job.csvPath));
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList());
    // The pictures saved so far are in a folder named as unfinished, not the package's.
    QVERIFY(!QFileInfo::exists(job.pictureFolder));
    QCOMPARE(QDir(job.pictureFolder + "_未完成").entryList(QDir::Files).size(), 1);
    QCOMPARE(log[log.size() - 2].first().toString(), "导出已停止，没有写入 CSV 文件");
    QCOMPARE(log.last().first().toString(),
             "已保存的图片在 " + QDir::toNativeSeparators(job.pictureFolder + "_未完成"));
    QCOMPARE(TAppCore::OutcomeText(TJobKind::Export, result), "已停止：没有写入 CSV 文件");
    // The first row had been counted: "导出 1/2".
    QCOMPARE(TAppCore::ProgressText(TJobKind::Export, advanced.last()[1].toLongLong(),
                                    advanced.last()[2].toLongLong()),
             "导出 1/2");
}

void TestExport::rowDeletedDuringExport() {
    // The first row's sale data is slow, so the deletes land while the export runs.
    TSimResponse slow = TSimResponse::Text(SaleReply, "GBK");
    slow.DelayMs = 400;
    m_sim->Route("detailskip.taobao.com", "/json/sib.htm?itemId=1", slow);
    m_sim->Route("detailskip.taobao.com", "/json/sib.htm?itemId=3", TSimResponse::Text(SaleReply, "GBK"));
    addRow("1", "一号", "1.00", "");
    addRow("2", "二号", "2.00", "");
    addRow("3", "三号", "3.00", "");
    const QString out = m_env->File("out");
    QDir().mkpath(out);
    const TExportJob job = ExportJobFor(out);
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    QVERIFY(m_core->StartExport(job));
    QVERIFY(StringGridDel(*m_core->Table(), 2));
    QVERIFY(StringGridDel(*m_core->Table(), 1));
    QVERIFY(finished.wait(30000));
    // The export works on the rows selected when it started: each once, in order.
    QStringList titles;
    for (const QString& line : readUtf16File(job.csvPath).split('\n').mid(3, 3))
        titles.append(line.section('\t', 0, 0));
    QCOMPARE(titles, (QStringList{"\"一号\"", "\"二号\"", "\"三号\""}));
}

void TestExport::shutdownStopsExportThenSaves() {
    // The sale data never arrives: the export is still at its first row when the program ends.
    TSimResponse silent;
    silent.Silent = true;
    m_sim->Route("detailskip.taobao.com", "/json/sib.htm?itemId=1", silent);
    addRow("1", "男装夹克", "128.00", "");
    QSignalSpy log(m_core, &TAppCore::logLine);
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    const QString out = m_env->File("out");
    QDir().mkpath(out);
    const TExportJob job = ExportJobFor(out);
    QVERIFY(m_core->StartExport(job));
    QTRY_VERIFY(m_sim->Count("detailskip.taobao.com", "/json/sib.htm?itemId=1") == 1);
    // Another job that adds a row as it stops, after the export began.
    QVERIFY(m_core->StartJob(TJobKind::Update, [this](const TJobContext& job) {
        while (!job.Stopped())
            QThread::msleep(5);
        m_core->TableChanges().Apply([](TItemTable& table) {
            table.AppendRow([](TRowWriter& row) { row.SetCell(ColTitle, "停止时加入"); });
        });
        return TJobResult{TJobOutcome::Stopped, {}, {}};
    }));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(m_core->Shutdown().ok());
    QVERIFY(clock.elapsed() < 10000); // the request in flight was abandoned, not waited out
    QCOMPARE(finished.size(), 2);
    QCOMPARE(finished[0][1].value<TJobResult>().Outcome, TJobOutcome::Stopped);
    // No half CSV, and a log that says so rather than "done".
    QVERIFY(!QFile::exists(job.csvPath));
    QStringList logged;
    for (const auto& args : log)
        logged.append(args.first().toString());
    QVERIFY(!logged.contains("★★★已经全部下载完毕★★★"));
    QVERIFY2(logged.last().contains("导出已停止"), qPrintable(logged.join('|')));
    // The save came after the jobs had ended: the row added as the other job stopped is in the file.
    TItemTable saved;
    QVERIFY(LoadGridFromFile(saved, m_env->File("grid.db")).ok());
    QCOMPARE(saved.RowCount(), 3);
    QCOMPARE(saved.Cell(ColTitle, 2), "停止时加入");
}

QTEST_MAIN(TestExport)
void TestExport::rowsAtOnceWriteWhatOneAtATimeWrites() {
    // Twelve items whose pictures come after different delays, so that rows fetched at once finish
    // out of order; every reply takes at least 100 ms. The sale data of each comes after the same
    // delay, so that the rows under way all ask for their pictures at about the same time.
    const int items = 12;
    const int minDelayMs = 100;
    QImage picture(8, 8, QImage::Format_RGB32);
    for (int id = 1; id <= items; ++id) {
        TSimResponse sale = TSimResponse::Text(SaleReply, "GBK");
        sale.DelayMs = minDelayMs;
        m_sim->Route("detailskip.taobao.com", QString("/json/sib.htm?itemId=%1").arg(id), sale);
        for (int n = 1; n <= 3; ++n) {
            picture.fill(QColor::fromHsv(id * 25 % 360, 200, 50 * n));
            QByteArray png;
            QBuffer buffer(&png);
            buffer.open(QIODevice::WriteOnly);
            picture.save(&buffer, "PNG");
            m_sim->Route(
                "img.example", QString("/p/%1_%2.png").arg(id).arg(n),
                TSimResponse{200, {{"Content-Type", "image/png"}}, png, minDelayMs + (id * n) % 5 * 40});
        }
        addRow(QString::number(id), QString("商品%1").arg(id), QString("%1.00").arg(id * 10), "");
        m_core->Table()->SetCell(ColHtml, id,
                                 m_core->Table()->Cell(ColHtml, id) +
                                     QString("<img data-src=\"http://img.example/p/%1_1.png\">"
                                             "<img data-src=\"http://img.example/p/%1_2.png\">"
                                             "<img data-src=\"http://img.example/p/%1_3.png\">")
                                         .arg(id));
    }
    TSimResponse props = TSimResponse::Text(PropsReply);
    props.DelayMs = minDelayMs;
    m_sim->Route("open.taobao.com", "/apitools/ajax_props.do?act=props&cid=50010158", props);

    struct TPackage {
        QByteArray csv;
        QMap<QString, QByteArray> pictures;
        QStringList log;
        QList<TSimRequest> requests;
    };
    auto exportWith = [&](int rowsAtOnce, const QString& folder) {
        TPackage package;
        m_sim->ClearRequests();
        const QString out = m_env->File(folder);
        QDir().mkpath(out);
        TExportJob job = ExportJobFor(out);
        job.rowsAtOnce = rowsAtOnce;
        QSignalSpy log(m_core, &TAppCore::logLine);
        QSignalSpy finished(m_core, &TAppCore::jobFinished);
        if (!m_core->StartExport(job) || !finished.wait(60000))
            return package;
        package.csv = readFile(job.csvPath);
        for (const QString& name : QDir(job.pictureFolder).entryList(QDir::Files))
            package.pictures.insert(name, readFile(QDir(job.pictureFolder).filePath(name)));
        for (const QList<QVariant>& line : std::as_const(log))
            package.log.append(line.first().toString());
        package.requests = m_sim->Requests();
        return package;
    };
    const TPackage one = exportWith(1, "one");
    const TPackage eight = exportWith(8, "eight");
    QCOMPARE(
        TExportedCsv::Parse(QString::fromUtf16(reinterpret_cast<const char16_t*>(one.csv.constData() + 2),
                                               (one.csv.size() - 2) / 2))
            .items.size(),
        items);
    QCOMPARE(one.pictures.size(), items * 3);
    // The same package byte for byte, and the same run log line for line.
    QCOMPARE(eight.csv, one.csv);
    QCOMPARE(eight.pictures, one.pictures);
    QCOMPARE(eight.log, one.log);

    // Requests in flight: every reply takes at least minDelayMs, so the requests that arrived
    // within minDelayMs before one were all still waiting when it arrived. That lower bound never
    // passes eight in all nor six to one host, and shows that several were in flight at once.
    auto mostAtOnce = [&](const QList<TSimRequest>& requests, const QByteArray& host) {
        int most = 0;
        for (const TSimRequest& r : requests) {
            if (!host.isEmpty() && r.Host != host)
                continue;
            int inFlight = 0;
            for (const TSimRequest& earlier : requests)
                if ((host.isEmpty() || earlier.Host == host) && earlier.ArrivedUs <= r.ArrivedUs &&
                    r.ArrivedUs - earlier.ArrivedUs < (minDelayMs - 10) * 1000)
                    ++inFlight;
            most = std::max(most, inFlight);
        }
        return most;
    };
    QCOMPARE(mostAtOnce(one.requests, {}), 1);
    const int inAll = mostAtOnce(eight.requests, {});
    QVERIFY2(inAll >= 4 && inAll <= 8, qPrintable(QString::number(inAll)));
    const int toPictureHost = mostAtOnce(eight.requests, "img.example");
    QVERIFY2(toPictureHost <= 6, qPrintable(QString::number(toPictureHost)));
}

#include "test_export.moc"
