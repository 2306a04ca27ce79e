#include "filesystem/DiskCheck.h"

#include <algorithm>
#include <map>
#include <set>

#include "diskimage/DiskImage.h"
#include "filesystem/CPM.h"
#include "filesystem/MountedDisk.h"
#include "filesystem/RSDOS.h"
#include "filesystem/TRSDOSBase.h"

namespace FileSystem {

namespace {

void Add(std::vector<TFinding>& findings, TSeverity severity, std::string message) {
    findings.push_back(TFinding{severity, std::move(message)});
}

std::string Granule(int track, int granule) {
    return "track " + std::to_string(track) + ", granule " + std::to_string(granule);
}

std::string Hex(int value) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(value >> 4) & 15] + digits[value & 15];
}

// The most common set of sector numbers among the track sides that have sectors of a density.
std::set<int> UsualSectors(const std::vector<std::set<int>>& sides) {
    std::map<std::set<int>, int> counts;
    for (const auto& numbers : sides) {
        if (!numbers.empty()) ++counts[numbers];
    }
    std::set<int> usual;
    int best = 0;
    for (const auto& [numbers, count] : counts) {
        if (count > best) {
            best = count;
            usual = numbers;
        }
    }
    return usual;
}

std::string FileLabel(TFileSystem& fs, int index) {
    return fs.GetDisplayName(index);
}

}  // namespace

std::string SeverityName(TSeverity severity) {
    switch (severity) {
        case TSeverity::Error:
            return "error";
        case TSeverity::Warning:
            return "warning";
        default:
            return "info";
    }
}

bool IsHealthy(const std::vector<TFinding>& findings) {
    return std::none_of(findings.begin(), findings.end(),
                        [](const TFinding& f) { return f.Severity != TSeverity::Info; });
}

std::vector<int> ListEveryFile(TFileSystem& fs) {
    return fs.ListFiles({std::string("*") + fs.GetExtensionSeparator() + "*"}, ListInvisible | ListSystem);
}

std::vector<TFinding> CheckFloppyTracks(DiskImage::TFloppyImage& image) {
    std::vector<TFinding> findings;
    constexpr int Tracks = DiskImage::TFloppyImage::MaxTrackNumber + 1;
    // numbers[side][density][track]: the sector numbers read there.
    std::vector<std::set<int>> numbers[2][2];
    for (auto& side : numbers) {
        for (auto& density : side) density.assign(Tracks, {});
    }
    int first = -1, last = -1, sectors = 0;
    for (int track = 0; track < Tracks; ++track) {
        if (!image.LoadTrack(track) || image.GetCurrentTrack() != track) continue;
        for (int side = 0; side < 2; ++side) {
            const std::vector<DiskImage::TTrackSector> readable = image.ReadTrackSide(side);
            // Counted against what the file holds, so that a track read only in part shows.
            const int stored = image.StoredSectorCount(side);
            if (static_cast<int>(readable.size()) < stored) {
                Add(findings, TSeverity::Error,
                    "Track " + std::to_string(track) + ", side " + std::to_string(side) + ": " +
                        std::to_string(stored - static_cast<int>(readable.size())) + " of " + std::to_string(stored) +
                        " stored sectors could not be read");
            }
            for (const auto& sector : readable) {
                ++sectors;
                numbers[side][sector.Density ? 1 : 0][track].insert(sector.Sector);
                if (first < 0) first = track;
                last = track;
                if (sector.CrcError) {
                    Add(findings, TSeverity::Error,
                        "Track " + std::to_string(track) + ", side " + std::to_string(side) + ", sector " +
                            std::to_string(sector.Sector) + ": data CRC error");
                }
            }
        }
    }
    if (first < 0) {
        Add(findings, TSeverity::Error, "No readable sector on the disk");
        return findings;
    }
    for (int track = first; track <= last; ++track) {
        bool any = false;
        for (auto& side : numbers) {
            for (auto& density : side) any = any || !density[track].empty();
        }
        if (!any) Add(findings, TSeverity::Error, "Track " + std::to_string(track) + " holds no readable sector");
    }
    for (int side = 0; side < 2; ++side) {
        for (int density = 0; density < 2; ++density) {
            const auto& tracks = numbers[side][density];
            const std::set<int> usual = UsualSectors(tracks);
            for (int track = first; track <= last; ++track) {
                if (tracks[track].empty()) continue;  // a track of the other density, or one reported above
                for (int number : usual) {
                    if (!tracks[track].count(number)) {
                        Add(findings, TSeverity::Error,
                            "Track " + std::to_string(track) + ", side " + std::to_string(side) + ", sector " +
                                std::to_string(number) + ": missing or unreadable");
                    }
                }
            }
        }
    }
    Add(findings, TSeverity::Info,
        std::to_string(sectors) + " sectors read on tracks " + std::to_string(first) + " to " + std::to_string(last));
    return findings;
}

namespace {

void CheckRecordChain(const TRSDOSBase& fs, int dec, const std::string& name, std::vector<TFinding>& findings) {
    std::string problem;
    switch (fs.GetRecordChainEnd(dec)) {
        case TRSDOSBase::TChainEnd::LastRecord: return;
        case TRSDOSBase::TChainEnd::Loop: problem = "loops back"; break;
        case TRSDOSBase::TChainEnd::OutsideDirectory: problem = "leads out of the directory"; break;
        case TRSDOSBase::TChainEnd::NotExtension: problem = "reaches a record that is no extension"; break;
    }
    Add(findings, TSeverity::Error, name + ": the link of its directory records " + problem);
}

// A hard disk's DOS reserves its boot and system area in the GAT and leaves BOOT/SYS
// without extents: a system file without extents says so.
bool HasSystemFileWithoutExtents(TRSDOSBase& fs, const std::vector<int>& files) {
    if (!fs.IsHardDisk) return false;
    return std::any_of(files.begin(), files.end(), [&](int dec) {
        return fs.HasAttribute(dec, AttrSystem) && fs.GetExtents(dec).empty();
    });
}

}  // namespace

std::vector<TFinding> CheckTRSDOS(TRSDOSBase& fs) {
    std::vector<TFinding> findings;
    const int tracks = fs.GetTracks();
    const int perTrack = std::max(1, fs.GetGranulesPerTrack());
    const int perGranule = std::max(1, fs.GetSectorsPerGranule());
    // owner[track * 8 + granule]: the first file found in the granule.
    std::vector<int> owner(static_cast<size_t>(std::max(tracks, 256)) * 8, -1);
    const std::vector<int> files = ListEveryFile(fs);
    const bool reservedSystemArea = HasSystemFileWithoutExtents(fs, files);
    const bool linkedRecords = fs.LinksDirectoryRecords();
    for (int dec : files) {
        const std::string name = FileLabel(fs, dec);
        if (linkedRecords) CheckRecordChain(fs, dec, name, findings);
        long long granules = 0;
        for (const TExtent& extent : fs.GetExtents(dec)) {
            for (const auto [track, granule] : fs.GetExtentGranules(extent)) {
                ++granules;
                if (track >= tracks) {
                    Add(findings, TSeverity::Error,
                        name + ": extent reaches " + Granule(track, granule) + ", past the last track (" +
                            std::to_string(tracks - 1) + ")");
                    break;
                }
                int& who = owner[static_cast<size_t>(track) * 8 + granule];
                if (who >= 0) {
                    Add(findings, TSeverity::Error,
                        Granule(track, granule) + " is used by both " + FileLabel(fs, who) + " and " + name);
                    continue;
                }
                who = dec;
                if (!fs.IsGranuleMarkedUsed(track, granule)) {
                    Add(findings, TSeverity::Error, Granule(track, granule) + " of " + name + " is marked free in the GAT");
                }
            }
        }
        const long long capacity = granules * perGranule * TRSDOSBase::SectorSize;
        const int size = fs.GetFileSize(dec);
        const bool heldByTheDOS = reservedSystemArea && granules == 0 && fs.HasAttribute(dec, AttrSystem);
        if (size > capacity && !heldByTheDOS) {
            Add(findings, TSeverity::Error,
                name + ": size " + std::to_string(size) + " bytes is larger than its extents hold (" +
                    std::to_string(capacity) + " bytes)");
        }
    }
    const bool systemWithoutFiles = fs.ReservesSystemTracksWithoutFiles();
    // On a hard disk whose DOS holds BOOT/SYS outside any extent, the granules it marks
    // used before the first one a file owns are its reserved system area.
    bool beforeFirstFile = reservedSystemArea;
    int reserved = 0, firstReservedTrack = -1, lastReservedTrack = -1;
    for (int track = 0; track < tracks && !systemWithoutFiles; ++track) {
        if (track == fs.GetDirectoryTrack()) continue;  // the system's own, owned by no file on some disks
        for (int granule = 0; granule < perTrack; ++granule) {
            if (owner[static_cast<size_t>(track) * 8 + granule] >= 0) {
                beforeFirstFile = false;
                continue;
            }
            if (!fs.IsGranuleMarkedUsed(track, granule) || fs.IsGranuleLockedOut(track, granule)) continue;
            if (beforeFirstFile) {
                ++reserved;
                if (firstReservedTrack < 0) firstReservedTrack = track;
                lastReservedTrack = track;
                continue;
            }
            Add(findings, TSeverity::Warning, Granule(track, granule) + " is marked used but no file owns it");
        }
    }
    if (reserved > 0) {
        Add(findings, TSeverity::Info,
            std::to_string(reserved) + " granules on tracks " + std::to_string(firstReservedTrack) + " to " +
                std::to_string(lastReservedTrack) + " are the system area the DOS reserves");
    }
    if (!systemWithoutFiles) {
        const std::vector<uint8_t>& hit = fs.GetHITBytes();
        std::set<int> listed(files.begin(), files.end());
        for (int dec : files) {
            const std::string name = fs.GetFileName(dec) + "/" + fs.GetFileExtension(dec);
            const int expected = TRSDOSBase::HashFilename(name);
            if (static_cast<size_t>(dec) < hit.size() && hit[static_cast<size_t>(dec)] != expected) {
                Add(findings, TSeverity::Error,
                    FileLabel(fs, dec) + ": HIT byte " + Hex(dec) + " is " + Hex(hit[static_cast<size_t>(dec)]) +
                        ", the name gives " + Hex(expected));
            }
        }
        for (int dec = 0; dec < static_cast<int>(hit.size()); ++dec) {
            if (hit[static_cast<size_t>(dec)] == 0 || listed.count(dec)) continue;
            uint8_t attributes = 0;
            try {
                attributes = fs.ReadRecord(dec).Attributes;
            } catch (const TFileSystem::EIllegalFileIndex&) {
                continue;  // past the directory: those HIT bytes are not looked at
            }
            if ((attributes & TRSDOSBase::RecordInUse) == 0) {
                Add(findings, TSeverity::Warning,
                    "HIT byte " + Hex(dec) + " is " + Hex(hit[static_cast<size_t>(dec)]) +
                        " but its directory record is free");
            }
        }
    }
    Add(findings, TSeverity::Info, std::to_string(files.size()) + " files checked");
    return findings;
}

std::vector<TFinding> CheckCPM(CPM& fs) {
    std::vector<TFinding> findings;
    const CPMFormat& format = fs.GetFormat();
    const int dsm = format.DSM;
    std::map<int, int> owner;  // block -> entry
    for (int block = 0; block < fs.GetDirectoryBlockCount(); ++block) owner[block] = -1;
    auto entryLabel = [](int entry) {
        return entry < 0 ? std::string("the directory") : "directory entry " + std::to_string(entry);
    };
    for (int entry = 0; entry < format.DirectoryEntries(); ++entry) {
        if (!fs.IsEntryInUse(entry)) continue;
        for (int block : fs.GetEntryBlocks(entry)) {
            if (block > dsm) {
                Add(findings, TSeverity::Error,
                    entryLabel(entry) + " claims block " + std::to_string(block) + ", past the last block (" +
                        std::to_string(dsm) + ")");
                continue;
            }
            auto [it, fresh] = owner.emplace(block, entry);
            if (!fresh) {
                Add(findings, TSeverity::Error,
                    "Block " + std::to_string(block) + " is claimed by both " + entryLabel(it->second) + " and " +
                        entryLabel(entry));
            }
        }
    }
    Add(findings, TSeverity::Info, std::to_string(ListEveryFile(fs).size()) + " files checked");
    return findings;
}

std::vector<TFinding> CheckRSDOS(RSDOS& fs) {
    std::vector<TFinding> findings;
    std::vector<int> owner(RSDOS::Granules, -1);
    const std::vector<int> files = ListEveryFile(fs);
    for (int file : files) {
        const std::string name = FileLabel(fs, file);
        bool complete = false;
        const std::vector<int> chain = fs.GetGranuleChain(file, complete);
        if (!complete) {
            const std::string where = chain.empty() ? std::string("at its first granule")
                                                    : "after granule " + std::to_string(chain.back());
            Add(findings, TSeverity::Error, name + ": granule chain is broken " + where);
        }
        for (int granule : chain) {
            int& who = owner[static_cast<size_t>(granule)];
            if (who >= 0 && who != file) {
                Add(findings, TSeverity::Error,
                    "Granule " + std::to_string(granule) + " is in the chains of both " + FileLabel(fs, who) +
                        " and " + name);
            } else if (who == file) {
                Add(findings, TSeverity::Error, name + ": granule chain runs through granule " +
                                                    std::to_string(granule) + " twice");
                break;
            }
            who = file;
        }
    }
    for (int granule = 0; granule < RSDOS::Granules; ++granule) {
        if (fs.GetFATByte(granule) != 0xFF && owner[static_cast<size_t>(granule)] < 0) {
            Add(findings, TSeverity::Warning,
                "Granule " + std::to_string(granule) + " is marked used in the FAT but no file's chain reaches it");
        }
    }
    Add(findings, TSeverity::Info, std::to_string(files.size()) + " files checked");
    return findings;
}

std::vector<TFinding> CheckSectorsRead(TFileSystem& fs) {
    std::vector<TFinding> findings;
    for (const TSectorProblem& problem : fs.GetDirectoryProblems())
        Add(findings, TSeverity::Error, "Directory: " + DescribeSectorProblem(problem));
    for (int file : ListEveryFile(fs)) {
        try {
            for (const TSectorProblem& problem : fs.ReadFileChecked(file).Problems)
                Add(findings, TSeverity::Error, FileLabel(fs, file) + ": " + DescribeSectorProblem(problem));
        } catch (const TFileSystem::Exception& error) {
            Add(findings, TSeverity::Error, FileLabel(fs, file) + ": " + error.what());
        }
    }
    return findings;
}

// Each DOS's own checks, defined here beside the checks they share.
std::vector<TFinding> TFileSystem::CheckStructure() {
    return {TFinding{TSeverity::Info, "No checks for " + GetDOSName(false)}};
}
std::vector<TFinding> TRSDOSBase::CheckStructure() { return CheckTRSDOS(*this); }
std::vector<TFinding> CPM::CheckStructure() { return CheckCPM(*this); }
std::vector<TFinding> RSDOS::CheckStructure() { return CheckRSDOS(*this); }

std::vector<TFinding> CheckFileSystem(TFileSystem& fs) {
    std::vector<TFinding> findings = CheckSectorsRead(fs);
    const std::vector<TFinding> structure = fs.CheckStructure();
    findings.insert(findings.end(), structure.begin(), structure.end());
    return findings;
}

std::vector<TCheckSection> CheckMountedDisk(MountedDisk& disk) {
    std::vector<TCheckSection> sections;
    if (auto* floppy = dynamic_cast<DiskImage::TFloppyImage*>(disk.Image.get())) {
        sections.push_back({"Tracks", CheckFloppyTracks(*floppy), -1});
    }
    for (size_t p = 0; p < disk.FileSystems.size(); ++p) {
        TFileSystem& fs = *disk.FileSystems[p];
        std::string title = fs.GetDOSName(false);
        if (disk.FileSystems.size() > 1) title = "Partition " + std::to_string(p) + " (" + title + ")";
        sections.push_back({title, CheckFileSystem(fs), static_cast<int>(p)});
    }
    return sections;
}

}  // namespace FileSystem
