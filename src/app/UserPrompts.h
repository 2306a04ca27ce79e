// Every question, message box and dialog the main window shows goes through
// this one interface. The program answers it with real windows
// (CDesktopPrompts); the tests answer it from a script.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "filesystem/FileSystem.h"
#include "filesystem/MountedDisk.h"

namespace FileSystem {
class MountedDisk;
}

namespace App {

struct TPreferences;

// The choices of the "Create New Floppy Image" dialog.
struct NewFloppySettings {
    int ImageType = 2;  // 0 JV1, 1 JV3, 2 DMK
    int DOSType = FileSystem::NewFloppyLDOS;  // a FileSystem::NewFloppyDos
    bool DoubleDensity = true;
    int Sides = 2;
    int Tracks = 40;
    QString VolumeName;
    QString VolumeDate;
};

// What the "Virtual disk properties" dialog was asked to change; nothing where the
// user left a value as it was.
struct DiskPropertyChanges {
    std::optional<QString> VolumeName;
    std::optional<QString> VolumeDate;
    std::optional<bool> WriteProtect;
};

// The answers to "Confirm File Overwrite" while extracting several files.
enum class OverwriteAnswer { Yes, YesToAll, No, NoToAll, Cancel };

// What to do with a disk image dropped onto the window of an open disk.
enum class DroppedImageAnswer { Open, AddAsFile, Cancel };

// Where to open a second disk while one is shown: in a window of its own, or in place of it.
enum class SecondDiskAnswer { NewWindow, Replace, Cancel };

// Judges a name typed into a dialog: empty when it will do, else what is wrong with it.
using NameProblem = std::function<QString(const QString& name)>;

class IUserPrompts {
public:
    virtual ~IUserPrompts() = default;

    // A message box with the stop icon and an OK button, brought to the front.
    virtual void ShowError(const QString& caption, const QString& text) = 0;
    // A question with Yes and No buttons and the stop icon; true for Yes.
    virtual bool AskYesNo(const QString& caption, const QString& text) = 0;
    // "Confirm File Overwrite": Yes, Yes to all, No, No to all and Cancel.
    virtual OverwriteAnswer AskOverwrite(const QString& caption, const QString& text) = 0;
    // A disk image was dropped on the window: open it (the default) or add it as a file.
    virtual DroppedImageAnswer AskOpenOrAdd(const QString& fileName) = 0;
    // Another disk is to be opened while one is shown: a new window (the default) or this one.
    virtual SecondDiskAnswer AskWhereToOpen(const QString& fileName) = 0;

    // Host file dialogs; an empty result means the user cancelled.
    virtual QString AskOpenFileName(const QString& title, const QStringList& filters) = 0;
    virtual QStringList AskOpenFileNames(const QString& title, const QStringList& filters) = 0;
    virtual QString AskSaveFileName(const QString& title, const QStringList& filters,
                                    const QString& defaultSuffix) = 0;

    // "Rename File": the new name, or nothing on Cancel. A name with a problem is
    // refused in the dialog, which says why and stays open.
    virtual std::optional<QString> AskRename(const QString& oldName, const NameProblem& problemOf) = 0;
    // The invalid-name "Rename File" dialog, with the file system's naming rule: the
    // entered name, or nothing on Cancel.
    virtual std::optional<QString> AskValidName(const QString& rejectedName, const QString& rule) = 0;
    // "Confirm File Replace": true for Yes.
    virtual bool AskReplace(FileSystem::TFileSystem& fs, int existingIndex, const QString& newName, qint64 newSize,
                            const FileSystem::FileDate& newDate) = 0;
    // "Extract": nothing on Cancel, else whether "All files" was chosen; the folder
    // the user chose is left in directory.
    virtual std::optional<bool> AskExtract(int selectedCount, QString& directory) = 0;
    // A host folder to write into; empty when the user cancelled.
    virtual QString AskFolder(const QString& title) = 0;

    // The file viewer. fontType is changed only when the viewer is closed with "Done".
    virtual void ShowViewer(FileSystem::TFileSystem& fs, int fileIndex, int& fontType) = 0;

    // "Create New Floppy Image": the choices, or nothing on Cancel.
    virtual std::optional<NewFloppySettings> AskNewFloppy() = 0;
    // "Virtual disk properties": the changes asked for, or nothing on Cancel (or when
    // the disk could not be described; the user is then told why).
    virtual std::optional<DiskPropertyChanges> ShowDiskProperties(FileSystem::MountedDisk& disk) = 0;
    // "File Properties": true when closed with OK.
    virtual bool ShowFileProperties(FileSystem::TFileSystem& fs, int fileIndex) = 0;
    // "Preferences": true when the user pressed OK (preferences then hold the choices).
    virtual bool EditPreferences(TPreferences& preferences) = 0;
    virtual void ShowAbout() = 0;
    // What the program does and the keys it answers to.
    virtual void ShowHelp() = 0;
};

}  // namespace App
