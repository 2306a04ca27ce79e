// Tools > Check Disk: the check of the open disk, run off the window's thread, and the
// window that lists its findings.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "filesystem/DiskCheck.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace FileSystem {
class MountedDisk;
class TFileSystem;
}

namespace App {

// Runs the check on a worker thread; the window keeps painting and shows "Checking the
// disk…" while it runs, but takes no commands, so nothing else touches the disk.
std::vector<FileSystem::TCheckSection> RunDiskCheck(QWidget* parent, FileSystem::MountedDisk& disk);

// The file a finding names: the longest name of a file of the partition that its message
// contains, -1 when it names none.
int FileNamedBy(FileSystem::TFileSystem& fs, const std::string& message);

class CCheckFindingsDialog : public QDialog {
    Q_OBJECT
public:
    // Each section a branch, each finding a leaf under it; a finding that names a file
    // of the disk remembers it.
    CCheckFindingsDialog(FileSystem::MountedDisk& disk, const std::vector<FileSystem::TCheckSection>& sections,
                         QWidget* parent = nullptr);

    QTreeWidget* Findings() const { return Tree; }
    // Selects the finding's file in the main window, when it names one.
    void ChooseFinding(QTreeWidgetItem* item);

signals:
    void FileChosen(int partition, int fileIndex);

private:
    QTreeWidget* Tree;
};

}  // namespace App
