#pragma once

#include <QAbstractTableModel>
#include <QPointer>

class TItemTable;

// Shows a TItemTable through Qt's model/view on the thread that owns this object (the
// user-interface thread). The table announces its changes from whatever thread made them; those
// notifications are queued here and replayed in order, so the shape this model reports always
// follows the order of the changes. Row 0 (the captions) is an ordinary row, as it is in the table.
class TItemTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit TItemTableModel(TItemTable* table, QObject* parent = nullptr);

    TItemTable* Table() const { return m_table; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  signals:
    // The table's column layout changed (reset, load or widening): views re-apply the widths.
    void columnLayoutChanged();

  private:
    void onRowsAppended(int first, int last);
    void onRowRemoved(int row);
    void onTableReset(int rowCount, int colCount);
    void onColumnCountChanged(int colCount);
    void onCellsChanged(int firstRow, int lastRow, int firstCol, int lastCol);

    QPointer<TItemTable> m_table;
    int m_rows = 0;
    int m_cols = 0;
};
