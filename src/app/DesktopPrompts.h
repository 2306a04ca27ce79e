// The real answers to the main window's questions: message boxes, the host's
// file dialogs and the program's own dialogs.
#pragma once

#include <QPointer>
#include <QWidget>

#include "UserPrompts.h"

namespace App {

class CDesktopPrompts : public IUserPrompts {
public:
    CDesktopPrompts() = default;
    // The window the dialogs belong to; set once the main window exists.
    void SetOwner(QWidget* owner) { Owner = owner; }

    void ShowError(const QString& caption, const QString& text) override;
    bool AskYesNo(const QString& caption, const QString& text) override;
    QString AskOpenFileName(const QString& title, const QStringList& filters) override;
    QStringList AskOpenFileNames(const QString& title, const QStringList& filters) override;
    QString AskSaveFileName(const QString& title, const QStringList& filters, const QString& defaultSuffix) override;
    std::optional<QString> AskRename(const QString& oldName) override;
    std::optional<QString> AskValidName(const QString& rejectedName) override;
    bool AskReplace(FileSystem::TFileSystem& fs, int existingIndex, const QString& newName, qint64 newSize,
                    const FileSystem::FileDate& newDate) override;
    std::optional<bool> AskExtract(int selectedCount, QString& directory) override;
    void ShowViewer(FileSystem::TFileSystem& fs, int fileIndex, int& fontType) override;
    std::optional<NewFloppySettings> AskNewFloppy() override;
    bool ShowDiskProperties(FileSystem::MountedDisk& disk) override;
    bool ShowFileProperties(FileSystem::TFileSystem& fs, int fileIndex) override;
    bool EditPreferences(TPreferences& preferences) override;
    void ShowAbout() override;

private:
    QPointer<QWidget> Owner;
};

}  // namespace App
