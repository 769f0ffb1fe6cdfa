#pragma once

#include "base/result.h"

#include <QString>

#include <memory>

class QLockFile;

// Who holds a working folder.
struct TFolderHolder {
    qint64 Pid = 0;
    QString App;  // the program's name ("Tovrel", "tovrel-cli")
    QString Host; // the machine it runs on
};

// The one-writer rule for a working folder: a lock file in the folder, held by the process that
// loads, changes and saves the folder's state. A lock left by a process that no longer runs is
// taken over; a live holder's lock never goes stale, however long it is held.
class TFolderLock {
  public:
    static constexpr const char* FileName = "tovrel.lock";

    explicit TFolderLock(const QString& folder);
    ~TFolderLock();

    // Takes the folder. Fails with TErrc::Locked (the detail names the holder, see Holder) when
    // another running process holds it, or with TErrc::Io when the lock file cannot be made.
    TStatus Lock();
    bool Held() const;
    // The process that held the folder when Lock failed with TErrc::Locked.
    TFolderHolder Holder() const { return m_holder; }

  private:
    std::unique_ptr<QLockFile> m_file;
    TFolderHolder m_holder;
};
