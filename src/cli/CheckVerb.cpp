// qbox check: a read-only health check of a disk.
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "diskimage/DiskImage.h"
#include "filesystem/DiskCheck.h"

namespace Qbox {

namespace {

using FileSystem::TFinding;

struct CheckOptions {
    std::string Image;
    bool Json = false;
};

using Section = FileSystem::TCheckSection;

std::vector<Section> CheckDisk(const std::string& image) {
    // Read-only: the image file cannot be changed by anything below.
    FileSystem::MountedDisk disk;
    std::string mountError;
    try {
        disk.Open(image, true);
    } catch (const FileSystem::TFileSystem::Exception& error) {
        mountError = error.what();
    }
    if (!disk.IsOpen()) {
        // No file system recognised: the image itself opens as mounting opened it (floppy
        // first, then hard disk), so that a floppy's tracks can still be read and a hard
        // disk is named with the same message as everywhere else.
        try {
            disk.Image = DiskImage::OpenFloppyImage(image, true);
        } catch (const DiskImage::TDiskImage::Exception&) {
            disk.Image = DiskImage::OpenHardImage(image, true);
        }
    }
    std::vector<Section> sections = FileSystem::CheckMountedDisk(disk);
    if (!mountError.empty()) {
        // Said after the tracks, before any partition.
        const bool tracks = !sections.empty() && sections.front().Partition < 0;
        sections.insert(sections.begin() + (tracks ? 1 : 0),
                        Section{"File system", {TFinding{FileSystem::TSeverity::Error, mountError}}, -1});
    }
    return sections;
}

int RunCheck(const CheckOptions& options) {
    const std::vector<Section> sections = CheckDisk(options.Image);
    bool healthy = true;
    for (const auto& section : sections) healthy = healthy && FileSystem::IsHealthy(section.Findings);
    if (options.Json) {
        JsonWriter json(std::cout);
        json.BeginObject().Key("image").String(options.Image).Key("healthy").Bool(healthy).Key("sections").BeginArray();
        for (const auto& section : sections) {
            json.BeginObject().Key("name").String(section.Title).Key("findings").BeginArray();
            for (const auto& finding : section.Findings) {
                json.BeginObject()
                    .Key("severity")
                    .String(FileSystem::SeverityName(finding.Severity))
                    .Key("message")
                    .String(finding.Message)
                    .EndObject();
            }
            json.EndArray().EndObject();
        }
        json.EndArray().EndObject();
        std::cout << '\n';
    } else {
        for (const auto& section : sections) {
            std::cout << Printable(section.Title) << ":\n";
            for (const auto& finding : section.Findings)
                std::cout << "  " << FileSystem::SeverityName(finding.Severity) << ": " << Printable(finding.Message)
                          << '\n';
        }
        std::cout << Printable(options.Image) << ": " << (healthy ? "healthy" : "problems found") << '\n';
    }
    return healthy ? ExitOk : ExitFailure;
}

}  // namespace

void AddCheckVerb(CLI::App& app, RunResult& result) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* verb = app.add_subcommand(
        "check",
        "Check a disk's health without changing it: every sector of every track is read (CRC errors, missing "
        "sectors), then the file system's tables are checked against each other. Exit status 0 when healthy, "
        "1 when not");
    verb->add_option("IMAGE", options->Image, "Disk image")->required();
    verb->add_flag("--json", options->Json, "Write the findings as JSON");
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Image, [&] { return RunCheck(*options); });
    });
}

}  // namespace Qbox
