// "Create New Floppy Image": the image type, DOS, density, sides, track
// count and volume name and date of a new floppy, with the rules that keep
// the choices to what each DOS can format.
#pragma once

#include <QDialog>
#include <functional>

#include "UserPrompts.h"

class QButtonGroup;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace App {

class CCreateFloppy : public QDialog {
    Q_OBJECT
public:
    // showError reports the refusal of OK (caption, text).
    using ErrorReporter = std::function<void(const QString&, const QString&)>;
    explicit CCreateFloppy(ErrorReporter showError, QWidget* parent = nullptr);

    NewFloppySettings Settings() const;

    // The buttons of each choice, in the order of their values.
    QRadioButton* ImageButton(int imageType) const;
    QRadioButton* DOSButton(int dosType) const;
    QRadioButton* DensityButton(bool doubleDensity) const;
    QRadioButton* SidesButton(int sides) const;
    // 0 "35", 1 "40", 2 "80", 3 "Other:".
    QRadioButton* TracksButton(int choice) const;
    QSpinBox* OtherTracks() const { return OtherBox; }
    QLineEdit* VolumeName() const { return NameEdit; }
    QLineEdit* VolumeDate() const { return DateEdit; }

    void ApplyRules();
    void accept() override;

private:
    void ApplyEnabling();

    ErrorReporter ShowError;
    QButtonGroup* Image;
    QButtonGroup* DOS;
    QButtonGroup* Density;
    QButtonGroup* Sides;
    QButtonGroup* Tracks;
    QSpinBox* OtherBox;
    QLineEdit* NameEdit;
    QLineEdit* DateEdit;
    bool Applying = false;
};

}  // namespace App
