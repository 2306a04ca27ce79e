#include "FileListModel.h"

#include <QApplication>
#include <QStyle>
#include <algorithm>
#include <climits>
#include <iterator>

#include "AppText.h"

namespace App {

using FileSystem::TFileSystem;

void CFileListModel::Fill(TFileSystem& fs, const std::vector<int>& fileIndices) {
    beginResetModel();
    Rows.clear();
    Rows.reserve(fileIndices.size());
    for (int fileIndex : fileIndices) {
        Row row;
        row.FileIndex = fileIndex;
        try {
            row.Name = ToQ(fs.GetFileName(fileIndex));
            const std::string extension = fs.GetFileExtension(fileIndex);
            row.Type = ToQ(extension);
            row.Size = fs.GetFileSize(fileIndex);
            const FileSystem::FileDate date = fs.GetFileDate(fileIndex);
            row.DateText = FormatFileDate(date);
            const QDateTime when = FileDateToDateTime(date);
            row.DateKey = when.isValid() ? when.toMSecsSinceEpoch() : LLONG_MIN;
            row.Attributes = ToQ(fs.GetAttributeLetters(fileIndex));
            if (fs.SupportsUserAreas()) row.User = fs.GetUserArea(fileIndex);
            row.Colour = RowColour(fs, fileIndex);
            row.Kind = Viewer::KindOfFile(extension, static_cast<size_t>(std::max<qint64>(row.Size, 0)),
                                          fs.GetFileSystemType());
        } catch (const TFileSystem::Exception&) {
            // Keep what was read; a damaged entry still deserves a row.
        }
        Rows.push_back(std::move(row));
    }
    endResetModel();
}

void CFileListModel::Clear() {
    beginResetModel();
    Rows.clear();
    endResetModel();
}

QColor CFileListModel::RowColour(TFileSystem& fs, int fileIndex) {
    const bool deleted = fs.HasAttribute(fileIndex, FileSystem::AttrDeleted);
    const bool invisible = fs.HasAttribute(fileIndex, FileSystem::AttrInvisible);
    const bool system = fs.HasAttribute(fileIndex, FileSystem::AttrSystem);
    if (deleted) return QColor(0, 0, 255);
    if (invisible && system) return QColor(255, 0, 0);
    if (invisible) return QColor(128, 128, 0);
    if (system) return QColor(255, 128, 0);
    return {};
}

QString CFileListModel::WidthTemplate(int column) {
    static const int widths[ColumnCount] = {12, 10, 10, 21, 11, 4};
    if (column < 0 || column >= ColumnCount) return {};
    return QString(widths[column], 'X');
}

int CFileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Rows.size());
}

int CFileListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant CFileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Row& row = RowAt(index.row());
    switch (role) {
    case Qt::DecorationRole:
        return index.column() == ColumnName ? QVariant(KindIcon(row.Kind)) : QVariant();
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColumnName: return row.Name;
        case ColumnType: return row.Type;
        case ColumnSize: return FormatSize(row.Size);
        case ColumnDate: return row.DateText;
        case ColumnAttributes: return row.Attributes;
        case ColumnUser: return row.User >= 0 ? QString::number(row.User) : QString();
        }
        break;
    case SortKeyRole:
        switch (index.column()) {
        case ColumnName: return row.Name.toCaseFolded();
        case ColumnType: return row.Type.toCaseFolded();
        case ColumnSize: return row.Size;
        case ColumnDate: return row.DateKey;
        case ColumnAttributes: return row.Attributes;
        case ColumnUser: return row.User;
        }
        break;
    case FileIndexRole:
        return row.FileIndex;
    case Qt::ForegroundRole:
        if (row.Colour.isValid()) return row.Colour;
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == ColumnSize || index.column() == ColumnUser) {
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        }
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return {};
}

QVariant CFileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal) return {};
    if (role == Qt::DisplayRole) {
        static const char* const headers[ColumnCount] = {"Name", "Type", "Size", "Date", "Attributes", "User"};
        if (section >= 0 && section < ColumnCount) return QString(headers[section]);
    }
    if (role == Qt::TextAlignmentRole) {
        const bool number = section == ColumnSize || section == ColumnUser;
        return QVariant::fromValue((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags CFileListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QIcon CFileListModel::KindIcon(Viewer::FileKind kind) const {
    struct KindIconName {
        const char* Theme;
        QStyle::StandardPixmap Fallback;
    };
    static const KindIconName names[] = {
        {"application-x-executable", QStyle::SP_ComputerIcon},  // Program
        {"text-x-script", QStyle::SP_FileDialogDetailedView},   // BASIC
        {"text-x-generic", QStyle::SP_FileDialogContentsView},  // Text
        {"text-x-csrc", QStyle::SP_FileDialogInfoView},         // AssemblerSource
        {"image-x-generic", QStyle::SP_DesktopIcon},            // Picture
        {"application-octet-stream", QStyle::SP_FileIcon},      // Data
    };
    static_assert(std::size(names) == std::tuple_size_v<decltype(KindIcons)>);
    const auto at = static_cast<size_t>(kind);
    if (at >= std::size(names)) return {};
    if (KindIcons[at].isNull()) {
        KindIcons[at] = QIcon::fromTheme(names[at].Theme, QApplication::style()->standardIcon(names[at].Fallback));
    }
    return KindIcons[at];
}

CFileSortProxy::CFileSortProxy(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(CFileListModel::SortKeyRole);
}

void CFileSortProxy::SetShownFileIndices(std::optional<std::unordered_set<int>> fileIndices) {
    Shown = std::move(fileIndices);
    invalidateFilter();
}

bool CFileSortProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (!Shown) return true;
    const int fileIndex = sourceModel()->index(sourceRow, 0, sourceParent).data(CFileListModel::FileIndexRole).toInt();
    return Shown->count(fileIndex) != 0;
}

bool NaturalLess(const QString& a, const QString& b) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // Compare the two numbers by value: without leading zeros, the longer is larger.
            const qsizetype startA = i;
            const qsizetype startB = j;
            while (i < a.size() && a[i].isDigit()) ++i;
            while (j < b.size() && b[j].isDigit()) ++j;
            QStringView numberA = QStringView(a).sliced(startA, i - startA);
            QStringView numberB = QStringView(b).sliced(startB, j - startB);
            while (numberA.size() > 1 && numberA.front() == u'0') numberA = numberA.sliced(1);
            while (numberB.size() > 1 && numberB.front() == u'0') numberB = numberB.sliced(1);
            if (numberA.size() != numberB.size()) return numberA.size() < numberB.size();
            if (const int order = numberA.compare(numberB); order != 0) return order < 0;
            continue;
        }
        if (a[i] != b[j]) return a[i] < b[j];
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
    return a < b;  // equal by value, as "A01" and "A1": a fixed order all the same
}

bool CFileSortProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QVariant a = left.data(CFileListModel::SortKeyRole);
    const QVariant b = right.data(CFileListModel::SortKeyRole);
    const int column = left.column();
    if (column == CFileListModel::ColumnName || column == CFileListModel::ColumnType) {
        return NaturalLess(a.toString(), b.toString());
    }
    if (a.typeId() == QMetaType::QString) return a.toString() < b.toString();
    return a.toLongLong() < b.toLongLong();
}

}  // namespace App
