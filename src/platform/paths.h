#pragma once

#include <QString>

// The working directory: the folder that holds the program's own files (settings, the saved
// table and link list, the page cache, service.ini). It is the executable's folder unless a
// front end chose another one at start (--workdir).
namespace TPaths {

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
