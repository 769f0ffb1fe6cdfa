#pragma once

#include "base/result.h"

#include <QString>

// The working directory: the folder that holds the program's own files (settings, the saved
// table and link list, the page cache, service.ini): a portable copy's own folder, else the user's
// data folder (see ChooseWorkFolder), unless a front end chose another one at start (--workdir).
namespace TPaths {

// Finds the folder the running executable stands in from the system's own record of it
// (/proc/self/exe), in bytes, so that a folder name in another encoding (a GBK name unpacked from
// a Windows archive) still names that folder: when Qt's file names cannot carry the name, the
// process changes into the folder and names it by the system's link to the current folder
// ("/proc/self/cwd") from then on. It is the working folder unless
// SetWorkDir names another, and the install folder unless SetInstallDir does. Fails with TErrc::Io
// and the reason when the folder cannot be found; the program then says so and stops.
TStatus FindProgramFolder();

// Chooses the working folder at start, before any --workdir: the executable's folder when it is
// writable and already holds the state files (a portable copy, as the program has always worked);
// otherwise the user's data folder (DataFolder), made when missing. State found beside the
// executable is never moved or deleted. Fails with TErrc::Io when the data folder cannot be made.
TStatus ChooseWorkFolder();
// The user's data folder: $XDG_DATA_HOME/Tovrel (by default ~/.local/share/Tovrel).
QString DataFolder();
// Whether `folder` is a portable copy's: writable, and holding one of the state files.
bool IsPortableFolder(const QString& folder);

QString WorkDir();
void SetWorkDir(const QString& dir);
// A file of the working directory.
QString WorkFile(const QString& name);

// The folder the program's executables stand in (which the self-update replaces them in): the
// running executable's folder unless SetInstallDir named another (as the tests do).
QString InstallDir();
void SetInstallDir(const QString& dir);
// Whether the program's own folder may be written (a copy the package manager installed may not:
// it is updated by the package manager, never by itself).
bool InstallDirWritable();
// The window's executable there: "Tovrel" ("Tovrel.exe" on Windows).
QString WindowExecutableName();
// The command line's executable beside it: "tovrel-cli" ("tovrel-cli.exe" on Windows).
QString CliExecutableName();

} // namespace TPaths
