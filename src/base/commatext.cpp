#include "base/commatext.h"

namespace {

constexpr QChar Quote = u'"';
constexpr QChar Comma = u',';

bool isBlank(QChar c) {
    return c.unicode() >= 0x01 && c.unicode() <= 0x20;
}
bool isControlOrSpace(QChar c) {
    return c.unicode() <= 0x20;
}

bool needsQuotes(const QString& entry) {
    for (QChar c : entry)
        if (isBlank(c) || c == Quote || c == Comma)
            return true;
    return false;
}

} // namespace

QString ToCommaText(const QStringList& entries) {
    if (entries.size() == 1 && entries.first().isEmpty())
        return QStringLiteral("\"\"");
    QString out;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (i > 0)
            out += Comma;
        const QString& entry = entries[i];
        if (needsQuotes(entry)) {
            QString quoted = entry;
            quoted.replace(QStringLiteral("\""), QStringLiteral("\"\""));
            out += Quote + quoted + Quote;
        } else {
            out += entry;
        }
    }
    return out;
}

QStringList FromCommaText(const QString& text) {
    QStringList entries;
    // The text is read as if it ended at its first U+0000, as a terminated character buffer would be.
    qsizetype end = text.indexOf(QChar(0));
    if (end < 0)
        end = text.size();
    qsizetype p = 0;
    auto at = [&](qsizetype i) { return i < end ? text[i] : QChar(0); };

    while (p < end && isBlank(at(p)))
        ++p;
    while (p < end) {
        QString entry;
        if (at(p) == Quote) {
            // Quoted entry: up to the closing quote; a doubled quote stands for one. An entry
            // without its closing quote runs to the end of the text.
            ++p;
            while (p < end) {
                if (at(p) == Quote) {
                    if (at(p + 1) == Quote) {
                        entry += Quote;
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                entry += at(p++);
            }
        } else {
            const qsizetype start = p;
            while (p < end && !isControlOrSpace(at(p)) && at(p) != Comma)
                ++p;
            entry = text.mid(start, p - start);
        }
        entries.append(entry);

        while (p < end && isBlank(at(p)))
            ++p;
        if (at(p) == Comma) {
            if (p + 1 == end)
                entries.append(QString());
            ++p;
            while (p < end && isBlank(at(p)))
                ++p;
        }
    }
    return entries;
}
