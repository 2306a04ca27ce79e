// The image base classes and the openers that recognise a file by trying the
// formats in a fixed order.
#include "diskimage/DiskImage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "diskimage/DMK.h"
#include "diskimage/HDDCF.h"
#include "diskimage/HDV1.h"
#include "diskimage/HDV2.h"
#include "diskimage/JV1.h"
#include "diskimage/JV3.h"

namespace DiskImage {

TDiskImage::EFileError::EFileError(int errorNumber)
    : Exception(HostErrorText(errorNumber)), ErrorNumber(errorNumber) {}

TDiskImage::~TDiskImage() = default;

void TDiskImage::CommitChange() {
    errno = 0;
    if (!File.Commit()) throw EFileError(errno != 0 ? errno : EIO);
}

void TDiskImage::DiscardChangeOnClose() { File.DiscardOnClose(); }

int TDiskImage::GetWriteProtect() const {
    if (Flags & FlagReadOnlyFile) {
        return 2;
    }
    return (Flags & FlagWriteProtected) ? 1 : 0;
}

void TDiskImage::SetWriteProtect(bool on) {
    Flags &= ~FlagWriteProtected;
    if (on) {
        Flags |= FlagWriteProtected;
    }
}

namespace {

// The path itself, then (when its last component has no '.') the path with each extension.
std::vector<std::string> CandidateNames(const std::string& path, std::initializer_list<const char*> extensions) {
    std::vector<std::string> names{path};
    size_t slash = path.rfind('/');
    size_t nameStart = (slash == std::string::npos) ? 0 : slash + 1;
    if (path.find('.', nameStart) == std::string::npos) {
        for (const char* extension : extensions) {
            names.push_back(path + extension);
        }
    }
    return names;
}

struct OpenedFile {
    THostFile file;
    bool readOnly = false;
    std::string name;
};

OpenedFile OpenFirstCandidate(const std::vector<std::string>& names, bool readingOnly) {
    OpenedFile opened;
    int telling = ENOENT;  // a name that exists but cannot be opened says more than a missing one
    for (const auto& name : names) {
        int error = opened.file.OpenExisting(name, opened.readOnly, readingOnly);
        if (error == 0) {
            opened.name = name;
            return opened;
        }
        if (error == ErrorJournalFolder) throw TDiskImage::EFileError(error, JournalBlockedText(name));
        if (telling == ENOENT) telling = error;
    }
    throw TDiskImage::EFileError(telling);
}

// Tries each format's constructor in order; a refusal moves on to the next one.
template <class Image>
using FormatConstructor = std::function<std::unique_ptr<Image>(THostFile&, bool, const std::string&)>;

template <class Image, class Format>
FormatConstructor<Image> Construct() {
    return [](THostFile& file, bool readOnly, const std::string& name) -> std::unique_ptr<Image> {
        return std::make_unique<Format>(file, readOnly, name);
    };
}

template <class Image>
std::unique_ptr<Image> TryFormats(OpenedFile& opened, const std::vector<FormatConstructor<Image>>& formats) {
    for (const auto& construct : formats) {
        try {
            return construct(opened.file, opened.readOnly, opened.name);
        } catch (const TDiskImage::EInvalidFormat&) {
            if (!opened.file.IsOpen()) {
                break;  // a format took the file over and then refused it
            }
        }
    }
    opened.file.Close();
    throw TDiskImage::EInvalidFormat();
}

}  // namespace

std::unique_ptr<TFloppyImage> OpenFloppyImage(const std::string& path, bool readOnly) {
    OpenedFile opened = OpenFirstCandidate(CandidateNames(path, {".dsk", ".dmk", ".jv1", ".jv3"}), readOnly);
    return TryFormats<TFloppyImage>(
        opened, {Construct<TFloppyImage, JV1>(), Construct<TFloppyImage, DMK>(), Construct<TFloppyImage, JV3>()});
}

std::unique_ptr<THardImage> OpenHardImage(const std::string& path, bool readOnly) {
    OpenedFile opened = OpenFirstCandidate(CandidateNames(path, {".hdv"}), readOnly);
    return TryFormats<THardImage>(
        opened, {Construct<THardImage, HDV2>(), Construct<THardImage, HDV1>(), Construct<THardImage, HDDCF>()});
}

std::unique_ptr<TFloppyImage> CreateFloppyImage(const std::string& path, int imageType, int trackCells) {
    THostFile file;
    if (int error = file.Create(path); error != 0) {
        if (error == ErrorJournalFolder) throw TDiskImage::EFileError(error, JournalBlockedText(path));
        throw TDiskImage::EFileError(error);
    }
    return CreateFloppyImageOn(std::move(file), imageType, path, trackCells);
}

std::unique_ptr<TFloppyImage> CreateFloppyImageOn(THostFile file, int imageType, const std::string& path,
                                                  int trackCells) {
    const std::vector<uint8_t> empty = imageType == ImageJV1   ? JV1::EmptyImage()
                                       : imageType == ImageJV3 ? JV3::EmptyImage()
                                                               : DMK::EmptyImage(trackCells);
    if (!file.WriteAt(0, empty.data(), empty.size())) {
        file.DiscardOnClose();  // a new file that could not be begun never takes its name
        throw TDiskImage::EFileError(file.LastError());
    }
    switch (imageType) {
        case ImageJV1:
            return std::make_unique<JV1>(file, false, path);
        case ImageJV3:
            return std::make_unique<JV3>(file, false, path);
        default:
            return std::make_unique<DMK>(file, false, path);
    }
}

}  // namespace DiskImage
