#include "ViewerTools.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTextEdit>

namespace App {

QImage PictureImage(const Viewer::Picture& picture) {
    QImage image(picture.Width, picture.Height, QImage::Format_Mono);
    image.setColor(0, qRgb(0, 0, 0));
    image.setColor(1, qRgb(255, 255, 255));
    image.fill(0);
    for (int y = 0; y < picture.Height; ++y) {
        for (int x = 0; x < picture.Width; ++x) {
            if (picture.PixelLit(x, y)) image.setPixel(x, y, 1);
        }
    }
    return image;
}

CViewerTools::CViewerTools(QTextEdit* text, QWidget* keyHolder, FindKey findKey, QWidget* parent)
    : QWidget(parent),
      Text(text),
      Find(new QLineEdit),
      NotFound(new QLabel("Not found")),
      Copy(new QPushButton("&Copy")),
      Save(new QPushButton("&Save as…")),
      AskSaveName([this](const QString& title, const QString& filter, const QString& suffix) {
          QFileDialog dialog(window(), title, QDir::home().filePath(SuggestedName + "." + suffix), filter);
          dialog.setAcceptMode(QFileDialog::AcceptSave);
          dialog.setDefaultSuffix(suffix);
          return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
      }) {
    Find->setObjectName("FindField");
    Find->setPlaceholderText("Find (Ctrl+F)");
    Find->setClearButtonEnabled(true);
    Find->setToolTip("Enter: next; Shift+Enter: previous");
    NotFound->setVisible(false);
    auto* previous = new QPushButton("◀");
    previous->setToolTip("Find previous (Shift+F3)");
    auto* next = new QPushButton("▶");
    next->setToolTip("Find next (F3)");
    for (QPushButton* button : {previous, next, Copy, Save}) button->setAutoDefault(false);
    for (QPushButton* arrow : {previous, next}) arrow->setMaximumWidth(arrow->fontMetrics().horizontalAdvance("WWW"));
    Copy->setToolTip("Copy the selected text, or the picture");
    Save->setToolTip("Save the text as .txt, or the picture as .png");

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(Find, 1);
    row->addWidget(previous);
    row->addWidget(next);
    row->addWidget(NotFound);
    row->addSpacing(8);
    row->addWidget(Copy);
    row->addWidget(Save);

    Find->installEventFilter(this);
    connect(Find, &QLineEdit::textChanged, this, [this] { NotFound->setVisible(false); });
    connect(next, &QPushButton::clicked, this, [this] { FindNext(false); });
    connect(previous, &QPushButton::clicked, this, [this] { FindNext(true); });
    connect(Copy, &QPushButton::clicked, this, &CViewerTools::CopyShown);
    connect(Save, &QPushButton::clicked, this, &CViewerTools::OnSaveAs);
    connect(Text, &QTextEdit::copyAvailable, this, [this](bool available) {
        HasSelection = available;
        UpdateCopy();
    });

    const auto addKey = [this, keyHolder](const QList<QKeySequence>& keys, auto handler) {
        auto* action = new QAction(this);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(action, &QAction::triggered, this, handler);
        keyHolder->addAction(action);
    };
    if (findKey == FindKey::Own) addKey(QKeySequence::keyBindings(QKeySequence::Find), [this] { FocusFind(); });
    addKey({QKeySequence(Qt::Key_F3)}, [this] { FindNext(false); });
    addKey({QKeySequence(Qt::SHIFT | Qt::Key_F3)}, [this] { FindNext(true); });
    UpdateCopy();
}

bool CViewerTools::eventFilter(QObject* watched, QEvent* event) {
    // Enter finds here, and never reaches a dialog's default button.
    if (watched == Find && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            FindNext(key->modifiers().testFlag(Qt::ShiftModifier));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CViewerTools::ShowPicture(const QImage& image) {
    Picture = image;
    Find->setEnabled(false);
    NotFound->setVisible(false);
    UpdateCopy();
}

void CViewerTools::ShowText() {
    Picture = QImage();
    Find->setEnabled(true);
    NotFound->setVisible(false);
    UpdateCopy();
}

void CViewerTools::FocusFind() {
    if (!Find->isEnabled()) return;
    Find->setFocus(Qt::ShortcutFocusReason);
    Find->selectAll();
}

bool CViewerTools::FindNext(bool backwards) {
    const QString wanted = Find->text();
    if (wanted.isEmpty() || ShowsPicture()) return false;
    const QTextDocument::FindFlags flags = backwards ? QTextDocument::FindBackward : QTextDocument::FindFlags();
    bool found = Text->find(wanted, flags);
    if (!found) {
        // Round the end of the text, as far as where the search began.
        const QTextCursor kept = Text->textCursor();
        Text->moveCursor(backwards ? QTextCursor::End : QTextCursor::Start);
        found = Text->find(wanted, flags);
        if (!found) Text->setTextCursor(kept);
    }
    NotFound->setText("Not found");
    NotFound->setVisible(!found);
    return found;
}

void CViewerTools::CopyShown() {
    if (ShowsPicture()) {
        QGuiApplication::clipboard()->setImage(Picture);
    } else {
        Text->copy();
    }
}

bool CViewerTools::SaveShown(const QString& path) const {
    if (ShowsPicture()) return Picture.save(path, "PNG");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const QByteArray bytes = Text->toPlainText().toLatin1();
    return file.write(bytes) == bytes.size() && file.flush();
}

void CViewerTools::OnSaveAs() {
    const bool picture = ShowsPicture();
    const QString path = AskSaveName("Save As", picture ? "PNG pictures (*.png)" : "Text files (*.txt)",
                                     picture ? "png" : "txt");
    if (path.isEmpty()) return;
    if (!SaveShown(path)) {
        NotFound->setText("Could not save");
        NotFound->setVisible(true);
    }
}

void CViewerTools::UpdateCopy() { Copy->setEnabled(ShowsPicture() || HasSelection); }

}  // namespace App
