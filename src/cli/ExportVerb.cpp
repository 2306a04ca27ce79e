// qbox export: every file of every partition into one host folder per partition,
// with a manifest.json describing what was written.
#include <cerrno>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "diskimage/HostFile.h"
#include "diskimage/OutputFolder.h"
#include "filesystem/DiskCheck.h"
#include "filesystem/DiskExport.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;

struct ExportOptions {
    std::string Image;
    std::string Directory;
    bool Force = false;
};

constexpr const char* ManifestName = "manifest.json";

// Extracts every file of one partition and describes each in the manifest. Returns how
// many problems were reported; written counts the host files written.
int DescribePartition(TFileSystem& fs, const DiskImage::TOutputFolder& folder, const ExportOptions& options,
                      JsonWriter& json, int& written) {
    int failures = 0;
    json.Key("directory_problems").BeginArray();
    for (const FileSystem::TSectorProblem& problem : fs.GetDirectoryProblems())
        json.String(FileSystem::DescribeSectorProblem(problem));
    json.EndArray();
    if (!ReportDirectoryProblems(options.Image, fs)) ++failures;
    json.Key("files").BeginArray();
    written += FileSystem::ExportPartition(fs, folder, options.Force, [&](const FileSystem::TExportedFile& file) {
        const int fileIndex = file.FileIndex;
        if (!file.Error.empty()) {
            Report(options.Image, fs.GetDisplayName(fileIndex) + ": " + file.Error);
            ++failures;
        } else if (!ReportFileRead(options.Image, fs.GetDisplayName(fileIndex), file.Read)) {
            ++failures;
        }
        std::string attributes;
        for (const auto& attribute : fs.GetAttributeList())
            if (fs.HasAttribute(fileIndex, attribute.Mask)) attributes += attribute.Name.empty() ? "" : attribute.Name + ",";
        if (!attributes.empty()) attributes.pop_back();
        json.BeginObject()
            .Key("name")
            .String(fs.GetFullFileName(fileIndex))
            .Key("host_name")
            .String(file.HostName)
            .Key("size")
            .Number(fs.GetFileSize(fileIndex))
            .Key("date")
            .StringOrNull(FormatDate(fs.GetFileDate(fileIndex)))
            .Key("attributes")
            .String(fs.GetAttributeLetters(fileIndex))
            .Key("attribute_names")
            .String(attributes)
            .Key("error")
            .StringOrNull(file.Error);
        // What reading met: the bytes of sectors read cleanly, and each sector read with an error.
        if (file.Error.empty()) json.Key("good_bytes").Number(static_cast<int64_t>(file.Read.GoodBytes));
        json.Key("read_problems").BeginArray();
        for (const FileSystem::TSectorProblem& problem : file.Read.Problems)
            json.String(FileSystem::DescribeSectorProblem(problem));
        json.EndArray().EndObject();
    });
    json.EndArray();
    return failures;
}

// Every folder and file export makes is made without following a link: the folder named
// with -d is opened as named, and nothing planted inside it is written through.
int RunExport(const ExportOptions& options) {
    DiskImage::TOutputFolder top;
    if (int error = top.Open(options.Directory, true); error != 0)
        throw Failure(DiskImage::OutputErrorText(error, options.Directory));
    const std::string manifestPath = top.PathOf(ManifestName);
    if (int error = top.CheckName(ManifestName, options.Force); error != 0)
        throw Failure(error == EEXIST ? manifestPath + ": File exists" : DiskImage::OutputErrorText(error, manifestPath));
    FileSystem::MountedDisk disk;
    disk.Open(options.Image, true);  // exporting never changes the image
    // The manifest is written whole at the end, so that a failed run leaves none.
    std::ostringstream manifest;
    JsonWriter json(manifest);
    json.BeginObject().Key("image").String(options.Image).Key("format").String(disk.Image->GetFormatName());
    json.Key("partitions").BeginArray();
    int failures = 0, written = 0;
    for (size_t p = 0; p < disk.FileSystems.size(); ++p) {
        TFileSystem& fs = *disk.FileSystems[p];
        const std::string name = FileSystem::PartitionFolderName(p);
        DiskImage::TOutputFolder folder;
        if (int error = top.OpenInside(name, true, folder); error != 0)
            throw Failure(DiskImage::OutputErrorText(error, top.PathOf(name)));
        json.BeginObject()
            .Key("partition")
            .Number(static_cast<int64_t>(p))
            .Key("folder")
            .String(name)
            .Key("dos")
            .String(fs.GetDOSName(false))
            .Key("disk_name")
            .StringOrNull(fs.GetDiskName())
            .Key("disk_date")
            .StringOrNull(fs.GetDiskDate());
        failures += DescribePartition(fs, folder, options, json, written);
        json.EndObject();
    }
    json.EndArray().EndObject();
    manifest << '\n';
    if (int error = DiskImage::WriteOutputFile(top, ManifestName, manifest.str(), options.Force); error != 0)
        throw Failure(error == EEXIST ? manifestPath + ": File exists" : DiskImage::OutputErrorText(error, manifestPath));
    std::cout << written << " files from " << disk.FileSystems.size() << " partition"
              << (disk.FileSystems.size() == 1 ? "" : "s") << " written to " << Printable(options.Directory) << '\n';
    return failures == 0 ? ExitOk : ExitFailure;
}

}  // namespace

void AddExportVerb(CLI::App& app, RunResult& result) {
    auto options = std::make_shared<ExportOptions>();
    CLI::App* verb = app.add_subcommand(
        "export",
        "Extract every file of every partition, byte for byte, into DIR/partition0, DIR/partition1 ..., and "
        "describe them (name, size, date, attributes) in DIR/manifest.json. The image is opened read-only");
    verb->add_option("IMAGE", options->Image, "Disk image")->required();
    verb->add_option("-d,--directory", options->Directory, "Host folder to create (with its parents) or fill")->required();
    verb->add_flag("-f,--force", options->Force, "Overwrite host files that exist");
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Image, [&] { return RunExport(*options); });
    });
}

}  // namespace Qbox
