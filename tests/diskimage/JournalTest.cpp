// The rollback journal and the host-file rules around it. A crash is modelled by copying
// the image and its journal while a change is under way, as a power cut would leave them.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "ImageTestSupport.h"
#include "diskimage/DiskImage.h"
#include "diskimage/HostFile.h"
#include "diskimage/Journal.h"

using namespace DiskImage;
using ImageTest::ReadAll;
using ImageTest::ScratchDir;
using ImageTest::WriteAll;

namespace {

std::vector<uint8_t> Pattern(size_t size, uint8_t salt) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + salt);
    return bytes;
}

THostFile OpenForWriting(const std::string& path) {
    THostFile file;
    bool readOnly = true;
    EXPECT_EQ(file.OpenExisting(path, readOnly), 0);
    EXPECT_FALSE(readOnly);
    return file;
}

// What a crash at this moment leaves: the image and its journal as they are on disk now.
void CopyAsCrashed(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to);
    if (std::filesystem::exists(TJournal::PathFor(from)))
        std::filesystem::copy_file(TJournal::PathFor(from), TJournal::PathFor(to));
}

}  // namespace

TEST(Journal, OpeningForWritingRollsBackAnUnfinishedChange) {
    ScratchDir dir;
    const std::string path = dir.File("disk.dsk");
    const std::vector<uint8_t> original = Pattern(5000, 1);
    WriteAll(path, original);
    {
        THostFile file = OpenForWriting(path);
        // Overlapping writes, a write past the end, and a cut below the original length.
        ASSERT_TRUE(file.WriteAt(100, Pattern(300, 9).data(), 300));
        ASSERT_TRUE(file.WriteAt(250, Pattern(300, 8).data(), 300));
        ASSERT_TRUE(file.WriteAt(4900, Pattern(600, 7).data(), 600));
        ASSERT_TRUE(file.Truncate(3000));
        ASSERT_TRUE(file.WriteAt(3500, Pattern(10, 6).data(), 10));
        CopyAsCrashed(path, dir.File("crashed.dsk"));
        file.DiscardOnClose();
    }
    // Undone in the process, and after a crash by the next open for writing.
    EXPECT_EQ(ReadAll(path), original);
    EXPECT_FALSE(std::filesystem::exists(TJournal::PathFor(path)));
    {
        THostFile reopened = OpenForWriting(dir.File("crashed.dsk"));
    }
    EXPECT_EQ(ReadAll(dir.File("crashed.dsk")), original);
    EXPECT_FALSE(std::filesystem::exists(TJournal::PathFor(dir.File("crashed.dsk"))));
}

TEST(Journal, CommitKeepsTheChangeAndSavesEachRangeOnce) {
    ScratchDir dir;
    const std::string path = dir.File("disk.dsk");
    WriteAll(path, Pattern(4096, 1));
    THostFile file = OpenForWriting(path);
    const std::vector<uint8_t> sector = Pattern(256, 5);
    ASSERT_TRUE(file.WriteAt(512, sector.data(), sector.size()));
    const auto journalSize = std::filesystem::file_size(TJournal::PathFor(path));
    ASSERT_TRUE(file.WriteAt(512, sector.data(), sector.size()));
    ASSERT_TRUE(file.WriteAt(600, sector.data(), 100));
    EXPECT_EQ(std::filesystem::file_size(TJournal::PathFor(path)), journalSize) << "a saved range was saved again";
    ASSERT_TRUE(file.Commit());
    EXPECT_FALSE(std::filesystem::exists(TJournal::PathFor(path)));
    file.DiscardOnClose();  // nothing is pending after the commit, so nothing is undone
    file.Close();
    std::vector<uint8_t> expected = Pattern(4096, 1);
    std::copy(sector.begin(), sector.end(), expected.begin() + 512);
    std::copy(sector.begin(), sector.begin() + 100, expected.begin() + 600);
    EXPECT_EQ(ReadAll(path), expected);
}

TEST(Journal, OnlyWholeRecordsCount) {
    ScratchDir dir;
    const std::string path = dir.File("disk.dsk");
    const std::vector<uint8_t> original = Pattern(2048, 3);
    WriteAll(path, original);
    std::vector<uint8_t> journalAfterSecondRecord;
    {
        THostFile file = OpenForWriting(path);
        ASSERT_TRUE(file.WriteAt(0, Pattern(200, 4).data(), 200));
        CopyAsCrashed(path, dir.File("first.dsk"));  // one whole record, its range overwritten
        ASSERT_TRUE(file.WriteAt(1000, Pattern(200, 5).data(), 200));
        journalAfterSecondRecord = ReadAll(TJournal::PathFor(path));
        file.DiscardOnClose();
    }
    const size_t firstEnd = std::filesystem::file_size(TJournal::PathFor(dir.File("first.dsk")));
    // The second record cut anywhere, or damaged: its range was not yet overwritten, so the
    // first record alone restores the image.
    std::vector<std::vector<uint8_t>> torn;
    for (size_t cut = firstEnd; cut < journalAfterSecondRecord.size(); cut += 37)
        torn.emplace_back(journalAfterSecondRecord.begin(), journalAfterSecondRecord.begin() + cut);
    torn.push_back(journalAfterSecondRecord);
    torn.back().back() ^= 1;  // whole length, but its checksum does not match
    for (const std::vector<uint8_t>& journal : torn) {
        const std::string crashed = dir.File("torn.dsk");
        WriteAll(crashed, ReadAll(dir.File("first.dsk")));
        WriteAll(TJournal::PathFor(crashed), journal);
        { THostFile reopened = OpenForWriting(crashed); }
        EXPECT_EQ(ReadAll(crashed), original) << "journal of " << journal.size() << " bytes";
    }
    // A header cut short: the change had not touched the image yet.
    const std::string early = dir.File("early.dsk");
    WriteAll(early, original);
    WriteAll(TJournal::PathFor(early),
             std::vector<uint8_t>(journalAfterSecondRecord.begin(), journalAfterSecondRecord.begin() + 11));
    { THostFile reopened = OpenForWriting(early); }
    EXPECT_EQ(ReadAll(early), original);
    EXPECT_FALSE(std::filesystem::exists(TJournal::PathFor(early)));
}

TEST(Journal, ReadingOnlyNeverWritesAndNamesTheUnfinishedChange) {
    ScratchDir dir;
    const std::string path = dir.File("disk.dmk");
    std::vector<uint8_t> dmk(16, 0);
    dmk[3] = 0x19;
    WriteAll(path, dmk);
    {
        THostFile file = OpenForWriting(path);
        ASSERT_TRUE(file.WriteAt(0, Pattern(8, 1).data(), 8));
        CopyAsCrashed(path, dir.File("crashed.dmk"));
        file.DiscardOnClose();
    }
    const std::string crashed = dir.File("crashed.dmk");
    const std::vector<uint8_t> left = ReadAll(crashed);
    try {
        OpenFloppyImage(crashed, true);
        FAIL() << "opened a half-changed image for reading";
    } catch (const TDiskImage::EFileError& error) {
        EXPECT_NE(std::string(error.what()).find("unfinished change"), std::string::npos) << error.what();
    }
    EXPECT_EQ(ReadAll(crashed), left);
    EXPECT_TRUE(std::filesystem::exists(TJournal::PathFor(crashed)));
    // Opened for writing, it rolls back and opens.
    EXPECT_EQ(OpenFloppyImage(crashed)->GetFormatName(), "DMK");
    EXPECT_EQ(ReadAll(crashed), dmk);
}

TEST(Journal, NewFileTakesItsNameOnlyWhenCommitted) {
    ScratchDir dir;
    const std::string path = dir.File("new.dsk");
    const std::vector<uint8_t> old = Pattern(100, 2);
    for (bool existed : {false, true}) {
        std::filesystem::remove(path);
        if (existed) WriteAll(path, old);
        for (bool commit : {false, true}) {
            {
                THostFile file;
                ASSERT_EQ(file.Create(path), 0);
                ASSERT_TRUE(file.WriteAt(0, Pattern(3000, 4).data(), 3000));
                EXPECT_EQ(std::filesystem::exists(path), existed);
                if (existed) {
                    EXPECT_EQ(ReadAll(path), old);
                }
                if (commit) {
                    ASSERT_TRUE(file.Commit());
                }
                file.DiscardOnClose();
            }
            EXPECT_FALSE(std::filesystem::exists(path + ".qbnew"));
            if (commit)
                EXPECT_EQ(ReadAll(path), Pattern(3000, 4));
            else if (existed)
                EXPECT_EQ(ReadAll(path), old);
            else
                EXPECT_FALSE(std::filesystem::exists(path));
            if (commit && existed) WriteAll(path, old);
            if (commit && !existed) std::filesystem::remove(path);
        }
    }
}

TEST(Journal, HostConditionsGetTheirOwnMessages) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.Path / "folder.dsk");
    ASSERT_EQ(::mkfifo(dir.File("pipe.dsk").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/null", dir.Path / "device.dsk");
    struct Row {
        const char* Name;
        const char* Message;
    };
    const Row rows[] = {{"folder.dsk", "this is a folder, not a disk image file"},
                        {"pipe.dsk", "this is a named pipe (FIFO), not a disk image file"},
                        {"device.dsk", "this is a device, not a disk image file"}};
    for (const Row& row : rows) {
        for (bool readOnly : {false, true}) {
            try {
                OpenFloppyImage(dir.File(row.Name), readOnly);
                ADD_FAILURE() << row.Name << " opened";
            } catch (const TDiskImage::EFileError& error) {
                EXPECT_STREQ(error.what(), row.Message);
            }
        }
        try {
            CreateFloppyImage(dir.File(row.Name), ImageJV1);
            ADD_FAILURE() << row.Name << " was replaced";
        } catch (const TDiskImage::EFileError& error) {
            EXPECT_STREQ(error.what(), row.Message);
        }
    }
    EXPECT_TRUE(std::filesystem::is_symlink(dir.Path / "device.dsk"));
    if (::geteuid() != 0) {
        WriteAll(dir.File("secret.dsk"), Pattern(2560, 0));
        ::chmod(dir.File("secret.dsk").c_str(), 0200);
        try {
            OpenFloppyImage(dir.File("secret.dsk"));
            ADD_FAILURE() << "an unreadable file opened";
        } catch (const TDiskImage::EFileError& error) {
            EXPECT_STREQ(error.what(), "no permission to read this file");
        }
    }
}

TEST(Journal, EveryNameOfAnImageSharesTheJournalOfItsRealFile) {
    ScratchDir dir;
    const std::string real = dir.File("disks/disk.dsk");
    std::filesystem::create_directories(dir.Path / "disks");
    std::filesystem::create_directories(dir.Path / "links");
    const std::vector<uint8_t> original = Pattern(4000, 3);
    WriteAll(real, original);
    // A link to the file, and a link to its folder.
    std::filesystem::create_symlink("../disks/disk.dsk", dir.Path / "links" / "file.dsk");
    std::filesystem::create_symlink("disks", dir.Path / "folder");
    for (const std::string& name : {dir.File("links/file.dsk"), dir.File("folder/disk.dsk")}) {
        {
            THostFile file = OpenForWriting(name);
            ASSERT_TRUE(file.WriteAt(10, Pattern(100, 9).data(), 100));
            EXPECT_TRUE(std::filesystem::exists(TJournal::PathFor(real))) << name;
            EXPECT_FALSE(std::filesystem::exists(TJournal::PathFor(dir.File("links/file.dsk"))));
            CopyAsCrashed(real, dir.File("crashed.dsk"));
            file.DiscardOnClose();
        }
        EXPECT_EQ(ReadAll(real), original) << name;
        EXPECT_FALSE(std::filesystem::exists(TJournal::PathFor(real))) << name;
        std::filesystem::remove(dir.File("crashed.dsk"));
        std::filesystem::remove(TJournal::PathFor(dir.File("crashed.dsk")));
    }
    EXPECT_EQ(std::filesystem::read_symlink(dir.Path / "links" / "file.dsk"), "../disks/disk.dsk");
}

TEST(Journal, ALockedImageOpensForReadingAndSaysWhy) {
    ScratchDir dir;
    const std::string path = dir.File("disk.dsk");
    WriteAll(path, Pattern(2560, 0));
    THostFile writer = OpenForWriting(path);
    THostFile second;
    bool readOnly = false;
    ASSERT_EQ(second.OpenExisting(path, readOnly), 0);
    EXPECT_TRUE(readOnly);
    EXPECT_EQ(second.ReadOnlyReason(), TReadOnlyReason::InUse);
    EXPECT_EQ(ReadOnlyReasonText(TReadOnlyReason::InUse), "it is in use by another program (it holds the image's lock)");
    THostFile replacement;
    EXPECT_EQ(replacement.Create(path), ErrorInUse);
    EXPECT_EQ(HostErrorText(ErrorInUse), "the image is in use by another program (it holds the image's lock)");
}

TEST(Journal, AFolderAtTheJournalsNameIsNamedAsSuch) {
    ScratchDir dir;
    const std::string path = dir.File("disk.dsk");
    std::vector<uint8_t> jv1(2560, 0);
    jv1[1] = 0xFE;
    WriteAll(path, jv1);
    std::filesystem::create_directories(TJournal::PathFor(path));
    const std::string expected = "not a disk image: a folder stands at " + TJournal::PathFor(RealPathOf(path));
    try {
        OpenFloppyImage(path);
        FAIL() << "opened for writing with a folder where its journal belongs";
    } catch (const TDiskImage::EFileError& error) {
        EXPECT_EQ(error.what(), expected);
    }
    // Reading needs no journal.
    EXPECT_EQ(OpenFloppyImage(path, true)->GetFormatName(), "JV1");
}

TEST(Journal, AFailedWriteKeepsTheHostsReason) {
    ScratchDir dir;
    const std::string path = dir.File("disk.dsk");
    WriteAll(path, Pattern(2560, 0));
    THostFile file = OpenForWriting(path);
    EXPECT_EQ(file.LastError(), 0);
    // An offset past what a file can hold is refused by the host (EINVAL, EFBIG) and kept.
    EXPECT_FALSE(file.Truncate(uint64_t(1) << 62));
    EXPECT_NE(file.LastError(), 0);
}

// A commit takes the floppy's pending track with it: a sector written and committed, with no
// Flush of its own, is on the disk after the image closes (which undoes anything uncommitted).
TEST(Journal, ACommitTakesThePendingTrackWithIt) {
    const std::vector<uint8_t> data = Pattern(256, 0x33);
    for (int type : {ImageJV1, ImageJV3, ImageDMK, ImageRaw}) {
        SCOPED_TRACE(type);
        ScratchDir dir;
        const std::string path = dir.File("disk.dsk");
        if (type == ImageRaw) {
            WriteAll(path, Pattern(35 * 10 * 256, 7));  // 35 tracks of 10 single-density sectors
        } else {
            auto image = CreateFloppyImage(path, type);
            for (int track = 0; track < 35; ++track) ASSERT_TRUE(image->FormatTrack(track, 10, 1, false, 0xFB, false, 1));
            ASSERT_TRUE(image->Flush());
            image->CommitChange();
        }
        {
            auto image = OpenFloppyImageAs(path, type);
            image->DiscardChangeOnClose();
            ASSERT_TRUE(image->LoadTrack(5));
            ASSERT_TRUE(image->WriteSector(5, 0, 0, 3, 0xFB, data.data()));
            image->CommitChange();
        }
        auto image = OpenFloppyImageAs(path, type, true);
        ASSERT_TRUE(image->LoadTrack(5));
        std::vector<uint8_t> read(TFloppyImage::SectorBufferSize);
        int size = 0;
        uint8_t mark = 0;
        ASSERT_TRUE(image->ReadSector(5, 0, 0, 3, size, mark, read.data(), true, false));
        read.resize(static_cast<size_t>(size));
        EXPECT_EQ(read, data);
    }
}
