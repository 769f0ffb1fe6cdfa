#pragma once

#include "base/result.h"
#include "web/textsearch.h"

#include <QString>
#include <QStringList>

#include <stdexcept>

// A pattern the engine refused (or could not run). Raised by every pattern helper except
// FindsStr, so a caller can tell a broken pattern from a pattern that found nothing.
class TPatternError : public std::runtime_error {
  public:
    TPatternError(const QString& pattern, const QString& message);
    QString Pattern;
    QString Message;
};

// The pattern operations the scrapers, crawlers and the export read pages with. Each thread keeps
// the expressions it has compiled (a few hundred at most) and shares none of them, so calls from
// several threads need no lock.
//
// FindsStr, FindSList, FindSItem and MergeString give patterns their script-engine (ECMAScript)
// meaning: "." stops at LF, CR, U+2028 and U+2029; "^" and "$" anchor at the ends of the whole
// text; \d, \w and \s are the script-engine classes; letter case is folded the script engine's way
// when matching ignores case. FindSListNew uses the engine's own (Perl-compatible) meaning.
namespace TPatterns {

// A text made ready for the pattern engine, which works on well-formed UTF-16 only: a lone
// surrogate (a decoded page never holds one, but a cell may) becomes U+FFFD, every position kept.
// The operations below take one; a QString converts on the spot, checked at that call. To run
// many patterns over one page, make one of these first and the page is checked once.
class TPatternText {
  public:
    TPatternText(const QString& text); // NOLINT(google-explicit-constructor): a QString converts
    // The text (a part of a larger one shares its storage).
    QStringView View() const { return QStringView(m_text).sliced(m_from, m_size); }
    QString Text() const { return View().toString(); }
    // The part [from, from + size) of this text, without a copy. The part never splits a character
    // beyond U+FFFF when its ends come from a match (the engine works on whole characters).
    TPatternText Part(qsizetype from, qsizetype size) const;

  private:
    TPatternText() = default;
    QString m_text;
    qsizetype m_from = 0;
    qsizetype m_size = 0;
};

// Group 1 of the first match (the whole match when AddMatch), case-sensitive. Never raises: a
// broken pattern gives the empty text, as does a pattern without a group when AddMatch is false.
QString FindsStr(const QString& pattern, const TPatternText& html, bool AddMatch);

// Group 1 of the first match, case-sensitive, as a part of `html` (no copy), for running more
// patterns over it; the empty text when nothing matches. Never raises (as FindsStr).
TPatternText FindsText(const QString& pattern, const TPatternText& html);

// Every match, ignoring case: each match's whole text (when AddMatch) followed by each of its
// groups in order; a group that took no part gives an empty entry.
QStringList FindSList(const QString& pattern, const TPatternText& html, bool AddMatch);

// Entry d (0-based) of FindSList, or the empty text when there is no such entry.
QString FindSItem(const QString& pattern, const TPatternText& html, int d, bool AddMatch);

// Every whole match ignoring case, cut to its characters from 1-based position s up to
// length - d, trimmed of characters up to U+0020, each followed by "^".
QString MergeString(const QString& pattern, const TPatternText& html, int s, int d);

// Every match with the Perl-compatible meaning, case-sensitive. Each match contributes its groups
// from group 0 up to the last group that took part; without AddMatch a group that starts where the
// whole match starts is left out (group 0 always is).
QStringList FindSListNew(const QString& pattern, const TPatternText& text, bool AddMatch);

// Whether the engine takes a script-engine pattern (for a pattern made from outside text);
// TErrc::Refused with the engine's reason when it does not.
TStatus Validate(const QString& pattern);

// The pieces of Source between occurrences of Deli; always at least one entry.
QStringList SplitString(const QString& Source, const QString& Deli);

// The script-engine pattern rewritten for the Perl-compatible engine, with letter case folded in
// the pattern itself when ignoreCase is set. Raises TPatternError for a class left open.
QString EcmaToPcre(const QString& pattern, bool ignoreCase);

} // namespace TPatterns
