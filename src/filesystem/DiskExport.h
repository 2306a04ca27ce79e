// Exporting a disk: every file of every partition, byte for byte, into one host folder
// per partition. Shared by qbox export and the desktop program's Export all.
#pragma once

#include <functional>
#include <string>

#include "filesystem/FileSystem.h"
#include "filesystem/HostTransfer.h"

namespace DiskImage {
class TOutputFolder;
}

namespace FileSystem {

// The folder a partition's files go into: "partition0", "partition1" ...
std::string PartitionFolderName(size_t partition);

// One file as it was exported.
struct TExportedFile {
    int FileIndex = -1;
    std::string HostName;  // its name in the folder (CP/M user areas above 0 in userN/)
    std::string Error;     // why it was not written, empty when it was
    TFileRead Read;        // what reading it met (meaningful when written)
};

// Extracts every file of the partition into the folder, byte for byte, under names no
// two files share; a file that exists is replaced only when overwrite is set. Calls each
// for every file in directory order, written or not; returns how many were written.
int ExportPartition(TFileSystem& fs, const DiskImage::TOutputFolder& folder, bool overwrite,
                    const std::function<void(const TExportedFile&)>& each);

}  // namespace FileSystem
