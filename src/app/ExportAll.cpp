#include "ExportAll.h"

#include <QFile>

#include "AppText.h"
#include "diskimage/OutputFolder.h"
#include "filesystem/DiskExport.h"
#include "filesystem/MountedDisk.h"

namespace App {

ExportSummary ExportAllFiles(FileSystem::MountedDisk& disk, const QString& folder) {
    const std::string path = QFile::encodeName(folder).toStdString();
    DiskImage::TOutputFolder top;
    // A host folder that cannot be made or opened fails like any host file a transfer
    // cannot write.
    using EFileError = FileSystem::TFileSystem::EFileError;
    if (int error = top.Open(path, true); error != 0) throw EFileError(error, DiskImage::OutputErrorText(error, path));
    ExportSummary summary;
    for (size_t p = 0; p < disk.FileSystems.size(); ++p) {
        FileSystem::TFileSystem& fs = *disk.FileSystems[p];
        const std::string name = FileSystem::PartitionFolderName(p);
        DiskImage::TOutputFolder inside;
        if (int error = top.OpenInside(name, true, inside); error != 0)
            throw EFileError(error, DiskImage::OutputErrorText(error, top.PathOf(name)));
        const QString where = ToQ(name) + ": ";
        for (const FileSystem::TSectorProblem& problem : fs.GetDirectoryProblems())
            summary.Problems << where + "directory: " + ToQ(FileSystem::DescribeSectorProblem(problem));
        summary.Written += FileSystem::ExportPartition(fs, inside, false, [&](const FileSystem::TExportedFile& file) {
            const QString shown = where + ToQ(fs.GetDisplayName(file.FileIndex)) + ": ";
            if (!file.Error.empty()) {
                summary.Problems << shown + ToQ(file.Error);
            } else if (!file.Read.IsWhole()) {
                summary.Problems << shown + ToQ(FileSystem::DescribeShortRead(file.Read));
            }
        });
        ++summary.Partitions;
    }
    return summary;
}

}  // namespace App
