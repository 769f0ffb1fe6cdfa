#include "base/commatext.h"

#include <QTest>

class TestCommaText : public QObject {
    Q_OBJECT
  private slots:
    void write_data();
    void write();
    void read_data();
    void read();
    void roundTrip_data();
    void roundTrip();
};

void TestCommaText::write_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("text");
    QTest::newRow("an empty list is the empty text") << QStringList() << QString();
    QTest::newRow("one empty entry is two quotes") << QStringList{QString()} << QStringLiteral("\"\"");
    QTest::newRow("plain entries are joined by commas")
        << QStringList{QStringLiteral("品牌:李宁"), QStringLiteral("颜色:红")}
        << QStringLiteral("品牌:李宁,颜色:红");
    QTest::newRow("a space forces quotes")
        << QStringList{QStringLiteral("a b"), QStringLiteral("c")} << QStringLiteral("\"a b\",c");
    QTest::newRow("a comma forces quotes") << QStringList{QStringLiteral("a,b")} << QStringLiteral("\"a,b\"");
    QTest::newRow("inner quotes are doubled")
        << QStringList{QStringLiteral("say \"hi\"")} << QStringLiteral("\"say \"\"hi\"\"\"");
    QTest::newRow("line breaks and tabs force quotes")
        << QStringList{QStringLiteral("a\r\nb"), QStringLiteral("c\td")}
        << QStringLiteral("\"a\r\nb\",\"c\td\"");
    QTest::newRow("U+0001 forces quotes")
        << QStringList{QStringLiteral("a\x01")} << QStringLiteral("\"a\x01\"");
    QTest::newRow("U+0021 does not") << QStringList{QStringLiteral("a!")} << QStringLiteral("a!");
    QTest::newRow("empty entries among others stay bare")
        << QStringList{QString(), QStringLiteral("a"), QString()} << QStringLiteral(",a,");
    QTest::newRow("two empty entries are one comma")
        << QStringList{QString(), QString()} << QStringLiteral(",");
}

void TestCommaText::write() {
    QFETCH(QStringList, entries);
    QFETCH(QString, text);
    QCOMPARE(ToCommaText(entries), text);
}

void TestCommaText::read_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("the empty text is an empty list") << QString() << QStringList();
    QTest::newRow("blanks alone are an empty list") << QStringLiteral(" \r\n\t") << QStringList();
    QTest::newRow("two quotes are one empty entry") << QStringLiteral("\"\"") << QStringList{QString()};
    QTest::newRow("commas separate") << QStringLiteral("a,b,c")
                                     << QStringList{QStringLiteral("a"), QStringLiteral("b"),
                                                    QStringLiteral("c")};
    QTest::newRow("a space separates outside quotes")
        << QStringLiteral("颜色:红 尺码:XL")
        << QStringList{QStringLiteral("颜色:红"), QStringLiteral("尺码:XL")};
    QTest::newRow("line breaks separate (a link-list file)")
        << QStringLiteral("http://a/1\r\nhttp://a/2\r\n")
        << QStringList{QStringLiteral("http://a/1"), QStringLiteral("http://a/2")};
    QTest::newRow("blanks at the start are skipped")
        << QStringLiteral("  \t a") << QStringList{QStringLiteral("a")};
    QTest::newRow("blanks around a comma are consumed")
        << QStringLiteral("a ,  b") << QStringList{QStringLiteral("a"), QStringLiteral("b")};
    QTest::newRow("two commas give an empty entry")
        << QStringLiteral("a,,b") << QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")};
    QTest::newRow("a leading comma gives an empty entry")
        << QStringLiteral(",a") << QStringList{QString(), QStringLiteral("a")};
    QTest::newRow("a final comma gives a final empty entry")
        << QStringLiteral("a,") << QStringList{QStringLiteral("a"), QString()};
    QTest::newRow("a comma followed by blanks at the end does not")
        << QStringLiteral("a, ") << QStringList{QStringLiteral("a")};
    QTest::newRow("quotes keep spaces and commas")
        << QStringLiteral("\"a b,c\",d") << QStringList{QStringLiteral("a b,c"), QStringLiteral("d")};
    QTest::newRow("a doubled quote inside quotes is one quote")
        << QStringLiteral("\"say \"\"hi\"\"\"") << QStringList{QStringLiteral("say \"hi\"")};
    QTest::newRow("text right after a closing quote starts a new entry")
        << QStringLiteral("\"ab\"cd,e")
        << QStringList{QStringLiteral("ab"), QStringLiteral("cd"), QStringLiteral("e")};
    QTest::newRow("an unterminated quote runs to the end")
        << QStringLiteral("a,\"b c") << QStringList{QStringLiteral("a"), QStringLiteral("b c")};
    QTest::newRow("a quote inside an entry is kept")
        << QStringLiteral("a\"b") << QStringList{QStringLiteral("a\"b")};
    QTest::newRow("U+0000 ends the text") << QStringLiteral("a,b") + QChar(0) + QStringLiteral(",c")
                                          << QStringList{QStringLiteral("a"), QStringLiteral("b")};
}

void TestCommaText::read() {
    QFETCH(QString, text);
    QFETCH(QStringList, entries);
    QCOMPARE(FromCommaText(text), entries);
}

void TestCommaText::roundTrip_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("attributes") << QStringList{QStringLiteral("品牌: 李宁"), QStringLiteral("适用季节:春秋")};
    QTest::newRow("awkward characters") << QStringList{QStringLiteral("\"\""), QStringLiteral(","),
                                                       QStringLiteral(" lead"), QStringLiteral("trail\n")};
    QTest::newRow("empty entries") << QStringList{QString(), QStringLiteral("x"), QString(), QString()};
    QTest::newRow("one empty entry") << QStringList{QString()};
}

void TestCommaText::roundTrip() {
    QFETCH(QStringList, entries);
    QCOMPARE(FromCommaText(ToCommaText(entries)), entries);
}

QTEST_APPLESS_MAIN(TestCommaText)
#include "test_commatext.moc"
