#pragma once

#include "base/job.h"
#include "base/servicekeys.h"
#include "table/itemtable.h"
#include "web/patterns.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

class TPageCache;

// The Taobao Assistant data package: a "version 1.00" CSV file (UTF-16 little-endian with a
// byte-order mark, LF after every line, tab-separated) and, beside it, a picture folder of the
// same name.

// The header line of a kind: 0 the English names, 10 the Chinese ones; comma-separated.
QString CsvHeaderLine(int kind);

struct TExportJob {
    QString csvPath;       // folder + "KVR_" + 17-digit stamp + ".csv"
    QString pictureFolder; // the CSV path without ".csv"
    // Taken when the export starts: the selected rows, and the table's row count (caption row
    // included) for the hint line. Rows deleted or added meanwhile do not change the export.
    QList<TRowCopy> rows;
    int tableRowCount = 1;
    // How many rows are fetched at once (each row's requests one after another, at most six to one
    // host at a time); the package is the same for any number.
    int rowsAtOnce = 8;
};
// The package's names for a chosen folder at a moment.
TExportJob ExportJobFor(const QString& folder, const QDateTime& now = QDateTime::currentDateTime());

// The values one exported row puts into the template.
struct TExportValues {
    QString title, categoryId, price, province, city, quantity, description, goodsProp, pictures, sellProp,
        alias;
};

// The stored page with its line breaks removed and the sale-property list items and picture hosts
// rewritten (the old picture CDN domain of `service` becomes the new one; by default the built-in
// domains).
QString CleanPageText(const QString& html, const TServiceSnapshot& service = TServiceSnapshot());
// The main pictures' addresses of a cleaned item page, as written there.
QStringList MainPictureAddresses(const TPatterns::TPatternText& cleanedText);
// The sale-property block of a cleaned item page, and the picture addresses in such a block.
QString SalePropertyBlock(const QString& cleaned);
QStringList SalePropertyPictureAddresses(const QString& block);
// A price as the package carries it: trimmed, every ".00" removed.
QString ExportPrice(const QString& price);
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

// The export job: fetches what each row of the snapshot needs and writes the file once at the end
// (a stopped export writes none). Reports through the job's run log and status text; the page
// cache (when given) serves the property lookups.
TJobResult ExportCsv(const TJobContext& job, const TExportJob& exportJob, TPageCache* cache);

// The message shown while the CSV file is in use.
QString FileInUseMessage();
