#pragma once

#include "base/result.h"
#include "base/servicekeys.h"
#include "platform/termination.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QObject;

// What a front end needs of the program's surroundings, through the core's door: where the program
// and its files are, the requests to end it, the links it opens, the service values it shows, and
// the plain fetches of `tovrel-cli fetch` and of the publisher's pointer files. The front ends use
// nothing below src/app but through this and TAppCore.
namespace TSession {

// The program's folder, found from the system's record of the executable, and the working folder
// chosen by it: a portable copy's own folder, else the user's data folder (see TPaths).
TStatus FindProgramFolder();
// Makes `dir` the working folder (--workdir); fails with TErrc::Refused when it is no folder.
TStatus UseWorkFolder(const QString& dir);
QString WorkFolder();
// The folder the program's executables stand in, and the window's executable's name there.
QString InstallFolder();
QString WindowExecutableName();

// Ctrl+C, SIGTERM and SIGHUP as a signal of a watcher object (see TTerminationWatcher); a closed
// output pipe or a file size limit never ends the program.
using TTermination = TTerminationWatcher;
void IgnoreBrokenPipes();
// Sets the allocator up for texts of megabytes read one after another (see TMemory); first thing
// in main.
void SuitLargeTexts();
int LastTerminationRequest();

// Opening links the desktop's way (see TShell).
bool OpenInBrowser(const QString& link);
void OpenLink(const QString& link, QObject* context, const std::function<void(bool)>& done);

// A service value as service.ini holds it now.
QString ServiceValue(TServiceKey key);

// The links in a pasted or typed text (see TLinkList::SplitLinks).
QStringList SplitLinks(const QString& text);

// A text file the user chose (a description): only a regular file of at most `maxBytes`, read as
// UTF-8 when it is valid UTF-8, else in the code page.
TResult<QString> ReadUserTextFile(const QString& path, qint64 maxBytes);

// One fetch with a request profile by its name, for checking a connection: the text, or for a
// profile that gives bytes the bytes (as Latin-1 text in `text`, the count in `bytes`).
struct TFetched {
    bool Binary = false;
    QByteArray Bytes;
    QString Text;
};
// The profiles' names, and whether a name is one (ignoring letter case).
QStringList ProfileNames();
bool IsProfile(const QString& name);
TResult<TFetched> Fetch(const QString& profile, const QString& url, const QByteArray& form);
// A text file of the publisher's (a pointer file), "error" when it could not be fetched; a fetch
// in flight is given up when `abandon` is set.
QString FetchPublisherText(const QString& address, const std::atomic<bool>* abandon);

// Writes a whole file (see WriteWholeFile).
TStatus WriteFile(const QString& path, const QByteArray& bytes);

} // namespace TSession
