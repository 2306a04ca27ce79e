// qbox rm, mv, attr and label: changes to files and to the disk's volume data.
#include <cctype>
#include <iostream>
#include <memory>

#include "cli/Cli.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;

struct RemoveOptions {
    std::string Image;
    std::vector<std::string> Patterns;
    bool All = false;
    int Partition = 0;
};

int RunRemove(const RemoveOptions& options) {
    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    RequireWritable(fs);
    int failures = 0;
    int flags = options.All ? FileSystem::ListInvisible | FileSystem::ListSystem : 0;
    for (int fileIndex : MatchFiles(fs, options.Patterns, flags, options.Image, failures)) {
        std::string name = fs.GetDisplayName(fileIndex);
        try {
            if (!fs.DeleteFile(fileIndex)) {
                Report(options.Image, name + ": could not be deleted (its directory records are damaged)");
                ++failures;
            }
        } catch (const TFileSystem::Exception& error) {
            Report(options.Image, name + ": " + error.what());
            ++failures;
        }
    }
    SaveChanges(disk);
    return failures == 0 ? ExitOk : ExitFailure;
}

struct MoveOptions {
    std::string Image, OldName, NewName;
    int Partition = 0;
};

int RunMove(const MoveOptions& options) {
    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    RequireWritable(fs);
    int fileIndex = FindOneFile(fs, options.OldName);
    try {
        if (!fs.RenameFile(fileIndex, options.NewName))
            throw Failure(options.OldName + ": could not be renamed (its directory records are damaged)");
    } catch (const TFileSystem::Exception& error) {
        throw Failure(options.NewName + ": " + error.what());
    }
    SaveChanges(disk);
    return ExitOk;
}

struct AttributeOptions {
    std::string Image, File;
    std::vector<std::string> Changes;
    int Partition = 0;
};

struct AttributeChange {
    uint32_t Mask;
    bool On;
};

// "+I", "-S", "+IS": letters of the file system's attribute list.
std::vector<AttributeChange> ParseChanges(TFileSystem& fs, const std::vector<std::string>& changes) {
    std::vector<FileSystem::AttributeDescriptor> attributes;
    std::string letters;
    for (const auto& attribute : fs.GetAttributeList()) {
        if (!attribute.Shown) continue;
        attributes.push_back(attribute);
        letters += attribute.Letter;
    }
    std::vector<AttributeChange> parsed;
    for (const std::string& change : changes) {
        if (change.size() < 2 || (change[0] != '+' && change[0] != '-'))
            throw UsageError("attr: '" + change + "' is not +LETTERS or -LETTERS");
        for (size_t i = 1; i < change.size(); ++i) {
            char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(change[i])));
            bool known = false;
            for (const auto& attribute : attributes) {
                if (attribute.Letter == letter) {
                    parsed.push_back({attribute.Mask, change[0] == '+'});
                    known = true;
                }
            }
            if (!known)
                throw UsageError("attr: this file system has no attribute '" + std::string(1, change[i]) +
                                 "' (it knows " + (letters.empty() ? std::string("none") : letters) + ")");
        }
    }
    return parsed;
}

void PrintAttributes(TFileSystem& fs, int fileIndex) {
    std::cout << Printable(fs.GetDisplayName(fileIndex)) << ':';
    for (const auto& attribute : fs.GetAttributeList()) {
        if (!attribute.Shown) continue;
        std::cout << ' ' << (fs.HasAttribute(fileIndex, attribute.Mask) ? '+' : '-') << attribute.Letter << " ("
                  << attribute.Name << ')';
    }
    std::cout << '\n';
}

int RunAttribute(const AttributeOptions& options) {
    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    int fileIndex = FindOneFile(fs, options.File);
    if (options.Changes.empty()) {
        PrintAttributes(fs, fileIndex);
        return ExitOk;
    }
    std::vector<AttributeChange> changes = ParseChanges(fs, options.Changes);
    RequireWritable(fs);
    for (const AttributeChange& change : changes) fs.SetAttribute(fileIndex, change.Mask, change.On);
    SaveChanges(disk);
    return ExitOk;
}

struct LabelOptions {
    std::string Image, Name, Date;
    int Partition = 0;
};

int RunLabel(const LabelOptions& options, bool setName, bool setDate) {
    FileSystem::MountedDisk disk;
    TFileSystem& fs = OpenDisk(disk, options.Image, options.Partition);
    if (!fs.SupportsDiskName() && !fs.SupportsDiskDate())
        throw Failure(fs.GetDOSName(false) + " disks have no volume name or date");
    if (!setName && !setDate) {
        if (fs.SupportsDiskName()) std::cout << "Volume name: " << Printable(fs.GetDiskName()) << '\n';
        if (fs.SupportsDiskDate()) std::cout << "Volume date: " << Printable(fs.GetDiskDate()) << '\n';
        return ExitOk;
    }
    if (setName) CheckVolumeText("label", "name", options.Name);
    if (setDate) CheckVolumeText("label", "date", options.Date);
    if (setName && !fs.SupportsDiskName()) throw Failure(fs.GetDOSName(false) + " disks have no volume name");
    if (setDate && !fs.SupportsDiskDate()) throw Failure(fs.GetDOSName(false) + " disks have no volume date");
    RequireWritable(fs);
    if (setName) fs.SetDiskName(options.Name);
    if (setDate) fs.SetDiskDate(options.Date);
    SaveChanges(disk);
    return ExitOk;
}

}  // namespace

void AddEditVerbs(CLI::App& app, RunResult& result) {
    auto remove = std::make_shared<RemoveOptions>();
    CLI::App* rm = app.add_subcommand("rm", "Delete the matching files");
    rm->add_option("IMAGE", remove->Image, "Disk image")->required();
    rm->add_option("PATTERN", remove->Patterns,
                   "Names or wildcard patterns; wildcards pass over invisible and system files unless -a")
        ->required();
    rm->add_flag("-a,--all", remove->All, "Let wildcards match invisible and system files too");
    AddPartitionOption(rm, remove->Partition);
    rm->callback([remove, &result] {
        result.ExitCode = RunVerb(remove->Image, [&] { return RunRemove(*remove); });
    });

    auto move = std::make_shared<MoveOptions>();
    CLI::App* mv = app.add_subcommand("mv", "Rename a file");
    mv->add_option("IMAGE", move->Image, "Disk image")->required();
    mv->add_option("OLD", move->OldName, "Current name")->required();
    mv->add_option("NEW", move->NewName, "New name")->required();
    AddPartitionOption(mv, move->Partition);
    mv->callback([move, &result] { result.ExitCode = RunVerb(move->Image, [&] { return RunMove(*move); }); });

    auto attribute = std::make_shared<AttributeOptions>();
    CLI::App* attr = app.add_subcommand(
        "attr", "Show a file's attributes, or set (+X) and clear (-X) them by their letters, e.g. +I -S");
    attr->add_option("IMAGE", attribute->Image, "Disk image")->required();
    attr->add_option("FILE", attribute->File, "File name")->required();
    attr->add_option("CHANGE", attribute->Changes, "+LETTERS or -LETTERS; without any, the attributes are shown");
    AddPartitionOption(attr, attribute->Partition);
    // "-I" reads like an option; the parser hands such words back and they are taken as changes.
    attr->allow_extras();
    attr->callback([attribute, attr, &result] {
        for (const std::string& extra : attr->remaining()) attribute->Changes.push_back(extra);
        result.ExitCode = RunVerb(attribute->Image, [&] { return RunAttribute(*attribute); });
    });

    auto label = std::make_shared<LabelOptions>();
    CLI::App* labelVerb = app.add_subcommand("label", "Show or set the volume name and date");
    labelVerb->add_option("IMAGE", label->Image, "Disk image")->required();
    CLI::Option* name = labelVerb->add_option("--name", label->Name, "New volume name (at most 8 characters)");
    CLI::Option* date = labelVerb->add_option("--date", label->Date, "New volume date (at most 8 characters)");
    AddPartitionOption(labelVerb, label->Partition);
    labelVerb->callback([label, name, date, &result] {
        bool setName = name->count() > 0;
        bool setDate = date->count() > 0;
        result.ExitCode = RunVerb(label->Image, [&] { return RunLabel(*label, setName, setDate); });
    });
}

}  // namespace Qbox
