#pragma once

#include <QAbstractTableModel>
#include <QPointer>

class TItemTable;

// Shows the item table through Qt's model/view, on the table's own thread (the core's, which is the
// window's). The table announces each change right after making it; the model follows at once.
// Row 0 (the captions) is an ordinary row, as it is in the table.
class TItemTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    explicit TItemTableModel(const TItemTable* table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // A cell's text as the window shows it: references decoded, and a delivery without its empty
    // parts (the stored text stays as it is).
    static QString ShownCellText(int col, const QString& stored);

  signals:
    // The table's column layout changed (reset, load or widening): views re-apply the widths.
    void columnLayoutChanged();

  private:
    void onRowsAppended(int first, int last);
    void onRowRemoved(int row);
    void onTableReset(int rowCount, int colCount);
    void onColumnCountChanged(int colCount);
    void onCellsChanged(int firstRow, int lastRow, int firstCol, int lastCol);

    QPointer<const TItemTable> m_table;
    int m_rows = 0;
    int m_cols = 0;
};
