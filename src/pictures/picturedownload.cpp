#include "pictures/picturedownload.h"

#include "app/servicevalues.h"
#include "app/text.h"
#include "pictures/watermark.h"
#include "table/cipher.h"
#include "table/itemtable.h"
#include "web/common.h"

#include <QDir>
#include <QThreadPool>

QStringList PictureAddresses(const QString& head, const QString& description) {
    // Head goes in front of the stored pattern as it is, so only addresses that begin with it count.
    return TPatterns::FindSList(head + QStringLiteral("([^\"]+(?:jpg|gif|png|bmp|jpeg))"), description,
                                false);
}

QString PicturePath(const QString& folder, const QString& address, const QString& title,
                    const QString& fileNameEx, int n) {
    const QString name = address.mid(address.lastIndexOf(QLatin1Char('/')) + 1);
    QString fileName = name;
    if (!TrimText(fileNameEx).isEmpty()) {
        const qsizetype dot = name.indexOf(QLatin1Char('.'));
        const QString suffix = dot >= 0 ? name.mid(dot) : name;
        fileName = title + QLatin1Char('_') + fileNameEx + QLatin1Char('_') + QString::number(n) +
                   QLatin1Char('_') + suffix;
    }
    // A name that would reach outside the item's folder (a separator from the title, or a name of
    // "." or "..") is refused: nothing is written outside the folder the user chose.
    if (fileName.isEmpty() || fileName.contains(QLatin1Char('/')) || fileName.contains(QLatin1Char('\\')) ||
        fileName == u"." || fileName == u"..")
        return {};
    return folder + QLatin1Char('/') + fileName;
}

bool SaveItemPicture(TC& tc, QByteArray& buffer, const QString& watermark, const QString& path,
                     const QString& address) {
    buffer.clear();
    const std::optional<QByteArray> bytes = tc.HOpen(QStringLiteral("GET"), address);
    if (!bytes || path.isEmpty())
        return false;
    buffer = *bytes;
    return WritePicture(watermark, path, buffer).ok();
}

void TthredTaoBaoUrlDownPicture::run() {
    try {
        TC tc(TRequestLimits(), Stop);
        QByteArray buffer;
        const QString title = Row.Cell(ColTitle);
        const QString folder = FilePath + Md5Text(title);
        QString description = Row.Cell(ColDetail);
        const QString watermark = Row.Cell(ColWatermark);
        QDir().mkpath(folder);

        const QStringList captures = PictureAddresses(Head, description);
        for (int n = 0; n < captures.size() && !(Stop && *Stop); ++n) {
            const QString address = Head + captures[n];
            // The title is read again for each name; a deleted row keeps the title it had.
            QString currentTitle = Grid->CellOfRow(No, ColTitle);
            if (Grid->RowOfId(No) < 0)
                currentTitle = title;
            const QString path = PicturePath(folder, address, currentTitle, FileNameEx, n);
            if (!SaveItemPicture(tc, buffer, watermark, path, address))
                continue;
            if (!watermark.isEmpty())
                Grid->SetCellOfRow(No, ColWatermark, watermark);
            description.replace(address, QStringLiteral("FILE:///") + path);
        }
        // Every link target goes, wherever its text stands.
        for (const QString& target :
             TPatterns::FindSList(QStringLiteral("href=\"([^\"]*)"), description, false))
            if (!target.isEmpty())
                description.remove(target);
        Grid->SetCellOfRow(No, ColLocalDetail, description);
    } catch (const std::exception&) {
        // A worker never ends the program; what it could not do leaves the row as it was.
    }
    if (OnEnd)
        OnEnd();
}

TJobResult DownloadPictures(const TJobContext& job, TItemTable& grid, const QList<TRowCopy>& rows,
                            const QString& folder, bool titlePrice) {
    QString filePath = QDir::fromNativeSeparators(folder);
    if (!filePath.endsWith(QLatin1Char('/')))
        filePath += QLatin1Char('/');
    const QString head = TServiceValues::Head();
    TJobResult result;
    QThreadPool pool;
    pool.setMaxThreadCount(MaxLinkWorkers);
    for (const TRowCopy& row : rows) {
        auto* worker = new TthredTaoBaoUrlDownPicture;
        worker->No = row.Id;
        worker->Grid = &grid;
        worker->Row = row;
        worker->Head = head;
        worker->FilePath = filePath;
        worker->FileNameEx = titlePrice ? row.Cell(ColPrice) : QString();
        worker->Stop = job.StopFlag();
        worker->setAutoDelete(true);
        const QString itemFolder = filePath + Md5Text(row.Cell(ColTitle));
        worker->OnEnd = [&job, itemFolder] { job.Report().Progress(QDir::toNativeSeparators(itemFolder)); };
        result.Produced.append(QDir::toNativeSeparators(itemFolder));
        pool.start(worker);
    }
    pool.waitForDone();
    if (job.Stopped())
        result.Outcome = TJobOutcome::Stopped;
    return result;
}
