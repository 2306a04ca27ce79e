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
#if __has_include("filesystem/NEWDOS80.h")
#include "filesystem/NEWDOS80.h"
#define QB_HAVE_NEWDOS80 1
#endif

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

QString PDriveTextOf(TFileSystem& fs) {
#ifdef QB_HAVE_NEWDOS80
    if (auto* newdos = dynamic_cast<FileSystem::NEWDOS80*>(&fs)) return ToQ(newdos->GetPDriveText());
#else
    (void)fs;
#endif
    return {};
}

QString CDiskInfoDialog::FormatK(qint64 bytes) { return QLocale().toString(bytes / 1024.0, 'f', 2) + "K"; }

void CDiskInfoDialog::AddRow(QFormLayout* form, const QString& label, QWidget* field) { form->addRow(label, field); }

void CDiskInfoDialog::AddText(QFormLayout* form, const QString& label, const QString& value) {
    Values[label] = value;
    AddRow(form, label, ValueLabel(value));
}

CDiskInfoDialog::CDiskInfoDialog(FileSystem::MountedDisk& disk, QWidget* parent) : QDialog(parent), Disk(disk) {
    setWindowTitle("Virtual disk properties");
    auto* layout = new QVBoxLayout(this);
    TFileSystem* fs = disk.Current();
    if (fs == nullptr || !disk.Image) return;
    const int partitions = static_cast<int>(disk.FileSystems.size());
    const QString caption = partitions > 1 ? QString("Partition %1 information (%2 partitions total)")
                                                 .arg(QLocale().toString(disk.CurrentPartition))
                                                 .arg(QLocale().toString(partitions))
                                           : QString("Volume information");
    Volume = new QGroupBox(caption);
    auto* volume = new QFormLayout(Volume);
    const bool writable = fs->SupportsWriting();
    try {
        if (fs->SupportsDiskName()) {
            InitialName = ToQ(fs->GetDiskName());
            Name = new QLineEdit(InitialName);
            Name->setMaxLength(8);
            Name->setEnabled(writable);
            AddRow(volume, "Volume name:", Name);
        }
        if (fs->SupportsDiskDate()) {
            InitialDate = ToQ(fs->GetDiskDate());
            Date = new QLineEdit(InitialDate);
            Date->setMaxLength(8);
            Date->setEnabled(writable);
            AddRow(volume, "Volume date:", Date);
        }
        AddText(volume, "Total capacity:", FormatK(fs->GetCapacity()));
        AddText(volume, "Free space:", FormatK(fs->GetFreeSpace()));
        AddText(volume, "File system:", ToQ(fs->GetDOSName(false)));
        AddText(volume, "Damaged:", fs->ReadError ? "Yes" : "No");
    } catch (const std::exception&) {
        // A disk too damaged to describe: show what was gathered.
    }
    layout->addWidget(Volume);

    auto* diskGroup = new QGroupBox("Disk information");
    auto* info = new QFormLayout(diskGroup);
    AddText(info, "Filename:", QString::fromLocal8Bit(fs->GetImageFileName()));
    AddText(info, "Format:", ToQ(fs->GetImageFormatName()));
    if (fs->GetDOSName(true) == "NEWDOS/80") {
        auto* pdrive = new QLineEdit(PDriveTextOf(*fs));
        pdrive->setReadOnly(true);
        Values["PDRIVE:"] = pdrive->text();
        AddRow(info, "PDRIVE:", pdrive);
    }
    InitialProtect = disk.Image->GetWriteProtect() != 0;
    WriteProtect = new QCheckBox("Write protected");
    WriteProtect->setChecked(InitialProtect);
    WriteProtect->setEnabled(disk.Image->CanSetWriteProtect());
    info->addRow(WriteProtect);
    layout->addWidget(diskGroup);
    layout->addWidget(OkCancel(this));
}

QString CDiskInfoDialog::VolumeCaption() const { return Volume != nullptr ? Volume->title() : QString(); }

QString CDiskInfoDialog::Value(const QString& label) const { return Values.value(label); }

void CDiskInfoDialog::accept() {
    TFileSystem* fs = Disk.Current();
    if (fs != nullptr && Disk.Image) {
        try {
            if (fs->SupportsWriting()) {
                if (Name != nullptr && fs->SupportsDiskName() && Name->text() != InitialName) {
                    fs->SetDiskName(FromQ(Name->text()));
                }
                if (Date != nullptr && fs->SupportsDiskDate() && Date->text() != InitialDate) {
                    fs->SetDiskDate(FromQ(Date->text()));
                }
            }
            if (Disk.Image->CanSetWriteProtect() && WriteProtect->isChecked() != InitialProtect) {
                Disk.Image->SetWriteProtect(WriteProtect->isChecked());
            }
        } catch (const std::exception&) {
            // A protected disk refuses the volume change; the dialog still closes.
        }
    }
    QDialog::accept();
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
        InitialName = ToQ(fs.GetDisplayName(fileIndex));
        Name = new QLineEdit(InitialName);
        Name->setEnabled(!locked);
        form->addRow("Filename:", Name);
        Values["Date:"] = FormatFileDate(fs.GetFileDate(fileIndex));
        form->addRow("Date:", ValueLabel(Values["Date:"]));
        Values["Size:"] = FormatSize(fs.GetFileSize(fileIndex)) + " bytes";
        form->addRow("Size:", ValueLabel(Values["Size:"]));
        const std::vector<std::string> types = fs.SupportsFileTypes() ? fs.GetFileTypeList() : std::vector<std::string>{};
        if (!types.empty()) {
            Type = new QComboBox;
            for (const std::string& type : types) Type->addItem(ToQ(type));
            InitialType = fs.GetFileType(fileIndex);
            Type->setCurrentIndex(InitialType);
            Type->setEnabled(!locked);
            form->addRow("File type:", Type);
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
    if (Name != nullptr && Name->text() != InitialName) {
        try {
            Fs.RenameFile(FileIndex, FromQ(Name->text()));
            InitialName = Name->text();
        } catch (const TFileSystem::Exception& error) {
            if (ShowError) ShowError("Rename error", "Error renaming file: " + QString::fromLocal8Bit(error.what()));
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
      In{new QRadioButton("No conversion"), new QRadioButton("Convert CR/LF to CR")},
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
    In[std::clamp(preferences.ConversionTypeIn, 0, 1)]->setChecked(true);
    DisableDateCheck->setChecked(preferences.LDOSDateCheck);
    ExitOnEscape->setChecked(preferences.ExitUponESC);
}

TPreferences CPreferencesDialog::Chosen() const {
    TPreferences chosen = Start;
    for (int i = 0; i < 3; ++i) {
        if (Out[i]->isChecked()) chosen.ConversionTypeOut = i;
    }
    for (int i = 0; i < 2; ++i) {
        if (In[i]->isChecked()) chosen.ConversionTypeIn = i;
    }
    chosen.LDOSDateCheck = DisableDateCheck->isChecked();
    chosen.ExitUponESC = ExitOnEscape->isChecked();
    return chosen;
}

}  // namespace App
