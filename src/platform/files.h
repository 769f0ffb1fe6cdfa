#pragma once

#include "base/result.h"

#include <QByteArray>
#include <QString>

class QFileDevice;
class QSaveFile;

// The failure of a file operation, taken right after the failing call: TErrc::Io with Qt's reason,
// or the system's where Qt knows none ("Unknown error", as for a write beyond the file size limit).
TError FileError(const QFileDevice& file);

// Writes a whole file through a temporary file beside it that is then renamed over the old one, so
// a crash, a full disk or a file size limit during the write leaves the previous file whole. The
// last buffered bytes are flushed and checked before the rename: a write that did not reach the
// disk never replaces the old file. Fails with TErrc::Io and the system's reason.
TStatus WriteWholeFile(const QString& path, const QByteArray& bytes);
// The end of such a write for a file written piece by piece: flushes, checks, then renames; on a
// failure the temporary file goes and the old file stays.
TStatus CommitSaveFile(QSaveFile& file);
// Asks the system to start writing what has been written to the file so far, without waiting: a
// large file then reaches the disk while the rest is still being made, and the wait for it at the
// end is short. Does nothing where the system has no such request.
void StartWriteBack(const QFileDevice& file);

// Reads a file the program keeps its state in. Only a regular file is read (a pipe, a device or a
// folder in its place would block or never end), and at most `maxBytes` of it: either fails with
// TErrc::Damaged. A file that cannot be opened fails with TErrc::Io.
TResult<QByteArray> ReadStateFile(const QString& path, qint64 maxBytes);
// Makes `path` ready for a regular file this program writes, without following any link: a
// symbolic link, pipe, socket or device standing there is removed (never what a link points at); a
// regular file stays (the write replaces it). Fails with TErrc::Io and the reason when a folder
// stands there or the entry cannot be removed.
TStatus ClearForRegularFile(const QString& path);
// Makes `path` a real folder of its own: a symbolic link standing there (even one to a folder) or
// anything else that is no folder is removed first, then the folder is made. Fails with TErrc::Io
// and the reason.
TStatus MakeRealFolder(const QString& path);
// Reads a file the user chose (a list of titles, a description). Only a regular file is read, so a
// pipe or a device named by mistake never blocks or runs without end; at most `maxBytes` of it.
// Fails with TErrc::Refused and why (not a regular file, larger than the limit), or TErrc::Io and
// the system's reason.
TResult<QByteArray> ReadChosenFile(const QString& path, qint64 maxBytes);
// Whether something (a file, a folder, a pipe, a dangling link) stands at `path`.
bool PathTaken(const QString& path);

// The address of a local file for a web page or an editor ("file:///folder/name", its special
// characters escaped).
QString LocalFileAddress(const QString& path);

// Keeps a damaged file aside under its name with ".bad" added, or ".bad.1", ".bad.2", ... when
// earlier copies are there, so none is lost. Returns the name it now has.
TResult<QString> SetAside(const QString& path);
