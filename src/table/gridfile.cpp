#include "table/gridfile.h"

#include "app/text.h"
#include "collect/linklist.h"
#include "platform/ansi.h"
#include "table/cipher.h"
#include "table/commatext.h"
#include "table/itemtable.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>

namespace {

quint32 nameHash(const QString& name) {
    quint32 h = 0;
    for (QChar c : name)
        h = h * 129u + c.unicode() + 0x9E370001u;
    return h;
}

void appendEscaped(QString& out, const QString& text) {
    out.reserve(out.size() + text.size() + 2);
    out += QLatin1Char('"');
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'/':
            out += QLatin1String("\\/");
            break;
        case 0:
            out += QLatin1String("\\u0000");
            break;
        default:
            out += c;
        }
    }
    out += QLatin1Char('"');
}

// A JSON reader as tolerant as the grid file needs: raw control characters inside strings, the
// standard escapes, and values of any kind (a non-string value reads as its text).
class TJsonReader {
  public:
    explicit TJsonReader(const QString& text) : s(text) {}

    struct TValue {
        enum Kind { String, Object, Array, Other } kind = Other;
        QString text;
        QList<std::pair<QString, TValue>> members;
        QList<TValue> items;
    };

    std::optional<TValue> document() {
        std::optional<TValue> v = value();
        skipSpace();
        if (!v || i != s.size())
            return std::nullopt;
        return v;
    }

  private:
    void skipSpace() {
        while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\r' || s[i] == u'\n'))
            ++i;
    }

    std::optional<QString> string() {
        if (i >= s.size() || s[i] != u'"')
            return std::nullopt;
        ++i;
        QString out;
        while (i < s.size()) {
            const QChar c = s[i++];
            if (c == u'"')
                return out;
            if (c != u'\\') {
                out += c;
                continue;
            }
            if (i >= s.size())
                return std::nullopt;
            const QChar e = s[i++];
            switch (e.unicode()) {
            case u'"':
            case u'\\':
            case u'/':
                out += e;
                break;
            case u'b':
                out += QChar(0x08);
                break;
            case u'f':
                out += QChar(0x0C);
                break;
            case u'n':
                out += QChar(0x0A);
                break;
            case u'r':
                out += QChar(0x0D);
                break;
            case u't':
                out += QChar(0x09);
                break;
            case u'u': {
                bool ok = false;
                const uint code = s.mid(i, 4).toUInt(&ok, 16);
                if (!ok || i + 4 > s.size())
                    return std::nullopt;
                out += QChar(char16_t(code));
                i += 4;
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::optional<TValue> value() {
        skipSpace();
        if (i >= s.size())
            return std::nullopt;
        TValue v;
        if (s[i] == u'"') {
            std::optional<QString> text = string();
            if (!text)
                return std::nullopt;
            v.kind = TValue::String;
            v.text = *text;
            return v;
        }
        if (s[i] == u'{') {
            ++i;
            v.kind = TValue::Object;
            skipSpace();
            if (i < s.size() && s[i] == u'}') {
                ++i;
                return v;
            }
            while (true) {
                skipSpace();
                std::optional<QString> name = string();
                skipSpace();
                if (!name || i >= s.size() || s[i] != u':')
                    return std::nullopt;
                ++i;
                std::optional<TValue> member = value();
                if (!member)
                    return std::nullopt;
                v.members.append({*name, *member});
                skipSpace();
                if (i < s.size() && s[i] == u',') {
                    ++i;
                    continue;
                }
                if (i < s.size() && s[i] == u'}') {
                    ++i;
                    return v;
                }
                return std::nullopt;
            }
        }
        if (s[i] == u'[') {
            ++i;
            v.kind = TValue::Array;
            skipSpace();
            if (i < s.size() && s[i] == u']') {
                ++i;
                return v;
            }
            while (true) {
                std::optional<TValue> item = value();
                if (!item)
                    return std::nullopt;
                v.items.append(*item);
                skipSpace();
                if (i < s.size() && s[i] == u',') {
                    ++i;
                    continue;
                }
                if (i < s.size() && s[i] == u']') {
                    ++i;
                    return v;
                }
                return std::nullopt;
            }
        }
        // A number, true, false or null: its text as it stands.
        const qsizetype start = i;
        while (i < s.size() && (s[i].isLetterOrNumber() || s[i] == u'-' || s[i] == u'+' || s[i] == u'.'))
            ++i;
        if (i == start)
            return std::nullopt;
        v.text = s.mid(start, i - start);
        return v;
    }

    const QString& s;
    qsizetype i = 0;
};

TFileResult failure(const QString& why) {
    return {false, why};
}

TFileResult writeAtomically(const QString& fileName, const QByteArray& bytes) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return failure(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        return failure(why);
    }
    if (!file.commit())
        return failure(file.errorString());
    return {};
}

std::optional<QByteArray> readAll(const QString& fileName, QString* why) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *why = file.errorString();
        return std::nullopt;
    }
    return file.readAll();
}

} // namespace

QList<int> GridMemberOrder(int colCount) {
    QList<int> order;
    for (int c = 0; c < colCount; ++c)
        order.append(c);
    std::stable_sort(order.begin(), order.end(), [](int a, int b) {
        return nameHash(QString::number(a)) > nameHash(QString::number(b));
    });
    return order;
}

QString GridToJson(const QList<QStringList>& rows, int colCount) {
    const QList<int> order = GridMemberOrder(colCount);
    QStringList names;
    for (int c = 0; c < colCount; ++c)
        names.append(QString::number(c));
    QString out = QStringLiteral("[");
    for (qsizetype r = 0; r < rows.size(); ++r) {
        if (r > 0)
            out += QLatin1Char(',');
        out += QLatin1Char('{');
        for (qsizetype k = 0; k < order.size(); ++k) {
            const int c = order[k];
            if (k > 0)
                out += QLatin1Char(',');
            appendEscaped(out, names[c]);
            out += QLatin1Char(':');
            appendEscaped(out, c < rows[r].size() ? rows[r][c] : QString());
        }
        out += QLatin1Char('}');
    }
    out += QLatin1Char(']');
    return out;
}

std::optional<TGridJson> GridFromJson(const QString& json) {
    const std::optional<TJsonReader::TValue> doc = TJsonReader(json).document();
    if (!doc || doc->kind != TJsonReader::TValue::Array || doc->items.isEmpty() ||
        doc->items.first().kind != TJsonReader::TValue::Object)
        return std::nullopt;
    TGridJson grid;
    const int members = int(doc->items.first().members.size());
    // A table keeps its twelve fixed columns, whatever the first element holds.
    grid.colCount = std::max(members, ColFixedCount);
    grid.elementCount = int(doc->items.size());
    for (const TJsonReader::TValue& element : doc->items) {
        if (element.kind != TJsonReader::TValue::Object) {
            grid.complete = false;
            break;
        }
        QStringList cells(grid.colCount);
        for (int c = 0; c < members; ++c) {
            const QString name = QString::number(c);
            for (const auto& [memberName, member] : element.members)
                if (memberName == name) {
                    cells[c] = member.text;
                    break;
                }
        }
        grid.rows.append(cells);
    }
    return grid;
}

TFileResult SaveGridToFile(const TItemTable& grid, const QString& FileName) {
    const QList<QStringList> rows = grid.Snapshot();
    const QString json = GridToJson(rows, rows.isEmpty() ? grid.ColCount() : int(rows.first().size()));
    return writeAtomically(FileName, EncryptText(TAnsi::Encode(json), GridKey, 0));
}

TFileResult LoadGridFromFile(TItemTable& grid, const QString& FileName) {
    QString why;
    const std::optional<QByteArray> bytes = readAll(FileName, &why);
    if (!bytes)
        return failure(why);
    try {
        const QString json = TAnsi::Decode(DecryptText(*bytes, GridKey, 0));
        std::optional<TGridJson> table = GridFromJson(json);
        if (!table)
            return failure(QStringLiteral("the deciphered text is no table"));
        // The table takes one row per element; an array of one element still gives two rows, the
        // captions and one empty row. Rows after an element that could not be read stay empty.
        const int rowCount = std::max(table->elementCount, 2);
        QList<QStringList> rows = table->rows;
        while (rows.size() < rowCount)
            rows.append(QStringList(table->colCount));
        grid.Replace(rows, table->colCount);
        if (!table->complete)
            return failure(QStringLiteral("a row of the table could not be read"));
        return {};
    } catch (const TCipherError& e) {
        return failure(QString::fromLatin1(e.what()));
    }
}

TFileResult SaveLinkListToFile(const TLinkList& list, const QString& FileName) {
    const QStringList links = list.Items();
    if (links.isEmpty())
        return {};
    QString text;
    for (const QString& link : links)
        text += link + QStringLiteral("\r\n");
    return writeAtomically(FileName, EncryptText(TAnsi::Encode(text), LinkListKey, 0));
}

TFileResult LoadLinkListFromFile(TLinkList& list, const QString& FileName) {
    QString why;
    const std::optional<QByteArray> bytes = readAll(FileName, &why);
    if (!bytes) {
        list.Clear();
        return failure(why);
    }
    try {
        const QString text = TAnsi::Decode(DecryptText(*bytes, LinkListKey, 0));
        if (!TrimText(text).isEmpty())
            list.Replace(FromCommaText(text));
        return {};
    } catch (const TCipherError& e) {
        list.Clear();
        return failure(QString::fromLatin1(e.what()));
    }
}
