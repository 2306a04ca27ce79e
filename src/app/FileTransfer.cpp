#include "FileTransfer.h"

#include <QDataStream>
#include <QIODevice>

namespace App {
namespace {

constexpr quint32 GroupMagic = 0x51424647;  // "QBFG"
constexpr quint32 GroupVersion = 1;
constexpr quint32 MaxGroupFiles = 65536;

}  // namespace

QByteArray EncodeFileGroup(const std::vector<TransferFile>& files) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << GroupMagic << GroupVersion << static_cast<quint32>(files.size());
    for (const TransferFile& file : files) {
        const qint64 time = file.LastWriteUtc.isValid() ? file.LastWriteUtc.toMSecsSinceEpoch() : -1;
        out << file.Name << file.Size << time << file.Contents;
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
        in >> file.Name >> file.Size >> time >> file.Contents;
        if (in.status() != QDataStream::Ok) return std::nullopt;
        if (time >= 0) file.LastWriteUtc = QDateTime::fromMSecsSinceEpoch(time, Qt::UTC);
        if (static_cast<quint64>(file.Contents.size()) < file.Size) continue;
        file.Contents.truncate(static_cast<qsizetype>(file.Size));
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace App
