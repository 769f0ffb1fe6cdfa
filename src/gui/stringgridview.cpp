#include "gui/stringgridview.h"

#include "app/appcore.h"
#include "app/itemtablemodel.h"
#include "app/session.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyledItemDelegate>

#include <algorithm>

namespace {

// Draws the selection cell of data rows as a check-box picture centred in the cell.
class TCheckDelegate : public QStyledItemDelegate {
  public:
    explicit TCheckDelegate(TStringGridView* view) : QStyledItemDelegate(view), m_view(view) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        if (index.column() != ColSelect) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QRect r = option.rect;
        const bool current = option.state & QStyle::State_Selected;
        painter->fillRect(r, current ? option.palette.highlight() : option.palette.base());
        const QPixmap picture = m_view->CheckPicture(index.data().toString() == MarkSelected);
        const int w = int(picture.width() / picture.devicePixelRatio());
        const int h = int(picture.height() / picture.devicePixelRatio());
        // Integer division, with the right and bottom edges one past the cell.
        const int x = (r.left() + r.left() + r.width() - w) / 2;
        const int y = (r.top() + r.top() + r.height() - h) / 2;
        painter->drawPixmap(x, y, picture);
    }

  private:
    TStringGridView* m_view;
};

} // namespace

TItemRowsProxy::TItemRowsProxy(QObject* parent) : QSortFilterProxyModel(parent) {
    m_collator.setLocale(QLocale(QLocale::Chinese, QLocale::China));
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
}

void TItemRowsProxy::setSourceModel(QAbstractItemModel* source) {
    QSortFilterProxyModel::setSourceModel(source);
    // The caption row is the header: its changes are the header's.
    connect(source, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                if (topLeft.row() == 0)
                    emit headerDataChanged(Qt::Horizontal, topLeft.column(), bottomRight.column());
            });
}

QVariant TItemRowsProxy::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && sourceModel() && section >= 0 && section < columnCount() &&
        (role == Qt::DisplayRole || role == Qt::ToolTipRole))
        return sourceModel()->index(0, section).data(Qt::DisplayRole);
    return QSortFilterProxyModel::headerData(section, orientation, role);
}

bool TItemRowsProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    return !sourceParent.isValid() && sourceRow >= 1;
}

bool TItemRowsProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const int order = m_collator.compare(left.data().toString(), right.data().toString());
    // Equal cells keep the stored order.
    return order != 0 ? order < 0 : left.row() < right.row();
}

QPixmap MakeCheckPicture(bool checked) {
    QStyle* style = QApplication::style();
    QStyleOptionButton option;
    const int w = style->pixelMetric(QStyle::PM_IndicatorWidth);
    const int h = style->pixelMetric(QStyle::PM_IndicatorHeight);
    option.rect = QRect(0, 0, w, h);
    option.state = QStyle::State_Enabled | (checked ? QStyle::State_On : QStyle::State_Off);
    // The style's own (light) palette draws a box that stands out on the dark table.
    option.palette = style->standardPalette();
    QPixmap picture(w, h);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    style->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter);
    return picture;
}

TStringGridView::TStringGridView(TAppCore* core, QWidget* parent)
    : QTableView(parent), m_core(core), m_model(new TItemTableModel(&core->Items(), this)),
      m_rows(new TItemRowsProxy(this)) {
    m_rows->setSourceModel(m_model);
    setModel(m_rows);
    setItemDelegate(new TCheckDelegate(this));
    verticalHeader()->hide();
    // No order until the seller picks a column; a third click on it restores the stored order.
    horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    horizontalHeader()->setSortIndicatorClearable(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    setSortingEnabled(true);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    // The width the table gives attribute columns, so new columns need no resizing one by one.
    horizontalHeader()->setDefaultSectionSize(DefaultColWidth);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setWordWrap(false);
    setContextMenuPolicy(Qt::CustomContextMenu);

    m_popup = new QMenu(this);
    m_editAction = m_popup->addAction(QStringLiteral("&E编辑"));
    m_deleteAction = m_popup->addAction(QStringLiteral("&D删除"));
    m_deleteSelectedAction = m_popup->addAction(QStringLiteral("删除选中"));
    m_deleteSelectedAction->setShortcut(QKeySequence::Delete);
    connect(m_popup, &QMenu::aboutToShow, this, &TStringGridView::PopupMenuGridPopup);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenuGridPopup();
        if (m_editAction->isVisible() || m_deleteAction->isVisible() || m_deleteSelectedAction->isVisible())
            m_popup->popup(viewport()->mapToGlobal(pos));
    });
    // A reset (a cleared or loaded table) lays every column out afresh.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] { m_laidOutCols = 0; });
    connect(m_model, &TItemTableModel::columnLayoutChanged, this, &TStringGridView::applyColumnLayout);
    applyColumnLayout();
}

void TStringGridView::SetCheckPictures(const QPixmap& fcheck, const QPixmap& fnocheck) {
    m_fcheck = fcheck;
    m_fnocheck = fnocheck;
    viewport()->update();
}

void TStringGridView::applyColumnLayout() {
    // Only what differs is changed: a table may have thousands of attribute columns, each at the
    // default width. A column gets its width when it first appears; after that the width is the
    // seller's (a column widened by hand stays so when rows or columns are added).
    const QList<int> widths = FixedColWidths();
    const int count = m_model->columnCount();
    for (int c = 0; c < count; ++c) {
        const int w = c < widths.size() ? widths[c] : 0;
        if (isColumnHidden(c) != (w < 0))
            setColumnHidden(c, w < 0);
        if (c >= m_laidOutCols && w > 0 && columnWidth(c) != w)
            setColumnWidth(c, w);
    }
    m_laidOutCols = count;
}

void TStringGridView::PopupMenuGridPopup() {
    const bool usable = m_core->Items().IsUsableRow(Row());
    m_editAction->setVisible(usable);
    m_deleteAction->setVisible(m_editAction->isVisible());
    m_deleteSelectedAction->setVisible(m_core->Items().SelectionCount().selected > 0);
}

void TStringGridView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        if (m_core->Items().IsUsableRow(Row()))
            m_core->ToggleItem(Row());
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        m_deleteSelectedAction->trigger();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

int TStringGridView::Row() const {
    return TableRow(currentIndex());
}

int TStringGridView::TableRow(const QModelIndex& index) const {
    return index.isValid() ? m_rows->mapToSource(index).row() : 0;
}

QModelIndex TStringGridView::IndexOf(int col, int row) const {
    return row >= 1 ? m_rows->mapFromSource(m_model->index(row, col)) : QModelIndex();
}

int TStringGridView::Col() const {
    return currentIndex().isValid() ? currentIndex().column() : 0;
}

void TStringGridView::SetCurrentCell(int col, int row) {
    setCurrentIndex(IndexOf(col, row));
}

void TStringGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (!current.isValid())
        return;
    emit StringGrid1Click();
}

void TStringGridView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex at = indexAt(event->position().toPoint());
    if (!at.isValid())
        return; // a press outside every cell changes nothing
    const int col = event->button() == Qt::LeftButton ? at.column() : std::max(currentIndex().column(), 0);
    setCurrentIndex(at.sibling(at.row(), col));
}

void TStringGridView::mouseReleaseEvent(QMouseEvent* event) {
    const QModelIndex current = currentIndex();
    if (current.isValid() && current.column() == ColSelect &&
        visualRect(current).contains(event->position().toPoint()))
        m_core->ToggleItem(Row());
}

void TStringGridView::mouseDoubleClickEvent(QMouseEvent* event) {
    Q_UNUSED(event);
    const int row = Row();
    if (m_core->Items().IsUsableRow(row))
        TSession::OpenInBrowser(m_core->Items().Cell(ColLink, row));
}
