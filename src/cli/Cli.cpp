// Shared pieces of the qbox verbs.
#include "cli/Cli.h"

#include <cstdio>
#include <iostream>
#include <new>

#include "diskimage/DiskImage.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

using FileSystem::TFileSystem;

void Report(const std::string& image, const std::string& message) {
    std::cerr << "qbox: " << image << ": " << message << '\n';
}

int RunVerb(const std::string& image, const std::function<int()>& body) {
    try {
        return body();
    } catch (const UsageError& error) {
        std::cerr << "qbox: " << error.what() << '\n';
        return ExitUsage;
    } catch (const std::bad_alloc&) {
        Report(image, "out of memory");
    } catch (const std::exception& error) {
        // Image and file-system exceptions carry the system's own message.
        Report(image, error.what());
    }
    return ExitFailure;
}

TFileSystem& OpenDisk(FileSystem::MountedDisk& disk, const std::string& image, int partition) {
    disk.Open(image);
    int count = static_cast<int>(disk.FileSystems.size());
    if (partition < 0 || partition >= count)
        throw Failure("partition " + std::to_string(partition) + " does not exist (the disk has " +
                      std::to_string(count) + (count == 1 ? " partition)" : " partitions)"));
    disk.CurrentPartition = partition;
    return *disk.Current();
}

void RequireWritable(TFileSystem& fs) {
    std::string refusal = FileSystem::WriteRefusal(fs);
    if (!refusal.empty()) throw Failure(refusal);
}

void SaveChanges(FileSystem::MountedDisk& disk) { disk.Flush(); }

namespace {

bool HasWildcard(const std::string& pattern) { return pattern.find_first_of("*?") != std::string::npos; }

// Lets users write the host's "NAME.EXT" form and "*" for every file on any DOS.
std::string DiskPattern(TFileSystem& fs, std::string pattern) {
    char separator = fs.GetExtensionSeparator();
    if (separator != '.') {
        for (char& c : pattern)
            if (c == '.') c = separator;
    }
    if (pattern.find(separator) == std::string::npos) {
        pattern += separator;
        pattern += '*';
    }
    return pattern;
}

}  // namespace

std::vector<int> NamedFiles(TFileSystem& fs, const std::string& name) {
    const std::string wanted = FileSystem::ComparableName(name);
    std::vector<int> named;
    for (int fileIndex : FileSystem::ListAllFiles(fs, FileSystem::ListInvisible | FileSystem::ListSystem))
        if (FileSystem::ComparableName(fs.GetFullFileName(fileIndex)) == wanted) named.push_back(fileIndex);
    if (named.empty()) {
        // A file the listing leaves out that the DOS's own lookup still finds.
        const int found = fs.FindFile(name);
        if (found >= 0) named.push_back(found);
    }
    return named;
}

std::string AmbiguousName(TFileSystem& fs, const std::string& name, const std::vector<int>& files) {
    std::string message = name + ": ambiguous name, it names " + std::to_string(files.size()) + " files:";
    for (size_t i = 0; i < files.size(); ++i)
        message += (i == 0 ? " " : ", ") + fs.GetFullFileName(files[i]) + " (entry " + std::to_string(files[i]) + ")";
    return message;
}

int FindOneFile(TFileSystem& fs, const std::string& name) {
    const std::vector<int> named = NamedFiles(fs, name);
    if (named.empty()) throw Failure(name + ": no such file");
    if (named.size() > 1) throw Failure(AmbiguousName(fs, name, named));
    return named.front();
}

std::vector<int> MatchFiles(TFileSystem& fs, const std::vector<std::string>& patterns, int listFlags,
                            const std::string& image, int& unmatched, bool report, bool listSeveral) {
    std::vector<int> matched;
    auto add = [&matched](int fileIndex) {
        for (int known : matched)
            if (known == fileIndex) return;
        matched.push_back(fileIndex);
    };
    std::vector<int> listed;
    bool haveListed = false;
    for (const std::string& pattern : patterns) {
        std::vector<int> found;
        if (!HasWildcard(pattern)) {
            found = NamedFiles(fs, pattern);
            if (found.size() > 1 && !listSeveral) {
                // Only a wildcard acts on several files: a plain name must say which one.
                if (report) Report(image, AmbiguousName(fs, pattern, found));
                ++unmatched;
                continue;
            }
        } else {
            if (!haveListed) {
                listed = FileSystem::ListAllFiles(fs, listFlags);
                haveListed = true;
            }
            std::vector<std::string> diskPattern = {DiskPattern(fs, pattern)};
            for (int fileIndex : listed)
                if (fs.MatchesPattern(diskPattern, fs.GetFullFileName(fileIndex))) found.push_back(fileIndex);
        }
        for (int fileIndex : found) add(fileIndex);
        if (found.empty()) {
            if (report) Report(image, pattern + ": no such file");
            ++unmatched;
        }
    }
    return matched;
}

bool ReportDirectoryProblems(const std::string& image, TFileSystem& fs) {
    for (const FileSystem::TSectorProblem& problem : fs.GetDirectoryProblems())
        Report(image, "directory: " + FileSystem::DescribeSectorProblem(problem));
    return fs.GetDirectoryProblems().empty();
}

bool ReportFileRead(const std::string& image, const std::string& fileName, const FileSystem::TFileRead& read) {
    if (read.IsWhole()) return true;
    Report(image, fileName + ": " + FileSystem::DescribeShortRead(read));
    for (const FileSystem::TSectorProblem& problem : read.Problems)
        Report(image, fileName + ": " + FileSystem::DescribeSectorProblem(problem));
    return false;
}

std::string FormatDate(const FileSystem::FileDate& date, char timeSeparator) {
    if (!date.HasDate) return {};
    char text[40];
    if (date.HasTime)
        std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d", date.Year, date.Month, date.Day, timeSeparator,
                      date.Hour, date.Minute);
    else
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.Year, date.Month, date.Day);
    return text;
}

void AddPartitionOption(CLI::App* verb, int& partition) {
    verb->add_option("-p,--partition", partition, "Partition of a hard disk to work on (from 0)")
        ->check(CLI::NonNegativeNumber);
}

}  // namespace Qbox
