#include "benchtables.h"

#include "acquire/itemrow.h"
#include "acquire/taobaoitem.h"
#include "base/ansi.h"
#include "base/commatext.h"
#include "table/gridfile.h"
#include "table/itemtable.h"
#include "web/httpclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <malloc.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
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

void FillBenchItems(TItemTable& grid, int items) {
    fillNarrow(grid, items);
}

QStringList BenchPages() {
    static const QStringList pages = corpusPages();
    return pages;
}

double PeakMegabytes() {
    // The high-water mark of this process's own memory since it started (or was started anew by
    // exec): the kernel's count for the process would include what its parent held before the exec.
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return 0;
}

qint64 TableTextBytes(const TItemTable& grid) {
    // A row at a time: the pages are opened one by one, as the table keeps them packed.
    qint64 bytes = 0;
    for (int r = 0; r < grid.RowCount(); ++r)
        for (const QString& cell : grid.RowCells(r))
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

namespace {

constexpr qsizetype FloorPieceBytes = 4 << 20;

struct THexDigits {
    char pairs[256][2];
    signed char value[256];
    THexDigits() {
        static const char Hex[] = "0123456789ABCDEF";
        for (int b = 0; b < 256; ++b) {
            pairs[b][0] = Hex[b >> 4];
            pairs[b][1] = Hex[b & 15];
            value[b] = b >= '0' && b <= '9' ? char(b - '0') : b >= 'A' && b <= 'F' ? char(b - 'A' + 10) : -1;
        }
    }
};
const THexDigits HexDigits;

} // namespace

bool FloorWriteEnciphered(const QByteArray& file, const QByteArray& plain) {
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const unsigned char key[16] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    QByteArray blocks(FloorPieceBytes, Qt::Uninitialized);
    QByteArray hex(2 * FloorPieceBytes, Qt::Uninitialized);
    bool ok = true;
    for (qsizetype at = 0; at < plain.size() && ok; at += FloorPieceBytes) {
        const qsizetype size = std::min(FloorPieceBytes, plain.size() - at) / 16 * 16;
        int written = 0;
        EVP_EncryptUpdate(ctx, reinterpret_cast<uchar*>(blocks.data()), &written,
                          reinterpret_cast<const uchar*>(plain.constData() + at), int(size));
        const uchar* from = reinterpret_cast<const uchar*>(blocks.constData());
        char* to = hex.data();
        for (int i = 0; i < written; ++i, to += 2)
            std::memcpy(to, HexDigits.pairs[from[i]], 2);
        ok = ::write(fd, hex.constData(), size_t(2 * written)) == 2 * written;
    }
    EVP_CIPHER_CTX_free(ctx);
    ok = ::fsync(fd) == 0 && ok;
    return ::close(fd) == 0 && ok;
}

qint64 FloorReadDeciphered(const QString& file, bool decode) {
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY);
    if (fd < 0)
        return 0;
    // The grid file's key and form: 16 hexadecimal digits of the plaintext's length, then the
    // enciphered blocks.
    unsigned char key[16] = {};
    std::memcpy(key, GridKey, std::min<size_t>(std::strlen(GridKey), sizeof key));
    char prefix[16];
    if (::read(fd, prefix, sizeof prefix) != sizeof prefix) {
        ::close(fd);
        return 0;
    }
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    QByteArray hex(2 * FloorPieceBytes, Qt::Uninitialized);
    QByteArray blocks(FloorPieceBytes, Qt::Uninitialized);
    QByteArray plain(FloorPieceBytes, Qt::Uninitialized);
    QString text;
    QByteArray carry; // the plaintext not decoded yet
    qint64 total = 0;
    for (;;) {
        const ssize_t got = ::read(fd, hex.data(), size_t(hex.size()));
        if (got <= 0)
            break;
        const qsizetype bytes = got / 32 * 16; // whole blocks (a real reader keeps the rest)
        const uchar* from = reinterpret_cast<const uchar*>(hex.constData());
        char* to = blocks.data();
        for (qsizetype i = 0; i < bytes; ++i, from += 2)
            to[i] = char(HexDigits.value[from[0]] << 4 | HexDigits.value[from[1]]);
        int written = 0;
        EVP_DecryptUpdate(ctx, reinterpret_cast<uchar*>(plain.data()), &written,
                          reinterpret_cast<const uchar*>(blocks.constData()), int(bytes));
        // The program's own decoder, by table: the fastest there is for the code page. A piece
        // is decoded up to its last ASCII byte (a character boundary); the rest goes with the next.
        if (decode) {
            carry.append(plain.constData(), written);
            qsizetype end = carry.size();
            while (end > 0 && uchar(carry[end - 1]) >= 0x80)
                --end;
            if (!TAnsi::DecodeWellFormed(QByteArrayView(carry.constData(), end), text))
                text = TAnsi::Decode(carry.left(end));
            carry.remove(0, end);
        }
        total += written;
    }
    EVP_CIPHER_CTX_free(ctx);
    ::close(fd);
    return total;
}
