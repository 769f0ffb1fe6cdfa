#pragma once

#include <QString>

// Text read out of HTML markup: what the page means, not how it is written.

// The text with its character references decoded: the named ones a marketplace page uses
// ("&nbsp;", "&amp;", "&lt;", "&gt;", "&quot;", "&apos;", "&yen;", "&middot;", "&times;", ...) and
// the numeric ones ("&#26159;", "&#x662F;"). A reference the function does not know, or one to no
// character, stays as it is written.
QString DecodeHtmlEntities(const QString& text);

// A value read out of markup (a title, an attribute's name or value, a caption): its references
// decoded, then white space of any kind (no-break spaces included) taken off both ends.
QString MarkupText(const QString& text);

// An address read out of a page: "&amp;" decoded (as a browser reads an attribute or an XHTML
// script), and nothing else changed.
QString MarkupAddress(const QString& address);
