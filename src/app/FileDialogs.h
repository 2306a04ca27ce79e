// The small dialogs of renaming, storing and extracting files.
#pragma once

#include <QDialog>
#include <functional>

#include "UserPrompts.h"
#include "filesystem/FileSystem.h"

class QLabel;
class QLineEdit;
class QRadioButton;

namespace App {

// "Rename File": one edit box labelled "Filename:". OK with a name that problemOf
// finds fault with shows the problem and keeps the dialog open.
class CRenameDialog : public QDialog {
    Q_OBJECT
public:
    CRenameDialog(const QString& name, NameProblem problemOf, QWidget* parent = nullptr);
    QString Name() const;
    QLineEdit* NameEdit() const { return Edit; }
    // The problem shown, empty while there is none.
    QString Problem() const;

    void accept() override;

private:
    QLineEdit* Edit;
    QLabel* ProblemLabel;
    NameProblem ProblemOf;
};

// The invalid-name "Rename File" dialog of the store routine, with the naming rule.
class CRenameDialog2 : public QDialog {
    Q_OBJECT
public:
    CRenameDialog2(const QString& rejectedName, const QString& rule, QWidget* parent = nullptr);
    QString Name() const;

private:
    QLineEdit* Edit;
};

// "Confirm File Replace": the existing file and the new one, Yes and No.
class CReplaceDialog : public QDialog {
    Q_OBJECT
public:
    CReplaceDialog(FileSystem::TFileSystem& fs, int existingIndex, const QString& newName, qint64 newSize,
                   const FileSystem::FileDate& newDate, QWidget* parent = nullptr);
    // The three description lines of a file: name, size, date.
    static QString Describe(const QString& name, qint64 size, const FileSystem::FileDate& date);
    QString Text() const { return Message; }

private:
    QString Message;
};

// "Extract": the folder and whether to take the selected files or all files.
class CExtractDialog : public QDialog {
    Q_OBJECT
public:
    // pickFolder asks for a folder given the start folder; empty means cancelled.
    using FolderPicker = std::function<QString(const QString& title, const QString& start)>;
    CExtractDialog(int selectedCount, const QString& directory, FolderPicker pickFolder, QWidget* parent = nullptr);

    QString Directory() const;
    bool AllFiles() const;
    QLineEdit* DirectoryEdit() const { return Edit; }
    QRadioButton* SelectedButton() const { return Selected; }
    QRadioButton* AllButton() const { return All; }
    void Browse();

    void accept() override;

private:
    QLineEdit* Edit;
    QRadioButton* Selected;
    QRadioButton* All;
    QLabel* Problem;
    FolderPicker PickFolder;
};

}  // namespace App
