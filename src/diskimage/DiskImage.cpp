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
    if (!Flush()) {
        throw EFileError(GetLastHostError() != 0 ? GetLastHostError() : EIO);
    }
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

// JV3 as the file's contents show it: a header block that lists sectors the file holds.
// A JV3 cut short is still opened, by the last guess of all.
std::unique_ptr<TFloppyImage> ConstructListedJV3(THostFile& file, bool readOnly, const std::string& name) {
    std::vector<uint8_t> block(JV3::BlockBytes);
    const int64_t size = file.Size();
    if (size < 0 || !file.ReadAt(0, block.data(), block.size()) ||
        !JV3::ListsSectorsWithin(block.data(), static_cast<uint64_t>(size))) {
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

// One way of reading a file that has no layout of its own: the image under that layout, or
// EInvalidFormat with the file left to the caller.
using LayoutReading = std::function<std::unique_ptr<TFloppyImage>(THostFile&)>;

std::vector<LayoutReading> RawDumpReadings(int64_t fileSize, bool readOnly, const std::string& name) {
    std::vector<LayoutReading> readings;
    for (const auto& geometry : RawDump::GeometriesFor(fileSize)) {
        readings.push_back([geometry, readOnly, name](THostFile& file) -> std::unique_ptr<TFloppyImage> {
            return std::make_unique<RawDump>(file, readOnly, name, geometry);
        });
    }
    return readings;
}

// The file under the reading judge ranks highest, the first of equal ones. Every reading is
// judged until one ranks best of all, which is taken at once; any other winner is built and
// judged again, so that the last disk judged is always the one returned (a caller may keep
// what its judgement found).
std::unique_ptr<TFloppyImage> ConstructBestReading(THostFile& file, const std::vector<LayoutReading>& readings,
                                                   const TDosCheck& judge) {
    if (!judge) throw TDiskImage::EInvalidFormat();
    int bestRank = 0;
    size_t best = readings.size();
    for (size_t index = 0; index < readings.size(); ++index) {
        std::unique_ptr<TFloppyImage> image;
        try {
            image = readings[index](file);
        } catch (const TDiskImage::EInvalidFormat&) {
            continue;  // the file is no disk of this layout
        }
        const int rank = judge(*image).Rank();
        if (rank == TDosReading::BestRank) return image;
        if (rank > bestRank) {
            bestRank = rank;
            best = index;
        }
        file = image->ReleaseFile();
    }
    if (best == readings.size()) throw TDiskImage::EInvalidFormat();
    auto image = readings[best](file);
    judge(*image);
    return image;
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
    // A JVC file says what it is by its header or by its name; one with neither is read as
    // a JVC disk and as a raw dump of every layout its size allows, and taken under the
    // layout its DOS reads best.
    auto jvcShown = [namedJVC](THostFile& file, bool ro, const std::string& name) {
        return ConstructJVC(file, ro, name, [namedJVC](JVC& image) { return namedJVC || image.HasHeader(); });
    };
    auto bestGuess = [&dosCheck](THostFile& file, bool ro, const std::string& name) {
        std::vector<LayoutReading> readings = {[ro, &name](THostFile& source) {
            return ConstructJVC(source, ro, name, [](JVC& image) { return image.GetTracks() > 0; });
        }};
        for (auto& reading : RawDumpReadings(file.Size(), ro, name)) readings.push_back(std::move(reading));
        return ConstructBestReading(file, readings, dosCheck);
    };
    // Formats whose contents show them come first, a JVC file shown as one before any guess
    // from its first bytes. The headerless readings come before a JV3 whose header lists
    // nothing, which is all a sector dump beginning with 0xFF bytes looks like, and which no
    // dump of a DOS's disk is.
    std::vector<FormatConstructor<TFloppyImage>> formats = {Construct<TFloppyImage, JV1>(),
                                                            Construct<TFloppyImage, DMK>(), jvcShown,
                                                            ConstructListedJV3, bestGuess};
    formats.push_back(Construct<TFloppyImage, JV3>());
    return TryFormats<TFloppyImage>(opened, formats);
}

std::unique_ptr<TFloppyImage> OpenFloppyImageAs(const std::string& path, int imageType, bool readOnly,
                                                const TDosCheck& recognised) {
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
        case ImageRaw: {
            const TDosCheck acceptAny = [](TFloppyImage&) { return true; };
            return TryFormats<TFloppyImage>(opened, {[&](THostFile& file, bool ro, const std::string& name) {
                                                return ConstructBestReading(file, RawDumpReadings(file.Size(), ro, name),
                                                                            recognised ? recognised : acceptAny);
                                            }});
        }
        default:
            return TryFormats<TFloppyImage>(opened, {Construct<TFloppyImage, DMK>()});
    }
}

const std::vector<TImageTypeInfo>& WritableImageTypes() {
    static const std::vector<TImageTypeInfo> types = {
        {ImageJV1, "JV1", "jv1", "dsk", "single-density, one side, ten 256-byte sectors a track"},
        {ImageJV3, "JV3", "jv3", "jv3", "sectors of any size and density, data marks kept"},
        {ImageDMK, "DMK", "dmk", "dmk", "whole raw tracks, everything kept"},
        {ImageJVC, "JVC", "jvc", "dsk", "Color Computer sector image: double density, one geometry throughout", false},
        {ImageIMD, "IMD", "imd", "imd", "archive of a real floppy: sectors with numbers, densities, deleted marks and errors"},
        {ImageHFE, "HFE", "hfe", "hfe", "floppy-emulator bit stream: every track as the drive plays it"},
        {ImageRaw, "raw sector dump", "raw", "img",
         "sector data only, as cpmtools and dd read it: one layout throughout, no marks kept", false},
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
                                       : imageType == ImageJVC || imageType == ImageRaw ? std::vector<uint8_t>()
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
        case ImageRaw:
            return std::make_unique<RawDump>(file, path);
        default:
            return std::make_unique<DMK>(file, false, path);
    }
}

}  // namespace DiskImage
