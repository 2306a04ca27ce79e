#include "TextView.h"

#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSizeGrip>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>
#include <QtMath>
#include <algorithm>

#include "AppText.h"
#include "ViewerTools.h"
#include "filesystem/HostTransfer.h"

namespace App {

using Viewer::ViewMode;

namespace {

constexpr int FontPointSize = 10;
constexpr int ViewerLines = 21;
// Room for the caret and rounding at the end of a line, so that a full line never wraps.
constexpr int LineSlack = 4;

// The characters of the longest line of each text rendering: a hexadecimal dump line,
// an EDTASM line with its line number, and the 64 columns of the TRS-80 screen.
int ColumnsOf(ViewMode mode) {
    switch (mode) {
    case ViewMode::Hexadecimal: return static_cast<int>(Viewer::HexDumpLineLength);
    case ViewMode::EDTASM: return 80;
    default: return 64;
    }
}

QFont InstalledOr(const QString& family, QFontDatabase::SystemFont fallback) {
    QFont font = QFontDatabase::families().contains(family) ? QFont(family) : QFontDatabase::systemFont(fallback);
    font.setPointSize(FontPointSize);
    if (fallback == QFontDatabase::FixedFont) font.setStyleHint(QFont::TypeWriter);
    return font;
}

}  // namespace

QFont CTextView::MonospacedFont() { return InstalledOr("Courier New", QFontDatabase::FixedFont); }

QFont CTextView::ProportionalFont() { return InstalledOr("Times New Roman", QFontDatabase::GeneralFont); }

CTextView::CTextView(FileSystem::TFileSystem& fs, int fileIndex, int fontType, QWidget* parent)
    : QDialog(parent),
      Fs(fs),
      FileIndex(fileIndex),
      LoadedFontType(fontType == 1 ? 1 : 0),
      StoredFontType(LoadedFontType),
      Text(new QTextEdit),
      FontGroup(new QGroupBox("Font")),
      Monospaced(new QRadioButton("&Monospaced")),
      Proportional(new QRadioButton("&Proportional")),
      ModeCombo(new QComboBox),
      Tools(new CViewerTools(Text, this)) {
    setWindowTitle("File viewer");
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    setSizeGripEnabled(true);

    Text->setReadOnly(true);
    Text->setUndoRedoEnabled(false);
    Text->setLineWrapMode(QTextEdit::WidgetWidth);
    Text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Text->setCursorWidth(0);  // the user can scroll and select, but never sees a caret

    auto* fontLayout = new QHBoxLayout(FontGroup);
    fontLayout->addWidget(Monospaced);
    fontLayout->addWidget(Proportional);
    connect(Monospaced, &QRadioButton::clicked, this, [this] { SetWholeFont(MonospacedFont()); });
    connect(Proportional, &QRadioButton::clicked, this, [this] { SetWholeFont(ProportionalFont()); });

    auto* done = new QPushButton("Done");
    done->setDefault(true);
    connect(done, &QPushButton::clicked, this, &CTextView::OnDone);
    connect(ModeCombo, &QComboBox::activated, this, [this](int entry) { SelectEntry(entry); });

    auto* bottom = new QHBoxLayout;
    BottomRow = bottom;
    bottom->addWidget(FontGroup);
    bottom->addSpacing(8);
    bottom->addWidget(ModeCombo, 0, Qt::AlignVCenter);
    bottom->addStretch(1);
    bottom->addWidget(done, 0, Qt::AlignBottom);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Text, 1);
    layout->addWidget(Tools);
    layout->addLayout(bottom);

    SetWholeFont(MonospacedFont());
    EnableFontChoice(false);
}

bool CTextView::Initialise() {
    if (!Render(true)) return false;
    (LoadedFontType == 1 ? Proportional : Monospaced)->setChecked(true);
    QString name;
    try {
        name = ToQ(Fs.GetDisplayName(FileIndex));
    } catch (const FileSystem::TFileSystem::Exception&) {
    }
    setWindowTitle("File Viewer - " + name);
    Tools->SetSuggestedName(QString(name).replace('/', '.'));
    Text->setFocus();
    return true;
}

int CTextView::Run() {
    if (!Initialise()) return ResultFailed;
    return exec();
}

void CTextView::OnDone() {
    StoredFontType = Proportional->isChecked() ? 1 : 0;
    done(ResultDone);
}

void CTextView::reject() { done(ResultClosed); }

bool CTextView::SelectEntry(int entry) {
    if (entry < 0 || entry >= static_cast<int>(ModeList.size())) return false;
    ModeCombo->setCurrentIndex(entry);
    return Render(false);
}

void CTextView::SetWholeFont(const QFont& font) {
    Text->document()->setDefaultFont(font);
    QTextCursor all(Text->document());
    all.select(QTextCursor::Document);
    QTextCharFormat format;
    format.setFont(font);
    all.mergeCharFormat(format);
}

void CTextView::EnableFontChoice(bool on) {
    FontGroup->setEnabled(on);
    Monospaced->setEnabled(on);
    Proportional->setEnabled(on);
}

void CTextView::SizeClientArea(int width, int height) {
    resize(width, height);
    if (QWidget* owner = parentWidget()) {
        const QRect ownerFrame = owner->window()->frameGeometry();
        move(ownerFrame.center() - rect().center());
    }
}

QSize CTextView::TextModeSize(ViewMode mode) const {
    // The real width of a line of the font, plus everything the text control puts beside
    // the text: its frame, the document's margins and the vertical scroll bar.
    const QFontMetrics metrics(MonospacedFont());
    const int frame = 2 * Text->frameWidth();
    const int margins = 2 * qCeil(Text->document()->documentMargin());
    const int scrollBar = Text->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, Text);
    const int textWidth =
        metrics.horizontalAdvance(QString(ColumnsOf(mode), 'X')) + frame + margins + scrollBar + LineSlack;
    const int textHeight = metrics.lineSpacing() * ViewerLines + frame + margins;
    // Then the dialog's own margins and the row of controls below the text.
    const QMargins outer = layout()->contentsMargins();
    const QSize bottom = BottomRow->sizeHint();
    const int width = std::max(textWidth, bottom.width()) + outer.left() + outer.right();
    const int height = textHeight + 2 * layout()->spacing() + Tools->sizeHint().height() + bottom.height() +
                       outer.top() + outer.bottom();
    return {width, height};
}

bool CTextView::Render(bool initial) {
    std::vector<uint8_t> bytes;
    std::string extension;
    int family = 0;
    try {
        bytes = Fs.ReadFile(FileIndex);
        extension = Fs.GetFileExtension(FileIndex);
        family = Fs.GetFileSystemType();
    } catch (const std::exception&) {
        return false;
    }
    Viewer::ViewedFile file;
    file.Bytes = bytes;
    file.Extension = extension;
    file.Family = family;
    file.LooksLikeText = FileSystem::IsTextFile(extension, bytes);

    if (initial) {
        ModeCombo->clear();
        ModeList = Viewer::ChooseViewModes(file);
        for (ViewMode mode : ModeList) ModeCombo->addItem(Viewer::ViewModeLabel(mode));
        ShownMode = -1;
        ModeCombo->setCurrentIndex(0);
    }
    const int entry = ModeCombo->currentIndex();
    if (entry < 0 || entry >= static_cast<int>(ModeList.size())) return false;
    ViewMode mode = ModeList[static_cast<size_t>(entry)];
    if (static_cast<int>(mode) == ShownMode) return true;

    Viewer::Rendering rendering;
    {
        const bool slow = mode == ViewMode::Disassembly || mode == ViewMode::Hexadecimal;
        if (slow) QApplication::setOverrideCursor(Qt::WaitCursor);
        try {
            rendering = Viewer::RenderView(mode, file);
        } catch (const std::exception&) {
            if (slow) QApplication::restoreOverrideCursor();
            return false;
        }
        if (slow) QApplication::restoreOverrideCursor();
    }
    if (mode == ViewMode::Disassembly && rendering.Mode != ViewMode::Disassembly) {
        // Not a well-formed load module: the entry goes, and the dump takes its place.
        ModeList.erase(ModeList.begin() + entry);
        ModeCombo->removeItem(entry);
        ModeCombo->setCurrentIndex(0);
        mode = rendering.Mode;
    }
    // A size the user chose for a text rendering is kept for the next one.
    const bool keepSize = !initial && ShownMode >= 0 && ShownMode != static_cast<int>(ViewMode::Graphics);
    ShownMode = static_cast<int>(mode);

    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    const QFont monospaced = MonospacedFont();
    SetWholeFont(monospaced);
    EnableFontChoice(false);

    if (mode == ViewMode::Graphics) {
        const QImage image = PictureImage(rendering.Image);
        Text->clear();
        Text->document()->addResource(QTextDocument::ImageResource, QUrl("quarrybox://picture"), image);
        Text->document()->setDocumentMargin(0);
        Text->setFrameShape(QFrame::NoFrame);
        Text->textCursor().insertImage("quarrybox://picture");
        Text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        Tools->ShowPicture(image);
        const QMargins margins = layout()->contentsMargins();
        const int width = std::max(image.width(), Tools->sizeHint().width()) + margins.left() + margins.right();
        const int height = image.height() + margins.top() + margins.bottom() + 2 * layout()->spacing() +
                           Tools->sizeHint().height() + FontGroup->sizeHint().height() + 10;
        SizeClientArea(width, height);
        setFixedSize(size());
        return true;
    }

    Tools->ShowText();
    Text->document()->setDocumentMargin(4);
    Text->setFrameShape(QFrame::StyledPanel);
    Text->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    Text->setPlainText(QString::fromLatin1(rendering.Text.data(), static_cast<qsizetype>(rendering.Text.size())));
    SetWholeFont(monospaced);
    // Every text rendering opens wide enough for its lines and may be made larger.
    const QSize fitting = TextModeSize(mode);
    if (keepSize) {
        resize(std::max(width(), fitting.width()), std::max(height(), fitting.height()));
    } else {
        SizeClientArea(fitting.width(), fitting.height());
    }
    setMinimumSize(fitting);
    if (mode == ViewMode::Text) {
        SetWholeFont(LoadedFontType == 1 ? ProportionalFont() : monospaced);
        EnableFontChoice(true);
    }
    Text->moveCursor(QTextCursor::Start);
    Text->verticalScrollBar()->setValue(0);
    Text->setFocus();
    return true;
}

}  // namespace App
