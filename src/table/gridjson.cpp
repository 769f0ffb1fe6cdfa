#include "table/gridjson.h"

#include "base/ansi.h"
#include "base/itemcolumns.h"
#include "platform/memory.h"
#include "table/packedtext.h"

#include <QStringDecoder>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

// The code page's double-byte characters: a lead byte and a trail byte.
bool isLeadByte(uchar b) {
    return b >= 0x81 && b <= 0xFE;
}
bool isTrailByte(uchar b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// How many bytes from `p` (at most `n`) are ASCII that the grid's writer writes as they are: none
// is a backslash, a slash, a quote, U+0000 or above 0x7F.
qsizetype verbatimRun(const char* p, qsizetype n) {
    qsizetype k = 0;
#if defined(__SSE2__)
    const __m128i backslash = _mm_set1_epi8('\\'), slash = _mm_set1_epi8('/'), quote = _mm_set1_epi8('"'),
                  zero = _mm_setzero_si128();
    while (k + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        const __m128i special =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, backslash), _mm_cmpeq_epi8(v, slash)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, zero)));
        const int mask = _mm_movemask_epi8(_mm_or_si128(special, v));
        if (mask != 0)
            return k + __builtin_ctz(uint(mask));
        k += 16;
    }
#endif
    while (k < n && uchar(p[k]) < 0x80 && p[k] != '\\' && p[k] != '/' && p[k] != '"' && p[k] != '\0')
        ++k;
    return k;
}

// Which of the code page's characters come back as the same bytes when decoded and encoded again:
// each double-byte character (by lead byte less 0x80, then trail byte) and each byte above 0x7F on
// its own. Made once from the code page's own tables.
struct TRoundTrips {
    std::vector<bool> pair = std::vector<bool>(0x8000);
    std::array<bool, 0x100> single{};
};

const TRoundTrips& codePageRoundTrips() {
    static const TRoundTrips tables = [] {
        TRoundTrips t;
        QString text;
        for (int b = 0x80; b <= 0xFF; ++b) {
            const char byte = char(b);
            t.single[b] = TAnsi::DecodeWellFormed(QByteArrayView(&byte, 1), text) && text.size() == 1 &&
                          TAnsi::EncodedUnit(text[0].unicode()) == b;
        }
        for (int lead = 0x81; lead <= 0xFE; ++lead) {
            for (int trail = 0x40; trail <= 0xFE; ++trail) {
                if (!isTrailByte(uchar(trail)))
                    continue;
                const char bytes[2] = {char(lead), char(trail)};
                t.pair[(lead - 0x80) * 0x100 + trail] =
                    TAnsi::DecodeWellFormed(QByteArrayView(bytes, 2), text) && text.size() == 1 &&
                    TAnsi::EncodedUnit(text[0].unicode()) == (lead << 8 | trail);
            }
        }
        return t;
    }();
    return tables;
}

// How many bytes from `p` (at most `n`) are neither a quote nor a backslash, nor (with
// `StopAtHigh`) above 0x7F.
template <bool StopAtHigh> qsizetype runToQuote(const char* p, qsizetype n) {
    qsizetype k = 0;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"'), backslash = _mm_set1_epi8('\\');
    while (k + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        __m128i stop = _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash));
        if constexpr (StopAtHigh)
            stop = _mm_or_si128(stop, v); // the high bit is what the mask takes
        const int mask = _mm_movemask_epi8(stop);
        if (mask != 0)
            return k + __builtin_ctz(uint(mask));
        k += 16;
    }
#endif
    while (k < n && p[k] != '"' && p[k] != '\\' && !(StopAtHigh && uchar(p[k]) >= 0x80))
        ++k;
    return k;
}

// How many bytes from `p` (at most `n`) a string's reader passes over without a look: ASCII other
// than the quote and the backslash.
qsizetype plainRun(const char* p, qsizetype n) {
    return runToQuote<true>(p, n);
}

// How many bytes from `p` (at most `n`, a character's start) are whole double-byte characters of
// the code page that a string's reader passes over without a look: blocks of sixteen bytes all
// from 0x81 to 0xFE, which pair up as lead and trail bytes and hold no quote or backslash.
qsizetype doubleByteRun(const char* p, qsizetype n) {
    qsizetype k = 0;
#if defined(__SSE2__)
    const __m128i below = _mm_set1_epi8(char(0x80)), above = _mm_set1_epi8(char(0xFF));
    while (k + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
        // Signed: 0x81..0xFE is -127..-2, above -128 (0x80) and below -1 (0xFF).
        const __m128i inside = _mm_and_si128(_mm_cmpgt_epi8(v, below), _mm_cmplt_epi8(v, above));
        if (_mm_movemask_epi8(inside) != 0xFFFF)
            break;
        k += 16;
    }
#else
    (void)p;
    (void)n;
#endif
    return k;
}

// The characters JSON escapes with a backslash and one letter or sign.
bool isSimpleEscape(char e) {
    return e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' || e == 't';
}

// Whether the backslash at `b` is the second byte of a double-byte character, `from` being a
// character's start with no quote or backslash between it and `b`. A byte below 0x40 is neither a
// lead nor a second byte, so a character starts right after it: the characters are followed from
// the last such byte only.
bool secondOfPair(const char* p, qsizetype from, qsizetype b) {
    qsizetype j = b;
    while (j > from && uchar(p[j - 1]) >= 0x40)
        --j;
    while (j < b)
        j += isLeadByte(uchar(p[j])) && isTrailByte(uchar(p[j + 1])) ? 2 : 1;
    return j > b;
}

// A member in the writer's own form from `k` within p[0, end): its name a column number as the
// writer writes it (decimal digits, no leading zero), then a colon and a string, nothing between.
// Where the string's body starts, the column in `c`; -1 for anything else.
qsizetype memberBody(const char* p, qsizetype k, qsizetype end, int& c) {
    if (k >= end || p[k] != '"')
        return -1;
    const qsizetype first = k + 1;
    qsizetype d = first;
    c = 0;
    while (d < end && d - first < 9 && p[d] >= '0' && p[d] <= '9')
        c = c * 10 + (p[d++] - '0');
    if (d == first || (d - first > 1 && p[first] == '0') || d + 2 >= end || p[d] != '"' || p[d + 1] != ':' ||
        p[d + 2] != '"')
        return -1;
    return d + 3;
}

// The end of a string's body from `k` (just after its opening quote) within p[0, end): the offset
// of its closing quote, read as the table reader reads a string (a lead byte takes the next byte
// as its second byte, so a second byte 0x5C is no escape; no second byte is a quote). -1 when the
// body is not wholly there, or holds what only the full reader judges: an escape JSON does not
// have, a \u escape without four hexadecimal digits. With `checked` false the body is one read
// before, and only its end is found.
qsizetype stringBodyEnd(const char* p, qsizetype k, qsizetype end, bool checked = true) {
    while (k < end) {
        const qsizetype at = k + runToQuote<false>(p + k, end - k);
        if (at >= end)
            return -1;
        if (p[at] == '"')
            return at;
        if (secondOfPair(p, k, at)) {
            k = at + 1;
            continue;
        }
        if (at + 1 >= end)
            return -1;
        if (checked && !isSimpleEscape(p[at + 1])) {
            if (p[at + 1] != 'u' || at + 6 > end)
                return -1;
            for (qsizetype d = at + 2; d < at + 6; ++d)
                if (!std::isxdigit(uchar(p[d])))
                    return -1;
        }
        // The escaped byte is taken whole (the digits of a \u escape are plain bytes).
        k = at + 2;
    }
    return -1;
}

// How many units from `u` (at most `n`) go into a JSON string as the same single bytes: ASCII
// other than the quote, the backslash, the slash and U+0000. They are copied to `to`.
qsizetype copyPlainUnits(const char16_t* u, qsizetype n, char* to) {
    qsizetype k = 0;
#if defined(__SSE2__)
    const __m128i high = _mm_set1_epi16(short(0xFF80)), quote = _mm_set1_epi16('"'),
                  backslash = _mm_set1_epi16('\\'), slash = _mm_set1_epi16('/'), zero = _mm_setzero_si128();
    while (k + 8 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + k));
        const __m128i special =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, quote), _mm_cmpeq_epi16(v, backslash)),
                         _mm_or_si128(_mm_cmpeq_epi16(v, slash), _mm_cmpeq_epi16(v, zero)));
        const __m128i notAscii =
            _mm_xor_si128(_mm_cmpeq_epi16(_mm_and_si128(v, high), zero), _mm_set1_epi16(-1));
        if (_mm_movemask_epi8(_mm_or_si128(special, notAscii)) != 0)
            break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to + k), _mm_packus_epi16(v, v));
        k += 8;
    }
#endif
    for (; k < n; ++k) {
        const char16_t c = u[k];
        if (c >= 0x80 || c == u'"' || c == u'\\' || c == u'/' || c == 0)
            break;
        to[k] = char(c);
    }
    return k;
}

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

// The same JSON string straight in the code page's bytes, in one pass: what appendEscaped and then
// TAnsi::Encode give, without the text in between.
// At most six bytes per unit (a \u escape) and the quotes; returns where the string ends.
constexpr qsizetype escapedBound(qsizetype units) {
    return units * 6 + 2;
}
char* writeEscapedBytes(char* to, const QString& text) {
    static const char Hex[] = "0123456789abcdef";
    *to++ = '"';
    const char16_t* units = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    for (qsizetype k = 0; k < n; ++k) {
        const qsizetype run = copyPlainUnits(units + k, n - k, to);
        to += run;
        k += run;
        if (k >= n)
            break;
        const char16_t u = units[k];
        if (u < 0x80) {
            switch (u) {
            case u'"':
            case u'\\':
            case u'/':
                *to++ = '\\';
                *to++ = char(u);
                break;
            case 0:
                std::memcpy(to, "\\u0000", 6);
                to += 6;
                break;
            default:
                *to++ = char(u);
            }
            continue;
        }
        const quint16 encoded = TAnsi::EncodedUnit(u);
        if (encoded == 0xFFFF) {
            *to++ = '\\';
            *to++ = 'u';
            for (int shift = 12; shift >= 0; shift -= 4)
                *to++ = Hex[(u >> shift) & 0xF];
        } else if (encoded < 0x100) {
            *to++ = char(encoded);
        } else {
            *to++ = char(encoded >> 8);
            *to++ = char(encoded & 0xFF);
        }
    }
    *to++ = '"';
    return to;
}

// A string's bytes in the code page as text: as Latin-1 when none is above 0x7F (`high` false; ASCII
// is the same in every code page), else by the code page's table, and by ICU for bytes that are no
// well-formed sequence.
QString codePageText(QByteArrayView bytes, bool high) {
    QString text;
    if (!high)
        text = QString::fromLatin1(bytes);
    else if (!TAnsi::DecodeWellFormed(bytes, text)) {
        thread_local QStringDecoder decoder("GBK", QStringConverter::Flag::Stateless);
        text = decoder.decode(bytes);
    }
    return text;
}

// A string's text with its JSON escapes resolved; nothing for an escape JSON does not have.
std::optional<QString> unescapeJson(const QString& raw) {
    QString out(raw.size(), Qt::Uninitialized);
    const char16_t* from = reinterpret_cast<const char16_t*>(raw.constData());
    char16_t* const begin = reinterpret_cast<char16_t*>(out.data());
    char16_t* to = begin;
    const qsizetype n = raw.size();
    qsizetype k = 0;
    while (k < n) {
        // The run up to the next backslash, as it is.
        const char16_t* slash = std::char_traits<char16_t>::find(from + k, size_t(n - k), u'\\');
        const qsizetype run = slash ? slash - (from + k) : n - k;
        std::memcpy(to, from + k, size_t(run) * sizeof(char16_t));
        to += run;
        k += run;
        if (k >= n)
            break;
        if (++k >= n)
            return std::nullopt;
        switch (from[k]) {
        case u'"':
        case u'\\':
        case u'/':
            *to++ = from[k];
            break;
        case u'b':
            *to++ = 0x08;
            break;
        case u'f':
            *to++ = 0x0C;
            break;
        case u'n':
            *to++ = 0x0A;
            break;
        case u'r':
            *to++ = 0x0D;
            break;
        case u't':
            *to++ = 0x09;
            break;
        case u'u': {
            bool ok = false;
            const uint code = raw.mid(k + 1, 4).toUInt(&ok, 16);
            if (!ok || k + 4 >= n)
                return std::nullopt;
            *to++ = char16_t(code);
            k += 4;
            break;
        }
        default:
            return std::nullopt;
        }
        ++k;
    }
    out.truncate(to - begin);
    return out;
}

// Whether the "\\u" escape at `at` of a string's body (the code page's bytes) is one unescapeJson
// resolves: four digits follow within the body, each a single byte (a double-byte character is no
// digit), read as unescapeJson reads them.
bool unicodeEscapeValid(QByteArrayView body, qsizetype at) {
    if (at + 5 >= body.size())
        return false;
    for (qsizetype d = at + 2; d < at + 6; ++d)
        if (uchar(body[d]) >= 0x80)
            return false;
    bool ok = false;
    QString::fromLatin1(body.sliced(at + 2, 4)).toUInt(&ok, 16);
    return ok;
}

// One thread that packs the pages handed to it (PackedText), in the order handed. A table read hands
// it one page per row; one thread for the whole read, not one per row (a thousand threads made and
// ended cost more than the packing beside the reading saves). A page that could not be packed (no
// memory) throws where it is taken, on the reader's thread, as packing it there would.
class TPageLine {
  public:
    TPageLine() : m_thread([this] { run(); }) {}
    ~TPageLine() {
        {
            std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    TPageLine(const TPageLine&) = delete;
    TPageLine& operator=(const TPageLine&) = delete;

    // A page's text, or (stored) the bytes of its string as the file holds them.
    struct TPage {
        qsizetype row = 0; // where its packed page goes
        QString text;
        QByteArray stored;
        bool isStored = false;
    };
    struct TPacked {
        qsizetype row = 0;
        TPackedText page;
        std::exception_ptr failure;
    };

    void Push(TPage page) {
        {
            std::lock_guard lock(m_mutex);
            m_in.push_back(std::move(page));
            ++m_pending;
        }
        m_changed.notify_all();
    }
    // A page packed and not yet taken, with its row: waiting for one when `wait`, else nothing
    // when none is ready. A page the thread could not pack throws here, as it would have where it
    // was read.
    std::optional<TPacked> Take(bool wait) {
        std::unique_lock lock(m_mutex);
        if (wait)
            m_changed.wait(lock, [this] { return !m_out.empty(); });
        if (m_out.empty())
            return std::nullopt;
        TPacked packed = std::move(m_out.front());
        m_out.pop_front();
        --m_pending;
        if (packed.failure)
            std::rethrow_exception(packed.failure);
        return packed;
    }
    // A stored page's buffer, packed elsewhere, for Spare to hand out again.
    void GiveBack(QByteArray&& stored) {
        std::lock_guard lock(m_mutex);
        keepSpare(std::move(stored));
    }
    // A buffer of a stored page already packed, to copy the next one into (empty when there is
    // none): the pages' buffers go round instead of each being new memory, faulted in afresh.
    QByteArray Spare() {
        std::lock_guard lock(m_mutex);
        if (m_spare.empty())
            return {};
        QByteArray spare = std::move(m_spare.back());
        m_spare.pop_back();
        return spare;
    }
    static TPackedText Pack(TPackedTextBlocks& blocks, const TPage& page) {
        return page.isStored ? blocks.PackStored(page.stored) : blocks.Pack(page.text);
    }
    // Pushed and not yet taken.
    size_t Pending() const {
        std::lock_guard lock(m_mutex);
        return m_pending;
    }

  private:
    // With the lock held: a few buffers are kept, each of a page's size.
    void keepSpare(QByteArray&& stored) {
        if (m_spare.size() < 8)
            m_spare.push_back(std::move(stored));
    }

    void run() {
        std::unique_lock lock(m_mutex);
        while (true) {
            m_changed.wait(lock, [this] { return m_closing || !m_in.empty(); });
            if (m_in.empty())
                return; // closing, and nothing left to pack
            TPage page = std::move(m_in.front());
            m_in.pop_front();
            lock.unlock();
            TPacked packed;
            packed.row = page.row;
            try {
                packed.page = Pack(m_blocks, page);
            } catch (...) {
                packed.failure = std::current_exception();
            }
            page.text = QString(); // freed before the lock is taken again
            lock.lock();
            if (page.isStored)
                keepSpare(std::move(page.stored));
            page = TPage();
            m_out.push_back(std::move(packed));
            m_changed.notify_all();
        }
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    TPackedTextBlocks m_blocks; // the packing thread's own
    std::deque<TPage> m_in;
    std::deque<TPacked> m_out;
    std::vector<QByteArray> m_spare;
    size_t m_pending = 0;
    bool m_closing = false;
    std::thread m_thread; // last: it starts when everything above is there
};

// Reads the grid's JSON text straight from its bytes in the ANSI code page as they come from the
// decipherer, a piece at a time, decoding each string on its own: neither the whole text nor its
// bytes ever exist at once, only the table being read and a piece. The reader is as tolerant
// as the grid file needs: raw control characters inside strings, the standard escapes, and values
// of any kind (a value that is no string reads as its text). A lead byte of a double-byte
// character takes the next byte as its second byte, so a second byte that happens to be "\" is no
// escape.
class TGridJsonReader {
  public:
    // The whole text at once.
    explicit TGridJsonReader(const QByteArray& bytes) : s(bytes), m_end(true) {}
    // The text in pieces: `more` appends the next piece to its argument, false at the end.
    explicit TGridJsonReader(std::function<bool(QByteArray&)> more, bool packPages = false)
        : m_more(std::move(more)), m_packPages(packPages) {}

    // A row read; with pages packed, its page is handed to a packing thread at once, so that the
    // packing runs beside the reading and only a few rows' pages are ever open.
    // `members` is the first row's member count: a column at or beyond it is no cell.
    void keepRow(TGridJson& grid, QStringList&& cells, int members) {
        if (m_packPages) {
            TPageLine::TPage page;
            if (m_storedPage && ColHtml < members) {
                page.stored = std::move(*m_storedPage);
                page.isStored = true;
            } else if (ColHtml < cells.size()) {
                std::swap(page.text, cells[ColHtml]);
            }
            if (ColHtml < cells.size())
                cells[ColHtml] = QString();
            if (!m_packing)
                m_packing = std::make_unique<TPageLine>();
            page.row = grid.pages.size();
            grid.pages.append(TPackedText()); // filled in when it is packed
            while (std::optional<TPageLine::TPacked> done = m_packing->Take(false))
                grid.pages[done->row] = std::move(done->page);
            // While the thread has enough to pack, this one packs the page itself instead of
            // waiting: on two cores neither the reading nor the packing waits for the other.
            constexpr size_t MaxOpenPages = 4;
            if (m_packing->Pending() < MaxOpenPages) {
                m_packing->Push(std::move(page));
            } else {
                grid.pages[page.row] = TPageLine::Pack(m_blocks, page);
                if (page.isStored)
                    m_packing->GiveBack(std::move(page.stored));
            }
        }
        if (m_packPages) // an exact copy: the buffer keeps its room for the next row
            grid.storedCells.append(QByteArray(m_storedCells.constData(), m_storedCells.size()));
        grid.rows.append(std::move(cells));
    }
    std::optional<TGridJson> finish(std::optional<TGridJson> grid) {
        while (m_packing && m_packing->Pending() > 0) {
            std::optional<TPageLine::TPacked> done = m_packing->Take(true);
            if (grid)
                grid->pages[done->row] = std::move(done->page);
        }
        return grid;
    }

    std::optional<TGridJson> read() {
        skipBlanks();
        if (!take('['))
            return std::nullopt;
        TGridJson grid;
        int members = -1;
        skipSpace();
        if (take(']'))
            return std::nullopt; // an empty array is no table
        while (true) {
            compact();
            skipSpace();
            ++grid.elementCount;
            if (peek() == '{') {
                // Member "c" is column c, for c below the first row's member count; the first of
                // two members of one name counts, and any other name is no column.
                if (members < 0) {
                    QList<std::pair<int, QString>> object;
                    if (!readObject(
                            [&object](int c, QString&& value) {
                                object.append({c, std::move(value)});
                            },
                            true))
                        return std::nullopt;
                    members = int(object.size());
                    grid.colCount = std::max(members, ColFixedCount); // the twelve fixed columns stay
                    QStringList cells(grid.colCount);
                    std::vector<bool> taken(size_t(members), false);
                    for (auto& [c, value] : object)
                        if (c >= 0 && c < members && !taken[size_t(c)]) {
                            taken[size_t(c)] = true;
                            cells[c] = std::move(value);
                        }
                    keepRow(grid, std::move(cells), members);
                    if (m_packPages)
                        m_storedLimit = members;
                } else {
                    QStringList cells(grid.colCount);
                    m_taken.assign(size_t(members), 0);
                    const bool read = readObject(
                        [&](int c, QString&& value) {
                            if (c >= 0 && c < members && !m_taken[size_t(c)]) {
                                m_taken[size_t(c)] = 1;
                                cells[c] = std::move(value);
                            }
                        },
                        true);
                    if (!read)
                        return std::nullopt;
                    if (grid.complete)
                        keepRow(grid, std::move(cells), members);
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
            skipBlanks();
            return finish(atEnd() ? std::optional<TGridJson>(std::move(grid)) : std::nullopt);
        }
    }

    // Reads what is left of the text, so that its source reaches its end.
    void drain() {
        while (!m_end) {
            s.clear();
            i = 0;
            more();
        }
    }

  private:
    // The column a member name stands for: a number written as the writer writes it (decimal
    // digits, no sign, no leading zero), else -1.
    static int columnOfName(const QString& name) {
        if (name.isEmpty() || name.size() > 9 || (name.size() > 1 && name[0] == u'0'))
            return -1;
        int c = 0;
        for (QChar ch : name) {
            if (ch < u'0' || ch > u'9')
                return -1;
            c = c * 10 + (ch.unicode() - u'0');
        }
        return c;
    }

    // Appends the next piece; false when there was none.
    bool more() {
        if (m_end)
            return false;
        const qsizetype before = s.size();
        if (!m_more(s))
            m_end = true;
        TMemory::AdviseLargePagesForHeap();
        return s.size() > before;
    }
    // Whether `n` bytes from the current one are there (reading pieces as needed).
    bool have(qsizetype n) {
        while (s.size() - i < n)
            if (!more() && m_end)
                return s.size() - i >= n;
        return true;
    }
    // Drops the bytes read so far; only between values, where nothing refers to them.
    void compact() {
        if (i >= (qsizetype(4) << 20)) {
            // Moved down in place rather than removed: the buffer then keeps its room at its end,
            // where the next pieces are deciphered into, and is never made anew.
            std::memmove(s.data(), s.constData() + i, size_t(s.size() - i));
            s.truncate(s.size() - i);
            i = 0;
        }
    }
    bool atEnd() { return !have(1); }
    char peek() { return have(1) ? s[i] : '\0'; }
    bool take(char c) {
        if (peek() != c || i >= s.size())
            return false;
        ++i;
        return true;
    }
    void skipSpace() {
        while (have(1) && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n'))
            ++i;
    }
    // Any bytes up to U+0020 (what trimming the whole text would remove), at its start and end.
    void skipBlanks() {
        while (have(1) && uchar(s[i]) <= 0x20)
            ++i;
    }
    // A string's body: from after its opening quote (`start`) to its closing quote (i, left on it),
    // whether an escape came (`escaped`) and a byte of a double-byte character or of none (`high`).
    // False when the text ends inside the string.
    // With `uEscapes`, each escape is checked as unescapeJson would resolve it: a letter other than
    // those JSON has makes it false; the offsets of "\\u" escapes (from `start`) are kept for their
    // digits to be checked once the body is whole.
    bool scanString(qsizetype& start, bool& escaped, bool& high, std::vector<qsizetype>* uEscapes = nullptr) {
        if (!take('"'))
            return false;
        start = i;
        escaped = false;
        high = false;
        bool closed = false;
        while (!closed) {
            // Two bytes ahead where the text has them, so a lead byte always sees its partner.
            if (i + 1 >= s.size() && !m_end) {
                more();
                continue;
            }
            const char* p = s.constData();
            const qsizetype stop = m_end ? s.size() : s.size() - 1;
            while (i < stop) {
                i += plainRun(p + i, stop - i);
                if (i >= stop)
                    break;
                const uchar b = uchar(p[i]);
                if (b == '"') {
                    closed = true;
                    break;
                }
                if (b == '\\') {
                    escaped = true;
                    high = high || (i + 1 < s.size() && uchar(p[i + 1]) >= 0x80);
                    if (uEscapes) {
                        const char e = i + 1 < s.size() ? p[i + 1] : '\0';
                        if (e == 'u')
                            uEscapes->push_back(i - start);
                        else if (!isSimpleEscape(e))
                            return false;
                    }
                    i += 2;
                } else if (isLeadByte(b) && i + 1 < s.size() && isTrailByte(uchar(p[i + 1]))) {
                    high = true;
                    const qsizetype run = doubleByteRun(p + i, stop - i);
                    i += run > 0 ? run : 2;
                } else {
                    high = high || b >= 0x80;
                    ++i;
                }
            }
            if (!closed && m_end)
                return false; // the text ends inside the string
        }
        return true;
    }

    // A string: its bytes up to the closing quote decoded from the code page in one piece (escapes
    // are ASCII, so they come through the decoding unchanged), then its escapes resolved.
    std::optional<QString> readString() {
        qsizetype start = 0;
        bool escaped = false, high = false;
        if (!scanString(start, escaped, high))
            return std::nullopt;
        const QString raw = codePageText(QByteArrayView(s.constData() + start, i - start), high);
        ++i; // the closing quote
        return escaped ? unescapeJson(raw) : raw;
    }

    // A string's body as the file holds it, its escapes checked as readString would resolve them
    // (StoredJsonStringText reads it later); nothing where readString would fail.
    std::optional<QByteArray> readStoredString() {
        const std::optional<QByteArrayView> bytes = readCheckedBody();
        if (!bytes)
            return std::nullopt;
        QByteArray page = m_packing ? m_packing->Spare() : QByteArray();
        page.resize(bytes->size()); // in the room it has when it held a page before
        std::memcpy(page.data(), bytes->data(), size_t(bytes->size()));
        return page;
    }

    // A string's body as the file holds it (valid until more is read), its escapes checked as
    // readString would resolve them; nothing where readString would fail.
    std::optional<QByteArrayView> readCheckedBody() {
        qsizetype start = 0;
        bool escaped = false, high = false;
        m_uEscapes.clear();
        if (!scanString(start, escaped, high, &m_uEscapes))
            return std::nullopt;
        const QByteArrayView body(s.constData() + start, i - start);
        for (const qsizetype at : m_uEscapes)
            if (!unicodeEscapeValid(body, at))
                return std::nullopt;
        ++i; // the closing quote
        return body;
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

    // A member's name as the column it stands for (-1 for a name that is no column); nothing when
    // no string is there.
    std::optional<int> readName() {
        if (!take('"'))
            return std::nullopt;
        // The common case, read without making a text: decimal digits right up to the closing quote.
        const qsizetype start = i;
        int c = 0;
        int digits = 0;
        while (digits < 9 && have(1) && s[i] >= '0' && s[i] <= '9') {
            c = c * 10 + (s[i] - '0');
            ++i;
            ++digits;
        }
        if (digits > 0 && have(1) && s[i] == '"' && !(digits > 1 && s[start] == '0')) {
            ++i;
            return c;
        }
        i = start - 1; // back to the opening quote (nothing was dropped meanwhile)
        const std::optional<QString> name = readString();
        if (!name)
            return std::nullopt;
        return columnOfName(*name);
    }

    // An object, each member handed to `onMember(column, value)`.
    // A row object (`rowObject`) with pages packed keeps its page's string as the file holds it
    // (m_storedPage) and hands an empty value in its place; the first member of the page's column
    // is the page, as it is for any column.
    template <typename F> bool readObject(F&& onMember, bool rowObject = false) {
        const TDepth depth(m_depth);
        if (rowObject) {
            m_storedPage.reset();
            m_storedCells.resize(0); // keeps its room
        }
        const bool storing = rowObject && m_storedLimit > 0;
        bool pageSeen = false;
        if (depth.tooDeep() || !take('{'))
            return false;
        skipSpace();
        if (take('}'))
            return true;
        while (true) {
            skipSpace();
            if (storing && takeStoredMembers()) {
                skipSpace();
                if (take(','))
                    continue;
                return take('}');
            }
            const std::optional<int> name = readName();
            skipSpace();
            if (!name || !take(':'))
                return false;
            skipSpace();
            if (storing && storable(*name) && peek() == '"') {
                if (!storeString(*name))
                    return false;
                skipSpace();
                if (take(','))
                    continue;
                return take('}');
            }
            std::optional<QString> value;
            const bool firstPage = rowObject && *name == ColHtml && !pageSeen;
            if (*name == ColHtml)
                pageSeen = true;
            if (firstPage && m_packPages && peek() == '"') {
                m_storedPage = readStoredString();
                if (!m_storedPage)
                    return false;
                value = QString();
            } else if (peek() == '"')
                value = readString();
            else if (peek() == '{' || peek() == '[')
                value = skipValue() ? std::optional<QString>(QString()) : std::nullopt;
            else
                value = readBare();
            if (!value)
                return false;
            onMember(*name, std::move(*value));
            skipSpace();
            if (take(','))
                continue;
            return take('}');
        }
    }

    // Whether a member of a row object keeps its string as the file holds it (m_storedCells): a
    // column KeptAsStored, the first member of its name.
    bool storable(int c) const {
        return c >= 0 && c < m_storedLimit && KeptAsStored(c) && !m_taken[size_t(c)];
    }

    // A storable member's string (from its opening quote), its escapes checked as readString would
    // resolve them, added to m_storedCells in the writer's own form ("12":"…").
    bool storeString(int c) {
        const std::optional<QByteArrayView> body = readCheckedBody();
        if (!body)
            return false;
        m_taken[size_t(c)] = 1;
        if (!m_storedCells.isEmpty())
            m_storedCells += ',';
        m_storedCells += '"';
        m_storedCells += QByteArray::number(c);
        m_storedCells += "\":\"";
        m_storedCells += *body;
        m_storedCells += '"';
        return true;
    }

    // From the start of a member (i), the storable members that follow one another in the writer's
    // own form ("12":"…" and a comma, nothing in between, their strings wholly read), in one sweep
    // and copied as they stand; a wide row is thousands of them. Stops at anything else, which the
    // member's full reading then reads. Returns whether any was taken (i is then after the last).
    bool takeStoredMembers() {
        const char* p = s.constData();
        const qsizetype end = s.size();
        qsizetype k = i, taken = i; // `taken`: the end of the last member taken
        while (k < end) {
            int c = 0;
            const qsizetype body = memberBody(p, k, end, c);
            if (body < 0 || !storable(c))
                break;
            const qsizetype close = stringBodyEnd(p, body, end);
            if (close < 0)
                break;
            m_taken[size_t(c)] = 1;
            taken = close + 1;
            if (taken >= end || p[taken] != ',')
                break;
            k = taken + 1;
        }
        if (taken == i)
            return false;
        if (!m_storedCells.isEmpty())
            m_storedCells += ',';
        m_storedCells.append(p + i, taken - i);
        i = taken;
        return true;
    }

    bool skipValue() {
        const TDepth depth(m_depth);
        if (depth.tooDeep())
            return false;
        skipSpace();
        if (peek() == '"')
            return readString().has_value();
        if (peek() == '{')
            return readObject([](int, QString&&) {});
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

    QByteArray s; // the text read so far, from its last compaction
    qsizetype i = 0;
    bool m_end = false;
    std::function<bool(QByteArray&)> m_more;
    bool m_packPages = false;
    TPackedTextBlocks m_blocks;             // for the pages this thread packs itself
    std::unique_ptr<TPageLine> m_packing;   // pages being packed, made with the first row
    std::optional<QByteArray> m_storedPage; // the page of the row object being read, as stored
    std::vector<qsizetype> m_uEscapes;      // kept for its room
    // With pages packed, the columns KeptAsStored of the rows after the first (below the first
    // row's member count) keep their strings as the file holds them, read when the table first
    // needs them: a wide table is a million small cells, and most are never looked at.
    int m_storedLimit = 0;
    std::vector<char> m_taken; // the columns of the row being read that have their cell
    QByteArray m_storedCells;  // the row's stored members, as TGridJson::storedCells
    int m_depth = 0;
};

TError damaged(const QString& why) {
    return MakeError(TErrc::Damaged, why);
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

// A member of a row's stored cells (TGridJson::storedCells): its column and its whole text.
struct TStoredMember {
    int col = 0;
    QByteArrayView text; // "12":"…"
    QByteArrayView body; // the string's body within it
};

// The members of a row's stored cells in turn, handed to `f` until it returns false; the text is
// the reader's own (each string read through before), so only its form is followed here.
template <typename F> void forEachStoredMember(QByteArrayView stored, F&& f) {
    const char* p = stored.data();
    const qsizetype end = stored.size();
    qsizetype k = 0;
    while (k < end) {
        int c = 0;
        const qsizetype body = memberBody(p, k, end, c);
        if (body < 0)
            return;
        const qsizetype close = stringBodyEnd(p, body, end, false);
        if (close < 0)
            return;
        TStoredMember member{c, QByteArrayView(p + k, close + 1 - k), QByteArrayView(p + body, close - body)};
        if (!f(member))
            return;
        k = close + 2; // past the comma
    }
}

// The same row object in the code page's bytes; `names` holds each member's name with its quotes
// and the colon ("\"7\":"), made once for the whole table; `stored`, members
// written as they stand, in the order of `order`.
void appendRowJsonBytes(QByteArray& out, const QStringList& cells, const QList<int>& order,
                        const QByteArrayList& names, std::optional<QByteArrayView> storedPage = std::nullopt,
                        const std::vector<TStoredMember>& stored = {}) {
    // Room for the longest form the row can take, made once; cut to what was written.
    qsizetype bound = 2;
    for (const TStoredMember& member : stored)
        bound += member.text.size();
    for (const int c : order)
        bound += 1 + names[c].size() +
                 (c == ColHtml && storedPage ? storedPage->size() + 2
                                             : escapedBound(c < cells.size() ? cells[c].size() : 0));
    const qsizetype start = out.size();
    out.resize(start + bound);
    char* to = out.data() + start;
    *to++ = '{';
    const QString none;
    size_t nextStored = 0;
    for (qsizetype k = 0; k < order.size(); ++k) {
        const int c = order[k];
        if (k > 0)
            *to++ = ',';
        if (nextStored < stored.size() && stored[nextStored].col == c) {
            // A stored member is the whole member, its name included.
            const QByteArrayView text = stored[nextStored++].text;
            std::memcpy(to, text.data(), size_t(text.size()));
            to += text.size();
            continue;
        }
        std::memcpy(to, names[c].constData(), size_t(names[c].size()));
        to += names[c].size();
        if (c == ColHtml && storedPage) {
            *to++ = '"';
            std::memcpy(to, storedPage->data(), size_t(storedPage->size()));
            to += storedPage->size();
            *to++ = '"';
            continue;
        }
        to = writeEscapedBytes(to, c < cells.size() ? cells[c] : none);
    }
    *to++ = '}';
    out.truncate(to - out.constData());
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
        return damaged(QStringLiteral("解密后的内容不是表格"));
    return std::move(*grid);
}

TResult<TGridJson> GridFromAnsiJsonPieces(const QByteArray& json, qsizetype pieceBytes) {
    qsizetype at = 0;
    TGridJsonReader reader([&](QByteArray& text) {
        const QByteArray piece = json.mid(at, std::max<qsizetype>(pieceBytes, 1));
        at += piece.size();
        text += piece;
        return !piece.isEmpty();
    });
    std::optional<TGridJson> grid = reader.read();
    if (!grid)
        return damaged(QStringLiteral("解密后的内容不是表格"));
    return std::move(*grid);
}

TGridJsonWriter::TGridJsonWriter(int colCount) : m_order(GridMemberOrder(colCount)) {
    for (int c = 0; c < colCount; ++c)
        m_names.append('"' + QByteArray::number(c) + "\":");
    m_rank.resize(colCount);
    for (qsizetype k = 0; k < m_order.size(); ++k)
        m_rank[m_order[k]] = int(k);
}

bool TGridJsonWriter::AppendRow(QByteArray& out, const QStringList& cells,
                                std::optional<QByteArrayView> storedPage, QByteArrayView storedCells) const {
    // The stored members are written as they stand when they come in the order the writer writes
    // its members and writing each one's text would give its very bytes.
    std::vector<TStoredMember> stored;
    bool asIs = true;
    int lastRank = -1;
    forEachStoredMember(storedCells, [&](const TStoredMember& member) {
        asIs = size_t(member.col) < m_rank.size() && m_rank[member.col] > lastRank &&
               StoredBodyIsWrittenAsIs(member.body);
        if (asIs) {
            lastRank = m_rank[member.col];
            stored.push_back(member);
        }
        return asIs;
    });
    if (!asIs)
        return false;
    appendRowJsonBytes(out, cells, m_order, m_names, storedPage, stored);
    return true;
}

void ReadStoredCells(QByteArrayView stored, QStringList& cells, int colCount) {
    forEachStoredMember(stored, [&](const TStoredMember& member) {
        if (member.col < colCount) {
            if (member.col >= cells.size())
                cells.resize(member.col + 1);
            cells[member.col] = StoredJsonStringText(member.body);
        }
        return true;
    });
}

void TGridJsonWriter::AppendRow(QByteArray& out, const QStringList& cells) const {
    appendRowJsonBytes(out, cells, m_order, m_names);
}

void TGridJsonWriter::AppendRow(QByteArray& out, const QStringList& cells, QByteArrayView storedPage) const {
    appendRowJsonBytes(out, cells, m_order, m_names, storedPage);
}

bool StoredBodyIsWrittenAsIs(QByteArrayView body) {
    const TRoundTrips& roundTrips = codePageRoundTrips();
    const char* p = body.data();
    const qsizetype n = body.size();
    qsizetype i = 0;
    while (i < n) {
        i += verbatimRun(p + i, n - i);
        if (i >= n)
            break;
        const uchar b = uchar(p[i]);
        if (b == '\\') {
            if (i + 1 >= n)
                return false;
            const char e = p[i + 1];
            if (e == '"' || e == '\\' || e == '/') {
                i += 2;
                continue;
            }
            // The writer's \u escapes: four lower-case digits, for U+0000 or a character the code
            // page does not hold.
            if (e != 'u' || i + 6 > n)
                return false;
            uint code = 0;
            for (qsizetype d = i + 2; d < i + 6; ++d) {
                const char h = p[d];
                if (h >= '0' && h <= '9')
                    code = code << 4 | uint(h - '0');
                else if (h >= 'a' && h <= 'f')
                    code = code << 4 | uint(h - 'a' + 10);
                else
                    return false;
            }
            if (code != 0 && (code < 0x80 || TAnsi::EncodedUnit(char16_t(code)) != 0xFFFF))
                return false;
            i += 6;
        } else if (b < 0x80) {
            return false; // a slash, a quote or U+0000, which the writer escapes
        } else if (isLeadByte(b) && i + 1 < n && isTrailByte(uchar(p[i + 1]))) {
            if (!roundTrips.pair[(b - 0x80) * 0x100 + uchar(p[i + 1])])
                return false;
            i += 2;
        } else {
            if (!roundTrips.single[b])
                return false;
            ++i;
        }
    }
    return true;
}

QString StoredJsonStringText(QByteArrayView body) {
    const bool high = std::any_of(body.begin(), body.end(), [](char b) { return uchar(b) >= 0x80; });
    const QString raw = codePageText(body, high);
    // A backslash in the decoded text is an escape: a trail byte 0x5C decodes within its character.
    if (!raw.contains(QLatin1Char('\\')))
        return raw;
    return unescapeJson(raw).value_or(QString());
}

std::optional<TGridJson> ReadGridJson(std::function<bool(QByteArray&)> more, bool packPages) {
    TGridJsonReader reader(std::move(more), packPages);
    std::optional<TGridJson> table = reader.read();
    reader.drain();
    return table;
}
