// The disks other people's tools made, with what those tools report about them:
// QB_FIXTURES_DIR/peer/NAME.expected.json beside each image.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/MiniJson.h"
#include "common/Sha256.h"
#include "diskimage/DiskImage.h"
#include "filesystem/FileSystem.h"

namespace TestSupport {

inline std::string PeerFixturesDir() { return std::string(QB_FIXTURES_DIR) + "/peer"; }

// The expectation files whose "dos" is the given family, sorted by name.
inline std::vector<std::string> PeerExpectations(const std::string& dos) {
    std::vector<std::string> found;
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(PeerFixturesDir(), error)) {
        const std::string path = item.path().string();
        const std::string suffix = ".expected.json";
        if (path.size() < suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        if (JsonReader::ParseFile(path)["dos"].text == dos) found.push_back(path);
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Opens the image an expectation describes and checks its container.
inline std::unique_ptr<DiskImage::TFloppyImage> OpenPeerImage(const JsonValue& expected) {
    auto image = DiskImage::OpenFloppyImage(PeerFixturesDir() + "/" + expected["image"].text);
    EXPECT_EQ(image->GetFormatName(), expected["container"].text);
    return image;
}

// The listing in directory order, each file's entry, name, extension, size and
// bytes; moreChecks adds what only one family records.
inline void CheckPeerFiles(FileSystem::TFileSystem& fs, const JsonValue& expected,
                           const std::function<void(int, const JsonValue&)>& moreChecks) {
    const std::vector<int> listed = fs.ListFiles({"*.*"}, 0);
    const auto& files = expected["files"].items;
    ASSERT_EQ(listed.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        const JsonValue& file = files[i];
        const int index = listed[i];
        SCOPED_TRACE(file["name"].text + "." + file["ext"].text);
        EXPECT_EQ(index, file["entry"].number);
        EXPECT_EQ(fs.GetFileName(index), file["name"].text);
        EXPECT_EQ(fs.GetFileExtension(index), file["ext"].text);
        EXPECT_EQ(fs.GetFileSize(index), file["size"].number);
        const std::vector<uint8_t> bytes = fs.ReadFile(index);
        EXPECT_EQ(static_cast<long long>(bytes.size()), file["size"].number);
        EXPECT_EQ(Sha256Hex(bytes), file["sha256"].text);
        moreChecks(index, file);
    }
}

}  // namespace TestSupport
