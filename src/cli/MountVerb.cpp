// qbox mount: one partition of a disk as a host folder, through FUSE.
//
// The folder is flat: each file of the partition appears under its host name, the name
// extraction gives it (clashes included). A file opened for writing collects its new
// bytes in memory; they are stored when it is closed, through the same calls as qbox put,
// as one change of the image (so a crash leaves the image before or after that change).
// The image stays open, and so locked for writing, for as long as it is mounted.
//
// FUSE runs the operations one at a time (single-threaded loop), so the state below needs
// no locking.
#define FUSE_USE_VERSION 31
#include <fuse.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>

#include "cli/Cli.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;

constexpr const char* NameAttribute = "user.quarrybox.name";
constexpr const char* LettersAttribute = "user.quarrybox.attributes";

struct MountOptions {
    std::string Image;
    std::string Folder;
    int Partition = 0;
    bool ReadOnly = false;
    bool Foreground = false;
};

// A file's contents while it is open for writing (shared by every handle that writes it),
// or a reader's copy of what the disk held when it opened the file.
struct FileBuffer {
    std::string DiskName;  // the name it is stored under
    std::vector<uint8_t> Bytes;
    std::time_t Time = 0;  // its date once stored
    bool Dirty = false;
    bool Unlinked = false;  // removed while open: its bytes go nowhere
    int Writers = 0;
};

struct Handle {
    std::shared_ptr<FileBuffer> File;
    std::string HostName;
    bool Writes = false;
};

class MountedFolder {
public:
    explicit MountedFolder(const MountOptions& options) : Options(options) {}

    void Open() {
        Disk.Close();
        OpenDisk(Disk, Options.Image, Options.Partition, Options.ReadOnly);
        IndexNames();
    }

    // A disk that cannot be changed anyway is held for reading only, so that it is not
    // kept locked against other programs for the whole mount.
    void OpenReadOnly() {
        Options.ReadOnly = true;
        Open();
    }

    TFileSystem& Fs() { return *Disk.Current(); }
    bool ReadOnly() { return Options.ReadOnly || !FileSystem::WriteRefusal(Fs()).empty(); }

    // The file index of a host name ("/name"), or -1.
    int FileOf(const char* path) const {
        const auto found = Files.find(NameOf(path));
        return found == Files.end() ? -1 : found->second;
    }
    static std::string NameOf(const char* path) { return path[0] == '/' ? path + 1 : path; }

    int Stat(const char* path, struct stat* info);
    int List(void* buffer, fuse_fill_dir_t filler);
    int OpenFile(const char* path, struct fuse_file_info* info, bool create);
    int Read(struct fuse_file_info* info, char* out, size_t size, off_t offset);
    int Write(struct fuse_file_info* info, const char* data, size_t size, off_t offset);
    int Truncate(const char* path, off_t size, struct fuse_file_info* info);
    int Flush(struct fuse_file_info* info);
    int Release(struct fuse_file_info* info);
    int Unlink(const char* path);
    int Rename(const char* from, const char* to, unsigned int flags);
    int StatFs(struct statvfs* info);
    int GetXattr(const char* path, const char* name, char* value, size_t size);
    int SetXattr(const char* path, const char* name, const char* value, size_t size);
    int ListXattr(const char* path, char* list, size_t size);
    int SetTime(const char* path, const struct timespec times[2]);

private:
    void IndexNames() {
        Files.clear();
        for (const auto& [fileIndex, hostName] : FileSystem::HostNamesOfDisk(Fs())) Files[hostName] = fileIndex;
    }
    bool FileReadOnly(int fileIndex) {
        return ReadOnly() || (Fs().SupportsAttribute(FileSystem::AttrReadOnly) &&
                              Fs().HasAttribute(fileIndex, FileSystem::AttrReadOnly));
    }
    std::shared_ptr<FileBuffer> PendingOf(const std::string& hostName) const {
        const auto found = Pending.find(hostName);
        return found == Pending.end() ? nullptr : found->second;
    }
    // Runs one change of the disk and commits it, or undoes it whole: the disk is opened
    // afresh, so nothing of a failed change stays in memory either.
    template <typename Change>
    int Commit(Change change);
    int Store(FileBuffer& file);
    std::string Letters(int fileIndex);
    // Says on stderr why a change failed, as qbox says it; the error number the caller gets.
    int ReportFailure(const std::exception& failure) const {
        std::cerr << "qbox: " << Printable(Options.Image) << ": " << Printable(failure.what()) << '\n';
        return EIO;
    }

    MountOptions Options;
    FileSystem::MountedDisk Disk;
    std::map<std::string, int> Files;                           // host name -> file index
    std::map<std::string, std::shared_ptr<FileBuffer>> Pending;  // files open for writing
    std::map<uint64_t, Handle> Handles;
    uint64_t NextHandle = 1;
};

MountedFolder& Folder() { return *static_cast<MountedFolder*>(fuse_get_context()->private_data); }

template <typename Change>
int MountedFolder::Commit(Change change) {
    int error = 0;
    try {
        error = change();
        if (error == 0) Disk.Flush();
    } catch (const FileSystem::ENotEnoughSpace&) {
        error = ENOSPC;
    } catch (const TFileSystem::EInvalidFilename&) {
        error = EINVAL;
    } catch (const TFileSystem::EFileExists&) {
        error = EEXIST;
    } catch (const std::exception& failure) {
        error = ReportFailure(failure);
    }
    try {
        if (error != 0) Open();
        else IndexNames();
    } catch (const std::exception& failure) {
        error = ReportFailure(failure);
    }
    return -error;
}

int MountedFolder::Stat(const char* path, struct stat* info) {
    *info = {};
    info->st_uid = ::getuid();
    info->st_gid = ::getgid();
    const int writeBits = ReadOnly() ? 0 : 0200;
    if (std::strcmp(path, "/") == 0) {
        info->st_mode = S_IFDIR | 0555 | writeBits;
        info->st_nlink = 2;
        return 0;
    }
    info->st_nlink = 1;
    if (auto pending = PendingOf(NameOf(path))) {
        info->st_mode = S_IFREG | 0444 | writeBits;
        info->st_size = static_cast<off_t>(pending->Bytes.size());
        info->st_mtime = pending->Time;
    } else {
        int fileIndex = FileOf(path);
        if (fileIndex < 0) return -ENOENT;
        info->st_mode = S_IFREG | 0444 | (FileReadOnly(fileIndex) ? 0 : 0200);
        info->st_size = std::max(0, Fs().GetFileSize(fileIndex));
        std::time_t time = 0;
        if (FileSystem::HostTimeOf(Fs().GetFileDate(fileIndex), time)) info->st_mtime = time;
    }
    info->st_atime = info->st_ctime = info->st_mtime;
    info->st_blocks = (info->st_size + 511) / 512;
    return 0;
}

int MountedFolder::List(void* buffer, fuse_fill_dir_t filler) {
    filler(buffer, ".", nullptr, 0, fuse_fill_dir_flags{});
    filler(buffer, "..", nullptr, 0, fuse_fill_dir_flags{});
    for (const auto& [hostName, fileIndex] : Files) filler(buffer, hostName.c_str(), nullptr, 0, fuse_fill_dir_flags{});
    for (const auto& [hostName, file] : Pending)
        if (!Files.count(hostName)) filler(buffer, hostName.c_str(), nullptr, 0, fuse_fill_dir_flags{});
    return 0;
}

int MountedFolder::OpenFile(const char* path, struct fuse_file_info* info, bool create) {
    const std::string hostName = NameOf(path);
    const bool writes = create || (info->flags & O_ACCMODE) != O_RDONLY;
    const int fileIndex = FileOf(path);
    std::shared_ptr<FileBuffer> file = PendingOf(hostName);
    if (writes) {
        if (ReadOnly()) return -EROFS;
        if (fileIndex >= 0 && FileReadOnly(fileIndex)) return -EACCES;
        if (!file && fileIndex < 0 && !Fs().IsValidFilename(hostName)) return -EINVAL;
    }
    if (!file || !writes) {
        // A reader sees what the disk holds until a writer closes; a file not yet stored
        // is read from its writer's bytes.
        if (fileIndex < 0 && !file && !create) return -ENOENT;
        if (fileIndex >= 0) {
            auto loaded = std::make_shared<FileBuffer>();
            loaded->DiskName = Fs().GetFullFileName(fileIndex);
            if (!(writes && (info->flags & O_TRUNC))) {
                FileSystem::TFileRead read = Fs().ReadFileChecked(fileIndex);
                if (!read.Problems.empty() && writes) return -EIO;  // never store a damaged copy back
                loaded->Bytes = std::move(read.Bytes);
            }
            std::time_t time = std::time(nullptr);
            FileSystem::HostTimeOf(Fs().GetFileDate(fileIndex), time);
            loaded->Time = time;
            file = loaded;
        } else if (!file) {
            file = std::make_shared<FileBuffer>();
            file->DiskName = hostName;
            file->Time = std::time(nullptr);
            file->Dirty = true;  // a new file is stored even when nothing is written to it
        }
        if (writes) Pending[hostName] = file;
    }
    if (writes) {
        ++file->Writers;
        if (info->flags & O_TRUNC) {
            file->Bytes.clear();
            file->Dirty = true;
        }
    }
    info->fh = NextHandle++;
    info->direct_io = 1;  // sizes change at close: never serve a stale page
    Handles[info->fh] = Handle{file, hostName, writes};
    return 0;
}

int MountedFolder::Read(struct fuse_file_info* info, char* out, size_t size, off_t offset) {
    const auto handle = Handles.find(info->fh);
    if (handle == Handles.end()) return -EBADF;
    const std::vector<uint8_t>& bytes = handle->second.File->Bytes;
    if (offset < 0 || static_cast<uint64_t>(offset) >= bytes.size()) return 0;
    const size_t count = std::min(size, bytes.size() - static_cast<size_t>(offset));
    std::memcpy(out, bytes.data() + offset, count);
    return static_cast<int>(count);
}

int MountedFolder::Write(struct fuse_file_info* info, const char* data, size_t size, off_t offset) {
    const auto handle = Handles.find(info->fh);
    if (handle == Handles.end() || !handle->second.Writes) return -EBADF;
    // No file can be larger than the whole disk: refuse at once what can never be stored.
    const uint64_t capacity = static_cast<uint64_t>(std::max(0, Fs().GetCapacity()));
    if (offset < 0 || static_cast<uint64_t>(offset) + size > capacity || size > INT_MAX) return -ENOSPC;
    std::vector<uint8_t>& bytes = handle->second.File->Bytes;
    const size_t end = static_cast<size_t>(offset) + size;
    if (bytes.size() < end) bytes.resize(end);
    std::memcpy(bytes.data() + offset, data, size);
    handle->second.File->Dirty = true;
    return static_cast<int>(size);
}

int MountedFolder::Truncate(const char* path, off_t size, struct fuse_file_info* info) {
    if (ReadOnly()) return -EROFS;
    const uint64_t capacity = static_cast<uint64_t>(std::max(0, Fs().GetCapacity()));
    if (size < 0) return -EINVAL;
    if (static_cast<uint64_t>(size) > capacity) return -ENOSPC;
    std::shared_ptr<FileBuffer> file;
    if (info != nullptr && Handles.count(info->fh)) file = Handles[info->fh].File;
    if (!file) file = PendingOf(NameOf(path));
    if (file) {
        file->Bytes.resize(static_cast<size_t>(size));
        file->Dirty = true;
        return 0;
    }
    // Not open: the new length is stored at once.
    const int fileIndex = FileOf(path);
    if (fileIndex < 0) return -ENOENT;
    if (FileReadOnly(fileIndex)) return -EACCES;
    FileBuffer shortened;
    shortened.DiskName = Fs().GetFullFileName(fileIndex);
    FileSystem::TFileRead read = Fs().ReadFileChecked(fileIndex);
    if (!read.Problems.empty()) return -EIO;
    shortened.Bytes = std::move(read.Bytes);
    shortened.Bytes.resize(static_cast<size_t>(size));
    shortened.Time = std::time(nullptr);
    return Store(shortened);
}

// Stores the file's bytes under its disk name, replacing the file of that name and
// keeping its attributes and type.
int MountedFolder::Store(FileBuffer& file) {
    file.Dirty = false;
    if (file.Unlinked) return 0;
    return Commit([&] {
        TFileSystem& fs = Fs();
        const int old = fs.FindFile(file.DiskName);
        std::vector<std::pair<uint32_t, bool>> attributes;
        int type = -1;
        if (old >= 0) {
            for (const auto& attribute : fs.GetAttributeList())
                if (attribute.Shown) attributes.emplace_back(attribute.Mask, fs.HasAttribute(old, attribute.Mask));
            if (fs.SupportsFileTypes()) type = fs.GetFileType(old);
        }
        FileSystem::FileDate date;
        date.SetFromTime(file.Time);
        const int stored = FileSystem::StoreFile(fs, file.DiskName, file.Bytes, file.Bytes.size(), date, true);
        if (stored >= 0) {
            for (const auto& [mask, on] : attributes) fs.SetAttribute(stored, mask, on);
            if (type >= 0) fs.SetFileType(stored, type);
        }
        return 0;
    });
}

int MountedFolder::Flush(struct fuse_file_info* info) {
    const auto handle = Handles.find(info->fh);
    if (handle == Handles.end() || !handle->second.Writes || !handle->second.File->Dirty) return 0;
    return Store(*handle->second.File);
}

int MountedFolder::Release(struct fuse_file_info* info) {
    const auto handle = Handles.find(info->fh);
    if (handle == Handles.end()) return 0;
    Handle closing = handle->second;
    Handles.erase(handle);
    if (!closing.Writes) return 0;
    if (closing.File->Dirty) Store(*closing.File);  // a failure was already reported by the close
    if (--closing.File->Writers == 0) {
        for (auto pending = Pending.begin(); pending != Pending.end(); ++pending) {
            if (pending->second == closing.File) {
                Pending.erase(pending);
                break;
            }
        }
    }
    return 0;
}

int MountedFolder::Unlink(const char* path) {
    if (ReadOnly()) return -EROFS;
    const int fileIndex = FileOf(path);
    if (auto pending = PendingOf(NameOf(path))) {
        pending->Unlinked = true;
        Pending.erase(NameOf(path));
        if (fileIndex < 0) return 0;
    }
    if (fileIndex < 0) return -ENOENT;
    if (FileReadOnly(fileIndex)) return -EACCES;
    return Commit([&] { return Fs().DeleteFile(fileIndex) ? 0 : EIO; });
}

int MountedFolder::Rename(const char* from, const char* to, unsigned int flags) {
    if (ReadOnly()) return -EROFS;
    if (flags & RENAME_EXCHANGE) return -EINVAL;
    const std::string oldName = NameOf(from), newName = NameOf(to);
    if (oldName == newName) return 0;
    if (!Fs().IsValidFilename(newName)) return -EINVAL;
    const int source = FileOf(from);
    const int target = FileOf(to);
    if (target >= 0 && (flags & RENAME_NOREPLACE)) return -EEXIST;
    if (target >= 0 && FileReadOnly(target)) return -EACCES;
    std::shared_ptr<FileBuffer> pending = PendingOf(oldName);
    if (source < 0 && !pending) return -ENOENT;
    int result = 0;
    if (source >= 0) {
        const std::string sourceName = Fs().GetFullFileName(source);
        // Replacing the target and renaming are one change: both land or neither.
        result = Commit([&] {
            TFileSystem& fs = Fs();
            int moving = source;
            if (target >= 0) {
                if (!fs.DeleteFile(target)) return EIO;
                moving = fs.FindFile(sourceName);
                if (moving < 0) return EIO;
            }
            return fs.RenameFile(moving, newName) ? 0 : EIO;
        });
    }
    if (result == 0 && pending) {
        Pending.erase(oldName);
        Pending[newName] = pending;
        pending->DiskName = newName;
        for (auto& [id, handle] : Handles)
            if (handle.File == pending) handle.HostName = newName;
    }
    return result;
}

int MountedFolder::StatFs(struct statvfs* info) {
    constexpr unsigned long unit = 256;
    *info = {};
    info->f_bsize = info->f_frsize = unit;
    info->f_blocks = static_cast<fsblkcnt_t>(std::max(0, Fs().GetCapacity())) / unit;
    info->f_bfree = info->f_bavail = static_cast<fsblkcnt_t>(std::max(0, Fs().GetFreeSpace())) / unit;
    info->f_files = Files.size();
    info->f_namemax = 255;
    if (ReadOnly()) info->f_flag |= ST_RDONLY;
    return 0;
}

std::string MountedFolder::Letters(int fileIndex) {
    std::string letters;
    for (const auto& attribute : Fs().GetAttributeList())
        if (attribute.Shown && Fs().HasAttribute(fileIndex, attribute.Mask)) letters += attribute.Letter;
    return letters;
}

// Answers an attribute read: its size when size is 0, else the value if it fits.
int XattrValue(const std::string& text, char* value, size_t size) {
    if (size == 0) return static_cast<int>(text.size());
    if (size < text.size()) return -ERANGE;
    std::memcpy(value, text.data(), text.size());
    return static_cast<int>(text.size());
}

int MountedFolder::GetXattr(const char* path, const char* name, char* value, size_t size) {
    const int fileIndex = FileOf(path);
    if (fileIndex < 0) return PendingOf(NameOf(path)) ? -ENODATA : -ENOENT;
    if (std::strcmp(name, NameAttribute) == 0) return XattrValue(Fs().GetFullFileName(fileIndex), value, size);
    if (std::strcmp(name, LettersAttribute) == 0) return XattrValue(Letters(fileIndex), value, size);
    return -ENODATA;
}

int MountedFolder::ListXattr(const char* path, char* list, size_t size) {
    if (FileOf(path) < 0) return PendingOf(NameOf(path)) ? 0 : -ENOENT;
    std::string names = std::string(NameAttribute) + '\0' + LettersAttribute + '\0';
    return XattrValue(names, list, size);
}

// The attributes are given whole as the letters that are to be on ("IS"); a letter the
// DOS does not know is refused and nothing changes.
int MountedFolder::SetXattr(const char* path, const char* name, const char* value, size_t size) {
    const int fileIndex = FileOf(path);
    if (fileIndex < 0) return PendingOf(NameOf(path)) ? -ENOTSUP : -ENOENT;
    if (std::strcmp(name, LettersAttribute) != 0) return std::strcmp(name, NameAttribute) == 0 ? -EPERM : -ENOTSUP;
    if (ReadOnly()) return -EROFS;
    std::string wanted(value, size);
    for (char& letter : wanted) letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    std::vector<std::pair<uint32_t, bool>> changes;
    for (const auto& attribute : Fs().GetAttributeList())
        if (attribute.Shown) changes.emplace_back(attribute.Mask, wanted.find(attribute.Letter) != std::string::npos);
    for (char letter : wanted) {
        const auto list = Fs().GetAttributeList();
        if (std::none_of(list.begin(), list.end(),
                         [&](const auto& attribute) { return attribute.Shown && attribute.Letter == letter; }))
            return -EINVAL;
    }
    return Commit([&] {
        for (const auto& [mask, on] : changes) Fs().SetAttribute(fileIndex, mask, on);
        return 0;
    });
}

int MountedFolder::SetTime(const char* path, const struct timespec times[2]) {
    std::time_t time = std::time(nullptr);
    if (times != nullptr && times[1].tv_nsec != UTIME_NOW) {
        if (times[1].tv_nsec == UTIME_OMIT) return 0;
        time = times[1].tv_sec;
    }
    if (auto pending = PendingOf(NameOf(path))) {
        pending->Time = time;
        return 0;
    }
    const int fileIndex = FileOf(path);
    if (fileIndex < 0) return -ENOENT;
    if (ReadOnly()) return -EROFS;
    FileSystem::FileDate date;
    date.SetFromTime(time);
    return Commit([&] {
        Fs().SetFileDate(fileIndex, date);
        return 0;
    });
}

// The FUSE entry points: each hands its call to the mounted folder.
fuse_operations Operations() {
    fuse_operations ops{};
    ops.init = [](fuse_conn_info*, fuse_config* config) -> void* {
        // Every answer comes fresh from the disk: a store at close changes sizes and names.
        config->entry_timeout = config->attr_timeout = config->negative_timeout = 0;
        config->kernel_cache = 0;
        return fuse_get_context()->private_data;
    };
    ops.getattr = [](const char* path, struct stat* info, fuse_file_info*) { return Folder().Stat(path, info); };
    ops.readdir = [](const char*, void* buffer, fuse_fill_dir_t filler, off_t, fuse_file_info*,
                     fuse_readdir_flags) { return Folder().List(buffer, filler); };
    ops.open = [](const char* path, fuse_file_info* info) { return Folder().OpenFile(path, info, false); };
    ops.create = [](const char* path, mode_t, fuse_file_info* info) { return Folder().OpenFile(path, info, true); };
    ops.read = [](const char*, char* out, size_t size, off_t offset, fuse_file_info* info) {
        return Folder().Read(info, out, size, offset);
    };
    ops.write = [](const char*, const char* data, size_t size, off_t offset, fuse_file_info* info) {
        return Folder().Write(info, data, size, offset);
    };
    ops.truncate = [](const char* path, off_t size, fuse_file_info* info) {
        return Folder().Truncate(path, size, info);
    };
    ops.flush = [](const char*, fuse_file_info* info) { return Folder().Flush(info); };
    ops.release = [](const char*, fuse_file_info* info) { return Folder().Release(info); };
    ops.unlink = [](const char* path) { return Folder().Unlink(path); };
    ops.rename = [](const char* from, const char* to, unsigned int flags) { return Folder().Rename(from, to, flags); };
    ops.statfs = [](const char*, struct statvfs* info) { return Folder().StatFs(info); };
    ops.getxattr = [](const char* path, const char* name, char* value, size_t size) {
        return Folder().GetXattr(path, name, value, size);
    };
    ops.setxattr = [](const char* path, const char* name, const char* value, size_t size, int) {
        return Folder().SetXattr(path, name, value, size);
    };
    ops.listxattr = [](const char* path, char* list, size_t size) { return Folder().ListXattr(path, list, size); };
    ops.utimens = [](const char* path, const struct timespec times[2], fuse_file_info*) {
        return Folder().SetTime(path, times);
    };
    // Host permissions have no place on the disk: a mode change is accepted and has no effect.
    ops.chmod = [](const char*, mode_t, fuse_file_info*) { return 0; };
    return ops;
}

// The name df and mount show for the image: FUSE splits options at commas.
std::string SourceName(const std::string& image) {
    std::string name = image;
    std::replace(name.begin(), name.end(), ',', '_');
    return name;
}

int RunMount(const MountOptions& options) {
    MountedFolder folder(options);
    folder.Open();
    if (!options.ReadOnly && folder.ReadOnly()) {
        std::cerr << "qbox: " << Printable(options.Image) << ": mounted read-only: "
                  << FileSystem::WriteRefusal(folder.Fs()) << '\n';
        folder.OpenReadOnly();
    }
    std::vector<std::string> arguments = {"qbox", "-s", "-o",
                                          "fsname=" + SourceName(options.Image) +
                                              ",subtype=quarrybox,default_permissions" +
                                              (folder.ReadOnly() ? ",ro" : "")};
    if (options.Foreground) arguments.push_back("-f");
    arguments.push_back(options.Folder);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const fuse_operations ops = Operations();
    return fuse_main(static_cast<int>(argv.size()) - 1, argv.data(), &ops, &folder) == 0 ? ExitOk : ExitFailure;
}

}  // namespace

void AddMountVerb(CLI::App& app, RunResult& result) {
    auto options = std::make_shared<MountOptions>();
    CLI::App* verb = app.add_subcommand(
        "mount", "Show a partition's files as a host folder (unmount with 'fusermount3 -u DIR'); a file written "
                 "there is stored on the disk when it is closed");
    verb->add_option("IMAGE", options->Image, "Disk image")->required();
    verb->add_option("DIR", options->Folder, "Empty host folder to mount on")->required();
    AddPartitionOption(verb, options->Partition);
    verb->add_flag("--read-only", options->ReadOnly, "Never change the image");
    verb->add_flag("-f,--foreground", options->Foreground, "Stay in the foreground (Ctrl+C unmounts)");
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Image, [&] { return RunMount(*options); });
    });
}

}  // namespace Qbox
