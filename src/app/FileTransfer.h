// The file group that carries files between copies of the program through
// the clipboard and drag-and-drop: per file its name, size, last write time
// (UTC), attributes and contents.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <vector>

namespace FileSystem {
class TFileSystem;
}

class QMimeData;

namespace App {

// The type under which a file group travels between copies of the program.
inline constexpr const char* FileGroupMimeType = "application/x-quarrybox-file-group";

// The attributes a file brings from its disk: those of the shared bits (invisible,
// system, MOD or archive, read-only) its file system knows, and which of them are set.
// The family of that file system tells whether its MOD bit means what the other's does.
struct TransferAttributes {
    quint32 Known = 0;
    quint32 Set = 0;
    int Family = -1;  // -1: no file system (a host file)
};

struct TransferFile {
    QString Name;
    quint32 Size = 0;
    QDateTime LastWriteUtc;  // invalid when the file has no date
    QByteArray Contents;
    TransferAttributes Attributes;
};

QByteArray EncodeFileGroup(const std::vector<TransferFile>& files);
// Nothing when the data is not a well-formed group. A file whose contents are
// shorter than its size is dropped from the result.
std::optional<std::vector<TransferFile>> DecodeFileGroup(const QByteArray& data);

// The shared attributes of a file on its disk.
TransferAttributes AttributesOf(FileSystem::TFileSystem& fs, int fileIndex);
// Gives a stored file the attributes both file systems know; the rest keep what
// storing gave them.
void ApplyAttributes(FileSystem::TFileSystem& fs, int fileIndex, const TransferAttributes& attributes);

// Where files put on the clipboard or dragged out are written for the host's file
// manager: a private folder that lasts as long as its owner, a new numbered folder for
// each transfer so that one never overwrites another still in use.
class TransferStaging {
public:
    // Empty when no folder can be made.
    QString NewFolder();

private:
    std::unique_ptr<QTemporaryDir> Dir;
    int Count = 0;
};

// The clipboard or drag data for files of a disk: the files, converted for the host, as
// real files in a new staging folder (for the host's file manager) and as a file group
// (for another window of the program). Null when any of them cannot be read or written.
QMimeData* BuildTransferData(FileSystem::TFileSystem& fs, const std::vector<int>& fileIndices, int conversionType,
                             TransferStaging& staging);

}  // namespace App
