#pragma once

#include "base/job.h"
#include "base/result.h"
#include "table/itemtable.h"

#include <QByteArray>
#include <QRunnable>
#include <QString>
#include <QStringList>

#include <atomic>

class THttpClient;
class TItemTable;

// The picture download ("下载图片"): the pictures of every selected item's description are saved in
// a folder of its own (named by the digest of its title) inside the chosen folder, watermarked
// with the item's watermark text, and the item's local description points at the saved files.

// The picture addresses of a description as it writes them: the src of every img element that
// names a web address (http://, https:// or protocol-relative //), in order, each once.
QStringList PictureAddresses(const QString& description);

// The address a picture address written in a page is fetched at: "&amp;" read as "&", a
// protocol-relative address given "http:" (like the page's other addresses), and, with
// `fullSize`, a thumbnail's size suffix after the picture's own extension taken off
// ("….jpg_60x60.jpg", "….jpg_60x60q90.jpg" and "….jpg_.webp" give "….jpg").
QString PictureFetchAddress(const QString& written, bool fullSize);

// The longest file name (in bytes of the file system's encoding) that the program makes.
inline constexpr int MaxFileNameBytes = 255;

// A file name made from outside text (a title, the last part of an address): path separators,
// control characters and the characters file systems refuse (\ / : * ? " < > |) become "_", a
// name of "." or ".." becomes "_", and a name too long for the file system is shortened in its
// stem, keeping `keep` characters at its end (its suffix).
QString FileNameFromText(const QString& text, qsizetype keep = 0);

// Where one picture goes: folder + "/" + the name after the address's last "/" (its extension
// kept when it is shortened), or, with a FileNameEx, title_FileNameEx_n_suffix (the title
// shortened when the name is too long). Never a name outside `folder`.
QString PicturePath(const QString& folder, const QString& address, const QString& title,
                    const QString& fileNameEx, int n);

// Fetches a picture: the body of a reply with a 2xx status whose bytes are a picture an image
// reader can read. Fails with TErrc::NoReply (nothing arrived), or TErrc::BadReply (an error
// status, something that is no picture, a reply over the size limit).
TResult<QByteArray> FetchPicture(THttpClient& tc, const QString& address);
// Fetches one picture into `buffer` and writes it to `path` (watermarked when the text is not
// empty, see WritePicture); returns the path written. Fails as FetchPicture does, or with
// TErrc::Io when it cannot be written.
TResult<QString> SaveItemPicture(THttpClient& tc, QByteArray& buffer, const QString& watermark,
                                 const QString& path, const QString& address);
// Why a picture was not saved, for the run log.
QString PictureFailureText(const TError& error);

// One item's picture worker. It reads its row's title, description and watermark text from the
// copy taken when the download started, and hands the local description (and the watermark text)
// over for that row by its identity: to wherever the row then stands, or nowhere when it has been
// deleted. It counts the pictures it saved and those it could not save, and logs each
// failure.
class TPictureWorker : public QRunnable {
  public:
    quint64 RowId = 0;              // the row's identity in the table
    TTableChanges* Table = nullptr; // where the row's new description and watermark go
    TRowCopy Row;                   // the row as it was when the download started
    QString Folder;                 // the item's picture folder
    QString FileNameEx;
    // The picture addresses of the row's description, as written there (PictureAddresses).
    QStringList Captures;
    const TJobContext* Job = nullptr;
    std::atomic<int>* Saved = nullptr;
    std::atomic<int>* Failed = nullptr;
    // Pictures finished (saved or not) by every worker of the download, of Total.
    std::atomic<int>* Done = nullptr;
    qint64 Total = 0;

    void run() override;
};

// The description an item shows and exports: the edited one (ColLocalDetail) when it has one, else
// the page's.
QString ItemDescription(const TRowCopy& row);

// The picture download job over the selected rows as they were when it started: one worker per
// row, a bounded number running at a time; ends when every worker has ended, with a summary of
// the pictures saved and not saved (the job fails when any was not). `titlePrice` is whether
// picture names take title and price. The item folders are what it produces, in row order: a
// folder name already used in the run (two items of the same title) gets "_2", "_3", ....
TJobResult DownloadPictures(const TJobContext& job, TTableChanges& table, const QList<TRowCopy>& rows,
                            const QString& folder, bool titlePrice);
