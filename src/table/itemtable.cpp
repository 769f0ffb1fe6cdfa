#include "table/itemtable.h"

#include <QMutexLocker>

#include <algorithm>

quint64 TRowWriter::Id() const {
    return m_table.m_ids.value(m_row);
}

void TRowWriter::SetCell(int col, const QString& text) {
    m_table.setCellLocked(col, m_row, text);
}

void TRowWriter::SetCell(int col, int row, const QString& text) {
    m_table.setCellLocked(col, row, text);
}

QString TRowWriter::Cell(int col, int row) const {
    return m_table.cellLocked(col, row);
}

int TRowWriter::ColCount() const {
    return m_table.m_colCount;
}

void TRowWriter::WidenTo(int colCount) {
    m_table.widenLocked(colCount);
}

int TRowWriter::CaptionCount(const QString& folded) const {
    return m_table.captionCountLocked(folded);
}

int TItemTable::captionCountLocked(const QString& folded) const {
    if (!m_captionCountsValid) {
        m_captionCounts.clear();
        for (int c = 0; c < m_colCount; ++c)
            ++m_captionCounts[cellLocked(c, 0).toCaseFolded()];
        m_captionCountsValid = true;
    }
    return m_captionCounts.value(folded);
}

TItemTable::TItemTable(QObject* parent) : QObject(parent) {
    m_rows.append(FixedCaptions());
    m_ids.append(m_nextId++);
    SetGridColWidths();
}

QStringList TItemTable::FixedCaptions() {
    return {QStringLiteral("序号"),     QStringLiteral("选择"),         QStringLiteral("商品名称"),
            QStringLiteral("商品分类"), QStringLiteral("价格"),         QStringLiteral("配送方式"),
            QStringLiteral("商品详情"), QStringLiteral("html"),         QStringLiteral("宝贝属性"),
            QStringLiteral("宝贝连接"), QStringLiteral("商品详情本地"), QStringLiteral("图片水印")};
}

QList<int> TItemTable::FixedColWidths() {
    return {35, 35, 350, 100, 100, 80, -1, -1, -1, -1, -1, 100};
}

int TItemTable::RowCount() const {
    QMutexLocker lock(&m_lock);
    return int(m_rows.size());
}

int TItemTable::ColCount() const {
    QMutexLocker lock(&m_lock);
    return m_colCount;
}

QString TItemTable::cellLocked(int col, int row) const {
    if (row < 0 || row >= m_rows.size() || col < 0 || col >= m_colCount)
        return {};
    const QStringList& cells = m_rows[row];
    return col < cells.size() ? cells[col] : QString();
}

void TItemTable::setCellLocked(int col, int row, const QString& text) {
    if (row < 0 || row >= m_rows.size() || col < 0 || col >= m_colCount)
        return;
    ++m_revision;
    QStringList& cells = m_rows[row];
    if (col >= cells.size()) {
        if (text.isEmpty())
            return;
        cells.resize(col + 1);
    }
    if (row == 0 && m_captionCountsValid) {
        --m_captionCounts[cells[col].toCaseFolded()];
        ++m_captionCounts[text.toCaseFolded()];
    }
    cells[col] = text;
}

void TItemTable::widenLocked(int colCount) {
    if (colCount <= m_colCount)
        return;
    if (m_captionCountsValid)
        m_captionCounts[QString()] += colCount - m_colCount; // new columns have empty captions
    m_colCount = colCount;
    ++m_revision;
    while (m_colWidths.size() < m_colCount)
        m_colWidths.append(DefaultColWidth);
    emit columnCountChanged(m_colCount);
}

QString TItemTable::Cell(int col, int row) const {
    QMutexLocker lock(&m_lock);
    return cellLocked(col, row);
}

bool TItemTable::SetCell(int col, int row, const QString& text) {
    QMutexLocker lock(&m_lock);
    if (row < 0 || row >= m_rows.size() || col < 0 || col >= m_colCount)
        return false;
    setCellLocked(col, row, text);
    emit cellsChanged(row, row, col, col);
    return true;
}

int TItemTable::rowOfIdLocked(quint64 id) const {
    if (id == 0)
        return -1;
    const qsizetype at = m_ids.indexOf(id);
    return at >= 0 ? int(at) : -1;
}

quint64 TItemTable::RowId(int row) const {
    QMutexLocker lock(&m_lock);
    return m_ids.value(row);
}

int TItemTable::RowOfId(quint64 id) const {
    QMutexLocker lock(&m_lock);
    return rowOfIdLocked(id);
}

QString TItemTable::CellOfRow(quint64 id, int col) const {
    QMutexLocker lock(&m_lock);
    return cellLocked(col, rowOfIdLocked(id));
}

bool TItemTable::SetCellOfRow(quint64 id, int col, const QString& text) {
    QMutexLocker lock(&m_lock);
    const int row = rowOfIdLocked(id);
    if (row < 0 || col < 0 || col >= m_colCount)
        return false;
    setCellLocked(col, row, text);
    emit cellsChanged(row, row, col, col);
    return true;
}

TItemTable::TSelectionCount TItemTable::SelectionCount() const {
    QMutexLocker lock(&m_lock);
    TSelectionCount count;
    count.items = int(m_rows.size()) - 1;
    for (int r = 1; r < m_rows.size(); ++r)
        count.selected += IsSelectedMark(cellLocked(ColSelect, r)) ? 1 : 0;
    return count;
}

QList<TRowCopy> TItemTable::SelectedRows() const {
    QMutexLocker lock(&m_lock);
    QList<TRowCopy> rows;
    for (int r = 1; r < m_rows.size(); ++r) {
        if (!IsSelectedMark(cellLocked(ColSelect, r)))
            continue;
        QStringList cells = m_rows[r];
        cells.resize(m_colCount);
        rows.append({m_ids[r], cells});
    }
    return rows;
}

bool TItemTable::EditRow(quint64 id, const TItemEdit& edit) {
    QMutexLocker lock(&m_lock);
    const int row = rowOfIdLocked(id);
    if (row < 1 || cellLocked(ColNo, row).isEmpty())
        return false;
    const std::pair<int, const std::optional<QString>*> parts[] = {{ColTitle, &edit.Title},
                                                                   {ColCategory, &edit.Category},
                                                                   {ColPrice, &edit.Price},
                                                                   {ColDelivery, &edit.Delivery},
                                                                   {ColLocalDetail, &edit.LocalDetail}};
    for (const auto& [col, value] : parts)
        if (*value)
            setCellLocked(col, row, **value);
    emit cellsChanged(row, row, ColTitle, ColLocalDetail);
    return true;
}

int TItemTable::SetCellOfSelectedRows(int col, const QString& text) {
    QMutexLocker lock(&m_lock);
    int changed = 0;
    for (int r = 1; r < m_rows.size(); ++r)
        if (IsSelectedMark(cellLocked(ColSelect, r))) {
            setCellLocked(col, r, text);
            ++changed;
        }
    if (changed > 0)
        emit cellsChanged(1, int(m_rows.size()) - 1, col, col);
    return changed;
}

bool TItemTable::SetColumnFromFirstRow(int col, const QStringList& values) {
    QMutexLocker lock(&m_lock);
    if (values.size() > m_rows.size() - 1)
        return false;
    for (int i = 0; i < values.size(); ++i)
        setCellLocked(col, i + 1, values[i]);
    if (!values.isEmpty())
        emit cellsChanged(1, int(values.size()), col, col);
    return true;
}

quint64 TItemTable::Revision() const {
    QMutexLocker lock(&m_lock);
    return m_revision;
}

int TItemTable::Col() const {
    QMutexLocker lock(&m_lock);
    return m_col;
}

int TItemTable::Row() const {
    QMutexLocker lock(&m_lock);
    return m_row;
}

void TItemTable::SetCurrent(int col, int row) {
    QMutexLocker lock(&m_lock);
    m_col = col;
    m_row = row;
}

int TItemTable::ColWidth(int col) const {
    QMutexLocker lock(&m_lock);
    return col >= 0 && col < m_colWidths.size() ? m_colWidths[col] : DefaultColWidth;
}

QList<int> TItemTable::ColWidths() const {
    QMutexLocker lock(&m_lock);
    return m_colWidths;
}

void TItemTable::SetGridColWidths() {
    m_colWidths = FixedColWidths();
    while (m_colWidths.size() < m_colCount)
        m_colWidths.append(DefaultColWidth);
}

void TItemTable::ResetGrid() {
    QMutexLocker lock(&m_lock);
    m_rows.clear();
    m_ids.clear();
    m_colCount = ColFixedCount;
    m_captionCountsValid = false;
    m_rows.append(FixedCaptions());
    m_ids.append(m_nextId++);
    ++m_revision;
    SetGridColWidths();
    m_col = 0;
    m_row = 0;
    emit tableReset(1, m_colCount);
}

int TItemTable::AppendRow(const std::function<void(TRowWriter&)>& fill) {
    QMutexLocker lock(&m_lock);
    const int r = int(m_rows.size());
    m_rows.append(QStringList());
    m_ids.append(m_nextId++);
    setCellLocked(ColNo, r, QString::number(r));
    setCellLocked(ColSelect, r, MarkSelected);
    if (fill) {
        TRowWriter writer(*this, r);
        fill(writer);
    }
    emit rowsAppended(r, r);
    // The body may have named attribute columns in the caption row.
    if (m_colCount > ColFirstAttribute)
        emit cellsChanged(0, 0, ColFirstAttribute, m_colCount - 1);
    return r;
}

bool TItemTable::StringGridDel(int RowId) {
    QMutexLocker lock(&m_lock);
    if (RowId < 1 || RowId >= m_rows.size())
        return false;
    m_rows.removeAt(RowId);
    m_ids.removeAt(RowId);
    ++m_revision;
    for (int i = RowId; i < m_rows.size(); ++i)
        setCellLocked(ColNo, i, QString::number(i));
    if (m_row >= m_rows.size())
        m_row = int(m_rows.size()) - 1;
    emit rowRemoved(RowId);
    if (RowId < m_rows.size())
        emit cellsChanged(RowId, int(m_rows.size()) - 1, ColNo, ColNo);
    return true;
}

void TItemTable::SelectAll() {
    QMutexLocker lock(&m_lock);
    if (m_rows.size() < 2)
        return;
    for (int r = 1; r < m_rows.size(); ++r)
        setCellLocked(ColSelect, r, MarkSelected);
    emit cellsChanged(1, int(m_rows.size()) - 1, ColSelect, ColSelect);
}

void TItemTable::InvertSelection() {
    QMutexLocker lock(&m_lock);
    if (m_rows.size() < 2)
        return;
    for (int r = 1; r < m_rows.size(); ++r)
        setCellLocked(ColSelect, r, cellLocked(ColSelect, r).isEmpty() ? MarkSelected : MarkUnselected);
    emit cellsChanged(1, int(m_rows.size()) - 1, ColSelect, ColSelect);
}

bool TItemTable::ToggleMark(int row) {
    QMutexLocker lock(&m_lock);
    if (row < 1 || row >= m_rows.size())
        return false;
    setCellLocked(ColSelect, row, cellLocked(ColSelect, row) == MarkSelected ? MarkUnselected : MarkSelected);
    emit cellsChanged(row, row, ColSelect, ColSelect);
    return true;
}

bool TItemTable::IsUsableRow(int row) const {
    QMutexLocker lock(&m_lock);
    return row >= 1 && row < m_rows.size() && !cellLocked(ColNo, row).isEmpty();
}

QStringList TItemTable::RowCells(int row) const {
    QMutexLocker lock(&m_lock);
    QStringList cells = row >= 0 && row < m_rows.size() ? m_rows[row] : QStringList();
    cells.resize(m_colCount);
    return cells;
}

QList<QStringList> TItemTable::Snapshot() const {
    QMutexLocker lock(&m_lock);
    QList<QStringList> rows = m_rows;
    for (QStringList& cells : rows)
        cells.resize(m_colCount);
    return rows;
}

void TItemTable::Replace(const QList<QStringList>& rows, int colCount) {
    QMutexLocker lock(&m_lock);
    if (colCount < 0) {
        colCount = ColFixedCount;
        for (const QStringList& cells : rows)
            colCount = std::max(colCount, int(cells.size()));
    }
    m_rows = rows;
    for (QStringList& cells : m_rows)
        if (cells.size() > colCount)
            cells.resize(colCount);
    if (m_rows.isEmpty())
        m_rows.append(QStringList());
    m_ids.clear();
    for (qsizetype r = 0; r < m_rows.size(); ++r)
        m_ids.append(m_nextId++);
    ++m_revision;
    m_colCount = colCount;
    m_captionCountsValid = false;
    SetGridColWidths();
    m_col = 0;
    m_row = 0;
    emit tableReset(int(m_rows.size()), m_colCount);
}
