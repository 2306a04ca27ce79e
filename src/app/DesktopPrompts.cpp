#include "DesktopPrompts.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>
#include <QUrl>

#include "AppIcon.h"
#include "CreateFloppy.h"
#include "FileDialogs.h"
#include "PropertyDialogs.h"
#include "TextView.h"

namespace App {
namespace {

// Dialogs and message boxes come to the front when shown.
void BringToFront(QWidget* widget) {
    widget->raise();
    widget->activateWindow();
}

// The room a window manager takes beside a title: the window's icon and its buttons.
constexpr int TitleBarExtras = 160;

}  // namespace

std::unique_ptr<QMessageBox> MakeMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                            QMessageBox::StandardButtons buttons, QWidget* owner) {
    auto box = std::make_unique<QMessageBox>(icon, caption, text, buttons, owner);
    QFont titleFont = box->font();
    titleFont.setBold(true);  // titles are often set bold, so measure them so
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(caption) + TitleBarExtras;
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        grid->addItem(new QSpacerItem(titleWidth, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0,
                      1, grid->columnCount());
    }
    return box;
}

void CDesktopPrompts::ShowError(const QString& caption, const QString& text) {
    auto box = MakeMessageBox(QMessageBox::Critical, caption, text, QMessageBox::Ok, Owner);
    BringToFront(box.get());
    box->exec();
}

bool CDesktopPrompts::AskYesNo(const QString& caption, const QString& text) {
    auto box = MakeMessageBox(QMessageBox::Critical, caption, text, QMessageBox::Yes | QMessageBox::No, Owner);
    box->setDefaultButton(QMessageBox::Yes);
    BringToFront(box.get());
    return box->exec() == QMessageBox::Yes;
}

OverwriteAnswer CDesktopPrompts::AskOverwrite(const QString& caption, const QString& text) {
    auto box = MakeMessageBox(QMessageBox::Critical, caption, text,
                              QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll |
                                  QMessageBox::Cancel,
                              Owner);
    box->setDefaultButton(QMessageBox::Yes);
    BringToFront(box.get());
    switch (box->exec()) {
    case QMessageBox::Yes: return OverwriteAnswer::Yes;
    case QMessageBox::YesToAll: return OverwriteAnswer::YesToAll;
    case QMessageBox::No: return OverwriteAnswer::No;
    case QMessageBox::NoToAll: return OverwriteAnswer::NoToAll;
    default: return OverwriteAnswer::Cancel;
    }
}

DroppedImageAnswer CDesktopPrompts::AskOpenOrAdd(const QString& fileName) {
    auto box = MakeMessageBox(QMessageBox::Question, "Disk Image Dropped",
                              "'" + fileName +
                                  "' is a virtual disk image. Would you like to open it, or to add it to this disk "
                                  "as a file?",
                              QMessageBox::Cancel, Owner);
    QPushButton* open = box->addButton("&Open", QMessageBox::AcceptRole);
    QPushButton* add = box->addButton("&Add as a file", QMessageBox::ActionRole);
    box->setDefaultButton(open);
    box->setEscapeButton(QMessageBox::Cancel);
    BringToFront(box.get());
    box->exec();
    if (box->clickedButton() == open) return DroppedImageAnswer::Open;
    if (box->clickedButton() == add) return DroppedImageAnswer::AddAsFile;
    return DroppedImageAnswer::Cancel;
}

SecondDiskAnswer CDesktopPrompts::AskWhereToOpen(const QString& fileName) {
    auto box = MakeMessageBox(QMessageBox::Question, "Open Disk",
                              "A disk is open in this window. Would you like to open '" + fileName +
                                  "' in a new window, or in place of the open disk?",
                              QMessageBox::Cancel, Owner);
    QPushButton* window = box->addButton("Open in New &Window", QMessageBox::AcceptRole);
    QPushButton* replace = box->addButton("&Replace", QMessageBox::DestructiveRole);
    box->setDefaultButton(window);
    box->setEscapeButton(QMessageBox::Cancel);
    BringToFront(box.get());
    box->exec();
    if (box->clickedButton() == window) return SecondDiskAnswer::NewWindow;
    if (box->clickedButton() == replace) return SecondDiskAnswer::Replace;
    return SecondDiskAnswer::Cancel;
}

QString CDesktopPrompts::AskOpenFileName(const QString& title, const QStringList& filters) {
    return QFileDialog::getOpenFileName(Owner, title, QString(), filters.join(";;"));
}

QStringList CDesktopPrompts::AskOpenFileNames(const QString& title, const QStringList& filters) {
    return QFileDialog::getOpenFileNames(Owner, title, QString(), filters.join(";;"));
}

QString CDesktopPrompts::AskSaveFileName(const QString& title, const QStringList& filters,
                                         const QString& defaultSuffix) {
    QFileDialog dialog(Owner, title, QString(), filters.join(";;"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().front();
}

std::optional<QString> CDesktopPrompts::AskRename(const QString& oldName, const NameProblem& problemOf) {
    CRenameDialog dialog(oldName, problemOf, Owner);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Name();
}

std::optional<QString> CDesktopPrompts::AskValidName(const QString& rejectedName, const QString& rule) {
    CRenameDialog2 dialog(rejectedName, rule, Owner);
    BringToFront(&dialog);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Name();
}

bool CDesktopPrompts::AskReplace(FileSystem::TFileSystem& fs, int existingIndex, const QString& newName,
                                 qint64 newSize, const FileSystem::FileDate& newDate) {
    CReplaceDialog dialog(fs, existingIndex, newName, newSize, newDate, Owner);
    BringToFront(&dialog);
    return dialog.exec() == QDialog::Accepted;
}

std::optional<bool> CDesktopPrompts::AskExtract(int selectedCount, QString& directory) {
    QWidget* owner = Owner;
    CExtractDialog dialog(
        selectedCount, directory,
        [owner](const QString& title, const QString& start) {
            return QFileDialog::getExistingDirectory(owner, title, start);
        },
        Owner);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    directory = dialog.Directory();
    return dialog.AllFiles();
}

QString CDesktopPrompts::AskFolder(const QString& title) {
    return QFileDialog::getExistingDirectory(Owner, title, QDir::homePath());
}

void CDesktopPrompts::ShowViewer(FileSystem::TFileSystem& fs, int fileIndex, int& fontType) {
    CTextView viewer(fs, fileIndex, fontType, Owner);
    if (viewer.Run() == CTextView::ResultDone) fontType = viewer.FontType();
}

std::optional<NewFloppySettings> CDesktopPrompts::AskNewFloppy() {
    CCreateFloppy dialog([this](const QString& caption, const QString& text) { ShowError(caption, text); }, Owner);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Settings();
}

std::optional<DiskPropertyChanges> CDesktopPrompts::ShowDiskProperties(FileSystem::MountedDisk& disk) {
    CDiskInfoDialog dialog(disk, Owner);
    if (!dialog.BuildError().isEmpty()) {
        ShowError("Virtual disk properties", "The disk properties could not be read: " + dialog.BuildError());
        return std::nullopt;
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Changes();
}

bool CDesktopPrompts::ShowFileProperties(FileSystem::TFileSystem& fs, int fileIndex) {
    CFileInfoDialog dialog(
        fs, fileIndex, [this](const QString& caption, const QString& text) { ShowError(caption, text); }, Owner);
    return dialog.exec() == QDialog::Accepted;
}

bool CDesktopPrompts::EditPreferences(TPreferences& preferences) {
    CPreferencesDialog dialog(preferences, Owner);
    if (dialog.exec() != QDialog::Accepted) return false;
    preferences = dialog.Chosen();
    return true;
}

QString UserGuideUrl() {
    // Installed beside the program, or, run from its build, in the source tree.
    for (const char* path : {QB_INSTALLED_GUIDE, QB_SOURCE_GUIDE}) {
        if (QFileInfo(QString::fromLocal8Bit(path)).isFile()) return QUrl::fromLocalFile(path).toString();
    }
    return {};
}

QString AboutText() {
    QString text = QString("<p><b>Quarrybox</b> %1</p><p>Lists, views, extracts and adds files on the virtual disk "
                           "images of TRS-80 emulators.</p>")
                       .arg(QB_VERSION);
    const QString home = QB_HOMEPAGE;
    if (!home.isEmpty()) text += QString("<p><a href=\"%1\">%1</a></p>").arg(home.toHtmlEscaped());
    const QString guide = UserGuideUrl();
    if (!guide.isEmpty()) text += QString("<p><a href=\"%1\">The Quarrybox guide</a></p>").arg(guide.toHtmlEscaped());
    return text;
}

QString HelpText() {
    return "<p>Quarrybox opens the disk images of TRS-80 emulators (JV1, JV3, DMK, HDV) and shows the files "
           "of the disk. Open an image with <b>File &gt; Open</b> or by dropping it on the window; view a file "
           "with Enter or a double click; copy files out by dragging them to a folder or with "
           "<b>Edit &gt; Extract</b>, and in with <b>Edit &gt; Add</b> or by dropping them on the list.</p>"
           "<table cellspacing=\"4\">"
           "<tr><td><b>Enter</b></td><td>View the selected file</td></tr>"
           "<tr><td><b>F2</b></td><td>Rename the selected file</td></tr>"
           "<tr><td><b>Delete</b></td><td>Delete the selected files</td></tr>"
           "<tr><td><b>Ctrl+C, Ctrl+V</b></td><td>Copy files, paste files</td></tr>"
           "<tr><td><b>Ctrl+A</b></td><td>Select every file</td></tr>"
           "<tr><td><b>Home, End</b></td><td>First, last file of the list</td></tr>"
           "<tr><td><b>Shift+F10, Menu</b></td><td>The selected files' menu</td></tr>"
           "<tr><td><b>Ctrl+N, Ctrl+O</b></td><td>New floppy image, open an image</td></tr>"
           "<tr><td><b>Ctrl+Q</b></td><td>Quit</td></tr>"
           "</table>";
}

void CDesktopPrompts::ShowAbout() {
    QMessageBox box(QMessageBox::NoIcon, "About Quarrybox", AboutText(), QMessageBox::Ok, Owner);
    box.setIconPixmap(ProgramIcon().pixmap(64, 64));
    box.setTextFormat(Qt::RichText);
    box.setTextInteractionFlags(Qt::TextBrowserInteraction);
    box.exec();
}

void CDesktopPrompts::ShowHelp() {
    QString text = HelpText();
    const QString guide = UserGuideUrl();
    if (!guide.isEmpty()) text += QString("<p><a href=\"%1\">The Quarrybox guide</a></p>").arg(guide.toHtmlEscaped());
    auto box = MakeMessageBox(QMessageBox::Information, "Quarrybox Help", text, QMessageBox::Ok, Owner);
    box->setTextFormat(Qt::RichText);
    box->setTextInteractionFlags(Qt::TextBrowserInteraction);
    box->exec();
}

}  // namespace App
