// Images and file systems: building tracks, reading sectors, recognising each DOS,
// reading a large file and opening a large hard disk.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchFolder.h"
#include "filesystem/HostTransfer.h"

namespace {

using BenchImages::Folder;
using BenchImages::Names;

struct FormatImage {
    const char* Label;
    const char* File;
    int DirectoryTrack;
};
const FormatImage FormatImages[] = {
    {"JV1", Names::TRSDOS23JV1, 17},
    {"JV3", Names::LDOSJV3, 20},
    {"DMK", Names::LDOSDMK, 20},
};

// Every load builds a track that was not loaded lately: the full cost of decoding.
void LoadTrack(benchmark::State& state, const FormatImage& format) {
    auto image = DiskImage::OpenFloppyImage(Folder::Get() / format.File, true);
    int track = 0;
    for (auto _ : state) {
        track = track % 34 + 1;
        benchmark::DoNotOptimize(image->LoadTrack(track));
    }
}

// Back and forth between the boot and the directory track, as a DOS reads them.
void SwitchBootAndDirectory(benchmark::State& state, const FormatImage& format) {
    auto image = DiskImage::OpenFloppyImage(Folder::Get() / format.File, true);
    bool boot = false;
    for (auto _ : state) {
        boot = !boot;
        benchmark::DoNotOptimize(image->LoadTrack(boot ? 0 : format.DirectoryTrack));
    }
}

// The last sector on the directory track, found by walking the whole raw track.
void ReadSector(benchmark::State& state, const FormatImage& format) {
    FileSystem::MountedDisk disk;
    disk.Open(Folder::Get() / format.File, true);
    FileSystem::TFileSystem& fs = *disk.Current();
    auto* floppy = fs.GetFloppyImage();
    floppy->LoadTrack(format.DirectoryTrack);
    std::vector<DiskImage::TTrackSector> sectors = floppy->ReadTrackSide(0);
    const DiskImage::TTrackSector& last = sectors.back();
    std::vector<uint8_t> data;
    uint8_t dam = 0;
    for (auto _ : state) {
        if (!fs.ReadDiskSector(format.DirectoryTrack, last.Sector, 0, last.Density, dam, data))
            state.SkipWithError("sector not found");
        benchmark::DoNotOptimize(data.data());
    }
}

// Open, recognise the DOS and list every file with its size and date: what `qbox ls -l` does.
size_t OpenAndList(const std::string& path) {
    FileSystem::MountedDisk disk;
    disk.Open(path, true);
    size_t listed = 0;
    for (auto& fs : disk.FileSystems) {
        for (int file : FileSystem::ListAllFiles(*fs, FileSystem::ListInvisible | FileSystem::ListSystem)) {
            listed += fs->GetFullFileName(file).size() + static_cast<size_t>(fs->GetFileSize(file));
            benchmark::DoNotOptimize(fs->GetFileDate(file));
        }
    }
    return listed;
}

void RecogniseAndList(benchmark::State& state, const std::string& path) {
    if (!std::filesystem::exists(path)) {
        state.SkipWithError(("missing " + path).c_str());
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(OpenAndList(path));
}

// Every candidate DOS and every CP/M layout is tried and refused.
void RecogniseNothing(benchmark::State& state) {
    const std::string path = Folder::Get() / Names::Unrecognisable;
    for (auto _ : state) {
        try {
            OpenAndList(path);
            state.SkipWithError("the disk was recognised");
            break;
        } catch (const FileSystem::TFileSystem::EInvalidFormat&) {
        }
    }
}
BENCHMARK(RecogniseNothing)->Unit(benchmark::kMicrosecond);

void ReadBigFile(benchmark::State& state) {
    FileSystem::MountedDisk disk;
    disk.Open(Folder::Get() / Names::BigFile, true);
    FileSystem::TFileSystem& fs = *disk.Current();
    const int file = fs.FindFile("BIG/DAT");
    for (auto _ : state) {
        std::vector<uint8_t> bytes = fs.ReadFile(file);
        if (bytes.size() != BenchImages::BigFileBytes) state.SkipWithError("short read");
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * BenchImages::BigFileBytes);
}
BENCHMARK(ReadBigFile)->Unit(benchmark::kMicrosecond);

void OpenHardDisk(benchmark::State& state) {
    const std::string path = Folder::Get() / Names::HardDisk;
    for (auto _ : state) benchmark::DoNotOptimize(OpenAndList(path));
}
BENCHMARK(OpenHardDisk)->Unit(benchmark::kMicrosecond);

// Floppies of the DOSes our formatter cannot make come from the shared real images.
struct DOSImage {
    const char* DOS;
    std::string Path;
};
std::vector<DOSImage> DOSImages() {
    const std::string real = std::string(QB_FIXTURES_DIR) + "/real/";
    const std::string peer = std::string(QB_FIXTURES_DIR) + "/peer/";
    const Folder& made = Folder::Get();
    return {
        {"TRSDOS13", made / Names::TRSDOS13DMK},
        {"TRSDOS23", made / Names::TRSDOS23JV1},
        {"LDOS", made / Names::LDOSDMK},
        {"NEWDOS80", real + "jv3-dd40-newdos80-m3-system.dsk"},
        {"DOSPLUS", real + "jv3-dd40-dosplus34-m3-system.dsk"},
        {"MULTIDOS", real + "dmk-dd40-multidos-data-frehd-utils.dmk"},
        {"CPM", real + "jv3-dd40-cpm22-montezuma-bios230-system.jv3"},
        {"RSDOS", peer + "rsdos-1.jv3"},
    };
}

const int Registered = [] {
    for (const FormatImage& format : FormatImages) {
        benchmark::RegisterBenchmark((std::string("LoadTrack/") + format.Label).c_str(), LoadTrack, format)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("SwitchBootAndDirectory/") + format.Label).c_str(),
                                     SwitchBootAndDirectory, format)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((std::string("ReadSector/") + format.Label).c_str(), ReadSector, format)
            ->Unit(benchmark::kMicrosecond);
    }
    for (const DOSImage& image : DOSImages())
        benchmark::RegisterBenchmark((std::string("RecogniseAndList/") + image.DOS).c_str(), RecogniseAndList,
                                     image.Path)
            ->Unit(benchmark::kMicrosecond);
    return 0;
}();

}  // namespace
