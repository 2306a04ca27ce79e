// qbox catalog: every file of every image in a folder tree, so that a collector
// can find which of their disks holds a program. Images are opened read-only and
// shared out to one worker per core; rows come out sorted by image path.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "cli/Cli.h"
#include "cli/Json.h"
#include "diskimage/DiskImage.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

namespace {

using FileSystem::TFileSystem;

struct CatalogOptions {
    std::string Folder;
    std::vector<std::string> Patterns;
    bool All = false;
    bool Json = false;
};

struct CatalogRow {
    int Partition = 0;
    std::string DOS, Name, DisplayName, Date;
    int Size = 0;
};

// What one image gave: its rows, or the one message that says why it could not be read.
struct ImageEntry {
    std::string Path;
    std::vector<CatalogRow> Rows;
    std::string Problem;
    bool Done = false;
};

// Folders deeper than this under the one named are not searched (and are reported).
constexpr size_t MaxFolderDepth = 256;

// One open folder of the walk and the length of its path.
struct WalkLevel {
    DIR* Folder;
    size_t PathLength;
};

// What the walk found: regular files, sorted by path, and the folders it did not enter
// because they lie too deep.
struct FoundFiles {
    std::vector<std::string> Paths;
    std::vector<std::string> TooDeep;
};

bool IsRegularFileAt(int folder, const char* name, bool isLink) {
    struct stat info {};
    // A link to a file counts as the file; a link to a folder is not followed, so a link loop ends nothing.
    return ::fstatat(folder, name, &info, isLink ? 0 : AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
}

// The regular files under the folder. Each folder is entered through its parent's
// descriptor, and only the open folders and the current path are held, so memory grows
// with the depth, not with its square. Folders that cannot be read are passed over.
FoundFiles CollectFiles(const std::string& folder) {
    FoundFiles found;
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) throw Failure(std::strerror(errno));
    if (S_ISREG(info.st_mode)) {
        found.Paths.push_back(folder);
        return found;
    }
    if (!S_ISDIR(info.st_mode)) throw Failure(std::strerror(ENOTDIR));
    int top = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* topFolder = top < 0 ? nullptr : ::fdopendir(top);
    if (topFolder == nullptr) {
        if (top >= 0) ::close(top);
        throw Failure(std::strerror(errno));
    }
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::vector<WalkLevel> levels = {{topFolder, path.size()}};
    while (!levels.empty()) {
        WalkLevel& level = levels.back();
        const dirent* entry = ::readdir(level.Folder);
        if (entry == nullptr) {
            ::closedir(level.Folder);
            levels.pop_back();
            continue;
        }
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        path.resize(level.PathLength);
        if (path != "/") path += '/';
        path += name;
        const int parent = ::dirfd(level.Folder);
        struct stat entryInfo {};
        if (::fstatat(parent, name, &entryInfo, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISDIR(entryInfo.st_mode)) {
            if (IsRegularFileAt(parent, name, S_ISLNK(entryInfo.st_mode))) found.Paths.push_back(path);
            continue;
        }
        if (levels.size() > MaxFolderDepth) {
            found.TooDeep.push_back(path);
            continue;
        }
        int child = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        DIR* childFolder = child < 0 ? nullptr : ::fdopendir(child);
        if (childFolder == nullptr) {
            if (child >= 0) ::close(child);
            continue;
        }
        levels.push_back({childFolder, path.size()});
    }
    std::sort(found.Paths.begin(), found.Paths.end());
    return found;
}

// True when a container format accepts the file; what no format accepts is not an
// image and is passed over without a word.
bool OpenImage(FileSystem::MountedDisk& disk, const std::string& path, std::string& problem) {
    try {
        disk.Open(path, true);
        return true;
    } catch (const DiskImage::TDiskImage::EInvalidFormat&) {
        return false;
    } catch (const DiskImage::TDiskImage::EFileError& error) {
        if (error.ErrorNumber == ENOENT) return false;  // gone since the walk: nothing to catalogue
        problem = error.what();
    } catch (const std::bad_alloc&) {
        problem = "out of memory";
    } catch (const std::exception& error) {
        problem = error.what();  // an image whose file system cannot be recognised or read
    }
    return true;
}

std::vector<int> FilesToList(TFileSystem& fs, const CatalogOptions& options) {
    int flags = options.All ? FileSystem::ListInvisible | FileSystem::ListSystem : 0;
    if (options.Patterns.empty()) return FileSystem::ListAllFiles(fs, flags);
    int unmatched = 0;
    return MatchFiles(fs, options.Patterns, flags, {}, unmatched, false, true);
}

void CatalogImage(ImageEntry& entry, const CatalogOptions& options) {
    FileSystem::MountedDisk disk;
    if (!OpenImage(disk, entry.Path, entry.Problem) || !entry.Problem.empty()) return;
    try {
        bool damaged = false;
        for (size_t partition = 0; partition < disk.FileSystems.size(); ++partition) {
            TFileSystem& fs = *disk.FileSystems[partition];
            std::string dos = fs.GetDOSName(false);
            for (int fileIndex : FilesToList(fs, options)) {
                CatalogRow row;
                row.Partition = static_cast<int>(partition);
                row.DOS = dos;
                row.Name = fs.GetFullFileName(fileIndex);
                row.DisplayName = fs.GetDisplayName(fileIndex);
                row.Size = fs.GetFileSize(fileIndex);
                row.Date = FormatDate(fs.GetFileDate(fileIndex));
                entry.Rows.push_back(std::move(row));
            }
            damaged = damaged || fs.ReadError;
        }
        if (damaged) entry.Problem = "damaged: some of the directory could not be read";
    } catch (const std::bad_alloc&) {
        entry.Problem = "out of memory";
    } catch (const std::exception& error) {
        entry.Problem = error.what();
    }
}

// Hands the images out to the workers one at a time and lets the printer take
// each result, in path order, as soon as it is ready.
class WorkQueue {
public:
    explicit WorkQueue(std::vector<ImageEntry>& entries) : Entries(entries) {}

    void Work(const CatalogOptions& options) {
        for (;;) {
            size_t index;
            {
                std::lock_guard<std::mutex> lock(Mutex);
                if (Next >= Entries.size()) return;
                index = Next++;
            }
            ImageEntry result;
            result.Path = Entries[index].Path;
            CatalogImage(result, options);
            {
                std::lock_guard<std::mutex> lock(Mutex);
                Entries[index] = std::move(result);
                Entries[index].Done = true;
            }
            Ready.notify_all();
        }
    }

    // Waits for the entry at index and hands it over.
    ImageEntry Take(size_t index) {
        std::unique_lock<std::mutex> lock(Mutex);
        Ready.wait(lock, [&] { return Entries[index].Done; });
        return std::move(Entries[index]);
    }

private:
    std::vector<ImageEntry>& Entries;
    std::mutex Mutex;
    std::condition_variable Ready;
    size_t Next = 0;
};

unsigned WorkerCount(size_t images) {
    unsigned cores = std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
    return static_cast<unsigned>(std::min<size_t>(cores, std::max<size_t>(images, 1)));
}

class RowPrinter {
public:
    explicit RowPrinter(bool json) : Json(json), Writer(std::cout) {
        if (Json) Writer.BeginArray();
    }

    void Print(const std::string& path, const CatalogRow& row) {
        if (!Json) {
            // Tabs, newlines and backslashes inside a field are escaped, so every record is one
            // line of six fields whatever a disk or a folder name holds.
            std::cout << TabSeparatedField(path) << '\t' << row.Partition << '\t' << TabSeparatedField(row.DOS) << '\t'
                      << TabSeparatedField(row.DisplayName) << '\t' << row.Size << '\t'
                      << (row.Date.empty() ? "-" : TabSeparatedField(row.Date)) << '\n';
            return;
        }
        Writer.BeginObject();
        Writer.Key("image").String(path);
        Writer.Key("partition").Number(row.Partition);
        Writer.Key("dos").String(row.DOS);
        Writer.Key("name").String(row.Name);
        Writer.Key("size").Number(row.Size);
        Writer.Key("date").StringOrNull(row.Date);
        Writer.EndObject();
    }

    void Finish() {
        if (!Json) return;
        Writer.EndArray();
        std::cout << '\n';
    }

private:
    bool Json;
    JsonWriter Writer;
};

int RunCatalog(const CatalogOptions& options) {
    FoundFiles found = CollectFiles(options.Folder);
    int status = ExitOk;
    for (const std::string& folder : found.TooDeep) {
        Report(folder, "not searched: folders are searched " + std::to_string(MaxFolderDepth) + " levels deep at most");
        status = ExitFailure;
    }
    std::vector<ImageEntry> entries;
    for (std::string& path : found.Paths) entries.push_back(ImageEntry{std::move(path), {}, {}, false});

    WorkQueue queue(entries);
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < WorkerCount(entries.size()); ++i)
        workers.emplace_back([&queue, &options] { queue.Work(options); });

    RowPrinter printer(options.Json);
    for (size_t index = 0; index < entries.size(); ++index) {
        ImageEntry entry = queue.Take(index);
        for (const CatalogRow& row : entry.Rows) printer.Print(entry.Path, row);
        if (!entry.Problem.empty()) {
            Report(entry.Path, entry.Problem);
            status = ExitFailure;
        }
    }
    printer.Finish();
    for (std::thread& worker : workers) worker.join();
    return status;
}

}  // namespace

void AddCatalogVerb(CLI::App& app, RunResult& result) {
    auto options = std::make_shared<CatalogOptions>();
    CLI::App* verb = app.add_subcommand(
        "catalog",
        "List every file of every image under a folder, one line per file: image path, partition, DOS, name, size "
        "and date, separated by tabs. Images are only read; files that are not images are passed over, and an "
        "image that cannot be read is reported once");
    verb->add_option("FOLDER", options->Folder, "Folder to search, with every folder inside it")->required();
    verb->add_option("PATTERN", options->Patterns, "Names or wildcard patterns (* and ?) of the files to list");
    verb->add_flag("-a,--all", options->All, "Include invisible and system files");
    verb->add_flag("--json", options->Json, "Print a JSON array of objects");
    verb->callback([options, &result] {
        result.ExitCode = RunVerb(options->Folder, [&] { return RunCatalog(*options); });
    });
}

}  // namespace Qbox
