// The file list of the main window: a sortable report list of the files of
// the current partition, one row per file index.
#pragma once

#include <QTableView>
#include <vector>

#include "FileListModel.h"

class QMimeData;

namespace App {

class CQuarryboxView : public QTableView {
    Q_OBJECT
public:
    explicit CQuarryboxView(QWidget* parent = nullptr);

    // Shows the header with the given column widths; a column without one (or -1) is
    // measured from its template string.
    void ShowForDisk(const QList<int>& widths = {});
    // Empties the list and hides its header.
    void ShowNoDisk();
    // Replaces the rows, keeping the user's sort column and order.
    void Fill(FileSystem::TFileSystem& fs, const std::vector<int>& fileIndices);
    void Clear();

    // File indices of the selected rows, in list order.
    std::vector<int> SelectedFileIndices() const;
    // File indices of every row, in list order.
    std::vector<int> AllFileIndices() const;
    // Selects the rows of these file indices (those that exist) and nothing else.
    void SelectFileIndices(const std::vector<int>& fileIndices);
    void InvertSelection();
    int FileIndexAtRow(int viewRow) const;
    int RowCount() const;

    CFileListModel* FileModel() const { return Model; }
    CFileSortProxy* SortModel() const { return Proxy; }

    // The data being dragged out of this list while a drag runs, so a drop of it
    // back onto the list can be refused.
    const QMimeData* DraggedData() const { return Dragged; }
    // Marks the start and end of a drag of data out of this list.
    void BeginDrag(const QMimeData* data) { Dragged = data; }
    void EndDrag() { Dragged = nullptr; }

signals:
    void PreviewRequested(int fileIndex);
    void DeleteRequested();
    // A context menu at a global position; only sent when it belongs to a row.
    void ContextMenuRequested(const QPoint& globalPosition);
    // Rows are dragged out: the receiver builds the data (or nothing) for them.
    void DragOutRequested();
    // Host files or a file group were dropped on the list.
    void DataDropped(const QMimeData* data);
    // Asked before a drop is accepted.
    void DropQuery(const QMimeData* data, bool& accept);

public:
    // Runs a drag of data (taking it) with the copy effect only.
    void RunDrag(QMimeData* data);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    bool AcceptsDrop(const QMimeData* data);
    void ShowKeyboardContextMenu();

    CFileListModel* Model;
    CFileSortProxy* Proxy;
    const QMimeData* Dragged = nullptr;
};

}  // namespace App
