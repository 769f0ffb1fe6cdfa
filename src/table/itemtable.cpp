#include "table/itemtable.h"

#include "table/gridjson.h"
#include "table/packedtext.h"

#include <QMutexLocker>
#include <QThread>

#include <algorithm>

QString TRowCopy::Cell(int col) const {
    return col == ColHtml ? PackedText::Unpack(PackedPage) : Cells.value(col);
}

quint64 TRowWriter::Id() const {
    return m_table.m_ids.value(m_row);
}

void TRowWriter::SetCell(int col, const QString& text) {
    m_table.setCellAt(col, m_row, text);
}

void TRowWriter::SetCell(int col, int row, const QString& text) {
    m_table.setCellAt(col, row, text);
}

void TRowWriter::SetPackedPage(const TPackedText& packed) {
    ++m_table.m_revision;
    m_table.m_pages[m_row] = packed;
}

QString TRowWriter::Cell(int col, int row) const {
    return m_table.cellAt(col, row);
}

int TRowWriter::ColCount() const {
    return m_table.m_colCount;
}

void TRowWriter::WidenTo(int colCount) {
    m_table.widen(colCount);
}

QList<int> TRowWriter::AttributeColumnsNamed(const QString& folded) const {
    return m_table.attributeColumnsNamed(folded);
}

QList<int> TItemTable::attributeColumnsNamed(const QString& folded) const {
    if (!m_captionColumnsValid) {
        m_captionColumns.clear();
        for (int c = ColFirstAttribute; c < m_colCount; ++c)
            m_captionColumns[cellAt(c, 0).toCaseFolded()].append(c);
        m_captionColumnsValid = true;
    }
    return m_captionColumns.value(folded);
}

void TItemTable::captionChanged(int col, const QString& from, const QString& to) {
    if (!m_captionColumnsValid || col < ColFirstAttribute)
        return;
    const QString oldKey = from.toCaseFolded();
    const QString newKey = to.toCaseFolded();
    if (oldKey == newKey)
        return;
    QList<int>& was = m_captionColumns[oldKey];
    was.removeOne(col);
    if (was.isEmpty())
        m_captionColumns.remove(oldKey);
    QList<int>& now = m_captionColumns[newKey];
    now.insert(std::lower_bound(now.begin(), now.end(), col), col);
}

TItemTable::TItemTable(QObject* parent) : QObject(parent) {
    appendRow(FixedCaptions());
}

void TItemTable::appendRow(QStringList cells) {
    TPackedText page;
    if (ColHtml < cells.size()) {
        page = PackedText::Pack(cells[ColHtml]);
        cells[ColHtml].clear();
    }
    m_rows.append(std::move(cells));
    m_pages.append(std::move(page));
    m_storedCells.append(QByteArray());
    m_ids.append(m_nextId++);
}

void TItemTable::openRow(int row) const {
    QByteArray& stored = m_storedCells[row];
    if (stored.isEmpty())
        return;
    ReadStoredCells(stored, m_rows[row], m_colCount);
    stored = QByteArray();
}

void TItemTable::ownThread() const {
    // One writer: the table belongs to the thread it lives on (the core's). A job hands its changes
    // over (TTableChanges) instead of touching the table.
    Q_ASSERT_X(QThread::currentThread() == thread(), "TItemTable", "used from a thread other than its own");
}

int TItemTable::RowCount() const {
    ownThread();
    return int(m_rows.size());
}

int TItemTable::ColCount() const {
    ownThread();
    return m_colCount;
}

QString TItemTable::cellAt(int col, int row) const {
    if (row < 0 || row >= m_rows.size() || col < 0 || col >= m_colCount)
        return {};
    if (col == ColHtml)
        return PackedText::Unpack(m_pages[row]);
    if (KeptAsStored(col))
        openRow(row);
    const QStringList& cells = m_rows[row];
    return col < cells.size() ? cells[col] : QString();
}

void TItemTable::setCellAt(int col, int row, const QString& text) {
    if (row < 0 || row >= m_rows.size() || col < 0 || col >= m_colCount)
        return;
    ++m_revision;
    if (col == ColHtml) {
        m_pages[row] = PackedText::Pack(text);
        return;
    }
    if (KeptAsStored(col))
        openRow(row);
    QStringList& cells = m_rows[row];
    if (col >= cells.size()) {
        if (text.isEmpty())
            return;
        cells.resize(col + 1);
    }
    if (row == 0)
        captionChanged(col, cells[col], text);
    cells[col] = text;
}

void TItemTable::widen(int colCount) {
    if (colCount <= m_colCount)
        return;
    if (m_captionColumnsValid) {
        // New columns have empty captions.
        QList<int>& unnamed = m_captionColumns[QString()];
        for (int c = std::max(m_colCount, int(ColFirstAttribute)); c < colCount; ++c)
            unnamed.append(c);
    }
    m_colCount = colCount;
    ++m_revision;
    emit columnCountChanged(m_colCount);
}

QString TItemTable::Cell(int col, int row) const {
    ownThread();
    return cellAt(col, row);
}

bool TItemTable::SetCell(int col, int row, const QString& text) {
    ownThread();
    if (row < 0 || row >= m_rows.size() || col < 0 || col >= m_colCount)
        return false;
    setCellAt(col, row, text);
    emit cellsChanged(row, row, col, col);
    return true;
}

int TItemTable::rowOfId(quint64 id) const {
    if (id == 0)
        return -1;
    const qsizetype at = m_ids.indexOf(id);
    return at >= 0 ? int(at) : -1;
}

quint64 TItemTable::RowId(int row) const {
    ownThread();
    return m_ids.value(row);
}

int TItemTable::RowOfId(quint64 id) const {
    ownThread();
    return rowOfId(id);
}

QString TItemTable::CellOfRow(quint64 id, int col) const {
    ownThread();
    return cellAt(col, rowOfId(id));
}

bool TItemTable::SetCellOfRow(quint64 id, int col, const QString& text) {
    ownThread();
    const int row = rowOfId(id);
    if (row < 0 || col < 0 || col >= m_colCount)
        return false;
    setCellAt(col, row, text);
    emit cellsChanged(row, row, col, col);
    return true;
}

TItemTable::TSelectionCount TItemTable::SelectionCount() const {
    ownThread();
    TSelectionCount count;
    count.items = int(m_rows.size()) - 1;
    for (int r = 1; r < m_rows.size(); ++r)
        count.selected += IsSelectedMark(cellAt(ColSelect, r)) ? 1 : 0;
    return count;
}

QList<TRowCopy> TItemTable::SelectedRows() const {
    ownThread();
    QList<TRowCopy> rows;
    for (int r = 1; r < m_rows.size(); ++r) {
        if (IsSelectedMark(cellAt(ColSelect, r)))
            rows.append(RowCopy(r));
    }
    return rows;
}

bool TItemTable::EditRow(quint64 id, const TItemEdit& edit) {
    ownThread();
    const int row = rowOfId(id);
    if (row < 1 || cellAt(ColNo, row).isEmpty())
        return false;
    const std::pair<int, const std::optional<QString>*> parts[] = {{ColTitle, &edit.Title},
                                                                   {ColCategory, &edit.Category},
                                                                   {ColPrice, &edit.Price},
                                                                   {ColDelivery, &edit.Delivery},
                                                                   {ColLocalDetail, &edit.LocalDetail}};
    for (const auto& [col, value] : parts)
        if (*value)
            setCellAt(col, row, **value);
    emit cellsChanged(row, row, ColTitle, ColLocalDetail);
    return true;
}

int TItemTable::SetCellOfSelectedRows(int col, const QString& text) {
    ownThread();
    int changed = 0;
    for (int r = 1; r < m_rows.size(); ++r)
        if (IsSelectedMark(cellAt(ColSelect, r))) {
            setCellAt(col, r, text);
            ++changed;
        }
    if (changed > 0)
        emit cellsChanged(1, int(m_rows.size()) - 1, col, col);
    return changed;
}

bool TItemTable::SetColumnFromFirstRow(int col, const QStringList& values) {
    ownThread();
    if (values.size() > m_rows.size() - 1)
        return false;
    for (int i = 0; i < values.size(); ++i)
        setCellAt(col, i + 1, values[i]);
    if (!values.isEmpty())
        emit cellsChanged(1, int(values.size()), col, col);
    return true;
}

quint64 TItemTable::Revision() const {
    ownThread();
    return m_revision;
}

void TItemTable::ResetGrid() {
    ownThread();
    m_rows.clear();
    m_pages.clear();
    m_storedCells.clear();
    m_ids.clear();
    m_colCount = ColFixedCount;
    m_captionColumnsValid = false;
    appendRow(FixedCaptions());
    ++m_revision;
    emit tableReset(1, m_colCount);
}

int TItemTable::AppendRow(const std::function<void(TRowWriter&)>& fill) {
    ownThread();
    const int r = int(m_rows.size());
    appendRow(QStringList());
    setCellAt(ColNo, r, QString::number(r));
    setCellAt(ColSelect, r, MarkSelected);
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

bool TItemTable::StringGridDel(int row) {
    ownThread();
    if (row < 1 || row >= m_rows.size())
        return false;
    m_rows.removeAt(row);
    m_pages.removeAt(row);
    m_storedCells.removeAt(row);
    m_ids.removeAt(row);
    ++m_revision;
    for (int i = row; i < m_rows.size(); ++i)
        setCellAt(ColNo, i, QString::number(i));
    emit rowRemoved(row);
    if (row < m_rows.size())
        emit cellsChanged(row, int(m_rows.size()) - 1, ColNo, ColNo);
    return true;
}

int TItemTable::DeleteSelectedRows() {
    ownThread();
    int kept = 1, removed = 0;
    for (int r = 1; r < m_rows.size(); ++r) {
        if (IsSelectedMark(cellAt(ColSelect, r))) {
            ++removed;
            continue;
        }
        if (kept != r) {
            m_rows[kept] = std::move(m_rows[r]);
            m_pages[kept] = std::move(m_pages[r]);
            m_storedCells[kept] = std::move(m_storedCells[r]);
            m_ids[kept] = m_ids[r];
        }
        ++kept;
    }
    if (removed == 0)
        return 0;
    m_rows.resize(kept);
    m_pages.resize(kept);
    m_storedCells.resize(kept);
    m_ids.resize(kept);
    for (int r = 1; r < kept; ++r)
        setCellAt(ColNo, r, QString::number(r));
    ++m_revision;
    emit tableReset(int(m_rows.size()), m_colCount);
    return removed;
}

void TItemTable::SelectAll() {
    ownThread();
    if (m_rows.size() < 2)
        return;
    for (int r = 1; r < m_rows.size(); ++r)
        setCellAt(ColSelect, r, MarkSelected);
    emit cellsChanged(1, int(m_rows.size()) - 1, ColSelect, ColSelect);
}

void TItemTable::InvertSelection() {
    ownThread();
    if (m_rows.size() < 2)
        return;
    for (int r = 1; r < m_rows.size(); ++r)
        setCellAt(ColSelect, r, cellAt(ColSelect, r).isEmpty() ? MarkSelected : MarkUnselected);
    emit cellsChanged(1, int(m_rows.size()) - 1, ColSelect, ColSelect);
}

bool TItemTable::ToggleMark(int row) {
    ownThread();
    if (row < 1 || row >= m_rows.size())
        return false;
    setCellAt(ColSelect, row, cellAt(ColSelect, row) == MarkSelected ? MarkUnselected : MarkSelected);
    emit cellsChanged(row, row, ColSelect, ColSelect);
    return true;
}

bool TItemTable::IsUsableRow(int row) const {
    ownThread();
    return row >= 1 && row < m_rows.size() && !cellAt(ColNo, row).isEmpty();
}

QStringList TItemTable::RowCells(int row) const {
    TRowCopy copy = RowCopy(row);
    copy.Cells[ColHtml] = PackedText::Unpack(copy.PackedPage);
    return copy.Cells;
}

TRowCopy TItemTable::RowCopy(int row) const {
    // The stored cells are read into the copy alone: a job's copies of a whole table leave the
    // table as light as it was.
    TRowCopy copy = RowAsStored(row);
    if (!copy.StoredCells.isEmpty()) {
        ReadStoredCells(copy.StoredCells, copy.Cells, m_colCount);
        copy.StoredCells = QByteArray();
    }
    return copy;
}

TRowCopy TItemTable::RowAsStored(int row) const {
    ownThread();
    const bool exists = row >= 0 && row < m_rows.size();
    TRowCopy copy;
    copy.Cells = exists ? m_rows[row] : QStringList();
    copy.Cells.resize(m_colCount);
    if (exists) {
        copy.Id = m_ids[row];
        copy.PackedPage = m_pages[row];
        copy.StoredCells = m_storedCells[row];
    }
    return copy;
}

QList<QStringList> TItemTable::Snapshot() const {
    ownThread();
    QList<QStringList> rows;
    rows.reserve(m_rows.size());
    for (int r = 0; r < m_rows.size(); ++r)
        rows.append(RowCells(r));
    return rows;
}

void TItemTable::Replace(const QList<QStringList>& rows, int colCount) {
    ownThread();
    if (colCount < 0) {
        colCount = ColFixedCount;
        for (const QStringList& cells : rows)
            colCount = std::max(colCount, int(cells.size()));
    }
    QList<QStringList> kept;
    QList<TPackedText> pages;
    kept.reserve(rows.size());
    pages.reserve(rows.size());
    for (const QStringList& cells : rows) {
        kept.append(cells);
        pages.append(ColHtml < cells.size() ? PackedText::Pack(cells[ColHtml]) : TPackedText());
        if (ColHtml < cells.size())
            kept.last()[ColHtml].clear();
    }
    Replace(std::move(kept), colCount, std::move(pages));
}

void TItemTable::Replace(QList<QStringList>&& rows, int colCount, QList<TPackedText>&& packedPages,
                         QList<QByteArray>&& storedCells) {
    ownThread();
    m_rows = std::move(rows);
    m_pages = std::move(packedPages);
    m_pages.resize(m_rows.size());
    m_storedCells = std::move(storedCells);
    m_storedCells.resize(m_rows.size());
    for (QStringList& cells : m_rows) {
        if (cells.size() > colCount)
            cells.resize(colCount);
        if (ColHtml < cells.size())
            cells[ColHtml].clear();
    }
    if (m_rows.isEmpty()) {
        m_rows.append(QStringList());
        m_pages.append(TPackedText());
        m_storedCells.append(QByteArray());
    }
    m_ids.clear();
    for (qsizetype r = 0; r < m_rows.size(); ++r)
        m_ids.append(m_nextId++);
    ++m_revision;
    m_colCount = colCount;
    m_captionColumnsValid = false;
    emit tableReset(int(m_rows.size()), m_colCount);
}

TTableChangeQueue::TTableChangeQueue(TItemTable& table, std::function<void()> wake)
    : m_table(table), m_wake(std::move(wake)) {}

void TTableChangeQueue::Apply(std::function<void(TItemTable&)> change) {
    bool first = false;
    {
        QMutexLocker lock(&m_lock);
        first = m_pending.isEmpty();
        m_pending.append(std::move(change));
    }
    if (first && m_wake)
        m_wake();
}

void TTableChangeQueue::Drain() {
    // Taken out first: a change may hand over more (they wait for the next drain).
    QList<std::function<void(TItemTable&)>> changes;
    {
        QMutexLocker lock(&m_lock);
        changes.swap(m_pending);
    }
    for (const std::function<void(TItemTable&)>& change : std::as_const(changes))
        change(m_table);
}
