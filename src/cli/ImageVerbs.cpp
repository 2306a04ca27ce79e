// qbox new and qbox protect: whole images.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>

#include "cli/Cli.h"
#include "diskimage/DiskImage.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;


struct NewOptions {
    std::string Image;
    std::string Type, Dos, Density, Name = "TRS80DSK", Date;
    int Tracks = 0;  // 0: not given
    int Sides = 0;   // 0: not given
    bool Force = false;
};

// What CreateNew gets, after the defaults and combination rules of the
// "Create New Floppy Image" dialog.
struct NewDisk {
    int ImageType = DiskImage::ImageDMK;
    int Dos = FileSystem::NewFloppyLDOS;
    int Tracks = 40;
    int Sides = 2;
    bool DoubleDensity = true;
};

bool EndsWith(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) return false;
    for (size_t i = 0; i < end.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) != end[i]) return false;
    return true;
}

int ImageTypeOf(const NewOptions& options) {
    if (!options.Type.empty()) return DiskImage::FindImageTypeByKey(options.Type)->Type;
    // Without --type, an extension that names a format decides; anything else gets the dialog's default, DMK.
    for (const auto& type : DiskImage::WritableImageTypes())
        if (EndsWith(options.Image, std::string(".") + type.Key)) return type.Type;
    return DiskImage::ImageDMK;
}

NewDisk ResolveNewDisk(const NewOptions& options) {
    static const std::map<std::string, int> Doses = {
        {"trsdos23", FileSystem::NewFloppyTRSDOS23}, {"trsdos13", FileSystem::NewFloppyTRSDOS13}, {"ldos", FileSystem::NewFloppyLDOS}};
    NewDisk disk;
    disk.ImageType = ImageTypeOf(options);
    if (!options.Dos.empty()) disk.Dos = Doses.at(options.Dos);

    bool jv1 = disk.ImageType == DiskImage::ImageJV1;
    if (jv1 && disk.Dos == FileSystem::NewFloppyTRSDOS13) throw UsageError("new: TRSDOS 1.3 disks cannot be JV1 images");
    // Every DOS formatted here marks its directory with data address marks.
    if (const DiskImage::TImageTypeInfo* type = DiskImage::FindImageType(disk.ImageType); type && !type->KeepsDataMarks) {
        throw UsageError(std::string("new: ") + type->Name +
                         " images keep no data address marks, which TRSDOS and LDOS directories need");
    }

    // Each DOS fixes what it supports; a conflicting explicit choice is refused rather than ignored.
    bool wantDouble = options.Density.empty() ? !jv1 : options.Density == "double";
    int wantSides = options.Sides != 0 ? options.Sides : (jv1 ? 1 : 2);
    int wantTracks = options.Tracks != 0 ? options.Tracks : 40;
    switch (disk.Dos) {
        case FileSystem::NewFloppyTRSDOS23:
            if (options.Density == "double") throw UsageError("new: TRSDOS 2.3 disks are single density");
            if (options.Sides == 2) throw UsageError("new: TRSDOS 2.3 disks have one side");
            if (options.Tracks != 0 && options.Tracks != 35) throw UsageError("new: TRSDOS 2.3 disks have 35 tracks");
            disk.DoubleDensity = false;
            disk.Sides = 1;
            disk.Tracks = 35;
            break;
        case FileSystem::NewFloppyTRSDOS13:
            if (options.Density == "single") throw UsageError("new: TRSDOS 1.3 disks are double density");
            if (options.Sides == 2) throw UsageError("new: TRSDOS 1.3 disks have one side");
            if (options.Tracks != 0 && options.Tracks != 40) throw UsageError("new: TRSDOS 1.3 disks have 40 tracks");
            disk.DoubleDensity = true;
            disk.Sides = 1;
            disk.Tracks = 40;
            break;
        default:
            if (jv1 && wantDouble) throw UsageError("new: JV1 images are single density");
            if (jv1 && wantSides == 2) throw UsageError("new: JV1 images have one side");
            if (wantTracks < 2 || wantTracks > 96) throw UsageError("new: the track count must be 2 to 96");
            disk.DoubleDensity = wantDouble;
            disk.Sides = wantSides;
            disk.Tracks = wantTracks;
    }
    return disk;
}

std::string Today() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    char text[16] = "01/01/80";
    if (localtime_r(&now, &local)) std::strftime(text, sizeof text, "%m/%d/%y", &local);
    return text;
}

// A new disk needs both a volume name and a date.
void CheckNewVolumeText(const std::string& what, const std::string& text) {
    if (text.empty()) throw UsageError("new: Volume name and date are required!");
    CheckVolumeText("new", what, text);
}

int RunNew(const NewOptions& options) {
    NewDisk disk = ResolveNewDisk(options);
    std::string date = options.Date.empty() ? Today() : options.Date;
    CheckNewVolumeText("name", options.Name);
    CheckNewVolumeText("date", date);
    struct stat info {};
    bool existed = ::lstat(options.Image.c_str(), &info) == 0;
    if (existed && !options.Force) throw TFileSystem::EFileExists();

    // The image is built beside its name and takes it when saved: a failure or a crash
    // leaves no half-made image, and a file that was there before stays as it was.
    FileSystem::MountedDisk mounted;
    mounted.CreateNew(options.Image, disk.ImageType, disk.Tracks, disk.Dos, disk.Sides, disk.DoubleDensity,
                      options.Name, date);
    if (mounted.FileSystems.empty()) throw Failure("this file system cannot be created yet");
    SaveChanges(mounted);
    return ExitOk;
}

struct ProtectOptions {
    std::string Image, State;
};

std::unique_ptr<DiskImage::TDiskImage> OpenImageOnly(const std::string& path) {
    try {
        return DiskImage::OpenFloppyImage(path);
    } catch (const DiskImage::TDiskImage::Exception&) {
        return DiskImage::OpenHardImage(path);
    }
}

int RunProtect(const ProtectOptions& options) {
    std::unique_ptr<DiskImage::TDiskImage> image = OpenImageOnly(options.Image);
    image->DiscardChangeOnClose();  // only a change that reaches CommitChange lands
    int state = image->GetWriteProtect();
    if (options.State.empty()) {
        std::cout << (state == 0 ? "off" : state == 1 ? "on" : "read-only file") << '\n';
        return ExitOk;
    }
    bool on = options.State == "on";
    if (state == 2) {
        const std::string reason = DiskImage::ReadOnlyReasonText(image->GetReadOnlyReason());
        throw Failure("its write protection cannot be changed because " +
                      (reason.empty() ? std::string("the image file is read-only") : reason));
    }
    // JV1 has no place to record the state, and a memory card has no such state at all.
    if (!image->CanSetWriteProtect() || image->GetFormatName() == "JV1")
        throw Failure(image->GetFormatName() + " images cannot record write protection");
    image->SetWriteProtect(on);
    if (image->IsHardDisk() == 0 && !static_cast<DiskImage::TFloppyImage*>(image.get())->Flush())
        throw TFileSystem::EFileError(image->GetLastHostError() != 0 ? image->GetLastHostError() : EIO);
    image->CommitChange();
    return ExitOk;
}

}  // namespace

void AddImageVerbs(CLI::App& app, RunResult& result) {
    auto create = std::make_shared<NewOptions>();
    CLI::App* newVerb = app.add_subcommand("new", "Create a new, formatted floppy image");
    newVerb->footer(
        "Defaults: DMK (or the type the file's extension names), LDOS, double density, 2 sides, 40 tracks, "
        "volume TRS80DSK dated today. TRSDOS 2.3 disks are single density, one side, 35 tracks; TRSDOS 1.3 "
        "disks double density, one side, 40 tracks and never JV1; JV1 images are single density and one-sided. "
        "JVC images and raw sector dumps cannot be made here: they keep no data address marks. "
        "Options that contradict these rules are refused.");
    newVerb->add_option("IMAGE", create->Image, "Image file to create")->required();
    newVerb->add_option("--type", create->Type, "Image format: " + ImageTypeKeysText())
        ->check(CLI::IsMember(ImageTypeKeys()));
    newVerb->add_option("--dos", create->Dos, "File system")->check(CLI::IsMember({"trsdos23", "trsdos13", "ldos"}));
    newVerb->add_option("--tracks", create->Tracks, "Number of tracks (LDOS: 2 to 96)");
    newVerb->add_option("--sides", create->Sides, "Number of sides")->check(CLI::IsMember({1, 2}));
    newVerb->add_option("--density", create->Density, "Recording density")
        ->check(CLI::IsMember({"single", "double"}));
    newVerb->add_option("--name", create->Name, "Volume name, at most 8 characters");
    newVerb->add_option("--date", create->Date, "Volume date, at most 8 characters (MM/DD/YY)");
    newVerb->add_flag("-f,--force", create->Force, "Replace an existing file");
    newVerb->callback([create, &result] {
        result.ExitCode = RunVerb(create->Image, [&] { return RunNew(*create); });
    });

    auto protect = std::make_shared<ProtectOptions>();
    CLI::App* protectVerb = app.add_subcommand("protect", "Show, or switch on or off, the image's write protection");
    protectVerb->add_option("IMAGE", protect->Image, "Disk image")->required();
    protectVerb->add_option("STATE", protect->State, "on or off; without it the state is shown")
        ->check(CLI::IsMember({"on", "off"}));
    protectVerb->callback([protect, &result] {
        result.ExitCode = RunVerb(protect->Image, [&] { return RunProtect(*protect); });
    });
}

}  // namespace Qbox
