#include "config/inifile.h"

#include "base/ansi.h"
#include "platform/files.h"

#include <QFile>

#include <limits>

namespace {

// How the profile functions read a file: no comment lines, the first line of a key counts, one pair
// of enclosing quotes goes, at most 2047 characters.
const TIniRules ProfileRules{QString(), false, true, 2047};

// Whether the code page holds every character of the lines.
bool codePageHolds(const QStringList& lines) {
    for (const QString& line : lines)
        for (const QChar c : line)
            if (!TAnsi::Holds(c.unicode()))
                return false;
    return true;
}

// The file's bytes: in its own encoding, or, when a value does not fit the code page, UTF-8 with
// its byte-order mark (which the reader takes), so that no character becomes "?".
QByteArray fileBytes(TIniText& file) {
    if (file.Encoding == TIniEncoding::Ansi && !codePageHolds(file.Lines))
        file.Encoding = TIniEncoding::Utf8;
    return file.ToBytes();
}

} // namespace

TIniText TIniFile::read() const {
    const TResult<QByteArray> bytes = ReadStateFile(m_path, 1 << 20);
    return TIniText::FromBytes(bytes ? *bytes : QByteArray(), TIniEncoding::Ansi);
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& fallback) const {
    return read().Value(section, key, ProfileRules).value_or(fallback);
}

bool TIniFile::ParseInteger(const QString& text, int* value) {
    QString t = text;
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.front() == u'-';
        t.remove(0, 1);
    }
    int base = 10;
    if (t.size() > 2 && t[0] == u'0' && (t[1] == u'x' || t[1] == u'X')) {
        base = 16;
        t.remove(0, 2);
    } else if (t.startsWith(QLatin1Char('$'))) {
        base = 16;
        t.remove(0, 1);
    }
    if (t.isEmpty())
        return false;
    for (QChar c : t) // digits only: no signs, blanks or letters after the prefix
        if (!(c.isDigit() && c.unicode() < 128) &&
            !(base == 16 && QStringLiteral("abcdefABCDEF").contains(c)))
            return false;
    bool ok = false;
    const qlonglong v = t.toLongLong(&ok, base);
    if (!ok || v > std::numeric_limits<int>::max() + qlonglong(negative))
        return false;
    *value = int(negative ? -v : v);
    return true;
}

int TIniFile::ReadInteger(const QString& section, const QString& key, int fallback) const {
    int value = 0;
    return ParseInteger(ReadString(section, key, QString()), &value) ? value : fallback;
}

TStatus TIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
    TIniText file = read();
    QStringList& content = file.Lines;
    const QString entry = key + QLatin1Char('=') + value;
    if (const qsizetype at = file.Find(section, key, ProfileRules); at >= 0) {
        content[at] = entry;
        return WriteWholeFile(m_path, fileBytes(file));
    }
    // A new key goes at the end of its section (after its last entry, before the blank lines that
    // part it from the next), or into a new section at the end of the file.
    qsizetype sectionStart = -1, sectionEnd = content.size();
    for (qsizetype i = 0; i < content.size(); ++i) {
        QString name;
        if (!TIniText::IsSection(content[i], &name))
            continue;
        if (sectionStart >= 0) {
            sectionEnd = i;
            break;
        }
        if (name.compare(section, Qt::CaseInsensitive) == 0)
            sectionStart = i;
    }
    if (sectionStart < 0) {
        content.append(QLatin1Char('[') + section + QLatin1Char(']'));
        content.append(entry);
    } else {
        qsizetype at = sectionEnd;
        while (at > sectionStart + 1 && content[at - 1].trimmed().isEmpty())
            --at;
        content.insert(at, entry);
    }
    return WriteWholeFile(m_path, fileBytes(file));
}
