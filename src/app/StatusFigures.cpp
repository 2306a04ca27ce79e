#include "StatusFigures.h"

#include <QHBoxLayout>
#include <QLabel>
#include <unordered_set>

#include "AppText.h"
#include "FileListModel.h"
#include "PropertyDialogs.h"
#include "filesystem/FileSystem.h"

namespace App {

TStatusFigures StatusFiguresOf(FileSystem::TFileSystem& fs, const CFileSortProxy& shown,
                               const std::vector<int>& selectedFileIndices) {
    TStatusFigures figures;
    const std::unordered_set<int> selected(selectedFileIndices.begin(), selectedFileIndices.end());
    const auto& listed = static_cast<const CFileListModel&>(*shown.sourceModel());
    // The sizes come from the rows, which were read once when the list was filled.
    for (int row = 0; row < shown.rowCount(); ++row) {
        const CFileListModel::Row& file = listed.RowAt(shown.mapToSource(shown.index(row, 0)).row());
        ++figures.Shown;
        figures.ShownBytes += file.Size;
        if (selected.count(file.FileIndex) != 0) {
            ++figures.Selected;
            figures.SelectedBytes += file.Size;
        }
    }
    try {
        figures.FreeBytes = fs.GetFreeSpace();
    } catch (const FileSystem::TFileSystem::Exception&) {
        // A damaged allocation table leaves the free space unknown, not wrong.
        figures.FreeBytes = -1;
    }
    figures.DOS = ToQ(fs.GetDOSName(false));
    return figures;
}

QString FilesText(const TStatusFigures& figures) {
    const QString files = figures.Shown == 1 ? QString("1 file") : QString("%1 files").arg(figures.Shown);
    if (figures.Selected == 0) return QString("%1, %2").arg(files, CDiskInfoDialog::FormatK(figures.ShownBytes));
    return QString("%1 of %2 selected, %3")
        .arg(figures.Selected)
        .arg(files, CDiskInfoDialog::FormatK(figures.SelectedBytes));
}

QString FreeText(const TStatusFigures& figures) {
    return figures.FreeBytes < 0 ? QString() : CDiskInfoDialog::FormatK(figures.FreeBytes) + " free";
}

CStatusFigures::CStatusFigures(QWidget* parent)
    : QWidget(parent), Files(new QLabel(this)), Free(new QLabel(this)), DOS(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(fontMetrics().horizontalAdvance(QString(3, 'X')));
    layout->addWidget(Files);
    layout->addWidget(Free);
    layout->addWidget(DOS);
    ShowNoDisk();
}

void CStatusFigures::Show(const TStatusFigures& figures) {
    Files->setText(FilesText(figures));
    Free->setText(FreeText(figures));
    Free->setVisible(figures.FreeBytes >= 0);
    DOS->setText(figures.DOS);
    setVisible(true);
}

void CStatusFigures::ShowNoDisk() {
    Files->clear();
    Free->clear();
    DOS->clear();
    setVisible(false);
}

QString CStatusFigures::FilesShown() const { return Files->text(); }
QString CStatusFigures::FreeShown() const { return Free->text(); }
QString CStatusFigures::DOSShown() const { return DOS->text(); }

}  // namespace App
