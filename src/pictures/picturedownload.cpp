#include "pictures/picturedownload.h"

#include "base/cipher.h"
#include "base/htmltext.h"
#include "base/servicekeys.h"
#include "base/text.h"
#include "pictures/watermark.h"
#include "platform/files.h"
#include "table/itemtable.h"
#include "web/httpclient.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QThreadPool>

#include <algorithm>

QStringList PictureAddresses(const QString& description) {
    // src="…" or src='…' inside an img element (any letter case, blanks around "=").
    static const QRegularExpression source(
        QStringLiteral("<img\\b[^>]*?\\ssrc\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)')"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList addresses;
    for (auto it = source.globalMatch(description); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString written = m.captured(1).isNull() ? m.captured(2) : m.captured(1);
        const QString address = written.trimmed();
        const bool web = address.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
                         address.startsWith(QLatin1String("https://"), Qt::CaseInsensitive) ||
                         address.startsWith(QLatin1String("//"));
        if (web && !addresses.contains(written))
            addresses.append(written);
    }
    return addresses;
}

QString PictureFetchAddress(const QString& written, bool fullSize) {
    QString address = MarkupAddress(written.trimmed());
    if (address.startsWith(QLatin1String("//")))
        address.prepend(QStringLiteral("http:"));
    if (fullSize) {
        static const QRegularExpression thumbnail(
            QStringLiteral("^(.*\\.(?:jpe?g|png|gif|bmp|webp))_(?:\\d+x\\d+(?:q\\d+)?)?(?:\\.(?:jpe?g|png|"
                           "gif|bmp|webp))?$"),
            QRegularExpression::CaseInsensitiveOption);
        const QRegularExpressionMatch m = thumbnail.match(address);
        if (m.hasMatch())
            address = m.captured(1);
    }
    return address;
}

QString FileNameFromText(const QString& text, qsizetype keep) {
    QString name = text;
    for (QChar& c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || QStringLiteral("\\/:*?\"<>|").contains(c))
            c = u'_';
    if (name.isEmpty() || name == u"." || name == u"..")
        name = QStringLiteral("_");
    keep = std::min(keep, name.size());
    // Shortened in the stem, a character at a time, never splitting a surrogate pair.
    qsizetype stemEnd = name.size() - keep;
    while (QFile::encodeName(name).size() > MaxFileNameBytes && stemEnd > 1) {
        qsizetype cut = stemEnd - 1;
        if (cut > 0 && name[cut].isLowSurrogate() && name[cut - 1].isHighSurrogate())
            --cut;
        name.remove(cut, stemEnd - cut);
        stemEnd = cut;
    }
    return name;
}

QString PicturePath(const QString& folder, const QString& address, const QString& title,
                    const QString& fileNameEx, int n) {
    const QString name = address.mid(address.lastIndexOf(QLatin1Char('/')) + 1);
    if (TrimText(fileNameEx).isEmpty()) {
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        return folder + QLatin1Char('/') + FileNameFromText(name, dot >= 0 ? name.size() - dot : 0);
    }
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    const QString suffix = dot >= 0 ? name.mid(dot) : name;
    const QString tail =
        QLatin1Char('_') + fileNameEx + QLatin1Char('_') + QString::number(n) + QLatin1Char('_') + suffix;
    return folder + QLatin1Char('/') + FileNameFromText(title + tail, tail.size());
}

TResult<QByteArray> FetchPicture(THttpClient& tc, const QString& address) {
    // Picture addresses come out of pages.
    const TPageAddresses fromPage(tc);
    const TResult<QByteArray> bytes = tc.FetchFile(address);
    if (!bytes)
        return bytes.error();
    // An error page or a page served under a picture's name is never kept as a picture.
    QByteArray data = *bytes;
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead() || reader.size().isEmpty())
        return MakeError(TErrc::BadReply, QStringLiteral("下载的内容不是图片"));
    return *bytes;
}

TResult<QString> SaveItemPicture(THttpClient& tc, QByteArray& buffer, const QString& watermark,
                                 const QString& path, const QString& address) {
    buffer.clear();
    const TResult<QByteArray> picture = FetchPicture(tc, address);
    if (!picture)
        return picture.error();
    buffer = *picture;
    return WritePicture(watermark, path, buffer);
}

QString PictureFailureText(const TError& error) {
    switch (error.Code) {
    case TErrc::NoReply:
        return QStringLiteral("无法下载（") + error.Detail + QStringLiteral("）");
    case TErrc::BadReply:
        return QStringLiteral("服务器没有给出图片（") + error.Detail + QStringLiteral("）");
    case TErrc::Refused:
        return QStringLiteral("地址指向本机或内部网络（") + error.Detail + QStringLiteral("），已拒绝");
    default:
        return QStringLiteral("无法写入（") + error.Detail + QStringLiteral("）");
    }
}

QString ItemDescription(const TRowCopy& row) {
    const QString edited = row.Cell(ColLocalDetail);
    return edited.isEmpty() ? row.Cell(ColDetail) : edited;
}

void TPictureWorker::run() {
    const QString title = Row.Cell(ColTitle);
    // The description as the seller sees it: the edited one when there is one.
    const QString edited = Row.Cell(ColLocalDetail);
    QString description = ItemDescription(Row);
    const QString watermark = Row.Cell(ColWatermark);
    auto advance = [this](const QString& detail) { Job->Report().Advance(++*Done, Total, detail); };
    auto fail = [this, &advance](const QString& address, const QString& why) {
        ++*Failed;
        Job->Report().Log(QStringLiteral("图片 ") + address + QStringLiteral(" 没有保存：") + why);
        advance(address + QStringLiteral("：") + why);
    };
    try {
        THttpClient tc(TRequestLimits(), Job->StopFlag(), Job->Service());
        QByteArray buffer;
        QList<std::pair<QString, QString>> localAddresses; // as written, and the saved file's
        // The item's folder is made for its first picture: an item without pictures leaves none.
        if (!Captures.isEmpty() && !QDir().mkpath(Folder))
            Job->Report().Log(QStringLiteral("图片文件夹 ") + QDir::toNativeSeparators(Folder) +
                              QStringLiteral(" 无法创建"));
        for (int n = 0; n < Captures.size() && !Job->Stopped(); ++n) {
            const QString address = PictureFetchAddress(Captures[n], false);
            // Named by the title the row had when the download started.
            const QString& currentTitle = title;
            const TResult<QString> saved = SaveItemPicture(
                tc, buffer, watermark, PicturePath(Folder, address, currentTitle, FileNameEx, n), address);
            if (!saved) {
                if (Job->Stopped())
                    break; // abandoned by the stop, not failed
                fail(address, PictureFailureText(saved.error()));
                continue;
            }
            const QString& path = *saved;
            ++*Saved;
            advance(QDir::toNativeSeparators(path));
            if (!watermark.isEmpty())
                Table->Apply([id = RowId, watermark](TItemTable& grid) {
                    grid.SetCellOfRow(id, ColWatermark, watermark);
                });
            localAddresses.append({Captures[n], LocalFileAddress(path)});
        }
        // The longer addresses first, so that one that begins like another is replaced whole.
        std::stable_sort(localAddresses.begin(), localAddresses.end(),
                         [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
        for (const auto& [written, local] : std::as_const(localAddresses))
            description.replace(written, local);
        // Every link target goes, wherever its text stands.
        for (const QString& target :
             TPatterns::FindSList(QStringLiteral("href=\"([^\"]*)"), description, false))
            if (!target.isEmpty())
                description.remove(target);
        // Written only over the description the download started from: an edit saved meanwhile
        // is the seller's and stays.
        Table->Apply([id = RowId, description, edited](TItemTable& grid) {
            if (grid.CellOfRow(id, ColLocalDetail) == edited)
                grid.SetCellOfRow(id, ColLocalDetail, description);
        });
        // A folder whose pictures all failed is not left behind empty.
        if (!Captures.isEmpty() && QDir(Folder).isEmpty())
            QDir().rmdir(Folder);
    } catch (const std::exception& e) {
        // What this item could not do leaves its row as it was; the other items go on.
        fail(QStringLiteral("（宝贝 “") + title + QStringLiteral("”）"), QString::fromLocal8Bit(e.what()));
    }
}

TJobResult DownloadPictures(const TJobContext& job, TTableChanges& table, const QList<TRowCopy>& rows,
                            const QString& folder, bool titlePrice) {
    QString filePath = QDir::fromNativeSeparators(folder);
    if (!filePath.endsWith(QLatin1Char('/')))
        filePath += QLatin1Char('/');
    TJobResult result;
    std::atomic<int> saved{0}, failed{0}, done{0};
    // Every item's pictures are known before the first is fetched, so the progress has its total.
    QList<QStringList> captures;
    qint64 total = 0;
    for (const TRowCopy& row : rows) {
        captures.append(PictureAddresses(ItemDescription(row)));
        total += captures.last().size();
    }
    job.Report().Advance(0, total);
    QSet<QString> used;
    QStringList folders;
    QThreadPool pool;
    pool.setMaxThreadCount(MaxLinkWorkers);
    for (qsizetype k = 0; k < rows.size(); ++k) {
        const TRowCopy& row = rows[k];
        // Items of the same title would share a folder and overwrite each other's pictures.
        const QString name = Md5Text(row.Cell(ColTitle));
        QString itemFolder = filePath + name;
        for (int k = 2; used.contains(itemFolder); ++k)
            itemFolder = filePath + name + QLatin1Char('_') + QString::number(k);
        used.insert(itemFolder);
        folders.append(itemFolder);
        auto* worker = new TPictureWorker;
        worker->RowId = row.Id;
        worker->Table = &table;
        worker->Row = row;
        worker->Folder = itemFolder;
        worker->FileNameEx = titlePrice ? row.Cell(ColPrice) : QString();
        worker->Captures = captures[k];
        worker->Job = &job;
        worker->Saved = &saved;
        worker->Failed = &failed;
        worker->Done = &done;
        worker->Total = total;
        worker->setAutoDelete(true);
        pool.start(worker);
    }
    pool.waitForDone();
    // The folders that hold pictures, in the items' order.
    for (const QString& itemFolder : std::as_const(folders))
        if (QFileInfo(itemFolder).isDir())
            result.Produced.append(QDir::toNativeSeparators(itemFolder));
    result.Count = saved;
    result.Failures = failed;
    result.Summary = QStringLiteral("图片 %1 张已保存，%2 张失败").arg(saved.load()).arg(failed.load());
    job.Report().Log(result.Summary);
    job.Report().Status(result.Summary);
    if (job.Stopped())
        result.Outcome = TJobOutcome::Stopped;
    else if (failed > 0)
        result.Outcome = TJobOutcome::Failed;
    return result;
}
