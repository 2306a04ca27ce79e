// The file group that carries files between copies of the program through
// the clipboard and drag-and-drop: per file its name, size, last write time
// (UTC) and contents.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace App {

struct TransferFile {
    QString Name;
    quint32 Size = 0;
    QDateTime LastWriteUtc;  // invalid when the file has no date
    QByteArray Contents;
};

QByteArray EncodeFileGroup(const std::vector<TransferFile>& files);
// Nothing when the data is not a well-formed group. A file whose contents are
// shorter than its size is dropped from the result.
std::optional<std::vector<TransferFile>> DecodeFileGroup(const QByteArray& data);

}  // namespace App
