// The disks other people's tools made, with what those tools report about them:
// QB_FIXTURES_DIR/peer/NAME.expected.json beside each image.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/MiniJson.h"

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

}  // namespace TestSupport
