#include "pictures/picturedownload.h"

#include "app/appcore.h"
#include "app/servicevalues.h"
#include "app/text.h"
#include "pictures/watermark.h"
#include "table/cipher.h"
#include "table/itemtable.h"
#include "web/common.h"

#include <QDir>

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
    try {
        WritePicture(watermark, path, buffer);
        return true;
    } catch (const TPictureError&) {
        return false;
    }
}

void TthredTaoBaoUrlDownPicture::run() {
    try {
        TC tc(TTimeouts(), Stop);
        QByteArray buffer;
        const QString title = Grid->Cell(ColTitle, No);
        const QString folder = FilePath + Md5Text(title);
        QString description = Grid->Cell(ColDetail, No);
        const QString watermark = Grid->Cell(ColWatermark, No);
        QDir().mkpath(folder);

        const QStringList captures = PictureAddresses(Head, description);
        for (int n = 0; n < captures.size() && !(Stop && *Stop); ++n) {
            const QString address = Head + captures[n];
            const QString path = PicturePath(folder, address, Grid->Cell(ColTitle, No), FileNameEx, n);
            if (!SaveItemPicture(tc, buffer, watermark, path, address))
                continue;
            if (!watermark.isEmpty() && SetCellOnMainThread)
                SetCellOnMainThread(ColWatermark, No, watermark);
            description.replace(address, QStringLiteral("FILE:///") + path);
        }
        // Every link target goes, wherever its text stands.
        for (const QString& target :
             TPatterns::FindSList(QStringLiteral("href=\"([^\"]*)"), description, false))
            if (!target.isEmpty())
                description.remove(target);
        if (SetCellOnMainThread)
            SetCellOnMainThread(ColLocalDetail, No, description);
    } catch (const std::exception&) {
        // A worker never ends the program; what it could not do leaves the row as it was.
    }
    if (OnEnd)
        OnEnd();
}

QStringList DownloadPictures(TAppCore& core, const QString& folder) {
    QString filePath = QDir::fromNativeSeparators(folder);
    if (!filePath.endsWith(QLatin1Char('/')))
        filePath += QLatin1Char('/');
    core.EnableCommands(false);
    core.ThreadsRunning = 0;
    core.SetCaption(TCommand::Pictures, QStringLiteral("下载中.."));
    QStringList folders;
    try {
        TItemTable& grid = *core.StringGrid1();
        const TAppCore::TChoices choices = core.Choices();
        const bool titlePrice = choices.DataSource == 0 && choices.cbDLJG;
        const QString head = TServiceValues::Head();
        const int rowCount = grid.RowCount();
        for (int r = 1; r < rowCount; ++r) {
            if (grid.Cell(ColSelect, r).isEmpty())
                continue;
            auto* worker = new TthredTaoBaoUrlDownPicture;
            worker->No = r;
            worker->Grid = &grid;
            worker->Head = head;
            worker->FilePath = filePath;
            worker->FileNameEx = titlePrice ? grid.Cell(ColPrice, r) : QString();
            worker->Stop = core.StopFlag();
            worker->setAutoDelete(true);
            worker->SetCellOnMainThread = [&core, &grid](int col, int row, const QString& cells) {
                QMetaObject::invokeMethod(
                    &core, [&grid, col, row, cells] { grid.SetCell(col, row, cells); },
                    Qt::BlockingQueuedConnection);
            };
            const QString itemFolder = filePath + Md5Text(grid.Cell(ColTitle, r));
            worker->OnEnd = [&core, itemFolder] {
                core.Progress(QDir::toNativeSeparators(itemFolder));
                QMetaObject::invokeMethod(
                    &core, [&core] { --core.ThreadsRunning; }, Qt::QueuedConnection);
            };
            folders.append(itemFolder);
            ++core.ThreadsRunning;
            core.LinkWorkers().start(worker);
        }
        core.WaitForWorkers();
    } catch (const std::exception& e) {
        core.Progress(QStringLiteral("the picture download stopped: ") + QString::fromLocal8Bit(e.what()));
        core.WaitForWorkers();
    }
    core.SetCaption(TCommand::Pictures, TAppCore::DefaultCaption(TCommand::Pictures));
    core.EnableCommands(true);
    return folders;
}
