#include "table/gridfile.h"

#include "base/ansi.h"
#include "base/cipher.h"
#include "base/text.h"
#include "platform/files.h"
#include "table/gridjson.h"
#include "table/itemtable.h"
#include "table/linklist.h"
#include "table/packedtext.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <optional>

namespace {

TError damaged(const QString& why) {
    return MakeError(TErrc::Damaged, why);
}

TError ioError(const QFileDevice& file) {
    return FileError(file);
}

// The largest link-list file read: far more than the list may hold (see MaxListChars). The grid
// file has no such limit: it is read a piece at a time, and whatever the save wrote is read back
// as far as memory allows.
constexpr qint64 MaxLinkListFileBytes = 256 << 20;

} // namespace

// How much of the table is made between two requests to start writing the file to the disk.
constexpr qint64 WriteBackBytes = 32 << 20;

TStatus SaveGridToFile(const TItemTable& grid, const QString& FileName) {
    // The JSON text is made, converted and enciphered one row at a time, so a large table never
    // exists as one text in memory.
    // Each row's page is opened for its row alone.
    const int rowCount = grid.RowCount();
    const int colCount = grid.ColCount();
    const TGridJsonWriter json(colCount);
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly))
        return ioError(file);
    TCipherWriter writer(file, GridKey, 0);
    bool ok = writer.Write("[");
    QByteArray row;
    QByteArray storedPage;
    qint64 sinceWriteBack = 0;
    for (int r = 0; r < rowCount && ok; ++r) {
        row.resize(0); // keeps its room for the next row
        if (r > 0)
            row += ',';
        // A page kept as the file held it is written as it is when that is what writing its text
        // would give (a page this program saved), else read and written anew.
        // So are the cells not read since the load.
        TRowCopy copy = grid.RowAsStored(r);
        std::optional<QByteArrayView> pageAsIs;
        if (PackedText::UnpackStored(copy.PackedPage, storedPage) && StoredBodyIsWrittenAsIs(storedPage))
            pageAsIs = storedPage;
        else
            copy.Cells[ColHtml] = PackedText::Unpack(copy.PackedPage);
        if (copy.StoredCells.isEmpty() || !json.AppendRow(row, copy.Cells, pageAsIs, copy.StoredCells)) {
            ReadStoredCells(copy.StoredCells, copy.Cells, colCount);
            if (pageAsIs)
                json.AppendRow(row, copy.Cells, *pageAsIs);
            else
                json.AppendRow(row, copy.Cells);
        }
        ok = writer.Write(row);
        // The disk works while the rest is made, instead of all at the commit.
        sinceWriteBack += row.size();
        if (sinceWriteBack >= WriteBackBytes) {
            StartWriteBack(file);
            sinceWriteBack = 0;
        }
    }
    ok = ok && writer.Write("]");
    // Finish also waits for the writer's last pieces, so nothing writes to the file after it.
    ok = writer.Finish() && ok;
    if (!ok) {
        const TError error = ioError(file);
        file.cancelWriting();
        return error;
    }
    return CommitSaveFile(file);
}

namespace {

TStatus loadGrid(TItemTable& grid, const QString& FileName);

} // namespace

TStatus LoadGridFromFile(TItemTable& grid, const QString& FileName) {
    try {
        return loadGrid(grid, FileName);
    } catch (const std::bad_alloc&) {
        // Too large for this computer's memory: the file is not damaged, and must not be replaced.
        return MakeError(TErrc::Io, QStringLiteral("内存不足，无法读入"));
    }
}

namespace {

TStatus loadGrid(TItemTable& grid, const QString& FileName) {
    // A pipe or a device in the file's place would never end; only a regular file is read.
    const QFileInfo info(FileName);
    if (!info.isFile())
        return damaged(QStringLiteral("不是普通文件"));
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        return ioError(file);
    // Deciphered and read a piece at a time. A fault of the cipher text (found at its end at the
    // latest) comes before any fault of the table in it.
    TCipherReader cipher(file, GridKey, 0, true);
    std::optional<TError> cipherError;
    std::optional<TGridJson> table = ReadGridJson(
        [&cipher, &cipherError](QByteArray& text) {
            const TResult<qsizetype> appended = cipher.AppendNext(text);
            if (!appended) {
                cipherError = appended.error();
                return false;
            }
            return *appended > 0;
        },
        true);
    if (cipherError)
        return *cipherError;
    if (!table)
        return damaged(QStringLiteral("解密后的内容不是表格"));
    // The table takes one row per element (a table saved with only its caption row comes back as
    // just that). Rows after an element that could not be read stay empty.
    const int rowCount = table->elementCount;
    QList<QStringList> rows = std::move(table.value().rows);
    QList<TPackedText> pages = std::move(table.value().pages);
    QList<QByteArray> storedCells = std::move(table.value().storedCells);
    while (rows.size() < rowCount)
        rows.append(QStringList(table->colCount));
    grid.Replace(std::move(rows), table->colCount, std::move(pages), std::move(storedCells));
    if (!table->complete)
        return damaged(QStringLiteral("表格中有一行无法读取"));
    return {};
}

} // namespace

TStatus SaveLinkListToFile(const TLinkList& list, const QString& FileName) {
    const QStringList links = list.Items();
    if (links.isEmpty()) {
        // An emptied list stays empty: the file of an earlier list goes.
        QFile file(FileName);
        if (file.exists() && !file.remove())
            return ioError(file);
        return {};
    }
    QString text;
    for (const QString& link : links)
        text += link + QStringLiteral("\r\n");
    // Every character is kept: what the code page cannot hold is written in GB18030's four bytes.
    return WriteWholeFile(FileName, EncryptText(TAnsi::EncodeLossless(text), LinkListKey, 0));
}

TStatus LoadLinkListFromFile(TLinkList& list, const QString& FileName) {
    list.Clear();
    const TResult<QByteArray> bytes = ReadStateFile(FileName, MaxLinkListFileBytes);
    if (!bytes)
        return bytes.error();
    // The program never writes an empty list (it removes the file): an empty file is what a failed
    // write leaves.
    if (bytes->isEmpty())
        return damaged(QStringLiteral("文件是空的"));
    const TResult<QByteArray> plain = DecryptText(*bytes, LinkListKey, 0, true);
    if (!plain)
        return plain.error();
    QString text;
    if (!TAnsi::DecodeLossless(*plain, text))
        return damaged(QStringLiteral("解密后不是连接列表"));
    // One link a line, as written. A line that is no link is left out; the others are read.
    QStringList links;
    int firstBad = 0, bad = 0;
    QString why;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString link = TrimText(lines[i]);
        if (link.isEmpty())
            continue;
        if (const QString wrong = TLinkList::WhyNotALink(link); !wrong.isEmpty()) {
            if (bad++ == 0) {
                firstBad = int(i) + 1;
                why = wrong;
            }
            continue;
        }
        links.append(link);
    }
    if (bad > 0 && links.isEmpty())
        return damaged(QStringLiteral("解密后不是连接列表"));
    list.Replace(links);
    if (bad > 0)
        return damaged(QStringLiteral("第 %1 行%2，共 %3 行不能读入；其余 %4 个连接已读入")
                           .arg(firstBad)
                           .arg(why)
                           .arg(bad)
                           .arg(links.size()));
    return {};
}
