#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

class TAppCore;

// The Taobao Assistant data package: a "version 1.00" CSV file (UTF-16 little-endian with a
// byte-order mark, LF after every line, tab-separated) and, beside it, a picture folder of the
// same name.

// The header line of a kind: 0 the English names, 10 the Chinese ones; comma-separated.
QString CsvHeaderLine(int kind);

struct TExportJob {
    QString csvPath;       // folder + "KVR_" + 17-digit stamp + ".csv"
    QString pictureFolder; // the CSV path without ".csv"
};
// The package's names for a chosen folder at a moment.
TExportJob ExportJobFor(const QString& folder, const QDateTime& now = QDateTime::currentDateTime());

// The values one exported row puts into the template.
struct TExportValues {
    QString title, categoryId, price, province, city, quantity, description, goodsProp, pictures, sellProp,
        alias;
};

// The stored page with its line breaks removed and the sale-property list items and picture hosts
// rewritten (the old picture CDN domain of service.ini becomes the new one).
QString CleanPageText(const QString& html);
// The page's price, trimmed, every ".00" removed.
QString PriceFromPage(const QString& cleaned);
// The SKU field: for each sale-data entry that follows a comma, price:stock::path.
QString SkuField(const QString& saleReply, const QString& price);
// The alias field: each sale-property value id with its title, followed by ";".
QString AliasField(const QString& cleaned);
// The description prepared for a quoted field: no CR or LF, double quotes doubled.
QString DescriptionField(const QString& description);
// The template with its placeholders replaced in their fixed order, every comma then a tab.
QString FillTemplate(const QString& rowTemplate, const TExportValues& values);
// The file's bytes: the byte-order mark, then each line and LF, in UTF-16 little-endian.
QByteArray CsvFileBytes(const QStringList& lines);

// The export worker: reads the selected rows, fetches what each needs, and writes the file once
// at the end. Reports through the core's run log, status text, caption and busy state.
void ExportCsv(TAppCore& core, const TExportJob& job);
// Creates the picture folder and starts the worker on a thread of its own; the caller has
// checked that the CSV file is not in use.
void StartExport(TAppCore& core, const TExportJob& job);

// The message shown while the CSV file is in use.
QString FileInUseMessage();
