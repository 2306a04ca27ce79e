// Moving files between the host and a disk: host names, the text test,
// line-end conversions, extraction into a host folder and storing one file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filesystem/FileSystem.h"

namespace DiskImage {
class TOutputFolder;
}

namespace FileSystem {

// The transfer preferences, as stored by the program's preferences.
struct TransferSettings {
    std::string ExtractDirectory;
    int ConversionTypeIn = 0;   // 0 none, 1 CR/LF to CR
    int ConversionTypeOut = 0;  // 0 none, 1 CR to CR/LF, 2 CR to LF
    // Copy the bytes exactly as the disk holds them, skipping even the CP/M
    // end-of-file cut that applies whatever ConversionTypeOut says.
    bool ByteExact = false;
    // When set, extraction writes into this folder, already open, instead of opening
    // ExtractDirectory (which then only names it in paths and messages).
    const DiskImage::TOutputFolder* Folder = nullptr;
};

// Refused when storing a file that does not fit; the disk is left as it was.
class ENotEnoughSpace : public TFileSystem::Exception {
public:
    ENotEnoughSpace() : Exception("Not enough free space to store this file.") {}
};

bool IsTextFile(const std::string& extension, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ConvertFromTRS80(TFileSystem& fs, const std::vector<uint8_t>& bytes,
                                      const std::string& extension, int conversionType);
std::vector<uint8_t> ConvertToTRS80(TFileSystem& fs, const std::vector<uint8_t>& bytes, int conversionTypeIn);

// The lower-case host file name that extraction gives a file. Characters that
// could leave the folder or confuse the host ('/', '\\', NUL, control and
// non-ASCII bytes, a name of only dots) become '_'.
std::string ExtractedFileName(TFileSystem& fs, int fileIndex);
// Writes one file into settings.ExtractDirectory and returns the host path. The file is
// made new and renamed into place (see DiskImage::TOutputFolder): nothing that stands at
// its name is written through, and a name held by anything but a regular file is refused.
// Throws EInvalidFilename, EFileExists or EFileError; a failed write leaves nothing behind. bytesRead, when given, receives how many bytes the disk gave
// before any conversion: fewer than the file's size when sectors could not be read.
std::string ExtractFile(TFileSystem& fs, int fileIndex, bool overwrite, const TransferSettings& settings,
                        size_t* bytesRead = nullptr);
std::vector<int> ListAllFiles(TFileSystem& fs, int flags);
// The device names some hosts reserve (CON, NUL, LPT1 ...). Extraction refuses them only on
// a host that has them; this one has none.
bool IsReservedHostName(const std::string& hostName);

// Stores one file by the shell's rules: the name must be valid; an existing file
// of that name is replaced only when replace is set; the file must fit, judged by
// hostSize (its size before line-end conversion). A replaced file comes back when
// the new one cannot be stored. Returns the new file's index (or -1 when the file
// system cannot find it again).
int StoreFile(TFileSystem& fs, const std::string& name, const std::vector<uint8_t>& data, size_t hostSize,
              const FileDate& date, bool replace);

// Why the shell must not change this file system, or empty when it may.
std::string WriteRefusal(TFileSystem& fs);

}  // namespace FileSystem
