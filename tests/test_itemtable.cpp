#include "app/itemtablemodel.h"
#include "table/itemtable.h"
#include "table/packedtext.h"

#include <QAbstractItemModelTester>
#include <QMap>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

namespace {

// Appends a row with the given title and, optionally, attribute values from column 12 on.
int addItem(TItemTable& table, const QString& title, const QStringList& attributes = {}) {
    return table.AppendRow([&](TRowWriter& row) {
        row.SetCell(ColTitle, title);
        row.WidenTo(ColFirstAttribute + int(attributes.size()));
        for (int i = 0; i < attributes.size(); ++i)
            row.SetCell(ColFirstAttribute + i, attributes[i]);
    });
}

QStringList column(const TItemTable& table, int col) {
    QStringList cells;
    for (int r = 1; r < table.RowCount(); ++r)
        cells.append(table.Cell(col, r));
    return cells;
}

} // namespace

class TestItemTable : public QObject {
    Q_OBJECT
  private slots:
    void freshTableHasCaptions();
    void appendNumbersAndSelects();
    void deleteRenumbersAndMovesAttributeCells();
    void deleteRefusesCaptionAndMissingRows();
    void deleteOnlyRow();
    void selection_data();
    void selection();
    void toggleFlipsExactlyOneSpace();
    void usableRows();
    void resetDropsRowsAndAttributeColumns();
    void packedTextKeepsEveryUnit_data();
    void packedTextKeepsEveryUnit();
    void packedBlocksOutliveTheirPacker();
    void pagesFollowTheirRows();
    void handedOverAppendsAreUnits();
    void modelFollowsHandedOverChanges();
};

void TestItemTable::freshTableHasCaptions() {
    TItemTable table;
    QCOMPARE(table.RowCount(), 1);
    QCOMPARE(table.ColCount(), 12);
    const QStringList captions{"序号",     "选择", "商品名称", "商品分类", "价格",         "配送方式",
                               "商品详情", "html", "宝贝属性", "宝贝连接", "商品详情本地", "图片水印"};
    QCOMPARE(table.Snapshot().first(), captions);
    QCOMPARE(table.Cell(0, 5), QString());  // beyond the last row
    QCOMPARE(table.Cell(40, 0), QString()); // beyond the last column
    QVERIFY(!table.SetCell(ColTitle, 1, QStringLiteral("x")));
}

void TestItemTable::appendNumbersAndSelects() {
    TItemTable table;
    QCOMPARE(addItem(table, QStringLiteral("a")), 1);
    QCOMPARE(addItem(table, QStringLiteral("b"), {QStringLiteral("v1"), QStringLiteral("v2")}), 2);
    QCOMPARE(table.RowCount(), 3);
    QCOMPARE(column(table, ColNo), (QStringList{"1", "2"}));
    QCOMPARE(column(table, ColSelect), (QStringList{" ", " "}));
    QCOMPARE(table.ColCount(), 14);
    QCOMPARE(table.Cell(13, 2), QStringLiteral("v2"));
    QCOMPARE(table.Cell(13, 1), QString());
    // Widening never narrows.
    addItem(table, QStringLiteral("c"), {QStringLiteral("only")});
    QCOMPARE(table.ColCount(), 14);
}

void TestItemTable::deleteRenumbersAndMovesAttributeCells() {
    TItemTable table;
    addItem(table, QStringLiteral("a"), {QStringLiteral("a1")});
    addItem(table, QStringLiteral("b"), {QStringLiteral("b1"), QStringLiteral("b2")});
    addItem(table, QStringLiteral("c"), {QStringLiteral("c1")});
    table.SetCell(ColSelect, 3, QString());
    QVERIFY(StringGridDel(table, 1));
    QCOMPARE(table.RowCount(), 3);
    QCOMPARE(table.ColCount(), 14);
    QCOMPARE(column(table, ColNo), (QStringList{"1", "2"}));
    QCOMPARE(column(table, ColTitle), (QStringList{"b", "c"}));
    QCOMPARE(column(table, ColSelect), (QStringList{" ", ""}));
    QCOMPARE(column(table, 12), (QStringList{"b1", "c1"}));
    QCOMPARE(column(table, 13), (QStringList{"b2", ""}));
    // Deleting in the middle keeps the rows above as they were.
    addItem(table, QStringLiteral("d"));
    QVERIFY(table.StringGridDel(2));
    QCOMPARE(column(table, ColNo), (QStringList{"1", "2"}));
    QCOMPARE(column(table, ColTitle), (QStringList{"b", "d"}));
}

void TestItemTable::deleteRefusesCaptionAndMissingRows() {
    TItemTable table;
    addItem(table, QStringLiteral("a"));
    const auto before = table.Snapshot();
    QVERIFY(!table.StringGridDel(0));
    QVERIFY(!table.StringGridDel(-1));
    QVERIFY(!table.StringGridDel(2));
    QCOMPARE(table.Snapshot(), before);
}

void TestItemTable::deleteOnlyRow() {
    TItemTable table;
    addItem(table, QStringLiteral("a"));
    QVERIFY(table.StringGridDel(1));
    QCOMPARE(table.RowCount(), 1);
    QCOMPARE(table.Cell(ColTitle, 0), QStringLiteral("商品名称"));
}

void TestItemTable::selection_data() {
    QTest::addColumn<QStringList>("marks");
    QTest::addColumn<QStringList>("inverted");
    QTest::addColumn<QStringList>("toggled"); // each row toggled once
    QTest::newRow("mixed marks") << QStringList{" ", "", " "} << QStringList{"", " ", ""}
                                 << QStringList{"", " ", ""};
    // A mark written elsewhere counts as selected: inverting empties it, toggling makes it " ".
    QTest::newRow("a foreign mark") << QStringList{"x"} << QStringList{""} << QStringList{" "};
    QTest::newRow("no data rows") << QStringList{} << QStringList{} << QStringList{};
}

void TestItemTable::selection() {
    QFETCH(QStringList, marks);
    QFETCH(QStringList, inverted);
    QFETCH(QStringList, toggled);
    TItemTable table;
    auto fill = [&] {
        table.ResetGrid();
        for (const QString& mark : marks)
            table.AppendRow([&](TRowWriter& row) { row.SetCell(ColSelect, mark); });
    };
    fill();
    table.InvertSelection();
    QCOMPARE(column(table, ColSelect), inverted);
    fill();
    for (int r = 1; r < table.RowCount(); ++r)
        QVERIFY(table.ToggleMark(r));
    QCOMPARE(column(table, ColSelect), toggled);
    fill();
    table.SelectAll();
    QCOMPARE(column(table, ColSelect), QStringList(marks.size(), QStringLiteral(" ")));
    QCOMPARE(table.Cell(ColSelect, 0), QStringLiteral("选择")); // the caption row is never touched
}

void TestItemTable::toggleFlipsExactlyOneSpace() {
    TItemTable table;
    addItem(table, QStringLiteral("a"));
    QVERIFY(table.ToggleMark(1));
    QCOMPARE(table.Cell(ColSelect, 1), QString());
    QVERIFY(table.ToggleMark(1));
    QCOMPARE(table.Cell(ColSelect, 1), QStringLiteral(" "));
    QVERIFY(!table.ToggleMark(0));
    QVERIFY(!table.ToggleMark(2));
}

void TestItemTable::usableRows() {
    TItemTable table;
    addItem(table, QStringLiteral("a"));
    addItem(table, QStringLiteral("b"));
    table.SetCell(ColNo, 2, QString()); // as a loaded table can hold
    QVERIFY(!table.IsUsableRow(0));
    QVERIFY(table.IsUsableRow(1));
    QVERIFY(!table.IsUsableRow(2));
    QVERIFY(!table.IsUsableRow(3));
}

void TestItemTable::resetDropsRowsAndAttributeColumns() {
    TItemTable table;
    addItem(table, QStringLiteral("a"), {QStringLiteral("x"), QStringLiteral("y")});
    table.SetCell(12, 0, QStringLiteral("品牌"));
    table.ResetGrid();
    QCOMPARE(table.RowCount(), 1);
    QCOMPARE(table.ColCount(), 12);
    QCOMPARE(table.Snapshot(), QList<QStringList>{TItemTable::FixedCaptions()});
    // Widening again starts from empty attribute cells.
    addItem(table, QStringLiteral("b"), {QString(), QString()});
    QCOMPARE(table.Cell(12, 0), QString());
    QCOMPARE(table.Cell(12, 1), QString());
}

void TestItemTable::packedTextKeepsEveryUnit_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("markup") << QStringLiteral("<div class=\"tb-item\">").repeated(5000);
    QTest::newRow("Chinese and a pair beyond U+FFFF")
        << QString::fromUtf16(u"宝贝描述：羊绒大衣 \U0001F600 ¥368.00");
    // UTF-8 cannot carry these: they must come back as they were all the same.
    QTest::newRow("lone high surrogate") << (QStringLiteral("前") + QChar(0xD83D) + QStringLiteral("后"));
    QTest::newRow("lone low surrogate at the end") << (QStringLiteral("页面") + QChar(0xDE00));
    QTest::newRow("zero unit inside") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
    // Past the blocks of eight units the check passes over at once.
    QTest::newRow("lone surrogate after two blocks")
        << (QStringLiteral("宝贝描述宝贝描述宝贝描述宝贝描述羊") + QChar(0xDC00) + QStringLiteral("尾"));
    QTest::newRow("a pair across a block's edge, then a lone one")
        << (QStringLiteral("1234567") + QString::fromUtf16(u"\U0001F600") + QStringLiteral("abcdefghij") +
            QChar(0xD800) + QStringLiteral("xyz"));
    QTest::newRow("pairs only, in the tail")
        << (QStringLiteral("12345678") + QString::fromUtf16(u"\U0001F600\U0001F601"));
}

void TestItemTable::packedTextKeepsEveryUnit() {
    QFETCH(QString, text);
    const TPackedText packed = PackedText::Pack(text);
    QCOMPARE(PackedText::Unpack(packed), text);
    const QByteArrayView bytes = packed.Bytes();
    if (text.size() > 10000)
        QVERIFY2(bytes.size() * 10 < text.size() * 2, "markup is kept in a tenth of its room or less");
    // Packed into a shared block, it reads the same.
    {
        TPackedTextBlocks blocks;
        QCOMPARE(PackedText::Unpack(blocks.Pack(text)), text);
    }
    // Bytes it did not make give nothing, not garbage or a crash.
    QCOMPARE(PackedText::Unpack(TPackedText::FromBytes(bytes.first(bytes.size() / 2))), QString());
    QCOMPARE(PackedText::Unpack(TPackedText::FromBytes("8not a frame")), QString());
}

void TestItemTable::packedBlocksOutliveTheirPacker() {
    // A loaded table's pages lie side by side in blocks of memory that the packer hands back in part
    // when it is done: every page must stay whole after that, whichever pages go first, including
    // pages on both sides of a block's edge and one too large for a block.
    QList<QString> texts;
    QList<TPackedText> packed;
    {
        TPackedTextBlocks blocks;
        for (int i = 0; i < 60; ++i) {
            // Random-looking digits barely compress, so the blocks fill and new ones begin.
            QString text;
            quint32 x = 2463534242u + quint32(i);
            for (int j = 0; j < 600000; ++j) {
                x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                text += QChar(u'0' + char16_t(x % 10));
            }
            if (i == 30)
                text = text.repeated(16); // past a quarter of a block even if it packs well: alone
            texts.append(text);
            packed.append(i % 2 ? blocks.Pack(text) : blocks.PackStored(text.toLatin1()));
        }
    }
    for (int i = 0; i < packed.size(); i += 3)
        packed[i] = TPackedText();
    for (int i = 0; i < packed.size(); ++i) {
        if (i % 3 != 0)
            QCOMPARE(PackedText::Unpack(packed[i]), texts[i]);
    }
}

void TestItemTable::pagesFollowTheirRows() {
    // The page cell is kept apart from the others (packed): every way of reading and changing rows
    // must keep each page with its own row.
    TItemTable table;
    for (const char* name : {"a", "b", "c"})
        table.AppendRow([name](TRowWriter& row) {
            row.SetCell(ColTitle, name);
            row.SetCell(ColHtml, QStringLiteral("<title>%1</title>").arg(name).repeated(100));
        });
    QCOMPARE(table.Cell(ColHtml, 0), QStringLiteral("html"));
    QVERIFY(table.StringGridDel(1));
    table.SetCell(ColSelect, 1, QString());
    QCOMPARE(table.Cell(ColHtml, 1), QStringLiteral("<title>b</title>").repeated(100));
    QCOMPARE(table.RowCells(2)[ColHtml], QStringLiteral("<title>c</title>").repeated(100));
    const QList<TRowCopy> selected = table.SelectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected[0].Cell(ColTitle), QStringLiteral("c"));
    QCOMPARE(selected[0].Cell(ColHtml), QStringLiteral("<title>c</title>").repeated(100));
    QVERIFY(table.SetCellOfRow(selected[0].Id, ColHtml, QStringLiteral("新页面")));
    QCOMPARE(table.Cell(ColHtml, 2), QStringLiteral("新页面"));
    // A whole table replaced (as a load does), the pages given in the rows' cells.
    const QList<QStringList> rows = table.Snapshot();
    QCOMPARE(rows[1][ColHtml], QStringLiteral("<title>b</title>").repeated(100));
    TItemTable copy;
    copy.Replace(rows);
    QCOMPARE(copy.Snapshot(), rows);
    copy.ResetGrid();
    QCOMPARE(copy.Cell(ColHtml, 0), QStringLiteral("html"));
    QCOMPARE(copy.RowCount(), 1);
}

void TestItemTable::handedOverAppendsAreUnits() {
    // Workers hand rows over while the user deletes on the table's thread, which applies what has
    // come now and then: every row must come out whole (its cells all from one append) and
    // numbered by its own index, and each worker's rows in the order it handed them over.
    TItemTable table;
    std::atomic<int> wakes{0};
    TTableChangeQueue changes(table, [&wakes] { ++wakes; });
    constexpr int Workers = 6;
    constexpr int PerWorker = 300;
    std::atomic<bool> go{false};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int w = 0; w < Workers; ++w) {
        threads.emplace_back(QThread::create([&changes, &go, w] {
            while (!go)
                QThread::yieldCurrentThread();
            for (int i = 0; i < PerWorker; ++i) {
                const QString tag = QStringLiteral("%1-%2").arg(w).arg(i, 3, 10, QLatin1Char('0'));
                changes.Apply([tag, w](TItemTable& t) {
                    t.AppendRow([&](TRowWriter& row) {
                        row.SetCell(ColTitle, tag);
                        row.WidenTo(ColFirstAttribute + w + 1);
                        row.SetCell(ColFirstAttribute + w, tag);
                        row.SetCell(ColLink, tag);
                    });
                });
            }
        }));
        threads.back()->start();
    }
    go = true;
    int deleted = 0;
    while (deleted < 100) {
        changes.Drain();
        if (table.StringGridDel(1))
            ++deleted;
    }
    for (auto& t : threads)
        t->wait();
    changes.Drain();

    QVERIFY(wakes > 0);
    QCOMPARE(table.RowCount(), 1 + Workers * PerWorker - deleted);
    QCOMPARE(table.ColCount(), ColFirstAttribute + Workers);
    QSet<QString> seen;
    QMap<int, QString> lastOfWorker;
    for (int r = 1; r < table.RowCount(); ++r) {
        QCOMPARE(table.Cell(ColNo, r), QString::number(r));
        QCOMPARE(table.Cell(ColSelect, r), QStringLiteral(" "));
        const QString tag = table.Cell(ColTitle, r);
        const int worker = tag.section(u'-', 0, 0).toInt();
        QCOMPARE(table.Cell(ColLink, r), tag);
        QCOMPARE(table.Cell(ColFirstAttribute + worker, r), tag);
        QVERIFY(!seen.contains(tag));
        seen.insert(tag);
        QVERIFY2(lastOfWorker.value(worker) < tag, qPrintable(tag));
        lastOfWorker[worker] = tag;
    }
}

void TestItemTable::modelFollowsHandedOverChanges() {
    TItemTable table;
    TItemTableModel model(&table);
    TTableChangeQueue changes(table);
    // The model checker watches the appends; it leaves before the delete, whose renumbering of
    // the rows below rewrites their ColNo cells, which the checker's removal rule does not allow.
    auto tester = std::make_unique<QAbstractItemModelTester>(
        &model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.columnCount(), 12);
    QCOMPARE(model.index(0, ColTitle).data().toString(), QStringLiteral("商品名称"));

    std::unique_ptr<QThread> worker(QThread::create([&changes] {
        for (int i = 0; i < 50; ++i)
            changes.Apply(
                [i](TItemTable& t) { addItem(t, QStringLiteral("t%1").arg(i), {QStringLiteral("v")}); });
    }));
    worker->start();
    worker->wait();
    // Nothing reaches the table, nor the model, until the table's thread applies it.
    QCOMPARE(table.RowCount(), 1);
    QCOMPARE(model.rowCount(), 1);
    changes.Drain();
    QCOMPARE(model.rowCount(), 51);
    QCOMPARE(model.columnCount(), 13);
    QCOMPARE(model.index(50, ColTitle).data().toString(), QStringLiteral("t49"));
    tester.reset();

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    table.StringGridDel(1);
    table.InvertSelection();
    QCOMPARE(model.rowCount(), 50);
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed[0][1].toInt(), 1);
    QCOMPARE(model.index(1, ColNo).data().toString(), QStringLiteral("1"));
    QCOMPARE(model.index(1, ColTitle).data().toString(), QStringLiteral("t1"));

    table.ResetGrid();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.columnCount(), 12);
}

QTEST_GUILESS_MAIN(TestItemTable)
#include "test_itemtable.moc"
