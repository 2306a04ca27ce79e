// The filter box's rule: which listed files a text typed by the user keeps.
#pragma once

#include <QString>
#include <optional>
#include <unordered_set>

namespace FileSystem {
class TFileSystem;
}

namespace App {

class CFileListModel;

// A text with "*" or "?" is a wildcard under the DOS's own rules (as qbox takes it);
// any other text keeps the names that contain it, in any case. An empty text keeps
// every file (no set).
std::optional<std::unordered_set<int>> FilesMatching(FileSystem::TFileSystem& fs, const CFileListModel& listed,
                                                     const QString& text);

}  // namespace App
