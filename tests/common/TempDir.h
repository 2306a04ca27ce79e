// A fresh host folder for one test, removed with everything in it afterwards.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestSupport {

class TempDir {
public:
    // base: the folder to make it in, the system's temporary folder unless given.
    explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
        std::string pattern = (base / "qb-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
        Path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& str() const { return Path; }
    std::string operator/(const std::string& name) const { return Path + "/" + name; }

    // The names directly inside the folder.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(Path)) names.push_back(entry.path().filename());
        return names;
    }

private:
    std::string Path;
};

inline std::vector<uint8_t> ReadHostBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteHostBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

}  // namespace TestSupport
