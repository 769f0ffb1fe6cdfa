#include "base/initext.h"

#include "base/ansi.h"

namespace {

bool isComment(const QString& line, const TIniRules& rules) {
    const QString t = line.trimmed();
    return !t.isEmpty() && rules.CommentStarts.contains(t.front());
}

QString shaped(QString value, const TIniRules& rules) {
    auto isPad = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!value.isEmpty() && isPad(value.front()))
        value.remove(0, 1);
    while (!value.isEmpty() && isPad(value.back()))
        value.chop(1);
    if (rules.StripQuotes && value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    return rules.MaxValue >= 0 ? value.left(rules.MaxValue) : value;
}

} // namespace

TIniText TIniText::FromBytes(const QByteArray& bytes, TIniEncoding fallback) {
    TIniText text;
    QString all;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        text.Encoding = TIniEncoding::Utf8;
        all = QString::fromUtf8(bytes.mid(3));
    } else if (bytes.startsWith("\xFF\xFE")) {
        text.Encoding = TIniEncoding::Utf16;
        all = QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData() + 2),
                                 (bytes.size() - 2) / 2);
    } else {
        text.Encoding = fallback;
        all = fallback == TIniEncoding::Ansi ? TAnsi::Decode(bytes) : QString::fromUtf8(bytes);
    }
    if (all.isEmpty())
        return text;
    text.Lines = all.split(QLatin1Char('\n'));
    if (text.Lines.last().isEmpty())
        text.Lines.removeLast(); // the line break that ends the file
    for (QString& line : text.Lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return text;
}

QByteArray TIniText::ToBytes() const {
    QString all;
    for (const QString& line : Lines)
        all += line + QStringLiteral("\r\n");
    switch (Encoding) {
    case TIniEncoding::Utf8:
        return "\xEF\xBB\xBF" + all.toUtf8();
    case TIniEncoding::Utf16:
        return QByteArray("\xFF\xFE", 2) +
               QByteArray(reinterpret_cast<const char*>(all.utf16()), all.size() * 2);
    case TIniEncoding::Ansi:
        break;
    }
    return TAnsi::Encode(all);
}

bool TIniText::IsSection(const QString& line, QString* name) {
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')))
        return false;
    const qsizetype close = t.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    *name = t.mid(1, close - 1).trimmed();
    return true;
}

bool TIniText::IsKeyLine(const QString& line, QString* key, QString* value) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    *key = line.left(eq).trimmed();
    *value = line.mid(eq + 1);
    return true;
}

template <typename F> void TIniText::forEachKey(const QString& section, const TIniRules& rules, F&& f) const {
    bool inSection = false;
    for (qsizetype i = 0; i < Lines.size(); ++i) {
        const QString& line = Lines[i];
        QString name, key, value;
        if (isComment(line, rules))
            continue;
        if (IsSection(line, &name))
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
        else if (inSection && IsKeyLine(line, &key, &value) && !f(i, key, value))
            return;
    }
}

qsizetype TIniText::Find(const QString& section, const QString& key, const TIniRules& rules) const {
    qsizetype found = -1;
    forEachKey(section, rules, [&](qsizetype i, const QString& lineKey, const QString&) {
        if (lineKey.compare(key, Qt::CaseInsensitive) != 0)
            return true;
        found = i;
        return rules.LastWins; // the first line of a key ends the search unless a later one wins
    });
    return found;
}

std::optional<QString> TIniText::Value(const QString& section, const QString& key,
                                       const TIniRules& rules) const {
    const qsizetype at = Find(section, key, rules);
    if (at < 0)
        return std::nullopt;
    QString lineKey, value;
    IsKeyLine(Lines[at], &lineKey, &value);
    return shaped(value, rules);
}

QList<std::pair<QString, QString>> TIniText::Section(const QString& section, const TIniRules& rules) const {
    QList<std::pair<QString, QString>> entries;
    forEachKey(section, rules, [&](qsizetype, const QString& key, const QString& value) {
        auto same = [&key](const std::pair<QString, QString>& e) {
            return e.first.compare(key, Qt::CaseInsensitive) == 0;
        };
        const auto it = std::find_if(entries.begin(), entries.end(), same);
        if (it == entries.end())
            entries.append({key, shaped(value, rules)});
        else if (rules.LastWins)
            it->second = shaped(value, rules);
        return true;
    });
    return entries;
}
