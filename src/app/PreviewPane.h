// The preview pane: the file chosen in the list, shown beside it in the renderings that
// fit it, the most fitting first. Renderings are made off the GUI thread, so that moving
// through the list never waits for a large file.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "filesystem/FileSystem.h"
#include "viewer/ViewerModes.h"

class QComboBox;
class QLabel;
class QTextEdit;
class QThread;

namespace App {

class CViewerTools;

class CPreviewPane : public QWidget {
    Q_OBJECT
public:
    explicit CPreviewPane(QWidget* parent = nullptr);
    ~CPreviewPane() override;

    // Reads the file and starts rendering its first mode; a file that cannot be read
    // leaves the pane empty with a word on why.
    void ShowFile(FileSystem::TFileSystem& fs, int fileIndex);
    // Nothing shown (no file chosen, or several).
    void Clear();

    int FileIndex() const { return ShownFile; }
    bool IsRendering() const { return Waiting; }
    // The mode whose rendering is on show; meaningful once IsRendering is false.
    Viewer::ViewMode ShownMode() const { return Shown; }
    std::vector<Viewer::ViewMode> Modes() const { return ModeList; }
    // Picks a drop-down entry as the user would.
    void SelectEntry(int entry);

    // Wide enough for a line of the TRS-80's 64-column screen, as most renderings are.
    QSize sizeHint() const override;

    QComboBox* ModeBox() const { return ModeCombo; }
    QTextEdit* TextControl() const { return Text; }
    CViewerTools* ViewerTools() const { return Tools; }

signals:
    // A rendering is on show.
    void Rendered();

private:
    struct Job;
    void StartRendering(Viewer::ViewMode mode);
    void Finish(const std::shared_ptr<Job>& job);
    void ShowNote(const QString& note);

    QComboBox* ModeCombo;
    QTextEdit* Text;
    QLabel* Note;
    CViewerTools* Tools;
    std::vector<Viewer::ViewMode> ModeList;
    // The bytes and what the viewer knows of them, shared with the rendering threads.
    std::shared_ptr<const std::vector<uint8_t>> Bytes;
    Viewer::ViewedFile File;
    int ShownFile = -1;
    Viewer::ViewMode Shown = Viewer::ViewMode::Hexadecimal;
    // Which request is the latest: a rendering that finishes after a newer request is dropped.
    unsigned Generation = 0;
    bool Waiting = false;
    std::vector<QThread*> Threads;
};

}  // namespace App
