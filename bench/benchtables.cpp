#include "benchtables.h"

#include "acquire/itemrow.h"
#include "acquire/taobaoitem.h"
#include "base/commatext.h"
#include "table/gridfile.h"
#include "table/itemtable.h"
#include "web/httpclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

namespace {

QStringList corpusPages() {
    QStringList texts = CorpusItemPages();
    if (texts.isEmpty())
        texts.append(QStringLiteral("<html><title>宝贝-淘宝网</title>") +
                     QStringLiteral("商品详情 ").repeated(30000));
    return texts;
}

void fillItem(TRowWriter& row, int i, const QString& html) {
    row.SetCell(ColTitle, QStringLiteral("2015春夏新款女装连衣裙 %1").arg(i));
    row.SetCell(ColCategory, QStringLiteral("女装/女士精品,连衣裙"));
    row.SetCell(ColPrice, QStringLiteral("168.00"));
    row.SetCell(ColDelivery, QStringLiteral("浙江杭州-北京;快递 10.00;3天"));
    row.SetCell(ColDetail,
                QStringLiteral("<p><img src=\"http://img.alicdn.com/imgextra/i1/1/TB2.jpg\"></p>"));
    row.SetCell(ColHtml, html);
    row.SetCell(ColLink, QStringLiteral("http://item.taobao.com/item.htm?id=%1").arg(41234567890LL + i));
    row.SetCell(ColWatermark, QStringLiteral("小店专供"));
}

// The 1,000-item table.
void fillNarrow(TItemTable& grid, int rows = 1000) {
    const QStringList html = BenchPages();
    for (int i = 0; i < rows; ++i)
        grid.AppendRow([&](TRowWriter& row) {
            fillItem(row, i, html[i % html.size()]);
            row.SetCell(ColProps, QStringLiteral("\"品牌: 其他\",\"材质: 棉\""));
            row.WidenTo(15);
            row.SetCell(12, QStringLiteral(" 其他"));
        });
}

// The attribute entries of the widest corpus page (5,685 of them), or as many synthetic ones.
QStringList wideAttributes() {
    QFile f(QStringLiteral(TOVREL_CORPUS_DIR "/taobao-item/tb-item-dom-2017-538429031287.html"));
    if (f.open(QIODevice::ReadOnly)) {
        const QStringList entries = AttributeEntries(THttpClient::DecodeBody(f.readAll(), QByteArray()));
        if (entries.size() > 1000)
            return entries;
    }
    QStringList entries;
    for (int i = 0; i < 5685; ++i)
        entries.append(QStringLiteral("属性%1: 值%1").arg(i));
    return entries;
}

// `rows` items, each with the wide page's attribute columns.
void fillWide(TItemTable& grid, int rows) {
    const QStringList html = BenchPages();
    const QStringList attributes = wideAttributes();
    for (int i = 0; i < rows; ++i)
        grid.AppendRow([&](TRowWriter& row) {
            fillItem(row, i, html[i % html.size()]);
            WriteAttributeColumns(row, attributes);
            row.SetCell(ColProps, ToCommaText(attributes));
        });
}

} // namespace

QStringList CorpusItemPages() {
    QStringList texts;
    const QDir dir(QStringLiteral(TOVREL_CORPUS_DIR "/taobao-item"));
    for (const QString& name : dir.entryList({QStringLiteral("*.html")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            texts.append(THttpClient::DecodeBody(f.readAll(), QByteArray()));
    }
    return texts;
}

QStringList BenchPages() {
    static const QStringList pages = corpusPages();
    return pages;
}

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

qint64 TableTextBytes(const TItemTable& grid) {
    qint64 bytes = 0;
    for (const QStringList& row : grid.Snapshot())
        for (const QString& cell : row)
            bytes += cell.size() * 2;
    return bytes;
}

double LiveMegabytes() {
    malloc_trim(0);
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

// A saved table of each shape, made once per run in a temporary folder. The wide table is 201 rows;
// the narrow one for the per-byte comparison is sized to about the same file.
QString SavedBenchTable(TBenchTable shape) {
    static QTemporaryDir dir;
    static std::map<TBenchTable, QString> files;
    if (const auto it = files.find(shape); it != files.end())
        return it->second;
    const QString file = dir.filePath(QStringLiteral("grid-%1.db").arg(int(shape)));
    if (shape == TBenchTable::WideSized)
        (void)SavedBenchTable(TBenchTable::Wide); // its size is the one to reach
    // Made in a child process, so that the table never lived in this one (the peak memory figures
    // stay this process's own).
    const pid_t child = fork();
    if (child == 0) {
        TItemTable grid;
        if (shape == TBenchTable::Narrow)
            fillNarrow(grid);
        else if (shape == TBenchTable::Wide)
            fillWide(grid, 201);
        else
            fillNarrow(grid, 0);
        if (shape == TBenchTable::WideSized) {
            // As many narrow items as make the wide table's file size.
            const qint64 target = QFileInfo(files[TBenchTable::Wide]).size();
            const QStringList html = BenchPages();
            int i = 0;
            qint64 size = 0;
            while (size < target) {
                grid.AppendRow([&](TRowWriter& row) { fillItem(row, i, html[i % html.size()]); });
                size += 2 * html[i % html.size()].size() + 400;
                ++i;
            }
        }
        _exit(SaveGridToFile(grid, file) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        files[shape] = file;
    return files[shape];
}
