#include "PropertyDialogs.h"

#include <QCheckBox>
#include <algorithm>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRadioButton>
#include <QVBoxLayout>

#include "AppText.h"
#include "filesystem/MountedDisk.h"

namespace App {

using FileSystem::TFileSystem;

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QLabel* ValueLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

QString PDriveTextOf(TFileSystem& fs) { return ToQ(fs.GetPDrive().value_or(std::string())); }

QString CDiskInfoDialog::FormatK(qint64 bytes) { return QLocale().toString(bytes / 1024.0, 'f', 2) + "K"; }

void CDiskInfoDialog::AddText(QFormLayout* form, const QString& label, const QString& value) {
    Values[label] = value;
    form->addRow(label, ValueLabel(value));
}

CDiskInfoDialog::CDiskInfoDialog(FileSystem::MountedDisk& disk, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Virtual disk properties");
    auto* layout = new QVBoxLayout(this);
    TFileSystem* fs = disk.Current();
    if (fs == nullptr || !disk.Image) {
        BuildProblem = "No disk is open.";
        return;
    }
    const int partitions = static_cast<int>(disk.FileSystems.size());
    const QString caption = partitions > 1 ? QString("Partition %1 information (%2 partitions total)")
                                                 .arg(QLocale().toString(disk.CurrentPartition))
                                                 .arg(QLocale().toString(partitions))
                                           : QString("Volume information");
    Volume = new QGroupBox(caption);
    auto* diskGroup = new QGroupBox("Disk information");
    try {
        AddVolumeRows(new QFormLayout(Volume), *fs);
        AddDiskRows(new QFormLayout(diskGroup), *fs);
    } catch (const std::exception& error) {
        // A half-described disk would invite changes to values never read.
        BuildProblem = QString::fromLocal8Bit(error.what());
        return;
    }
    InitialProtect = disk.Image->GetWriteProtect() != 0;
    WriteProtect = new QCheckBox("Write protected");
    WriteProtect->setChecked(InitialProtect);
    WriteProtect->setEnabled(disk.Image->CanSetWriteProtect());
    static_cast<QFormLayout*>(diskGroup->layout())->addRow(WriteProtect);
    layout->addWidget(Volume);
    layout->addWidget(diskGroup);
    layout->addWidget(OkCancel(this));
}

void CDiskInfoDialog::AddVolumeRows(QFormLayout* form, TFileSystem& fs) {
    // Values a DOS cannot change are shown read-only, legible rather than greyed.
    const bool writable = fs.SupportsWriting();
    if (fs.SupportsDiskName()) {
        InitialName = ToQ(fs.GetDiskName());
        Name = new QLineEdit(InitialName);
        Name->setMaxLength(8);
        Name->setReadOnly(!writable);
        form->addRow("Volume name:", Name);
    }
    if (fs.SupportsDiskDate()) {
        InitialDate = ToQ(fs.GetDiskDate());
        Date = new QLineEdit(InitialDate);
        Date->setMaxLength(8);
        Date->setReadOnly(!writable);
        form->addRow("Volume date:", Date);
    }
    AddText(form, "Total capacity:", FormatK(fs.GetCapacity()));
    AddText(form, "Free space:", FormatK(fs.GetFreeSpace()));
    AddText(form, "File system:", ToQ(fs.GetDOSName(false)));
    AddText(form, "Damaged:", fs.ReadError ? "Yes" : "No");
}

void CDiskInfoDialog::AddDiskRows(QFormLayout* form, TFileSystem& fs) {
    AddText(form, "Filename:", QString::fromLocal8Bit(fs.GetImageFileName()));
    AddText(form, "Format:", ToQ(fs.GetImageFormatName()));
    if (fs.GetPDrive()) {
        auto* pdrive = new QLineEdit(PDriveTextOf(fs));
        pdrive->setReadOnly(true);
        Values["PDRIVE:"] = pdrive->text();
        form->addRow("PDRIVE:", pdrive);
    }
}

QString CDiskInfoDialog::VolumeCaption() const { return Volume != nullptr ? Volume->title() : QString(); }

QString CDiskInfoDialog::Value(const QString& label) const { return Values.value(label); }

DiskPropertyChanges CDiskInfoDialog::Changes() const {
    DiskPropertyChanges changes;
    if (Name != nullptr && !Name->isReadOnly() && Name->text() != InitialName) changes.VolumeName = Name->text();
    if (Date != nullptr && !Date->isReadOnly() && Date->text() != InitialDate) changes.VolumeDate = Date->text();
    if (WriteProtect != nullptr && WriteProtect->isEnabled() && WriteProtect->isChecked() != InitialProtect) {
        changes.WriteProtect = WriteProtect->isChecked();
    }
    return changes;
}

namespace {

const QString DiskPropertiesCaption = "Disk Properties Error";

bool SetWriteProtect(DiskImage::TDiskImage& image, bool on, IUserPrompts& prompts,
                     const std::function<bool()>& commit) {
    const QString failure = on ? "The disk image could not be write protected: "
                               : "The write protection could not be removed: ";
    try {
        image.SetWriteProtect(on);
    } catch (const std::exception& error) {
        prompts.ShowError(DiskPropertiesCaption, failure + QString::fromLocal8Bit(error.what()));
        return false;
    }
    if ((image.GetWriteProtect() != 0) != on) {
        // Only a read-only image file keeps its protection whatever is asked.
        prompts.ShowError(DiskPropertiesCaption, failure + "the image file itself is read-only.");
        return false;
    }
    if (commit()) return true;
    image.SetWriteProtect(!on);
    return false;
}

bool ChangeVolume(TFileSystem& fs, const DiskPropertyChanges& changes, IUserPrompts& prompts,
                  const std::function<bool()>& commit) {
    const std::string oldName = fs.GetDiskName();
    const std::string oldDate = fs.GetDiskDate();
    bool nameSet = false;
    bool dateSet = false;
    auto restore = [&] {
        try {
            if (nameSet) fs.SetDiskName(oldName);
            if (dateSet) fs.SetDiskDate(oldDate);
        } catch (const std::exception&) {
            // Putting back what the disk holds fails only where setting failed too.
        }
    };
    try {
        if (changes.VolumeName) {
            fs.SetDiskName(FromQ(*changes.VolumeName));
            nameSet = true;
        }
        if (changes.VolumeDate) {
            fs.SetDiskDate(FromQ(*changes.VolumeDate));
            dateSet = true;
        }
    } catch (const std::exception& error) {
        restore();
        const QString what = changes.VolumeName && !nameSet ? "volume name" : "volume date";
        prompts.ShowError(DiskPropertiesCaption,
                          "The " + what + " could not be changed: " + QString::fromLocal8Bit(error.what()));
        return false;
    }
    if (commit()) return true;
    restore();
    return false;
}

}  // namespace

void ApplyDiskProperties(FileSystem::MountedDisk& disk, const DiskPropertyChanges& changes, IUserPrompts& prompts,
                         const std::function<bool()>& commit) {
    TFileSystem* fs = disk.Current();
    if (fs == nullptr || !disk.Image) return;
    if (changes.WriteProtect == false && !SetWriteProtect(*disk.Image, false, prompts, commit)) return;
    if ((changes.VolumeName || changes.VolumeDate) && !ChangeVolume(*fs, changes, prompts, commit)) return;
    if (changes.WriteProtect == true) SetWriteProtect(*disk.Image, true, prompts, commit);
}

CFileInfoDialog::CFileInfoDialog(TFileSystem& fs, int fileIndex, ErrorReporter showError, QWidget* parent)
    : QDialog(parent), Fs(fs), FileIndex(fileIndex), ShowError(std::move(showError)) {
    setWindowTitle("File Properties");
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    const DiskImage::TDiskImage* image = fs.GetImage();
    const bool locked = (image != nullptr && image->GetWriteProtect() != 0) || fs.ReadError || !fs.SupportsWriting();
    try {
        // What cannot change stays legible: read-only text, greyed only where it is a choice.
        InitialName = ToQ(fs.GetDisplayName(fileIndex));
        Name = new QLineEdit(InitialName);
        Name->setReadOnly(locked);
        form->addRow("Filename:", Name);
        Values["Date:"] = FormatFileDate(fs.GetFileDate(fileIndex));
        form->addRow("Date:", ValueLabel(Values["Date:"]));
        Values["Size:"] = FormatSize(fs.GetFileSize(fileIndex)) + " bytes";
        form->addRow("Size:", ValueLabel(Values["Size:"]));
        const std::vector<std::string> types = fs.SupportsFileTypes() ? fs.GetFileTypeList() : std::vector<std::string>{};
        if (!types.empty()) {
            InitialType = fs.GetFileType(fileIndex);
            if (locked) {
                const bool known = InitialType >= 0 && InitialType < static_cast<int>(types.size());
                Values["File type:"] = known ? ToQ(types[static_cast<size_t>(InitialType)]) : QString();
                form->addRow("File type:", ValueLabel(Values["File type:"]));
            } else {
                Type = new QComboBox;
                for (const std::string& type : types) Type->addItem(ToQ(type));
                Type->setCurrentIndex(InitialType);
                form->addRow("File type:", Type);
            }
        }
        auto* boxes = new QVBoxLayout;
        for (const FileSystem::AttributeDescriptor& attribute : fs.GetAttributeList()) {
            if (!attribute.Shown) continue;
            auto* box = new QCheckBox(ToQ(attribute.Name));
            const bool on = fs.HasAttribute(fileIndex, attribute.Mask);
            box->setChecked(on);
            box->setEnabled(!locked);
            boxes->addWidget(box);
            Attributes.emplace_back(box, attribute.Mask);
            InitialAttributes.push_back(on);
        }
        if (!Attributes.empty()) form->addRow("Attributes:", boxes);
        else delete boxes;
    } catch (const TFileSystem::Exception&) {
        // Show what could be read.
    }
    layout->addWidget(OkCancel(this));
}

void CFileInfoDialog::accept() {
    if (Name != nullptr && !Name->isReadOnly() && Name->text() != InitialName) {
        try {
            if (!Fs.RenameFile(FileIndex, FromQ(Name->text()))) {
                if (ShowError) ShowError("Rename error", "Error renaming file: its directory records are damaged");
                return;
            }
            InitialName = Name->text();
        } catch (const TFileSystem::Exception& error) {
            if (ShowError) ShowError("Rename error", "Error renaming file: " + ErrorText(Fs, error));
            return;
        }
    }
    try {
        if (Type != nullptr && Fs.SupportsFileTypes() && Type->currentIndex() != InitialType) {
            Fs.SetFileType(FileIndex, Type->currentIndex());
        }
    } catch (const TFileSystem::Exception&) {
    }
    for (size_t i = 0; i < Attributes.size(); ++i) {
        const bool on = Attributes[i].first->isChecked();
        if (on == InitialAttributes[i]) continue;
        try {
            Fs.SetAttribute(FileIndex, Attributes[i].second, on);
        } catch (const TFileSystem::Exception&) {
        }
    }
    QDialog::accept();
}

CPreferencesDialog::CPreferencesDialog(const TPreferences& preferences, QWidget* parent)
    : QDialog(parent),
      Start(preferences),
      Out{new QRadioButton("No conversion"), new QRadioButton("Convert CR to CR/LF"),
          new QRadioButton("Convert CR to LF")},
      In{new QRadioButton("No conversion"), new QRadioButton("Convert CR/LF to CR"),
         new QRadioButton("Convert LF to CR")},
      DisableDateCheck(new QCheckBox("Disable LDOS date check")),
      ExitOnEscape(new QCheckBox("Exit upon ESC")) {
    setWindowTitle("Preferences");
    auto* layout = new QVBoxLayout(this);
    auto* fromGroup = new QGroupBox("Conversion from TRS-80");
    auto* fromLayout = new QVBoxLayout(fromGroup);
    for (QRadioButton* button : Out) fromLayout->addWidget(button);
    auto* toGroup = new QGroupBox("Conversion to TRS-80");
    auto* toLayout = new QVBoxLayout(toGroup);
    for (QRadioButton* button : In) toLayout->addWidget(button);
    layout->addWidget(fromGroup);
    layout->addWidget(toGroup);
    layout->addWidget(DisableDateCheck);
    layout->addWidget(ExitOnEscape);
    layout->addWidget(OkCancel(this));
    Out[std::clamp(preferences.ConversionTypeOut, 0, 2)]->setChecked(true);
    In[std::clamp(preferences.ConversionTypeIn, 0, 2)]->setChecked(true);
    DisableDateCheck->setChecked(preferences.LDOSDateCheckDisabled);
    ExitOnEscape->setChecked(preferences.ExitUponESC);
}

TPreferences CPreferencesDialog::Chosen() const {
    TPreferences chosen = Start;
    for (int i = 0; i < 3; ++i) {
        if (Out[i]->isChecked()) chosen.ConversionTypeOut = i;
    }
    for (int i = 0; i < 3; ++i) {
        if (In[i]->isChecked()) chosen.ConversionTypeIn = i;
    }
    chosen.LDOSDateCheckDisabled = DisableDateCheck->isChecked();
    chosen.ExitUponESC = ExitOnEscape->isChecked();
    return chosen;
}

}  // namespace App
