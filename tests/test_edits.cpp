// The batch edits and the item edit, as the core does them (the editor window has its own tests).

#include "testenv.h"
#include "testfiles.h"

#include "app/appcore.h"
#include "app/itemtablemodel.h"
#include "base/choices.h"
#include "base/textlines.h"
#include "table/itemtable.h"

#include <QDir>
#include <QStringEncoder>
#include <QTest>

#include <sys/stat.h>

namespace {

void addItems(TItemTable& table, int count) {
    for (int i = 1; i <= count; ++i)
        table.AppendRow([i](TRowWriter& row) {
            row.SetCell(ColTitle, QStringLiteral("旧%1").arg(i));
            row.SetCell(ColPrice, QStringLiteral("%1.00").arg(i));
            row.SetCell(ColHtml, QStringLiteral("<title>页面%1</title>").arg(i));
            row.SetCell(ColWatermark, QStringLiteral("原水印"));
        });
}

QStringList titles(const TItemTable& table) {
    QStringList out;
    for (int r = 1; r < table.RowCount(); ++r)
        out.append(table.Cell(ColTitle, r));
    return out;
}

} // namespace

class TestEdits : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void textLines_data();
    void textLines();
    void retitleNeedsOneToAllItems_data();
    void retitleNeedsOneToAllItems();
    void retitleReadsOnlyRegularFiles_data();
    void retitleReadsOnlyRegularFiles();
    void batchWatermarkOnSelectedRows();
    void editItemChangesOnlyNamedParts();
    void pricesAsPagesShowThem_data();
    void pricesAsPagesShowThem();
    void itemLinksOfTheSource_data();
    void itemLinksOfTheSource();
    void addKeepsTheGoodLinesAndNamesTheBadOne();
    void deleteSelectedRows();
    void shownCellText_data();
    void shownCellText();

  private:
    std::unique_ptr<TTestEnvironment> m_env;
};

void TestEdits::init() {
    m_env = std::make_unique<TTestEnvironment>(TTestEnvironment::TProxy::None);
}

void TestEdits::cleanup() {
    m_env.reset();
}

void TestEdits::textLines_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QStringEncoder gbk("GBK");
    QStringEncoder utf16le(QStringEncoder::Utf16LE);
    QStringEncoder utf16be(QStringEncoder::Utf16BE);
    QTest::newRow("UTF-8 with its byte-order mark")
        << QByteArray("\xEF\xBB\xBF") + QString("甲\r\n乙").toUtf8() << QStringList{"甲", "乙"};
    QTest::newRow("UTF-16 little endian")
        << QByteArray("\xFF\xFE") + QByteArray(utf16le.encode(QString("甲\n乙\n")))
        << QStringList{"甲", "乙"};
    QTest::newRow("UTF-16 big endian")
        << QByteArray("\xFE\xFF") + QByteArray(utf16be.encode(QString("甲\r乙"))) << QStringList{"甲", "乙"};
    QTest::newRow("the ANSI code page")
        << QByteArray(gbk.encode(QString("羊绒大衣\r\n围巾\r\n"))) << QStringList{"羊绒大衣", "围巾"};
    QTest::newRow("CR LF, CR and LF mixed") << QByteArray("a\r\nb\rc\nd") << QStringList{"a", "b", "c", "d"};
    QTest::newRow("a final line break adds no line") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("empty lines stay") << QByteArray("a\n\n\nb") << QStringList{"a", "", "", "b"};
    QTest::newRow("a lone CR LF is one empty line") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("an empty file has no line") << QByteArray() << QStringList{};
    QTest::newRow("a byte-order mark alone") << QByteArray("\xEF\xBB\xBF") << QStringList{};
    QTest::newRow("UTF-8 without a byte-order mark")
        << QString::fromUtf16(u"羊绒大衣\n한국어 ß\U0001F600\n").toUtf8()
        << QStringList{"羊绒大衣", QString::fromUtf16(u"한국어 ß\U0001F600")};
}

void TestEdits::textLines() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(ReadTextLines(bytes), lines);
}

void TestEdits::retitleNeedsOneToAllItems_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("replaced"); // -1: refused
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("three lines, five items")
        << QByteArray("一\n二\n三\n") << 3 << QStringList{"一", "二", "三", "旧4", "旧5"};
    QTest::newRow("five lines, five items")
        << QByteArray("一\n二\n三\n四\n五") << 5 << QStringList{"一", "二", "三", "四", "五"};
    QTest::newRow("an empty line gives an empty title")
        << QByteArray("一\n\n三") << 3 << QStringList{"一", "", "三", "旧4", "旧5"};
    QTest::newRow("six lines: more than the items")
        << QByteArray("1\n2\n3\n4\n5\n6") << -1 << QStringList{"旧1", "旧2", "旧3", "旧4", "旧5"};
    QTest::newRow("an empty file") << QByteArray() << -1 << QStringList{"旧1", "旧2", "旧3", "旧4", "旧5"};
}

void TestEdits::retitleNeedsOneToAllItems() {
    QFETCH(QByteArray, file);
    QFETCH(int, replaced);
    QFETCH(QStringList, titles);
    TAppCore& core = m_env->Core();
    addItems(*core.Table(), 5);
    core.Table()->SetCell(ColSelect, 2, ""); // selection plays no part
    QStringEncoder gbk("GBK");
    writeFile(m_env->File("titles.txt"), gbk.encode(QString::fromUtf8(file)));
    const TResult<int> result = core.RetitleFromFile(m_env->File("titles.txt"));
    if (replaced < 0) {
        QCOMPARE(result.error().Code, TErrc::Refused);
        QVERIFY(!result.error().Detail.isEmpty()); // said, not silent
    } else {
        QCOMPARE(*result, replaced);
    }
    QCOMPARE(::titles(*core.Table()), titles);
    // A file that cannot be read changes nothing either.
    QCOMPARE(core.RetitleFromFile(m_env->File("missing.txt")).error().Code, TErrc::Io);
    QCOMPARE(::titles(*core.Table()), titles);
}

void TestEdits::retitleReadsOnlyRegularFiles_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("a pipe with nobody writing") << "fifo";
    QTest::newRow("an endless device") << "device";
    QTest::newRow("a folder") << "folder";
    QTest::newRow("a file over its size limit") << "large";
}

void TestEdits::retitleReadsOnlyRegularFiles() {
    QFETCH(QString, kind);
    TAppCore& core = m_env->Core();
    addItems(*core.Table(), 2);
    QString path = m_env->File("titles");
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "device") {
        path = "/dev/zero";
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(path));
    } else {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(65) << 20)); // sparse: no time spent writing it
    }
    // Refused at once: a pipe or a device that was read would never end (the test would time out).
    const TResult<int> result = core.RetitleFromFile(path);
    QVERIFY(!result.ok());
    QCOMPARE(result.error().Code, TErrc::Refused);
    QVERIFY(!result.error().Detail.isEmpty());
    QCOMPARE(::titles(*core.Table()), (QStringList{"旧1", "旧2"}));
}

void TestEdits::batchWatermarkOnSelectedRows() {
    TAppCore& core = m_env->Core();
    addItems(*core.Table(), 5);
    for (int r : {1, 3, 5})
        core.Table()->ToggleMark(r);                                       // rows 2 and 4 stay selected
    core.UpdateChoices([](TChoices& c) { c.WatermarkText = " 新水印 "; }); // as typed, untrimmed
    QCOMPARE(core.BatchWatermark(), 2);
    QStringList marks;
    for (int r = 1; r <= 5; ++r)
        marks.append(core.Table()->Cell(ColWatermark, r));
    QCOMPARE(marks, (QStringList{"原水印", " 新水印 ", "原水印", " 新水印 ", "原水印"}));
    // An empty box gives the selected rows an empty watermark.
    core.UpdateChoices([](TChoices& c) { c.WatermarkText.clear(); });
    QCOMPARE(core.BatchWatermark(), 2);
    QCOMPARE(core.Table()->Cell(ColWatermark, 2), "");
}

void TestEdits::editItemChangesOnlyNamedParts() {
    TAppCore& core = m_env->Core();
    addItems(*core.Table(), 2);
    TItemEdit edit;
    edit.Price = QString(" 88.00 "); // as typed, not trimmed
    edit.LocalDetail = QString("<p>新的描述</p>");
    QVERIFY(core.EditItem(2, edit).ok());
    const QStringList row = core.Table()->RowCells(2);
    QCOMPARE(row[ColPrice], " 88.00 ");
    QCOMPARE(row[ColLocalDetail], "<p>新的描述</p>");
    QCOMPARE(row[ColTitle], "旧2");
    QCOMPARE(row[ColHtml], "<title>页面2</title>");
    // The caption row, a row that does not exist, and a row without a number are no items.
    for (int row : {0, 3, -1})
        QCOMPARE(core.EditItem(row, edit).error().Code, TErrc::Refused);
    core.Table()->SetCell(ColNo, 1, "");
    QVERIFY(!core.EditItem(1, edit).ok());
    QCOMPARE(core.Table()->Cell(ColPrice, 1), "1.00");
}

QTEST_GUILESS_MAIN(TestEdits)
void TestEdits::pricesAsPagesShowThem_data() {
    QTest::addColumn<QString>("price");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("whole") << "99" << true;
    QTest::newRow("two decimals") << "128.00" << true;
    QTest::newRow("blanks around") << " 5.5 " << true;
    QTest::newRow("range") << "59.00-89.00" << true;
    QTest::newRow("range with blanks") << "59 - 89" << true;
    QTest::newRow("zero") << "0" << true;
    QTest::newRow("letters") << "abc" << false;
    QTest::newRow("negative") << "-5" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("three in a range") << "1-2-3" << false;
    QTest::newRow("currency sign") << "¥10" << false;
    QTest::newRow("comma") << "1,000" << false;
}

void TestEdits::pricesAsPagesShowThem() {
    QFETCH(QString, price);
    QFETCH(bool, accepted);
    QCOMPARE(TAppCore::WhyNotAPrice(price).isEmpty(), accepted);
}

void TestEdits::itemLinksOfTheSource_data() {
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("taobao item") << SourceTaobao << "http://item.taobao.com/item.htm?id=123" << true;
    QTest::newRow("tmall item, https")
        << SourceTaobao << "https://detail.tmall.com/item.htm?spm=a&id=123" << true;
    QTest::newRow("taobao without id") << SourceTaobao << "http://item.taobao.com/item.htm" << false;
    QTest::newRow("word") << SourceTaobao << "hello" << false;
    QTest::newRow("a title line") << SourceTaobao << "淘宝宝贝" << false;
    QTest::newRow("another site") << SourceTaobao << "http://example.com/item.htm?id=1" << false;
    QTest::newRow("look-alike host") << SourceTaobao << "http://nottaobao.com/item.htm?id=1" << false;
    QTest::newRow("ftp") << SourceTaobao << "ftp://item.taobao.com/item.htm?id=1" << false;
    QTest::newRow("1688 offer") << Source1688 << "http://detail.1688.com/offer/45678901.html" << true;
    QTest::newRow("1688 without number") << Source1688 << "http://detail.1688.com/offer/" << false;
    QTest::newRow("taobao link for 1688") << Source1688 << "http://item.taobao.com/item.htm?id=123" << false;
    QTest::newRow("paipai item") << SourcePaipai << "http://auction1.paipai.com/123456" << true;
}

void TestEdits::itemLinksOfTheSource() {
    QFETCH(int, source);
    QFETCH(QString, link);
    QFETCH(bool, accepted);
    QCOMPARE(TAppCore::WhyNotAnItemLink(source, link).isEmpty(), accepted);
}

void TestEdits::addKeepsTheGoodLinesAndNamesTheBadOne() {
    TAppCore& core = m_env->Core();
    QVERIFY(core.Startup().ok());
    TAppCore::TAddCounts counts;
    core.AddLinks(
        {"http://item.taobao.com/item.htm?id=1", "hello", "淘宝宝贝", "http://item.taobao.com/item.htm?id=2"},
        &counts);
    QCOMPARE(counts.added, 2);
    QCOMPARE(counts.refused, 2);
    QCOMPARE(counts.refusal, "第 2 行不是宝贝链接");
    QCOMPARE(core.LinkItems().Items(),
             (QStringList{"http://item.taobao.com/item.htm?id=1", "http://item.taobao.com/item.htm?id=2"}));
}

void TestEdits::deleteSelectedRows() {
    TAppCore& core = m_env->Core();
    addItems(*core.Table(), 5);
    for (int row : {1, 3})
        core.Table()->SetCell(ColSelect, row, QString());
    QCOMPARE(core.DeleteSelectedItems(), 3);
    QCOMPARE(titles(core.Items()), (QStringList{"旧1", "旧3"}));
    QCOMPARE(core.Items().Cell(ColNo, 2), "2");
    QCOMPARE(core.Items().Cell(ColHtml, 2), "<title>页面3</title>");
    QCOMPARE(core.DeleteSelectedItems(), 0);
}

void TestEdits::shownCellText_data() {
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("nbsp") << int(ColTitle) << "品牌:&nbsp;李宁" << QString::fromUtf16(u"品牌:\u00A0李宁");
    QTest::newRow("amp") << 12 << "A&amp;B"
                         << "A&B";
    QTest::newRow("plain") << int(ColTitle) << "连衣裙"
                           << "连衣裙";
    QTest::newRow("whole delivery") << int(ColDelivery) << "浙江杭州-北京;快递10.00;3天"
                                    << "浙江杭州-北京;快递10.00;3天";
    QTest::newRow("no delivery data") << int(ColDelivery) << "-;;"
                                      << "";
    QTest::newRow("null delivery") << int(ColDelivery) << "-null;12;"
                                   << "12";
}

void TestEdits::shownCellText() {
    QFETCH(int, col);
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QCOMPARE(TItemTableModel::ShownCellText(col, stored), shown);
}

#include "test_edits.moc"
