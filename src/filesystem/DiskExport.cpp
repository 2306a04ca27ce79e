#include "filesystem/DiskExport.h"

#include <map>

#include "diskimage/OutputFolder.h"
#include "filesystem/DiskCheck.h"

namespace FileSystem {

std::string PartitionFolderName(size_t partition) { return "partition" + std::to_string(partition); }

int ExportPartition(TFileSystem& fs, const DiskImage::TOutputFolder& folder, bool overwrite,
                    const std::function<void(const TExportedFile&)>& each) {
    TransferSettings settings;
    settings.ByteExact = true;
    settings.ExtractDirectory = folder.Path();
    settings.Folder = &folder;
    // Files of CP/M user areas other than 0 go into userN/, and no two files share a host name.
    const std::map<int, std::string> hostNames = HostNamesOfDisk(fs, true);
    int written = 0;
    for (int fileIndex : ListEveryFile(fs)) {
        TExportedFile file;
        file.FileIndex = fileIndex;
        const auto known = hostNames.find(fileIndex);
        file.HostName = known != hostNames.end() ? known->second : ExtractedFileName(fs, fileIndex);
        try {
            ExtractFileAs(fs, fileIndex, file.HostName, overwrite, settings, &file.Read);
            ++written;
        } catch (const TFileSystem::Exception& failure) {
            file.Error = failure.what();
        }
        each(file);
    }
    return written;
}

}  // namespace FileSystem
