// A change to a disk lands whole or not at all: qbox is stopped at every write in turn
// (through a preloaded library that ends the process there), and the image must then open
// and be byte for byte the image before the change or the image after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/QboxRunner.h"
#include "common/LDOSTestDisks.h"
#include "common/TempDir.h"

using TestSupport::QboxResult;
using TestSupport::ReadHostBytes;
using TestSupport::RunQbox;
using TestSupport::TempDir;
using TestSupport::WriteHostBytes;

namespace {

constexpr int CrashStatus = 86;  // what the preloaded library exits with
constexpr int MaxCrashPoints = 1000;

// How the change names the image, and how the image is opened after the stop.
enum class Naming {
    Direct,      // by its own path
    Link,        // through a symbolic link in another folder; opened again by its own path
    SecondLink,  // through one link; opened again through a second link in a third folder
};

struct CrashCase {
    const char* Verb;
    const char* Container;
    Naming Via = Naming::Direct;
};

// Memory-backed when the host has such a folder: stopping a process loses nothing its
// writes put in the page cache, so syncing to a real disk would only make the runs slow.
std::filesystem::path CrashFolderBase() {
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0) return "/dev/shm";
    return std::filesystem::temp_directory_path();
}

std::string CaseName(const ::testing::TestParamInfo<CrashCase>& info) {
    std::string name = std::string(info.param.Verb) + "_" + info.param.Container;
    if (info.param.Via == Naming::Link) name += "_through_a_link";
    if (info.param.Via == Naming::SecondLink) name += "_through_two_links";
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

std::string Fixture(const char* name) { return std::string(QB_FIXTURES_DIR) + "/real/" + name; }

// qbox new's options for a small disk in each floppy container.
std::vector<std::string> NewDiskOptions(const std::string& container) {
    if (container == "jv1") return {"--type", "jv1", "--dos", "trsdos23"};
    return {"--type", container, "--dos", "ldos", "--tracks", "35", "--sides", "1", "--density", "single"};
}

std::optional<std::vector<uint8_t>> BytesIfPresent(const std::string& path) {
    if (!std::filesystem::exists(path)) return std::nullopt;
    return ReadHostBytes(path);
}

// Puts the image back as it was; leftovers beside the other names go too.
void Restore(const std::string& path, const std::optional<std::vector<uint8_t>>& bytes,
             const std::vector<std::string>& otherNames = {}) {
    std::filesystem::remove(path);
    for (const std::string& name : otherNames) {
        std::filesystem::remove(name + ".qbjournal");
        std::filesystem::remove(name + ".qbnew");
    }
    std::filesystem::remove(path + ".qbjournal");
    std::filesystem::remove(path + ".qbnew");
    if (bytes) WriteHostBytes(path, *bytes);
}

void PrintTo(const CrashCase& crashCase, std::ostream* out) {
    *out << crashCase.Verb << " on " << crashCase.Container;
    if (crashCase.Via == Naming::Link) *out << " through a link";
    if (crashCase.Via == Naming::SecondLink) *out << " through two links";
}

class QboxCrash : public ::testing::TestWithParam<CrashCase> {
protected:
    // The image the change starts from; empty after GTEST_SKIP.
    void MakeStartingImage() {
        const std::string container = GetParam().Container;
        const std::string verb = GetParam().Verb;
        const bool hard = container == "hdv" || container == "hdv-partitions";
        image = dir / (hard ? "disk.hdv" : "disk.dsk");
        if (verb == "patch-dates") {
            const std::string system = Fixture("jv3-dd40-lsdos631-m4-system-level1H.dsk");
            if (!std::filesystem::exists(system)) GTEST_SKIP() << "LS-DOS 6.3.1 fixture absent";
            ASSERT_EQ(RunQbox({"convert", system, image, "--type", container}).Status, 0);
            return;
        }
        if (verb == "new" && container == "none") {
            image = dir / "fresh.dmk";
            return;
        }
        if (container == "hdv") {
            LDOSTest::WriteLDOSHardDisk(image, 40, 1, {LDOSTest::PartitionLayout{}});
        } else if (container == "hdv-partitions") {
            // Three partitions, one a head; the change goes to the last.
            std::vector<LDOSTest::PartitionLayout> partitions(3);
            for (int head = 0; head < 3; ++head) partitions[static_cast<size_t>(head)].FirstHead = head;
            LDOSTest::WriteLDOSHardDisk(image, 40, 3, partitions);
        } else {
            std::vector<std::string> args = {"new", image, "--name", "START", "--date", "12/09/26"};
            for (const std::string& option : NewDiskOptions(container)) args.push_back(option);
            ASSERT_EQ(RunQbox(args).Status, 0);
        }
        WriteHostBytes(dir / "note.txt", TestSupport::Bytes("A NOTE THAT IS THERE BEFORE THE CHANGE\r"));
        QboxResult put = RunQbox(WithPartition({"put", image, dir / "note.txt"}));
        ASSERT_EQ(put.Status, 0) << put.Err;
    }

    // The arguments, aimed at the last partition of a disk that has several.
    std::vector<std::string> WithPartition(std::vector<std::string> args) const {
        if (std::string(GetParam().Container) == "hdv-partitions") args.insert(args.end(), {"-p", "2"});
        return args;
    }

    // The names the change and the later open use: the image itself, or links to it in
    // folders of their own, so that anything kept beside a name is found only beside it.
    void MakeNames() {
        changedThrough = openedThrough = image;
        if (GetParam().Via == Naming::Direct) return;
        const std::string target = std::filesystem::path(image).filename().string();
        std::filesystem::create_directories(dir / "first");
        changedThrough = dir / "first/link.dsk";
        std::filesystem::create_symlink("../" + target, changedThrough);
        if (GetParam().Via == Naming::SecondLink) {
            std::filesystem::create_directories(dir / "second");
            openedThrough = dir / "second/other.dsk";
            std::filesystem::create_symlink("../" + target, openedThrough);
        }
    }

    std::vector<std::string> ChangeArguments() {
        const std::string verb = GetParam().Verb;
        const std::string container = GetParam().Container;
        const std::string& target = changedThrough;
        if (verb == "put") {
            WriteHostBytes(dir / "crash.txt", LDOSTest::PatternBytes(3000, 7));
            return WithPartition({"put", target, dir / "crash.txt"});
        }
        if (verb == "rm") return {"rm", target, "NOTE/TXT"};
        if (verb == "mv") return {"mv", target, "NOTE/TXT", "MEMO/TXT"};
        if (verb == "attr") return {"attr", target, "NOTE/TXT", "+I"};
        if (verb == "label") return {"label", target, "--name", "CRASHED", "--date", "12/10/26"};
        if (verb == "patch-dates") return {"patch-dates", target};
        std::vector<std::string> args = {"new", target, "--name", "FRESH", "--date", "12/10/26", "--force"};
        for (const std::string& option : NewDiskOptions(container == "none" ? "dmk" : container))
            args.push_back(option);
        return args;
    }

    TempDir dir{CrashFolderBase()};
    std::string image;
    std::string changedThrough;  // the name the change is given
    std::string openedThrough;   // the name the image is opened by after a stop
};

// The plain build stops the change at every write. Under the sanitizers each run of qbox
// costs many times more, so that build stops at every fifth write, which still lands inside
// every phase of a change (journal, image, commit).
#if defined(__SANITIZE_ADDRESS__)
constexpr int CrashPointStep = 5;
#else
constexpr int CrashPointStep = 1;
#endif

TEST_P(QboxCrash, ImageIsBeforeOrAfterWhereverTheProcessStops) {
    MakeStartingImage();
    if (IsSkipped() || HasFatalFailure()) return;
    MakeNames();
    const std::vector<std::string> change = ChangeArguments();
    const std::vector<std::string> names = {changedThrough, openedThrough};
    const std::optional<std::vector<uint8_t>> before = BytesIfPresent(image);

    // The change run to its end on a copy. Rewritten system files carry the time of the
    // change, so a run in a later minute is compared with a fresh reference.
    const std::string reference = image + ".reference";
    auto changedCopy = [&] {
        Restore(reference, before);
        std::vector<std::string> onCopy = change;
        for (std::string& argument : onCopy)
            if (argument == changedThrough) argument = reference;
        QboxResult run = RunQbox(onCopy);
        EXPECT_EQ(run.Status, 0) << run.Err;
        return BytesIfPresent(reference);
    };
    std::optional<std::vector<uint8_t>> after = changedCopy();
    ASSERT_TRUE(after.has_value());
    ASSERT_NE(before, after) << "the change changed nothing";
    auto isAfter = [&](const std::optional<std::vector<uint8_t>>& bytes) {
        if (bytes != after) after = changedCopy();
        return bytes == after;
    };

    std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
    if (const char* options = std::getenv("ASAN_OPTIONS")) asan += std::string(":") + options;
    int stops = 0;
    for (int crashAt = 1;; crashAt += CrashPointStep) {
        ASSERT_LT(crashAt, MaxCrashPoints) << "the change never finished";
        Restore(image, before, names);
        QboxResult run = RunQbox(change, {"LD_PRELOAD=" QB_CRASH_SHIM, "QB_CRASH_AT=" + std::to_string(crashAt), asan});
        if (run.Status != CrashStatus) {
            ASSERT_EQ(run.Status, 0) << run.Err;
            EXPECT_TRUE(isAfter(BytesIfPresent(image))) << "the finished run differs from the change run alone";
            break;
        }
        ++stops;
        // Opening the image for writing, by whichever name, rolls back whatever the stopped
        // run left unfinished.
        bool journalLeft = false;
        for (const std::string& name : {image, changedThrough, openedThrough})
            journalLeft = journalLeft || std::filesystem::exists(name + ".qbjournal");
        if (journalLeft) {
            QboxResult open = RunQbox({"ls", openedThrough, "-a"});
            EXPECT_EQ(open.Status, 0) << "stopped at write " << crashAt << ": " << open.Err;
            for (const std::string& name : {image, changedThrough, openedThrough})
                EXPECT_FALSE(std::filesystem::exists(name + ".qbjournal")) << "stopped at write " << crashAt;
        }
        const std::optional<std::vector<uint8_t>> now = BytesIfPresent(image);
        EXPECT_TRUE(now == before || isAfter(now)) << "stopped at write " << crashAt << ": the image is half changed";
        if (HasFailure()) return;
    }
    EXPECT_GT(stops, 0) << "the preloaded library never stopped qbox";
}

INSTANTIATE_TEST_SUITE_P(
    EveryVerbAndContainer, QboxCrash,
    ::testing::Values(CrashCase{"put", "jv1"}, CrashCase{"put", "jv3"}, CrashCase{"put", "dmk"},
                      CrashCase{"put", "hdv"}, CrashCase{"rm", "jv1"}, CrashCase{"rm", "jv3"},
                      CrashCase{"rm", "dmk"}, CrashCase{"rm", "hdv"}, CrashCase{"mv", "jv1"},
                      CrashCase{"mv", "jv3"}, CrashCase{"mv", "dmk"}, CrashCase{"mv", "hdv"},
                      CrashCase{"attr", "jv1"}, CrashCase{"attr", "jv3"}, CrashCase{"attr", "dmk"},
                      CrashCase{"attr", "hdv"}, CrashCase{"label", "jv1"}, CrashCase{"label", "jv3"},
                      CrashCase{"label", "dmk"}, CrashCase{"label", "hdv"},
                      // new replaces an existing image, or makes one where there was none.
                      CrashCase{"new", "jv1"}, CrashCase{"new", "jv3"}, CrashCase{"new", "dmk"},
                      CrashCase{"new", "none"},
                      // A change to the last partition of a hard disk that has three.
                      CrashCase{"put", "hdv-partitions"},
                      // A double-density system disk: JV1 cannot hold it, and no hard-disk one is at hand.
                      CrashCase{"patch-dates", "jv3"}, CrashCase{"patch-dates", "dmk"},
                      // Every name of one image shares its journal: a change through a link is
                      // rolled back when the image is next opened by its own path or another link.
                      CrashCase{"put", "jv3", Naming::Link}, CrashCase{"rm", "hdv", Naming::Link},
                      CrashCase{"put", "dmk", Naming::SecondLink}, CrashCase{"new", "jv1", Naming::SecondLink}),
    CaseName);

}  // namespace
