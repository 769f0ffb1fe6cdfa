#pragma once

#include <QString>

// Removes leading and trailing characters U+0000 to U+0020 (spaces and control characters), the
// program's one meaning of "trim".
inline QString TrimText(const QString& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && text[b].unicode() <= 0x20)
        ++b;
    while (e > b && text[e - 1].unicode() <= 0x20)
        --e;
    return text.mid(b, e - b);
}
