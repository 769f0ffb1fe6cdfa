#pragma once

#include <QByteArray>
#include <QRunnable>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class TAppCore;
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

// One item's picture worker.
class TthredTaoBaoUrlDownPicture : public QRunnable {
  public:
    int No = 0;
    TItemTable* Grid = nullptr;
    QString Head;
    QString FilePath; // the chosen folder, ending in "/"
    QString FileNameEx;
    const std::atomic<bool>* Stop = nullptr;
    // Carries one cell write to the thread that owns the table's view and waits until it is done.
    std::function<void(int col, int row, const QString& cells)> SetCellOnMainThread;
    std::function<void()> OnEnd;

    void run() override;
};

// The command: one worker per selected row (a bounded number running at a time), waiting while
// they run with the thread's events processed; the busy state and the button's caption are held
// meanwhile and restored in every case. Returns the item folders, in row order.
QStringList DownloadPictures(TAppCore& core, const QString& folder);
