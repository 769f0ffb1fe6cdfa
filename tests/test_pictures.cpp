// The watermark, the per-item picture download and the export's package pictures.

#include "exportedcsv.h"
#include "marketsim.h"
#include "testenv.h"
#include "testfiles.h"

#include "app/appcore.h"
#include "base/cipher.h"
#include "export/csvexport.h"
#include "pictures/picturedownload.h"
#include "pictures/watermark.h"
#include "platform/paths.h"
#include "table/itemtable.h"
#include "web/httpclient.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A 1 × 1 GIF.
const QByteArray
    Gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00!\xf9\x04\x01\x00\x00\x00\x00,"
        "\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
        43);

QByteArray encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

QImage solid(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// The columns and rows whose pixels differ from the background's red channel.
QRect inkBox(const QImage& canvas, int background) {
    int left = canvas.width(), right = -1, top = canvas.height(), bottom = -1;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x)
            if (qAbs(qRed(canvas.pixel(x, y)) - background) > 8) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

} // namespace

class TestPictures : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void fontIsArialOrItsTwin();
    void textIsCentredAndShadowed();
    void brushColoursBlend();
    void transparentPictureComesOutBlack();
    void watermarkKeepsTheNamesFormat_data();
    void watermarkKeepsTheNamesFormat();
    void unreadableBytesAreRefused();
    void savePictureWithAndWithoutWatermark();
    void md5Text();
    void picturePath_data();
    void picturePath();

    void downloadNamesAndLocalDescription();
    void downloadKeepsTheEditedDescription();
    void titlePriceNaming();
    void failedPicturesKeepTheirAddress();
    void hostileTitleStaysInItsFolder();
    void errorPagesAreNoPictures();
    void sameTitlesGetFoldersOfTheirOwn();
    void unwritableFolderIsReported();
    void noRowSelected();
    void rowDeletedDuringDownload();

    void exportPictureField();
    void exportWithoutMainPictures();
    void pictureFetchAddresses_data();
    void pictureFetchAddresses();
    void downloadTakesEveryAddressForm();
    void exportTakesEveryAddressForm();

  private:
    std::unique_ptr<TTestEnvironment> m_env;
    TMarketSim* m_sim = nullptr;
    TAppCore* m_core = nullptr;
    int addRow(const QString& title, const QString& description, const QString& watermark = QString(),
               const QString& price = "99.00");
    // Runs the picture download into `folder` and returns the item folders it made.
    QStringList downloadPictures(const QString& folder);
    // Runs an export into `job`'s files.
    void runExport(const TExportJob& job);
};

QStringList TestPictures::downloadPictures(const QString& folder) {
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    if (!m_core->StartPictureDownload(folder) || !finished.wait(30000))
        return {"the download did not run"};
    return finished.first()[1].value<TJobResult>().Produced;
}

void TestPictures::runExport(const TExportJob& job) {
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    QVERIFY(m_core->StartExport(job));
    QVERIFY(finished.wait(30000));
}

void TestPictures::cleanup() {
    m_env.reset();
}

void TestPictures::init() {
    m_env = std::make_unique<TTestEnvironment>();
    qputenv("no_proxy", "127.0.0.1"); // so a refused address stays refused
    m_sim = &m_env->Sim();
    m_core = &m_env->Core();
}

int TestPictures::addRow(const QString& title, const QString& description, const QString& watermark,
                         const QString& price) {
    return m_core->Table()->AppendRow([&](TRowWriter& row) {
        row.SetCell(ColTitle, title);
        row.SetCell(ColPrice, price);
        row.SetCell(ColDetail, description);
        row.SetCell(ColWatermark, watermark);
    });
}

void TestPictures::fontIsArialOrItsTwin() {
    QFont font;
    font.setFamilies({"Arial", "Liberation Sans"});
    font.setPixelSize(24);
    font.setBold(true);
    const QString family = QFontInfo(font).family();
    QVERIFY2(family == "Arial" || family == "Liberation Sans", qPrintable(family));
}

void TestPictures::textIsCentredAndShadowed() {
    // White text on black shows only the text; black shadow on white shows only the shadow.
    const QImage onBlack = WatermarkCanvas("HIH", solid(401, 60, Qt::black));
    const QImage onWhite = WatermarkCanvas("HIH", solid(401, 60, Qt::white));
    const QRect text = inkBox(onBlack, 0);
    const QRect shadow = inkBox(onWhite, 255);
    QVERIFY(text.isValid() && shadow.isValid());
    const double centre = (text.left() + text.right() + 1) / 2.0;
    QVERIFY2(qAbs(centre - 200.5) <= 1.0, qPrintable(QString::number(centre)));
    QCOMPARE(shadow.left() - text.left(), 1);
    QCOMPARE(shadow.top() - text.top(), 1);
    QCOMPARE(shadow.size(), text.size());
    // The line's top is at y = 26: the capital letters start a few pixels below it.
    QVERIFY(text.top() > 26 && text.top() < 26 + 12);
    QCOMPARE(onBlack.dotsPerMeterX(), 2835); // 72 dots per inch
}

void TestPictures::brushColoursBlend() {
    // Over grey 128: text alone gives 0.6·255 + 0.4·128 = 204, shadow alone 0.4·128 = 51.
    const QImage canvas = WatermarkCanvas("HHHH", solid(200, 60, QColor(128, 128, 128)));
    int brightest = 0, darkest = 255;
    for (int y = 0; y < canvas.height(); ++y)
        for (int x = 0; x < canvas.width(); ++x) {
            brightest = std::max(brightest, qRed(canvas.pixel(x, y)));
            darkest = std::min(darkest, qRed(canvas.pixel(x, y)));
        }
    QVERIFY2(qAbs(brightest - 204) <= 3, qPrintable(QString::number(brightest)));
    QVERIFY2(qAbs(darkest - 51) <= 3, qPrintable(QString::number(darkest)));
}

void TestPictures::transparentPictureComesOutBlack() {
    const QString path = m_env->File("t.jpg");
    QVERIFY(DrawWatermark("水印", path, encoded(solid(80, 80, Qt::transparent), "PNG")).ok());
    const QByteArray bytes = readFile(path);
    QVERIFY(bytes.startsWith("\xFF\xD8"));
    const QImage written = QImage::fromData(bytes);
    QCOMPARE(written.size(), QSize(80, 80));
    QVERIFY(qRed(written.pixel(3, 75)) < 10 && qGreen(written.pixel(3, 75)) < 10);
}

void TestPictures::watermarkKeepsTheNamesFormat_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("magic");
    QTest::addColumn<bool>("alpha");
    QTest::newRow("png") << "p.png" << QByteArray("\x89PNG") << true;
    QTest::newRow("PNG in capitals") << "p.PNG" << QByteArray("\x89PNG") << true;
    QTest::newRow("jpg") << "p.jpg" << QByteArray("\xFF\xD8") << false;
    QTest::newRow("the package's tbi") << "p.tbi" << QByteArray("\xFF\xD8") << false;
    QTest::newRow("bmp") << "p.bmp" << QByteArray("BM") << false;
}

void TestPictures::watermarkKeepsTheNamesFormat() {
    QFETCH(QString, name);
    QFETCH(QByteArray, magic);
    QFETCH(bool, alpha);
    // A picture with a transparent half.
    QImage picture(60, 60, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    for (int y = 0; y < 60; ++y)
        for (int x = 0; x < 30; ++x)
            picture.setPixel(x, y, qRgba(0, 0, 255, 255));
    const TResult<QString> written = DrawWatermark("水印", m_env->File(name), encoded(picture, "PNG"));
    QVERIFY(written.ok());
    QCOMPARE(*written, m_env->File(name));
    const QByteArray bytes = readFile(*written);
    QVERIFY(bytes.startsWith(magic));
    const QImage back = QImage::fromData(bytes);
    QCOMPARE(back.size(), QSize(60, 60));
    QCOMPARE(qAlpha(back.pixel(55, 55)) == 0, alpha); // the transparent half stays so in a PNG
    QVERIFY(qBlue(back.pixel(5, 55)) > 200);
}

void TestPictures::unreadableBytesAreRefused() {
    const auto notAPicture = DrawWatermark("x", m_env->File("n.jpg"), "<html>404</html>");
    QCOMPARE(notAPicture.error().Code, TErrc::BadReply);
    QVERIFY(!QFile::exists(m_env->File("n.jpg")));
    const auto nowhere =
        DrawWatermark("x", m_env->File("no/such/dir/n.jpg"), encoded(solid(5, 5, Qt::red), "PNG"));
    QCOMPARE(nowhere.error().Code, TErrc::Io);
    QVERIFY(!nowhere.error().Detail.isEmpty());
}

void TestPictures::savePictureWithAndWithoutWatermark() {
    TSimResponse gif;
    gif.Body = Gif;
    m_sim->Route("img.example.com", "/a.gif", gif);
    THttpClient tc;
    QByteArray buffer;
    QVERIFY(SaveItemPicture(tc, buffer, "", m_env->File("plain.gif"), "http://img.example.com/a.gif"));
    QCOMPARE(readFile(m_env->File("plain.gif")), Gif);
    // A GIF cannot be written as GIF: the watermarked picture is a PNG, named .png.
    const TResult<QString> marked =
        SaveItemPicture(tc, buffer, "店", m_env->File("marked.gif"), "http://img.example.com/a.gif");
    QVERIFY(marked.ok());
    QCOMPARE(*marked, m_env->File("marked.png"));
    QVERIFY(readFile(m_env->File("marked.png")).startsWith("\x89PNG"));
    QVERIFY(!QFile::exists(m_env->File("marked.gif")));
    QVERIFY(!SaveItemPicture(tc, buffer, "", m_env->File("x.gif"), "http://127.0.0.1:1/a.gif"));
}

void TestPictures::md5Text() {
    QCOMPARE(Md5Text(""), "D41D8CD98F00B204E9800998ECF8427E");
    QCOMPARE(Md5Text("abc"), "900150983CD24FB0D6963F7D28E17F72");
    // The digest covers the code page's bytes: 宝 is B1 A6.
    QCOMPARE(
        Md5Text("宝"),
        QString::fromLatin1(QCryptographicHash::hash("\xB1\xA6", QCryptographicHash::Md5).toHex().toUpper()));
    QVERIFY(Md5Text("连衣裙A") != Md5Text("连衣裙B"));
}

void TestPictures::picturePath_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("ex");
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("path");
    QTest::newRow("the name after the last /") << "http://i.example/a/b.jpg_310x310.jpg"
                                               << "t"
                                               << "" << 0 << "/f/b.jpg_310x310.jpg";
    QTest::newRow("title, price, position and suffix") << "http://i.example/x/abc.jpg"
                                                       << "连衣裙"
                                                       << "99.00" << 2 << "/f/连衣裙_99.00_2_.jpg";
    QTest::newRow("a name without a dot is its own suffix") << "http://i.example/x/abc"
                                                            << "t"
                                                            << "1" << 0 << "/f/t_1_0_abc";
    QTest::newRow("a blank price keeps the plain name") << "http://i.example/x/abc.jpg"
                                                        << "t"
                                                        << "  " << 0 << "/f/abc.jpg";
    QTest::newRow("a title that climbs out of the folder") << "http://i.example/x/abc.jpg"
                                                           << "../../evil"
                                                           << "1" << 0 << "/f/.._.._evil_1_0_.jpg";
    QTest::newRow("a title with a slash, a backslash and a colon") << "http://i.example/x/abc.jpg"
                                                                   << "13/14寸\\包:黑"
                                                                   << "1" << 0 << "/f/13_14寸_包_黑_1_0_.jpg";
    QTest::newRow("an address ending in ..") << "http://i.example/x/.."
                                             << "t"
                                             << "" << 0 << "/f/_";
    QTest::newRow("an address name with a query") << "http://i.example/x/a.jpg?size=1|2"
                                                  << "t"
                                                  << "" << 0 << "/f/a.jpg_size=1_2";
    QTest::newRow("a title too long for a name")
        << "http://i.example/x/abc.jpg" << QString(320, QChar(u'长')) << "99.00" << 1
        << "/f/" + QString(80, QChar(u'长')) + "_99.00_1_.jpg"; // 80 × 3 bytes + 13 bytes = 253
    QTest::newRow("an address name too long") << "http://i.example/x/" + QString(300, 'n') + ".jpeg"
                                              << "t"
                                              << "" << 0 << "/f/" + QString(250, 'n') + ".jpeg";
}

void TestPictures::picturePath() {
    QFETCH(QString, address);
    QFETCH(QString, title);
    QFETCH(QString, ex);
    QFETCH(int, n);
    QFETCH(QString, path);
    QCOMPARE(PicturePath("/f", address, title, ex, n), path);
}

void TestPictures::downloadNamesAndLocalDescription() {
    TSimResponse jpg;
    jpg.Body = encoded(solid(40, 30, Qt::blue), "JPEG");
    m_sim->Route("img.example.com", "/p/one.jpg", jpg);
    m_sim->Route("img.example.com", "/p/one.jpg_310x310.jpg", jpg);
    TSimResponse gif;
    gif.Body = Gif;
    m_sim->Route("img.example.com", "/p/two.gif", gif);
    const QString description =
        "<p><a href=\"http://shop.example/item\"><img src=\"http://img.example.com/p/one.jpg\"></a>"
        "<img src=\"http://img.example.com/p/one.jpg_310x310.jpg\"><IMG "
        "SRC=\"http://img.example.com/p/two.gif\">"
        "<img src=\"//other.example/no-head.jpg\"></p>";
    const int a = addRow("连衣裙A", description);
    const int b = addRow("连衣裙B", "<p>没有图片 <a href=\"http://x.example/\">链接</a></p>");
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    const QStringList folders = downloadPictures(out);
    QCOMPARE(folders, QStringList{out + "/" + Md5Text("连衣裙A")});
    QVERIFY(
        !QFileInfo::exists(out + "/" + Md5Text("连衣裙B"))); // no empty folder for an item without pictures
    const QString folder = folders[0];
    QCOMPARE(readFile(folder + "/two.gif"), Gif);
    QVERIFY(QFile::exists(folder + "/one.jpg"));
    QVERIFY(QFile::exists(folder + "/one.jpg_310x310.jpg"));
    // The shorter address was replaced first and changed the start of the longer one too; the
    // link target is gone; the protocol-relative address that could not be fetched was not touched.
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, a),
             "<p><a href=\"\"><img src=\"file://" + folder + "/one.jpg\"></a><img src=\"file://" + folder +
                 "/one.jpg_310x310.jpg\"><IMG SRC=\"file://" + folder +
                 "/two.gif\">"
                 "<img src=\"//other.example/no-head.jpg\"></p>");
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, b), "<p>没有图片 <a href=\"\">链接</a></p>");
}

void TestPictures::downloadKeepsTheEditedDescription() {
    // A description edited in 编辑信息 is the one the download starts from: its pictures are
    // fetched, and its words stay, also for an item with no picture to fetch.
    TSimResponse jpg;
    jpg.Body = encoded(solid(20, 20, Qt::red), "JPEG");
    m_sim->Route("img.example.com", "/p/edited.jpg", jpg);
    m_sim->Route("img.example.com", "/p/original.jpg", jpg);
    const int a = addRow("编辑过A", "<p>原来的描述<img src=\"http://img.example.com/p/original.jpg\"></p>");
    const int b = addRow("编辑过B", "<p>原来的描述B</p>");
    TItemEdit edit;
    edit.LocalDetail = QString("<p>改过的描述<img src=\"http://img.example.com/p/edited.jpg\"></p>");
    QVERIFY(m_core->EditItemById(m_core->Items().RowId(a), edit));
    edit.LocalDetail = QString("<p>改过的描述B</p>");
    QVERIFY(m_core->EditItemById(m_core->Items().RowId(b), edit));
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    const QStringList folders = downloadPictures(out);
    QCOMPARE(folders, QStringList{out + "/" + Md5Text("编辑过A")});
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, a),
             "<p>改过的描述<img src=\"file://" + folders[0] + "/edited.jpg\"></p>");
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, b), "<p>改过的描述B</p>");
    QCOMPARE(m_sim->Count("img.example.com", "/p/original.jpg"), 0);
}

void TestPictures::titlePriceNaming() {
    TSimResponse jpg;
    jpg.Body = encoded(solid(40, 30, Qt::blue), "JPEG");
    for (const char* name : {"/p/a.jpg", "/p/b.png", "/p/abc.jpg"})
        m_sim->Route("img.example.com", name, jpg);
    addRow("连衣裙",
           "<img src=\"http://img.example.com/p/a.jpg\"><img src=\"http://img.example.com/p/b.png\">"
           "<img src=\"http://img.example.com/p/abc.jpg\">",
           "小店");
    m_core->UpdateChoices([](TChoices& c) { c.TitleWithPrice = true; });
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    const QString folder = downloadPictures(out).first();
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
             (QStringList{"连衣裙_99.00_0_.jpg", "连衣裙_99.00_1_.png", "连衣裙_99.00_2_.jpg"}));
    QVERIFY(readFile(folder + "/连衣裙_99.00_1_.png").startsWith("\x89PNG")); // watermarked, as its name says
    // The source 拍拍 never names pictures by title and price. (The description made by the first
    // download points at the saved pictures now; without it the row starts from the page's again.)
    m_core->Table()->SetCell(ColLocalDetail, 1, QString());
    m_core->UpdateChoices([](TChoices& c) { c.DataSource = 2; });
    const QString other = m_env->File("other");
    QVERIFY(QDir().mkpath(other));
    QCOMPARE(QDir(downloadPictures(other).first()).entryList(QDir::Files, QDir::Name),
             (QStringList{"a.jpg", "abc.jpg", "b.png"}));
}

void TestPictures::failedPicturesKeepTheirAddress() {
    m_sim->Route("img.example.com", "/p/page.jpg",
                 TSimResponse::Text("<html>not found</html>", "UTF-8", 404));
    const QString description =
        "<img src=\"http://127.0.0.1:1/p/gone.jpg\"><img src=\"http://img.example.com/p/page.jpg\">";
    const int row = addRow("坏图", description, "小店");
    m_core->Table()->SetCell(ColWatermark, row, "小店");
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    // No picture saved: no folder is left behind, and none is named.
    QCOMPARE(downloadPictures(out), QStringList());
    QCOMPARE(QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, row), description);
}

void TestPictures::hostileTitleStaysInItsFolder() {
    TSimResponse jpg;
    jpg.Body = encoded(solid(10, 10, Qt::blue), "JPEG");
    m_sim->Route("img.example.com", "/p/a.jpg", jpg);
    const QString description = "<img src=\"http://img.example.com/p/a.jpg\">";
    const int row = addRow("../../evil", description);
    m_core->UpdateChoices([](TChoices& c) { c.TitleWithPrice = true; });
    const QString out = m_env->File("deep/out");
    QVERIFY(QDir().mkpath(out));
    const QString folder = downloadPictures(out).first();
    // The title's separators became "_": the picture is saved inside the item's folder, and
    // nothing outside it.
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{".._.._evil_99.00_0_.jpg"});
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, row),
             "<img src=\"file://" + folder + "/.._.._evil_99.00_0_.jpg\">");
    QCOMPARE(QDir(m_env->File("deep")).entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(m_env->Dir()).entryList({"*evil*"}, QDir::Files), QStringList());
}

void TestPictures::errorPagesAreNoPictures() {
    // A 404 page, an HTML page served under a picture's name, a redirect to an error page.
    m_sim->Route("img.example.com", "/p/gone.jpg",
                 TSimResponse::Text("<html>not found</html>", "UTF-8", 404));
    m_sim->Route("img.example.com", "/p/page.jpg", TSimResponse::Text("<html>login first</html>"));
    m_sim->Route("img.example.com", "/p/moved.jpg", TSimResponse::Redirect("/p/gone.jpg"));
    TSimResponse gif;
    gif.Body = Gif;
    m_sim->Route("img.example.com", "/p/good.gif", gif);
    const QString description =
        "<img src=\"http://img.example.com/p/gone.jpg\"><img "
        "src=\"http://img.example.com/p/page.jpg\"><img src=\"http://img.example.com/p/moved.jpg\">"
        "<img src=\"http://img.example.com/p/good.gif\">";
    const int row = addRow("错误页", description); // no watermark: bytes would be kept as they came
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    QSignalSpy log(m_core, &TAppCore::logLine);
    QSignalSpy advanced(m_core, &TAppCore::jobAdvanced);
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    QVERIFY(m_core->StartPictureDownload(out));
    QVERIFY(finished.wait(30000));
    // Every picture counted, saved or not: from 0 of 4 to 4 of 4.
    QCOMPARE(advanced.first()[1].toLongLong(), 0);
    QCOMPARE(advanced.first()[2].toLongLong(), 4);
    QCOMPARE(advanced.last()[1].toLongLong(), 4);
    const QString folder = out + "/" + Md5Text("错误页");
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"good.gif"});
    QCOMPARE(readFile(folder + "/good.gif"), Gif);
    // The addresses of the pictures not saved stay; the failures are logged and summed up.
    const QString local = m_core->Table()->Cell(ColLocalDetail, row);
    QVERIFY(local.contains("http://img.example.com/p/gone.jpg") &&
            local.contains("http://img.example.com/p/page.jpg"));
    QStringList logged;
    for (const auto& args : log)
        logged.append(args.first().toString());
    QCOMPARE(logged.filter("没有保存").size(), 3);
    QVERIFY(logged.join('|').contains("HTTP 404"));
    const TJobResult result = finished.first()[1].value<TJobResult>();
    QCOMPARE(result.Outcome, TJobOutcome::Failed);
    QCOMPARE(result.Summary, "图片 1 张已保存，3 张失败");
    QCOMPARE(TAppCore::OutcomeText(TJobKind::Pictures, result), "完成：图片 1 张，3 张失败");
}

void TestPictures::sameTitlesGetFoldersOfTheirOwn() {
    TSimResponse jpg;
    jpg.Body = encoded(solid(10, 10, Qt::blue), "JPEG");
    m_sim->Route("img.example.com", "/a/x.jpg", jpg);
    m_sim->Route("img.example.com", "/b/x.jpg", jpg);
    addRow("同名", "<img src=\"http://img.example.com/a/x.jpg\">");
    addRow("同名", "<img src=\"http://img.example.com/b/x.jpg\">");
    addRow("同名", "<p>none</p>");
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    const QString base = out + "/" + Md5Text("同名");
    // The third, without pictures, gets no folder.
    QCOMPARE(downloadPictures(out), (QStringList{base, base + "_2"}));
    QVERIFY(!QFileInfo::exists(base + "_3"));
    QVERIFY(QFile::exists(base + "/x.jpg"));
    QVERIFY(QFile::exists(base + "_2/x.jpg"));
    QCOMPARE(m_core->Table()->Cell(ColLocalDetail, 2), "<img src=\"file://" + base + "_2/x.jpg\">");
}

void TestPictures::unwritableFolderIsReported() {
    TSimResponse jpg;
    jpg.Body = encoded(solid(10, 10, Qt::blue), "JPEG");
    m_sim->Route("img.example.com", "/p/a.jpg", jpg);
    addRow("甲", "<img src=\"http://img.example.com/p/a.jpg\">");
    // A file where the chosen folder should be: nothing can be written below it.
    writeFile(m_env->File("notafolder"), "x");
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    QVERIFY(m_core->StartPictureDownload(m_env->File("notafolder")));
    QVERIFY(finished.wait(30000));
    const TJobResult result = finished.first()[1].value<TJobResult>();
    QCOMPARE(result.Outcome, TJobOutcome::Failed);
    QCOMPARE(result.Summary, "图片 0 张已保存，1 张失败");
}

void TestPictures::noRowSelected() {
    addRow("甲", "<img src=\"http://img.example.com/p/a.jpg\">");
    m_core->Table()->SetCell(ColSelect, 1, "");
    QSignalSpy captions(m_core, &TAppCore::captionChanged);
    QSignalSpy enabled(m_core, &TAppCore::commandsEnabled);
    QCOMPARE(downloadPictures(m_env->Dir()), QStringList());
    QCOMPARE(captions.first()[1].toString(), "下载中..");
    QCOMPARE(captions.last()[1].toString(), "下载图片");
    QCOMPARE(enabled.last().first().toBool(), true);
    QCOMPARE(m_sim->Requests().size(), 0);
}

void TestPictures::rowDeletedDuringDownload() {
    TSimResponse slow;
    slow.Body = encoded(solid(10, 10, Qt::blue), "JPEG");
    slow.DelayMs = 300;
    for (const char* name : {"/p/a.jpg", "/p/b.jpg", "/p/c.jpg"})
        m_sim->Route("img.example.com", name, slow);
    addRow("甲", "<img src=\"http://img.example.com/p/a.jpg\">");
    addRow("乙", "<img src=\"http://img.example.com/p/b.jpg\">");
    addRow("丙", "<img src=\"http://img.example.com/p/c.jpg\">");
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    QVERIFY(m_core->StartPictureDownload(out));
    // The first item goes while its picture is still on its way.
    QVERIFY(StringGridDel(*m_core->Table(), 1));
    QVERIFY(finished.wait(30000));
    // Each remaining row received its own local description, and none received the deleted one's.
    TItemTable& grid = *m_core->Table();
    QCOMPARE(grid.RowCount(), 3);
    QCOMPARE(grid.Cell(ColTitle, 1), "乙");
    QCOMPARE(grid.Cell(ColLocalDetail, 1), "<img src=\"file://" + out + "/" + Md5Text("乙") + "/b.jpg\">");
    QCOMPARE(grid.Cell(ColTitle, 2), "丙");
    QCOMPARE(grid.Cell(ColLocalDetail, 2), "<img src=\"file://" + out + "/" + Md5Text("丙") + "/c.jpg\">");
}

void TestPictures::exportPictureField() {
    TSimResponse jpg;
    jpg.Body = encoded(solid(20, 20, Qt::green), "JPEG");
    m_sim->Route("gd1.alicdn.com", "/bao/uploaded/i1/main1.jpg", jpg);
    m_sim->Route("gd2.alicdn.com", "/bao/uploaded/i2/main2.jpg", jpg);
    m_sim->Route("gd3.alicdn.com", "/bao/uploaded/i3/red.jpg", jpg);
    const QString page =
        "<title>导出图片-淘宝网</title>"
        "<img data-src=\"http://img01.taobaocdn.com/imgextra/i1/main1.jpg_60x60.jpg\">"
        "<img data-src=\"http://img02.taobaocdn.com/imgextra/i2/main2.jpg_60x60.jpg\">"
        "<ul class=\"J_TSaleProp tb-clearfix tb-img\"><li data-value=\"1627207:28326\">"
        "<a style=\"background:url(http://img03.taobaocdn.com/imgextra/i3/red.jpg_30x30.jpg) "
        "center\"></a></li>"
        "<li data-value=\"1627207:28340\"><a>蓝</a></li></ul>"
        "<a style=\"background:url(http://outside.example/after-ul.jpg_30x30.jpg)\"></a>";
    m_core->Table()->AppendRow([&](TRowWriter& row) {
        row.SetCell(ColHtml, page);
        row.SetCell(ColWatermark, "小店");
    });
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    const TExportJob job = ExportJobFor(out);
    runExport(job);

    const QString main1 = Md5Text("http://gd1.alicdn.com/bao/uploaded/i1/main1.jpg").toLower();
    const QString main2 = Md5Text("http://gd2.alicdn.com/bao/uploaded/i2/main2.jpg").toLower();
    const QString red = Md5Text("http://gd3.alicdn.com/bao/uploaded/i3/red.jpg");
    const QString text = readUtf16File(job.csvPath);
    const QString field = main1 + ":1:0:|;" + main2 + ":1:1:|;" + red + ":2:0:1627207:28326|;";
    QCOMPARE(TExportedCsv::Parse(text).Field(0, "picture"), '"' + field + '"');
    QStringList expected{main1 + ".tbi", main2 + ".tbi", red + ".tbi"};
    expected.sort();
    QCOMPARE(QDir(job.pictureFolder).entryList(QDir::Files, QDir::Name), expected);
    QVERIFY(readFile(job.pictureFolder + "/" + red + ".tbi").startsWith("\xFF\xD8"));
}

void TestPictures::pictureFetchAddresses_data() {
    QTest::addColumn<QString>("written");
    QTest::addColumn<bool>("fullSize");
    QTest::addColumn<QString>("address");
    QTest::newRow("http") << "http://img.alicdn.com/a.jpg" << false << "http://img.alicdn.com/a.jpg";
    QTest::newRow("https") << "https://img.alicdn.com/a.jpg" << false << "https://img.alicdn.com/a.jpg";
    QTest::newRow("protocol-relative") << "//gd2.alicdn.com/a.jpg" << false << "http://gd2.alicdn.com/a.jpg";
    QTest::newRow("a reference inside")
        << "//img.alicdn.com/a.jpg?x=1&amp;y=2" << false << "http://img.alicdn.com/a.jpg?x=1&y=2";
    QTest::newRow("thumbnail, 2014 form") << "http://img01.taobaocdn.com/i1/main1.jpg_60x60.jpg" << true
                                          << "http://img01.taobaocdn.com/i1/main1.jpg";
    QTest::newRow("thumbnail, protocol-relative")
        << "//gd2.alicdn.com/imgextra/i2/1/TB2D_!!1.jpg_50x50.jpg" << true
        << "http://gd2.alicdn.com/imgextra/i2/1/TB2D_!!1.jpg";
    QTest::newRow("thumbnail with quality, Tmall")
        << "http://gi1.md.alicdn.com/bao/i1/TB1_!!0-item_pic.jpg_60x60q90.jpg" << true
        << "http://gi1.md.alicdn.com/bao/i1/TB1_!!0-item_pic.jpg";
    QTest::newRow("webp form") << "//img.alicdn.com/a.png_.webp" << true << "http://img.alicdn.com/a.png";
    QTest::newRow("no thumbnail suffix stays whole")
        << "//img.alicdn.com/a.jpg" << true << "http://img.alicdn.com/a.jpg";
    QTest::newRow("the description keeps its size") << "http://img.example.com/p/one.jpg_310x310.jpg" << false
                                                    << "http://img.example.com/p/one.jpg_310x310.jpg";
}

void TestPictures::pictureFetchAddresses() {
    QFETCH(QString, written);
    QFETCH(bool, fullSize);
    QFETCH(QString, address);
    QCOMPARE(PictureFetchAddress(written, fullSize), address);
}

void TestPictures::downloadTakesEveryAddressForm() {
    TSimResponse jpg;
    jpg.Body = encoded(solid(10, 10, Qt::blue), "JPEG");
    m_sim->Route("img.alicdn.com", "/d/plain.jpg", jpg);
    m_sim->Route("img.alicdn.com", "/d/relative.jpg", jpg);
    m_sim->Route("gd3.alicdn.com", "/d/quoted.jpg", jpg);
    m_sim->Route("img.alicdn.com", "/d/query.jpg?a=1&b=2", jpg);
    const QString description = "<p><img src=\"http://img.alicdn.com/d/plain.jpg\">"
                                "<img class=\"x\" src=\"//img.alicdn.com/d/relative.jpg\">"
                                "<IMG SRC = '//gd3.alicdn.com/d/quoted.jpg'>"
                                "<img src=\"//img.alicdn.com/d/query.jpg?a=1&amp;b=2\">"
                                "<img src=\"data:image/gif;base64,R0lGOD\"></p>";
    const int row = addRow("四种地址", description);
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    const QString folder = out + "/" + Md5Text("四种地址");
    QCOMPARE(downloadPictures(out), QStringList{folder});
    for (const char* file : {"plain.jpg", "relative.jpg", "quoted.jpg", "query.jpg?a=1&b=2"})
        QVERIFY2(QFile::exists(folder + "/" + FileNameFromText(QString::fromUtf8(file))), file);
    const QString local = m_core->Table()->Cell(ColLocalDetail, row);
    QVERIFY2(!local.contains("alicdn.com") && local.contains("data:image/gif"), qPrintable(local));
    QCOMPARE(local.count("file://"), 4);
}

void TestPictures::exportTakesEveryAddressForm() {
    TSimResponse jpg;
    jpg.Body = encoded(solid(20, 20, Qt::green), "JPEG");
    // (The export reads "imgextra" picture paths as "bao/uploaded" ones.)
    m_sim->Route("gd2.alicdn.com", "/bao/uploaded/i2/1/TB2_!!1.jpg", jpg);
    m_sim->Route("gi1.md.alicdn.com", "/bao/i1/TB1_!!0-item_pic.jpg", jpg);
    m_sim->Route("gd4.alicdn.com", "/bao/uploaded/i4/red.jpg", jpg);
    // The 2016+ layout: protocol-relative main pictures, the sale-property list's classes in the
    // other order; one main picture that cannot be fetched.
    const QString page =
        "<title>新版页面-淘宝网</title>"
        "<img data-src=\"//gd2.alicdn.com/imgextra/i2/1/TB2_!!1.jpg_50x50.jpg\">"
        "<img data-src=\"http://gi1.md.alicdn.com/bao/i1/TB1_!!0-item_pic.jpg_60x60q90.jpg\">"
        "<img data-src=\"//gd9.alicdn.com/gone.jpg_50x50.jpg\">"
        "<ul data-property=\"尺码\" class=\"J_TSaleProp tb-clearfix\"><li data-value=\"20509:28383\">"
        "<a><span>XL</span></a></li></ul>"
        "<ul data-property=\"颜色分类\" class=\"J_TSaleProp tb-img tb-clearfix\"><li "
        "data-value=\"1627207:28326\">"
        "<a style=\"background:url(//gd4.alicdn.com/bao/uploaded/i4/red.jpg_40x40q90.jpg) "
        "center\"></a></li></ul>";
    m_core->Table()->AppendRow([&](TRowWriter& row) { row.SetCell(ColHtml, page); });
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    const TExportJob job = ExportJobFor(out);
    QSignalSpy finished(m_core, &TAppCore::jobFinished);
    QVERIFY(m_core->StartExport(job));
    QVERIFY(finished.wait(30000));
    const TJobResult result = finished.first()[1].value<TJobResult>();
    const QString first = Md5Text("http://gd2.alicdn.com/bao/uploaded/i2/1/TB2_!!1.jpg").toLower();
    const QString second = Md5Text("http://gi1.md.alicdn.com/bao/i1/TB1_!!0-item_pic.jpg").toLower();
    const QString red = Md5Text("http://gd4.alicdn.com/bao/uploaded/i4/red.jpg");
    // Only the pictures written are named; the one that failed is named in the summary.
    const QString field = first + ":1:0:|;" + second + ":1:1:|;" + red + ":2:0:1627207:28326|;";
    QCOMPARE(TExportedCsv::Read(job.csvPath).Field(0, "picture"), '"' + field + '"');
    QStringList expected{first + ".tbi", second + ".tbi", red + ".tbi"};
    expected.sort();
    QCOMPARE(QDir(job.pictureFolder).entryList(QDir::Files, QDir::Name), expected);
    QCOMPARE(result.Outcome, TJobOutcome::Failed);
    QVERIFY2(result.Summary.contains("图片 1 张没有保存：http://gd9.alicdn.com/gone.jpg"),
             qPrintable(result.Summary));
}

void TestPictures::exportWithoutMainPictures() {
    m_core->Table()->AppendRow([&](TRowWriter& row) {
        row.SetCell(ColHtml,
                    "<img data-src=\"http://img.example.com/a.jpg_60x60.jpg\"><img data-src=\"short\">");
    });
    m_core->UpdateChoices([](TChoices& c) { c.NoMainPictures = true; });
    const QString out = m_env->File("out");
    QVERIFY(QDir().mkpath(out));
    const TExportJob job = ExportJobFor(out);
    QSignalSpy log(m_core, &TAppCore::logLine);
    runExport(job);
    const QString text = readUtf16File(job.csvPath);
    // No picture written, so none named: the assistant refuses a package naming files it lacks.
    QCOMPARE(TExportedCsv::Parse(text).Field(0, "picture"), "\"\"");
    QCOMPARE(QDir(job.pictureFolder).entryList(QDir::Files), QStringList());
    QCOMPARE(m_sim->Count("img.example.com", "/a.jpg"), 0);
    for (const auto& args : log)
        QVERIFY(!args.first().toString().contains("正在下载商品主图"));
}

QTEST_MAIN(TestPictures)
#include "test_pictures.moc"
