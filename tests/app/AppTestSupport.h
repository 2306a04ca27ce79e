// Test doubles for the desktop program: an in-memory disk with a file system
// whose attributes, capacity and refusals a test sets directly, and prompts
// that answer from a script and record every question.
#pragma once

#include <QString>
#include <QStringList>
#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "DatePatchCheck.h"
#include "MainFrame.h"
#include "Preferences.h"
#include "UserPrompts.h"
#include "diskimage/DiskImage.h"
#include "filesystem/FileSystem.h"
#include "filesystem/MountedDisk.h"

namespace AppTest {

using FileSystem::FileDate;
using FileSystem::TFileSystem;

class FakeImage : public DiskImage::TDiskImage {
public:
    explicit FakeImage(int writeProtect = 0, bool hard = false) : Protect(writeProtect), Hard(hard) {
        FileName = "/tmp/fake.dsk";
    }
    int GetWriteProtect() const override { return Protect; }
    void SetWriteProtect(bool on) override {
        if (Protect != 2) Protect = on ? 1 : 0;  // a read-only file stays protected
    }
    bool CanSetWriteProtect() const override { return CanProtect; }
    std::string GetFormatName() const override { return Hard ? "HDV" : "JV3"; }
    int IsHardDisk() const override { return Hard ? 1 : 0; }

    int Protect;
    bool Hard;
    bool CanProtect = true;
};

struct FakeFile {
    std::string Name;
    std::string Extension;
    std::vector<uint8_t> Bytes;
    FileDate Date;
    uint32_t Attributes = 0;
    int Type = 0;
};

inline FileDate MakeDate(int year, int month, int day, int hour = -1, int minute = 0) {
    FileDate date;
    date.HasDate = true;
    date.Year = year;
    date.Month = month;
    date.Day = day;
    if (hour >= 0) {
        date.HasTime = true;
        date.Hour = hour;
        date.Minute = minute;
    }
    return date;
}

// A TRSDOS-like file system in memory: names of 1-8 letters and digits, an
// extension of up to 3, '/' between them; invisible and system files are
// listed only when asked for; capacity counts bytes.
class FakeFileSystem : public TFileSystem {
public:
    explicit FakeFileSystem(DiskImage::TDiskImage* image) : TFileSystem(image) {}

    int GetFileSystemType() override { return Family; }
    int GetFreeSpace() override {
        int used = 0;
        for (const auto& file : Files) {
            if (file) used += static_cast<int>(file->Bytes.size());
        }
        return Capacity - used;
    }
    int GetCapacity() override { return Capacity; }
    std::vector<uint8_t> ReadFile(int fileIndex) override {
        if (ReadFails) throw EFileError(5);
        return At(fileIndex).Bytes;
    }
    bool RewriteFile(int fileIndex, const std::vector<uint8_t>& data) override {
        At(fileIndex).Bytes = data;
        return true;
    }
    bool CreateFile(const std::string& name, const std::vector<uint8_t>& data, const FileDate& date) override {
        if (static_cast<int>(data.size()) > GetFreeSpace()) throw EDiskFull();
        auto file = std::make_unique<FakeFile>();
        SplitName(name, file->Name, file->Extension);
        file->Bytes = data;
        file->Date = date;
        Files.push_back(std::move(file));
        return true;
    }
    bool DeleteFile(int fileIndex) override {
        if (DeleteFails) throw EIllegalFileIndex();
        At(fileIndex);
        Files[static_cast<size_t>(fileIndex)].reset();
        return true;
    }
    bool RenameFile(int fileIndex, const std::string& newName) override {
        if (!IsValidFilename(newName)) throw EInvalidFilename();
        if (FindFile(newName) >= 0) throw EFileExists();
        SplitName(newName, At(fileIndex).Name, At(fileIndex).Extension);
        return true;
    }
    std::vector<int> ListFiles(const std::vector<std::string>&, int flags) override {
        if (ListFails) throw EInvalidFormat();
        std::vector<int> indices;
        for (size_t i = 0; i < Files.size(); ++i) {
            if (!Files[i]) continue;
            const uint32_t attributes = Files[i]->Attributes;
            if ((attributes & FileSystem::AttrInvisible) && !(flags & FileSystem::ListInvisible)) continue;
            if ((attributes & FileSystem::AttrSystem) && !(flags & FileSystem::ListSystem)) continue;
            indices.push_back(static_cast<int>(i));
        }
        return indices;
    }
    std::string GetFileName(int fileIndex) override { return At(fileIndex).Name; }
    std::string GetFileExtension(int fileIndex) override { return At(fileIndex).Extension; }
    int GetFileSize(int fileIndex) override { return static_cast<int>(At(fileIndex).Bytes.size()); }
    int FindFile(const std::string& name) override {
        std::string base;
        std::string extension;
        SplitName(name, base, extension);
        for (size_t i = 0; i < Files.size(); ++i) {
            if (Files[i] && Files[i]->Name == base && Files[i]->Extension == extension) return static_cast<int>(i);
        }
        return -1;
    }
    bool IsValidFilename(const std::string& name) override {
        std::string base;
        std::string extension;
        if (std::count(name.begin(), name.end(), '/') + std::count(name.begin(), name.end(), '.') > 1) return false;
        SplitName(name, base, extension);
        auto valid = [](const std::string& part) {
            return std::all_of(part.begin(), part.end(), [](char c) { return std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)); });
        };
        return !base.empty() && base.size() <= 8 && extension.size() <= 3 && valid(base) && valid(extension);
    }
    void Flush() override {
        // As a real DOS: its directory reaches the image only when it may be written.
        if (!Dirty) return;
        if (FlushFails) throw EFileError(5);
        if (GetImage() != nullptr && GetImage()->GetWriteProtect() != 0) throw EWriteProtected();
        Dirty = false;
    }
    std::vector<FileSystem::AttributeDescriptor> GetAttributeList() override {
        return {{"Invisible", 'I', true, FileSystem::AttrInvisible},
                {"System", 'S', true, FileSystem::AttrSystem},
                {"Deleted", 'D', true, FileSystem::AttrDeleted},
                {"Read-only", 'R', true, FileSystem::AttrReadOnly}};
    }
    bool HasAttribute(int fileIndex, uint32_t mask) override { return (At(fileIndex).Attributes & mask) != 0; }
    void SetAttribute(int fileIndex, uint32_t mask, bool on) override {
        if (on) At(fileIndex).Attributes |= mask;
        else At(fileIndex).Attributes &= ~mask;
    }
    char GetExtensionSeparator() override { return '/'; }
    std::string GetDiskName() override { return DiskName; }
    void SetDiskName(const std::string& name) override {
        CheckWritable();
        DiskName = name;
        Dirty = true;
    }
    std::string GetDiskDate() override { return DiskDate; }
    void SetDiskDate(const std::string& date) override {
        CheckWritable();
        DiskDate = date;
        Dirty = true;
    }
    bool SupportsDiskName() override { return true; }
    bool SupportsDiskDate() override { return true; }
    FileDate GetFileDate(int fileIndex) override { return At(fileIndex).Date; }
    void SetFileDate(int fileIndex, const FileDate& date) override { At(fileIndex).Date = date; }
    void SetFileName(int fileIndex, const std::string& name) override { At(fileIndex).Name = name; }
    bool SupportsAttribute(uint32_t mask) override { return AttributesSupported && (mask & 0x1F00) != 0; }
    bool SupportsWriting() override { return Writable; }
    std::string GetDOSName(bool family) override { return family ? FamilyName : DOSName; }
    bool OffersDatePatches() override { return FamilyName == "LDOS"; }
    bool SupportsUserAreas() override { return !Users.empty(); }
    int GetUserArea(int fileIndex) override {
        At(fileIndex);
        return Users.count(fileIndex) ? Users[fileIndex] : -1;
    }
    std::string GetFilenameRule() override { return "A name is 1 to 8 capitals and digits"; }

    // Adds a file directly; returns its index.
    int Add(const std::string& name, const std::string& extension, std::vector<uint8_t> bytes = {},
            uint32_t attributes = 0, FileDate date = MakeDate(1985, 6, 1, 12, 30)) {
        auto file = std::make_unique<FakeFile>();
        file->Name = name;
        file->Extension = extension;
        file->Bytes = std::move(bytes);
        file->Attributes = attributes;
        file->Date = date;
        Files.push_back(std::move(file));
        return static_cast<int>(Files.size()) - 1;
    }
    int Count() const {
        return static_cast<int>(std::count_if(Files.begin(), Files.end(), [](const auto& f) { return f != nullptr; }));
    }
    FakeFile* Find(const std::string& fullName) {
        const int index = FindFile(fullName);
        return index < 0 ? nullptr : Files[static_cast<size_t>(index)].get();
    }

    std::vector<std::unique_ptr<FakeFile>> Files;
    int Capacity = 100000;
    int Family = 0;
    bool Writable = true;
    bool AttributesSupported = true;
    bool ReadFails = false;
    bool DeleteFails = false;
    bool ListFails = false;
    bool FlushFails = false;
    bool Dirty = false;  // changed since the last Flush
    std::map<int, int> Users;  // the user area of each file, on a disk with user areas
    std::string DOSName = "TRSDOS 2.3";
    std::string FamilyName = "TRSDOS";
    std::string DiskName = "TESTDISK";
    std::string DiskDate = "01/02/85";

private:
    void CheckWritable() {
        if (GetImage() != nullptr && GetImage()->GetWriteProtect() != 0) throw EWriteProtected();
    }
    FakeFile& At(int fileIndex) {
        if (fileIndex < 0 || fileIndex >= static_cast<int>(Files.size()) || !Files[static_cast<size_t>(fileIndex)]) {
            throw EIllegalFileIndex();
        }
        return *Files[static_cast<size_t>(fileIndex)];
    }
    static void SplitName(const std::string& name, std::string& base, std::string& extension) {
        const size_t separator = name.find_first_of("/.");
        base = name.substr(0, separator);
        extension = separator == std::string::npos ? std::string() : name.substr(separator + 1);
    }
};

// One recorded question or message.
struct Shown {
    QString Kind;  // "error", "question", "rename", "validname", "replace", "extract", "viewer", ...
    QString Caption;
    QString Text;
};

class ScriptedPrompts : public App::IUserPrompts {
public:
    void ShowError(const QString& caption, const QString& text) override { Log.push_back({"error", caption, text}); }
    bool AskYesNo(const QString& caption, const QString& text) override {
        Log.push_back({"question", caption, text});
        return Next(YesNo, true);
    }
    App::OverwriteAnswer AskOverwrite(const QString& caption, const QString& text) override {
        Log.push_back({"overwrite", caption, text});
        return Next(Overwrites, App::OverwriteAnswer::Yes);
    }
    App::DroppedImageAnswer AskOpenOrAdd(const QString& fileName) override {
        Log.push_back({"dropimage", {}, fileName});
        return Next(DroppedImages, App::DroppedImageAnswer::Open);
    }
    App::SecondDiskAnswer AskWhereToOpen(const QString& fileName) override {
        Log.push_back({"wheretoopen", {}, fileName});
        return Next(SecondDisks, App::SecondDiskAnswer::Replace);
    }
    QString AskOpenFileName(const QString& title, const QStringList&) override {
        Log.push_back({"open", title, {}});
        return Next(OpenNames, QString());
    }
    QStringList AskOpenFileNames(const QString& title, const QStringList&) override {
        Log.push_back({"openmany", title, {}});
        return Next(OpenManyNames, QStringList());
    }
    QString AskSaveFileName(const QString& title, const QStringList&, const QString& defaultSuffix) override {
        Log.push_back({"save", title, defaultSuffix});
        return Next(SaveNames, QString());
    }
    // As the dialog: a name with a problem is shown the problem and another is taken.
    std::optional<QString> AskRename(const QString& oldName, const App::NameProblem& problemOf) override {
        Log.push_back({"rename", {}, oldName});
        for (;;) {
            const std::optional<QString> answer = Next(Renames, std::optional<QString>());
            if (!answer) return answer;
            const QString problem = problemOf(*answer);
            if (problem.isEmpty()) return answer;
            Log.push_back({"renameproblem", *answer, problem});
        }
    }
    std::optional<QString> AskValidName(const QString& rejectedName, const QString& rule) override {
        Log.push_back({"validname", rule, rejectedName});
        return Next(ValidNames, std::optional<QString>());
    }
    bool AskReplace(TFileSystem& fs, int existingIndex, const QString& newName, qint64 newSize,
                    const FileDate&) override {
        Log.push_back({"replace", QString::fromStdString(fs.GetFullFileName(existingIndex)),
                       newName + " " + QString::number(newSize)});
        return Next(Replaces, false);
    }
    std::optional<bool> AskExtract(int selectedCount, QString& directory) override {
        Log.push_back({"extract", {}, QString::number(selectedCount)});
        if (!ExtractDirectory.isEmpty()) directory = ExtractDirectory;
        return Next(Extracts, std::optional<bool>());
    }
    QString AskFolder(const QString& title) override {
        Log.push_back({"folder", title, {}});
        return Next(Folders, QString());
    }
    void ShowViewer(TFileSystem& fs, int fileIndex, int& fontType) override {
        Log.push_back({"viewer", {}, QString::fromStdString(fs.GetFullFileName(fileIndex))});
        if (ViewerFontType) fontType = *ViewerFontType;
    }
    std::optional<App::NewFloppySettings> AskNewFloppy() override {
        Log.push_back({"newfloppy", {}, {}});
        return Next(NewFloppies, std::optional<App::NewFloppySettings>());
    }
    std::optional<App::DiskPropertyChanges> ShowDiskProperties(FileSystem::MountedDisk&) override {
        Log.push_back({"diskproperties", {}, {}});
        return Next(DiskChanges, std::optional<App::DiskPropertyChanges>());
    }
    bool ShowFileProperties(TFileSystem& fs, int fileIndex) override {
        Log.push_back({"fileproperties", {}, QString::fromStdString(fs.GetFullFileName(fileIndex))});
        return true;
    }
    bool EditPreferences(App::TPreferences&) override {
        Log.push_back({"preferences", {}, {}});
        return false;
    }
    void ShowAbout() override { Log.push_back({"about", {}, {}}); }
    void ShowHelp() override { Log.push_back({"help", {}, {}}); }

    // The recorded entries of one kind.
    std::vector<Shown> OfKind(const QString& kind) const {
        std::vector<Shown> found;
        for (const Shown& shown : Log) {
            if (shown.Kind == kind) found.push_back(shown);
        }
        return found;
    }

    std::deque<bool> YesNo;
    std::deque<QString> OpenNames;
    std::deque<QStringList> OpenManyNames;
    std::deque<QString> SaveNames;
    std::deque<QString> Folders;
    std::deque<std::optional<QString>> Renames;
    std::deque<std::optional<QString>> ValidNames;
    std::deque<bool> Replaces;
    std::deque<std::optional<bool>> Extracts;
    std::deque<std::optional<App::NewFloppySettings>> NewFloppies;
    std::deque<App::OverwriteAnswer> Overwrites;
    std::deque<App::DroppedImageAnswer> DroppedImages;
    std::deque<App::SecondDiskAnswer> SecondDisks;
    std::deque<std::optional<App::DiskPropertyChanges>> DiskChanges;
    std::optional<int> ViewerFontType;
    QString ExtractDirectory;
    std::vector<Shown> Log;

private:
    template <typename T>
    static T Next(std::deque<T>& answers, T fallback) {
        if (answers.empty()) return fallback;
        T answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class FakeDatePatcher : public App::IDatePatcher {
public:
    App::DatePatchOffer GetState(TFileSystem&) override {
        ++StateCalls;
        return State;
    }
    bool Apply(TFileSystem&, int variant, int kind) override {
        Applied.push_back({variant, kind});
        return true;
    }
    App::DatePatchOffer State;
    int StateCalls = 0;
    std::vector<std::pair<int, int>> Applied;
};

// A mounted disk of fake partitions; the file systems stay reachable through the pointers.
struct FakeDisk {
    std::unique_ptr<FileSystem::MountedDisk> Disk = std::make_unique<FileSystem::MountedDisk>();
    FakeImage* Image = nullptr;
    std::vector<FakeFileSystem*> Partitions;

    explicit FakeDisk(int partitions = 1, int writeProtect = 0) {
        auto image = std::make_unique<FakeImage>(writeProtect, partitions > 1);
        Image = image.get();
        Disk->Image = std::move(image);
        for (int i = 0; i < partitions; ++i) {
            auto fs = std::make_unique<FakeFileSystem>(Image);
            Partitions.push_back(fs.get());
            Disk->FileSystems.push_back(std::move(fs));
        }
    }
    FakeFileSystem& Fs(int partition = 0) { return *Partitions[static_cast<size_t>(partition)]; }
};

}  // namespace AppTest
