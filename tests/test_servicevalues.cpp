#include "testfiles.h"

#include "app/appcore.h"
#include "config/servicevalues.h"
#include "platform/paths.h"
#include "table/itemtable.h"
#include "table/linklist.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestServiceValues : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void defaultsWithoutFile();
    void fileValues_data();
    void fileValues();
    void editTakesEffectAtNextUse();
    void damagedFileGivesDefaults();
    void defaultTemplateMatchesHeaderColumns();
    void startupInEmptyFolderGivesFirstStartState();

  private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString iniPath() const { return m_dir->filePath(QStringLiteral("service.ini")); }
};

void TestServiceValues::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    TPaths::SetWorkDir(m_dir->path());
}

void TestServiceValues::defaultsWithoutFile() {
    QCOMPARE(TServiceValues::Head(), QStringLiteral("http://"));
    QCOMPARE(TServiceValues::CsvTemplate(), TServiceValues::DefaultCsvTemplate());
    QCOMPARE(TServiceValues::LatestVersion(), TAppCore::FileVersionText());
    QCOMPARE(TServiceValues::Value(TServiceKey::ItemHost), QStringLiteral("item.taobao.com"));
    QCOMPARE(TServiceValues::Value(TServiceKey::CookieLib), QString());
}

void TestServiceValues::fileValues_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("head");
    QTest::addColumn<QString>("csvTemplate");
    QTest::newRow("values are taken as they stand, commas and quotes included")
        << QByteArray("[service]\nHead=https://\nCsvTemplate=\"k_title\",k_id,\"a;b\"\n") << "https://"
        << "\"k_title\",k_id,\"a;b\"";
    QTest::newRow("keys ignore case; spaces around values and CR LF line ends are trimmed")
        << QByteArray("[Service]\r\n  head =  http://proxy/  \r\ncsvtemplate= x \r\n") << "http://proxy/"
        << "x";
    QTest::newRow("an empty value is kept empty, not defaulted")
        << QByteArray("[service]\nHead=\nCsvTemplate=\n") << ""
        << "";
    QTest::newRow("keys of other sections and comments are ignored")
        << QByteArray("; Head=comment\n[other]\nHead=nope\n[service]\n# CsvTemplate=nope\n") << "http://"
        << TServiceValues::DefaultCsvTemplate();
    QTest::newRow("a UTF-8 byte-order mark and Chinese text")
        << QByteArray("\xEF\xBB\xBF[service]\nCsvTemplate=宝贝,k_title\n") << "http://"
        << "宝贝,k_title";
    QTest::newRow("the last of a repeated key wins")
        << QByteArray("[service]\nHead=a://\nHead=b://\n") << "b://" << TServiceValues::DefaultCsvTemplate();
}

void TestServiceValues::fileValues() {
    QFETCH(QByteArray, file);
    QFETCH(QString, head);
    QFETCH(QString, csvTemplate);
    writeFile(iniPath(), file);
    QCOMPARE(TServiceValues::Head(), head);
    QCOMPARE(TServiceValues::CsvTemplate(), csvTemplate);
}

void TestServiceValues::editTakesEffectAtNextUse() {
    writeFile(iniPath(), "[service]\nLatestVersion=1.0.0.2\n");
    QCOMPARE(TServiceValues::LatestVersion(), QStringLiteral("1.0.0.2"));
    writeFile(iniPath(), "[service]\nLatestVersion=1.0.0.3\n");
    QCOMPARE(TServiceValues::LatestVersion(), QStringLiteral("1.0.0.3"));
    QFile::remove(iniPath());
    QCOMPARE(TServiceValues::LatestVersion(), TAppCore::FileVersionText());
}

void TestServiceValues::damagedFileGivesDefaults() {
    writeFile(iniPath(), QByteArray("\xFF\xFE\x00[serv\x00\x01\x02ice\nHead\n==\n", 20));
    QCOMPARE(TServiceValues::Head(), QStringLiteral("http://"));
    // A folder in place of the file cannot be read either.
    QFile::remove(iniPath());
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("service.ini")));
    QCOMPARE(TServiceValues::Head(), QStringLiteral("http://"));
}

void TestServiceValues::defaultTemplateMatchesHeaderColumns() {
    const QStringList fields = TServiceValues::DefaultCsvTemplate().split(u',');
    QCOMPARE(fields.size(), 60);
    const QList<std::pair<int, QString>> expected = {{1, "\"k_title\""},
                                                     {2, "k_id"},
                                                     {5, "\"k_province\""},
                                                     {6, "\"k_city\""},
                                                     {8, "k_price"},
                                                     {10, "k_qty"},
                                                     {21, "\"k_desc\""},
                                                     {22, "\"k_goods_prop\""},
                                                     {29, "\"k_pic\""},
                                                     {31, "\"k_sell_prop\""},
                                                     {32, "\"k_user_input_id\""},
                                                     {33, "\"k_user_input_desc\""},
                                                     {35, "\"k1_sell_prop_desc\""}};
    for (const auto& [column, field] : expected)
        QCOMPARE(fields[column - 1], field);
    // No other field carries a placeholder.
    int placeholders = 0;
    for (const QString& f : fields)
        placeholders += f.contains(QStringLiteral("k_")) || f.contains(QStringLiteral("k1_"));
    QCOMPARE(placeholders, int(expected.size()));
    QVERIFY(!TServiceValues::DefaultCsvTemplate().contains(u'\n'));
}

void TestServiceValues::startupInEmptyFolderGivesFirstStartState() {
    TAppCore core;
    core.Table()->AppendRow(); // whatever was there before start-up is replaced
    QVERIFY(core.Startup().ok());
    QCOMPARE(core.Choices().DataSource, 0);
    QCOMPARE(core.Choices().LinkKind, 0);
    QCOMPARE(core.Choices().LinkText, QString());
    QCOMPARE(core.Choices().WatermarkText, QString());
    QVERIFY(!core.Choices().NoMainPictures && !core.Choices().NoProperties && !core.Choices().TitleWithPrice);
    QVERIFY(!core.NextstartupUpdate);
    QCOMPARE(core.Table()->RowCount(), 1);
    QCOMPARE(core.Table()->ColCount(), 12);
    QCOMPARE(core.Links()->Count(), 0);
    QCOMPARE(core.VersionText, QStringLiteral("1.0.0.1"));
}

QTEST_GUILESS_MAIN(TestServiceValues)
#include "test_servicevalues.moc"
