#include "web/patterns.h"

#include "base/text.h"

#include <QHash>
#include <QRegularExpression>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cctype>
#include <optional>

TPatternError::TPatternError(const QString& pattern, const QString& message)
    : std::runtime_error(
          QString(QStringLiteral("bad pattern \"") + pattern + QStringLiteral("\": ") + message)
              .toStdString()),
      Pattern(pattern), Message(message) {}

namespace {

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
    const qsizetype last = TPatterns::FindLastLiteral(rest, cut.suffix);
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
            const qsizetype at = FindLiteral(text.sliced(pos), run->prefix);
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
