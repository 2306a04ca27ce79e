#include "ConvertDisk.h"

#include <QFile>

#include "diskimage/ImageConvert.h"
#include "filesystem/MountedDisk.h"

namespace App {

namespace {

DiskImage::TFloppyImage* FloppyOf(const FileSystem::MountedDisk& disk) {
    return dynamic_cast<DiskImage::TFloppyImage*>(disk.Image.get());
}

}  // namespace

bool CanConvert(const FileSystem::MountedDisk& disk) { return FloppyOf(disk) != nullptr; }

QString ConvertOpenDisk(FileSystem::MountedDisk& disk, const QString& path, int imageType) {
    DiskImage::TFloppyImage* floppy = FloppyOf(disk);
    if (floppy == nullptr) throw DiskImage::EConversionRefused("only floppy images can be converted");
    const std::string source = floppy->GetFileName();
    const DiskImage::TConversionResult result =
        DiskImage::ConvertImage(*floppy, source, QFile::encodeName(path).toStdString(), imageType, true);
    return QString("%1 sectors on %2 tracks copied to %3")
        .arg(result.Sectors)
        .arg(result.Tracks)
        .arg(QString::fromStdString(DiskImage::ImageTypeName(imageType)));
}

}  // namespace App
