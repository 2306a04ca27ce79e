// qbox export: every file of every partition into one host folder per partition,
// with a manifest.json describing what was written.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "filesystem/DiskCheck.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;

struct ExportOptions {
    std::string Image;
    std::string Directory;
    bool Force = false;
};

void MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) throw Failure(path + ": " + std::strerror(errno));
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) throw Failure(path + ": " + std::strerror(ENOTDIR));
}

// Extracts every file of one partition and describes each in the manifest.
int ExportPartition(TFileSystem& fs, const std::string& folder, const ExportOptions& options, JsonWriter& json) {
    FileSystem::TransferSettings settings;
    settings.ByteExact = true;
    settings.ExtractDirectory = folder;
    int failures = 0;
    json.Key("files").BeginArray();
    for (int fileIndex : FileSystem::ListEveryFile(fs)) {
        std::string error;
        try {
            FileSystem::ExtractFile(fs, fileIndex, options.Force, settings);
        } catch (const TFileSystem::Exception& failure) {
            error = failure.what();
            Report(options.Image, fs.GetDisplayName(fileIndex) + ": " + error);
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
            .String(fs.GetHostFileName(fileIndex))
            .Key("size")
            .Number(fs.GetFileSize(fileIndex))
            .Key("date")
            .StringOrNull(FormatDate(fs.GetFileDate(fileIndex)))
            .Key("attributes")
            .String(fs.GetAttributeLetters(fileIndex))
            .Key("attribute_names")
            .String(attributes)
            .Key("error")
            .StringOrNull(error)
            .EndObject();
    }
    json.EndArray();
    return failures;
}

int RunExport(const ExportOptions& options) {
    MakeFolder(options.Directory);
    const std::string manifestPath = options.Directory + "/manifest.json";
    struct stat existing {};
    if (!options.Force && ::stat(manifestPath.c_str(), &existing) == 0) throw Failure(manifestPath + ": File exists");
    FileSystem::MountedDisk disk;
    disk.Open(options.Image, true);  // exporting never changes the image
    std::ofstream manifest(manifestPath, std::ios::trunc);
    if (!manifest) throw Failure(manifestPath + ": " + std::strerror(errno));
    JsonWriter json(manifest);
    json.BeginObject().Key("image").String(options.Image).Key("format").String(disk.Image->GetFormatName());
    json.Key("partitions").BeginArray();
    int failures = 0, files = 0;
    for (size_t p = 0; p < disk.FileSystems.size(); ++p) {
        TFileSystem& fs = *disk.FileSystems[p];
        const std::string name = "partition" + std::to_string(p);
        const std::string folder = options.Directory + "/" + name;
        MakeFolder(folder);
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
        failures += ExportPartition(fs, folder, options, json);
        files += static_cast<int>(FileSystem::ListEveryFile(fs).size());
        json.EndObject();
    }
    json.EndArray().EndObject();
    manifest << '\n';
    manifest.close();
    if (!manifest) throw Failure(manifestPath + ": cannot be written");
    std::cout << files - failures << " files from " << disk.FileSystems.size() << " partition"
              << (disk.FileSystems.size() == 1 ? "" : "s") << " written to " << options.Directory << '\n';
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
    verb->add_option("-d,--directory", options->Directory, "Host folder to create or fill")->required();
    verb->add_flag("-f,--force", options->Force, "Overwrite host files that exist");
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Image, [&] { return RunExport(*options); });
    });
}

}  // namespace Qbox
