#pragma once

#include <QString>

// Whether a file exists and is in use so that it must not be replaced now. Linux has no exclusive
// open, so the file counts as in use when it cannot be opened for reading and writing, when
// another process holds a lock on it, when another process has it open for writing (seen in
// /proc), or when an office suite's lock file (".~lock.NAME#") stands beside it.
bool FileInUse(const QString& path);
