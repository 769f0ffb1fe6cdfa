// The string cipher, the grid and link-list files, the settings file and the page cache, and the
// start-up and shutdown steps that use them.

#include "marketsim.h"
#include "testenv.h"
#include "testfiles.h"

#include "app/appcore.h"
#include "app/settings.h"
#include "base/ansi.h"
#include "base/cipher.h"
#include "config/inifile.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "table/gridfile.h"
#include "table/gridjson.h"
#include "table/itemtable.h"
#include "table/linklist.h"
#include "table/packedtext.h"
#include "web/httpclient.h"
#include "web/pagecache.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <unistd.h>

#include <sys/stat.h>

namespace {

QString decipherGrid(const QString& path) {
    return TAnsi::Decode(DecryptText(readFile(path), GridKey, 0).value_or("deciphering failed"));
}

// A table with the given data rows (cells from ColNo on) and column count.
void fill(TItemTable& grid, const QList<QStringList>& rows, int colCount = 12) {
    grid.ResetGrid();
    for (const QStringList& cells : rows)
        grid.AppendRow([&](TRowWriter& row) {
            row.WidenTo(colCount);
            for (int c = 2; c < cells.size(); ++c)
                row.SetCell(c, cells[c]);
        });
}

// Runs SQL on the cache file from the test, as another program would see it.
QStringList storedUrls(const QString& file) {
    QStringList urls;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-count");
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec("select Url from TaoBaoAU order by rowid"))
                while (q.next())
                    urls.append(q.value(0).toString());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("test-count");
    return urls;
}

int countEntries(const QString& file) {
    return int(storedUrls(file).size());
}

void insertEntry(const QString& file, const QString& url, const QDateTime& time, const QString& memo = "00") {
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-insert");
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QSqlQuery q(db);
        q.prepare("insert into TaoBaoAU (Url, memo, [time]) values (?, ?, ?)");
        q.addBindValue(url);
        q.addBindValue(memo);
        q.addBindValue(time.toString("yyyy-MM-dd HH:mm:ss"));
        QVERIFY(q.exec());
        db.close();
    }
    QSqlDatabase::removeDatabase("test-insert");
}

} // namespace

class TestPersistence : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void encrypt_data();
    void encrypt();
    void decryptFailures_data();
    void decryptFailures();
    void decryptTrimsAndReadsLowerCase();
    void failingDeviceIsReported_data();
    void failingDeviceIsReported();

    void memberOrder();
    void jsonForm();
    void fixtureFromElsewhere_data();
    void fixtureFromElsewhere();
    void roundTripAwkwardCells();
    void charactersOutsideTheCodePage();
    void largeCellsAcrossPieces();
    void oneElementArray();
    void missingMembers();
    void damagedGridFiles_data();
    void damagedGridFiles();
    void pagesReadLikeEveryCell_data();
    void pagesReadLikeEveryCell();
    void storedCellsSaveAsReadCellsWould_data();
    void storedCellsSaveAsReadCellsWould();
    void storedPagesSaveAsWritten_data();
    void storedPagesSaveAsWritten();
    void storedPagesNeverSaveOtherwise();
    void partialLoadKeepsRowsRead();
    void gridFileHasNoSizeLimit();
    void unreadableStateIsLeftInPlace();
    void linkList();

    void readSettings_data();
    void readSettings();
    void writeSettingsInPlace();
    void priceAdjustmentSettings_data();
    void priceAdjustmentSettings();

    void cacheCreatesTableSilently();
    void cacheHitDoesNotFetch();
    void cacheNeverKeepsFailures();
    void cacheIsBoundToTheWorkstation();
    void purgeBoundaries();
    void foreignCacheFileIsLeftAlone_data();
    void foreignCacheFileIsLeftAlone();
    void cacheOffWhenBothPlacesAreTaken();

    void restartKeepsState();
    void damagedGridIsKeptAside();
    void damagedStateFiles_data();
    void damagedStateFiles();
    void damagedCopiesAreAllKept();
    void fileThatCannotBeKeptAsideIsNeverOverwritten();
    void deeplyNestedGridIsDamaged();
    void settingsWithByteOrderMark_data();
    void settingsWithByteOrderMark();
    void busyCacheIsNotDamaged();
    void fullDiskKeepsSmallFiles();
    void crashDuringSaveKeepsOldFile_data();
    void crashDuringSaveKeepsOldFile();
    void locksWithoutALiveHolder_data();
    void locksWithoutALiveHolder();
    void lockThatCannotBeRemovedIsNamed();

  private:
    std::unique_ptr<TTestEnvironment> m_env;
    QString file(const QString& name) const { return m_env->File(name); }
};

void TestPersistence::init() {
    m_env = std::make_unique<TTestEnvironment>(TTestEnvironment::TProxy::None);
}

void TestPersistence::cleanup() {
    m_env.reset();
}

void TestPersistence::encrypt_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("keySize");
    QTest::addColumn<QByteArray>("expected"); // the whole text, or its start when shorter
    QTest::addColumn<int>("length");
    QTest::newRow("empty: the prefix alone")
        << QByteArray() << QByteArray("pxvo") << 0 << QByteArray("0000000000000000") << 16;
    QTest::newRow("blanks only: the prefix alone")
        << QByteArray(" \r\n\t ") << QByteArray("pxvo") << 0 << QByteArray("0000000000000000") << 16;
    QTest::newRow("abc: one block") << QByteArray("abc") << QByteArray("pxvo") << 0
                                    << QByteArray("0300000000000000") << 48;
    QTest::newRow("16 bytes: one block")
        << QByteArray(16, 'x') << QByteArray("pxvo") << 0 << QByteArray("1000000000000000") << 48;
    QTest::newRow("17 bytes: two blocks")
        << QByteArray(17, 'x') << QByteArray("pxvo") << 0 << QByteArray("1100000000000000") << 80;
    // NIST SP 800-38A, ECB examples, first block, for each key size.
    QTest::newRow("AES-128 known answer")
        << QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172a")
        << QByteArray::fromHex("2b7e151628aed2a6abf7158809cf4f3c") << 0
        << QByteArray("10000000000000003AD77BB40D7A3660A89ECAF32466EF97") << 48;
    QTest::newRow("AES-192 known answer")
        << QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172a")
        << QByteArray::fromHex("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b") << 1
        << QByteArray("1000000000000000BD334F1D6E45F25FF712A214571FA5CC") << 48;
    QTest::newRow("AES-256 known answer")
        << QByteArray::fromHex("6bc1bee22e409f96e93d7e117393172a")
        << QByteArray::fromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4") << 2
        << QByteArray("1000000000000000F3EED1BDB5D2A03C064B5A7E3DB181F8") << 48;
}

void TestPersistence::encrypt() {
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, key);
    QFETCH(int, keySize);
    QFETCH(QByteArray, expected);
    QFETCH(int, length);
    const QByteArray cipher = EncryptText(value, key, keySize);
    QCOMPARE(cipher.size(), length);
    QVERIFY2(cipher.startsWith(expected), cipher.constData());
    if (length > 16)
        QCOMPARE(*DecryptText(cipher, key, keySize), value.trimmed());
}

void TestPersistence::decryptFailures_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("the prefix alone") << QByteArray("0000000000000000") << "密文长度不对，无法解密";
    QTest::newRow("half a block") << QByteArray("0300000000000000") + QByteArray(16, 'A')
                                  << "密文长度不对，无法解密";
    QTest::newRow("shorter than the prefix") << QByteArray("03000000") << "数据太短，无法读取";
    QTest::newRow("not hexadecimal") << QByteArray("0300000000000000") + QByteArray(32, 'Z')
                                     << "不是有效的十六进制文本";
}

void TestPersistence::decryptFailures() {
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    const TResult<QByteArray> plain = DecryptText(text, "pxvo", 0);
    QVERIFY(!plain);
    QCOMPARE(plain.error().Code, TErrc::Damaged);
    QCOMPARE(plain.error().Detail, message);
}

void TestPersistence::decryptTrimsAndReadsLowerCase() {
    const QByteArray plain = EncryptText("abc", "pxvo", 0);
    QCOMPARE(EncryptText(" abc ", "pxvo", 0), plain);
    QCOMPARE(*DecryptText(plain.toLower(), "pxvo", 0), QByteArray("abc"));
    QCOMPARE(*DecryptText(plain + "7", "pxvo", 0), QByteArray("abc")); // an odd last digit is ignored
    QCOMPARE(*DecryptText(EncryptText("abc\t\r\n", "pxvo", 0), "pxvo", 0), QByteArray("abc"));
    // A key is cut to its buffer, and zero bytes after it change nothing.
    QCOMPARE(EncryptText("abc", "abcdefghijklmnopqrst", 0), EncryptText("abc", "abcdefghijklmnop", 0));
    QCOMPARE(EncryptText("abc", QByteArray("pxvo\0\0", 6), 0), plain);
    QVERIFY(EncryptText("abc", "pxvq", 0) != plain);
    // Equal blocks give equal cipher blocks.
    const QByteArray two = EncryptText(QByteArray(32, 'y'), "pxvo", 0);
    QCOMPARE(two.mid(16, 32), two.mid(48, 32));
}

namespace {

// A device that takes its first `room` bytes and fails every write after them, as a full disk does.
class TFullDevice : public QBuffer {
  public:
    explicit TFullDevice(qint64 room) : m_room(room) {}

  protected:
    qint64 writeData(const char* data, qint64 len) override {
        if (pos() + len > m_room)
            return -1;
        return QBuffer::writeData(data, len);
    }

  private:
    qint64 m_room;
};

} // namespace

void TestPersistence::failingDeviceIsReported_data() {
    QTest::addColumn<qint64>("room");
    QTest::newRow("no room at all") << qint64(0);
    QTest::newRow("room for the length prefix only") << qint64(16);
    QTest::newRow("the last block does not fit") << qint64(16 + 32 * 3);
}

void TestPersistence::failingDeviceIsReported() {
    QFETCH(qint64, room);
    TFullDevice device(room);
    QVERIFY(device.open(QIODevice::ReadWrite));
    TCipherWriter writer(device, GridKey, 0);
    const QByteArray plain(3 * 16 + 5, 'x'); // three whole blocks and a last, short one
    const bool written = writer.Write(plain) && writer.Finish();
    QVERIFY(!written);
    // With room for everything the same writer succeeds.
    TFullDevice roomy(16 + 32 * 4);
    QVERIFY(roomy.open(QIODevice::ReadWrite));
    TCipherWriter fits(roomy, GridKey, 0);
    QVERIFY(fits.Write(plain) && fits.Finish());
    QCOMPARE(roomy.data(), EncryptText(plain, GridKey, 0));
}

void TestPersistence::memberOrder() {
    QCOMPARE(GridMemberOrder(12), (QList<int>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 11, 10}));
    QCOMPARE(GridMemberOrder(15), (QList<int>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 14, 13, 12, 11, 10}));
}

void TestPersistence::jsonForm() {
    const QList<QStringList> rows = {
        {"a\"b", "c\\d", "e/f", QString("g") + QChar(0) + "h", "\r\n\t", "宝", "", "", "", "", "", "x"}};
    QCOMPARE(
        GridToJson(rows, 12),
        QString(
            "[{\"9\":\"\",\"8\":\"\",\"7\":\"\",\"6\":\"\",\"5\":\"宝\",\"4\":\"\r\n\t\",\"3\":\"g\\u0000h\","
            "\"2\":\"e\\/f\",\"1\":\"c\\\\d\",\"0\":\"a\\\"b\",\"11\":\"x\",\"10\":\"\"}]"));
}

void TestPersistence::fixtureFromElsewhere_data() {
    QTest::addColumn<QString>("fixture");
    QTest::addColumn<int>("columns");
    QTest::newRow("made by hand and openssl") << TOVREL_TEST_DATA_DIR "/grid-small" << 13;
    const QString shared = TOVREL_FIXTURES_DIR "/grid-sample";
    if (QFile::exists(shared + ".db"))
        QTest::newRow("made by another implementation") << shared << 15;
}

void TestPersistence::fixtureFromElsewhere() {
    QFETCH(QString, fixture);
    QFETCH(int, columns);
    const QByteArray expectedLines = readFile(fixture + ".expected.jsonl");
    QVERIFY(!expectedLines.isEmpty());
    TItemTable grid;
    QVERIFY(LoadGridFromFile(grid, fixture + ".db").ok());
    const QList<QByteArray> lines = expectedLines.trimmed().split('\n');
    QCOMPARE(grid.RowCount(), int(lines.size()));
    QCOMPARE(grid.ColCount(), columns);
    for (int r = 0; r < lines.size(); ++r) {
        const QJsonArray cells = QJsonDocument::fromJson(lines[r]).array();
        for (int c = 0; c < cells.size(); ++c)
            QCOMPARE(grid.Cell(c, r), cells[c].toString());
    }
    // Written again, it is the same file byte for byte.
    QVERIFY(SaveGridToFile(grid, file("grid.db")).ok());
    QCOMPARE(readFile(file("grid.db")), readFile(fixture + ".db"));
}

void TestPersistence::roundTripAwkwardCells() {
    TItemTable grid;
    fill(grid,
         {{"", "", "标题\r\n第二行", "a,b", "99.50", "-;;", "<p class=\"x\">C:\\dir\\</p>", "http://a/b?c=d",
           "x\ty", "http://item.taobao.com/item.htm?id=1", "", "水印"},
          {"", "", QString::fromUtf16(u"泰文\u0E01表情\U0001F600"), "", "", "", "", "", "", "", "", ""}},
         15);
    grid.SetCell(12, 0, "品牌");
    grid.SetCell(ColSelect, 2, "");
    QVERIFY(SaveGridToFile(grid, file("grid.db")).ok());
    // The plaintext keeps line breaks and tabs raw and escapes only the four characters.
    const QString json = decipherGrid(file("grid.db"));
    QVERIFY(json.contains("标题\r\n第二行"));
    QVERIFY(json.contains("x\ty"));
    QVERIFY(json.contains("<p class=\\\"x\\\">C:\\\\dir\\\\<\\/p>"));
    TItemTable loaded;
    QVERIFY(LoadGridFromFile(loaded, file("grid.db")).ok());
    QCOMPARE(loaded.ColCount(), 15);
    QCOMPARE(loaded.RowCount(), 3);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 15; ++c)
            QCOMPARE(loaded.Cell(c, r), grid.Cell(c, r));
}

void TestPersistence::largeCellsAcrossPieces() {
    // The file is written and read a piece at a time, and each cell a run of bytes at a time: cells
    // of several pieces, whose double-byte characters, escapes and characters outside the code page
    // fall on every position of a run, come back unchanged, and the file holds what the whole JSON
    // text holds.
    QString awkward;
    const QString specials[] = {QStringLiteral("\""), QStringLiteral("\\"), QStringLiteral("/"),
                                QString(QChar(0)), QStringLiteral("宝"), QString(QChar(0x20AC)),
                                QString(QChar(0x00DF)), QString(QChar(0xD800)), QStringLiteral("\r\n"),
                                // A run of double-byte characters ending in one whose trail byte is
                                // 0x5C (the backslash's), then an escaped quote.
                                QStringLiteral("宝贝描述宝贝描述宝贝嘰\"")};
    for (int gap = 0; gap < 40; ++gap)
        for (const QString& special : specials)
            awkward += QString(gap, QLatin1Char('a')) + special;
    QString large;
    while (large.size() < 1600000)
        large += awkward + QStringLiteral("男装夹克");
    TItemTable grid;
    fill(grid, {{"1", " ", "标题", "", "", "", large, "", "", "", large.left(999999), awkward}}, 12);
    QVERIFY(SaveGridToFile(grid, file("grid.db")).ok());
    QCOMPARE(decipherGrid(file("grid.db")), GridToJson(grid.Snapshot(), grid.ColCount()));
    TItemTable loaded;
    QVERIFY(LoadGridFromFile(loaded, file("grid.db")).ok());
    QCOMPARE(loaded.RowCount(), 2);
    for (int c = 0; c < 12; ++c)
        QVERIFY2(loaded.Cell(c, 1) == grid.Cell(c, 1), qPrintable(QString::number(c)));

    // Pieces of any size, so that a piece ends inside a double-byte character, an escape, a member
    // name and between rows; and a text that ends inside a string is no table.
    const QByteArray json = TAnsi::Encode(GridToJson({grid.Snapshot()[0], {"1", " ", "宝贝", awkward}}, 12));
    const TResult<TGridJson> whole = GridFromAnsiJson(json);
    QVERIFY(whole.ok());
    for (const qsizetype piece : {1, 2, 3, 5, 16, 17, 4096}) {
        const TResult<TGridJson> pieces = GridFromAnsiJsonPieces(json, piece);
        QVERIFY2(pieces.ok() && pieces->rows == whole->rows, qPrintable(QString::number(piece)));
    }
    QVERIFY(!GridFromAnsiJsonPieces(json.left(json.size() - 40), 7).ok());
}

void TestPersistence::charactersOutsideTheCodePage() {
    // An emoji (beyond U+FFFF), the no-break space of real attribute values, a Thai letter, "₩" and
    // "ß" are not in the code page; "中" and "·" are.
    const QString title = QString::fromUtf16(u"包😀 ก₩ß中·?");
    TItemTable grid;
    fill(grid, {{"1", " ", title, "", "", "", "", "", "品牌: 李宁", "", "", ""}}, 12);
    QVERIFY(SaveGridToFile(grid, file("grid.db")).ok());
    // Written as JSON escapes (a surrogate pair for the emoji), so the file stays in the code page.
    const QString json = decipherGrid(file("grid.db"));
    QVERIFY2(json.contains("包\\ud83d\\ude00\\u00a0\\u0e01\\u20a9\\u00df中\u00B7?"), qPrintable(json));
    // Any JSON reader reads the text back.
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8());
    QCOMPARE(doc.array()[1].toObject()["2"].toString(), title);
    TItemTable loaded;
    QVERIFY(LoadGridFromFile(loaded, file("grid.db")).ok());
    QCOMPARE(loaded.Cell(ColTitle, 1), title);
    QCOMPARE(loaded.Cell(ColProps, 1), QString::fromUtf16(u"品牌: 李宁"));
}

void TestPersistence::oneElementArray() {
    TItemTable grid;
    QVERIFY(SaveGridToFile(grid, file("grid.db")).ok());
    QCOMPARE(decipherGrid(file("grid.db")).count('{'), 1);
    // A table with only its caption row comes back as just that; the next item is item 1.
    TItemTable loaded;
    loaded.AppendRow();
    QVERIFY(LoadGridFromFile(loaded, file("grid.db")).ok());
    QCOMPARE(loaded.Snapshot(), QList<QStringList>{TItemTable::FixedCaptions()});
    QCOMPARE(loaded.AppendRow(), 1);
    QCOMPARE(loaded.Cell(ColNo, 1), "1");
}

void TestPersistence::missingMembers() {
    // Element 0 has three members, so columns 0 to 2 are read; member "5" lies beyond them.
    const QString json =
        "[{\"0\":\"序号\",\"1\":\"选择\",\"2\":\"商品名称\"},{\"2\":\"只有标题\",\"5\":\"x\"}]";
    writeFile(file("grid.db"), EncryptText(TAnsi::Encode(json), GridKey, 0));
    TItemTable grid;
    QVERIFY(LoadGridFromFile(grid, file("grid.db")).ok());
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(grid.ColCount(), 12); // the fixed columns stay
    QCOMPARE(grid.Cell(ColNo, 0), "序号");
    QCOMPARE(grid.Cell(ColPrice, 0), "");
    QCOMPARE(grid.Cell(ColNo, 1), ""); // missing
    QCOMPARE(grid.Cell(ColTitle, 1), "只有标题");
    QCOMPARE(grid.Cell(5, 1), ""); // beyond the first element's member count
}

void TestPersistence::damagedGridFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("wrong length") << QByteArray("0300000000000000") + QByteArray(30, 'A');
    QTest::newRow("wrong key") << EncryptText("[{\"0\":\"a\"}]", "abcd", 0);
    QTest::newRow("not JSON") << EncryptText("hello", GridKey, 0);
    QTest::newRow("a JSON object, not an array") << EncryptText("{\"0\":\"a\"}", GridKey, 0);
    QTest::newRow("an empty array") << EncryptText("[]", GridKey, 0);
    QTest::newRow("not hexadecimal") << QByteArray("this is no cipher text at all, clearly");
    QTest::newRow("empty file") << QByteArray();
}

void TestPersistence::damagedGridFiles() {
    QFETCH(QByteArray, content);
    writeFile(file("grid.db"), content);
    TItemTable grid;
    grid.AppendRow();
    grid.ResetGrid();
    QVERIFY(!LoadGridFromFile(grid, file("grid.db")).ok());
    QCOMPARE(grid.Snapshot(), QList<QStringList>{TItemTable::FixedCaptions()});
}

void TestPersistence::pagesReadLikeEveryCell_data() {
    // A loaded table keeps each page, and the long texts and attribute cells, as the file holds
    // them and reads them when they are opened: each must give what reading every cell at once
    // gives, and refuse what that refuses, at the load.
    QTest::addColumn<QString>("value"); // a member's value as the JSON text writes it; "%1" is its name
    QTest::newRow("escapes") << "\"<p class=\\\"x\\\">C:\\\\dir\\\\<\\/p>\\n\\t\\b\\f\\r\"";
    QTest::newRow("unicode escapes, a pair, a lone half") << "\"\\u00e9\\u4E2D \\ud83d\\ude00 \\ud800 end\"";
    QTest::newRow("trail bytes that are a backslash's, then an escaped quote")
        << "\"宝贝描述宝贝描述宝贝嘰\\\"乗\\\\\"";
    QTest::newRow("a trail byte that is a backslash's, then the closing quote") << "\"描述嘰\"";
    QTest::newRow("a trail byte that is a backslash's after a letter") << "\"a乗\\\\b\"";
    QTest::newRow("no escape at all") << "\"纯文字的描述 plain\"";
    QTest::newRow("empty") << "\"\"";
    QTest::newRow("an escape JSON does not have") << "\"a\\xb\"";
    QTest::newRow("a unicode escape cut short") << "\"a\\u12\"";
    QTest::newRow("a unicode escape with no hex digit") << "\"a\\u12G4\"";
    QTest::newRow("a unicode escape with a Chinese character") << "\"a\\u12宝宝\"";
    QTest::newRow("a unicode escape with a blank") << "\"a\\u 12a\"";
    QTest::newRow("a unicode escape with a sign") << "\"a\\u+12a\"";
    QTest::newRow("a backslash before a double-byte character") << "\"a\\宝\"";
    QTest::newRow("a number") << "123";
    QTest::newRow("an object") << "{\"a\":\"b\"}";
    QTest::newRow("twice: the first counts") << "\"first\",\"%1\":\"second\"";
    QTest::newRow("a number, then a string: the number counts") << "5,\"%1\":\"second\"";
    QTest::newRow("blanks around the colon") << "\"x\" , \"%1\" : \"second\"";
    QTest::newRow("the text ends inside the value") << "\"never closed";
}

void TestPersistence::pagesReadLikeEveryCell() {
    QFETCH(QString, value);
    // The page, the description, the properties and an attribute column, each in turn.
    for (const int col : {ColHtml, ColDetail, ColProps, ColFirstAttribute, ColFirstAttribute + 1}) {
        const QString name = QString::number(col);
        QStringList captions;
        for (int c = 0; c < ColFirstAttribute + 2; ++c)
            captions.append("\"" + QString::number(c) + "\":\"" + QString("列%1").arg(c) + "\"");
        // The member between others of the kept kinds, so a sweep over several reaches it too.
        const QString json = "[{" + captions.join(',') + "},{\"0\":\"1\",\"2\":\"甲\",\"" +
                             QString::number(ColFirstAttribute + (col == ColFirstAttribute ? 1 : 0)) +
                             "\":\"前\",\"" + name + "\":" + QString(value).replace("%1", name) + ",\"" +
                             QString::number(col == ColProps ? ColDetail : ColProps) + "\":\"后\"}]";
        const QByteArray bytes = TAnsi::Encode(json);
        const TResult<TGridJson> whole = GridFromAnsiJson(bytes);
        writeFile(file("grid.db"), EncryptText(bytes, GridKey, 0));
        TItemTable grid;
        const TStatus loaded = LoadGridFromFile(grid, file("grid.db"));
        QCOMPARE(loaded.ok(), whole.ok());
        if (!whole.ok())
            continue;
        QCOMPARE(grid.RowCount(), 2);
        // A job's copy first (it reads the row into the copy alone), then the table itself.
        QCOMPARE(grid.RowCells(1), whole->rows[1]);
        for (int c = 0; c < grid.ColCount(); ++c)
            QCOMPARE(grid.Cell(c, 1), whole->rows[1][c]);
        QCOMPARE(grid.Cell(col, 0), QString("列%1").arg(col));
        // And the table saves and reads back the same.
        QVERIFY(SaveGridToFile(grid, file("again.db")).ok());
        TItemTable again;
        QVERIFY(LoadGridFromFile(again, file("again.db")).ok());
        QCOMPARE(again.RowCells(1), whole->rows[1]);
    }
}

void TestPersistence::storedCellsSaveAsReadCellsWould_data() {
    // A loaded table writes the cells it has not read as the file held them; whatever happened
    // since the load, the file it saves is byte for byte the file a table that read every cell at
    // the load saves, and reads back the same.
    QTest::addColumn<QString>("change");
    // The file: this program's, or another program's with the members in another order, or with
    // the strings spelt otherwise.
    QTest::addColumn<QString>("source");
    for (const char* source : {"ours", "another order", "another spelling"})
        for (const char* change : {"none", "mark", "attribute", "properties", "edit", "widen", "delete"})
            QTest::addRow("%s, %s", source, change) << QString(change) << QString(source);
}

void TestPersistence::storedCellsSaveAsReadCellsWould() {
    QFETCH(QString, change);
    QFETCH(QString, source);
    const int colCount = ColFirstAttribute + 20;
    const QStringList values = {
        "红色",   "XL",         "a/b \"q\" C:\\d", QString(),     "😀 \u00e9 \u20ac",
        "嘰乗 Ⅻ", "line\nnext", "100%棉",          "\u0001tab\t", QString(200, u'长')};
    QList<QStringList> rows;
    QStringList captions = TItemTable::FixedCaptions();
    for (int c = ColFirstAttribute; c < colCount; ++c)
        captions.append(QString("属性%1").arg(c));
    rows.append(captions);
    for (int r = 1; r <= 6; ++r) {
        QStringList cells(colCount);
        cells[ColNo] = QString::number(r);
        cells[ColSelect] = r % 2 ? MarkSelected : MarkUnselected;
        cells[ColTitle] = QString("宝贝%1").arg(r);
        cells[ColDetail] = "<p>描述 " + values[r % values.size()] + "</p>";
        cells[ColHtml] = "<html>页" + QString::number(r) + "</html>";
        cells[ColProps] = "\"品牌: 其他\",\"材质: " + values[(r + 3) % values.size()] + "\"";
        for (int c = ColFirstAttribute; c < colCount; ++c)
            cells[c] = values[(r * 7 + c) % values.size()];
        rows.append(cells);
    }
    QByteArray json;
    if (source == "ours") {
        json = TAnsi::Encode(GridToJson(rows, colCount));
    } else {
        // Another order: this program's spelling, the members in column order. Another spelling:
        // the writer's order, with slashes as they are, upper-case \u digits, escapes for
        // characters the code page holds and blanks around some colons.
        const bool spelling = source == "another spelling";
        auto string = [spelling](const QString& text) {
            QString out = "\"";
            for (const QChar ch : text) {
                const bool escape =
                    spelling ? ch < u' ' || ch == u'X' || !TAnsi::Holds(ch.unicode())
                             : ch == QChar(0) || (ch >= QChar(0x80) && !TAnsi::Holds(ch.unicode()));
                if (ch == u'"' || ch == u'\\' || (ch == u'/' && !spelling))
                    out += QString("\\") + ch;
                else if (escape) {
                    const QString digits = QString("%1").arg(ch.unicode(), 4, 16, QChar(u'0'));
                    out += "\\u" + (spelling ? digits.toUpper() : digits);
                } else
                    out += ch;
            }
            return out + "\"";
        };
        QList<int> order = GridMemberOrder(colCount);
        if (!spelling)
            std::sort(order.begin(), order.end());
        QStringList objects;
        for (const QStringList& cells : rows) {
            QStringList members;
            for (const int c : order)
                members.append("\"" + QString::number(c) + (spelling && c % 3 == 0 ? "\" : " : "\":") +
                               string(cells[c]));
            objects.append("{" + members.join(",") + "}");
        }
        json = TAnsi::Encode("[" + objects.join(",") + "]");
    }
    writeFile(file("grid.db"), EncryptText(json, GridKey, 0));
    TItemTable grid, read;
    QVERIFY(LoadGridFromFile(grid, file("grid.db")).ok());
    const TResult<TGridJson> whole = GridFromAnsiJson(json);
    QVERIFY(whole.ok());
    read.Replace(whole->rows, whole->colCount);
    for (TItemTable* table : {&grid, &read}) {
        if (change == "mark")
            table->ToggleMark(2);
        else if (change == "attribute")
            table->SetCell(ColFirstAttribute + 3, 3, "新值");
        else if (change == "properties")
            table->SetCell(ColProps, 4, "\"品牌: 新\"");
        else if (change == "edit") {
            TItemEdit edit;
            edit.LocalDetail = "<p>改过</p>";
            edit.Title = "新名称";
            QVERIFY(table->EditRow(table->RowId(5), edit));
        } else if (change == "widen")
            table->AppendRow([](TRowWriter& row) {
                row.WidenTo(row.ColCount() + 3);
                row.SetCell(row.ColCount() - 1, QStringLiteral("新属性值"));
                row.SetCell(row.ColCount() - 1, 0, QStringLiteral("新属性"));
            });
        else if (change == "delete")
            QVERIFY(table->StringGridDel(2));
    }
    QVERIFY(SaveGridToFile(grid, file("stored.db")).ok());
    QVERIFY(SaveGridToFile(read, file("read.db")).ok());
    QCOMPARE(readFile(file("stored.db")), readFile(file("read.db")));
    QCOMPARE(grid.Snapshot(), read.Snapshot());
    TItemTable again;
    QVERIFY(LoadGridFromFile(again, file("stored.db")).ok());
    QCOMPARE(again.Snapshot(), read.Snapshot());
    // A file this program saved is saved again as it is.
    QVERIFY(SaveGridToFile(again, file("again.db")).ok());
    QCOMPARE(readFile(file("again.db")), readFile(file("stored.db")));
}

namespace {

// One table row written by the grid's writer: with the page as text, or as a stored body.
QByteArray writtenRow(const QString& page, std::optional<QByteArray> storedPage = std::nullopt) {
    QStringList cells(ColFixedCount);
    cells[ColTitle] = QStringLiteral("甲");
    cells[ColHtml] = page;
    const TGridJsonWriter writer(ColFixedCount);
    QByteArray row;
    if (storedPage)
        writer.AppendRow(row, cells, *storedPage);
    else
        writer.AppendRow(row, cells);
    return row;
}

// The body of the page as a load keeps it, for a row the writer wrote from `page`.
QByteArray storedBodyOf(const QString& page) {
    const QByteArray json = '[' + writtenRow(QStringLiteral("html")) + ',' + writtenRow(page) + ']';
    bool given = false;
    const std::optional<TGridJson> grid = ReadGridJson(
        [&](QByteArray& text) {
            if (given)
                return false;
            text += json;
            given = true;
            return true;
        },
        true);
    QByteArray body;
    if (!grid || grid->pages.size() != 2 || !PackedText::UnpackStored(grid->pages[1], body))
        return "(not read)";
    return body;
}

} // namespace

void TestPersistence::storedPagesSaveAsWritten_data() {
    // A save writes a loaded page's bytes as the file held them when writing its text would give
    // those very bytes, and only then.
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("asIs");
    QTest::newRow("ASCII") << QByteArray("<p class=x>plain<br>") << true;
    QTest::newRow("the writer's escapes") << QByteArray(R"(<\/p> \"q\" C:\\dir \u0000)") << true;
    QTest::newRow("raw control characters") << QByteArray("a\nb\tc\x01") << true;
    QTest::newRow("Chinese") << TAnsi::Encode(QStringLiteral("宝贝描述：羊绒大衣")) << true;
    QTest::newRow("trail bytes that are a backslash's")
        << TAnsi::Encode(QStringLiteral("嘰乗")) + QByteArray(R"(\")") << true;
    QTest::newRow("a pair beyond the code page") << QByteArray(R"(\ud83d\ude00 \ud800)") << true;
    QTest::newRow("an unescaped slash") << QByteArray("</p>") << false;
    QTest::newRow("a raw U+0000") << QByteArray("a\0b", 3) << false;
    QTest::newRow("an escape the writer does not use") << QByteArray(R"(a\nb)") << false;
    QTest::newRow("upper-case digits") << QByteArray(R"(\uD83D\uDE00)") << false;
    QTest::newRow("an escaped character the code page holds") << QByteArray(R"(\u4e2d \u00e9)") << false;
    QTest::newRow("an escaped ASCII character") << QByteArray(R"(\u002f)") << false;
    QTest::newRow("a four-byte sequence") << QByteArray("\x81\x30\x81\x30") << false;
    QTest::newRow("a lead byte at the end") << QByteArray("ab\xB0") << false;
    QTest::newRow("a backslash at the end") << QByteArray("ab\\") << false;
    QTest::newRow("a quote after a pair that took the backslash") << QByteArray("\xB0\\\"") << false;
}

void TestPersistence::storedPagesSaveAsWritten() {
    QFETCH(QByteArray, body);
    QFETCH(bool, asIs);
    QCOMPARE(StoredBodyIsWrittenAsIs(body), asIs);
    if (asIs)
        QCOMPARE(writtenRow(QString(), body), writtenRow(StoredJsonStringText(body)));
}

void TestPersistence::storedPagesNeverSaveOtherwise() {
    // Random bodies of every kind of piece: whenever one is taken as it is, the row written is the
    // row writing its text gives. And every page this program writes is taken as it is at the next
    // save.
    QList<QByteArray> pieces = {"a",        "<p>",      "/",        "\\/",     "\\\"",    "\\\\",
                                "\\u0000",  "\\u00e9",  "\\u00E9",  "\\ud83d", "\\uDE00", "\\n",
                                "\\t",      "\n",       "\x80",     "\xFF",    "\xB0",    "\x81\x30",
                                "\x81\x5C", "\xD6\xD0", "\xA1\xA1", "\xFE\xFE"};
    pieces.append(QByteArray(1, '\0')); // U+0000, which a literal cannot give
    QRandomGenerator random(20261211);
    int asIs = 0;
    for (int n = 0; n < 4000; ++n) {
        QByteArray body;
        const int count = random.bounded(1, 12);
        for (int k = 0; k < count; ++k)
            body += pieces[random.bounded(int(pieces.size()))];
        if (!StoredBodyIsWrittenAsIs(body))
            continue;
        ++asIs;
        QVERIFY2(writtenRow(QString(), body) == writtenRow(StoredJsonStringText(body)),
                 body.toHex().constData());
    }
    QVERIFY2(asIs > 100, "some random bodies are the writer's own");
    const QList<char16_t> units = {u'a',      u'/',      u'"',      u'\\',     0,      u'\n',
                                   u'\u00e9', u'\u4e2d', u'\u20ac', u'\uff0f', 0xD83D, 0xDE00,
                                   0xD800,    u'\u3000', u'\u5618', u'\u4e57'};
    for (int n = 0; n < 500; ++n) {
        QString page;
        const int count = random.bounded(1, 16);
        for (int k = 0; k < count; ++k)
            page += QChar(units[random.bounded(int(units.size()))]);
        const QByteArray body = storedBodyOf(page);
        QVERIFY2(StoredBodyIsWrittenAsIs(body), body.toHex().constData());
        QCOMPARE(StoredJsonStringText(body), page);
    }
}

void TestPersistence::partialLoadKeepsRowsRead() {
    const QString json = "[{\"0\":\"序号\",\"1\":\"选择\",\"2\":\"商品名称\"},{\"0\":\"1\",\"2\":\"甲\"},7,"
                         "{\"0\":\"3\",\"2\":\"丙\"}]";
    writeFile(file("grid.db"), EncryptText(TAnsi::Encode(json), GridKey, 0));
    TItemTable grid;
    QVERIFY(!LoadGridFromFile(grid, file("grid.db")).ok());
    QCOMPARE(grid.RowCount(), 4);
    QCOMPARE(grid.Cell(ColTitle, 1), "甲");
    QCOMPARE(grid.Cell(ColTitle, 3), "");
}

void TestPersistence::gridFileHasNoSizeLimit() {
    // A file of 5 GB (sparse: nothing is written) is read like any other, not refused for its size;
    // a save of a large table writes nothing that the next start refuses. This one holds no table.
    const QString path = file("grid.db");
    {
        QFile big(path);
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(qint64(5) << 30));
    }
    TItemTable grid;
    const TStatus loaded = LoadGridFromFile(grid, path);
    QVERIFY(!loaded.ok());
    QCOMPARE(loaded.error().Code, TErrc::Damaged);
    QVERIFY2(!loaded.error().Detail.contains("larger"), qPrintable(loaded.error().Detail));
}

void TestPersistence::unreadableStateIsLeftInPlace() {
    // grid.db and listnew the running user may not read. As root, the program runs as "nobody".
    QTemporaryDir dir;
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                  QFileDevice::WriteOther | QFileDevice::ExeOther));
    TPaths::SetWorkDir(dir.path());
    {
        TItemTable grid;
        grid.AppendRow([](TRowWriter& row) { row.SetCell(ColTitle, "甲"); });
        QVERIFY(SaveGridToFile(grid, dir.filePath("grid.db")).ok());
        TLinkList links;
        QVERIFY(links.Append("http://item.taobao.com/item.htm?id=1"));
        QVERIFY(SaveLinkListToFile(links, dir.filePath("listnew")).ok());
    }
    for (const char* name : {"grid.db", "listnew"})
        QVERIFY(QFile::setPermissions(dir.filePath(name), QFileDevice::WriteOwner));
    const QByteArray grid = readFile(dir.filePath("grid.db"));
    const QByteArray list = readFile(dir.filePath("listnew"));
    QStringList command{QStringLiteral(TOVREL_CLI_PATH), "--workdir", dir.path()};
    if (::geteuid() == 0)
        command = QStringList{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"} + command;
    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", dir.path());
    environment.insert("XDG_RUNTIME_DIR", dir.path());
    cli.setProcessEnvironment(environment);
    const QString program = command.takeFirst();
    auto run = [&](const QStringList& arguments) {
        cli.start(program, command + arguments);
        return cli.waitForFinished(30000) ? QString::fromUtf8(cli.readAllStandardError()) : QString("(hung)");
    };
    // A command on the links: it does not read the table at all.
    QString said = run({"add", "http://item.taobao.com/item.htm?id=2"});
    QVERIFY2(said.contains("商品列表文件") && said.contains("无法读取") && said.contains("文件保持原样"),
             qPrintable(said));
    QVERIFY2(said.contains("商品列表没有保存"), qPrintable(said));
    QVERIFY2(!said.contains("宝贝表格"), qPrintable(said));
    // A command on the table. Said so, kept where they are, unchanged, and not set aside.
    said = run({"select", "all"});
    QVERIFY2(said.contains("宝贝表格文件") && said.contains("无法读取") && said.contains("文件保持原样"),
             qPrintable(said));
    QVERIFY2(said.contains("本次运行不会保存宝贝表格"), qPrintable(said));
    QCOMPARE(readFile(dir.filePath("grid.db")), grid);
    QCOMPARE(readFile(dir.filePath("listnew")), list);
    QVERIFY(!QFile::exists(dir.filePath("grid.db.bad")));
    QVERIFY(!QFile::exists(dir.filePath("listnew.bad")));
}

void TestPersistence::linkList() {
    // A comma, and a character outside the code page, come back as they went.
    const QStringList links = {"http://item.taobao.com/item.htm?id=1",
                               "http://item.taobao.com/item.htm?id=1,2",
                               QString::fromUtf16(u"http://s.taobao.com/search?q=\U0001F600\u0E01")};
    TLinkList list;
    list.Replace(links);
    QVERIFY(SaveLinkListToFile(list, file("listnew")).ok());
    // The file holds upper-case hexadecimal digits only: no byte-order mark, no line break.
    QVERIFY(
        QRegularExpression("^[0-9A-F]+$").match(QString::fromLatin1(readFile(file("listnew")))).hasMatch());
    // One link a line, in the code page (GB18030's four bytes for what it cannot hold).
    QCOMPARE(*DecryptText(readFile(file("listnew")), LinkListKey, 0),
             TAnsi::EncodeLossless(links.join("\r\n")));
    TLinkList loaded;
    QVERIFY(LoadLinkListFromFile(loaded, file("listnew")).ok());
    QCOMPARE(loaded.Items(), links);
    // An empty list removes the file, so that it comes back empty.
    QVERIFY(SaveLinkListToFile(TLinkList(), file("listnew")).ok());
    QVERIFY(!QFile::exists(file("listnew")));
    // A damaged file leaves the list empty.
    writeFile(file("listnew"), "0300000000000000ABCD");
    QVERIFY(!LoadLinkListFromFile(loaded, file("listnew")).ok());
    QCOMPARE(loaded.Count(), 0);
    // A file with a line that is no link (an older version's, edited by hand): the other lines
    // are read, and the file is reported as damaged so that it is kept aside.
    writeFile(file("listnew"),
              EncryptText(TAnsi::Encode("http://a/1\r\nbad\x01line\r\n\r\nhttp://a/2\r\n"), LinkListKey, 0));
    const TStatus partial = LoadLinkListFromFile(loaded, file("listnew"));
    QVERIFY(!partial.ok());
    QCOMPARE(partial.error().Code, TErrc::Damaged);
    QVERIFY2(partial.error().Detail.contains("第 2 行含有控制字符"), qPrintable(partial.error().Detail));
    QCOMPARE(loaded.Items(), (QStringList{"http://a/1", "http://a/2"}));
}

void TestPersistence::readSettings_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("source");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("linkText");
    QTest::addColumn<QString>("watermark");
    QTest::newRow("no file") << QByteArray() << 0 << 0 << ""
                             << "";
    QTest::newRow("stored values")
        << TAnsi::Encode("[select]\r\nshoptype=1\r\nlinktype=2\r\nlinkstr=http://a\r\npicstr=店\r\n") << 1
        << 2 << "http://a"
        << "店";
    QTest::newRow("a source of 7 is the last one") << QByteArray("[select]\nshoptype=7\n") << 2 << 0 << ""
                                                   << "";
    QTest::newRow("a source that is no number is 淘宝")
        << QByteArray("[select]\nshoptype=abc\n") << 0 << 0 << ""
        << "";
    QTest::newRow("0x1 is hexadecimal") << QByteArray("[select]\nshoptype=0x1\n") << 1 << 0 << ""
                                        << "";
    QTest::newRow("$2 is hexadecimal") << QByteArray("[select]\nshoptype=$2\n") << 2 << 0 << ""
                                       << "";
    QTest::newRow("a negative source selects none") << QByteArray("[select]\nshoptype=-1\n") << -1 << 0 << ""
                                                    << "";
    QTest::newRow("a kind of 5 selects none") << QByteArray("[select]\nlinktype=5\n") << 0 << -1 << ""
                                              << "";
    QTest::newRow("a number with text after it is none")
        << QByteArray("[select]\nshoptype=1x\n") << 0 << 0 << ""
        << "";
    QTest::newRow("keys and sections ignore case, blanks around values go")
        << QByteArray("[SELECT]\nLinkStr =  http://b  \n") << 0 << 0 << "http://b"
        << "";
    QTest::newRow("one pair of enclosing quotes goes")
        << TAnsi::Encode("[select]\npicstr=\" 店 \"\n") << 0 << 0 << ""
        << " 店 ";
    QTest::newRow("a text is read up to the line break")
        << QByteArray("[select]\r\nlinkstr=line one\r\nline two\r\n") << 0 << 0 << "line one"
        << "";
    QTest::newRow("other sections are not read")
        << QByteArray("[other]\nshoptype=2\n[select]\n") << 0 << 0 << ""
        << "";
    QTest::newRow("GBK text") << TAnsi::Encode("[select]\npicstr=水印文字\n") << 0 << 0 << ""
                              << "水印文字";
    QTest::newRow("at most 2047 characters")
        << QByteArray("[select]\nlinkstr=") + QByteArray(3000, 'x') << 0 << 0 << QString(2047, 'x') << "";
}

void TestPersistence::readSettings() {
    QFETCH(QByteArray, ini);
    QFETCH(int, source);
    QFETCH(int, kind);
    QFETCH(QString, linkText);
    QFETCH(QString, watermark);
    if (!ini.isEmpty())
        writeFile(file("setting.ini"), ini);
    TChoices c;
    ReadSettings(c, file("setting.ini"));
    QCOMPARE(c.DataSource, source);
    QCOMPARE(c.LinkKind, kind);
    QCOMPARE(c.LinkText, linkText);
    QCOMPARE(c.WatermarkText, watermark);
}

void TestPersistence::priceAdjustmentSettings_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("amount");
    QTest::newRow("none stored") << QByteArray() << 1.0 << 0.0;
    QTest::newRow("stored") << QByteArray("pricefactor=1.25\r\npriceadd=-3.5\r\n") << 1.25 << -3.5;
    QTest::newRow("no numbers") << QByteArray("pricefactor=abc\r\npriceadd=\r\n") << 1.0 << 0.0;
    QTest::newRow("out of range") << QByteArray("pricefactor=0\r\npriceadd=1e12\r\n") << 1.0 << 0.0;
    QTest::newRow("a negative factor") << QByteArray("pricefactor=-2\r\n") << 1.0 << 0.0;
}

void TestPersistence::priceAdjustmentSettings() {
    QFETCH(QByteArray, stored);
    QFETCH(double, factor);
    QFETCH(double, amount);
    writeFile(file("setting.ini"), "[select]\r\nshoptype=1\r\n" + stored);
    TChoices c;
    ReadSettings(c, file("setting.ini"));
    QCOMPARE(c.PriceFactor, factor);
    QCOMPARE(c.PriceAmount, amount);
    // Written back: a file that had no price keys gets none while they hold their defaults; one
    // that had them keeps them, written as numbers.
    QVERIFY(WriteSettings(c, file("setting.ini")).ok());
    const QByteArray written = readFile(file("setting.ini"));
    QCOMPARE(written.contains("pricefactor="), !stored.isEmpty() && stored.contains("pricefactor="));
    c.PriceFactor = 1.5;
    c.PriceAmount = 0.25;
    QVERIFY(WriteSettings(c, file("setting.ini")).ok());
    TChoices back;
    ReadSettings(back, file("setting.ini"));
    QCOMPARE(back.PriceFactor, 1.5);
    QCOMPARE(back.PriceAmount, 0.25);
    const QByteArray rewritten = readFile(file("setting.ini"));
    QVERIFY(rewritten.contains("pricefactor=1.5\r\n") && rewritten.contains("priceadd=0.25\r\n"));
}

void TestPersistence::writeSettingsInPlace() {
    writeFile(file("setting.ini"),
              "; my notes\r\n[other]\r\nkeep=1\r\n\r\n[select]\r\nlinktype=1\r\n\r\n[last]\r\nx=y\r\n");
    TChoices c;
    c.DataSource = 2;
    c.LinkKind = -1;
    c.LinkText = "  first line\r\nsecond line \n";
    c.WatermarkText = "  店铺 ";
    QVERIFY(WriteSettings(c, file("setting.ini")).ok());
    QCOMPARE(readFile(file("setting.ini")),
             TAnsi::Encode("; my notes\r\n[other]\r\nkeep=1\r\n\r\n[select]\r\nlinktype=-1\r\nshoptype=2\r\n"
                           "linkstr=first line second line\r\npicstr=店铺\r\n\r\n[last]\r\nx=y\r\n"));
    // A value the code page cannot hold turns the file into UTF-8 with its byte-order mark, the
    // rest of it as it was, and it reads back whole.
    c.WatermarkText = QString::fromUtf16(u"店\u0E01铺\U0001F600");
    QVERIFY(WriteSettings(c, file("setting.ini")).ok());
    QCOMPARE(
        readFile(file("setting.ini")),
        "\xEF\xBB\xBF" +
            QString::fromUtf16(u"; my notes\r\n[other]\r\nkeep=1\r\n\r\n[select]\r\nlinktype=-1\r\n"
                               u"shoptype=2\r\nlinkstr=first line second line\r\npicstr=店\u0E01铺\U0001F600"
                               u"\r\n\r\n[last]\r\nx=y\r\n")
                .toUtf8());
    TChoices back;
    ReadSettings(back, file("setting.ini"));
    QCOMPARE(back.DataSource, 2);
    QCOMPARE(back.LinkKind, -1);
    QCOMPARE(back.LinkText, "first line second line"); // the address box is kept on one line
    QCOMPARE(back.WatermarkText, QString::fromUtf16(u"店\u0E01铺\U0001F600"));
    // A file that cannot be written is reported with its name.
    QVERIFY(QDir(m_env->Dir()).mkdir("ro.ini"));
    const TStatus refused = WriteSettings(c, file("ro.ini"));
    QVERIFY2(refused.error().Detail.startsWith("无法写入 " + file("ro.ini") + "："),
             qPrintable(refused.error().Detail));
}

void TestPersistence::cacheCreatesTableSilently() {
    TPageCache cache(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(cache.initializeDB().ok());
    QCOMPARE(countEntries(file("DB.MDB")), 0);
    // A second start finds the table and purges instead, silently too.
    TPageCache again(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(again.initializeDB().ok());
    // The addresses are indexed: in a new store, and in one made before the index existed.
    auto indexes = [this] {
        QStringList names;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-index");
            db.setDatabaseName(file("DB.MDB"));
            if (db.open()) {
                QSqlQuery q(db);
                q.exec("select name from sqlite_master where type = 'index' and tbl_name = 'TaoBaoAU'");
                while (q.next())
                    names.append(q.value(0).toString());
            }
        }
        QSqlDatabase::removeDatabase("test-index");
        return names;
    };
    QCOMPARE(indexes(), QStringList{"TaoBaoAU_Url"});
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-drop");
        db.setDatabaseName(file("DB.MDB"));
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec("drop index TaoBaoAU_Url"));
    }
    QSqlDatabase::removeDatabase("test-drop");
    QCOMPARE(indexes(), QStringList());
    TPageCache older(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(older.initializeDB().ok());
    QCOMPARE(indexes(), QStringList{"TaoBaoAU_Url"});
}

void TestPersistence::cacheHitDoesNotFetch() {
    TMarketSim sim;
    sim.Route("*", "/props", TSimResponse::Text("\r\n\r\n  {\"props\":\"品牌\"}  "));
    TPageCache cache(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(cache.initializeDB().ok());
    THttpClient tc;
    const QString url = sim.Origin() + "/props";
    QCOMPARE(cache.GetCachedPage(url, tc), "\r\n\r\n  {\"props\":\"品牌\"}  ");
    QCOMPARE(cache.GetCachedPage(url, tc), "{\"props\":\"品牌\"}"); // stored trimmed
    QCOMPARE(sim.Requests().size(), 1);
    QCOMPARE(countEntries(file("DB.MDB")), 1);
}

void TestPersistence::cacheNeverKeepsFailures() {
    TMarketSim sim;
    sim.Route("*", "/broken", TSimResponse::Text("<html>server error</html>", "UTF-8", 500));
    TPageCache cache(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(cache.initializeDB().ok());
    THttpClient tc;
    // No response, and an error status: "error", and nothing stored.
    QCOMPARE(cache.GetCachedPage("http://127.0.0.1:1/props", tc), "error");
    QCOMPARE(cache.GetCachedPage(sim.Origin() + "/broken", tc), "error");
    QCOMPARE(countEntries(file("DB.MDB")), 0);
    // An "error" stored by an older version counts as no entry: the address is fetched again.
    const QString url = sim.Origin() + "/props";
    sim.Route("*", "/props", TSimResponse::Text("{\"props\":1}"));
    insertEntry(file("DB.MDB"), QString::fromLatin1(EncryptText(TAnsi::Encode(url), "AA-BB-CC-DD-EE-FF", 0)),
                QDateTime::currentDateTime(),
                QString::fromLatin1(EncryptText("error", "AA-BB-CC-DD-EE-FF", 0)));
    QCOMPARE(cache.GetCachedPage(url, tc), "{\"props\":1}");
    QCOMPARE(cache.GetCachedPage(url, tc), "{\"props\":1}");
    QCOMPARE(sim.Count("127.0.0.1", "/props"), 1);
}

void TestPersistence::cacheIsBoundToTheWorkstation() {
    TMarketSim sim;
    sim.Route("*", "/p", TSimResponse::Text("reply"));
    THttpClient tc;
    TPageCache one(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(one.initializeDB().ok());
    QCOMPARE(one.GetCachedPage(sim.Origin() + "/p", tc), "reply");
    TPageCache other(file("DB.MDB"), "11-22-33-44-55-66");
    QCOMPARE(other.GetCachedPage(sim.Origin() + "/p", tc), "reply");
    QCOMPARE(sim.Requests().size(), 2);
    const QByteArray key = TPageCache::MachineKey();
    QVERIFY(key.isEmpty() ||
            QRegularExpression("^([0-9A-F]{2}-){5}[0-9A-F]{2}$").match(QString::fromLatin1(key)).hasMatch());
}

void TestPersistence::purgeBoundaries() {
    TPageCache cache(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(cache.initializeDB().ok());
    const QDate today(2026, 12, 21);
    insertEntry(file("DB.MDB"), "day 6, 00:00", QDate(2026, 12, 6).startOfDay());
    insertEntry(file("DB.MDB"), "day 5, 23:59", QDateTime(QDate(2026, 12, 5), QTime(23, 59, 59)));
    insertEntry(file("DB.MDB"), "today", QDateTime(today, QTime(10, 0)));
    QVERIFY(cache.ClearTemporaryData(today).ok());
    QCOMPARE(storedUrls(file("DB.MDB")), (QStringList{"day 6, 00:00", "today"}));
    // Start-up purges by the real date: an entry 16 days old goes, one 15 days old stays.
    {
        TPageCache fresh(file("fresh.db"), "AA-BB-CC-DD-EE-FF");
        QVERIFY(fresh.initializeDB().ok());
    }
    insertEntry(file("fresh.db"), "16 days", QDate::currentDate().addDays(-16).startOfDay());
    insertEntry(file("fresh.db"), "15 days", QDate::currentDate().addDays(-15).startOfDay());
    TPageCache restarted(file("fresh.db"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(restarted.initializeDB().ok());
    QCOMPARE(storedUrls(file("fresh.db")), QStringList{"15 days"});
}

void TestPersistence::foreignCacheFileIsLeftAlone_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("a file that is no database") << "no database";
    QTest::newRow("another program's SQLite database") << "foreign database";
    QTest::newRow("a folder") << "folder";
}

void TestPersistence::foreignCacheFileIsLeftAlone() {
    QFETCH(QString, kind);
    const QString store = file("DB.MDB");
    if (kind == "no database") {
        writeFile(store, QByteArray("Standard Jet DB") + QByteArray(2000, '\x01'));
    } else if (kind == "foreign database") {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "foreign");
        db.setDatabaseName(store);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec("create table users (name text)"));
        QVERIFY(QSqlQuery(db).exec("insert into users values ('店主')"));
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase("foreign");
    } else {
        QVERIFY(QDir().mkpath(store));
    }
    const QByteArray before = readFile(store);
    TPageCache cache(store, "AA-BB-CC-DD-EE-FF");
    QVERIFY(cache.initializeDB().ok());
    // Untouched, and a store of ours beside it.
    QCOMPARE(readFile(store), before);
    QVERIFY(!QFile::exists(store + ".bad"));
    QCOMPARE(cache.FileName(), file("DB_tovrel.MDB"));
    QVERIFY2(cache.Notice().contains("DB.MDB 不是本程序的页面缓存"), qPrintable(cache.Notice()));
    QCOMPARE(countEntries(file("DB_tovrel.MDB")), 0);
    // The next start finds the same.
    TPageCache again(store, "AA-BB-CC-DD-EE-FF");
    QVERIFY(again.initializeDB().ok());
    QCOMPARE(again.FileName(), file("DB_tovrel.MDB"));
    QCOMPARE(readFile(store), before);
}

void TestPersistence::cacheOffWhenBothPlacesAreTaken() {
    TMarketSim sim;
    sim.Route("*", "/props", TSimResponse::Text("reply"));
    writeFile(file("DB.MDB"), "not ours");
    writeFile(file("DB_tovrel.MDB"), "not ours either");
    TPageCache cache(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(cache.initializeDB().ok());
    QVERIFY(cache.FileName().isEmpty());
    QVERIFY(cache.Notice().contains("本次运行不使用页面缓存"));
    THttpClient tc;
    QCOMPARE(cache.GetCachedPage(sim.Origin() + "/props", tc), "reply");
    QCOMPARE(cache.GetCachedPage(sim.Origin() + "/props", tc), "reply");
    QCOMPARE(sim.Count("127.0.0.1", "/props"), 2); // nothing kept
    QCOMPARE(readFile(file("DB.MDB")), QByteArray("not ours"));
    QCOMPARE(readFile(file("DB_tovrel.MDB")), QByteArray("not ours either"));
}

void TestPersistence::restartKeepsState() {
    {
        TAppCore core;
        QVERIFY(core.Startup().ok());
        core.UpdateChoices([](TChoices& c) {
            c.DataSource = 1;
            c.WatermarkText = " 店 ";
        });
        core.Links()->Replace({"http://a/1", "http://a/2", "http://a/3"});
        core.Table()->AppendRow([](TRowWriter& row) { row.SetCell(ColTitle, "甲"); });
        QVERIFY(core.SaveState().ok());
    }
    {
        TAppCore core;
        QVERIFY(core.Startup().ok());
        QCOMPARE(core.Choices().DataSource, 1); // 1688, and the table and list still load
        QCOMPARE(core.Choices().WatermarkText, "店");
        QCOMPARE(core.Links()->Items(), (QStringList{"http://a/1", "http://a/2", "http://a/3"}));
        QCOMPARE(core.Table()->Cell(ColTitle, 1), "甲");
        core.Links()->Clear();
        QVERIFY(core.SaveState().ok());
    }
    // An emptied list comes back empty.
    QVERIFY(!QFile::exists(file("listnew")));
    TAppCore core;
    QVERIFY(core.Startup().ok());
    QCOMPARE(core.Links()->Count(), 0);
}

void TestPersistence::damagedGridIsKeptAside() {
    writeFile(file("grid.db"), "0300000000000000ABCD");
    TAppCore core;
    QSignalSpy messages(&core, &TAppCore::messageShown);
    QVERIFY(core.Startup().ok());
    QCOMPARE(core.Table()->RowCount(), 1);
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages[0][0].toString().contains("grid.db.bad"));
    QCOMPARE(readFile(file("grid.db.bad")), QByteArray("0300000000000000ABCD"));
    core.Table()->AppendRow();
    QVERIFY(core.SaveState().ok());
    QCOMPARE(readFile(file("grid.db.bad")), QByteArray("0300000000000000ABCD"));
    TItemTable grid;
    QVERIFY(LoadGridFromFile(grid, file("grid.db")).ok());
    QCOMPARE(grid.RowCount(), 2);
}

void TestPersistence::crashDuringSaveKeepsOldFile_data() {
    QTest::addColumn<bool>("killed");
    QTest::newRow("the process dies while writing") << true;
    QTest::newRow("the write fails (disk full)") << false;
}

void TestPersistence::crashDuringSaveKeepsOldFile() {
    QFETCH(bool, killed);
    // A table larger than the file size the child process may write, and large enough that its
    // save takes a while.
    TItemTable big;
    for (int i = 0; i < (killed ? 600 : 40); ++i)
        big.AppendRow([i, killed](TRowWriter& row) {
            row.SetCell(ColHtml, QString("页面%1 ").arg(i).repeated(killed ? 4000 : 400));
        });
    QVERIFY(SaveGridToFile(big, file("grid.db")).ok());
    const QByteArray before = readFile(file("grid.db"));
    QVERIFY(before.size() > 200 * 1024);
    QProcess cli;
    if (killed) {
        // Killed once it has written a megabyte of the new file (its temporary file may have no
        // name, so the bytes it wrote tell).
        cli.start(QStringLiteral(TOVREL_CLI_PATH), {"--workdir", m_env->Dir(), "select", "all"});
        QVERIFY(cli.waitForStarted());
        bool caught = false;
        QFile io(QStringLiteral("/proc/%1/io").arg(cli.processId()));
        while (!caught && !cli.waitForFinished(0)) {
            if (io.open(QIODevice::ReadOnly)) {
                for (const QByteArray& line : io.readAll().split('\n'))
                    if (line.startsWith("wchar:") && line.mid(6).trimmed().toLongLong() > (1 << 20))
                        caught = true;
                io.close();
            }
            if (caught)
                ::kill(pid_t(cli.processId()), SIGKILL);
            else
                QThread::usleep(200);
        }
        QVERIFY2(caught, "the save ended before it could be interrupted");
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitStatus(), QProcess::CrashExit);
    } else {
        cli.start("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f 100; exec \"$0\" --workdir \"$1\" select all",
                              QStringLiteral(TOVREL_CLI_PATH), m_env->Dir()});
        QVERIFY(cli.waitForFinished(30000));
        QVERIFY(cli.readAllStandardError().contains("grid.db"));
    }
    QCOMPARE(readFile(file("grid.db")), before);
    TItemTable loaded;
    QVERIFY(LoadGridFromFile(loaded, file("grid.db")).ok());
    QCOMPARE(loaded.RowCount(), big.RowCount());
}

void TestPersistence::damagedStateFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("keptAside");
    for (const char* name : {"grid.db", "listnew"})
        for (const char* kind :
             {"empty", "random", "truncated", "other key", "fifo", "directory", "device link"})
            QTest::addRow("%s, %s", name, kind) << QString(name) << QString(kind) << true;
    // The settings file is plain text: whatever it holds is read for what it is worth.
    QTest::addRow("setting.ini, random") << "setting.ini"
                                         << "random" << false;
    for (const char* kind : {"fifo", "directory", "device link"})
        QTest::addRow("setting.ini, %s", kind) << "setting.ini" << QString(kind) << true;
}

void TestPersistence::damagedStateFiles() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, keptAside);
    // What the program itself would have written there.
    TItemTable table;
    table.AppendRow([](TRowWriter& row) { row.SetCell(ColTitle, "宝贝"); });
    TLinkList links;
    links.Replace({"http://item.taobao.com/item.htm?id=1", "http://item.taobao.com/item.htm?id=2"});
    QVERIFY(name != "grid.db" || SaveGridToFile(table, file(name)).ok());
    QVERIFY(name != "listnew" || SaveLinkListToFile(links, file(name)).ok());
    const QByteArray good = readFile(file(name));
    QByteArray content;
    if (kind == "random") {
        QRandomGenerator random(7);
        for (int i = 0; i < 4000; ++i)
            content += char(random.bounded(256));
    } else if (kind == "truncated") {
        content = good.left(good.size() - 32);
    } else if (kind == "other key") {
        const QByteArray plain =
            name == "grid.db" ? TAnsi::Encode(decipherGrid(file(name))) : *DecryptText(good, LinkListKey, 0);
        content = EncryptText(plain, "wxyz", 0);
    }
    QFile::remove(file(name));
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(file(name)).constData(), 0600), 0);
    else if (kind == "directory")
        QVERIFY(QDir(m_env->Dir()).mkdir(name));
    else if (kind == "device link")
        QVERIFY(QFile::link("/dev/zero", file(name)));
    else
        writeFile(file(name), content);

    TAppCore core;
    QSignalSpy messages(&core, &TAppCore::messageShown);
    QVERIFY(core.Startup().ok()); // never blocks, never ends the program
    QCOMPARE(core.Table()->RowCount(), 1);
    QCOMPARE(core.Links()->Count(), 0);
    QCOMPARE(PathTaken(file(name + ".bad")), keptAside);
    QCOMPARE(messages.size(), keptAside ? 1 : 0);
    if (!keptAside)
        return;
    QVERIFY2(messages[0][0].toString().contains(name) && messages[0][0].toString().contains(name + ".bad"),
             qPrintable(messages[0][0].toString()));
    if (kind != "fifo" && kind != "directory" && kind != "device link")
        QCOMPARE(readFile(file(name + ".bad")), content);
    // The next save writes a sound file in its place and leaves the copy alone.
    core.Table()->AppendRow([](TRowWriter& row) { row.SetCell(ColTitle, "新"); });
    core.Links()->Append("http://item.taobao.com/item.htm?id=3");
    core.UpdateChoices([](TChoices& c) { c.WatermarkText = "店"; });
    QVERIFY(core.SaveState().ok());
    QVERIFY(QFileInfo(file(name)).isFile());
    QVERIFY(PathTaken(file(name + ".bad")));
}

void TestPersistence::damagedCopiesAreAllKept() {
    for (const QByteArray& content :
         {QByteArray("first damaged"), QByteArray("second damaged"), QByteArray("third")}) {
        writeFile(file("grid.db"), content);
        TAppCore core;
        QVERIFY(core.Startup().ok());
    }
    QCOMPARE(readFile(file("grid.db.bad")), QByteArray("first damaged"));
    QCOMPARE(readFile(file("grid.db.bad.1")), QByteArray("second damaged"));
    QCOMPARE(readFile(file("grid.db.bad.2")), QByteArray("third"));
}

void TestPersistence::fileThatCannotBeKeptAsideIsNeverOverwritten() {
    // A working folder whose path is so long that "grid.db" can be named in it but "grid.db.bad"
    // cannot: renaming the damaged file fails (even for the superuser, who may rename anything).
    QString folder = m_env->Dir();
    const int wanted = 4087; // "/grid.db" reaches the 4095 characters a path may have; ".bad" passes them
    while (folder.size() < wanted)
        folder += "/" + QString(std::min<qsizetype>(200, wanted - folder.size() - 1), QChar('d'));
    QCOMPARE(folder.size(), wanted);
    QVERIFY(QDir().mkpath(folder));
    TPaths::SetWorkDir(folder);
    const QString grid = folder + "/grid.db";
    writeFile(grid, "damaged beyond reading");
    {
        TAppCore core;
        QSignalSpy messages(&core, &TAppCore::messageShown);
        QVERIFY(core.Startup().ok());
        QStringList shown;
        for (const auto& args : messages)
            shown.append(args[0].toString());
        QVERIFY2(shown.join('|').contains("本次运行不会保存宝贝表格"), qPrintable(shown.join('|')));
        core.Table()->AppendRow([](TRowWriter& row) { row.SetCell(ColTitle, "新"); });
        const TStatus saved = core.SaveState();
        QVERIFY(!saved);
        QVERIFY(saved.error().Detail.contains("宝贝表格没有保存"));
    }
    QCOMPARE(readFile(grid), QByteArray("damaged beyond reading"));
    TPaths::SetWorkDir(m_env->Dir());
}

void TestPersistence::deeplyNestedGridIsDamaged() {
    const QByteArray json = "[{\"0\":\"a\"}," + QByteArray(200000, '[') + QByteArray(200000, ']') + "]";
    writeFile(file("grid.db"), EncryptText(json, GridKey, 0));
    TItemTable grid;
    const TStatus loaded = LoadGridFromFile(grid, file("grid.db"));
    QCOMPARE(loaded.error().Code, TErrc::Damaged);
    QCOMPARE(grid.RowCount(), 1);
}

void TestPersistence::settingsWithByteOrderMark_data() {
    QTest::addColumn<QByteArray>("bom");
    QTest::addColumn<QString>("codec");
    QTest::newRow("UTF-8") << QByteArray("\xEF\xBB\xBF") << "UTF-8";
    QTest::newRow("UTF-16") << QByteArray("\xFF\xFE") << "UTF-16LE";
}

void TestPersistence::settingsWithByteOrderMark() {
    QFETCH(QByteArray, bom);
    QFETCH(QString, codec);
    QStringEncoder encoder(codec.toLatin1().constData());
    const QString text = "[select]\r\nshoptype=2\r\nlinkstr=http://店.example\r\npicstr=小店\r\n";
    writeFile(file("setting.ini"), bom + QByteArray(encoder.encode(text)));
    TChoices c;
    ReadSettings(c, file("setting.ini"));
    QCOMPARE(c.DataSource, 2);
    QCOMPARE(c.LinkText, "http://店.example");
    QCOMPARE(c.WatermarkText, "小店");
    // Written back in its own encoding, with one [select] section.
    c.WatermarkText = "大店";
    QVERIFY(WriteSettings(c, file("setting.ini")).ok());
    const QByteArray written = readFile(file("setting.ini"));
    QVERIFY(written.startsWith(bom));
    QStringDecoder decoder(codec.toLatin1().constData());
    const QString back = decoder.decode(written.mid(bom.size()));
    QCOMPARE(back.count("[select]"), 1);
    QVERIFY(back.contains("picstr=大店"));
    TChoices again;
    ReadSettings(again, file("setting.ini"));
    QCOMPARE(again.WatermarkText, "大店");
}

void TestPersistence::busyCacheIsNotDamaged() {
    TPageCache cache(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
    QVERIFY(cache.initializeDB().ok());
    insertEntry(file("DB.MDB"), "kept", QDateTime::currentDateTime());
    {
        // Another process holds the store for longer than a start-up waits.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "test-busy");
        db.setDatabaseName(file("DB.MDB"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec("begin exclusive"));
        TPageCache again(file("DB.MDB"), "AA-BB-CC-DD-EE-FF");
        QVERIFY(again.initializeDB().ok());
        QVERIFY(!QFile::exists(file("DB.MDB.bad")));
        QVERIFY(q.exec("rollback"));
        db.close();
    }
    QSqlDatabase::removeDatabase("test-busy");
    QCOMPARE(storedUrls(file("DB.MDB")), QStringList{"kept"});
}

void TestPersistence::fullDiskKeepsSmallFiles() {
    // The real program with a file size limit of zero: every write fails at its last flush.
    auto cli = [this](const QStringList& args, const QString& limit) {
        QProcess p;
        p.start("/bin/sh", QStringList{"-c",
                                       "trap '' XFSZ; ulimit -f " + limit +
                                           "; d=$1; shift; exec \"$0\" --workdir \"$d\" \"$@\"",
                                       QStringLiteral(TOVREL_CLI_PATH), m_env->Dir()} +
                               args);
        p.waitForFinished(30000);
        return std::pair<int, QString>{p.exitCode(), QString::fromUtf8(p.readAllStandardError())};
    };
    QCOMPARE(cli({"add", "http://item.taobao.com/item.htm?id=1"}, "unlimited").first, 0);
    QCOMPARE(cli({"watermark-text", "小店"}, "unlimited").first, 0);
    const QByteArray list = readFile(file("listnew"));
    const QByteArray settings = readFile(file("setting.ini"));
    QVERIFY(!list.isEmpty() && !settings.isEmpty());
    for (const QStringList& args : {QStringList{"add", "http://item.taobao.com/item.htm?id=2"},
                                    QStringList{"watermark-text", "大店"}}) {
        const auto [status, err] = cli(args, "0");
        QCOMPARE(status, 1);
        QVERIFY2(err.contains("File too large"), qPrintable(err)); // the system's reason
        QCOMPARE(readFile(file("listnew")), list);
        QCOMPARE(readFile(file("setting.ini")), settings);
    }
}

void TestPersistence::locksWithoutALiveHolder_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("takenOver");
    QTest::newRow("an empty lock file") << "empty" << true;
    QTest::newRow("garbage") << "garbage" << true;
    QTest::newRow("process number 0") << "zero" << true;
    QTest::newRow("a process that has ended") << "ended" << true;
    QTest::newRow("a number given to a later process") << "reused" << true;
    QTest::newRow("an empty folder") << "folder" << true;
    QTest::newRow("a link to nowhere") << "link" << true;
    QTest::newRow("a live holder") << "live" << false;
}

void TestPersistence::locksWithoutALiveHolder() {
    QFETCH(QString, kind);
    QFETCH(bool, takenOver);
    const QString lock = file("tovrel.lock");
    const QByteArray host = QSysInfo::machineHostName().toUtf8();
    QProcess other;
    // The holder's program name as the system knows it ("sleep" stands in for a running Tovrel).
    auto lockOf = [&host](qint64 pid) { return QByteArray::number(pid) + "\nsleep\n" + host + "\n"; };
    if (kind == "empty") {
        writeFile(lock, "");
    } else if (kind == "garbage") {
        writeFile(lock, "\x01\x02 not a lock at all");
    } else if (kind == "zero") {
        writeFile(lock, lockOf(0));
    } else if (kind == "ended" || kind == "reused" || kind == "live") {
        other.start("sleep", {"30"});
        QVERIFY(other.waitForStarted());
        writeFile(lock, lockOf(other.processId()));
        if (kind == "ended") {
            other.kill();
            QVERIFY(other.waitForFinished(5000));
        }
        if (kind == "reused") {
            // The lock was written an hour before its process started.
            QFile f(lock);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                  QFileDevice::FileModificationTime));
        }
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(lock));
    } else if (kind == "link") {
        QVERIFY(QFile::link(file("nowhere"), lock));
    }
    TAppCore core;
    const TStatus locked = core.LockWorkFolder();
    QCOMPARE(locked.ok(), takenOver);
    if (takenOver) {
        QVERIFY(QFileInfo(lock).isFile());
        QVERIFY(readFile(lock).startsWith(QByteArray::number(QCoreApplication::applicationPid()) + "\n"));
    } else {
        QCOMPARE(locked.error().Code, TErrc::Locked);
        QVERIFY2(core.FolderBusyMessage().contains(QString::number(other.processId())),
                 qPrintable(core.FolderBusyMessage()));
        QCOMPARE(readFile(lock), lockOf(other.processId()));
    }
    if (other.state() != QProcess::NotRunning) {
        other.kill();
        other.waitForFinished(5000);
    }
}

void TestPersistence::lockThatCannotBeRemovedIsNamed() {
    // A folder with something in it in the lock's place: nothing is removed, and the message says
    // which file it is and what to do.
    const QString lock = file("tovrel.lock");
    QVERIFY(QDir().mkpath(lock + "/inside"));
    TAppCore core;
    const TStatus locked = core.LockWorkFolder();
    QVERIFY(!locked.ok());
    QCOMPARE(locked.error().Code, TErrc::Locked);
    const QString message = core.FolderBusyMessage();
    QVERIFY2(message.contains(QDir::toNativeSeparators(lock)) && message.contains("请删除这个文件后再试"),
             qPrintable(message));
    QVERIFY(QDir(lock + "/inside").exists());
}

QTEST_GUILESS_MAIN(TestPersistence)
#include "test_persistence.moc"
