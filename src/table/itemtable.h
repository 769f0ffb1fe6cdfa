#pragma once

#include "base/itemcolumns.h"
#include "table/packedtext.h"

#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class TItemTable;

// Access to the table handed to the body of AppendRow: a row append (reserving the index,
// numbering, marking and filling the row, widening the table and naming attribute columns in the
// caption row) runs as one unit.
class TRowWriter {
  public:
    int Row() const { return m_row; }
    // The appended row's identity (see TItemTable::RowId).
    quint64 Id() const;
    void SetCell(int col, const QString& text);          // a cell of the appended row
    void SetCell(int col, int row, const QString& text); // any existing cell, e.g. a caption
    // The appended row's page (ColHtml), packed already (PackedText::Pack).
    void SetPackedPage(const TPackedText& packed);
    QString Cell(int col, int row) const;
    int ColCount() const;
    void WidenTo(int colCount); // never narrows
    // The attribute columns (from ColFirstAttribute on) whose caption equals `folded`, a name with
    // its letter case folded (QString::toCaseFolded), in ascending order; found by hashing.
    QList<int> AttributeColumnsNamed(const QString& folded) const;

  private:
    friend class TItemTable;
    TRowWriter(TItemTable& table, int row) : m_table(table), m_row(row) {}
    TItemTable& m_table;
    int m_row;
};

// A change of the parts of an item that the editor and `tovrel-cli edit` change; a part without a
// value stays as it is.
struct TItemEdit {
    std::optional<QString> Title;       // ColTitle
    std::optional<QString> Category;    // ColCategory
    std::optional<QString> Price;       // ColPrice
    std::optional<QString> Delivery;    // ColDelivery
    std::optional<QString> LocalDetail; // ColLocalDetail, the edited description
};

// A copy of one row with its identity. The page (ColHtml) stays packed until it is asked for.
struct TRowCopy {
    quint64 Id = 0;
    QStringList Cells;      // padded to ColCount; the page's cell is empty here (see Cell)
    TPackedText PackedPage; // the page, packed
    // Only in a copy made by TItemTable::RowAsStored: cells not read since the load, as the file
    // held them (TGridJson::storedCells); their cells are empty in Cells.
    QByteArray StoredCells;
    QString Cell(int col) const;
};

// The item table: a rectangle of text cells whose row 0 holds the captions and whose rows 1 to
// RowCount - 1 hold one item each. It belongs to the thread it lives on (the core's) and is used
// there only: a job hands its changes over through TTableChanges, and reads the copies it took when
// it started. A debug build checks the thread at every use.
//
// Rows move when rows above them are deleted, so work that outlives a moment (a picture download, an
// export) holds a row by its identity: a number given to the row when it enters the table, never
// reused and never stored in the grid file. A write through an identity reaches that row wherever
// it now stands, or nothing when the row is gone. Changes are announced by signals, right after
// each change, in the order the changes were made.
class TItemTable : public QObject {
    Q_OBJECT
  public:
    explicit TItemTable(QObject* parent = nullptr);

    int RowCount() const;
    int ColCount() const;
    QString Cell(int col, int row) const;
    // Writes one existing cell; returns false (and changes nothing) outside the table.
    bool SetCell(int col, int row, const QString& text);

    // The identity of a row (0 for a row that does not exist), and where a row now stands (-1 when
    // it is gone).
    quint64 RowId(int row) const;
    int RowOfId(quint64 id) const;
    QString CellOfRow(quint64 id, int col) const;
    // Writes one cell of the row with this identity; false (and nothing written) when it is gone.
    bool SetCellOfRow(quint64 id, int col, const QString& text);
    // Copies of the selected data rows, in table order.
    QList<TRowCopy> SelectedRows() const;
    // How many data rows there are, and how many of them are selected (those SelectedRows copies).
    struct TSelectionCount {
        int items = 0;
        int selected = 0;
    };
    TSelectionCount SelectionCount() const;

    // Writes the parts of an item that the edit names, as one change, into the row with this
    // identity; false (nothing written) when it is gone or is no usable row.
    bool EditRow(quint64 id, const TItemEdit& edit);
    // Writes `text` into one column of every selected data row; returns how many rows that was.
    int SetCellOfSelectedRows(int col, const QString& text);
    // Writes values[i] into one column of data row i + 1, for every value, as one change; false
    // (nothing written) when there are more values than data rows.
    bool SetColumnFromFirstRow(int col, const QStringList& values);

    // A number that grows with every change of the table (to tell whether it needs saving).
    quint64 Revision() const;

    // Empties the table and restores the twelve fixed columns with their captions.
    void ResetGrid();

    // Appends one data row: numbers it, marks it selected, then runs `fill`.
    // Returns the new row's index.
    int AppendRow(const std::function<void(TRowWriter&)>& fill = {});

    // Deletes data row `row` (an index, not an identity) and renumbers the rows below it; returns
    // false for the caption row or a row that does not exist.
    bool StringGridDel(int row);

    // Deletes every selected data row and renumbers the rest; returns how many went.
    int DeleteSelectedRows();

    void SelectAll();
    void InvertSelection();
    // Flips the mark of one data row: exactly " " becomes empty, anything else becomes " ".
    bool ToggleMark(int row);

    // A data row whose ColNo cell is not empty.
    bool IsUsableRow(int row) const;
    static bool IsSelectedMark(const QString& mark) { return ::IsSelectedMark(mark); }

    // A copy of one row's cells, padded to ColCount (empty cells for a row that does not exist).
    QStringList RowCells(int row) const;
    // The same with its page still packed (the page's cell empty); a row that does not exist is
    // empty cells and no page.
    TRowCopy RowCopy(int row) const;
    // The same for writing the row to the grid file: cells not read since the load stay as the
    // file held them (TRowCopy::StoredCells).
    TRowCopy RowAsStored(int row) const;
    // A copy of every row (caption row included), each padded to ColCount cells.
    QList<QStringList> Snapshot() const;
    // Replaces the whole table at once (used when a saved table is loaded). Rows may differ in
    // length; the column count becomes `colCount`, or max(ColFixedCount, longest row) when it is -1.
    void Replace(const QList<QStringList>& rows, int colCount = -1);
    // The same with the rows' pages packed already (a row's ColHtml cell is not read then): the
    // loader packs each page as it reads it, so the table's whole text never is in memory at once.
    // `storedCells` (parallel to rows, or empty) holds rows' cells as the file held them
    // (TGridJson::storedCells); they are read when first needed.
    void Replace(QList<QStringList>&& rows, int colCount, QList<TPackedText>&& packedPages,
                 QList<QByteArray>&& storedCells = {});

    static QStringList FixedCaptions() { return ::FixedCaptions(); }

  signals:
    void rowsAppended(int first, int last);
    void rowRemoved(int row);
    void tableReset(int rowCount, int colCount);
    void columnCountChanged(int colCount);
    void cellsChanged(int firstRow, int lastRow, int firstCol, int lastCol);

  private:
    friend class TRowWriter;
    // The thread check of every member.
    void ownThread() const;
    int rowOfId(quint64 id) const;
    QString cellAt(int col, int row) const;
    // Reads a row's stored cells into its cells, once.
    void openRow(int row) const;
    void setCellAt(int col, int row, const QString& text);
    void widen(int colCount);
    // How many captions of the table equal `folded` (letter case folded); kept as captions change,
    // made afresh after a reset or a load.
    QList<int> attributeColumnsNamed(const QString& folded) const;

    // Adds a row at the end (its page taken out of its cells and packed).
    void appendRow(QStringList cells);

    // m_rows.size() is RowCount; a row may hold fewer cells than ColCount: missing cells are empty.
    // A row's page (ColHtml) is not among its cells but in m_pages, packed: it takes most of the
    // table's room, and only jobs and the save read it.
    // A loaded row's cells of the columns KeptAsStored (its attribute cells, its long texts) stay
    // in m_storedCells, as the file held them, until one of them is read or written (openRow), or
    // a save writes them as they are: a wide table's million small cells cost next to nothing
    // until they are looked at. Both are mutable for that first reading, which changes no text.
    mutable QList<QStringList> m_rows;
    QList<TPackedText> m_pages;              // parallel to m_rows
    mutable QList<QByteArray> m_storedCells; // parallel to m_rows; empty once read
    QList<quint64> m_ids;                    // the identity of each row, parallel to m_rows
    quint64 m_nextId = 1;
    quint64 m_revision = 0;
    int m_colCount = ColFixedCount;
    // The attribute columns by folded caption, built when first asked for and kept up to date.
    mutable QHash<QString, QList<int>> m_captionColumns;
    mutable bool m_captionColumnsValid = false;
    void captionChanged(int col, const QString& from, const QString& to);
};

// How a job changes the table without touching it: each change is handed over (from any thread)
// and applied on the table's own thread, in the order handed over.
class TTableChanges {
  public:
    virtual ~TTableChanges() = default;
    virtual void Apply(std::function<void(TItemTable&)> change) = 0;
};

// Changes handed over from any thread and kept until the table's thread applies them (Drain).
// `wake`, when given, is called (on the handing thread) when the first change arrives after a
// drain, so that the table's thread can be asked to drain.
class TTableChangeQueue : public TTableChanges {
  public:
    explicit TTableChangeQueue(TItemTable& table, std::function<void()> wake = {});
    void Apply(std::function<void(TItemTable&)> change) override;
    // Applies every change handed over so far; on the table's thread.
    void Drain();

  private:
    TItemTable& m_table;
    std::function<void()> m_wake;
    QMutex m_lock;
    QList<std::function<void(TItemTable&)>> m_pending;
};

// The delete operation under the name the rest of the program uses.
inline bool StringGridDel(TItemTable& table, int row) {
    return table.StringGridDel(row);
}
