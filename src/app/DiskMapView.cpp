#include "app/DiskMapView.h"

#include <QAction>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QToolTip>
#include <algorithm>

#include "app/AppText.h"

namespace App {

using FileSystem::TMapSector;
using FileSystem::TSectorUse;

namespace {

constexpr int TrackLabelWidth = 34;
constexpr int HeaderHeight = 18;
constexpr int SideGap = 10;
constexpr int MinCell = 3;
constexpr int MaxCellWidth = 22;
constexpr int MaxCellHeight = 14;
constexpr int LegendLines = 2;

int LegendHeight(const QFontMetrics& metrics) { return LegendLines * (metrics.height() + 4) + 6; }

// A hue of its own for each file, spread round the colour wheel by the golden angle so
// that neighbouring files differ.
// Faded, the hue stays but gives way to the highlight of selected files.
QColor FileColour(int file, bool faded = false) {
    const int hue = static_cast<int>((static_cast<long long>(file) * 137) % 360);
    return faded ? QColor::fromHsv(hue, 40, 238) : QColor::fromHsv(hue, 110, 225);
}

const TSectorUse LegendOrder[] = {TSectorUse::System, TSectorUse::Directory, TSectorUse::File,
                                  TSectorUse::Free,   TSectorUse::BadCrc,    TSectorUse::Missing,
                                  TSectorUse::Unreadable, TSectorUse::Outside};

}  // namespace

CDiskMapView::CDiskMapView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CDiskMapView::ShowMap(FileSystem::TDiskMap map, std::vector<QString> fileNames) {
    DiskMap = std::move(map);
    FileNames = std::move(fileNames);
    // The sectors come ordered by track, side and number: each takes the next column of its side.
    CellColumns.assign(DiskMap.Sectors.size(), 0);
    for (size_t i = 1; i < DiskMap.Sectors.size(); ++i) {
        const TMapSector& before = DiskMap.Sectors[i - 1];
        const TMapSector& cell = DiskMap.Sectors[i];
        if (cell.Track == before.Track && cell.Side == before.Side) CellColumns[i] = CellColumns[i - 1] + 1;
    }
    const int sides = std::max(1, DiskMap.Sides);
    SideColumns.assign(static_cast<size_t>(sides), 0);
    for (size_t i = 0; i < DiskMap.Sectors.size(); ++i) {
        int& columns = SideColumns[static_cast<size_t>(std::clamp(DiskMap.Sectors[i].Side, 0, sides - 1))];
        columns = std::max(columns, CellColumns[i] + 1);
    }
    updateGeometry();
    update();
}

void CDiskMapView::SetHighlighted(const std::vector<int>& files) {
    Highlighted = std::set<int>(files.begin(), files.end());
    update();
}

int CDiskMapView::ShownSides(const TLayout& layout) {
    return static_cast<int>(
        std::count_if(layout.Columns.begin(), layout.Columns.end(), [](int columns) { return columns > 0; }));
}

CDiskMapView::TLayout CDiskMapView::Layout() const {
    TLayout layout;
    layout.Columns = SideColumns;
    layout.Rows = std::max(0, DiskMap.LastTrack - DiskMap.FirstTrack + 1);
    int totalColumns = 0;
    for (int columns : layout.Columns) totalColumns += columns;
    const int width = std::max(0, this->width() - TrackLabelWidth - SideGap * ShownSides(layout));
    const int height = std::max(0, this->height() - HeaderHeight - LegendHeight(fontMetrics()));
    layout.CellWidth = std::clamp(totalColumns > 0 ? width / totalColumns : MinCell, MinCell, MaxCellWidth);
    layout.CellHeight = std::clamp(layout.Rows > 0 ? height / layout.Rows : MinCell, MinCell, MaxCellHeight);
    layout.Top = HeaderHeight;
    // Sides without sectors (the other heads of a partition that has one) take no room.
    int left = TrackLabelWidth;
    for (int columns : layout.Columns) {
        layout.SideLeft.push_back(left);
        if (columns > 0) left += columns * layout.CellWidth + SideGap;
    }
    return layout;
}

QRect CDiskMapView::CellRect(int cell) const { return CellRect(Layout(), cell); }

QRect CDiskMapView::CellRect(const TLayout& layout, int cell) const {
    if (cell < 0 || cell >= static_cast<int>(DiskMap.Sectors.size()) || layout.SideLeft.empty()) return {};
    const TMapSector& sector = DiskMap.Sectors[static_cast<size_t>(cell)];
    const int side = std::clamp(sector.Side, 0, static_cast<int>(layout.SideLeft.size()) - 1);
    return QRect(layout.SideLeft[static_cast<size_t>(side)] + CellColumns[static_cast<size_t>(cell)] * layout.CellWidth,
                 layout.Top + (sector.Track - DiskMap.FirstTrack) * layout.CellHeight, layout.CellWidth,
                 layout.CellHeight);
}

int CDiskMapView::CellAt(QPoint point) const {
    // Cells are few enough (a floppy holds some thousands) to look through.
    const TLayout layout = Layout();
    for (int cell = 0; cell < static_cast<int>(DiskMap.Sectors.size()); ++cell) {
        if (CellRect(layout, cell).contains(point)) return cell;
    }
    return -1;
}

QString CDiskMapView::DescribeCell(int cell) const {
    if (cell < 0 || cell >= static_cast<int>(DiskMap.Sectors.size())) return {};
    const TMapSector& sector = DiskMap.Sectors[static_cast<size_t>(cell)];
    QString owner = QString::fromStdString(FileSystem::SectorUseName(sector.Use));
    const bool named = sector.File >= 0 && sector.File < static_cast<int>(FileNames.size());
    if (named) {
        const QString name = FileNames[static_cast<size_t>(sector.File)];
        owner = sector.Use == TSectorUse::File ? name : owner + " (" + name + ")";
    }
    return QString("Track %1, side %2, sector %3: %4").arg(sector.Track).arg(sector.Side).arg(sector.Sector).arg(owner);
}

QColor CDiskMapView::UseColour(TSectorUse use) {
    switch (use) {
        case TSectorUse::System: return QColor(0x55, 0x6b, 0x8d);
        case TSectorUse::Directory: return QColor(0xe0, 0x9a, 0x2a);
        case TSectorUse::File: return QColor(0x7f, 0xbf, 0x7f);
        case TSectorUse::Free: return QColor(0xf4, 0xf4, 0xf4);
        case TSectorUse::BadCrc: return QColor(0xd0, 0x20, 0x20);
        case TSectorUse::Missing: return QColor(0x20, 0x20, 0x20);
        case TSectorUse::Unreadable: return QColor(0xa0, 0x30, 0xa0);
        case TSectorUse::Outside: return QColor(0xc8, 0xc8, 0xc8);
    }
    return Qt::white;
}

QColor CDiskMapView::CellColour(int cell) const {
    const TMapSector& sector = DiskMap.Sectors[static_cast<size_t>(cell)];
    const bool lit = sector.File >= 0 && Highlighted.count(sector.File) != 0;
    if (sector.Use != TSectorUse::File) return UseColour(sector.Use);
    if (lit) return palette().color(QPalette::Highlight);
    // While files are selected the others fade, so that the lit ones stand out.
    return FileColour(sector.File, !Highlighted.empty());
}

QSize CDiskMapView::sizeHint() const {
    const TLayout layout = Layout();
    int width = TrackLabelWidth;
    for (int columns : layout.Columns) width += columns > 0 ? columns * 12 + SideGap : 0;
    return QSize(std::max(width, 320), HeaderHeight + layout.Rows * 9 + LegendHeight(fontMetrics()));
}

QSize CDiskMapView::minimumSizeHint() const {
    const TLayout layout = Layout();
    int width = TrackLabelWidth;
    for (int columns : layout.Columns) width += columns > 0 ? columns * MinCell + SideGap : 0;
    return QSize(width, HeaderHeight + layout.Rows * MinCell + LegendHeight(fontMetrics()));
}

void CDiskMapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    if (DiskMap.Sectors.empty()) return;
    const TLayout layout = Layout();
    painter.setPen(palette().color(QPalette::WindowText));
    // A single-sided floppy needs no side heading; a hard disk partition tells its head.
    const QString sideWord = DiskMap.HardDisk ? "Head %1" : "Side %1";
    const bool headings = DiskMap.HardDisk || ShownSides(layout) > 1;
    for (size_t side = 0; side < layout.SideLeft.size() && headings; ++side) {
        if (layout.Columns[side] == 0) continue;
        painter.drawText(QRect(layout.SideLeft[side], 0, layout.Columns[side] * layout.CellWidth, HeaderHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, sideWord.arg(side));
    }
    // A track number every fifth row, where the rows are tall enough to read it.
    const int every = std::max(5, ((fontMetrics().height() + layout.CellHeight - 1) / layout.CellHeight + 4) / 5 * 5);
    for (int track = DiskMap.FirstTrack; track <= DiskMap.LastTrack; ++track) {
        if (track % every != 0) continue;
        const int y = layout.Top + (track - DiskMap.FirstTrack) * layout.CellHeight;
        painter.drawText(QRect(0, y - fontMetrics().height() / 2 + layout.CellHeight / 2, TrackLabelWidth - 4,
                               fontMetrics().height()),
                         Qt::AlignRight | Qt::AlignVCenter, QString::number(track));
    }
    const bool gridLines = layout.CellWidth >= 5 && layout.CellHeight >= 5;
    const QColor line = palette().color(QPalette::Window);
    for (int cell = 0; cell < static_cast<int>(DiskMap.Sectors.size()); ++cell) {
        const QRect box = CellRect(layout, cell);
        painter.fillRect(gridLines ? box.adjusted(0, 0, -1, -1) : box, CellColour(cell));
        if (gridLines) {
            painter.setPen(line);
            painter.drawLine(box.topRight(), box.bottomRight());
            painter.drawLine(box.bottomLeft(), box.bottomRight());
        }
    }
    PaintLegend(painter, layout.Top + layout.Rows * layout.CellHeight + 6);
}

void CDiskMapView::PaintLegend(QPainter& painter, int top) const {
    const QFontMetrics metrics = fontMetrics();
    const int swatch = metrics.height() - 4;
    int x = TrackLabelWidth, y = top;
    painter.setPen(palette().color(QPalette::WindowText));
    for (TSectorUse use : LegendOrder) {
        QString label = QString::fromStdString(FileSystem::SectorUseName(use));
        if (use == TSectorUse::File) label = "a file (selected: highlighted)";
        const int width = swatch + 4 + metrics.horizontalAdvance(label) + 14;
        if (x + width > this->width() && x > TrackLabelWidth) {
            x = TrackLabelWidth;
            y += metrics.height() + 4;
        }
        const QRect box(x, y + 2, swatch, swatch);
        painter.fillRect(box, use == TSectorUse::File ? FileColour(1) : UseColour(use));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.drawText(QRect(x + swatch + 4, y, width, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, label);
        x += width;
    }
}

void CDiskMapView::mouseMoveEvent(QMouseEvent* event) {
    const int cell = CellAt(event->position().toPoint());
    const QString text = DescribeCell(cell);
    setToolTip(text);
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPosition().toPoint(), text, this);
}

void CDiskMapView::mousePressEvent(QMouseEvent* event) {
    const int cell = CellAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || cell < 0) return;
    const int file = DiskMap.Sectors[static_cast<size_t>(cell)].File;
    if (file >= 0) emit FileClicked(file);
}

// ---------------------------------------------------------------- dock

CDiskMapDock::CDiskMapDock(QWidget* parent) : QDockWidget("Disk Map", parent), MapView(new CDiskMapView) {
    setObjectName("DiskMapDock");
    auto* scroll = new QScrollArea;
    scroll->setWidget(MapView);
    scroll->setWidgetResizable(true);
    setWidget(scroll);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable | QDockWidget::DockWidgetFloatable);
    toggleViewAction()->setText("Disk &Map");
    toggleViewAction()->setStatusTip("Show which file, table or free space each sector of the disk holds.");
    // Mapped when opened; the action is heard as well as the dock, which tells of its
    // visibility only once its window is on the screen.
    auto mapIfWanted = [this](bool shown) {
        if (shown && Stale) MapNow();
    };
    connect(this, &QDockWidget::visibilityChanged, this, mapIfWanted);
    connect(toggleViewAction(), &QAction::toggled, this, mapIfWanted);
}

void CDiskMapDock::ShowFileSystem(FileSystem::TFileSystem* fs) {
    Mapped = fs;
    Stale = true;
    if (!isHidden() || fs == nullptr) MapNow();
}

void CDiskMapDock::SetHighlighted(const std::vector<int>& files) {
    Selected = files;
    MapView->SetHighlighted(files);
}

void CDiskMapDock::MapNow() {
    Stale = false;
    if (Mapped == nullptr) {
        MapView->ShowMap({}, {});
        return;
    }
    FileSystem::TDiskMap map;
    std::vector<QString> names;
    try {
        map = FileSystem::MapDisk(*Mapped);
        for (const TMapSector& sector : map.Sectors) {
            if (sector.File < 0) continue;
            if (static_cast<size_t>(sector.File) >= names.size()) names.resize(static_cast<size_t>(sector.File) + 1);
            QString& name = names[static_cast<size_t>(sector.File)];
            if (name.isEmpty()) name = ToQ(Mapped->GetDisplayName(sector.File));
        }
    } catch (const std::exception&) {
        map = {};  // a disk too damaged to map shows no map rather than half of one
    }
    MapView->ShowMap(std::move(map), std::move(names));
    MapView->SetHighlighted(Selected);
}

}  // namespace App
