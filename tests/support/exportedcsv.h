#pragma once

// An exported package's CSV file read by its columns' names, as the assistant reads it: the first
// line is "version 1.00", the second names the columns ("title", "price", "skuProps", ...), the
// third holds their captions, and each line after them one item.

#include "testfiles.h"

#include <QList>
#include <QString>
#include <QStringList>

struct TExportedCsv {
    QStringList lines;        // every line, the empty text after the last line break included
    QStringList names;        // the second line's column names
    QList<QStringList> items; // each item line's fields

    static TExportedCsv Parse(const QString& text) {
        TExportedCsv csv;
        csv.lines = text.split(QLatin1Char('\n'));
        csv.names = csv.lines.value(1).split(QLatin1Char('\t'));
        for (qsizetype i = 3; i < csv.lines.size(); ++i)
            if (!csv.lines[i].isEmpty())
                csv.items.append(csv.lines[i].split(QLatin1Char('\t')));
        return csv;
    }
    // The UTF-16 file at `path` (no lines when it cannot be read or has no byte-order mark).
    static TExportedCsv Read(const QString& path) { return Parse(readUtf16File(path)); }

    // Item `item` (0 for the first)'s field in the column of this name, as written (quotes kept);
    // "<no column NAME>" for a name the file does not have, "<no item N>" beyond the last item.
    QString Field(int item, const QString& name) const {
        const qsizetype column = names.indexOf(name);
        if (column < 0)
            return QStringLiteral("<no column ") + name + QLatin1Char('>');
        if (item < 0 || item >= items.size())
            return QStringLiteral("<no item %1>").arg(item);
        return items[item].value(column);
    }
};

// A row of fields (a filled row template) by the column names of the given header line (the
// package's second line, its names separated by commas or tabs).
inline QString FieldByName(const QStringList& fields, const QString& header, const QString& name) {
    QString separated = header;
    separated.replace(QLatin1Char(','), QLatin1Char('\t'));
    const qsizetype column = separated.split(QLatin1Char('\t')).indexOf(name);
    return column < 0 ? QStringLiteral("<no column ") + name + QLatin1Char('>') : fields.value(column);
}
