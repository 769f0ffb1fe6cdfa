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
// loads, changes and saves the folder's state. A lock that names no live process of ours on this
// computer (its process is gone or is another program now, it is empty, unreadable or garbage, or
// something else stands in its place: a link, a pipe, an empty folder) is taken over; a live
// holder's lock never goes stale, however long it is held.
class TFolderLock {
  public:
    static constexpr const char* FileName = "tovrel.lock";

    explicit TFolderLock(const QString& folder);
    ~TFolderLock();

    // Takes the folder. Fails with TErrc::Locked (the detail names the holder, see Holder) when
    // another running process holds it, or when a stale lock cannot be removed (see Problem); with
    // TErrc::Io when the lock file cannot be made.
    TStatus Lock();
    bool Held() const;
    // The process that held the folder when Lock failed with TErrc::Locked.
    TFolderHolder Holder() const { return m_holder; }
    // Why a lock that holds the folder without a live holder could not be taken over, in the
    // user's words (the file, the system's reason and what to do); empty otherwise.
    QString Problem() const { return m_problem; }

  private:
    // Removes a lock that names no live holder; fails with TErrc::Locked, with an empty detail when
    // a live holder has it, or the user's words when it cannot be removed.
    TStatus takeOverIfStale();
    bool PathExists() const;
    QString m_path;
    std::unique_ptr<QLockFile> m_file;
    TFolderHolder m_holder;
    QString m_problem;
};
