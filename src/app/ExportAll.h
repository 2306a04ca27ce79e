// Tools > Export all…: every file of every partition into one host folder per
// partition, through the same export as qbox export.
#pragma once

#include <QString>
#include <QStringList>

namespace FileSystem {
class MountedDisk;
}

namespace App {

struct ExportSummary {
    int Written = 0;      // host files written
    int Partitions = 0;
    QStringList Problems;  // directory sectors, files not written or read with errors
};

// Exports into folder/partition0, folder/partition1 …; a host file that exists is kept
// and counted as a problem. Throws TFileSystem::EFileError when a folder cannot be made.
ExportSummary ExportAllFiles(FileSystem::MountedDisk& disk, const QString& folder);

}  // namespace App
