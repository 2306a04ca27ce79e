// Moving files between the host and a disk: host names, the text test,
// line-end conversions, extraction into a host folder and storing one file.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
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
    int ConversionTypeIn = 0;   // 0 none, 1 CR/LF to CR, 2 LF (alone or after CR) to CR
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
    ENotEnoughSpace(size_t needed, int freeSpace)
        : Exception("Not enough free space to store this file."), Needed(needed), FreeSpace(freeSpace) {}
    size_t Needed;  // bytes the file takes, as the host holds it
    int FreeSpace;  // bytes the disk has free
};

// The file's date as a host time stamp, or false when it has none or it is not a real date.
bool HostTimeOf(const FileDate& date, std::time_t& result);

bool IsTextFile(const std::string& extension, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ConvertFromTRS80(TFileSystem& fs, const std::vector<uint8_t>& bytes,
                                      const std::string& extension, int conversionType);
std::vector<uint8_t> ConvertToTRS80(TFileSystem& fs, const std::vector<uint8_t>& bytes, int conversionTypeIn);

// The lower-case host file name that extraction gives a file on its own. Characters
// that could leave the folder or confuse the host ('/', '\\', NUL, control and
// non-ASCII bytes, a name of only dots) become '_'.
std::string ExtractedFileName(TFileSystem& fs, int fileIndex);

// One file that an extraction places on the host: the folder it goes into ("" for the
// extraction folder itself) and its plain name (ExtractedFileName).
struct THostPlacement {
    std::string Folder;
    std::string Name;
};
// The host name of each file, as a path relative to the extraction folder, such that no
// two files of one extraction share one. In the order given, a file keeps its plain name
// unless an earlier file has it; then it gets the first of "~2", "~3" ... put before
// its extension (game.bas, game~2.bas; readme, readme~2) that is no file's plain name
// and no earlier file's host name in that folder. A folder's name counts as a name in
// the extraction folder. The same list always gives the same names.
std::vector<std::string> UniqueHostNames(const std::vector<THostPlacement>& files);
// The host name of every file of a disk (invisible and system files included), by
// UniqueHostNames over the files in directory order, so that a file's name does not
// depend on which others are extracted with it. With userFolders, files of CP/M user
// areas other than 0 go into the folder "userN".
std::map<int, std::string> HostNamesOfDisk(TFileSystem& fs, bool userFolders = false);

// Writes one file into settings.ExtractDirectory under hostName (a path relative to
// it, whose folder exists) and returns the host path. The file is made new and renamed
// into place (see DiskImage::TOutputFolder): nothing that stands at its name is written
// through, and a name held by anything but a regular file is refused. Throws
// EInvalidFilename, EFileExists or EFileError; a failed write leaves nothing behind. At
// most the file's size is written. read, when given, receives what reading the file met
// (its Bytes are left empty): sectors read with an error, and how many bytes are good.
std::string ExtractFileAs(TFileSystem& fs, int fileIndex, const std::string& hostName, bool overwrite,
                          const TransferSettings& settings, TFileRead* read = nullptr);
// ExtractFileAs under the file's own plain name.
std::string ExtractFile(TFileSystem& fs, int fileIndex, bool overwrite, const TransferSettings& settings,
                        TFileRead* read = nullptr);

// What a file read with problems says on one line: "only 768 of 1024 bytes could be
// read cleanly"; empty when the file was read whole.
std::string DescribeShortRead(const TFileRead& read);
std::vector<int> ListAllFiles(TFileSystem& fs, int flags);
// A wildcard as the user types it, in the form the disk's MatchesPattern takes: the
// host's "NAME.EXT" form is accepted on every DOS, and a pattern without an extension
// matches any extension ("*" is every file).
std::string DiskPattern(TFileSystem& fs, std::string pattern);
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
