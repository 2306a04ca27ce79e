// qbox info: the image and, per partition, the file system it holds.
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;

struct InfoOptions {
    std::string Image;
    bool Json = false;
};

std::string PDriveText(TFileSystem& fs) { return fs.GetPDrive().value_or(std::string()); }

struct PartitionFacts {
    std::string DOS, Family, Description, DiskName, DiskDate, PDrive;
    int Capacity = 0;
    int Free = 0;
    bool Damaged = false;
    size_t Files = 0;
};

PartitionFacts Gather(TFileSystem& fs) {
    PartitionFacts facts;
    facts.DOS = fs.GetDOSName(false);
    facts.Family = fs.GetDOSName(true);
    facts.Description = fs.GetDOSDescription();
    if (fs.SupportsDiskName()) facts.DiskName = fs.GetDiskName();
    if (fs.SupportsDiskDate()) facts.DiskDate = fs.GetDiskDate();
    facts.Capacity = fs.GetCapacity();
    facts.Free = fs.GetFreeSpace();
    facts.Damaged = fs.ReadError;
    facts.PDrive = PDriveText(fs);
    facts.Files = FileSystem::ListAllFiles(fs, FileSystem::ListInvisible | FileSystem::ListSystem).size();
    return facts;
}

const char* WriteProtectText(int state) {
    switch (state) {
        case 0: return "no";
        case 1: return "yes";
        default: return "read-only file";
    }
}

void PrintJson(const std::string& image, FileSystem::MountedDisk& disk, const std::vector<PartitionFacts>& parts) {
    JsonWriter json(std::cout);
    json.BeginObject();
    json.Key("image").String(image);
    json.Key("format").String(disk.Image->GetFormatName());
    json.Key("write_protect").Number(disk.Image->GetWriteProtect());
    json.Key("hard_disk").Bool(disk.Image->IsHardDisk() != 0);
    json.Key("partitions").BeginArray();
    for (const PartitionFacts& facts : parts) {
        json.BeginObject();
        json.Key("dos").String(facts.DOS);
        json.Key("family").String(facts.Family);
        json.Key("description").String(facts.Description);
        json.Key("disk_name").StringOrNull(facts.DiskName);
        json.Key("disk_date").StringOrNull(facts.DiskDate);
        json.Key("capacity").Number(facts.Capacity);
        json.Key("free").Number(facts.Free);
        json.Key("damaged").Bool(facts.Damaged);
        json.Key("pdrive").StringOrNull(facts.PDrive);
        json.Key("files").Number(static_cast<int64_t>(facts.Files));
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    std::cout << '\n';
}

void PrintText(const std::string& image, FileSystem::MountedDisk& disk, const std::vector<PartitionFacts>& parts) {
    std::cout << "Image:          " << Printable(image) << '\n'
              << "Format:         " << disk.Image->GetFormatName() << '\n'
              << "Write protect:  " << WriteProtectText(disk.Image->GetWriteProtect()) << '\n'
              << "Partitions:     " << parts.size() << '\n';
    for (size_t index = 0; index < parts.size(); ++index) {
        const PartitionFacts& facts = parts[index];
        std::cout << "Partition " << index << ":\n"
                  << "  File system:  " << facts.DOS << '\n';
        if (facts.Description != facts.DOS) std::cout << "  Description:  " << Printable(facts.Description) << '\n';
        if (!facts.DiskName.empty()) std::cout << "  Volume name:  " << Printable(facts.DiskName) << '\n';
        if (!facts.DiskDate.empty()) std::cout << "  Volume date:  " << Printable(facts.DiskDate) << '\n';
        std::cout << "  Capacity:     " << facts.Capacity << " bytes\n"
                  << "  Free space:   " << facts.Free << " bytes\n"
                  << "  Files:        " << facts.Files << '\n'
                  << "  Damaged:      " << (facts.Damaged ? "Yes" : "No") << '\n';
        if (!facts.PDrive.empty()) std::cout << "  PDRIVE:       " << Printable(facts.PDrive) << '\n';
    }
}

int RunInfo(const InfoOptions& options) {
    FileSystem::MountedDisk disk;
    OpenDisk(disk, options.Image, 0);
    std::vector<PartitionFacts> parts;
    for (auto& fs : disk.FileSystems) parts.push_back(Gather(*fs));
    if (options.Json)
        PrintJson(options.Image, disk, parts);
    else
        PrintText(options.Image, disk, parts);
    return ExitOk;
}

}  // namespace

void AddInfoVerb(CLI::App& app, RunResult& result) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* verb = app.add_subcommand("info", "Show the image format, write protection and, per partition, "
                                                "the file system, volume name and date, capacity and free space");
    verb->add_option("IMAGE", options->Image, "Disk image")->required();
    verb->add_flag("--json", options->Json, "Print one JSON object");
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Image, [&] { return RunInfo(*options); });
    });
}

}  // namespace Qbox
