#include "app/itemtablemodel.h"

#include "base/htmltext.h"
#include "table/itemtable.h"

#include <algorithm>

TItemTableModel::TItemTableModel(const TItemTable* table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table), m_rows(table->RowCount()), m_cols(table->ColCount()) {
    connect(table, &TItemTable::rowsAppended, this, &TItemTableModel::onRowsAppended);
    connect(table, &TItemTable::rowRemoved, this, &TItemTableModel::onRowRemoved);
    connect(table, &TItemTable::tableReset, this, &TItemTableModel::onTableReset);
    connect(table, &TItemTable::columnCountChanged, this, &TItemTableModel::onColumnCountChanged);
    connect(table, &TItemTable::cellsChanged, this, &TItemTableModel::onCellsChanged);
}

int TItemTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int TItemTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_cols;
}

QVariant TItemTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !m_table)
        return {};
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    QString text = m_table->Cell(index.column(), index.row());
    // A cell may hold a whole page; a view only needs its first screenful.
    if (text.size() > 1000)
        text.truncate(1000);
    text = ShownCellText(index.column(), text);
    // A tooltip for a text too long to read in its column (a title), the caption row aside.
    if (role == Qt::ToolTipRole)
        return index.row() > 0 && text.size() > 20 ? QVariant(text) : QVariant();
    return text;
}

QString TItemTableModel::ShownCellText(int col, const QString& stored) {
    // References the page wrote ("&nbsp;", "&amp;") read as the characters they stand for.
    QString text = stored.contains(QLatin1Char('&')) ? DecodeHtmlEntities(stored) : stored;
    if (col != ColDelivery)
        return text;
    // The delivery's parts ("from-to;carriage;time") without the ones the marketplace left empty
    // or wrote as null: a delivery with no data shows empty.
    QStringList shown;
    const QStringList parts = text.split(QLatin1Char(';'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QString part = parts[i];
        part.remove(QStringLiteral("null"));
        part = part.trimmed();
        if (i == 0) {
            QStringList ends = part.split(QLatin1Char('-'));
            ends.removeAll(QString());
            part = ends.join(QLatin1Char('-'));
        }
        if (!part.isEmpty())
            shown.append(part);
    }
    return shown.join(QLatin1Char(';'));
}

Qt::ItemFlags TItemTableModel::flags(const QModelIndex& index) const {
    // Cells are never edited in place.
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TItemTableModel::onRowsAppended(int first, int last) {
    Q_UNUSED(first);
    if (last < m_rows)
        return;
    beginInsertRows(QModelIndex(), m_rows, last);
    m_rows = last + 1;
    endInsertRows();
}

void TItemTableModel::onRowRemoved(int row) {
    if (row < 0 || row >= m_rows)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    --m_rows;
    endRemoveRows();
}

void TItemTableModel::onTableReset(int rowCount, int colCount) {
    beginResetModel();
    m_rows = rowCount;
    m_cols = colCount;
    endResetModel();
    emit columnLayoutChanged();
}

void TItemTableModel::onColumnCountChanged(int colCount) {
    if (colCount > m_cols) {
        beginInsertColumns(QModelIndex(), m_cols, colCount - 1);
        m_cols = colCount;
        endInsertColumns();
    } else if (colCount < m_cols) {
        beginRemoveColumns(QModelIndex(), colCount, m_cols - 1);
        m_cols = colCount;
        endRemoveColumns();
    }
    emit columnLayoutChanged();
}

void TItemTableModel::onCellsChanged(int firstRow, int lastRow, int firstCol, int lastCol) {
    lastRow = std::min(lastRow, m_rows - 1);
    lastCol = std::min(lastCol, m_cols - 1);
    if (firstRow < 0 || firstCol < 0 || firstRow > lastRow || firstCol > lastCol)
        return;
    emit dataChanged(index(firstRow, firstCol), index(lastRow, lastCol), {Qt::DisplayRole});
}
