// The real answers to the main window's questions: message boxes, the host's
// file dialogs and the program's own dialogs.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <memory>

#include "UserPrompts.h"

namespace App {

// A message box wide enough for its caption: window managers cut a title wider than
// the window, and a short text makes a narrow box.
std::unique_ptr<QMessageBox> MakeMessageBox(QMessageBox::Icon icon, const QString& caption, const QString& text,
                                            QMessageBox::StandardButtons buttons, QWidget* owner);

// The link to the user guide that installs with the program, empty when there is none.
QString UserGuideUrl();
// The About box's text, with the links it offers.
QString AboutText();

class CDesktopPrompts : public IUserPrompts {
public:
    CDesktopPrompts() = default;
    // The window the dialogs belong to; set once the main window exists.
    void SetOwner(QWidget* owner) { Owner = owner; }

    void ShowError(const QString& caption, const QString& text) override;
    bool AskYesNo(const QString& caption, const QString& text) override;
    OverwriteAnswer AskOverwrite(const QString& caption, const QString& text) override;
    DroppedImageAnswer AskOpenOrAdd(const QString& fileName) override;
    SecondDiskAnswer AskWhereToOpen(const QString& fileName) override;
    QString AskOpenFileName(const QString& title, const QStringList& filters) override;
    QStringList AskOpenFileNames(const QString& title, const QStringList& filters) override;
    QString AskSaveFileName(const QString& title, const QStringList& filters, const QString& defaultSuffix) override;
    std::optional<QString> AskRename(const QString& oldName, const NameProblem& problemOf) override;
    std::optional<QString> AskValidName(const QString& rejectedName, const QString& rule) override;
    bool AskReplace(FileSystem::TFileSystem& fs, int existingIndex, const QString& newName, qint64 newSize,
                    const FileSystem::FileDate& newDate) override;
    std::optional<bool> AskExtract(int selectedCount, QString& directory) override;
    QString AskFolder(const QString& title) override;
    void ShowViewer(FileSystem::TFileSystem& fs, int fileIndex, int& fontType) override;
    std::optional<NewFloppySettings> AskNewFloppy() override;
    std::optional<DiskPropertyChanges> ShowDiskProperties(FileSystem::MountedDisk& disk) override;
    bool ShowFileProperties(FileSystem::TFileSystem& fs, int fileIndex) override;
    bool EditPreferences(TPreferences& preferences) override;
    void ShowAbout() override;
    void ShowHelp() override;

private:
    QPointer<QWidget> Owner;
};

}  // namespace App
