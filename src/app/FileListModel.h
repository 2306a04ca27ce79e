// The rows of the file list: one per file index, with its cells, the value
// each column sorts by, and its text colour.
#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QSortFilterProxyModel>
#include <array>
#include <optional>
#include <unordered_set>
#include <vector>

#include "filesystem/FileSystem.h"
#include "viewer/ViewerModes.h"

namespace App {

class CFileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // User is shown only for file systems with user areas, after Type.
    enum Column { ColumnName, ColumnType, ColumnSize, ColumnDate, ColumnAttributes, ColumnUser, ColumnCount };
    // The file index of a row, in every column.
    static constexpr int FileIndexRole = Qt::UserRole;
    // The value a column sorts by.
    static constexpr int SortKeyRole = Qt::UserRole + 1;

    struct Row {
        int FileIndex = -1;
        QString Name;
        QString Type;
        qint64 Size = 0;
        QString DateText;
        qint64 DateKey = 0;
        QString Attributes;
        int User = -1;  // -1: the file system has no user areas
        QColor Colour;  // invalid: the list's default
        Viewer::FileKind Kind = Viewer::FileKind::Data;  // picks the name's icon
    };

    using QAbstractTableModel::QAbstractTableModel;

    // Replaces every row with the given files; a file whose details cannot be
    // read still gets a row with what could be read.
    void Fill(FileSystem::TFileSystem& fs, const std::vector<int>& fileIndices);
    void Clear();
    const Row& RowAt(int row) const { return Rows[static_cast<size_t>(row)]; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The colour of a file from its Deleted, Invisible and System attributes.
    static QColor RowColour(FileSystem::TFileSystem& fs, int fileIndex);
    // The template strings the column widths are measured from.
    static QString WidthTemplate(int column);
    // The icon of a kind of file: the desktop's theme icon, or a built-in one.
    QIcon KindIcon(Viewer::FileKind kind) const;

private:
    std::vector<Row> Rows;
    // Looked up once a kind: the theme search is far too slow to run for every row painted.
    mutable std::array<QIcon, 6> KindIcons;
};

// Whether a comes before b with runs of digits compared as numbers ("SYS2" before "SYS10").
bool NaturalLess(const QString& a, const QString& b);

// Sorts by each column's key; the model already gives case-insensitive keys
// to Name and Type and keeps Attributes case-sensitive. Names and types sort in
// natural order.
class CFileSortProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit CFileSortProxy(QObject* parent = nullptr);

    // Shows only the rows of these file indices; no set shows every row.
    void SetShownFileIndices(std::optional<std::unordered_set<int>> fileIndices);

protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    std::optional<std::unordered_set<int>> Shown;
};

}  // namespace App
