// "Virtual disk properties", "File Properties" and "Preferences".
#pragma once

#include <QDialog>
#include <QMap>
#include <functional>
#include <vector>

#include "Preferences.h"
#include "UserPrompts.h"
#include "filesystem/FileSystem.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QGroupBox;
class QLineEdit;
class QRadioButton;

namespace FileSystem {
class MountedDisk;
}

namespace App {

// The PDRIVE text of a NEWDOS/80 file system, empty for any other.
QString PDriveTextOf(FileSystem::TFileSystem& fs);

// Shows the disk's properties and collects the changes asked for; the main window
// applies them, so that each reaches the image file in a safe order.
class CDiskInfoDialog : public QDialog {
    Q_OBJECT
public:
    CDiskInfoDialog(FileSystem::MountedDisk& disk, QWidget* parent = nullptr);

    // Why the disk could not be described, empty when it could: such a dialog is not shown.
    QString BuildError() const { return BuildProblem; }
    QString VolumeCaption() const;
    // The value shown beside a label ("Total capacity:", "Damaged:", ...), empty when absent.
    QString Value(const QString& label) const;
    QLineEdit* NameEdit() const { return Name; }
    QLineEdit* DateEdit() const { return Date; }
    QCheckBox* WriteProtectBox() const { return WriteProtect; }

    // The values the user changed.
    DiskPropertyChanges Changes() const;

    // Bytes as K with two decimals in the user's number format.
    static QString FormatK(qint64 bytes);

private:
    void AddVolumeRows(QFormLayout* form, FileSystem::TFileSystem& fs);
    void AddDiskRows(QFormLayout* form, FileSystem::TFileSystem& fs);
    void AddText(QFormLayout* form, const QString& label, const QString& value);

    QString BuildProblem;
    QGroupBox* Volume = nullptr;
    QLineEdit* Name = nullptr;
    QLineEdit* Date = nullptr;
    QCheckBox* WriteProtect = nullptr;
    QString InitialName;
    QString InitialDate;
    bool InitialProtect = false;
    QMap<QString, QString> Values;
};

// Makes the changes asked for in the dialog, each one step that commit saves to the
// image file: protection is lifted before the volume changes and set after them, so no
// step stands in another's way. A step that fails is reported and ends the rest, and
// what it changed in memory is undone, so the window never shows a value not saved.
void ApplyDiskProperties(FileSystem::MountedDisk& disk, const DiskPropertyChanges& changes, IUserPrompts& prompts,
                         const std::function<bool()>& commit);

class CFileInfoDialog : public QDialog {
    Q_OBJECT
public:
    // showError reports a failed rename (caption, text); the dialog then stays open.
    using ErrorReporter = std::function<void(const QString&, const QString&)>;
    CFileInfoDialog(FileSystem::TFileSystem& fs, int fileIndex, ErrorReporter showError, QWidget* parent = nullptr);

    QLineEdit* NameEdit() const { return Name; }
    QComboBox* TypeList() const { return Type; }
    // The attribute check boxes with the masks they stand for.
    const std::vector<std::pair<QCheckBox*, uint32_t>>& AttributeBoxes() const { return Attributes; }
    QString Value(const QString& label) const { return Values.value(label); }

    void accept() override;

private:
    FileSystem::TFileSystem& Fs;
    int FileIndex;
    ErrorReporter ShowError;
    QLineEdit* Name = nullptr;
    QComboBox* Type = nullptr;
    QString InitialName;
    int InitialType = -1;
    std::vector<std::pair<QCheckBox*, uint32_t>> Attributes;
    std::vector<bool> InitialAttributes;
    QMap<QString, QString> Values;
};

class CPreferencesDialog : public QDialog {
    Q_OBJECT
public:
    CPreferencesDialog(const TPreferences& preferences, QWidget* parent = nullptr);
    // The preferences with the dialog's choices.
    TPreferences Chosen() const;

    QRadioButton* OutButton(int conversion) const { return Out[conversion]; }
    QRadioButton* InButton(int conversion) const { return In[conversion]; }
    QCheckBox* DateCheckBox() const { return DisableDateCheck; }
    QCheckBox* EscapeBox() const { return ExitOnEscape; }

private:
    TPreferences Start;
    QRadioButton* Out[3];
    QRadioButton* In[3];
    QCheckBox* DisableDateCheck;
    QCheckBox* ExitOnEscape;
};

}  // namespace App
