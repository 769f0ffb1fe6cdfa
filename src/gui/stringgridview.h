#pragma once

#include <QCollator>
#include <QPixmap>
#include <QSortFilterProxyModel>
#include <QTableView>

class QMenu;
class QAction;
class TAppCore;
class TItemTableModel;

// The item rows as the view shows them: the table's rows 1 on (row 0, the captions, is the
// header), sorted by a column when the seller asks for it. Sorting is the view's only: the table
// keeps its rows in their stored order. Cells compare as a reader expects ("9.50" before "128.00",
// Chinese by its usual order).
class TItemRowsProxy : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    explicit TItemRowsProxy(QObject* parent = nullptr);
    void setSourceModel(QAbstractItemModel* source) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

  private:
    QCollator m_collator;
};

// The item table on screen. The header shows the caption row and stays in view; a click on a
// caption sorts by that column, a second click the other way, a third restores the stored order.
// Columns of width -1 are hidden, the others can be widened; the selection column is drawn with
// the check-box pictures. Row numbers given to and taken from the view (Row, SetCurrentCell) are
// the table's, whatever the order shown. The current cell and the columns' widths are the view's
// own; the table's changes go through the core.
//
// Mouse rules: a press over a cell (any button) makes its row current and keeps the current
// column, a left press also moves the column; a release over the current cell of the selection
// column flips that row's mark; a double click on a usable row opens its link.
class TStringGridView : public QTableView {
    Q_OBJECT
  public:
    TStringGridView(TAppCore* core, QWidget* parent = nullptr);

    TItemTableModel* Model() const { return m_model; }
    // The current cell (0 and 0 before there is one).
    int Row() const;
    int Col() const;

    // The checked and unchecked pictures; set once at start-up.
    void SetCheckPictures(const QPixmap& fcheck, const QPixmap& fnocheck);
    QPixmap CheckPicture(bool checked) const { return checked ? m_fcheck : m_fnocheck; }

    // The context menu and its two entries, shown only for a usable current row.
    QMenu* PopupMenuGrid() const { return m_popup; }
    QAction* EditAction() const { return m_editAction; }
    QAction* DeleteAction() const { return m_deleteAction; }
    // "删除选中": the ticked rows; also the Delete key.
    QAction* DeleteSelectedAction() const { return m_deleteSelectedAction; }
    // Sets the entries' visibility for the current row; run each time the menu opens.
    void PopupMenuGridPopup();

    // Makes (col, row) the current cell; row is the table's (row 0, the captions, clears it).
    void SetCurrentCell(int col, int row);
    // Where the view shows the table's cell (col, row); invalid for row 0.
    QModelIndex IndexOf(int col, int row) const;
    // The table's row of a cell the view shows (0 for an invalid index).
    int TableRow(const QModelIndex& index) const;

  signals:
    // The current cell moved (by mouse, keyboard or the press rule).
    void StringGrid1Click();

  protected:
    // Space ticks or unticks the current row; Delete deletes the ticked rows (after a question).
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

  private:
    void applyColumnLayout();

    TAppCore* m_core;
    TItemTableModel* m_model;
    TItemRowsProxy* m_rows;
    int m_laidOutCols = 0; // the columns given their first width
    QPixmap m_fcheck;
    QPixmap m_fnocheck;
    QMenu* m_popup;
    QAction* m_editAction;
    QAction* m_deleteSelectedAction;
    QAction* m_deleteAction;
};

// Builds the two check-box pictures from the platform style's check-box indicator.
QPixmap MakeCheckPicture(bool checked);
