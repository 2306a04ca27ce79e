// Shared pieces of the qbox verbs.
#include "cli/Cli.h"

#include <cstdio>
#include <iostream>
#include <new>

#include "diskimage/DiskImage.h"
#include "filesystem/HostTransfer.h"

namespace Qbox {

using FileSystem::TFileSystem;

namespace {

void AppendEscaped(std::string& out, uint8_t byte) {
    switch (byte) {
        case '\t': out += "\\t"; return;
        case '\n': out += "\\n"; return;
        case '\r': out += "\\r"; return;
        default: break;
    }
    const char octal[] = {'\\', static_cast<char>('0' + (byte >> 6)), static_cast<char>('0' + ((byte >> 3) & 7)),
                          static_cast<char>('0' + (byte & 7))};
    out.append(octal, sizeof octal);
}

// The length of the UTF-8 sequence at text[at] of a character a terminal shows as it is
// (U+00A0 and up), or 0 when the byte there must be escaped.
size_t ShownSequence(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    if (lead >= 0x20 && lead < 0x7F) return 1;
    size_t length = lead >= 0xF0 && lead < 0xF5 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
    if (length == 0 || lead >= 0xF5 || at + length > text.size()) return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const uint32_t shortest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    if (code < shortest || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
    return code < 0xA0 ? 0 : length;  // C1 controls (U+0080 to U+009F) act on some terminals
}

std::string Escaped(std::string_view text, bool doubleBackslash) {
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        if (doubleBackslash && text[at] == '\\') {
            out += "\\\\";
            ++at;
        } else if (size_t length = ShownSequence(text, at); length > 0) {
            out.append(text.substr(at, length));
            at += length;
        } else {
            AppendEscaped(out, static_cast<uint8_t>(text[at++]));
        }
    }
    return out;
}

}  // namespace

std::string Printable(std::string_view text) { return Escaped(text, false); }

void CheckVolumeText(const std::string& verb, const std::string& what, const std::string& text) {
    if (text.size() > 8) throw UsageError(verb + ": the volume " + what + " has at most 8 characters");
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            throw UsageError(verb + ": the volume " + what + " must be printable ASCII");
}

std::vector<std::string> ImageTypeKeys() {
    std::vector<std::string> keys;
    for (const auto& type : DiskImage::WritableImageTypes()) keys.push_back(type.Key);
    return keys;
}

std::string ImageTypeKeysText() {
    const std::vector<std::string> keys = ImageTypeKeys();
    std::string text;
    for (size_t i = 0; i < keys.size(); ++i) {
        if (i > 0) text += i + 1 == keys.size() ? " or " : ", ";
        text += keys[i];
    }
    return text;
}

std::string TabSeparatedField(std::string_view text) { return Escaped(text, true); }

void Report(const std::string& image, const std::string& message) {
    std::cerr << "qbox: " << Printable(image) << ": " << Printable(message) << '\n';
}

int RunVerb(const std::string& image, const std::function<int()>& body) {
    try {
        return body();
    } catch (const UsageError& error) {
        std::cerr << "qbox: " << Printable(error.what()) << '\n';
        return ExitUsage;
    } catch (const std::bad_alloc&) {
        Report(image, "out of memory");
    } catch (const std::exception& error) {
        // Image and file-system exceptions carry the system's own message.
        Report(image, error.what());
    }
    return ExitFailure;
}

TFileSystem& OpenDisk(FileSystem::MountedDisk& disk, const std::string& image, int partition, bool readOnly) {
    disk.Open(image, readOnly);
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
        message += (i == 0 ? " " : ", ") + fs.GetDisplayName(files[i]) + " (entry " + std::to_string(files[i]) + ")";
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
            std::vector<std::string> diskPattern = {FileSystem::DiskPattern(fs, pattern)};
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
