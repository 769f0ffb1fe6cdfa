#pragma once

#include "base/job.h"
#include "table/itemtable.h"

#include <QByteArray>
#include <QRunnable>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class TC;
class TItemTable;

// The picture download ("下载图片"): the pictures of every selected item's description are saved in
// a folder of its own (named by the digest of its title) inside the chosen folder, watermarked
// with the item's watermark text, and the item's local description points at the saved files.

// The picture addresses of a description: Head followed by the rest of an address up to its last
// picture extension; captures, without Head.
QStringList PictureAddresses(const QString& head, const QString& description);

// Where one picture goes: folder + "/" + the name after the address's last "/", or, with a
// FileNameEx, title_FileNameEx_n_suffix. The empty text when the name would leave the folder.
QString PicturePath(const QString& folder, const QString& address, const QString& title,
                    const QString& fileNameEx, int n);

// Fetches one picture and writes it (watermarked when the text is not empty). Returns false when
// it could not be fetched, read as a picture (with a watermark) or written.
bool SaveItemPicture(TC& tc, QByteArray& buffer, const QString& watermark, const QString& path,
                     const QString& address);

// One item's picture worker. It reads its row's title, description and watermark text from the
// copy taken when the download started, and writes the local description (and the watermark
// text) back to that row through its identity: to wherever the row now stands, or nowhere when it
// has been deleted.
class TthredTaoBaoUrlDownPicture : public QRunnable {
  public:
    quint64 No = 0; // the row's identity in Grid
    TItemTable* Grid = nullptr;
    TRowCopy Row; // the row as it was when the download started
    QString Head;
    QString FilePath; // the chosen folder, ending in "/"
    QString FileNameEx;
    const std::atomic<bool>* Stop = nullptr;
    std::function<void()> OnEnd;

    void run() override;
};

// The picture download job over the selected rows as they were when it started: one worker per
// row, a bounded number running at a time; ends when every worker has ended. `titlePrice` is
// whether picture names take title and price. The item folders are what it produces, in row order.
TJobResult DownloadPictures(const TJobContext& job, TItemTable& grid, const QList<TRowCopy>& rows,
                            const QString& folder, bool titlePrice);
