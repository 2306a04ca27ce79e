// Judging and applying the 2012 date patches through the ordinary file
// operations of an open LDOS file system: files are found by name, read whole,
// changed in memory and written back in place.
#include "filesystem/DatePatches.h"

#include <algorithm>
#include <exception>
#include <map>

#include "filesystem/FileSystem.h"

namespace FileSystem {

namespace {

enum class PatchBytes { Unpatched, Patched };

const std::vector<uint8_t>& Chosen(const DatePatchRecord& record, PatchBytes which) {
    return which == PatchBytes::Patched ? record.Patched : record.Unpatched;
}

bool RecordFits(const DatePatchRecord& record, const std::vector<uint8_t>& file) {
    return record.Offset <= file.size() && record.Patched.size() <= file.size() - record.Offset &&
           record.Unpatched.size() == record.Patched.size();
}

bool SetMatches(const DatePatchSet& set, const std::vector<uint8_t>& file, PatchBytes which) {
    for (const DatePatchRecord& record : set) {
        if (!RecordFits(record, file))
            return false;
        const std::vector<uint8_t>& expected = Chosen(record, which);
        for (size_t i = 0; i < expected.size(); ++i)
            if (file[record.Offset + i] != expected[i])
                return false;
    }
    return true;
}

// A system file as read from the disk, and what it is to become.
struct SystemFile {
    int FileIndex = -1;
    std::vector<uint8_t> Original;
    std::vector<uint8_t> Bytes;
};

// Keyed by name: SYS7/SYS is listed twice but read and written once.
using SystemFiles = std::map<std::string, SystemFile>;

bool ReadSystemFiles(TFileSystem& fs, SystemFiles& files, std::string& problem) {
    for (const char* name : DatePatchFileNames) {
        if (files.count(name))
            continue;
        try {
            SystemFile file;
            file.FileIndex = fs.FindFile(name);
            if (file.FileIndex < 0) {
                problem = std::string(name) + " is missing";
                return false;
            }
            file.Original = fs.ReadFile(file.FileIndex);
            const int size = fs.GetFileSize(file.FileIndex);
            // A short read means an unreadable sector: judging or patching it
            // would rest on bytes that are not the file's.
            if (size < 0 || file.Original.size() != static_cast<size_t>(size)) {
                problem = std::string(name) + " could not be read";
                return false;
            }
            file.Bytes = file.Original;
            files.emplace(name, std::move(file));
        } catch (const std::exception& error) {
            problem = std::string(name) + ": " + error.what();
            return false;
        }
    }
    return true;
}

// Every entry of the variant must match; the variant is the same for all seven.
bool VariantMatches(const DatePatchVariant& variant, const SystemFiles& files, PatchBytes which) {
    for (int i = 0; i < DatePatchFileCount; ++i)
        if (!SetMatches(variant.Sets[i], files.at(DatePatchFileNames[i]).Bytes, which))
            return false;
    return true;
}

int MatchTable(const DatePatchTable& table, const SystemFiles& files, PatchBytes which) {
    for (const DatePatchVariant& variant : table.Variants)
        if (VariantMatches(variant, files, which))
            return variant.Variant;
    return -1;
}

bool WriteSets(const DatePatchVariant& variant, PatchBytes which, SystemFiles& files, std::string& problem) {
    for (int i = 0; i < DatePatchFileCount; ++i) {
        std::vector<uint8_t>& bytes = files.at(DatePatchFileNames[i]).Bytes;
        for (const DatePatchRecord& record : variant.Sets[i]) {
            if (!RecordFits(record, bytes)) {
                problem = std::string(DatePatchFileNames[i]) + " is too short for its patches";
                return false;
            }
            const std::vector<uint8_t>& chosen = Chosen(record, which);
            std::copy(chosen.begin(), chosen.end(), bytes.begin() + record.Offset);
        }
    }
    return true;
}

bool IsLDOS(TFileSystem& fs) {
    try {
        return fs.GetDOSName(true) == "LDOS";
    } catch (const std::exception&) {
        return false;
    }
}

// Puts back the files already written; best effort, as it runs after a failure.
void RestoreFiles(TFileSystem& fs, const std::vector<const SystemFile*>& written) {
    for (const SystemFile* file : written) {
        try {
            fs.RewriteFile(file->FileIndex, file->Original);
        } catch (const std::exception&) {
        }
    }
}

bool WriteSystemFiles(TFileSystem& fs, const SystemFiles& files, std::string& problem) {
    std::vector<const SystemFile*> written;
    for (const char* name : DatePatchFileNames) {
        const SystemFile& file = files.at(name);
        bool done = false;
        for (const SystemFile* other : written)
            done = done || other == &file;
        if (done)
            continue;
        bool ok = false;
        try {
            ok = fs.RewriteFile(file.FileIndex, file.Bytes);
        } catch (...) {
            RestoreFiles(fs, written);
            throw;
        }
        if (!ok) {
            RestoreFiles(fs, written);
            problem = std::string(name) + " could not be written";
            return false;
        }
        written.push_back(&file);
    }
    return true;
}

}  // namespace

const DatePatchVariant* DatePatchTable::Find(int variant) const {
    for (const DatePatchVariant& entry : Variants)
        if (entry.Variant == variant)
            return &entry;
    return nullptr;
}

bool DecodePatchHex(const char* hex, std::vector<uint8_t>& bytes) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    bytes.clear();
    if (hex == nullptr)
        return false;
    for (const char* p = hex; *p != '\0'; p += 2) {
        const int high = digit(p[0]);
        const int low = p[1] == '\0' ? -1 : digit(p[1]);
        if (high < 0 || low < 0)
            return false;
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    return true;
}

std::string DatePatchSystemName(int variant) { return variant == 4 ? "LS-DOS" : "LDOS"; }

DatePatchState GetDatePatchState(TFileSystem& fs) {
    return GetDatePatchState(fs, CurrentDatePatchTable(), PreviousDatePatchTable());
}

DatePatchState GetDatePatchState(TFileSystem& fs, const DatePatchTable& current, const DatePatchTable& previous) {
    DatePatchState state;
    if (!IsLDOS(fs))
        return state;
    SystemFiles files;
    std::string problem;
    if (!ReadSystemFiles(fs, files, problem))
        return state;
    if (int variant = MatchTable(current, files, PatchBytes::Patched); variant >= 0)
        return {false, variant, DatePatchCurrent};
    if (int variant = MatchTable(previous, files, PatchBytes::Patched); variant >= 0)
        return {true, variant, DatePatchPreviousEdition};
    if (int variant = MatchTable(current, files, PatchBytes::Unpatched); variant >= 0)
        return {true, variant, DatePatchUnpatched};
    return state;
}

bool ApplyDatePatches(TFileSystem& fs, int variant, int kind, std::string* problem) {
    return ApplyDatePatches(fs, variant, kind, CurrentDatePatchTable(), PreviousDatePatchTable(), problem);
}

bool ApplyDatePatches(TFileSystem& fs, int variant, int kind, const DatePatchTable& current,
                      const DatePatchTable& previous, std::string* problem) {
    std::string why;
    auto refuse = [&](const std::string& text) {
        if (problem)
            *problem = text;
        return false;
    };
    if (kind == DatePatchCurrent)
        return true;
    if (kind != DatePatchUnpatched && kind != DatePatchPreviousEdition)
        return refuse("There is nothing to patch on this disk");
    if (!IsLDOS(fs))
        return refuse("Not an LDOS or LS-DOS disk");
    const DatePatchVariant* target = current.Find(variant);
    const DatePatchVariant* earlier = kind == DatePatchPreviousEdition ? previous.Find(variant) : nullptr;
    if (target == nullptr || (kind == DatePatchPreviousEdition && earlier == nullptr))
        return refuse("No date patches are available for this " + DatePatchSystemName(variant) + " system");

    // Everything is read and checked before the first file is written, so that
    // a disk is never left half patched.
    SystemFiles files;
    if (!ReadSystemFiles(fs, files, why))
        return refuse(why);
    if (kind == DatePatchUnpatched) {
        if (!VariantMatches(*target, files, PatchBytes::Unpatched))
            return refuse("The system files do not hold the expected " + DatePatchSystemName(variant) + " code");
    } else {
        if (!VariantMatches(*earlier, files, PatchBytes::Patched))
            return refuse("The system files do not hold the earlier date patches");
        if (!WriteSets(*earlier, PatchBytes::Unpatched, files, why))
            return refuse(why);
    }
    if (!WriteSets(*target, PatchBytes::Patched, files, why))
        return refuse(why);
    if (!WriteSystemFiles(fs, files, why))
        return refuse(why);
    return true;
}

}  // namespace FileSystem
