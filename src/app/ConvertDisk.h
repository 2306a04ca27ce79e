// Tools > Convert to…: the open floppy disk copied into a new image of another
// container type, through the same conversion as qbox convert.
#pragma once

#include <QString>

namespace FileSystem {
class MountedDisk;
}

namespace App {

// Whether the disk is a floppy, the only kind that converts.
bool CanConvert(const FileSystem::MountedDisk& disk);

// Copies the open disk into a new image of imageType at path, replacing a file there
// (the file dialog has asked). Returns the line for the status bar; throws the
// conversion's refusal or the host's error, which name what stood in the way.
QString ConvertOpenDisk(FileSystem::MountedDisk& disk, const QString& path, int imageType);

}  // namespace App
