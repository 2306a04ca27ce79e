// qbox ls: the directory of one partition.
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;

struct ListOptions {
    std::string Image;
    std::vector<std::string> Patterns;
    bool Long = false;
    bool All = false;
    bool Json = false;
    int Partition = 0;
};

// The file's type name on file systems that keep one (RSDOS), else empty.
std::string FileTypeName(TFileSystem& fs, int fileIndex) {
    if (!fs.SupportsFileTypes()) return {};
    int type = fs.GetFileType(fileIndex);
    std::vector<std::string> names = fs.GetFileTypeList();
    if (type < 0 || type >= static_cast<int>(names.size())) return {};
    return names[type];
}

void PrintJson(TFileSystem& fs, const std::vector<int>& files) {
    // The name `qbox get` gives each file.
    const std::map<int, std::string> hostNames = FileSystem::HostNamesOfDisk(fs);
    JsonWriter json(std::cout);
    json.BeginArray();
    for (int fileIndex : files) {
        const auto hostName = hostNames.find(fileIndex);
        json.BeginObject();
        json.Key("index").Number(fileIndex);
        json.Key("name").String(fs.GetFileName(fileIndex));
        json.Key("ext").String(fs.GetFileExtension(fileIndex));
        json.Key("full_name").String(fs.GetFullFileName(fileIndex));
        json.Key("host_name")
            .String(hostName != hostNames.end() ? hostName->second : FileSystem::ExtractedFileName(fs, fileIndex));
        json.Key("size").Number(fs.GetFileSize(fileIndex));
        json.Key("date").StringOrNull(FormatDate(fs.GetFileDate(fileIndex)));
        json.Key("attributes").String(fs.GetAttributeLetters(fileIndex));
        json.Key("type").StringOrNull(FileTypeName(fs, fileIndex));
        json.EndObject();
    }
    json.EndArray();
    std::cout << '\n';
}

void PrintLong(TFileSystem& fs, const std::vector<int>& files) {
    for (int fileIndex : files) {
        std::string date = FormatDate(fs.GetFileDate(fileIndex), ' ');
        char line[128];
        std::snprintf(line, sizeof line, "%-12s %9d  %-16s %-6s", Printable(fs.GetDisplayName(fileIndex)).c_str(),
                      fs.GetFileSize(fileIndex), date.empty() ? "-" : date.c_str(),
                      fs.GetAttributeLetters(fileIndex).c_str());
        std::string text = line;
        std::string type = FileTypeName(fs, fileIndex);
        if (!type.empty()) text += " " + type;
        while (!text.empty() && text.back() == ' ') text.pop_back();
        std::cout << text << '\n';
    }
}

int RunList(const ListOptions& options) {
    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    int flags = options.All ? FileSystem::ListInvisible | FileSystem::ListSystem : 0;
    int unmatched = 0;
    std::vector<int> files = options.Patterns.empty()
                                 ? FileSystem::ListAllFiles(fs, flags)
                                 : MatchFiles(fs, options.Patterns, flags, options.Image, unmatched, true, true);
    if (options.Json)
        PrintJson(fs, files);
    else if (options.Long)
        PrintLong(fs, files);
    else
        for (int fileIndex : files) std::cout << Printable(fs.GetDisplayName(fileIndex)) << '\n';
    // A directory read with errors may list too little, or names that are not there.
    const bool directoryWhole = ReportDirectoryProblems(options.Image, fs);
    return unmatched == 0 && directoryWhole ? ExitOk : ExitFailure;
}

}  // namespace

void AddListVerb(CLI::App& app, RunResult& result) {
    auto options = std::make_shared<ListOptions>();
    CLI::App* verb = app.add_subcommand("ls", "List the files of a disk, one full name per line");
    verb->add_option("IMAGE", options->Image, "Disk image")->required();
    verb->add_option("PATTERN", options->Patterns, "Names or wildcard patterns (* and ?) to list");
    verb->add_flag("-l,--long", options->Long, "Add size, date and attribute letters");
    verb->add_flag("-a,--all", options->All, "Include invisible and system files");
    verb->add_flag("--json", options->Json, "Print a JSON array of objects");
    AddPartitionOption(verb, options->Partition);
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Image, [&] { return RunList(*options); });
    });
}

}  // namespace Qbox
