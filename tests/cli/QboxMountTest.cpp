// qbox mount through the real kernel interface: host programs working in the mounted
// folder. Skipped, with the reason, where FUSE cannot mount (no /dev/fuse, no fusermount3).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "cli/QboxRunner.h"
#include "common/HardDiskLayouts.h"
#include "common/TempDir.h"

using TestSupport::Bytes;
using TestSupport::QboxResult;
using TestSupport::ReadHostBytes;
using TestSupport::RunQbox;
using TestSupport::TempDir;
using TestSupport::WriteHostBytes;

#ifdef QB_HAVE_FUSE

namespace {

// Runs a shell command with a time limit; its exit status, or -1.
int Shell(const std::string& command) {
    int status = std::system(("timeout 20 sh -c '" + command + "' >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One mounted folder, always unmounted at the end, lazily when a plain unmount is refused.
class Mount {
public:
    Mount(const std::string& image, const std::string& folder, const std::vector<std::string>& extra = {})
        : Folder(folder) {
        std::filesystem::create_directories(folder);
        std::vector<std::string> arguments = {"mount", image, folder};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        Result = RunQbox(arguments, {}, 20);
        Mounted = Result.Status == 0;
    }
    ~Mount() { Unmount(); }
    void Unmount() {
        if (!Mounted) return;
        if (Shell("fusermount3 -u " + Folder) != 0) Shell("fusermount3 -uz " + Folder);
        Mounted = false;
    }
    std::string Folder;
    QboxResult Result;
    bool Mounted = false;
};

std::string WhyFuseCannotWork() {
    if (!std::filesystem::exists("/dev/fuse")) return "/dev/fuse is missing";
    if (Shell("command -v fusermount3") != 0) return "fusermount3 is not installed";
    return {};
}

class QboxMountTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string why = WhyFuseCannotWork(); !why.empty()) GTEST_SKIP() << "FUSE mounts cannot be tested: " << why;
        image = dir / "work.dsk";
        ASSERT_EQ(RunQbox({"new", image, "--type", "jv3", "--dos", "trsdos23", "--name", "WORK"}).Status, 0);
        WriteHostBytes(dir / "hello.bas", Bytes("10 PRINT \"HI\"\r"));
        ASSERT_EQ(RunQbox({"put", image, dir / "hello.bas"}).Status, 0);
        folder = dir / "mnt";
    }
    TempDir dir;
    std::string image, folder;
};

#define MOUNT_OR_SKIP(mount)                                                                  \
    if (!(mount).Mounted) GTEST_SKIP() << "qbox mount could not mount here: " << (mount).Result.Err

}  // namespace

TEST_F(QboxMountTest, HostProgramsListCopyRenameRemoveAndSeeAttributes) {
    std::vector<uint8_t> program(3000);
    for (size_t i = 0; i < program.size(); ++i) program[i] = static_cast<uint8_t>(i * 7);
    WriteHostBytes(dir / "prog.cmd", program);
    {
        Mount mount(image, folder);
        MOUNT_OR_SKIP(mount);
        EXPECT_EQ(ReadHostBytes(folder + "/hello.bas"), Bytes("10 PRINT \"HI\"\r"));
        EXPECT_EQ(std::filesystem::file_size(folder + "/hello.bas"), 14u);
        EXPECT_EQ(Shell("ls -l " + folder + " | grep -q hello.bas"), 0);
        EXPECT_EQ(Shell("df " + folder + " | grep -q " + folder), 0);

        EXPECT_EQ(Shell("cp " + dir / "prog.cmd" + " " + folder + "/prog.cmd"), 0);
        EXPECT_EQ(ReadHostBytes(folder + "/prog.cmd"), program);
        EXPECT_EQ(Shell("cp " + folder + "/prog.cmd " + dir / "back.cmd"), 0);
        EXPECT_EQ(ReadHostBytes(dir / "back.cmd"), program);

        EXPECT_EQ(Shell("getfattr -n user.quarrybox.name --only-values " + folder + "/prog.cmd | grep -qx PROG/CMD"), 0);
        EXPECT_EQ(Shell("setfattr -n user.quarrybox.attributes -v I " + folder + "/prog.cmd"), 0);
        EXPECT_EQ(Shell("getfattr -n user.quarrybox.attributes --only-values " + folder + "/prog.cmd | grep -qx I"), 0);
        EXPECT_NE(Shell("setfattr -n user.quarrybox.attributes -v Q " + folder + "/prog.cmd"), 0);

        EXPECT_EQ(Shell("mv " + folder + "/prog.cmd " + folder + "/game.cmd"), 0);
        EXPECT_EQ(Shell("rm " + folder + "/hello.bas"), 0);
    }
    QboxResult listed = RunQbox({"ls", image, "-a"});
    EXPECT_EQ(listed.Out.find("HELLO/BAS"), std::string::npos) << listed.Out;
    EXPECT_NE(listed.Out.find("GAME/CMD"), std::string::npos) << listed.Out;
    EXPECT_EQ(RunQbox({"cat", image, "GAME/CMD"}).Out, std::string(program.begin(), program.end()));
}

// While a writer has the file open, another reader sees the file as the disk holds it;
// once the writer closes, everyone sees the new bytes.
TEST_F(QboxMountTest, SecondReaderSeesTheStoredFileUntilTheWriterCloses) {
    Mount mount(image, folder);
    MOUNT_OR_SKIP(mount);
    const std::string path = folder + "/hello.bas";
    const int writer = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(writer, 0) << std::strerror(errno);
    EXPECT_EQ(::write(writer, "NEW", 3), 3);
    EXPECT_EQ(ReadHostBytes(path), Bytes("10 PRINT \"HI\"\r"));
    EXPECT_EQ(::close(writer), 0);
    EXPECT_EQ(ReadHostBytes(path), Bytes("NEW"));
}

// A copy that does not fit fails at its close and leaves the image as it was; a second
// reader meanwhile sees the file as the disk holds it.
TEST_F(QboxMountTest, DiskFullCopyFailsAndLeavesTheImageUnchanged) {
    const std::vector<uint8_t> before = ReadHostBytes(image);
    // More than the new disk has free, less than its whole size: refused at the close.
    WriteHostBytes(dir / "big.bin", std::vector<uint8_t>(86 * 1024, 0x5A));
    {
        Mount mount(image, folder);
        MOUNT_OR_SKIP(mount);
        EXPECT_NE(Shell("cp " + dir / "big.bin" + " " + folder + "/big.bin"), 0);
        EXPECT_FALSE(std::filesystem::exists(folder + "/big.bin"));
        EXPECT_EQ(ReadHostBytes(folder + "/hello.bas"), Bytes("10 PRINT \"HI\"\r"));
    }
    EXPECT_EQ(ReadHostBytes(image), before);
}

TEST_F(QboxMountTest, WriteProtectedImageAndReadOnlyMountRefuseChanges) {
    for (const bool protectImage : {true, false}) {
        if (protectImage) {
            ASSERT_EQ(RunQbox({"protect", image, "on"}).Status, 0);
        }
        const std::vector<uint8_t> before = ReadHostBytes(image);
        {
            Mount mount(image, folder, protectImage ? std::vector<std::string>{} : std::vector<std::string>{"--read-only"});
            MOUNT_OR_SKIP(mount);
            EXPECT_EQ(ReadHostBytes(folder + "/hello.bas"), Bytes("10 PRINT \"HI\"\r"));
            EXPECT_NE(Shell("cp " + image + " " + folder + "/new.dsk"), 0);
            EXPECT_NE(Shell("rm " + folder + "/hello.bas"), 0);
            EXPECT_EQ(Shell("touch " + folder + "/x.txt 2>&1 | grep -q Read-only"), 0);
        }
        EXPECT_EQ(ReadHostBytes(image), before);
        if (protectImage) {
            ASSERT_EQ(RunQbox({"protect", image, "off"}).Status, 0);
        }
    }
}

// A DOS Quarrybox only reads mounts read-only; its files still read as qbox cat gives them.
TEST_F(QboxMountTest, ReadOnlyDosMountsReadOnly) {
    const std::filesystem::path fixture = std::filesystem::path(QB_FIXTURES_DIR) / "peer/rsdos-1.jv3";
    if (!std::filesystem::exists(fixture)) GTEST_SKIP() << "fixture missing: " << fixture;
    const std::string rsdos = dir / "rsdos.jv3";
    std::filesystem::copy_file(fixture, rsdos);
    const std::vector<uint8_t> before = ReadHostBytes(rsdos);
    const std::string copies = dir / "copies";
    {
        Mount mount(rsdos, folder);
        MOUNT_OR_SKIP(mount);
        EXPECT_NE(mount.Result.Err.find("mounted read-only"), std::string::npos) << mount.Result.Err;
        EXPECT_EQ(Shell("touch " + folder + "/new.bas 2>&1 | grep -q Read-only"), 0);
        EXPECT_EQ(Shell("cp -r " + folder + " " + copies), 0);
    }
    // Compared once unmounted: qbox waits a while for a disk another process holds.
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(copies)) {
        const std::string name = entry.path().filename();
        const std::string expected = RunQbox({"cat", rsdos, name}).Out;
        EXPECT_EQ(ReadHostBytes(entry.path()), std::vector<uint8_t>(expected.begin(), expected.end())) << name;
        ++compared;
    }
    EXPECT_GT(compared, 0);
    EXPECT_EQ(ReadHostBytes(rsdos), before);
}

// -p mounts one partition of a hard disk; a file copied in lands in that partition.
TEST_F(QboxMountTest, HardDiskPartitionWithP) {
    const std::string hard = HardDiskTest::BuildLDOSDividedByHeads(dir / "ldos.hdv").Path;
    {
        Mount mount(hard, folder, {"-p", "3"});
        MOUNT_OR_SKIP(mount);
        EXPECT_TRUE(std::filesystem::exists(folder + "/notes.txt"));
        EXPECT_EQ(Shell("cp " + dir / "hello.bas" + " " + folder + "/hello.bas"), 0);
    }
    EXPECT_NE(RunQbox({"ls", hard, "-p", "3"}).Out.find("HELLO/BAS"), std::string::npos);
    EXPECT_EQ(RunQbox({"ls", hard, "-p", "0"}).Out.find("HELLO/BAS"), std::string::npos);
}

// Whether folder is a mount point now (as /proc/mounts lists it).
bool IsMounted(const std::string& folder) {
    return Shell("grep -q \" " + folder + " fuse\" /proc/mounts") == 0;
}

// The mount process killed while a large file is being copied in: nothing was stored
// (the bytes are stored at close), and the image opens as it was before or, had the copy
// closed first, with the whole file.
TEST_F(QboxMountTest, KilledMountLeavesTheImageBeforeOrAfterTheCopy) {
    std::filesystem::create_directories(folder);
    const pid_t server = ::fork();
    ASSERT_GE(server, 0);
    if (server == 0) {
        ::execl(QBOX_PATH, QBOX_PATH, "mount", image.c_str(), folder.c_str(), "-f", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int tries = 0; tries < 100 && !IsMounted(folder); ++tries) ::usleep(100 * 1000);
    const bool mounted = IsMounted(folder);
    if (mounted) Shell("(dd if=/dev/zero of=" + folder + "/big.bin bs=512 count=60 &) ; sleep 0.2");
    ::kill(server, SIGKILL);
    ::waitpid(server, nullptr, 0);
    if (Shell("fusermount3 -u " + folder) != 0) Shell("fusermount3 -uz " + folder);
    if (!mounted) GTEST_SKIP() << "qbox mount could not mount here";

    // A writable open rolls back a change the kill cut short; what remains is the disk
    // before or after each stored change: the copy's file absent, or whole as far as it got.
    WriteHostBytes(dir / "tiny.txt", Bytes("x"));
    ASSERT_EQ(RunQbox({"put", image, dir / "tiny.txt"}).Status, 0);
    EXPECT_FALSE(std::filesystem::exists(image + ".qbjournal"));
    QboxResult listed = RunQbox({"ls", image});
    EXPECT_EQ(listed.Status, 0) << listed.Err;
    EXPECT_NE(listed.Out.find("HELLO/BAS"), std::string::npos);
    EXPECT_EQ(RunQbox({"cat", image, "HELLO/BAS"}).Out, "10 PRINT \"HI\"\r");
    if (listed.Out.find("BIG/BIN") != std::string::npos) {
        const std::string copied = RunQbox({"cat", image, "BIG/BIN"}).Out;
        EXPECT_EQ(copied.size() % 512, 0u);
        EXPECT_EQ(copied.find_first_not_of('\0'), std::string::npos);
    }
}

#else

TEST(QboxMountTest, NotBuilt) { GTEST_SKIP() << "qbox was built without libfuse 3: no mount verb to test"; }

#endif
