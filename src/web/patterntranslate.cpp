#include "web/patterns.h"

#include <QHash>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

// The translation of a script-engine (ECMAScript) pattern into the engine's own (PCRE) syntax.

namespace {

// ---------------------------------------------------------------------------------------------
// Letter case the script engine's way: two code units match ignoring case when their canonical
// forms agree, the canonical form being the single-unit upper case of the unit, except that a
// non-ASCII unit never becomes an ASCII one (so U+017F "ſ" and U+212A "K" stay apart from s and k).

struct TCaseTables {
    std::array<char16_t, 0x10000> canon{};
    // Units that share a canonical form with at least one other unit, grouped by that form.
    QHash<char16_t, std::vector<char16_t>> groups;

    TCaseTables() {
        std::vector<int> members(0x10000, 0);
        for (uint u = 0; u < 0x10000; ++u) {
            char16_t c = char16_t(u);
            if (!QChar::isSurrogate(u)) {
                const QString upper = QString(QChar(c)).toUpper();
                if (upper.size() == 1 && !(u >= 128 && upper[0].unicode() < 128))
                    c = upper[0].unicode();
            }
            canon[u] = c;
            ++members[c];
        }
        for (uint u = 0; u < 0x10000; ++u)
            if (members[canon[u]] > 1)
                groups[canon[u]].push_back(char16_t(u));
    }
};

const TCaseTables& caseTables() {
    static const TCaseTables tables;
    return tables;
}

// The units that match `c` when case is ignored, `c` included.
std::vector<char16_t> caseEquivalents(char16_t c) {
    const TCaseTables& t = caseTables();
    const auto it = t.groups.constFind(t.canon[c]);
    if (it == t.groups.constEnd())
        return {c};
    return it.value();
}

// ---------------------------------------------------------------------------------------------
// Character sets as sorted ranges of code units.

struct TRange {
    char32_t lo, hi;
};

using TRanges = std::vector<TRange>;

// The script engine's white space and line terminators (\s).
const TRanges& whiteSpace() {
    static const TRanges ranges = {{0x09, 0x0D},     {0x20, 0x20},     {0xA0, 0xA0},     {0x1680, 0x1680},
                                   {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F}, {0x205F, 0x205F},
                                   {0x3000, 0x3000}, {0xFEFF, 0xFEFF}};
    return ranges;
}

TRanges normalised(TRanges ranges) {
    std::sort(ranges.begin(), ranges.end(), [](const TRange& a, const TRange& b) { return a.lo < b.lo; });
    TRanges out;
    for (const TRange& r : ranges) {
        if (!out.empty() && r.lo <= out.back().hi + 1)
            out.back().hi = std::max(out.back().hi, r.hi);
        else
            out.push_back(r);
    }
    return out;
}

TRanges complement(const TRanges& ranges) {
    TRanges out;
    char32_t next = 0;
    for (const TRange& r : normalised(ranges)) {
        if (r.lo > next)
            out.push_back({next, r.lo - 1});
        next = r.hi + 1;
    }
    if (next <= 0xFFFF)
        out.push_back({next, 0xFFFF});
    return out;
}

bool contains(const TRanges& ranges, char16_t c) {
    for (const TRange& r : ranges)
        if (c >= r.lo && c <= r.hi)
            return true;
    return false;
}

// Adds every case equivalent of the units already in the set.
TRanges foldCase(const TRanges& ranges) {
    TRanges out = ranges;
    const TCaseTables& t = caseTables();
    for (auto it = t.groups.constBegin(); it != t.groups.constEnd(); ++it) {
        const std::vector<char16_t>& members = it.value();
        if (std::any_of(members.begin(), members.end(), [&](char16_t m) { return contains(ranges, m); }))
            for (char16_t m : members)
                out.push_back({m, m});
    }
    return normalised(out);
}

QString hexUnit(char32_t c) {
    return QStringLiteral("\\x{") + QString::number(uint(c), 16) + QLatin1Char('}');
}

// Ranges written for the Perl-compatible engine, which works on code points: the surrogate
// units cannot be named there, and a set holding all of them stands for every astral character.
QString rangesText(const TRanges& ranges) {
    QString out;
    bool allSurrogates = false;
    for (TRange r : normalised(ranges)) {
        if (r.lo <= 0xD800 && r.hi >= 0xDFFF)
            allSurrogates = true;
        auto add = [&](char32_t lo, char32_t hi) {
            if (lo > hi)
                return;
            out += hexUnit(lo);
            if (hi != lo)
                out += QLatin1Char('-') + hexUnit(hi);
        };
        if (r.hi < 0xD800 || r.lo > 0xDFFF) {
            add(r.lo, r.hi);
        } else {
            if (r.lo < 0xD800)
                add(r.lo, 0xD7FF);
            if (r.hi > 0xDFFF)
                add(0xE000, r.hi);
        }
    }
    if (allSurrogates)
        out += hexUnit(0x10000) + QLatin1Char('-') + hexUnit(0x10FFFF);
    return out;
}

// ---------------------------------------------------------------------------------------------
// The rewriting of a script-engine pattern.

struct TEscape {
    enum Kind { Char, Token, Set } kind = Char;
    char16_t ch = 0;
    QString token; // \d \D \w \W \b \B or a back reference
    TRanges set;   // \s, \S
};

bool isHex(QChar c) {
    return c.isDigit() || (c.toLower() >= u'a' && c.toLower() <= u'f');
}

class TTranslator {
  public:
    TTranslator(const QString& pattern, bool ignoreCase) : p(pattern), ic(ignoreCase) {}

    QString run() {
        QString out;
        while (i < p.size()) {
            const QChar c = p[i];
            if (c == u'\\') {
                const TEscape e = escape(false);
                if (e.kind == TEscape::Token)
                    out += e.token;
                else if (e.kind == TEscape::Set)
                    out += QLatin1Char('[') + rangesText(e.set) + QLatin1Char(']');
                else
                    out += literal(e.ch);
            } else if (c == u'[') {
                out += charClass();
            } else if (c == u'.') {
                // Any unit but a line terminator.
                out += QStringLiteral("[^\\n\\r\\x{2028}\\x{2029}]");
                ++i;
            } else if (c == u'$') {
                out += QStringLiteral("\\z"); // the end of the whole text, not before a final line break
                ++i;
            } else if (c == u'(') {
                out += group();
            } else if (c == u'{') {
                out += brace();
            } else if (c == u'^' || c == u'|' || c == u')' || c == u'*' || c == u'+' || c == u'?') {
                out += c;
                ++i;
            } else {
                out += literal(c.unicode());
                ++i;
            }
        }
        return out;
    }

  private:
    [[noreturn]] void fail(const QString& why) const { throw TPatternError(p, why); }

    QString literal(char16_t c) const {
        if (ic) {
            const std::vector<char16_t> eq = caseEquivalents(c);
            if (eq.size() > 1) {
                TRanges set;
                for (char16_t m : eq)
                    set.push_back({m, m});
                return QLatin1Char('[') + rangesText(set) + QLatin1Char(']');
            }
        }
        const QChar q(c);
        if ((c < 128 && q.isLetterOrNumber()) || (c >= 128 && !q.isSurrogate() && !q.isSpace()))
            return QString(q);
        if (q.isSurrogate())
            return QString(q); // half of a pair written in the pattern; kept as it stands
        return hexUnit(c);
    }

    // After "(": non-capturing groups, look-arounds and named groups keep their opening.
    QString group() {
        QString out = QStringLiteral("(");
        ++i;
        if (i < p.size() && p[i] == u'?') {
            out += QLatin1Char('?');
            ++i;
            if (i < p.size() && p[i] == u'<') {
                out += QLatin1Char('<');
                ++i;
                if (i < p.size() && (p[i] == u'=' || p[i] == u'!')) {
                    out += p[i++];
                } else {
                    while (i < p.size() && p[i] != u'>')
                        out += p[i++];
                    if (i < p.size())
                        out += p[i++];
                }
            } else if (i < p.size()) {
                out += p[i++];
            }
        }
        return out;
    }

    // "{n}", "{n,}" and "{n,m}" are quantifiers; any other brace is a literal character.
    QString brace() {
        qsizetype j = i + 1;
        auto digits = [&] {
            const qsizetype from = j;
            while (j < p.size() && p[j] >= u'0' && p[j] <= u'9')
                ++j;
            return j > from;
        };
        bool quantifier = digits();
        if (quantifier && j < p.size() && p[j] == u',') {
            ++j;
            digits();
        }
        quantifier = quantifier && j < p.size() && p[j] == u'}';
        if (quantifier) {
            const QString text = p.mid(i, j + 1 - i);
            i = j + 1;
            return text;
        }
        ++i;
        return hexUnit(u'{');
    }

    // p[i] is the backslash.
    TEscape escape(bool inClass) {
        ++i;
        if (i >= p.size())
            fail(QStringLiteral("\\ at end of pattern"));
        const QChar c = p[i++];
        TEscape e;
        auto chr = [&](char16_t v) {
            e.kind = TEscape::Char;
            e.ch = v;
            return e;
        };
        auto tok = [&](const QString& t) {
            e.kind = TEscape::Token;
            e.token = t;
            return e;
        };
        switch (c.unicode()) {
        case u'd':
        case u'D':
        case u'w':
        case u'W':
            return tok(QLatin1Char('\\') + c);
        case u's':
            e.kind = TEscape::Set;
            e.set = whiteSpace();
            return e;
        case u'S':
            e.kind = TEscape::Set;
            e.set = complement(whiteSpace());
            return e;
        case u'b':
            return inClass ? chr(0x08) : tok(QStringLiteral("\\b"));
        case u'B':
            return inClass ? chr(u'B') : tok(QStringLiteral("\\B"));
        case u't':
            return chr(0x09);
        case u'n':
            return chr(0x0A);
        case u'v':
            return chr(0x0B);
        case u'f':
            return chr(0x0C);
        case u'r':
            return chr(0x0D);
        case u'c':
            if (i < p.size() && p[i].unicode() < 128 && p[i].isLetter())
                return chr(char16_t(p[i++].unicode() % 32));
            --i; // "\c" without a letter is a backslash followed by "c"
            return chr(u'\\');
        case u'x':
            if (i + 1 < p.size() && isHex(p[i]) && isHex(p[i + 1])) {
                const char16_t v = char16_t(p.mid(i, 2).toUInt(nullptr, 16));
                i += 2;
                return chr(v);
            }
            return chr(u'x');
        case u'u':
            if (i + 3 < p.size() && isHex(p[i]) && isHex(p[i + 1]) && isHex(p[i + 2]) && isHex(p[i + 3])) {
                const char16_t v = char16_t(p.mid(i, 4).toUInt(nullptr, 16));
                i += 4;
                return chr(v);
            }
            return chr(u'u');
        default:
            break;
        }
        if (c.isDigit() && c.unicode() < 128) {
            if (!inClass && c != u'0') {
                // A back reference: all the digits that follow.
                QString digits(c);
                while (i < p.size() && p[i].isDigit() && p[i].unicode() < 128)
                    digits += p[i++];
                return tok(QStringLiteral("\\g{") + digits + QLatin1Char('}'));
            }
            // \0 and, inside a class, an octal escape of up to three digits.
            uint v = c.unicode() - u'0';
            if (c.unicode() <= u'7')
                for (int n = 0; n < 2 && i < p.size() && p[i] >= u'0' && p[i] <= u'7' &&
                                v * 8 + (p[i].unicode() - u'0') <= 0377;
                     ++n)
                    v = v * 8 + (p[i++].unicode() - u'0');
            return chr(char16_t(v));
        }
        return chr(c.unicode()); // any other escaped character stands for itself
    }

    // p[i] is "[". Writes the class as ranges, folding case into it when case is ignored.
    QString charClass() {
        ++i;
        bool negated = false;
        if (i < p.size() && p[i] == u'^') {
            negated = true;
            ++i;
        }
        TRanges ranges;
        QStringList tokens;
        // One class atom: a character (returned) or a set (added, nullopt returned).
        auto atom = [&]() -> std::optional<char16_t> {
            if (p[i] == u'\\') {
                const TEscape e = escape(true);
                if (e.kind == TEscape::Char)
                    return e.ch;
                if (e.kind == TEscape::Token)
                    tokens.append(e.token);
                else
                    ranges.insert(ranges.end(), e.set.begin(), e.set.end());
                return std::nullopt;
            }
            return p[i++].unicode();
        };
        bool closed = false;
        while (i < p.size()) {
            if (p[i] == u']') {
                ++i;
                closed = true;
                break;
            }
            const std::optional<char16_t> lo = atom();
            if (lo && i + 1 < p.size() && p[i] == u'-' && p[i + 1] != u']') {
                ++i;
                const std::optional<char16_t> hi = atom();
                if (!hi) {
                    // A range with a set at one end: the "-" is an ordinary character.
                    ranges.push_back({*lo, *lo});
                    ranges.push_back({u'-', u'-'});
                    continue;
                }
                if (*hi < *lo)
                    fail(QStringLiteral("range out of order in character class"));
                ranges.push_back({*lo, *hi});
            } else if (lo) {
                ranges.push_back({*lo, *lo});
            }
        }
        if (!closed)
            fail(QStringLiteral("missing terminating ] for character class"));
        if (ic)
            ranges = foldCase(ranges);
        if (ranges.empty() && tokens.isEmpty())
            return negated ? QStringLiteral("[\\s\\S]") : QStringLiteral("(?!)");
        return QLatin1Char('[') + (negated ? QStringLiteral("^") : QString()) + tokens.join(QString()) +
               rangesText(ranges) + QLatin1Char(']');
    }

    const QString& p;
    bool ic;
    qsizetype i = 0;
};

} // namespace

QString TPatterns::EcmaToPcre(const QString& pattern, bool ignoreCase) {
    return TTranslator(pattern, ignoreCase).run();
}
