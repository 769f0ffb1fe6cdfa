#pragma once

#include "base/result.h"

#include <QString>

// The working directory: the folder that holds the program's own files (settings, the saved
// table and link list, the page cache, service.ini). It is the executable's folder unless a
// front end chose another one at start (--workdir).
namespace TPaths {

// Finds the folder the running executable stands in from the system's own record of it
// (/proc/self/exe), in bytes, so that a folder name in another encoding (a GBK name unpacked from
// a Windows archive) still names that folder: when Qt's file names cannot carry the name, the
// process changes into the folder and names it by the system's link to the current folder
// ("/proc/self/cwd") from then on. It is the working folder unless
// SetWorkDir names another, and the install folder unless SetInstallDir does. Fails with TErrc::Io
// and the reason when the folder cannot be found; the program then says so and stops.
TStatus FindProgramFolder();

QString WorkDir();
void SetWorkDir(const QString& dir);
// A file of the working directory.
QString WorkFile(const QString& name);

// The folder the program's executables stand in (which the self-update replaces them in): the
// running executable's folder unless SetInstallDir named another (as the tests do).
QString InstallDir();
void SetInstallDir(const QString& dir);
// The window's executable there: "Tovrel" ("Tovrel.exe" on Windows).
QString WindowExecutableName();

} // namespace TPaths
