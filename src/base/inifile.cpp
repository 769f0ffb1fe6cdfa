#include "base/inifile.h"

#include "base/ansi.h"
#include "platform/files.h"

#include <QFile>

#include <limits>

namespace {

bool isSection(const QString& line, QString* name) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    *name = t.mid(1, close - 1).trimmed();
    return true;
}

bool isKey(const QString& line, const QString& key, QString* value) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0 || line.left(eq).trimmed().compare(key, Qt::CaseInsensitive) != 0)
        return false;
    *value = line.mid(eq + 1);
    return true;
}

} // namespace

TIniFile::TContent TIniFile::read() const {
    TContent content;
    const TResult<QByteArray> bytes = ReadStateFile(m_path, 1 << 20);
    if (!bytes)
        return content;
    QString text;
    if (bytes->startsWith("\xEF\xBB\xBF")) {
        content.encoding = TEncoding::Utf8;
        text = QString::fromUtf8(bytes->mid(3));
    } else if (bytes->startsWith("\xFF\xFE")) {
        content.encoding = TEncoding::Utf16;
        text = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes->constData() + 2), (bytes->size() - 2) / 2);
    } else {
        text = TAnsi::Decode(*bytes);
    }
    content.lines = text.split(QLatin1Char('\n'));
    for (QString& line : content.lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return content;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& fallback) const {
    QString current;
    bool inSection = false;
    for (const QString& line : read().lines) {
        if (isSection(line, &current)) {
            inSection = current.compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString value;
        if (!inSection || !isKey(line, key, &value))
            continue;
        // Blanks around the value go (spaces and tabs only: other white space is part of the text).
        while (!value.isEmpty() && (value.front() == u' ' || value.front() == u'\t'))
            value.remove(0, 1);
        while (!value.isEmpty() && (value.back() == u' ' || value.back() == u'\t'))
            value.chop(1);
        if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        return value.left(2047);
    }
    return fallback;
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
    const TContent file = read();
    QStringList content = file.lines;
    if (!content.isEmpty() && content.last().isEmpty())
        content.removeLast(); // the line break that ends the file
    const QString entry = key + QLatin1Char('=') + value;
    QString current;
    qsizetype sectionStart = -1, sectionEnd = -1;
    for (qsizetype i = 0; i < content.size(); ++i) {
        if (isSection(content[i], &current)) {
            if (sectionStart >= 0 && sectionEnd < 0)
                sectionEnd = i;
            if (sectionStart < 0 && current.compare(section, Qt::CaseInsensitive) == 0)
                sectionStart = i;
            continue;
        }
        QString old;
        if (sectionStart >= 0 && sectionEnd < 0 && isKey(content[i], key, &old)) {
            content[i] = entry;
            sectionStart = -2; // written
            break;
        }
    }
    if (sectionStart == -1) {
        content.append(QLatin1Char('[') + section + QLatin1Char(']'));
        content.append(entry);
    } else if (sectionStart >= 0) {
        qsizetype at = sectionEnd < 0 ? content.size() : sectionEnd;
        while (at > sectionStart + 1 && content[at - 1].trimmed().isEmpty())
            --at; // after the section's last entry, before the blank lines that part it from the next
        content.insert(at, entry);
    }
    const QString text = content.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    switch (file.encoding) {
    case TEncoding::Utf8:
        return WriteWholeFile(m_path, "\xEF\xBB\xBF" + text.toUtf8());
    case TEncoding::Utf16:
        return WriteWholeFile(m_path, QByteArray("\xFF\xFE", 2) + QByteArray(reinterpret_cast<const char*>(text.utf16()),
                                                                              text.size() * 2));
    case TEncoding::Ansi:
        break;
    }
    return WriteWholeFile(m_path, TAnsi::Encode(text));
}
