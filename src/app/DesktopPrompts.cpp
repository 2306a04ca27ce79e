#include "DesktopPrompts.h"

#include <QFileDialog>
#include <QMessageBox>

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

}  // namespace

void CDesktopPrompts::ShowError(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, Owner);
    BringToFront(&box);
    box.exec();
}

bool CDesktopPrompts::AskYesNo(const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Yes | QMessageBox::No, Owner);
    box.setDefaultButton(QMessageBox::Yes);
    BringToFront(&box);
    return box.exec() == QMessageBox::Yes;
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

std::optional<QString> CDesktopPrompts::AskRename(const QString& oldName) {
    CRenameDialog dialog(oldName, Owner);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Name();
}

std::optional<QString> CDesktopPrompts::AskValidName(const QString& rejectedName) {
    CRenameDialog2 dialog(rejectedName, Owner);
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

void CDesktopPrompts::ShowViewer(FileSystem::TFileSystem& fs, int fileIndex, int& fontType) {
    CTextView viewer(fs, fileIndex, fontType, Owner);
    if (viewer.Run() == CTextView::ResultDone) fontType = viewer.FontType();
}

std::optional<NewFloppySettings> CDesktopPrompts::AskNewFloppy() {
    CCreateFloppy dialog([this](const QString& caption, const QString& text) { ShowError(caption, text); }, Owner);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Settings();
}

bool CDesktopPrompts::ShowDiskProperties(FileSystem::MountedDisk& disk) {
    CDiskInfoDialog dialog(disk, Owner);
    return dialog.exec() == QDialog::Accepted;
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

void CDesktopPrompts::ShowAbout() {
    QString text = QString("<p><b>Quarrybox</b> %1</p><p>Lists, views, extracts and adds files on the virtual disk "
                           "images of TRS-80 emulators.</p>")
                       .arg(QB_VERSION);
    const QString home = QB_HOMEPAGE;
    if (!home.isEmpty()) text += QString("<p><a href=\"%1\">%1</a></p>").arg(home.toHtmlEscaped());
    QMessageBox box(QMessageBox::NoIcon, "About Quarrybox", text, QMessageBox::Ok, Owner);
    box.setIconPixmap(ProgramIcon().pixmap(64, 64));
    box.setTextFormat(Qt::RichText);
    box.setTextInteractionFlags(Qt::TextBrowserInteraction);
    box.exec();
}

}  // namespace App
