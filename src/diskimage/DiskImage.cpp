// The image base classes and the openers that recognise a file by trying the
// formats in a fixed order.
#include "diskimage/DiskImage.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>

#include "diskimage/DMK.h"
#include "diskimage/HDDCF.h"
#include "diskimage/HDV1.h"
#include "diskimage/HDV2.h"
#include "diskimage/HFE.h"
#include "diskimage/IMD.h"
#include "diskimage/JV1.h"
#include "diskimage/JV3.h"
#include "diskimage/JVC.h"
#include "diskimage/RawDump.h"

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

bool HasExtension(const std::string& name, const std::string& extension) {
    if (name.size() <= extension.size()) return false;
    for (size_t i = 0; i < extension.size(); ++i) {
        const char c = name[name.size() - extension.size() + i];
        if (std::tolower(static_cast<unsigned char>(c)) != extension[i]) return false;
    }
    return true;
}

// JV3 as the file's contents show it: a header block that lists sectors.
std::unique_ptr<TFloppyImage> ConstructListedJV3(THostFile& file, bool readOnly, const std::string& name) {
    std::vector<uint8_t> block(JV3::BlockBytes);
    if (!file.ReadAt(0, block.data(), block.size()) || !JV3::ListsSectors(block.data())) {
        throw TDiskImage::EInvalidFormat();
    }
    return std::make_unique<JV3>(file, readOnly, name);
}

// A JVC file with a header says what it is; one without is taken only when accept agrees.
std::unique_ptr<TFloppyImage> ConstructJVC(THostFile& file, bool readOnly, const std::string& name,
                                           const std::function<bool(JVC&)>& accept) {
    auto image = std::make_unique<JVC>(file, readOnly, name);
    if (accept(*image)) return image;
    file = image->ReleaseFile();
    throw TDiskImage::EInvalidFormat();
}

// A raw sector dump under the first geometry its size allows that recognised says a DOS knows.
std::unique_ptr<TFloppyImage> ConstructRawDump(THostFile& file, bool readOnly, const std::string& name,
                                               const TDosCheck& recognised) {
    if (!recognised) throw TDiskImage::EInvalidFormat();
    for (const auto& geometry : RawDump::GeometriesFor(file.Size())) {
        auto image = std::make_unique<RawDump>(file, readOnly, name, geometry);
        if (recognised(*image)) return image;
        file = image->ReleaseFile();
    }
    throw TDiskImage::EInvalidFormat();
}

}  // namespace

std::unique_ptr<TFloppyImage> OpenFloppyImage(const std::string& path, bool readOnly, const TDosCheck& dosCheck) {
    OpenedFile opened = OpenFirstCandidate(CandidateNames(path, {".dsk", ".dmk", ".jv1", ".jv3", ".jvc", ".imd", ".hfe"}), readOnly);
    // A file that begins with a format's signature is that format or damaged: never a guess
    // of another kind (a damaged HFE file is, by its size, a headerless JVC disk).
    uint8_t start[8] = {};
    const bool haveStart = opened.file.ReadAt(0, start, sizeof start);
    if (haveStart && std::memcmp(start, IMD::Signature, std::strlen(IMD::Signature)) == 0) {
        return TryFormats<TFloppyImage>(opened, {Construct<TFloppyImage, IMD>()});
    }
    if (haveStart && std::memcmp(start, HFE::Signature, std::strlen(HFE::Signature)) == 0) {
        return TryFormats<TFloppyImage>(opened, {Construct<TFloppyImage, HFE>()});
    }
    const bool namedJVC = HasExtension(opened.name, ".jvc");
    // A JVC file says what it is by its header or by its name; one with neither is taken
    // only when a DOS recognises its disk.
    auto jvcShown = [namedJVC](THostFile& file, bool ro, const std::string& name) {
        return ConstructJVC(file, ro, name, [namedJVC](JVC& image) { return namedJVC || image.HasHeader(); });
    };
    auto jvcRecognised = [&dosCheck](THostFile& file, bool ro, const std::string& name) {
        return ConstructJVC(file, ro, name,
                            [&dosCheck](JVC& image) { return dosCheck && image.GetTracks() > 0 && dosCheck(image); });
    };
    // Formats whose contents show them come first, a JVC file shown as one before any guess
    // from its first bytes; a headerless JVC comes before a JV3 whose header lists nothing,
    // which is all a sector dump beginning with 0xFF bytes looks like.
    std::vector<FormatConstructor<TFloppyImage>> formats = {Construct<TFloppyImage, JV1>(),
                                                            Construct<TFloppyImage, DMK>(), jvcShown,
                                                            ConstructListedJV3, jvcRecognised};
    // A raw dump has nothing of its own to show, so it is the last guess a DOS must confirm;
    // it still comes before a JV3 that lists nothing, which no dump of a DOS's disk is.
    formats.push_back([&](THostFile& file, bool ro, const std::string& name) {
        return ConstructRawDump(file, ro, name, dosCheck);
    });
    formats.push_back(Construct<TFloppyImage, JV3>());
    return TryFormats<TFloppyImage>(opened, formats);
}

std::unique_ptr<TFloppyImage> OpenFloppyImageAs(const std::string& path, int imageType, bool readOnly) {
    OpenedFile opened = OpenFirstCandidate({path}, readOnly);
    switch (imageType) {
        case ImageJV1:
            return TryFormats<TFloppyImage>(opened, {Construct<TFloppyImage, JV1>()});
        case ImageJV3:
            return TryFormats<TFloppyImage>(opened, {Construct<TFloppyImage, JV3>()});
        case ImageJVC:
            return TryFormats<TFloppyImage>(opened, {Construct<TFloppyImage, JVC>()});
        case ImageIMD:
            return TryFormats<TFloppyImage>(opened, {Construct<TFloppyImage, IMD>()});
        case ImageHFE:
            return TryFormats<TFloppyImage>(opened, {Construct<TFloppyImage, HFE>()});
        default:
            return TryFormats<TFloppyImage>(opened, {Construct<TFloppyImage, DMK>()});
    }
}

const std::vector<TImageTypeInfo>& WritableImageTypes() {
    static const std::vector<TImageTypeInfo> types = {
        {ImageJV1, "JV1", "jv1", "dsk", "single-density, one side, ten 256-byte sectors a track"},
        {ImageJV3, "JV3", "jv3", "jv3", "sectors of any size and density, data marks kept"},
        {ImageDMK, "DMK", "dmk", "dmk", "whole raw tracks, everything kept"},
        {ImageJVC, "JVC", "jvc", "dsk", "Color Computer sector image: double density, one geometry throughout"},
        {ImageIMD, "IMD", "imd", "imd", "archive of a real floppy: sectors with numbers, densities, deleted marks and errors"},
        {ImageHFE, "HFE", "hfe", "hfe", "floppy-emulator bit stream: every track as the drive plays it"},
    };
    return types;
}

const TImageTypeInfo* FindImageType(int imageType) {
    for (const auto& type : WritableImageTypes()) {
        if (type.Type == imageType) return &type;
    }
    return nullptr;
}

const TImageTypeInfo* FindImageTypeByKey(const std::string& key) {
    for (const auto& type : WritableImageTypes()) {
        if (key == type.Key) return &type;
    }
    return nullptr;
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
                                       : imageType == ImageJVC ? std::vector<uint8_t>()
                                       : imageType == ImageIMD ? IMD::EmptyImage()
                                       : imageType == ImageHFE ? HFE::EmptyImage()
                                                               : DMK::EmptyImage(trackCells);
    if (!empty.empty() && !file.WriteAt(0, empty.data(), empty.size())) {
        file.DiscardOnClose();  // a new file that could not be begun never takes its name
        throw TDiskImage::EFileError(file.LastError());
    }
    switch (imageType) {
        case ImageJV1:
            return std::make_unique<JV1>(file, false, path);
        case ImageJV3:
            return std::make_unique<JV3>(file, false, path);
        case ImageJVC:
            return std::make_unique<JVC>(file, false, path);
        case ImageIMD:
            return std::make_unique<IMD>(file, false, path);
        case ImageHFE:
            return std::make_unique<HFE>(file, false, path);
        default:
            return std::make_unique<DMK>(file, false, path);
    }
}

}  // namespace DiskImage
