// HFE: what we write is checked by a decoder written here apart from the one in the
// program (it shares no code with it), the real emulator file reads whole, and damaged
// files are refused untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <tuple>

#include "ImageTestSupport.h"
#include "diskimage/HFE.h"
#include "diskimage/ImageConvert.h"

using namespace DiskImage;
using ImageTest::ScratchDir;

namespace {

// --- A decoder of HFE files of its own ---------------------------------------------------

struct FoundSector {
    uint8_t dam = 0;
    bool crcGood = false;
    std::vector<uint8_t> data;
};
using SectorKey = std::tuple<int, int, int>;  // track, side, sector

uint16_t Crc(const std::vector<uint8_t>& bytes) {
    uint16_t crc = 0xFFFF;
    for (uint8_t byte : bytes) {
        crc ^= static_cast<uint16_t>(byte << 8);
        for (int i = 0; i < 8; ++i) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// The stream of one side as a string of '0' and '1', in the order the drive sends it.
std::string SideBits(const std::vector<uint8_t>& file, int track, int side) {
    const size_t list = size_t(file[18] | (file[19] << 8)) * 512;
    const size_t start = size_t(file[list + 4 * track] | (file[list + 4 * track + 1] << 8)) * 512;
    const size_t length = size_t(file[list + 4 * track + 2] | (file[list + 4 * track + 3] << 8)) / 2;
    std::string bits;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t byte = file[start + (i / 256) * 512 + side * 256 + i % 256];
        for (int b = 0; b < 8; ++b) bits += ((byte >> b) & 1) ? '1' : '0';
    }
    return bits;
}

// Reads `count` bytes from bit position `at`: each data bit is the bit `offset` places into
// a group of `group` bits.
std::vector<uint8_t> Bytes(const std::string& bits, size_t at, int count, int group, int offset) {
    std::vector<uint8_t> out;
    for (int n = 0; n < count && at + size_t(group) * 8 <= bits.size(); ++n) {
        uint8_t value = 0;
        for (int b = 0; b < 8; ++b, at += group) value = static_cast<uint8_t>((value << 1) | (bits[at + offset] == '1'));
        out.push_back(value);
    }
    return out;
}

// Every sector of one side: MFM fields follow three 0x4489 syncs, FM fields a byte whose
// clock bits are 0xC7.
void DecodeSide(const std::string& bits, int track, int side, std::map<SectorKey, FoundSector>& found) {
    const std::string sync = "0100010010001001";
    const bool mfm = bits.find(sync + sync + sync) != std::string::npos;
    const int group = mfm ? 2 : 4;
    const int dataOffset = mfm ? 1 : 2;
    std::vector<size_t> marks;  // bit position of each mark byte's first data bit group
    if (mfm) {
        for (size_t at = bits.find(sync + sync + sync); at != std::string::npos;
             at = bits.find(sync + sync + sync, at + 48)) {
            marks.push_back(at + 48);
        }
    } else {
        // Clock 0xC7 with data 0xFE or 0xF8-0xFB: ten bits for each in the order clock, 0, data, 0.
        for (size_t at = 0; at + 32 <= bits.size(); ++at) {
            if (Bytes(bits, at, 1, 4, 0)[0] != 0xC7) continue;
            const uint8_t value = Bytes(bits, at, 1, 4, 2)[0];
            bool gaps = true;
            for (int i = 0; i < 32; i += 2) gaps = gaps && bits[at + i + 1] == '0';
            if (gaps && (value == 0xFE || (value >= 0xF8 && value <= 0xFB))) {
                marks.push_back(at);
                at += 31;
            }
        }
    }
    const std::vector<uint8_t> syncs = mfm ? std::vector<uint8_t>{0xA1, 0xA1, 0xA1} : std::vector<uint8_t>{};
    for (size_t m = 0; m + 1 < marks.size(); ++m) {
        const auto id = Bytes(bits, marks[m], 7, group, dataOffset);
        if (id.size() < 7 || id[0] != 0xFE) continue;
        std::vector<uint8_t> idField = syncs;
        idField.insert(idField.end(), id.begin(), id.begin() + 5);
        if (Crc(idField) != ((id[5] << 8) | id[6]) || id[1] != track) continue;
        const int size = 128 << (id[4] & 3);
        const auto data = Bytes(bits, marks[m + 1], 1 + size + 2, group, dataOffset);
        if (data.size() < size_t(size + 3) || data[0] < 0xF8 || data[0] > 0xFB) continue;
        std::vector<uint8_t> dataField = syncs;
        dataField.insert(dataField.end(), data.begin(), data.begin() + 1 + size);
        FoundSector sector;
        sector.dam = data[0];
        sector.crcGood = Crc(dataField) == ((data[size + 1] << 8) | data[size + 2]);
        sector.data.assign(data.begin() + 1, data.begin() + 1 + size);
        found[{track, side, id[3]}] = sector;
    }
}

std::map<SectorKey, FoundSector> DecodeFile(const std::vector<uint8_t>& file) {
    std::map<SectorKey, FoundSector> found;
    EXPECT_EQ(std::string(file.begin(), file.begin() + 8), "HXCPICFE");
    for (int track = 0; track < file[9]; ++track) {
        for (int side = 0; side < file[10]; ++side) DecodeSide(SideBits(file, track, side), track, side, found);
    }
    return found;
}

// --- Disks built here --------------------------------------------------------------------

// A Model I-style disk: track 0 single density (a directory-marked sector among them),
// tracks 1-4 double density on both sides with deleted marks and a CRC error.
void WriteMixedDisk(const std::string& path) {
    auto image = CreateFloppyImage(path, ImageDMK);
    for (int track = 0; track < 5; ++track) {
        std::array<std::vector<TTrackSector>, 2> sides;
        for (int side = 0; side < 2; ++side) {
            const bool density = track > 0;
            for (int s = 0; s < (density ? 18 : 10); ++s) {
                const uint8_t dam = s == 3 ? (density ? 0xF8 : 0xFA) : 0xFB;
                sides[side].push_back({s, 256, density, dam, density && s == 7 && side == 1,
                                       ImageTest::SectorPattern(track, side, s, 256)});
            }
        }
        ASSERT_TRUE(image->LayOutTrack(track, sides));
    }
    ASSERT_TRUE(image->Flush());
    image->CommitChange();
}

}  // namespace

TEST(HFETest, ADecoderWrittenApartReadsEverySectorOfWhatWeWrite) {
    ScratchDir dir;
    WriteMixedDisk(dir.File("start.dmk"));
    ConvertImage(dir.File("start.dmk"), dir.File("copy.hfe"), ImageHFE);
    const auto file = ImageTest::ReadAll(dir.File("copy.hfe"));
    // What emulators read from the header: 250 kbit/s, 300 rpm, a Shugart double-density
    // drive, MFM with track 0 in FM.
    EXPECT_EQ(file[12] | (file[13] << 8), 250);
    EXPECT_EQ(file[14] | (file[15] << 8), 300);
    EXPECT_EQ(file[16], HFE::GenericShugartDD);
    EXPECT_EQ(file[11], HFE::IsoIbmMFM);
    EXPECT_EQ(file[22], 0x00);
    EXPECT_EQ(file[23], HFE::IsoIbmFM);

    const auto found = DecodeFile(file);
    auto source = OpenFloppyImage(dir.File("start.dmk"), true);
    size_t expected = 0;
    for (const auto& track : ReadAllTracks(*source)) {
        for (int side = 0; side < 2; ++side) {
            for (const auto& sector : track.Sides[side]) {
                ++expected;
                auto it = found.find({track.Track, side, sector.Sector});
                ASSERT_NE(it, found.end()) << track.Track << "/" << side << "/" << sector.Sector;
                EXPECT_EQ(it->second.dam, sector.DAM) << track.Track << "/" << side << "/" << sector.Sector;
                EXPECT_EQ(it->second.crcGood, !sector.CrcError) << track.Track << "/" << side << "/" << sector.Sector;
                EXPECT_EQ(it->second.data, sector.Data) << track.Track << "/" << side << "/" << sector.Sector;
            }
        }
    }
    EXPECT_EQ(found.size(), expected);

    // And back: the sectors, marks and CRC flags survive DMK -> HFE -> DMK.
    ConvertImage(dir.File("copy.hfe"), dir.File("back.dmk"), ImageDMK);
    auto back = OpenFloppyImage(dir.File("back.dmk"), true);
    const auto before = ReadAllTracks(*source);
    const auto after = ReadAllTracks(*back);
    ASSERT_EQ(after.size(), before.size());
    for (size_t t = 0; t < before.size(); ++t) {
        for (int side = 0; side < 2; ++side) {
            ASSERT_EQ(after[t].Sides[side].size(), before[t].Sides[side].size());
            for (size_t s = 0; s < before[t].Sides[side].size(); ++s) {
                EXPECT_TRUE(SameSector(before[t].Sides[side][s], after[t].Sides[side][s]));
                EXPECT_EQ(before[t].Sides[side][s].DAM, after[t].Sides[side][s].DAM);
            }
        }
    }
}

TEST(HFETest, TheRealEmulatorFileReadsWholeAndConvertsBack) {
    const std::string fixture = (ImageTest::RealImagesDir() / "hfe-mfm40-trsdos13-m3-datadisk.hfe").string();
    if (!std::filesystem::exists(fixture)) GTEST_SKIP() << "fixtures not present";
    auto image = OpenFloppyImage(fixture, true);
    ASSERT_EQ(image->GetFormatName(), "HFE");
    const auto tracks = ReadAllTracks(*image);
    ASSERT_EQ(tracks.size(), 40u);
    std::map<uint8_t, int> marks;
    for (const auto& track : tracks) {
        ASSERT_EQ(track.Sides[0].size(), 18u) << "track " << track.Track;
        for (const auto& sector : track.Sides[0]) {
            EXPECT_FALSE(sector.CrcError);
            EXPECT_TRUE(sector.Density);
            ++marks[sector.DAM];
        }
    }
    EXPECT_EQ(marks[0xF8], 204);
    EXPECT_EQ(marks[0xFB], 516);

    ScratchDir dir;
    ConvertImage(fixture, dir.File("copy.dmk"), ImageDMK);
    ConvertImage(dir.File("copy.dmk"), dir.File("back.hfe"), ImageHFE);
    EXPECT_EQ(std::filesystem::file_size(dir.File("back.hfe")), std::filesystem::file_size(fixture));
    const auto found = DecodeFile(ImageTest::ReadAll(dir.File("back.hfe")));
    ASSERT_EQ(found.size(), 720u);
    for (const auto& track : tracks) {
        for (const auto& sector : track.Sides[0]) {
            const auto& copy = found.at({track.Track, 0, sector.Sector});
            EXPECT_EQ(copy.data, sector.Data);
            EXPECT_EQ(copy.dam, sector.DAM);
            EXPECT_TRUE(copy.crcGood);
        }
    }
}

TEST(HFETest, DamagedFilesAreRefusedAndLeftAsTheyWere) {
    ScratchDir dir;
    WriteMixedDisk(dir.File("start.dmk"));
    ConvertImage(dir.File("start.dmk"), dir.File("good.hfe"), ImageHFE);
    const auto good = ImageTest::ReadAll(dir.File("good.hfe"));
    struct Damage {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> spoil;
    };
    const Damage damages[] = {
        {"the last track pointing past the end", [](std::vector<uint8_t>& f) { f[512 + 4 * 4] = 0xF0; }},
        {"the file cut inside the last track", [](std::vector<uint8_t>& f) { f.resize(f.size() - 600); }},
        {"the track list past the end", [](std::vector<uint8_t>& f) { f[18] = 0xFF; }},
        {"a track of no bytes", [](std::vector<uint8_t>& f) { f[512 + 2] = f[512 + 3] = 0; }},
        {"three sides", [](std::vector<uint8_t>& f) { f[10] = 3; }},
        {"another revision", [](std::vector<uint8_t>& f) { f[8] = 1; }},
        {"a header only half there", [](std::vector<uint8_t>& f) { f.resize(300); }},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.what);
        std::vector<uint8_t> bytes = good;
        damage.spoil(bytes);
        const std::string path = dir.File("bad.hfe");
        ImageTest::WriteAll(path, bytes);
        // Not as HFE, and not as anything else: by its size a damaged HFE file is a headerless JVC disk.
        EXPECT_THROW(OpenFloppyImage(path, false, [](TFloppyImage&) { return true; }), TDiskImage::EInvalidFormat);
        EXPECT_EQ(ImageTest::ReadAll(path), bytes);
    }
}

TEST(HFETest, ASideOfTwoDensitiesIsRefusedNamingTheSector) {
    ScratchDir dir;
    const std::vector<TTrackSector> side = {{1, 256, false, 0xFB, false, std::vector<uint8_t>(256, 1)},
                                            {2, 256, true, 0xFB, false, std::vector<uint8_t>(256, 2)}};
    {
        auto image = CreateFloppyImage(dir.File("odd.dmk"), ImageDMK);
        ASSERT_TRUE(image->LayOutTrack(0, {side, {}}));
        ASSERT_TRUE(image->Flush());
        image->CommitChange();
    }
    try {
        ConvertImage(dir.File("odd.dmk"), dir.File("odd.hfe"), ImageHFE);
        ADD_FAILURE() << "converted";
    } catch (const EConversionRefused& error) {
        EXPECT_NE(std::string(error.what()).find("track 0, side 0, sector 2 is of another density"), std::string::npos)
            << error.what();
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("odd.hfe")));
}
