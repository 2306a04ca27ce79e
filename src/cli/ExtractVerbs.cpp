// qbox get and qbox cat: files from the disk to host files or standard output.

#include <cstdio>
#include <iostream>
#include <map>
#include <memory>

#include "cli/Cli.h"
#include "diskimage/HostFile.h"
#include "diskimage/OutputFolder.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;

// -t for files leaving the disk: no conversion unless asked.
const std::map<std::string, int> OutConversions = {{"crlf", 1}, {"lf", 2}};

FileSystem::TransferSettings OutSettings(const std::string& conversion) {
    FileSystem::TransferSettings settings;
    settings.ByteExact = conversion.empty();
    settings.ConversionTypeOut = conversion.empty() ? 0 : OutConversions.at(conversion);
    return settings;
}

struct GetOptions {
    std::string Image;
    std::vector<std::string> Patterns;
    std::string Directory = ".";
    std::string Conversion;
    bool Force = false;
    int Partition = 0;
};

int RunGet(const GetOptions& options) {
    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    // The folder (and any missing above it) is made once the image has opened, so that a
    // wrong image path leaves no empty folder behind.
    DiskImage::TOutputFolder folder;
    if (int error = folder.Open(options.Directory, true); error != 0)
        throw Failure(DiskImage::OutputErrorText(error, options.Directory));
    int failures = 0;
    std::vector<int> files = MatchFiles(fs, options.Patterns, FileSystem::ListInvisible | FileSystem::ListSystem,
                                        options.Image, failures);
    if (!ReportDirectoryProblems(options.Image, fs)) ++failures;
    FileSystem::TransferSettings settings = OutSettings(options.Conversion);
    settings.ExtractDirectory = options.Directory;
    // Every file of the disk has a host name of its own, whichever of them are extracted.
    const std::map<int, std::string> hostNames = FileSystem::HostNamesOfDisk(fs);
    for (int fileIndex : files) {
        const std::string name = fs.GetDisplayName(fileIndex);
        try {
            const auto hostName = hostNames.find(fileIndex);
            FileSystem::TFileRead read;
            FileSystem::ExtractFileAs(fs, fileIndex,
                                      hostName != hostNames.end() ? hostName->second
                                                                  : FileSystem::ExtractedFileName(fs, fileIndex),
                                      options.Force, settings, &read);
            if (!ReportFileRead(options.Image, name, read)) ++failures;
        } catch (const TFileSystem::Exception& error) {
            Report(options.Image, name + ": " + error.what());
            ++failures;
        }
    }
    return failures == 0 ? ExitOk : ExitFailure;
}

struct CatOptions {
    std::string Image;
    std::vector<std::string> Files;
    std::string Conversion;
    int Partition = 0;
};

int RunCat(const CatOptions& options) {
    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    int failures = 0;
    std::vector<int> files = MatchFiles(fs, options.Files, FileSystem::ListInvisible | FileSystem::ListSystem,
                                        options.Image, failures);
    if (!ReportDirectoryProblems(options.Image, fs)) ++failures;
    FileSystem::TransferSettings settings = OutSettings(options.Conversion);
    for (int fileIndex : files) {
        FileSystem::TFileRead read = fs.ReadFileChecked(fileIndex);
        if (!ReportFileRead(options.Image, fs.GetDisplayName(fileIndex), read)) ++failures;
        std::vector<uint8_t> bytes = std::move(read.Bytes);
        if (!settings.ByteExact)
            bytes = FileSystem::ConvertFromTRS80(fs, bytes, fs.GetFileExtension(fileIndex),
                                                 settings.ConversionTypeOut);
        std::cout.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return failures == 0 ? ExitOk : ExitFailure;
}

void AddConversionOption(CLI::App* verb, std::string& conversion) {
    verb->add_option("-t,--text", conversion,
                     "Convert line ends of text files: crlf (CR to CR/LF) or lf (CR to LF); "
                     "without it the bytes are copied exactly")
        ->check(CLI::IsMember({"crlf", "lf"}));
}

}  // namespace

void AddExtractVerbs(CLI::App& app, RunResult& result) {
    auto get = std::make_shared<GetOptions>();
    CLI::App* getVerb = app.add_subcommand(
        "get", "Extract the matching files (invisible and system ones included) into a host folder, with "
               "lower-case host names dated from the files' dates");
    getVerb->add_option("IMAGE", get->Image, "Disk image")->required();
    getVerb->add_option("PATTERN", get->Patterns, "Names or wildcard patterns; '*' extracts every file")
        ->required();
    getVerb->add_option("-d,--directory", get->Directory,
                       "Host folder to write into, created with its parents when missing (default: the current one)");
    AddConversionOption(getVerb, get->Conversion);
    getVerb->add_flag("-f,--force", get->Force, "Overwrite host files that exist");
    AddPartitionOption(getVerb, get->Partition);
    getVerb->callback([get, &result] { result.ExitCode = RunVerb(get->Image, [&] { return RunGet(*get); }); });

    auto cat = std::make_shared<CatOptions>();
    CLI::App* catVerb = app.add_subcommand("cat", "Write the file's bytes to standard output");
    catVerb->add_option("IMAGE", cat->Image, "Disk image")->required();
    catVerb->add_option("FILE", cat->Files, "File name (several are written one after another)")->required();
    AddConversionOption(catVerb, cat->Conversion);
    AddPartitionOption(catVerb, cat->Partition);
    catVerb->callback([cat, &result] { result.ExitCode = RunVerb(cat->Image, [&] { return RunCat(*cat); }); });
}

}  // namespace Qbox
