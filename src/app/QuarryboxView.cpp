#include "QuarryboxView.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QDragEnterEvent>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QMimeData>
#include <QPointer>
#include <QStyle>
#include <algorithm>
#include <unordered_set>

namespace App {

CQuarryboxView::CQuarryboxView(QWidget* parent)
    : QTableView(parent), Model(new CFileListModel(this)), Proxy(new CFileSortProxy(this)) {
    Proxy->setSourceModel(Model);
    setModel(Proxy);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    setAlternatingRowColors(false);
    setTabKeyNavigation(false);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(true);  // the columns fill the window
    horizontalHeader()->setSectionsMovable(false);
    // The user area belongs with the name; it is shown only where there are user areas.
    horizontalHeader()->moveSection(CFileListModel::ColumnUser, CFileListModel::ColumnType + 1);
    setColumnHidden(CFileListModel::ColumnUser, true);
    setSortingEnabled(true);
    sortByColumn(CFileListModel::ColumnName, Qt::AscendingOrder);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setDropIndicatorShown(false);
    horizontalHeader()->setVisible(false);
}

void CQuarryboxView::ShowForDisk(const QList<int>& widths) {
    horizontalHeader()->setVisible(true);
    const QFontMetrics metrics(font());
    const int padding = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this) + 8;
    for (int column = 0; column < CFileListModel::ColumnCount; ++column) {
        const int kept = column < widths.size() ? widths[column] : -1;
        setColumnWidth(column, kept > 0 ? kept : metrics.horizontalAdvance(CFileListModel::WidthTemplate(column)) + padding);
    }
}

void CQuarryboxView::ShowNoDisk() {
    Clear();
    horizontalHeader()->setVisible(false);
}

void CQuarryboxView::Fill(FileSystem::TFileSystem& fs, const std::vector<int>& fileIndices) {
    Model->Fill(fs, fileIndices);
    setColumnHidden(CFileListModel::ColumnUser, !fs.SupportsUserAreas());
}

void CQuarryboxView::Clear() { Model->Clear(); }

int CQuarryboxView::RowCount() const { return Proxy->rowCount(); }

int CQuarryboxView::FileIndexAtRow(int viewRow) const {
    return Proxy->index(viewRow, 0).data(CFileListModel::FileIndexRole).toInt();
}

std::vector<int> CQuarryboxView::SelectedFileIndices() const {
    std::vector<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    std::vector<int> fileIndices;
    for (int row : rows) fileIndices.push_back(FileIndexAtRow(row));
    return fileIndices;
}

std::vector<int> CQuarryboxView::AllFileIndices() const {
    std::vector<int> fileIndices;
    for (int row = 0; row < RowCount(); ++row) fileIndices.push_back(FileIndexAtRow(row));
    return fileIndices;
}

void CQuarryboxView::SelectFileIndices(const std::vector<int>& fileIndices) {
    const std::unordered_set<int> wanted(fileIndices.begin(), fileIndices.end());
    QItemSelection selection;
    int firstRow = -1;
    for (int row = 0; row < RowCount(); ++row) {
        if (!wanted.count(FileIndexAtRow(row))) continue;
        selection.select(Proxy->index(row, 0), Proxy->index(row, CFileListModel::ColumnCount - 1));
        if (firstRow < 0) firstRow = row;
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    if (firstRow >= 0) {
        selectionModel()->setCurrentIndex(Proxy->index(firstRow, 0), QItemSelectionModel::NoUpdate);
    }
}

void CQuarryboxView::InvertSelection() {
    if (RowCount() == 0) return;
    const QItemSelection all(Proxy->index(0, 0), Proxy->index(RowCount() - 1, CFileListModel::ColumnCount - 1));
    selectionModel()->select(all, QItemSelectionModel::Toggle);
}

void CQuarryboxView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // As the Preview command: one file at a time.
        const std::vector<int> selected = SelectedFileIndices();
        if (selected.size() == 1) emit PreviewRequested(selected.front());
        return;
    }
    case Qt::Key_Delete:
        emit DeleteRequested();
        return;
    case Qt::Key_F10:
        if (event->modifiers() == Qt::ShiftModifier) {
            ShowKeyboardContextMenu();
            return;
        }
        break;
    default:
        break;
    }
    QTableView::keyPressEvent(event);
}

QModelIndex CQuarryboxView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) {
    // In a list of whole rows, Home and End go to the first and last file, not column.
    if ((cursorAction == MoveHome || cursorAction == MoveEnd) && RowCount() > 0) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        return Proxy->index(cursorAction == MoveHome ? 0 : RowCount() - 1, column);
    }
    return QTableView::moveCursor(cursorAction, modifiers);
}

void CQuarryboxView::ShowKeyboardContextMenu() {
    // Below the focused row, as the menu key shows it.
    const QModelIndex focused = currentIndex();
    if (!focused.isValid()) return;
    const QRect rect = visualRect(focused);
    emit ContextMenuRequested(viewport()->mapToGlobal(QPoint(rect.left(), rect.bottom())));
}

void CQuarryboxView::contextMenuEvent(QContextMenuEvent* event) {
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QModelIndex hit = indexAt(event->pos());
        if (!hit.isValid()) return;
        if (!selectionModel()->isRowSelected(hit.row(), QModelIndex())) {
            selectionModel()->select(hit, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            selectionModel()->setCurrentIndex(hit, QItemSelectionModel::NoUpdate);
        }
        emit ContextMenuRequested(event->globalPos());
        return;
    }
    ShowKeyboardContextMenu();
}

void CQuarryboxView::startDrag(Qt::DropActions) { emit DragOutRequested(); }

void CQuarryboxView::RunDrag(QMimeData* data) {
    QPointer<QDrag> drag = new QDrag(this);
    drag->setMimeData(data);
    BeginDrag(data);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    EndDrag();
}

bool CQuarryboxView::AcceptsDrop(const QMimeData* data) {
    if (data == nullptr || (Dragged != nullptr && data == Dragged)) return false;
    bool accept = false;
    emit DropQuery(data, accept);
    return accept;
}

void CQuarryboxView::dragEnterEvent(QDragEnterEvent* event) {
    if (!AcceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CQuarryboxView::dragMoveEvent(QDragMoveEvent* event) {
    if (!AcceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CQuarryboxView::dropEvent(QDropEvent* event) {
    if (!AcceptsDrop(event->mimeData())) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    emit DataDropped(event->mimeData());
}

}  // namespace App
