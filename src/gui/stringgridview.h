#pragma once

#include <QPixmap>
#include <QTableView>

class QMenu;
class QAction;
class TAppCore;
class TItemTableModel;

// The item table on screen. Row 0 shows the captions as an ordinary row; columns of width -1
// are hidden; the selection column of data rows is drawn with the check-box pictures. The current
// cell and the columns' widths are the view's own; the table's changes go through the core.
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

    // Makes (col, row) the current cell.
    void SetCurrentCell(int col, int row);

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
    QPixmap m_fcheck;
    QPixmap m_fnocheck;
    QMenu* m_popup;
    QAction* m_editAction;
    QAction* m_deleteSelectedAction;
    QAction* m_deleteAction;
};

// Builds the two check-box pictures from the platform style's check-box indicator.
QPixmap MakeCheckPicture(bool checked);
