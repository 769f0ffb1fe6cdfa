#pragma once

#include "base/job.h"
#include "base/result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The self-update: the version check against the latest published version, the download of the
// published executable, its staging in the folder "bak", and the script that puts it in place.

// Whether the latest published version is offered as an update: any text that differs from the
// running version (older, newer or empty), compared exactly.
bool IsNewVersion(const QString& latest, const QString& current);

// The address of the published window executable on the publisher's server ("/Tovrel", or
// "/Tovrel.exe" on Windows).
QString UpdateAddress(const QString& publisher);

// Whether the bytes are an executable this platform runs: an ELF file on Linux ("\x7FELF"), a
// Windows executable ("MZ") on Windows. Fails with TErrc::BadReply.
TStatus CheckExecutable(const QByteArray& bytes);

// The largest executable downloaded.
inline constexpr qint64 MaxUpdateBytes = qint64(512) << 20;

// The update download (ThreadIdHttpDownLoadFile): fetches the published executable with its progress
// reported in bytes, and stages it in `installDir`/bak (written whole through a temporary file, the
// executable bit set) only when the reply has a success status, the announced length, and the bytes
// of an executable; anything else fails ("更新失败,请检查网络后重新更新！") with nothing staged.
TJobResult DownloadUpdate(const TJobContext& job, const QString& installDir);
// The staged copy's path.
QString StagedExecutable(const QString& installDir);

// The command script that puts the staged copy in place, line by line: "update.bat" for Windows
// (as the product has always written it), "update.sh" for Linux, which waits until the program's
// process `pid` has ended and no process runs the executable, copies the staged file over the
// executable through a temporary name and a rename (keeping it executable; it gives up after a
// minute of failed copies, leaving the old executable whole), starts it again when `restartNow`,
// and removes itself. The restart passes `restartArguments` on.
enum class TScriptKind { WindowsBatch, PosixShell };
QStringList UpdateScriptLines(TScriptKind kind, const QString& executable, bool restartNow, qint64 pid = 0,
                              const QStringList& restartArguments = {});
// The script's file name for this platform.
QString UpdateScriptName();
// WriteUpdateScript: writes this platform's script into `installDir` for the window's executable
// there and starts it on its own; fails with TErrc::Io when it cannot be written or started.
TStatus WriteUpdateScript(const QString& installDir, bool restartNow,
                          const QStringList& restartArguments = {});
