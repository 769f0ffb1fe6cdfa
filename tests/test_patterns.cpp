#include "web/patterns.h"

#include <QRandomGenerator>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

using namespace TPatterns;

class TestPatterns : public QObject {
    Q_OBJECT
  private slots:
    void findsStr_data();
    void findsStr();
    void findSList_data();
    void findSList();
    void brokenPatterns_data();
    void brokenPatterns();
    void findSItem();
    void mergeString_data();
    void mergeString();
    void findSListNew_data();
    void findSListNew();
    void splitString_data();
    void splitString();
    void tenMegabytePage();
    void threadsShareNothing();
    void textSearchesAgreeWithTheEngine();
};

void TestPatterns::findsStr_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("html");
    QTest::addColumn<bool>("addMatch");
    QTest::addColumn<QString>("expected");
    QTest::newRow("case-sensitive: the first occurrence with the right case wins")
        << "<title>([^<]*)"
        << "<TITLE>A</TITLE><title>B</title>" << false << "B";
    QTest::newRow("no group and AddMatch false gives nothing") << "id=\\d+"
                                                               << "x id=42" << false << "";
    QTest::newRow("no group and AddMatch true gives the match") << "id=\\d+"
                                                                << "x id=42" << true << "id=42";
    QTest::newRow("a group that took no part gives nothing") << "(x)?y"
                                                             << "y" << false << "";
    QTest::newRow("no match gives nothing") << "(z)"
                                            << "abc" << false << "";
    QTest::newRow("a Chinese negated class stops the title") << "<title>([^-淘宝网<]*)"
                                                             << "<title>Foo-淘宝网</title>" << false << "Foo";
    QTest::newRow("a title holding 宝 is cut before it") << "<title>([^-淘宝网<]*)"
                                                         << "<title>A宝B-淘宝网</title>" << false << "A";
    QTest::newRow("escaped slashes, dots and question mark")
        << "http:\\/\\/item\\.taobao\\.com\\/item\\.htm\\?id=(\\d+)"
        << "<a href=\"http://item.taobao.com/item.htm?id=5201\">" << false << "5201";
    QTest::newRow("a non-capturing alternation does not count as a group")
        << "src=\"([^\"]*\\.(?:jpg|gif|png))\""
        << "<img src=\"a/b.gif\">" << false << "a/b.gif";
    QTest::newRow("[\\w\\W] spans lines") << "x([\\w\\W]+)y"
                                          << "x1\r\n2y" << false << "1\r\n2";
    QTest::newRow(". stops at LF") << "a(.*)"
                                   << "ab\ncd" << false << "b";
    QTest::newRow(". stops at CR") << "a(.*)"
                                   << "ab\rcd" << false << "b";
    QTest::newRow(". stops at U+2028") << "a(.*)" << QString::fromUtf16(u"ab\u2028cd") << false << "b";
    QTest::newRow(". stops at U+2029") << "a(.*)" << QString::fromUtf16(u"ab\u2029cd") << false << "b";
    QTest::newRow(". crosses U+0085 and form feed")
        << "a(.*)" << QString::fromUtf16(u"ab\u0085\fcd") << false << QString::fromUtf16(u"b\u0085\fcd");
    QTest::newRow("$ anchors only at the very end, not before a final line break") << "(b)$"
                                                                                   << "ab\n"
                                                                                   << false << "";
    QTest::newRow("^ anchors only at the start of the whole text") << "^(b)"
                                                                   << "a\nb" << false << "";
    QTest::newRow("\\d is ASCII only") << "(\\d+)" << QString::fromUtf16(u"\u0661\u06623") << false << "3";
    QTest::newRow("\\w is ASCII only") << "(\\w+)" << QString::fromUtf16(u"\u00e9_a1") << false << "_a1";
    QTest::newRow("\\s includes the ideographic space")
        << "a\\sb" << QString::fromUtf16(u"a\u3000b") << true << QString::fromUtf16(u"a\u3000b");
    QTest::newRow("\\S excludes it") << "a(\\S)" << QString::fromUtf16(u"a\u3000a\u5b9d") << false
                                     << QString::fromUtf16(u"\u5b9d");
    QTest::newRow("an unknown escape is the letter itself") << "a\\zb"
                                                            << "azb" << true << "azb";
    QTest::newRow("\\u escapes a code unit")
        << "(\\u5b9d)" << QString::fromUtf16(u"\u6dd8\u5b9d") << false << QString::fromUtf16(u"\u5b9d");
    QTest::newRow("a brace that is no quantifier is literal") << "(a{b)"
                                                              << "a{b" << false << "a{b";
    QTest::newRow("a brace quantifier counts") << "(x{2})"
                                               << "xxx" << false << "xx";
    QTest::newRow("[] never matches") << "a[]|(b)"
                                      << "ab" << false << "b";
    QTest::newRow("[^] matches anything, line breaks too") << "a[^]b"
                                                           << "a\nb" << true << "a\nb";
    QTest::newRow("\\b inside a class is a backspace") << "([\\b]+)"
                                                       << "a\b\bz" << false << "\b\b";
    // Cuts: a plain text, anything, a plain text (the scrapers' block patterns).
    QTest::newRow("a cut runs from the first start to the last end")
        << "a\">([\\w\\W]+)</ul>"
        << "x a\">1</ul>2</ul> a\">3</ul>" << false << "1</ul>2</ul> a\">3";
    QTest::newRow("a cut's whole match") << "<b>([\\w\\W]+)</b>"
                                         << "z<b>1</b>z" << true << "<b>1</b>";
    QTest::newRow("a cut needs a character between") << "<b>([\\w\\W]+)</b>"
                                                     << "<b></b>" << false << "";
    QTest::newRow("a cut's end may be a later copy of itself") << "<b>([\\w\\W]+)</b>"
                                                               << "<b></b>x</b>" << false << "</b>x";
    QTest::newRow("a cut's end only before its start") << "<b>([\\w\\W]+)</b>"
                                                       << "</b><b>x" << false << "";
    QTest::newRow("a cut whose ends overlap") << "aa([\\w\\W]+)aa"
                                              << "aaaaa" << false << "a";
    QTest::newRow("a cut over characters beyond U+FFFF") << "始([\\w\\W]+)终"
                                                         << "始😀终" << false << "😀";
    QTest::newRow("a malformed pattern gives nothing and raises nothing") << "([a-"
                                                                          << "[a-" << false << "";
}

void TestPatterns::findsStr() {
    QFETCH(QString, pattern);
    QFETCH(QString, html);
    QFETCH(bool, addMatch);
    QFETCH(QString, expected);
    QCOMPARE(FindsStr(pattern, html, addMatch), expected);
    // The same found by the engine itself (an empty group appended keeps the meaning but takes
    // away any shortcut), and as a part of the text.
    QCOMPARE(FindsStr(pattern + "(?:)", html, addMatch), expected);
    if (!addMatch)
        QCOMPARE(FindsText(pattern, html).Text(), expected);
}

void TestPatterns::findSList_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("html");
    QTest::addColumn<bool>("addMatch");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("ignores case and finds every match in text order")
        << "<b>(\\w+)</b>"
        << "<b>a</b><B>b</B><b>c</B>" << false << QStringList{"a", "b", "c"};
    QTest::newRow("two groups, two matches: grouped by match")
        << "(\\w)=(\\d)"
        << "a=1;b=2" << false << QStringList{"a", "1", "b", "2"};
    QTest::newRow("AddMatch puts each whole match before its groups")
        << "(\\w)=(\\d)"
        << "a=1;b=2" << true << QStringList{"a=1", "a", "1", "b=2", "b", "2"};
    QTest::newRow("a group that took no part keeps its place")
        << "(a)(x)?(b)"
        << "ab axb" << false << QStringList{"a", "", "b", "a", "x", "b"};
    QTest::newRow("no match is an empty list") << "(z)"
                                               << "abc" << false << QStringList{};
    QTest::newRow("after an empty match the search moves on one unit") << "(x*|b)"
                                                                       << "b" << false << QStringList{"", ""};
    QTest::newRow("empty matches at every position") << "(x*)"
                                                     << "ab" << false << QStringList{"", "", ""};
    QTest::newRow("case folding keeps the Kelvin sign apart from k")
        << "(k)" << QString::fromUtf16(u"K\u212ak") << false << QStringList{"K", "k"};
    QTest::newRow("case folding keeps the long s apart from s")
        << "(s+)" << QString::fromUtf16(u"S\u017fs") << false << QStringList{"S", "s"};
    QTest::newRow("Greek sigma folds with final sigma")
        << "(\u03c3)" << QString::fromUtf16(u"\u03a3\u03c2") << false
        << QStringList{QString::fromUtf16(u"\u03a3"), QString::fromUtf16(u"\u03c2")};
    QTest::newRow("a class range folds case") << "([a-c]+)"
                                              << "xABCx" << false << QStringList{"ABC"};
    QTest::newRow("a negated class excludes the other case too") << "([^a]+)"
                                                                 << "bAb" << false << QStringList{"b", "b"};
    QTest::newRow("a text holding a lone surrogate is still searched")
        << "<b>(\\w)</b>"
        << "<b>a</b>" + QString(QChar(0xD800)) + "<b>b</b>" << false << QStringList{"a", "b"};
    QTest::newRow("Chinese text has no case")
        << "<li data-value=\"([^\"]*)"
        << "<LI DATA-VALUE=\"1627207:28341\">红色" << false << QStringList{"1627207:28341"};
}

void TestPatterns::findSList() {
    QFETCH(QString, pattern);
    QFETCH(QString, html);
    QFETCH(bool, addMatch);
    QFETCH(QStringList, expected);
    QCOMPARE(FindSList(pattern, html, addMatch), expected);
}

void TestPatterns::brokenPatterns_data() {
    QTest::addColumn<QString>("pattern");
    QTest::newRow("an open class") << "([a-";
    QTest::newRow("an open group") << "(abc";
    QTest::newRow("a backslash at the end") << "abc\\";
    QTest::newRow("a range out of order") << "[z-a]";
    QTest::newRow("nothing to repeat") << "*a";
}

void TestPatterns::brokenPatterns() {
    QFETCH(QString, pattern);
    const QString text = QStringLiteral("abc");
    QCOMPARE(FindsStr(pattern, text, false), QString());
    QVERIFY_THROWS_EXCEPTION(TPatternError, FindSList(pattern, text, false));
    QVERIFY_THROWS_EXCEPTION(TPatternError, FindSItem(pattern, text, 0, false));
    QVERIFY_THROWS_EXCEPTION(TPatternError, MergeString(pattern, text, 1, 0));
    if (pattern != u"[z-a]") // the Perl-compatible engine has its own idea of the rest
        QVERIFY_THROWS_EXCEPTION(TPatternError, FindSListNew(pattern, text, false));
}

void TestPatterns::findSItem() {
    const QString html = "a=1;b=2";
    QCOMPARE(FindSItem("(\\w)=(\\d)", html, 0, false), "a");
    QCOMPARE(FindSItem("(\\w)=(\\d)", html, 3, false), "2");
    QCOMPARE(FindSItem("(\\w)=(\\d)", html, 4, false), ""); // d equal to the number of entries
    QCOMPARE(FindSItem("(\\w)=(\\d)", html, 3, true), "b=2");
    QCOMPARE(FindSItem("(\\w)=(\\d)", html, -1, false), "");
}

void TestPatterns::mergeString_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("html");
    QTest::addColumn<int>("s");
    QTest::addColumn<int>("d");
    QTest::addColumn<QString>("expected");
    QTest::newRow("whole matches, trimmed, each followed by ^")
        << "<i>[^<]*</i>"
        << "<i>a</i><I> b </I>" << 1 << 0 << "<i>a</i>^<I> b </I>^";
    QTest::newRow("cut the tags off and trim") << "<i>[^<]*</i>"
                                               << "<i>a</i><I> b </I>" << 4 << 4 << "a^b^";
    QTest::newRow("groups are not used") << "<i>([^<]*)</i>"
                                         << "<i>a</i>" << 1 << 0 << "<i>a</i>^";
    QTest::newRow("a cut to nothing still gives ^") << "abc"
                                                    << "abc" << 3 << 1 << "^";
    QTest::newRow("a start before 1 counts as 1") << "abc"
                                                  << "abc" << -5 << 1 << "ab^";
    QTest::newRow("control characters are trimmed") << "x[^y]*y"
                                                    << "x\t\x01 z \ny" << 2 << 1 << "z^";
    QTest::newRow("no match is the empty text") << "q"
                                                << "abc" << 1 << 0 << "";
}

void TestPatterns::mergeString() {
    QFETCH(QString, pattern);
    QFETCH(QString, html);
    QFETCH(int, s);
    QFETCH(int, d);
    QFETCH(QString, expected);
    QCOMPARE(MergeString(pattern, html, s, d), expected);
}

void TestPatterns::findSListNew_data() {
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("addMatch");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("a group opening at the start of the pattern is skipped")
        << "(\\d+)"
        << "a1b22" << false << QStringList{};
    QTest::newRow("a group after a literal prefix is kept")
        << "id=(\\d+)"
        << "id=1 id=22" << false << QStringList{"1", "22"};
    QTest::newRow("AddMatch keeps group 0 and every group")
        << "(\\d+)"
        << "a1b22" << true << QStringList{"1", "1", "22", "22"};
    QTest::newRow("a group in between that took no part is empty") << "a(x)?(b)"
                                                                   << "ab" << false << QStringList{"", "b"};
    QTest::newRow("groups after the last one that took part are left out")
        << "a(b)?(c)?"
        << "ab" << true << QStringList{"ab", "b"};
    QTest::newRow("case-sensitive") << "x(A)"
                                    << "xa xA" << false << QStringList{"A"};
    QTest::newRow("Perl meaning: \\z is the end") << "(b)\\z"
                                                  << "ab" << true << QStringList{"b", "b"};
}

void TestPatterns::findSListNew() {
    QFETCH(QString, pattern);
    QFETCH(QString, text);
    QFETCH(bool, addMatch);
    QFETCH(QStringList, expected);
    QCOMPARE(FindSListNew(pattern, text, addMatch), expected);
}

void TestPatterns::splitString_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("deli");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("two delimiters in a row and one at the end") << "a  b "
                                                                << " " << QStringList{"a", "", "b", ""};
    QTest::newRow("the empty text is one empty entry") << ""
                                                       << " " << QStringList{""};
    QTest::newRow("an empty delimiter keeps the whole text") << "a b"
                                                             << "" << QStringList{"a b"};
    QTest::newRow("a longer delimiter") << "1::2::"
                                        << "::" << QStringList{"1", "2", ""};
    QTest::newRow("the delimiter is case-sensitive") << "aXbxc"
                                                     << "x" << QStringList{"aXb", "c"};
}

void TestPatterns::splitString() {
    QFETCH(QString, source);
    QFETCH(QString, deli);
    QFETCH(QStringList, expected);
    QCOMPARE(SplitString(source, deli), expected);
}

void TestPatterns::tenMegabytePage() {
    // A greedy pattern spanning a 10 MB page must neither overflow the stack nor hang.
    const QString filler(10 * 1024 * 1024, QLatin1Char('x'));
    const QString page =
        "<ul class=\"attributes-list\"><li>a</li>" + filler + "</ul><div>" + filler.left(1000) + "</ul>";
    const QString pattern = "attributes-list\">([\\w\\W]+)</ul>";
    const QString found = FindsStr(pattern, page, false);
    QCOMPARE(found.size(), page.size() - 28 - 5); // greedy: up to the last </ul>
    QVERIFY(found.startsWith("<li>a</li>xxx"));
    const QStringList all = FindSList(pattern, page, false);
    QCOMPARE(all.size(), 1);
    QCOMPARE(all.first().size(), found.size());
    QCOMPARE(FindsStr("attributes-list\">([\\w\\W]+)</table>", page, false), QString());
}

void TestPatterns::threadsShareNothing() {
    std::vector<std::unique_ptr<QThread>> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back(QThread::create([t, &wrong] {
            const QString html = QString("<b>%1</b>").arg(t).repeated(200);
            for (int i = 0; i < 50; ++i) {
                const QStringList found = FindSList("<B>(\\d)</B>", html, false);
                if (found.size() != 200 || found.first() != QString::number(t))
                    ++wrong;
                if (FindsStr("<b>(\\d)</b>", html, false) != QString::number(t))
                    ++wrong;
            }
        }));
        threads.back()->start();
    }
    for (auto& t : threads)
        t->wait();
    QCOMPARE(wrong.load(), 0);
}

// The plain-text searches behind the cuts, on every kind of position: words at the ends of texts,
// across the blocks the search works in, overlapping themselves, one unit long.
void TestPatterns::textSearchesAgreeWithTheEngine() {
    QRandomGenerator random(17);
    const QStringList words{"", "a", "b", "ab", "ba", "aab", "abba", "bbbbbbbbb", "aaaaaaaaaaaaaaaaab"};
    for (int round = 0; round < 3000; ++round) {
        QString text;
        const int size = random.bounded(40);
        for (int k = 0; k < size; ++k)
            text += random.bounded(4) == 0 ? QLatin1Char('b') : QLatin1Char('a');
        for (const QString& word : words) {
            QCOMPARE(FindLiteral(text, word), QStringView(text).indexOf(word));
            QCOMPARE(FindBytes(text.toLatin1(), word.toLatin1()), text.toLatin1().indexOf(word.toLatin1()));
        }
        const QString start = words[1 + random.bounded(words.size() - 1)];
        const QString end = words[1 + random.bounded(words.size() - 1)];
        const QString cut = start + "([\\w\\W]+)" + end;
        QCOMPARE(FindsStr(cut, text, false), FindsStr(cut + "(?:)", text, false));
        QCOMPARE(FindsStr(cut, text, true), FindsStr(cut + "(?:)", text, true));
    }
    // Every match of a plain text and "([^c]*)", found by text searches, against the engine (the
    // "(?:)" keeps a pattern on the engine): overlapping texts, empty runs, runs to the end.
    const QString marks = "<>\"= ";
    const QStringList prefixes{"\">", "=", "> ", "\"\"", "<<"};
    for (int round = 0; round < 3000; ++round) {
        QString text;
        const int size = random.bounded(40);
        for (int k = 0; k < size; ++k)
            text += marks[random.bounded(marks.size())];
        const QString prefix = prefixes[random.bounded(prefixes.size())];
        const QString run = QString("([^%1]*)").arg(marks[random.bounded(3)]);
        for (const bool addMatch : {false, true})
            QCOMPARE(FindSList(prefix + run, text, addMatch),
                     FindSList(prefix + "(?:)" + run, text, addMatch));
    }
    QCOMPARE(FindSList("\">([^<]*)", QString("<li title=\"a\">品牌:李宁</li><li>\">x"), false),
             (QStringList{"品牌:李宁", "x"}));
}

QTEST_APPLESS_MAIN(TestPatterns)
#include "test_patterns.moc"
