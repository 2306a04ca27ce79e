// qbox against an unlucky or hostile host: refused changes that must not write, outputs
// that must never be written through, leftovers, a full file system, a locked image,
// names that would drive the terminal, and messages that say what really happened.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "cli/QboxRunner.h"
#include "common/TempDir.h"

using TestSupport::Bytes;
using TestSupport::QboxResult;
using TestSupport::ReadHostBytes;
using TestSupport::RunQbox;
using TestSupport::TempDir;
using TestSupport::WriteHostBytes;

namespace {

namespace fs = std::filesystem;

// Where JV3 keeps its write-protect byte: after the 2901 three-byte sector headers.
constexpr size_t JV3ProtectByte = 0x21FF;
// Generous: a qbox that blocks on a pipe would otherwise hang the test run.
constexpr int NoHangSeconds = 20;

::testing::AssertionResult Succeeded(const QboxResult& result) {
    if (result.Status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit " << result.Status << ", stderr: " << result.Err;
}

using TestSupport::Contains;
using TestSupport::Lines;

// A process id that no process has: a child that has been waited for.
pid_t DeadProcessId() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

std::vector<std::string> WithShim(const std::string& settings) {
    return {"LD_PRELOAD=" QB_CRASH_SHIM, settings, "ASAN_OPTIONS=verify_asan_link_order=0"};
}

// A small LDOS disk in the named container holding NOTE/TXT, and a host file.
class QboxHostTest : public ::testing::Test {
protected:
    std::string MakeDisk(const std::string& name, const std::string& type) {
        const std::string path = dir / name;
        EXPECT_TRUE(Succeeded(RunQbox({"new", path, "--type", type, "--dos", "ldos", "--tracks", "35", "--sides", "1",
                                       "--density", "single", "--name", "SAFE", "--date", "01/02/83"})));
        WriteHostBytes(dir / "note.txt", Bytes("A NOTE\r"));
        EXPECT_TRUE(Succeeded(RunQbox({"put", path, dir / "note.txt"})));
        return path;
    }

    TempDir dir;
};

}  // namespace

// Each refused verb leaves every byte of the image as it was, the JV3 write-protect byte
// included when it holds neither of the values JV3 names.
TEST_F(QboxHostTest, RefusedChangesLeaveEveryByte) {
    std::vector<std::string> images = {MakeDisk("a.jv1", "jv1"), MakeDisk("b.jv3", "jv3"), MakeDisk("c.dmk", "dmk")};
    std::vector<uint8_t> odd = ReadHostBytes(images[1]);
    ASSERT_GT(odd.size(), JV3ProtectByte);
    odd[JV3ProtectByte] = 0x42;
    const std::string oddJV3 = dir / "odd.jv3";
    WriteHostBytes(oddJV3, odd);
    images.push_back(oddJV3);
    WriteHostBytes(dir / "big.bin", std::vector<uint8_t>(400 * 1024, 0x5A));

    const std::vector<std::vector<std::string>> refusals = {
        {"rm", "NOPE/XXX"},
        {"mv", "NOPE/XXX", "NEW/TXT"},
        {"mv", "NOTE/TXT", "NOTE/TXT"},
        {"attr", "NOPE/XXX", "+I"},
        {"put", dir / "big.bin"},
        {"put", dir / "note.txt"},  // exists, and no --force
        {"put", dir / "note.txt", "--as", "BAD NAME!"},
        {"put", dir / "no-such-host-file"},
    };
    for (const std::string& image : images) {
        const std::vector<uint8_t> before = ReadHostBytes(image);
        for (const std::vector<std::string>& refusal : refusals) {
            std::vector<std::string> args = {refusal[0], image};
            args.insert(args.end(), refusal.begin() + 1, refusal.end());
            QboxResult run = RunQbox(args);
            EXPECT_EQ(run.Status, 1) << image << " " << refusal[0] << ": " << run.Err;
            EXPECT_TRUE(ReadHostBytes(image) == before) << image << ": " << refusal[0] << " " << refusal[1]
                                                        << " changed the image";
        }
    }
    EXPECT_EQ(ReadHostBytes(oddJV3)[JV3ProtectByte], 0x42);
    EXPECT_EQ(RunQbox({"protect", oddJV3}).Out, "off\n");
}

// A symbolic link, a hard link or a pipe planted under an output's name is never written
// through or opened, -f or not; the refusal names what stands there.
TEST_F(QboxHostTest, OutputsAreNeverWrittenThroughWhatStandsAtTheirNames) {
    const std::string image = MakeDisk("disk.jv3", "jv3");
    TempDir outside;
    const std::string victim = outside / "victim";
    WriteHostBytes(victim, Bytes("KEEP"));
    const std::string out = dir / "out";
    fs::create_directory(out);

    struct Plant {
        const char* Kind;
        std::function<void(const std::string&)> Make;
        const char* Message;  // after the path
    };
    const std::vector<Plant> plants = {
        {"symbolic link", [&](const std::string& at) { fs::create_symlink(victim, at); },
         "; nothing is written through it"},
        {"hard link", [&](const std::string& at) { fs::create_hard_link(victim, at); }, nullptr},
        {"pipe", [&](const std::string& at) { ASSERT_EQ(::mkfifo(at.c_str(), 0600), 0); },
         "; nothing is written to it"},
    };
    for (const Plant& plant : plants) {
        SCOPED_TRACE(plant.Kind);
        struct Output {
            std::string Path;
            std::vector<std::string> Args;
        };
        fs::remove_all(dir / "export");
        fs::create_directory(dir / "export");
        const std::vector<Output> outputs = {
            {out + "/note.txt", {"get", image, "NOTE/TXT", "-d", out, "-f"}},
            {dir / "export/manifest.json", {"export", image, "-d", dir / "export", "-f"}},
            {dir / "view.txt", {"view", image, "NOTE/TXT", "-o", dir / "view.txt"}},
            {dir / "copy.dmk", {"convert", image, dir / "copy.dmk", "--type", "dmk", "-f"}},
        };
        for (const Output& output : outputs) {
            plant.Make(output.Path);
            QboxResult run = RunQbox(output.Args, {}, NoHangSeconds);
            EXPECT_EQ(ReadHostBytes(victim), Bytes("KEEP")) << output.Args[0];
            if (plant.Message != nullptr) {
                EXPECT_EQ(run.Status, 1) << output.Args[0];
                EXPECT_TRUE(Contains(run.Err, output.Path + plant.Message)) << output.Args[0] << ": " << run.Err;
            } else {
                // A hard link is a regular file: -f replaces the name, the other name keeps its bytes.
                EXPECT_TRUE(Succeeded(run)) << output.Args[0];
                EXPECT_EQ(fs::hard_link_count(victim), 1u) << output.Args[0];
            }
            fs::remove(output.Path);
        }
    }
    // A folder export makes is not entered through a link either.
    fs::create_symlink(outside.str(), dir / "export/partition0");
    QboxResult linked = RunQbox({"export", image, "-d", dir / "export", "-f"});
    EXPECT_EQ(linked.Status, 1);
    EXPECT_TRUE(Contains(linked.Err, "a symbolic link stands at " + dir / "export/partition0")) << linked.Err;
    EXPECT_EQ(outside.Names(), std::vector<std::string>{"victim"});
}

// Temporaries of killed runs are recognised by name, owner and a process that is gone,
// and cleared at the next run on the same folder; one whose process lives stays.
TEST_F(QboxHostTest, StaleTemporariesOfKilledRunsAreCleared) {
    const std::string image = MakeDisk("disk.jv3", "jv3");
    const std::string dead = std::to_string(DeadProcessId());
    const std::string live = std::to_string(::getpid());
    for (const std::string& name : {".copy.dmk.qbpart-" + dead, ".copy.dmk.converting-" + dead,
                                    ".note.txt.qbpart-" + dead, ".copy.dmk.qbpart-" + live, "note.qbpart-" + dead})
        WriteHostBytes(dir / name, std::vector<uint8_t>(1000, 1));
    ASSERT_TRUE(Succeeded(RunQbox({"convert", image, dir / "copy.dmk", "--type", "dmk"})));
    std::vector<std::string> names = dir.Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".copy.dmk.qbpart-" + live, "copy.dmk", "disk.jv3", "note.qbpart-" + dead,
                                               "note.txt"}));
}

// On a full file system nothing keeps a final name half written, the image is as it was,
// and the message is the host's own.
TEST_F(QboxHostTest, AFullFileSystemLeavesNothingHalfWritten) {
    const std::string image = MakeDisk("disk.jv3", "jv3");
    const std::vector<uint8_t> before = ReadHostBytes(image);
    WriteHostBytes(dir / "more.txt", std::vector<uint8_t>(3000, 'M'));
    const std::string full = "No space left on device";
    struct Row {
        std::vector<std::string> Args;
        std::string Left;  // a name that must not exist afterwards
        std::vector<int> FullFrom;  // the writes from which the file system is full
    };
    // A file written in one go fails at its first write; changes of many writes fail early and late.
    const std::vector<Row> rows = {
        {{"put", image, dir / "more.txt"}, "", {1, 3}},
        {{"new", dir / "new.dmk"}, dir / "new.dmk", {1, 3, 20}},
        {{"convert", image, dir / "copy.dmk", "--type", "dmk"}, dir / "copy.dmk", {1, 3, 20}},
        {{"export", image, "-d", dir / "export"}, dir / "export/manifest.json", {1, 3}},
        {{"view", image, "NOTE/TXT", "-o", dir / "view.txt"}, dir / "view.txt", {1}},
        {{"get", image, "NOTE/TXT", "-d", dir / "export"}, dir / "export/note.txt", {1}},
    };
    for (const Row& row : rows) {
        for (int at : row.FullFrom) {
            QboxResult run = RunQbox(row.Args, WithShim("QB_NO_SPACE_AT=" + std::to_string(at)));
            EXPECT_EQ(run.Status, 1) << row.Args[0] << " at " << at;
            EXPECT_TRUE(Contains(run.Err, full)) << row.Args[0] << ": " << run.Err;
            if (!row.Left.empty()) {
                EXPECT_FALSE(fs::exists(row.Left)) << row.Left;
            }
            EXPECT_TRUE(ReadHostBytes(image) == before) << row.Args[0] << " at " << at;
            for (const std::string& name : dir.Names())
                EXPECT_EQ(name.find("qbpart"), std::string::npos) << name;
            EXPECT_FALSE(fs::exists(dir / "new.dmk.qbnew"));
            EXPECT_FALSE(fs::exists(image + ".qbjournal"));
        }
    }
}

TEST_F(QboxHostTest, ConversionThatWouldCopyNothingIsRefused) {
    const std::string empty = dir / "empty.jv3";
    WriteHostBytes(empty, std::vector<uint8_t>(8704, 0xFF));  // every sector header free
    QboxResult run = RunQbox({"convert", empty, dir / "copy.dmk", "--type", "dmk"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "qbox: " + empty + ": Cannot convert to DMK: " + empty + " holds no readable sector to copy\n");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"empty.jv3"});
}

// A hard disk with no file system qbox knows: every verb names the one problem alike.
TEST_F(QboxHostTest, OneProblemOneMessage) {
    const std::string hard = dir / "blank.hdv";
    std::vector<uint8_t> header(9 + 2 * 32 * 256, 0);
    header[0] = 'H', header[1] = 'D', header[2] = 'V', header[3] = 0x1A, header[4] = 9, header[5] = 2;
    WriteHostBytes(hard, header);
    QboxResult info = RunQbox({"info", hard});
    EXPECT_EQ(info.Err, "qbox: " + hard + ": Unrecognized disk format\n");
    QboxResult check = RunQbox({"check", hard});
    EXPECT_TRUE(Contains(check.Out, "error: Unrecognized disk format")) << check.Out << check.Err;
    EXPECT_FALSE(Contains(check.Err + check.Out, "Not a recognized virtual disk file"));
    QboxResult convert = RunQbox({"convert", hard, dir / "copy.dmk", "--type", "dmk"});
    EXPECT_EQ(convert.Err, "qbox: " + hard + ": Cannot convert to DMK: " + hard +
                               " is a hard-disk image (HDV2); only floppy images can be converted\n");
}

TEST_F(QboxHostTest, HostConditionsAreNamed) {
    const std::string image = MakeDisk("disk.jv3", "jv3");
    const std::string prefix = "qbox: " + image + ": The disk image cannot be written to because ";
    {
        // Another program holds the image's lock for longer than qbox waits.
        int held = ::open(image.c_str(), O_RDWR);
        ASSERT_GE(held, 0);
        ASSERT_EQ(::flock(held, LOCK_EX), 0);
        QboxResult run = RunQbox({"rm", image, "NOTE/TXT"});
        ::close(held);
        EXPECT_EQ(run.Err, prefix + "it is in use by another program (it holds the image's lock).\n");
    }
    {
        fs::create_directory(image + ".qbjournal");
        QboxResult run = RunQbox({"ls", image});
        EXPECT_EQ(run.Err, "qbox: " + image + ": not a disk image: a folder stands at " +
                               fs::canonical(image).string() + ".qbjournal\n");
        fs::remove(image + ".qbjournal");
    }
    // A folder this user cannot write: run as an ordinary user when the tests run as root.
    std::vector<std::string> asUser;
    if (::geteuid() == 0) {
        if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "no setpriv to run qbox as an ordinary user";
        asUser = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        fs::permissions(dir.str(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                       fs::perms::others_read | fs::perms::others_exec);
        fs::permissions(image, fs::perms::all);  // the file itself may be written
    } else {
        fs::permissions(dir.str(), fs::perms::owner_read | fs::perms::owner_exec);
    }
    QboxResult run = RunQbox({"rm", image, "NOTE/TXT"}, {}, 0, asUser);
    fs::permissions(dir.str(), fs::perms::owner_all);
    EXPECT_EQ(run.Err, prefix + "the folder holding the image is read-only (its journal cannot be made there).\n");
}

// Names from a disk never reach the terminal raw, and catalog's records stay whole.
TEST_F(QboxHostTest, DiskNamesArePrintedSafely) {
    const std::string image = MakeDisk("disk.jv3", "jv3");
    WriteHostBytes(dir / "x.txt", Bytes("X"));
    ASSERT_TRUE(Succeeded(RunQbox({"put", image, dir / "x.txt", "--as", "QZQZQZQZ/QZQ"})));
    // JV3 keeps sector data as it is: the directory name is changed in place.
    std::vector<uint8_t> bytes = ReadHostBytes(image);
    const std::string hostile = "\x1b]0;\a\t\n\\";  // eight bytes: the name field
    const std::string stored = "QZQZQZQZ";
    auto at = std::search(bytes.begin(), bytes.end(), stored.begin(), stored.end());
    ASSERT_NE(at, bytes.end());
    std::copy(hostile.begin(), hostile.end(), at);
    WriteHostBytes(image, bytes);

    QboxResult list = RunQbox({"ls", image});
    ASSERT_TRUE(Succeeded(list)) << list.Err;
    EXPECT_TRUE(Contains(list.Out, "\\033]0;\\007\\t\\n\\/QZQ\n")) << list.Out;
    EXPECT_EQ(list.Out.find('\x1b'), std::string::npos);

    QboxResult missing = RunQbox({"rm", image, "GONE\x1b[2J"});
    EXPECT_EQ(missing.Err, "qbox: " + image + ": GONE\\033[2J: no such file\n");

    QboxResult catalog = RunQbox({"catalog", dir.str()});
    for (const std::string& line : Lines(catalog.Out))
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 5) << line;
    EXPECT_TRUE(Contains(catalog.Out, "\t\\033]0;\\007\\t\\n\\\\/QZQ\t")) << catalog.Out;
}

TEST_F(QboxHostTest, CatalogSearchesBoundedDepth) {
    MakeDisk("top.jv3", "jv3");
    std::string deep = dir.str();
    for (int level = 0; level < 300; ++level) deep += "/d";
    fs::create_directories(deep);
    fs::copy_file(dir / "top.jv3", deep + "/deep.jv3");
    QboxResult run = RunQbox({"catalog", dir.str()});
    EXPECT_EQ(run.Status, 1);
    std::string cut = dir.str();
    for (int level = 0; level < 257; ++level) cut += "/d";
    EXPECT_EQ(run.Err, "qbox: " + cut + ": not searched: folders are searched 256 levels deep at most\n");
    EXPECT_TRUE(Contains(run.Out, dir / "top.jv3\t")) << run.Out;
    EXPECT_FALSE(Contains(run.Out, "deep.jv3"));
}
