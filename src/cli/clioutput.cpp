#include "cli/clioutput.h"

#include "app/appcore.h"
#include "base/itemcolumns.h"

#include <QTextStream>

QString FlatText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t' || u == u'\r' || u == u'\n')
            out += u' ';
        else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            out += QStringLiteral("\\x%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

void AppendJsonString(QString& out, const QString& text) {
    static const char Hex[] = "0123456789abcdef";
    out += QLatin1Char('"');
    const qsizetype n = text.size();
    qsizetype runStart = 0;
    auto flush = [&](qsizetype upTo) { out.append(QStringView(text).sliced(runStart, upTo - runStart)); };
    for (qsizetype k = 0; k < n; ++k) {
        const char16_t u = text[k].unicode();
        const bool pairStart = QChar::isHighSurrogate(u) && k + 1 < n && text[k + 1].isLowSurrogate();
        if (pairStart) {
            ++k;
            continue;
        }
        if (u >= 0x20 && u != u'"' && u != u'\\' && !QChar::isSurrogate(u))
            continue;
        flush(k);
        runStart = k + 1;
        switch (u) {
        case u'"':
            out += QLatin1String("\\\"");
            break;
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        case u'\b':
            out += QLatin1String("\\b");
            break;
        case u'\f':
            out += QLatin1String("\\f");
            break;
        default:
            out += QLatin1String("\\u");
            for (int shift = 12; shift >= 0; shift -= 4)
                out += QLatin1Char(Hex[(u >> shift) & 0xF]);
        }
    }
    flush(n);
    out += QLatin1Char('"');
}

void PrintItemTable(const TItemTable& items, bool json, QTextStream& out) {
    if (json) {
        // Written a row at a time: a large table never exists as one JSON text.
        out << '[';
        QString line;
        for (int r = 0; r < items.RowCount(); ++r) {
            const QStringList cells = items.RowCells(r); // the page opened for this row alone
            line.resize(0);
            line += QLatin1String(r > 0 ? ",[" : "[");
            for (qsizetype c = 0; c < cells.size(); ++c) {
                if (c > 0)
                    line += QLatin1Char(',');
                AppendJsonString(line, cells[c]);
            }
            line += QLatin1Char(']');
            out << line;
        }
        out << "]\n";
        return;
    }
    const int rowCount = items.RowCount();
    for (int r = 1; r < rowCount; ++r) {
        const QString mark =
            IsSelectedMark(items.Cell(ColSelect, r)) ? QStringLiteral("[x]") : QStringLiteral("[ ]");
        out << FlatText(items.Cell(ColNo, r)) << '\t' << mark << '\t' << FlatText(items.Cell(ColTitle, r))
            << '\t' << FlatText(items.Cell(ColPrice, r)) << '\t' << FlatText(items.Cell(ColDelivery, r))
            << '\n';
    }
}
