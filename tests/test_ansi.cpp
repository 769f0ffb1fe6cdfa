#include "base/ansi.h"

#include <QTest>

class TestAnsi : public QObject {
    Q_OBJECT
  private slots:
    void encode_data();
    void encode();
    void decode();
    void lossless_data();
    void lossless();
};

void TestAnsi::encode_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII is kept") << "abc\r\n\t\"\\/" << QByteArray("abc\r\n\t\"\\/");
    QTest::newRow("Chinese takes two bytes each") << "宝贝" << QByteArray("\xB1\xA6\xB1\xB4");
    QTest::newRow("a character GBK lacks becomes one ?")
        << QString::fromUtf16(u"a\u0E01b") << QByteArray("a?b");
    QTest::newRow("an astral character becomes one ?")
        << QString::fromUtf16(u"x\U0001F600y") << QByteArray("x?y");
    QTest::newRow("a lone surrogate becomes ?") << QString(QChar(0xD800)) + "z" << QByteArray("?z");
    QTest::newRow("the euro sign of code page 936") << QString::fromUtf16(u"\u20AC") << QByteArray("\x80");
}

void TestAnsi::encode() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(TAnsi::Encode(text), bytes);
}

void TestAnsi::decode() {
    QCOMPARE(TAnsi::Decode(QByteArray("\xB1\xA6\xB1\xB4 ok")), QString("宝贝 ok"));
    QCOMPARE(TAnsi::Decode(TAnsi::Encode("男装夹克2015新款")), QString("男装夹克2015新款"));
}

void TestAnsi::lossless_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes"); // empty: only the round trip is checked
    QTest::newRow("code-page text gives the code page's bytes") << "宝贝 ok\r\n"
                                                                << QByteArray("\xB1\xA6\xB1\xB4 ok\r\n");
    QTest::newRow("the euro sign of code page 936") << QString::fromUtf16(u"\u20AC") << QByteArray("\x80");
    QTest::newRow("an emoji as four GB18030 bytes")
        << QString::fromUtf16(u"x\U0001F600y") << QByteArray("x\x94\x39\xFC\x36y");
    QTest::newRow("Thai, Hangul, ß and a no-break space among Chinese")
        << QString::fromUtf16(u"\u0E01 \uD55C \u00DF\u00A0宝贝") << QByteArray();
    QTest::newRow("a link with a letter outside GBK")
        << QString::fromUtf16(u"http://item.taobao.com/item.htm?id=1&q=\u0151") << QByteArray();
}

void TestAnsi::lossless() {
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const QByteArray encoded = TAnsi::EncodeLossless(text);
    if (!bytes.isEmpty())
        QCOMPARE(encoded, bytes);
    QString back;
    QVERIFY(TAnsi::DecodeLossless(encoded, back));
    QCOMPARE(back, text);
    // Bytes that are no such text are refused.
    QString none;
    QVERIFY(!TAnsi::DecodeLossless(QByteArray("\x81\x30\xFF\x30"), none));
}

QTEST_APPLESS_MAIN(TestAnsi)
#include "test_ansi.moc"
