#pragma once

#include "base/itemcolumns.h"
#include "base/result.h"
#include "table/packedtext.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

// The item table's JSON text as the grid file keeps it (enciphered), and its reading back.

// The JSON text of a table: one object per row, members named by column index in the order of
// their name hash; ", \, / and U+0000 escaped, and characters the code page cannot hold written as
// \u escapes (surrogate pairs beyond U+FFFF).
QString GridToJson(const QList<QStringList>& rows, int colCount);
// Reads the rows of the JSON text from its bytes in the ANSI code page; accepts raw control
// characters inside strings. Fails (TErrc::Damaged) when the text is no JSON array whose first
// element is an object. Each row holds the cells of the first element's member count (at least the twelve
// fixed columns); `complete` is false when an element that is no object cut the rows short.
struct TGridJson {
    QList<QStringList> rows; // the rows read, in order
    // With the pages packed (ReadGridJson's packPages): each row's page (PackedText), parallel to
    // rows, whose ColHtml cells are empty then.
    QList<TPackedText> pages;
    // With the pages packed, also each row's cells of the columns KeptAsStored whose values are
    // strings, as the file holds them (parallel to rows, their cells empty in rows;
    // ReadStoredCells reads them): members in the writer's form, "12":"…", joined by commas.
    QList<QByteArray> storedCells;
    int colCount = 0;
    int elementCount = 0; // the elements of the array (rows read or not)
    bool complete = true;
};
TResult<TGridJson> GridFromAnsiJson(const QByteArray& json);
// The same, the text handed to the reader in pieces of `pieceBytes` as a file's are (the file's
// pieces are large; any size reads the same table).
TResult<TGridJson> GridFromAnsiJsonPieces(const QByteArray& json, qsizetype pieceBytes);
// The order in which the members of a row object are written.
QList<int> GridMemberOrder(int colCount);

// Writes the row objects of a table of `colCount` columns in the code page's bytes, the member
// names made once for the whole table.
class TGridJsonWriter {
  public:
    explicit TGridJsonWriter(int colCount);
    // Appends one row object to `out`.
    void AppendRow(QByteArray& out, const QStringList& cells) const;
    // The same with the page's cell written as `storedPage`, the body of its string as the file
    // held it, when StoredBodyIsWrittenAsIs says that is what writing its text would give.
    void AppendRow(QByteArray& out, const QStringList& cells, QByteArrayView storedPage) const;
    // The same with some cells as the file held them (TGridJson::storedCells), their cells in
    // `cells` empty, and the page as stored when there is one. False, and nothing appended, when
    // writing those cells' text would not give those very members (another order, another
    // spelling): the caller reads them (ReadStoredCells) and writes the row anew.
    bool AppendRow(QByteArray& out, const QStringList& cells, std::optional<QByteArrayView> storedPage,
                   QByteArrayView storedCells) const;

  private:
    QList<int> m_order;
    std::vector<int> m_rank; // where each column's member stands in m_order
    QByteArrayList m_names;  // "\"7\":"
};

// The columns whose string cells a loaded table keeps as the file held them
// (TGridJson::storedCells) until one is needed: the long texts no view shows at the start (the
// description, the edited description, the properties) and the attribute columns, of which a wide
// table has thousands.
inline bool KeptAsStored(int col) {
    return col >= ColFirstAttribute || col == ColDetail || col == ColProps || col == ColLocalDetail;
}

// Reads a row's stored cells (TGridJson::storedCells) into `cells`, the columns below `colCount`.
void ReadStoredCells(QByteArrayView stored, QStringList& cells, int colCount);

// The text of a string's body as the grid file stores it (the code page's bytes, with escapes),
// read as the table reader reads it; a body the reader would refuse gives the empty text. Opens a
// page packed with PackedText::PackStored.
QString StoredJsonStringText(QByteArrayView body);
// Whether writing the text of such a body (StoredJsonStringText) gives these very bytes again: a
// page this program wrote is kept as it is through a load and a save, with no decoding or escaping
// in between. False for anything the writer would write otherwise (an escape it does not use, an
// upper-case digit, an unescaped slash, a character the code page would encode differently).
bool StoredBodyIsWrittenAsIs(QByteArrayView body);

// Reads the rows of the JSON text as `more` hands it over (appending the next piece to its argument,
// false at the end), and the rest of the pieces after the table, so that a fault at the very end of
// the source is found; nothing when the text is no table. With `packPages` each row's page is packed
// as soon as its row is read (see TGridJson::pages), as the bytes the file holds when it is a
// string (PackedText::PackStored), so that no page is decoded until it is opened.
std::optional<TGridJson> ReadGridJson(std::function<bool(QByteArray&)> more, bool packPages = false);
