// Moving files between the host and a disk: host names, the text test,
// line-end conversions and extraction into a host folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filesystem/FileSystem.h"

namespace FileSystem {

// The transfer preferences, as stored by the program's preferences.
struct TransferSettings {
    std::string ExtractDirectory;
    int ConversionTypeIn = 0;   // 0 none, 1 CR/LF to CR
    int ConversionTypeOut = 0;  // 0 none, 1 CR to CR/LF, 2 CR to LF
};

bool IsTextFile(const std::string& extension, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ConvertFromTRS80(TFileSystem& fs, const std::vector<uint8_t>& bytes,
                                      const std::string& extension, int conversionType);
std::vector<uint8_t> ConvertToTRS80(TFileSystem& fs, const std::vector<uint8_t>& bytes, int conversionTypeIn);
// Writes one file into settings.ExtractDirectory. Throws EInvalidFilename, EFileExists or EFileError.
void ExtractFile(TFileSystem& fs, int fileIndex, bool overwrite, const TransferSettings& settings);
std::vector<int> ListAllFiles(TFileSystem& fs, int flags);
bool IsReservedHostName(const std::string& hostName);

}  // namespace FileSystem
