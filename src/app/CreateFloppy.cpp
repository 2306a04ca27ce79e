#include "CreateFloppy.h"

#include <QButtonGroup>
#include <QDate>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QRegularExpression>
#include <QVBoxLayout>

#include "diskimage/DiskImage.h"

namespace App {
namespace {

// A volume date as the DOSes keep it: MM/DD/YY, naming a day of the calendar in either
// century a two-digit year may mean (02/29/00 is one, in 2000).
bool IsVolumeDate(const QString& text) {
    static const QRegularExpression form("^(\\d\\d)/(\\d\\d)/(\\d\\d)$");
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) return false;
    const int month = match.captured(1).toInt();
    const int day = match.captured(2).toInt();
    const int year = match.captured(3).toInt();
    return QDate(1900 + year, month, day).isValid() || QDate(2000 + year, month, day).isValid();
}

constexpr int TracksOther = 3;

QButtonGroup* RadioGroup(QWidget* owner, const QString& title, const QStringList& labels, QLayout* into,
                         QSpinBox* extra = nullptr, const QList<int>& ids = {}, const QStringList& tips = {}) {
    auto* box = new QGroupBox(title);
    auto* layout = new QHBoxLayout(box);
    auto* group = new QButtonGroup(owner);
    for (int i = 0; i < labels.size(); ++i) {
        auto* button = new QRadioButton(labels[i]);
        if (i < tips.size()) button->setToolTip(tips[i]);
        group->addButton(button, i < ids.size() ? ids[i] : i);
        layout->addWidget(button);
    }
    if (extra != nullptr) layout->addWidget(extra);
    layout->addStretch(1);
    into->addWidget(box);
    return group;
}

}  // namespace

CCreateFloppy::CCreateFloppy(ErrorReporter showError, QWidget* parent)
    : QDialog(parent), ShowError(std::move(showError)), OtherBox(new QSpinBox), NameEdit(new QLineEdit("TRS80DSK")),
      DateEdit(new QLineEdit(QDate::currentDate().toString("MM/dd/yy"))) {
    setWindowTitle("Create New Floppy Image");
    auto* layout = new QVBoxLayout(this);
    // Every container the core can write, but those that keep no data address marks (JVC,
    // raw dumps), which the directories of every DOS formatted here need.
    QStringList imageNames, imageTips;
    QList<int> imageTypes;
    for (const DiskImage::TImageTypeInfo& type : DiskImage::WritableImageTypes()) {
        if (!type.KeepsDataMarks) continue;
        imageNames << type.Name;
        imageTips << type.Description;
        imageTypes << type.Type;
    }
    Image = RadioGroup(this, "Disk image type", imageNames, layout, nullptr, imageTypes, imageTips);
    DOS = RadioGroup(this, "Filesystem type", {"TRSDOS 2.3", "TRSDOS 1.3", "LDOS/LS-DOS"}, layout);
    Density = RadioGroup(this, "Density", {"Single", "Double"}, layout);
    Sides = RadioGroup(this, "Sides", {"1", "2"}, layout);
    OtherBox->setRange(1, 255);
    OtherBox->setValue(40);
    Tracks = RadioGroup(this, "Number of tracks", {"35", "40", "80", "Other:"}, layout, OtherBox);

    auto* volume = new QFormLayout;
    NameEdit->setMaxLength(8);
    DateEdit->setMaxLength(8);
    volume->addRow("Volume name (8 characters):", NameEdit);
    volume->addRow("Volume date (8 characters):", DateEdit);
    layout->addLayout(volume);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    Image->button(DiskImage::ImageDMK)->setChecked(true);
    DOS->button(FileSystem::NewFloppyLDOS)->setChecked(true);
    Density->button(1)->setChecked(true);
    Sides->button(1)->setChecked(true);
    Tracks->button(1)->setChecked(true);
    for (QButtonGroup* group : {Image, DOS, Density, Sides, Tracks}) {
        connect(group, &QButtonGroup::idToggled, this, [this](int, bool on) {
            if (on) ApplyRules();
        });
    }
    ApplyRules();
}

QRadioButton* CCreateFloppy::ImageButton(int imageType) const {
    return static_cast<QRadioButton*>(Image->button(imageType));
}
QRadioButton* CCreateFloppy::DOSButton(int dosType) const { return static_cast<QRadioButton*>(DOS->button(dosType)); }
QRadioButton* CCreateFloppy::DensityButton(bool doubleDensity) const {
    return static_cast<QRadioButton*>(Density->button(doubleDensity ? 1 : 0));
}
QRadioButton* CCreateFloppy::SidesButton(int sides) const {
    return static_cast<QRadioButton*>(Sides->button(sides == 2 ? 1 : 0));
}
QRadioButton* CCreateFloppy::TracksButton(int choice) const {
    return static_cast<QRadioButton*>(Tracks->button(choice));
}

void CCreateFloppy::ApplyEnabling() {
    const bool jv1 = Image->checkedId() == DiskImage::ImageJV1;
    const int dos = DOS->checkedId();
    DOS->button(FileSystem::NewFloppyTRSDOS13)->setEnabled(!jv1);
    Density->button(0)->setEnabled(dos != FileSystem::NewFloppyTRSDOS13);
    Density->button(1)->setEnabled(!jv1 && dos != FileSystem::NewFloppyTRSDOS23);
    Sides->button(1)->setEnabled(!jv1 && dos == FileSystem::NewFloppyLDOS);
    Tracks->button(0)->setEnabled(dos != FileSystem::NewFloppyTRSDOS13);
    Tracks->button(1)->setEnabled(dos != FileSystem::NewFloppyTRSDOS23);
    Tracks->button(2)->setEnabled(dos == FileSystem::NewFloppyLDOS);
    Tracks->button(TracksOther)->setEnabled(dos == FileSystem::NewFloppyLDOS);
    OtherBox->setEnabled(Tracks->checkedId() == TracksOther);
}

void CCreateFloppy::ApplyRules() {
    if (Applying) return;
    Applying = true;
    ApplyEnabling();
    if (Image->checkedId() == DiskImage::ImageJV1) {
        Density->button(0)->setChecked(true);
        Sides->button(0)->setChecked(true);
        if (DOS->checkedId() == FileSystem::NewFloppyTRSDOS13) DOS->button(FileSystem::NewFloppyTRSDOS23)->setChecked(true);
    }
    if (DOS->checkedId() == FileSystem::NewFloppyTRSDOS23) {
        Density->button(0)->setChecked(true);
        Sides->button(0)->setChecked(true);
        Tracks->button(0)->setChecked(true);
    } else if (DOS->checkedId() == FileSystem::NewFloppyTRSDOS13) {
        Density->button(1)->setChecked(true);
        Sides->button(0)->setChecked(true);
        Tracks->button(1)->setChecked(true);
    }
    // The forced choices change what is possible: enable for the final state.
    ApplyEnabling();
    Applying = false;
}

NewFloppySettings CCreateFloppy::Settings() const {
    NewFloppySettings settings;
    settings.ImageType = Image->checkedId();
    settings.DOSType = DOS->checkedId();
    settings.DoubleDensity = Density->checkedId() == 1;
    settings.Sides = Sides->checkedId() == 1 ? 2 : 1;
    static const int trackCounts[] = {35, 40, 80};
    const int choice = Tracks->checkedId();
    settings.Tracks = choice >= 0 && choice < TracksOther ? trackCounts[choice] : OtherBox->value();
    settings.VolumeName = NameEdit->text();
    settings.VolumeDate = DateEdit->text();
    return settings;
}

void CCreateFloppy::accept() {
    if (NameEdit->text().isEmpty() || DateEdit->text().isEmpty()) {
        if (ShowError) ShowError("Error creating floppy image", "Volume name and date are required!");
        return;
    }
    if (!IsVolumeDate(DateEdit->text())) {
        if (ShowError) {
            ShowError("Error creating floppy image",
                      "The volume date \"" + DateEdit->text() + "\" is not a date. Write it as MM/DD/YY, for "
                                                                 "example 12/31/85.");
        }
        DateEdit->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace App
