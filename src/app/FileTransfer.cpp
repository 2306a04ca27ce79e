#include "FileTransfer.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>
#include <map>
#include <QIODevice>

#include "AppText.h"
#include "filesystem/FileSystem.h"
#include "filesystem/HostTransfer.h"

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

QString TransferStaging::NewFolder() {
    if (!Dir) Dir = std::make_unique<QTemporaryDir>();
    if (!Dir->isValid()) return {};
    const QString folder = Dir->filePath(QString::number(++Count));
    if (!QDir().mkpath(folder)) return {};
    return folder;
}

QMimeData* BuildTransferData(FileSystem::TFileSystem& fs, const std::vector<int>& fileIndices, int conversionType,
                             TransferStaging& staging) {
    if (fileIndices.empty()) return nullptr;
    std::vector<TransferFile> files;
    try {
        for (int fileIndex : fileIndices) {
            const std::vector<uint8_t> bytes = fs.ReadFile(fileIndex);
            const std::vector<uint8_t> converted = FileSystem::ConvertFromTRS80(
                fs, bytes, fs.GetFileExtension(fileIndex), conversionType);
            TransferFile file;
            file.Name = ToQ(fs.GetHostFileName(fileIndex));
            file.Contents = QByteArray(reinterpret_cast<const char*>(converted.data()),
                                       static_cast<qsizetype>(converted.size()));
            file.Size = static_cast<quint32>(converted.size());
            const QDateTime local = FileDateToDateTime(fs.GetFileDate(fileIndex));
            if (local.isValid()) file.LastWriteUtc = local.toUTC();
            file.Attributes = AttributesOf(fs, fileIndex);
            files.push_back(std::move(file));
        }
    } catch (const std::exception&) {
        return nullptr;
    }

    // The host's file manager takes real files: write them into a private folder.
    const QString folder = staging.NewFolder();
    if (folder.isEmpty()) return nullptr;
    QList<QUrl> urls;
    std::map<int, std::string> hostNames;
    try {
        hostNames = FileSystem::HostNamesOfDisk(fs);
    } catch (const std::exception&) {
        return nullptr;
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const int fileIndex = fileIndices[i];
        QString hostName;
        try {
            const auto known = hostNames.find(fileIndex);
            hostName = QFile::decodeName(
                (known != hostNames.end() ? known->second : FileSystem::ExtractedFileName(fs, fileIndex)).c_str());
        } catch (const std::exception&) {
            return nullptr;
        }
        QString path = QDir(folder).filePath(hostName);
        for (int copy = 2; QFileInfo::exists(path); ++copy) {
            path = QDir(folder).filePath(QString("%1-%2").arg(copy).arg(hostName));
        }
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(files[i].Contents) != files[i].Contents.size() ||
            !out.flush()) {
            return nullptr;
        }
        // Written out first: bytes still buffered would date the file now when they land.
        if (files[i].LastWriteUtc.isValid()) out.setFileTime(files[i].LastWriteUtc, QFileDevice::FileModificationTime);
        out.close();
        urls << QUrl::fromLocalFile(path);
    }
    auto* data = new QMimeData;
    data->setUrls(urls);
    data->setData(FileGroupMimeType, EncodeFileGroup(files));
    return data;
}

}  // namespace App
