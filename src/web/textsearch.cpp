#include "web/textsearch.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <string>

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

} // namespace

qsizetype TPatterns::FindLiteral(QStringView text, QStringView word) {
    return findUnits(text, word, false);
}

qsizetype TPatterns::FindLastLiteral(QStringView text, QStringView word) {
    return findUnits(text, word, true);
}

qsizetype TPatterns::FindBytes(QByteArrayView bytes, QByteArrayView word) {
    return findUnitsIn(bytes.data(), bytes.size(), word.data(), word.size(), false);
}
