// View > Disk Map: a picture of the disk, a cell per sector, one row per track and the
// sides side by side, coloured by what owns each sector. Hovering a cell names it and its
// owner; clicking a file's cell asks for that file to be selected; the selected files'
// sectors are lit.
#pragma once

#include <QDockWidget>
#include <QWidget>
#include <set>
#include <vector>

#include "filesystem/DiskMap.h"

namespace App {

class CDiskMapView : public QWidget {
    Q_OBJECT
public:
    explicit CDiskMapView(QWidget* parent = nullptr);

    // Shows the map with the files' names for the cells; an empty map shows nothing.
    void ShowMap(FileSystem::TDiskMap map, std::vector<QString> fileNames);
    void SetHighlighted(const std::vector<int>& files);
    const FileSystem::TDiskMap& Map() const { return DiskMap; }

    // The cell under a point of the widget (an index into Map().Sectors), -1 for none.
    int CellAt(QPoint point) const;
    QRect CellRect(int cell) const;
    // "Track 3, side 0, sector 5: FIRST/DAT" and the like.
    QString DescribeCell(int cell) const;
    // The colour a cell is painted with (the highlight for a selected file's).
    QColor CellColour(int cell) const;
    static QColor UseColour(FileSystem::TSectorUse use);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void FileClicked(int file);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct TLayout {
        std::vector<int> Columns;  // per side (head): the most sectors a track has there
        std::vector<int> SideLeft;  // where each side's first column starts
        int Rows = 0;
        int CellWidth = 0, CellHeight = 0;
        int Top = 0;  // where the first track's row starts
    };
    TLayout Layout() const;
    QRect CellRect(const TLayout& layout, int cell) const;
    static int ShownSides(const TLayout& layout);
    void PaintLegend(QPainter& painter, int top) const;

    FileSystem::TDiskMap DiskMap;
    std::vector<QString> FileNames;
    std::set<int> Highlighted;
    // Each cell's column within its track side, and the most columns each side has.
    std::vector<int> CellColumns;
    std::vector<int> SideColumns;
};

// The dock holding the map; it maps the disk only while it is shown.
class CDiskMapDock : public QDockWidget {
    Q_OBJECT
public:
    explicit CDiskMapDock(QWidget* parent = nullptr);
    // The file system to map (nullptr for none); mapped now if the dock is shown, else when it is.
    void ShowFileSystem(FileSystem::TFileSystem* fs);
    void SetHighlighted(const std::vector<int>& files);
    CDiskMapView* View() const { return MapView; }

private:
    void MapNow();

    CDiskMapView* MapView = nullptr;
    FileSystem::TFileSystem* Mapped = nullptr;
    bool Stale = false;
    std::vector<int> Selected;
};

}  // namespace App
