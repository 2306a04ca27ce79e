#include "PreviewPane.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QScrollBar>
#include <QStyle>
#include <QTextDocument>
#include <QTextEdit>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <QtMath>
#include <algorithm>

#include "AppText.h"
#include "TextView.h"
#include "ViewerTools.h"
#include "filesystem/HostTransfer.h"

namespace App {

using Viewer::ViewMode;

namespace {

// A rendering that takes longer than this says so.
constexpr int RenderingNoteDelayMs = 150;

}  // namespace

struct CPreviewPane::Job {
    unsigned Generation = 0;
    ViewMode Mode = ViewMode::Hexadecimal;
    std::shared_ptr<const std::vector<uint8_t>> Bytes;
    Viewer::ViewedFile File;
    Viewer::Rendering Result;
};

CPreviewPane::CPreviewPane(QWidget* parent)
    : QWidget(parent),
      ModeCombo(new QComboBox),
      Text(new QTextEdit),
      Note(new QLabel),
      Tools(new CViewerTools(Text, this, CViewerTools::FindKey::Window)) {
    Text->setReadOnly(true);
    Text->setUndoRedoEnabled(false);
    Text->setLineWrapMode(QTextEdit::NoWrap);
    Text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text->document()->setDefaultFont(CTextView::MonospacedFont());
    Note->setAlignment(Qt::AlignCenter);
    Note->setVisible(false);
    ModeCombo->setObjectName("PreviewMode");
    connect(ModeCombo, &QComboBox::activated, this, &CPreviewPane::SelectEntry);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(ModeCombo);
    layout->addWidget(Note);
    layout->addWidget(Text, 1);
    layout->addWidget(Tools);
    Clear();
}

CPreviewPane::~CPreviewPane() {
    // A rendering still under way owns nothing of the pane's, but its thread must end first.
    for (QThread* thread : Threads) {
        thread->wait();
        delete thread;
    }
}

void CPreviewPane::Clear() {
    ++Generation;
    Waiting = false;
    ShownFile = -1;
    ModeList.clear();
    ModeCombo->clear();
    ModeCombo->setEnabled(false);
    Bytes.reset();
    File = {};
    Text->clear();
    Tools->ShowText();
    Tools->setEnabled(false);
    ShowNote("No file chosen");
}

void CPreviewPane::ShowNote(const QString& note) {
    Note->setText(note);
    Note->setVisible(!note.isEmpty());
}

QSize CPreviewPane::sizeHint() const {
    constexpr int ScreenColumns = 64;
    constexpr int LineSlack = 4;  // the caret and rounding at the end of a line
    const QFontMetrics metrics(CTextView::MonospacedFont());
    const QMargins outer = layout()->contentsMargins();
    const int width = metrics.horizontalAdvance(QString(ScreenColumns, 'X')) + 2 * Text->frameWidth() +
                      2 * qCeil(Text->document()->documentMargin()) +
                      Text->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Text) + LineSlack +
                      outer.left() + outer.right();
    return {std::max(width, QWidget::sizeHint().width()), QWidget::sizeHint().height()};
}

void CPreviewPane::ShowFile(FileSystem::TFileSystem& fs, int fileIndex) {
    Clear();
    std::vector<uint8_t> bytes;
    QString name;
    try {
        bytes = fs.ReadFile(fileIndex);
        File.Extension = fs.GetFileExtension(fileIndex);
        File.Family = fs.GetFileSystemType();
        name = ToQ(fs.GetDisplayName(fileIndex));
    } catch (const std::exception& error) {
        ShowNote(QString("The file cannot be read: %1").arg(QString::fromLocal8Bit(error.what())));
        return;
    }
    ShownFile = fileIndex;
    File.LooksLikeText = FileSystem::IsTextFile(File.Extension, bytes);
    Bytes = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
    File.Bytes = *Bytes;
    ModeList = Viewer::ChooseViewModes(File);
    for (ViewMode mode : ModeList) ModeCombo->addItem(Viewer::ViewModeLabel(mode));
    ModeCombo->setCurrentIndex(0);
    ModeCombo->setEnabled(true);
    Tools->SetSuggestedName(name.replace('/', '.'));
    StartRendering(ModeList.front());
}

void CPreviewPane::SelectEntry(int entry) {
    if (entry < 0 || entry >= static_cast<int>(ModeList.size())) return;
    ModeCombo->setCurrentIndex(entry);
    StartRendering(ModeList[static_cast<size_t>(entry)]);
}

void CPreviewPane::StartRendering(ViewMode mode) {
    auto job = std::make_shared<Job>();
    job->Generation = ++Generation;
    job->Mode = mode;
    job->Bytes = Bytes;
    job->File = File;
    Waiting = true;
    QThread* thread = QThread::create([job] { job->Result = Viewer::RenderView(job->Mode, job->File); });
    Threads.push_back(thread);
    connect(thread, &QThread::finished, this, [this, thread, job] {
        std::erase(Threads, thread);
        thread->deleteLater();
        Finish(job);
    });
    thread->start();
    QTimer::singleShot(RenderingNoteDelayMs, this, [this, generation = job->Generation] {
        if (generation == Generation && IsRendering()) ShowNote("Rendering…");
    });
}

void CPreviewPane::Finish(const std::shared_ptr<Job>& job) {
    if (job->Generation != Generation) return;  // a newer file or mode was asked for
    Waiting = false;
    ShowNote(QString());
    Tools->setEnabled(true);
    ViewMode mode = job->Result.Mode;
    if (job->Mode == ViewMode::Disassembly && mode != ViewMode::Disassembly) {
        // Not a well-formed load module: the entry goes, and the dump takes its place.
        const auto gone = std::find(ModeList.begin(), ModeList.end(), ViewMode::Disassembly);
        if (gone != ModeList.end()) {
            ModeCombo->removeItem(static_cast<int>(gone - ModeList.begin()));
            ModeList.erase(gone);
        }
        const auto dump = std::find(ModeList.begin(), ModeList.end(), mode);
        ModeCombo->setCurrentIndex(dump != ModeList.end() ? static_cast<int>(dump - ModeList.begin()) : 0);
    }
    Shown = mode;
    if (mode == ViewMode::Graphics) {
        const QImage image = PictureImage(job->Result.Image);
        Text->clear();
        Text->document()->addResource(QTextDocument::ImageResource, QUrl("quarrybox://preview"), image);
        Text->textCursor().insertImage("quarrybox://preview");
        Tools->ShowPicture(image);
    } else {
        Text->setPlainText(QString::fromLatin1(job->Result.Text.data(), static_cast<qsizetype>(job->Result.Text.size())));
        Text->document()->setDefaultFont(CTextView::MonospacedFont());
        Tools->ShowText();
    }
    Text->moveCursor(QTextCursor::Start);
    Text->verticalScrollBar()->setValue(0);
    emit Rendered();
}

}  // namespace App
