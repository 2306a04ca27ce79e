// Find, Copy and Save as… for a file's rendering: the row of tools under the text of
// the file viewer and of the preview pane.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

#include "viewer/Renderings.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;

namespace App {

// A rendered picture as an image: lit pixels white on black.
QImage PictureImage(const Viewer::Picture& picture);

class CViewerTools : public QWidget {
    Q_OBJECT
public:
    // Asks where to save: the path, or empty when the user cancelled.
    using SaveNameAsker =
        std::function<QString(const QString& title, const QString& filter, const QString& suffix)>;

    // Who answers Ctrl+F: these tools, or the window they are in (which then calls FocusFind).
    enum class FindKey { Own, Window };

    // Works on the text control; the shortcuts (Ctrl+F, F3, Shift+F3) act within keyHolder.
    CViewerTools(QTextEdit* text, QWidget* keyHolder, FindKey findKey = FindKey::Own, QWidget* parent = nullptr);

    // What is shown: a picture (then Copy and Save as… take the image), or the text.
    void ShowPicture(const QImage& image);
    void ShowText();
    // The name proposed by Save as…, without its suffix.
    void SetSuggestedName(const QString& name) { SuggestedName = name; }
    void SetSaveNameAsker(SaveNameAsker asker) { AskSaveName = std::move(asker); }

    // Selects the next (or previous) occurrence of the find text, going round the end;
    // false, and "Not found" beside the field, when there is none.
    bool FindNext(bool backwards = false);
    // The selected text, or the picture, to the clipboard.
    void CopyShown();
    // Writes the text (Latin-1, as rendered) or the picture as PNG; false when it cannot.
    bool SaveShown(const QString& path) const;
    void FocusFind();

    QLineEdit* FindField() const { return Find; }
    QPushButton* CopyButton() const { return Copy; }
    QPushButton* SaveButton() const { return Save; }
    bool ShowsPicture() const { return !Picture.isNull(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnSaveAs();
    void UpdateCopy();

    QTextEdit* Text;
    QLineEdit* Find;
    QLabel* NotFound;
    QPushButton* Copy;
    QPushButton* Save;
    QImage Picture;
    QString SuggestedName;
    SaveNameAsker AskSaveName;
    bool HasSelection = false;
};

}  // namespace App
