#pragma once

#include <QString>

#include <functional>

class QObject;

// Starting other programs the way the desktop does, without waiting for them.
namespace TShell {

// Hands `link` unchanged to the user's web browser: the program named by the BROWSER variable
// when it is set, else the desktop's opener (xdg-open). Returns false when no program could be
// started; whether the browser then shows the page is not checked.
bool OpenInBrowser(const QString& link);

// Opens a link of any scheme (such as a chat link) with the desktop's handler for that scheme.
// `done` is called on the caller's thread with true when a handler took the link, false when
// there is none or it could not be started.
void OpenLink(const QString& link, QObject* context, const std::function<void(bool)>& done);

// Starts a command script (update.sh, update.bat) in `folder` as a process of its own, without a
// window, and without waiting for it; it goes on after this process has ended.
bool StartScriptDetached(const QString& script, const QString& folder);

} // namespace TShell
