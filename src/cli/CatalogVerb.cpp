// qbox catalog: every file of every image in a folder tree, so that a collector
// can find which of their disks holds a program. Images are opened read-only and
// shared out to one worker per core; rows come out sorted by image path.
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <filesystem>
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

namespace fs = std::filesystem;
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

// The regular files under the folder, sorted by path. Folders that cannot be read are
// passed over; symbolic links to folders are not followed, so a link loop ends nothing.
std::vector<std::string> CollectFiles(const std::string& folder) {
    std::error_code error;
    if (fs::is_regular_file(folder, error)) return {folder};
    if (!fs::is_directory(folder, error)) {
        throw Failure(error ? error.message() : std::string("Not a directory"));
    }
    std::vector<std::string> paths;
    fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied, error);
    if (error) throw Failure(error.message());
    for (fs::recursive_directory_iterator end; walk != end; walk.increment(error)) {
        if (error) {
            error.clear();
            continue;
        }
        std::error_code typeError;
        if (walk->is_regular_file(typeError)) paths.push_back(walk->path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
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
    return MatchFiles(fs, options.Patterns, flags, {}, unmatched, false);
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
            std::cout << path << '\t' << row.Partition << '\t' << row.DOS << '\t' << row.DisplayName << '\t' << row.Size
                      << '\t' << (row.Date.empty() ? "-" : row.Date) << '\n';
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
    std::vector<ImageEntry> entries;
    for (std::string& path : CollectFiles(options.Folder)) entries.push_back(ImageEntry{std::move(path), {}, {}, false});

    WorkQueue queue(entries);
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < WorkerCount(entries.size()); ++i)
        workers.emplace_back([&queue, &options] { queue.Work(options); });

    RowPrinter printer(options.Json);
    int status = ExitOk;
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
