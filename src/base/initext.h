#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The text of an initialisation file ("[section]" headers and "key=value" lines), read the one way
// the program reads both of its INI files. What differs between them is given as rules.
struct TIniRules {
    // Lines whose first non-blank character is one of these are comments ("" for none).
    QString CommentStarts;
    // Of two lines of the same key, the later one counts (else the first).
    bool LastWins = false;
    // One pair of enclosing double or single quotes is taken off a value.
    bool StripQuotes = false;
    // The longest value read (-1 for any length).
    qsizetype MaxValue = -1;
};

// The encoding a file's text was in: what a byte-order mark says, else the file's default.
enum class TIniEncoding { Ansi, Utf8, Utf16 };

struct TIniText {
    QStringList Lines; // without their line ends
    TIniEncoding Encoding = TIniEncoding::Ansi;

    // Reads a file's bytes: by its byte-order mark (UTF-8 or UTF-16 little-endian), else in
    // `fallback`.
    static TIniText FromBytes(const QByteArray& bytes, TIniEncoding fallback);
    // The bytes of the lines, each ended with CR LF, in the text's encoding (with its byte-order
    // mark).
    QByteArray ToBytes() const;

    // The line index of a key in a section, both compared ignoring letter case; -1 when missing.
    qsizetype Find(const QString& section, const QString& key, const TIniRules& rules) const;
    // The value of a key, by the rules: blanks around it taken off (spaces and tabs); missing: none.
    std::optional<QString> Value(const QString& section, const QString& key, const TIniRules& rules) const;
    // Every key of a section with its value, by the rules (a later line replacing an earlier one
    // when LastWins).
    QList<std::pair<QString, QString>> Section(const QString& section, const TIniRules& rules) const;

    // Whether a line is a "[name]" header, and its name.
    static bool IsSection(const QString& line, QString* name);
    // Whether a line is a "key=value" line, its key (trimmed) and its raw value.
    static bool IsKeyLine(const QString& line, QString* key, QString* value);

  private:
    // Calls f(line index, key, raw value) for each key line of a section (comments passed over)
    // until f returns false.
    template <typename F> void forEachKey(const QString& section, const TIniRules& rules, F&& f) const;
};
