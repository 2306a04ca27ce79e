// Mounts the bytes as a floppy or hard disk, lists everything (invisible and system
// files included), reads every file, then creates, renames and deletes a file on
// the scratch copy and mounts the result again.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "diskimage/DiskImage.h"
#include "filesystem/FileSystem.h"
#include "filesystem/MountedDisk.h"

namespace {

struct Mounted {
    std::unique_ptr<DiskImage::TDiskImage> Image;
    std::unique_ptr<FileSystem::TFileSystem> FS;
    ~Mounted() {
        FS.reset();
        Image.reset();
    }
};

bool Mount(Mounted& disk, const std::string& path, bool hard) {
    if (hard) {
        auto image = DiskImage::OpenHardImage(path);
        disk.FS = FileSystem::MountHard(image.get(), 0, 0);
        disk.Image = std::move(image);
    } else {
        auto image = DiskImage::OpenFloppyImage(path);
        disk.FS = FileSystem::MountFloppy(image.get());
        disk.Image = std::move(image);
    }
    return disk.FS != nullptr;
}

std::vector<int> ListAll(FileSystem::TFileSystem& fs) {
    return fs.ListFiles({"*"}, FileSystem::ListInvisible | FileSystem::ListSystem);
}

void ReadEverything(FileSystem::TFileSystem& fs) {
    fs.GetFreeSpace();
    fs.GetCapacity();
    fs.GetDiskName();
    fs.GetDiskDate();
    fs.GetDOSDescription();
    const auto attributes = fs.GetAttributeList();
    for (int index : ListAll(fs)) {
        try {
            fs.GetFullFileName(index);
            fs.GetFileSize(index);
            fs.GetFileDate(index);
            fs.GetFileType(index);
            for (const auto& attribute : attributes) fs.HasAttribute(index, attribute.Mask);
            fs.ReadFile(index);
        } catch (const FileSystem::TFileSystem::Exception&) {
        }
    }
}

void ChangeSomething(FileSystem::TFileSystem& fs) {
    const std::vector<uint8_t> contents(700, 0x5A);
    const char separator = fs.GetExtensionSeparator();
    const std::string name = std::string("FUZZ") + separator + "TXT";
    const std::string renamed = std::string("FUZZED") + separator + "DAT";
    try {
        if (fs.CreateFile(name, contents, FileSystem::FileDate{})) {
            const int index = fs.FindFile(name);
            if (index >= 0 && fs.RenameFile(index, renamed)) {
                const int again = fs.FindFile(renamed);
                if (again >= 0) fs.DeleteFile(again);
            }
        }
    } catch (const FileSystem::TFileSystem::Exception&) {
    }
    // Renaming and deleting a file that was already there walks the damaged structures.
    try {
        const auto files = ListAll(fs);
        if (!files.empty()) {
            fs.RenameFile(files.front(), renamed);
            fs.DeleteFile(files.back());
        }
    } catch (const FileSystem::TFileSystem::Exception&) {
    }
    fs.Flush();
}

}  // namespace

// Hard-disk images carry a header that floppies lack: tried first.
bool MountEither(Mounted& disk, const std::string& path, bool& hard) {
    try {
        hard = true;
        return Mount(disk, path, true);
    } catch (const DiskImage::TDiskImage::Exception&) {
    }
    hard = false;
    return Mount(disk, path, false);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = Fuzz::WriteInput("disk.dsk", data, size);
    try {
        bool hard = false;
        {
            Mounted disk;
            if (!MountEither(disk, path, hard)) return 0;
            ReadEverything(*disk.FS);
            if (disk.FS->SupportsWriting() && !disk.Image->GetWriteProtect()) ChangeSomething(*disk.FS);
        }
        Mounted again;
        if (Mount(again, path, hard)) ReadEverything(*again.FS);
    } catch (const std::exception&) {
    }
    return 0;
}
