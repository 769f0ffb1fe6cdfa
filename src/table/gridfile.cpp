#include "table/gridfile.h"

#include "base/ansi.h"
#include "base/cipher.h"
#include "base/commatext.h"
#include "base/text.h"
#include "platform/files.h"
#include "table/itemtable.h"
#include "table/linklist.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <cctype>

namespace {

quint32 nameHash(const QString& name) {
    quint32 h = 0;
    for (QChar c : name)
        h = h * 129u + c.unicode() + 0x9E370001u;
    return h;
}

// A JSON string as the grid file writes it: the double quote, the backslash, the slash and U+0000
// escaped; every other character as it is, unless the code page cannot hold it: such a character
// (a surrogate half included, so a character beyond U+FFFF becomes a pair) is written as a \u
// escape, which the file's ASCII survives and any JSON reader reads back.
void appendEscaped(QString& out, const QString& text) {
    static const char Hex[] = "0123456789abcdef";
    out.reserve(out.size() + text.size() + 2);
    out += QLatin1Char('"');
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x80 && !TAnsi::Holds(u)) {
            out += QLatin1String("\\u");
            for (int shift = 12; shift >= 0; shift -= 4)
                out += QLatin1Char(Hex[(u >> shift) & 0xF]);
            continue;
        }
        switch (u) {
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

// Reads the grid's JSON text straight from its bytes in the ANSI code page, decoding each string
// on its own, so that a large table never exists as one decoded text. The reader is as tolerant
// as the grid file needs: raw control characters inside strings, the standard escapes, and values
// of any kind (a value that is no string reads as its text). A lead byte of a double-byte
// character takes the next byte as its second byte, so a second byte that happens to be "\" is no
// escape.
class TGridJsonReader {
  public:
    explicit TGridJsonReader(const QByteArray& bytes) : s(bytes) {}

    std::optional<TGridJson> read() {
        skipSpace();
        if (!take('['))
            return std::nullopt;
        TGridJson grid;
        int members = -1;
        skipSpace();
        if (take(']'))
            return std::nullopt; // an empty array is no table
        while (true) {
            skipSpace();
            ++grid.elementCount;
            if (peek() == '{') {
                QList<std::pair<QString, QString>> object;
                if (!readObject(&object))
                    return std::nullopt;
                if (members < 0) {
                    members = int(object.size());
                    grid.colCount = std::max(members, ColFixedCount); // the twelve fixed columns stay
                }
                if (grid.complete) {
                    QStringList cells(grid.colCount);
                    for (int c = 0; c < members; ++c) {
                        const QString name = QString::number(c);
                        for (const auto& [memberName, value] : object)
                            if (memberName == name) {
                                cells[c] = value;
                                break;
                            }
                    }
                    grid.rows.append(cells);
                }
            } else {
                if (members < 0)
                    return std::nullopt; // the first element must be a row object
                if (!skipValue())
                    return std::nullopt;
                grid.complete = false; // the rows after it are not read
            }
            skipSpace();
            if (take(','))
                continue;
            if (!take(']'))
                return std::nullopt;
            skipSpace();
            return i == s.size() ? std::optional<TGridJson>(grid) : std::nullopt;
        }
    }

  private:
    char peek() const { return i < s.size() ? s[i] : '\0'; }
    bool take(char c) {
        if (peek() != c || i >= s.size())
            return false;
        ++i;
        return true;
    }
    void skipSpace() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
            ++i;
    }
    static bool isLead(uchar b) { return b >= 0x81 && b <= 0xFE; }
    static bool isTrail(uchar b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

    // A string: its bytes up to the closing quote decoded from the code page in one piece (escapes
    // are ASCII, so they come through the decoding unchanged), then its escapes resolved.
    std::optional<QString> readString() {
        if (!take('"'))
            return std::nullopt;
        const qsizetype start = i;
        bool escaped = false;
        while (i < s.size()) {
            const uchar b = uchar(s[i]);
            if (isLead(b) && i + 1 < s.size() && isTrail(uchar(s[i + 1]))) {
                i += 2;
            } else if (b == '\\') {
                escaped = true;
                i += 2;
            } else if (b == '"') {
                break;
            } else {
                ++i;
            }
        }
        if (i >= s.size())
            return std::nullopt;
        const QString raw = m_decoder.decode(QByteArrayView(s.constData() + start, i - start));
        ++i; // the closing quote
        return escaped ? unescape(raw) : raw;
    }

    static std::optional<QString> unescape(const QString& raw) {
        QString out;
        out.reserve(raw.size());
        for (qsizetype k = 0; k < raw.size(); ++k) {
            if (raw[k] != u'\\') {
                out += raw[k];
                continue;
            }
            if (++k >= raw.size())
                return std::nullopt;
            switch (raw[k].unicode()) {
            case u'"':
            case u'\\':
            case u'/':
                out += raw[k];
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
                const uint code = raw.mid(k + 1, 4).toUInt(&ok, 16);
                if (!ok || k + 4 >= raw.size())
                    return std::nullopt;
                out += QChar(char16_t(code));
                k += 4;
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return out;
    }

    // A value that is no string, object or array: its text as it stands.
    std::optional<QString> readBare() {
        const qsizetype start = i;
        while (i < s.size() && (std::isalnum(uchar(s[i])) || s[i] == '-' || s[i] == '+' || s[i] == '.'))
            ++i;
        if (i == start)
            return std::nullopt;
        return QString::fromLatin1(s.mid(start, i - start));
    }

    // Values inside values nest at most this deep (a table needs two levels); a file nested deeper
    // is damaged, and reading it never runs out of stack.
    static constexpr int MaxDepth = 64;

    // Counts the nesting while a value is read.
    struct TDepth {
        explicit TDepth(int& depth) : d(depth) { ++d; }
        ~TDepth() { --d; }
        bool tooDeep() const { return d > MaxDepth; }
        int& d;
    };

    bool readObject(QList<std::pair<QString, QString>>* members) {
        const TDepth depth(m_depth);
        if (depth.tooDeep() || !take('{'))
            return false;
        skipSpace();
        if (take('}'))
            return true;
        while (true) {
            skipSpace();
            const std::optional<QString> name = readString();
            skipSpace();
            if (!name || !take(':'))
                return false;
            skipSpace();
            std::optional<QString> value;
            if (peek() == '"')
                value = readString();
            else if (peek() == '{' || peek() == '[')
                value = skipValue() ? std::optional<QString>(QString()) : std::nullopt;
            else
                value = readBare();
            if (!value)
                return false;
            members->append({*name, *value});
            skipSpace();
            if (take(','))
                continue;
            return take('}');
        }
    }

    bool skipValue() {
        const TDepth depth(m_depth);
        if (depth.tooDeep())
            return false;
        skipSpace();
        if (peek() == '"')
            return readString().has_value();
        if (peek() == '{') {
            QList<std::pair<QString, QString>> ignored;
            return readObject(&ignored);
        }
        if (take('[')) {
            skipSpace();
            if (take(']'))
                return true;
            while (true) {
                if (!skipValue())
                    return false;
                skipSpace();
                if (take(','))
                    continue;
                return take(']');
            }
        }
        return readBare().has_value();
    }

    const QByteArray& s;
    qsizetype i = 0;
    int m_depth = 0;
    QStringDecoder m_decoder{"GBK", QStringConverter::Flag::Stateless};
};

TError damaged(const QString& why) {
    return MakeError(TErrc::Damaged, why);
}

TError ioError(const QFileDevice& file) {
    return MakeError(TErrc::Io, file.errorString());
}

// The largest grid file read (a table of a thousand large items is well under 1 GB) and the
// largest link-list file (millions of links).
constexpr qint64 MaxGridFileBytes = qint64(4) << 30;
constexpr qint64 MaxLinkListFileBytes = 256 << 20;

// Whether a deciphered link list is text the program wrote: code-page text without control
// characters other than the line ends (what another key or damaged digits give is not).
bool isLinkListText(const QByteArray& plain, QString* text) {
    QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
    *text = decoder.decode(plain);
    if (decoder.hasError())
        return false;
    for (QChar c : *text)
        if ((c.unicode() < 0x20 && c != u'\r' && c != u'\n' && c != u'\t') || c.unicode() == 0x7F ||
            c.unicode() == 0xFFFD)
            return false;
    return true;
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

namespace {

// One row object of the grid's JSON text.
void appendRowJson(QString& out, const QStringList& cells, const QList<int>& order,
                   const QStringList& names) {
    out += QLatin1Char('{');
    for (qsizetype k = 0; k < order.size(); ++k) {
        const int c = order[k];
        if (k > 0)
            out += QLatin1Char(',');
        appendEscaped(out, names[c]);
        out += QLatin1Char(':');
        appendEscaped(out, c < cells.size() ? cells[c] : QString());
    }
    out += QLatin1Char('}');
}

QStringList memberNames(int colCount) {
    QStringList names;
    for (int c = 0; c < colCount; ++c)
        names.append(QString::number(c));
    return names;
}

} // namespace

QString GridToJson(const QList<QStringList>& rows, int colCount) {
    const QList<int> order = GridMemberOrder(colCount);
    const QStringList names = memberNames(colCount);
    QString out = QStringLiteral("[");
    for (qsizetype r = 0; r < rows.size(); ++r) {
        if (r > 0)
            out += QLatin1Char(',');
        appendRowJson(out, rows[r], order, names);
    }
    out += QLatin1Char(']');
    return out;
}

TResult<TGridJson> GridFromAnsiJson(const QByteArray& json) {
    std::optional<TGridJson> grid = TGridJsonReader(json).read();
    if (!grid)
        return damaged(QStringLiteral("the deciphered text is no table"));
    return std::move(*grid);
}

TStatus SaveGridToFile(const TItemTable& grid, const QString& FileName) {
    // The JSON text is made, converted and enciphered one row at a time, so a large table never
    // exists as one text in memory.
    const QList<QStringList> rows = grid.Snapshot();
    const int colCount = rows.isEmpty() ? grid.ColCount() : int(rows.first().size());
    const QList<int> order = GridMemberOrder(colCount);
    const QStringList names = memberNames(colCount);
    QSaveFile file(FileName);
    if (!file.open(QIODevice::WriteOnly))
        return ioError(file);
    TCipherWriter writer(file, GridKey, 0);
    bool ok = writer.Write("[");
    for (qsizetype r = 0; r < rows.size() && ok; ++r) {
        QString row = r > 0 ? QStringLiteral(",") : QString();
        appendRowJson(row, rows[r], order, names);
        ok = writer.Write(TAnsi::Encode(row));
    }
    ok = ok && writer.Write("]") && writer.Finish();
    if (!ok) {
        const TError error = ioError(file);
        file.cancelWriting();
        return error;
    }
    return CommitSaveFile(file);
}

TStatus LoadGridFromFile(TItemTable& grid, const QString& FileName) {
    // A pipe or a device in the file's place would never end; only a regular file is read.
    const QFileInfo info(FileName);
    if (!info.isFile())
        return damaged(QStringLiteral("not a regular file"));
    if (info.size() > MaxGridFileBytes)
        return damaged(QStringLiteral("larger than %1 GB").arg(MaxGridFileBytes >> 30));
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        return ioError(file);
    const TResult<QByteArray> json = DecryptDevice(file, GridKey, 0, true);
    if (!json)
        return json.error();
    TResult<TGridJson> table = GridFromAnsiJson(*json);
    if (!table)
        return table.error();
    // The table takes one row per element (a table saved with only its caption row comes back as
    // just that). Rows after an element that could not be read stay empty.
    const int rowCount = table->elementCount;
    QList<QStringList> rows = std::move(table.value().rows);
    while (rows.size() < rowCount)
        rows.append(QStringList(table->colCount));
    grid.Replace(rows, table->colCount);
    if (!table->complete)
        return damaged(QStringLiteral("a row of the table could not be read"));
    return {};
}

TStatus SaveLinkListToFile(const TLinkList& list, const QString& FileName) {
    const QStringList links = list.Items();
    if (links.isEmpty()) {
        // An emptied list stays empty: the file of an earlier list goes.
        QFile file(FileName);
        if (file.exists() && !file.remove())
            return ioError(file);
        return {};
    }
    QString text;
    for (const QString& link : links)
        text += link + QStringLiteral("\r\n");
    return WriteWholeFile(FileName, EncryptText(TAnsi::Encode(text), LinkListKey, 0));
}

TStatus LoadLinkListFromFile(TLinkList& list, const QString& FileName) {
    list.Clear();
    const TResult<QByteArray> bytes = ReadStateFile(FileName, MaxLinkListFileBytes);
    if (!bytes)
        return bytes.error();
    // The program never writes an empty list (it removes the file): an empty file is what a failed
    // write leaves.
    if (bytes->isEmpty())
        return damaged(QStringLiteral("the file is empty"));
    const TResult<QByteArray> plain = DecryptText(*bytes, LinkListKey, 0, true);
    if (!plain)
        return plain.error();
    QString text;
    if (!isLinkListText(*plain, &text))
        return damaged(QStringLiteral("the deciphered text is no link list"));
    if (!TrimText(text).isEmpty())
        list.Replace(FromCommaText(text));
    return {};
}
