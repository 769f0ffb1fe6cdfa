#pragma once

#include "base/initext.h"
#include "base/result.h"

#include <QString>

// An initialisation file as the desktop's profile functions read and write it: "[section]"
// headers and "key=value" lines, in the ANSI code page (or, after a byte-order mark, in UTF-8 or
// UTF-16, as an editor may have saved it), sections and keys compared ignoring letter case; the
// first line of a key counts. A write changes the one line of its key (or adds it) and keeps the
// rest of the file and its encoding. Only a regular file of at most a megabyte is read; anything
// else reads as an empty file.
class TIniFile {
  public:
    explicit TIniFile(const QString& path) : m_path(path) {}

    QString FileName() const { return m_path; }

    // The value as it stands after "=" up to the line's end, without surrounding blanks or one
    // pair of enclosing quotes, at most 2047 characters; `fallback` when the key is missing.
    QString ReadString(const QString& section, const QString& key, const QString& fallback) const;
    // Decimal, or hexadecimal after "0x" or "$"; `fallback` when missing or not a number.
    int ReadInteger(const QString& section, const QString& key, int fallback) const;

    // Writes the key at once (through a temporary file, so a failed write keeps the old file).
    // Fails with TErrc::Io and the system's reason when the file cannot be written.
    TStatus WriteString(const QString& section, const QString& key, const QString& value);
    TStatus WriteInteger(const QString& section, const QString& key, int value) {
        return WriteString(section, key, QString::number(value));
    }

    // Parses a stored integer text the way ReadInteger does.
    static bool ParseInteger(const QString& text, int* value);

  private:
    TIniText read() const;
    QString m_path;
};
