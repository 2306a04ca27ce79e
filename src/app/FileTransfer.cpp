#include "FileTransfer.h"

#include <QDataStream>
#include <QIODevice>

#include "filesystem/FileSystem.h"

namespace App {
namespace {

constexpr quint32 GroupMagic = 0x51424647;  // "QBFG"
constexpr quint32 GroupVersion = 2;         // 2: with attributes
constexpr quint32 MaxGroupFiles = 65536;

// The attribute bits every file system gives the same meaning, but 0x800: MOD on the
// TRSDOS family, archive on CP/M, so it travels only between DOSes of one family.
constexpr quint32 SharedAttributes[] = {FileSystem::AttrInvisible, FileSystem::AttrSystem, FileSystem::AttrMOD,
                                        FileSystem::AttrReadOnly};

}  // namespace

QByteArray EncodeFileGroup(const std::vector<TransferFile>& files) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << GroupMagic << GroupVersion << static_cast<quint32>(files.size());
    for (const TransferFile& file : files) {
        const qint64 time = file.LastWriteUtc.isValid() ? file.LastWriteUtc.toMSecsSinceEpoch() : -1;
        out << file.Name << file.Size << time << file.Contents;
        out << file.Attributes.Known << file.Attributes.Set << static_cast<qint32>(file.Attributes.Family);
    }
    return data;
}

std::optional<std::vector<TransferFile>> DecodeFileGroup(const QByteArray& data) {
    QDataStream in(data);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    quint32 version = 0;
    quint32 count = 0;
    in >> magic >> version >> count;
    if (in.status() != QDataStream::Ok || magic != GroupMagic || version != GroupVersion || count > MaxGroupFiles) {
        return std::nullopt;
    }
    std::vector<TransferFile> files;
    for (quint32 i = 0; i < count; ++i) {
        TransferFile file;
        qint64 time = -1;
        qint32 family = -1;
        in >> file.Name >> file.Size >> time >> file.Contents;
        in >> file.Attributes.Known >> file.Attributes.Set >> family;
        if (in.status() != QDataStream::Ok) return std::nullopt;
        file.Attributes.Family = family;
        if (time >= 0) file.LastWriteUtc = QDateTime::fromMSecsSinceEpoch(time, Qt::UTC);
        if (static_cast<quint64>(file.Contents.size()) < file.Size) continue;
        file.Contents.truncate(static_cast<qsizetype>(file.Size));
        files.push_back(std::move(file));
    }
    return files;
}

TransferAttributes AttributesOf(FileSystem::TFileSystem& fs, int fileIndex) {
    TransferAttributes attributes;
    attributes.Family = fs.GetFileSystemType();
    for (quint32 mask : SharedAttributes) {
        if (!fs.SupportsAttribute(mask)) continue;
        attributes.Known |= mask;
        if (fs.HasAttribute(fileIndex, mask)) attributes.Set |= mask;
    }
    return attributes;
}

void ApplyAttributes(FileSystem::TFileSystem& fs, int fileIndex, const TransferAttributes& attributes) {
    for (quint32 mask : SharedAttributes) {
        if ((attributes.Known & mask) == 0 || !fs.SupportsAttribute(mask)) continue;
        if (mask == FileSystem::AttrMOD && attributes.Family != fs.GetFileSystemType()) continue;
        const bool on = (attributes.Set & mask) != 0;
        if (fs.HasAttribute(fileIndex, mask) != on) fs.SetAttribute(fileIndex, mask, on);
    }
}

}  // namespace App
