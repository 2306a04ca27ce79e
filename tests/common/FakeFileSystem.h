// An in-memory file system for tests of the layers above TFileSystem: files
// are kept as name, extension and bytes; space is counted in 256-byte sectors.
// Names may be planted raw, so tests can play crafted directory entries.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filesystem/FileSystem.h"

namespace TestSupport {

class FakeFileSystem : public FileSystem::TFileSystem {
public:
    struct File {
        std::string Name, Extension;
        std::vector<uint8_t> Bytes;
        FileSystem::FileDate Date;
        uint32_t Attributes = 0;
        int Type = -1;
    };

    explicit FakeFileSystem(int suspicion = 0, std::string family = "FAKEDOS", char separator = '/')
        : TFileSystem(nullptr), Family(std::move(family)), Separator(separator) {
        Suspicion = suspicion;
    }

    // Adds a file without any name check, as a crafted directory would hold it.
    int Plant(const std::string& name, const std::string& extension, std::vector<uint8_t> bytes = {},
              uint32_t attributes = 0) {
        File file;
        file.Name = name;
        file.Extension = extension;
        file.Bytes = std::move(bytes);
        file.Attributes = attributes;
        Files.push_back(file);
        return static_cast<int>(Files.size()) - 1;
    }
    File& At(int fileIndex) { return *Files.at(fileIndex); }

    int FileSystemType = FileSystem::TypeTRSDOS;
    int CapacitySectors = 100;
    bool Writable = true;
    int FlushCount = 0;
    std::string Family;
    char Separator;
    std::vector<std::optional<File>> Files;

    int GetFileSystemType() override { return FileSystemType; }
    int GetCapacity() override { return CapacitySectors * 256; }
    int GetFreeSpace() override {
        int used = 0;
        for (const auto& file : Files)
            if (file) used += static_cast<int>((file->Bytes.size() + 255) / 256);
        return std::max(0, CapacitySectors - used) * 256;
    }
    std::vector<uint8_t> ReadFile(int fileIndex) override { return Get(fileIndex).Bytes; }
    bool RewriteFile(int fileIndex, const std::vector<uint8_t>& data) override {
        Get(fileIndex).Bytes = data;
        return true;
    }
    bool CreateFile(const std::string& name, const std::vector<uint8_t>& data,
                    const FileSystem::FileDate& date) override {
        if (!IsValidFilename(name)) throw EInvalidFilename();
        if (FindFile(name) >= 0) throw EFileExists();
        if (static_cast<int>((data.size() + 255) / 256) * 256 > GetFreeSpace()) throw EDiskFull();
        auto [base, extension] = Split(name);
        int fileIndex = Plant(base, extension, data);
        At(fileIndex).Date = date;
        return true;
    }
    bool DeleteFile(int fileIndex) override {
        Get(fileIndex);
        Files[fileIndex].reset();
        return true;
    }
    bool RenameFile(int fileIndex, const std::string& newName) override {
        if (!IsValidFilename(newName)) throw EInvalidFilename();
        if (FindFile(newName) >= 0) throw EFileExists();
        auto [base, extension] = Split(newName);
        Get(fileIndex).Name = base;
        Get(fileIndex).Extension = extension;
        return true;
    }
    std::vector<int> ListFiles(const std::vector<std::string>&, int flags) override {
        std::vector<int> listed;
        for (size_t i = 0; i < Files.size(); ++i) {
            if (!Files[i]) continue;
            uint32_t hidden = Files[i]->Attributes & (FileSystem::AttrInvisible | FileSystem::AttrSystem);
            if (hidden & ~static_cast<uint32_t>(flags)) continue;
            listed.push_back(static_cast<int>(i));
        }
        return listed;
    }
    std::string GetFileName(int fileIndex) override { return Get(fileIndex).Name; }
    std::string GetFileExtension(int fileIndex) override { return Get(fileIndex).Extension; }
    int GetFileSize(int fileIndex) override { return static_cast<int>(Get(fileIndex).Bytes.size()); }
    int FindFile(const std::string& name) override {
        auto [base, extension] = Split(name);
        for (size_t i = 0; i < Files.size(); ++i)
            if (Files[i] && Upper(Files[i]->Name) == Upper(base) && Upper(Files[i]->Extension) == Upper(extension))
                return static_cast<int>(i);
        return -1;
    }
    bool IsValidFilename(const std::string& name) override {
        auto [base, extension] = Split(name);
        auto alnum = [](const std::string& part) {
            return std::all_of(part.begin(), part.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
        };
        return !base.empty() && base.size() <= 8 && extension.size() <= 3 && alnum(base) && alnum(extension);
    }
    void Flush() override { ++FlushCount; }
    std::vector<FileSystem::AttributeDescriptor> GetAttributeList() override {
        return {{"Invisible", 'I', true, FileSystem::AttrInvisible},
                {"System", 'S', true, FileSystem::AttrSystem},
                {"Deleted", 'D', false, FileSystem::AttrDeleted}};
    }
    bool HasAttribute(int fileIndex, uint32_t mask) override { return (Get(fileIndex).Attributes & mask) != 0; }
    void SetAttribute(int fileIndex, uint32_t mask, bool on) override {
        uint32_t& attributes = Get(fileIndex).Attributes;
        attributes = on ? attributes | mask : attributes & ~mask;
    }
    char GetExtensionSeparator() override { return Separator; }
    FileSystem::FileDate GetFileDate(int fileIndex) override { return Get(fileIndex).Date; }
    void SetFileDate(int fileIndex, const FileSystem::FileDate& date) override { Get(fileIndex).Date = date; }
    void SetFileName(int fileIndex, const std::string& name) override { Get(fileIndex).Name = name; }
    bool SupportsWriting() override { return Writable; }
    std::string GetDOSName(bool family) override { return family ? Family : Family + " 1.0"; }

private:
    File& Get(int fileIndex) {
        if (fileIndex < 0 || fileIndex >= static_cast<int>(Files.size()) || !Files[fileIndex])
            throw EIllegalFileIndex();
        return *Files[fileIndex];
    }
    std::pair<std::string, std::string> Split(const std::string& name) const {
        size_t dot = name.find_first_of(std::string(".") + Separator);
        if (dot == std::string::npos) return {name, ""};
        return {name.substr(0, dot), name.substr(dot + 1)};
    }
    static std::string Upper(std::string text) {
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return text;
    }
};

}  // namespace TestSupport
