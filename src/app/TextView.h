// "File viewer": one file of the open disk in the renderings that fit it,
// the most fitting first.
#pragma once

#include <QDialog>
#include <QFont>
#include <vector>

#include "filesystem/FileSystem.h"
#include "viewer/ViewerModes.h"

class QComboBox;
class QGroupBox;
class QRadioButton;
class QTextEdit;

namespace App {

class CViewerTools;

class CTextView : public QDialog {
    Q_OBJECT
public:
    // The results of Run.
    static constexpr int ResultDone = 1;
    static constexpr int ResultClosed = 2;
    static constexpr int ResultFailed = -1;

    CTextView(FileSystem::TFileSystem& fs, int fileIndex, int fontType, QWidget* parent = nullptr);

    // Renders the first mode; false when that fails (the dialog is then not shown).
    bool Initialise();
    // Initialise, then the modal loop: ResultDone, ResultClosed or ResultFailed.
    int Run();

    // The font choice to keep: the radio group's state when "Done" was pressed,
    // otherwise the value the viewer was opened with.
    int FontType() const { return StoredFontType; }

    // The entries of the drop-down list, in order.
    std::vector<Viewer::ViewMode> Modes() const { return ModeList; }
    int CurrentMode() const { return ShownMode; }
    // Picks a drop-down entry as the user would; false when the rendering fails.
    bool SelectEntry(int entry);

    QComboBox* ModeBox() const { return ModeCombo; }
    QRadioButton* MonospacedButton() const { return Monospaced; }
    QRadioButton* ProportionalButton() const { return Proportional; }
    QTextEdit* TextControl() const { return Text; }
    CViewerTools* ViewerTools() const { return Tools; }

    static QFont MonospacedFont();
    static QFont ProportionalFont();

public slots:
    void OnDone();
    void reject() override;

private:
    bool Render(bool initial);
    void SetWholeFont(const QFont& font);
    void EnableFontChoice(bool on);
    void SizeClientArea(int width, int height);
    // The dialog size at which a text rendering's lines fit without wrapping.
    QSize TextModeSize(Viewer::ViewMode mode) const;

    FileSystem::TFileSystem& Fs;
    int FileIndex;
    int LoadedFontType;
    int StoredFontType;
    std::vector<Viewer::ViewMode> ModeList;
    int ShownMode = -1;
    QTextEdit* Text;
    QGroupBox* FontGroup;
    QRadioButton* Monospaced;
    QRadioButton* Proportional;
    QComboBox* ModeCombo;
    CViewerTools* Tools;
    QLayout* BottomRow = nullptr;
};

}  // namespace App
