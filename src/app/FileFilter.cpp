#include "FileFilter.h"

#include "FileListModel.h"
#include "filesystem/FileSystem.h"
#include "filesystem/HostTransfer.h"

namespace App {

std::optional<std::unordered_set<int>> FilesMatching(FileSystem::TFileSystem& fs, const CFileListModel& listed,
                                                     const QString& text) {
    const QString wanted = text.trimmed();
    if (wanted.isEmpty()) return std::nullopt;
    std::unordered_set<int> kept;
    const bool wildcard = wanted.contains('*') || wanted.contains('?');
    const std::vector<std::string> pattern{FileSystem::DiskPattern(fs, wanted.toLatin1().toStdString())};
    const QChar separator = QChar::fromLatin1(fs.GetExtensionSeparator());
    for (int row = 0; row < listed.rowCount(); ++row) {
        const CFileListModel::Row& file = listed.RowAt(row);
        bool matches = false;
        if (wildcard) {
            try {
                matches = fs.MatchesPattern(pattern, fs.GetFullFileName(file.FileIndex));
            } catch (const std::exception&) {
                // An entry whose name cannot be read matches no pattern.
            }
        } else {
            // The DOS's own form ("NAME/EXT") and the host's ("NAME.EXT") both find a file.
            const QString own = file.Type.isEmpty() ? file.Name : file.Name + separator + file.Type;
            const QString host = file.Type.isEmpty() ? file.Name : file.Name + '.' + file.Type;
            matches = own.contains(wanted, Qt::CaseInsensitive) || host.contains(wanted, Qt::CaseInsensitive);
        }
        if (matches) kept.insert(file.FileIndex);
    }
    return kept;
}

}  // namespace App
