#include "web/patterns.h"

#include "base/text.h"

#include <QHash>
#include <QRegularExpression>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

TPatternError::TPatternError(const QString& pattern, const QString& message)
    : std::runtime_error(
          QString(QStringLiteral("bad pattern \"") + pattern + QStringLiteral("\": ") + message)
              .toStdString()),
      Pattern(pattern), Message(message) {}

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

QRegularExpression compile(const QString& pcrePattern, const QString& original) {
    QRegularExpression re(pcrePattern);
    if (!re.isValid())
        throw TPatternError(original, re.errorString());
    return re;
}

// The expressions compiled so far on this thread, by pattern and case rule: the scrapers run the
// same few dozen patterns over every page, and translating and compiling one (with its machine
// code) costs more than running it over a whole page. Each thread keeps its own, so no compiled
// expression is shared between threads; a pattern the engine refused is kept with its reason.
struct TCompiled {
    QRegularExpression re;
    QString error; // empty when the engine took it
};

QRegularExpression compileEcma(const QString& pattern, bool ignoreCase) {
    thread_local QHash<QString, TCompiled> cache[2];
    QHash<QString, TCompiled>& compiled = cache[ignoreCase ? 1 : 0];
    auto it = compiled.constFind(pattern);
    if (it == compiled.constEnd()) {
        // Patterns made from outside text (service values) vary; the cache never grows without end.
        if (compiled.size() >= 256)
            compiled.clear();
        TCompiled entry;
        try {
            entry.re = compile(TPatterns::EcmaToPcre(pattern, ignoreCase), pattern);
            entry.re.optimize();
        } catch (const TPatternError& e) {
            entry.error = e.Message;
        }
        it = compiled.insert(pattern, entry);
    }
    if (!it->error.isEmpty())
        throw TPatternError(pattern, it->error);
    return it->re;
}

// Whether every surrogate of the text is half of a pair (so the engine may take it as it is): one
// pass that looks at each unit only where a block of eight holds a surrogate.
bool surrogatesPaired(const QString& text) {
    const char16_t* u = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
#if defined(__SSE2__)
        // Eight units at a time up to the next surrogate.
        const __m128i mask = _mm_set1_epi16(short(0xF800)), surrogate = _mm_set1_epi16(short(0xD800));
        while (i + 8 <= n) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, mask), surrogate)) != 0)
                break;
            i += 8;
        }
        if (i >= n)
            break;
#endif
        const char16_t c = u[i];
        if ((c & 0xF800) != 0xD800) {
            ++i;
            continue;
        }
        // A high surrogate followed by a low one is a character beyond U+FFFF; anything else is alone.
        if (c >= 0xDC00 || i + 1 >= n || (u[i + 1] & 0xFC00) != 0xDC00)
            return false;
        i += 2;
    }
    return true;
}

// A text holding a lone surrogate has each such unit replaced by U+FFFD, which keeps every position
// where it was.
QString wellFormed(const QString& text) {
    if (surrogatesPaired(text))
        return text;
    QString copy = text;
    for (qsizetype i = 0; i < copy.size(); ++i) {
        if (copy[i].isHighSurrogate() && i + 1 < copy.size() && copy[i + 1].isLowSurrogate())
            ++i;
        else if (copy[i].isSurrogate())
            copy[i] = QChar::ReplacementCharacter;
    }
    return copy;
}

// The subject has been made well-formed once, so the engine need not check it again at every match.
constexpr auto AlreadyChecked = QRegularExpression::DontCheckSubjectStringMatchOption;

// Every match from left to right as the script engine finds them: after an empty match the
// search goes on one unit further.
template <typename F>
void forEachMatch(const QRegularExpression& re, const TPatterns::TPatternText& html, F&& f) {
    const QStringView text = html.View();
    qsizetype pos = 0;
    while (pos <= text.size()) {
        const QRegularExpressionMatch m =
            re.match(text, pos, QRegularExpression::NormalMatch, AlreadyChecked);
        if (!m.hasMatch())
            break;
        f(m);
        const qsizetype end = m.capturedEnd(0);
        pos = end == m.capturedStart(0) ? end + 1 : end;
    }
}

} // namespace

QString TPatterns::EcmaToPcre(const QString& pattern, bool ignoreCase) {
    return TTranslator(pattern, ignoreCase).run();
}

TPatterns::TPatternText::TPatternText(const QString& text)
    : m_text(wellFormed(text)), m_size(m_text.size()) {}

TPatterns::TPatternText TPatterns::TPatternText::Part(qsizetype from, qsizetype size) const {
    TPatternText part;
    part.m_text = m_text;
    part.m_from = m_from + std::clamp<qsizetype>(from, 0, m_size);
    part.m_size = std::clamp<qsizetype>(size, 0, m_size - (part.m_from - m_from));
    return part;
}

namespace {

// Where `word` first (or last) occurs in `text`, or -1; the empty word is found at the start (or
// the end). Sixteen bytes at a time are checked for the word's first and last units, and only
// where both are in place is the rest compared: pages are large and the words looked for rare.
template <typename Unit>
qsizetype findUnitsIn(const Unit* t, qsizetype n, const Unit* w, qsizetype m, bool last) {
    if (m == 0)
        return last ? n : 0;
    if (m > n)
        return -1;
    const qsizetype lastStart = n - m; // the last position the word can start at
    auto matchesAt = [&](qsizetype i) {
        return std::char_traits<Unit>::compare(t + i + 1, w + 1, size_t(m - 1)) == 0;
    };
#if defined(__SSE2__)
    constexpr qsizetype Lanes = 16 / sizeof(Unit);
    constexpr unsigned LaneBits = (1u << sizeof(Unit)) - 1; // a lane's bits in the compare mask
    auto splat = [](Unit u) {
        if constexpr (sizeof(Unit) == 1)
            return _mm_set1_epi8(char(u));
        else
            return _mm_set1_epi16(short(u));
    };
    auto equal = [](__m128i a, __m128i b) {
        if constexpr (sizeof(Unit) == 1)
            return _mm_cmpeq_epi8(a, b);
        else
            return _mm_cmpeq_epi16(a, b);
    };
    const __m128i first = splat(w[0]);
    const __m128i lastUnit = splat(w[m - 1]);
    // The bits of each position from i where the word's first and last units are in place (two
    // common letters together are far rarer than one).
    auto candidates = [&](qsizetype i) {
        const __m128i starts = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
        const __m128i ends = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + m - 1));
        return unsigned(_mm_movemask_epi8(_mm_and_si128(equal(starts, first), equal(ends, lastUnit))));
    };
    if (!last) {
        qsizetype i = 0;
        for (; i + Lanes <= lastStart + 1; i += Lanes)
            for (unsigned bits = candidates(i); bits != 0;) {
                const int lane = std::countr_zero(bits) / int(sizeof(Unit));
                if (matchesAt(i + lane))
                    return i + lane;
                bits &= ~(LaneBits << (sizeof(Unit) * lane));
            }
        for (; i <= lastStart; ++i)
            if (t[i] == w[0] && matchesAt(i))
                return i;
        return -1;
    }
    qsizetype i = lastStart + 1; // positions [i, lastStart] are done
    for (; i - Lanes >= 0; i -= Lanes)
        for (unsigned bits = candidates(i - Lanes); bits != 0;) {
            const int lane = (31 - std::countl_zero(bits)) / int(sizeof(Unit));
            if (matchesAt(i - Lanes + lane))
                return i - Lanes + lane;
            bits &= ~(LaneBits << (sizeof(Unit) * lane));
        }
    for (--i; i >= 0; --i)
        if (t[i] == w[0] && matchesAt(i))
            return i;
    return -1;
#else
    for (qsizetype k = 0; k <= lastStart; ++k) {
        const qsizetype i = last ? lastStart - k : k;
        if (t[i] == w[0] && matchesAt(i))
            return i;
    }
    return -1;
#endif
}

qsizetype findUnits(QStringView text, QStringView word, bool last) {
    return findUnitsIn(text.utf16(), text.size(), word.utf16(), word.size(), last);
}

// Where the first match and its group 1 lie (group.from < 0 when the group took no part or the
// pattern has none).
struct TSpan {
    qsizetype from = -1;
    qsizetype size = 0;
};
struct TFirstMatch {
    TSpan whole;
    TSpan group;
};

// A pattern made of a plain text, "([\w\W]+)" and another plain text finds the first of the first
// text and takes everything up to the last of the second one after it: found by two text searches
// instead of running the engine to the page's end and back (the scrapers cut blocks out of whole
// pages this way).
struct TCutShape {
    QStringView prefix;
    QStringView suffix;
};
std::optional<TCutShape> cutShape(const QString& pattern) {
    static const QString anything = QStringLiteral("([\\w\\W]+)");
    const qsizetype at = pattern.indexOf(anything);
    if (at <= 0 || at + anything.size() >= pattern.size())
        return std::nullopt;
    const QStringView prefix = QStringView(pattern).first(at);
    const QStringView suffix = QStringView(pattern).sliced(at + anything.size());
    static const QString special = QStringLiteral("\\^$.|?*+()[]{}");
    for (const QStringView part : {prefix, suffix})
        for (const QChar c : part)
            if (special.contains(c))
                return std::nullopt;
    return TCutShape{prefix, suffix};
}

std::optional<TFirstMatch> firstCut(const TCutShape& cut, QStringView text) {
    const qsizetype start = TPatterns::FindLiteral(text, cut.prefix);
    if (start < 0)
        return std::nullopt;
    const qsizetype groupFrom = start + cut.prefix.size();
    // At least one character between the two texts.
    const QStringView rest = text.sliced(std::min(groupFrom + 1, text.size()));
    const qsizetype last = findUnits(rest, cut.suffix, true);
    if (last < 0)
        return std::nullopt;
    const qsizetype suffixAt = (groupFrom + 1) + last;
    return TFirstMatch{{start, suffixAt + cut.suffix.size() - start}, {groupFrom, suffixAt - groupFrom}};
}

// A pattern made of a plain text and "([^c]*)" for one character c (the scrapers' "\">([^<]*)" over
// a page's attribute block) matches at each occurrence of the text and takes everything up to the
// next c or the end: all its matches are found by text searches instead of running the engine
// once per match. Only texts without letters qualify, so letter case never matters.
struct TRunShape {
    QStringView prefix;
    QChar stop;
};
std::optional<TRunShape> runShape(const QString& pattern) {
    static const QString run = QStringLiteral("([^");
    static const QString tail = QStringLiteral("]*)");
    const qsizetype open = pattern.size() - run.size() - 1 - tail.size();
    if (open <= 0 || !pattern.endsWith(tail) || QStringView(pattern).sliced(open, run.size()) != run)
        return std::nullopt;
    const QChar stop = pattern[open + run.size()];
    auto plain = [](QChar c) {
        static const QString special = QStringLiteral("\\^$.|?*+()[]{}-");
        return c.unicode() < 0x80 && !std::isalpha(c.unicode()) && !special.contains(c);
    };
    const QStringView prefix = QStringView(pattern).first(open);
    if (!plain(stop) || !std::all_of(prefix.begin(), prefix.end(), plain))
        return std::nullopt;
    return TRunShape{prefix, stop};
}

// The first match, letter case kept. Throws TPatternError for a pattern the engine refuses.
std::optional<TFirstMatch> firstMatch(const QString& pattern, QStringView text) {
    if (const std::optional<TCutShape> cut = cutShape(pattern))
        return firstCut(*cut, text);
    const QRegularExpression re = compileEcma(pattern, false);
    const QRegularExpressionMatch m = re.match(text, 0, QRegularExpression::NormalMatch, AlreadyChecked);
    if (!m.hasMatch())
        return std::nullopt;
    TFirstMatch found{{m.capturedStart(0), m.capturedLength(0)}, {}};
    if (re.captureCount() >= 1 && m.capturedStart(1) >= 0)
        found.group = {m.capturedStart(1), m.capturedLength(1)};
    return found;
}

} // namespace

qsizetype TPatterns::FindLiteral(QStringView text, QStringView word) {
    return findUnits(text, word, false);
}

qsizetype TPatterns::FindBytes(QByteArrayView bytes, QByteArrayView word) {
    return findUnitsIn(bytes.data(), bytes.size(), word.data(), word.size(), false);
}

TPatterns::TPatternText TPatterns::FindsText(const QString& pattern, const TPatternText& html) {
    try {
        if (const std::optional<TFirstMatch> m = firstMatch(pattern, html.View()); m && m->group.from >= 0)
            return html.Part(m->group.from, m->group.size);
    } catch (const TPatternError& e) {
        qCritical("%s", e.what());
    }
    return html.Part(0, 0);
}

QString TPatterns::FindsStr(const QString& pattern, const TPatternText& html, bool AddMatch) {
    try {
        const std::optional<TFirstMatch> m = firstMatch(pattern, html.View());
        if (!m)
            return {};
        const TSpan span = AddMatch ? m->whole : m->group;
        return span.from >= 0 ? html.View().sliced(span.from, span.size).toString() : QString();
    } catch (const TPatternError& e) {
        // FindsStr gives "nothing found" for a pattern the engine refuses; the pattern is a mistake
        // of the program, so it is said on the error stream.
        qCritical("%s", e.what());
        return {};
    }
}

TStatus TPatterns::Validate(const QString& pattern) {
    try {
        (void)compileEcma(pattern, true);
        return {};
    } catch (const TPatternError& e) {
        return MakeError(TErrc::Refused, e.Message);
    }
}

QStringList TPatterns::FindSList(const QString& pattern, const TPatternText& html, bool AddMatch) {
    if (const std::optional<TRunShape> run = runShape(pattern)) {
        const QStringView text = html.View();
        QStringList out;
        for (qsizetype pos = 0;;) {
            const qsizetype at = findUnits(text.sliced(pos), run->prefix, false);
            if (at < 0)
                break;
            const qsizetype start = pos + at;
            const qsizetype from = start + run->prefix.size();
            const qsizetype stop = text.indexOf(run->stop, from);
            const qsizetype end = stop < 0 ? text.size() : stop;
            if (AddMatch)
                out.append(text.sliced(start, end - start).toString());
            out.append(text.sliced(from, end - from).toString());
            pos = end;
        }
        return out;
    }
    const QRegularExpression re = compileEcma(pattern, true);
    const int groups = re.captureCount();
    QStringList out;
    forEachMatch(re, html, [&](const QRegularExpressionMatch& m) {
        if (AddMatch)
            out.append(m.captured(0));
        for (int g = 1; g <= groups; ++g)
            out.append(m.captured(g));
    });
    return out;
}

QString TPatterns::FindSItem(const QString& pattern, const TPatternText& html, int d, bool AddMatch) {
    const QStringList list = FindSList(pattern, html, AddMatch);
    return d >= 0 && d < list.size() ? list[d] : QString();
}

QString TPatterns::MergeString(const QString& pattern, const TPatternText& html, int s, int d) {
    const QRegularExpression re = compileEcma(pattern, true);
    QString out;
    forEachMatch(re, html, [&](const QRegularExpressionMatch& m) {
        const QString v = m.captured(0);
        const qsizetype first = std::max(s, 1);         // 1-based, inclusive
        const qsizetype last = qsizetype(v.size()) - d; // 1-based, inclusive
        out += TrimText(last >= first ? v.mid(first - 1, last - first + 1) : QString());
        out += QLatin1Char('^');
    });
    return out;
}

QStringList TPatterns::FindSListNew(const QString& pattern, const TPatternText& text, bool AddMatch) {
    const QRegularExpression re = compile(pattern, pattern);
    QStringList out;
    QRegularExpressionMatchIterator it =
        re.globalMatch(text.View(), 0, QRegularExpression::NormalMatch, AlreadyChecked);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const qsizetype start = m.capturedStart(0);
        for (int g = 0; g <= m.lastCapturedIndex(); ++g)
            if (AddMatch || m.capturedStart(g) != start)
                out.append(m.captured(g));
    }
    return out;
}

QStringList TPatterns::SplitString(const QString& Source, const QString& Deli) {
    if (Deli.isEmpty())
        return {Source};
    return Source.split(Deli, Qt::KeepEmptyParts, Qt::CaseSensitive);
}
