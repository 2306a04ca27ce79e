#include "FileDialogs.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

#include "AppText.h"

namespace App {
namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

// The name row of both rename dialogs.
void AddNameRow(QDialog* dialog, QVBoxLayout* layout, const QString& labelText, QLineEdit* edit) {
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(labelText);
    label->setBuddy(edit);
    row->addWidget(label);
    row->addWidget(edit, 1);
    layout->addLayout(row);
    edit->selectAll();
    edit->setMinimumWidth(dialog->fontMetrics().horizontalAdvance(QString(24, 'X')));
}

// A line of explanation that wraps within the dialog's width.
QLabel* NoteLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

}  // namespace

CRenameDialog::CRenameDialog(const QString& name, NameProblem problemOf, QWidget* parent)
    : QDialog(parent), Edit(new QLineEdit(name)), ProblemLabel(NoteLabel(QString())), ProblemOf(std::move(problemOf)) {
    setWindowTitle("Rename File");
    auto* layout = new QVBoxLayout(this);
    AddNameRow(this, layout, "&Filename:", Edit);
    ProblemLabel->setStyleSheet("color: #c00000");
    ProblemLabel->setVisible(false);
    layout->addWidget(ProblemLabel);
    layout->addWidget(OkCancel(this));
}

QString CRenameDialog::Name() const { return Edit->text(); }

QString CRenameDialog::Problem() const { return ProblemLabel->isHidden() ? QString() : ProblemLabel->text(); }

void CRenameDialog::accept() {
    const QString problem = ProblemOf ? ProblemOf(Edit->text()) : QString();
    if (!problem.isEmpty()) {
        ProblemLabel->setText(problem);
        ProblemLabel->setVisible(true);
        Edit->setFocus();
        Edit->selectAll();
        return;
    }
    QDialog::accept();
}

CRenameDialog2::CRenameDialog2(const QString& rejectedName, const QString& rule, QWidget* parent)
    : QDialog(parent), Edit(new QLineEdit(rejectedName)) {
    setWindowTitle("Rename File");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(NoteLabel(rejectedName));
    layout->addWidget(new QLabel("is not a valid TRS-80 filename."));
    if (!rule.isEmpty()) layout->addWidget(NoteLabel(rule + "."));
    AddNameRow(this, layout, "&New filename:", Edit);
    layout->addWidget(OkCancel(this));
}

QString CRenameDialog2::Name() const { return Edit->text(); }

QString CReplaceDialog::Describe(const QString& name, qint64 size, const FileSystem::FileDate& date) {
    return name + "\n" + FormatBytes(size) + "\n" + FormatFileDate(date);
}

CReplaceDialog::CReplaceDialog(FileSystem::TFileSystem& fs, int existingIndex, const QString& newName, qint64 newSize,
                               const FileSystem::FileDate& newDate, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle("Confirm File Replace");
    QString existingName;
    qint64 existingSize = 0;
    FileSystem::FileDate existingDate;
    try {
        existingName = ToQ(fs.GetDisplayName(existingIndex));
        existingSize = fs.GetFileSize(existingIndex);
        existingDate = fs.GetFileDate(existingIndex);
    } catch (const FileSystem::TFileSystem::Exception&) {
        // Describe what could be read.
    }
    Message = "This disk image already contains a file named '" + existingName + "'\n\n" +
              "Would you like to replace the existing file\n\n" + Describe(existingName, existingSize, existingDate) +
              "\n\nwith this one?\n\n" + Describe(newName, newSize, newDate);

    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    row->addWidget(icon);
    auto* text = new QLabel(Message);
    text->setTextFormat(Qt::PlainText);
    row->addWidget(text, 1);
    layout->addLayout(row);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Yes | QDialogButtonBox::No, this);
    connect(buttons->button(QDialogButtonBox::Yes), &QPushButton::clicked, this, &QDialog::accept);
    connect(buttons->button(QDialogButtonBox::No), &QPushButton::clicked, this, &QDialog::reject);
    buttons->button(QDialogButtonBox::Yes)->setDefault(true);
    layout->addWidget(buttons);
}

CExtractDialog::CExtractDialog(int selectedCount, const QString& directory, FolderPicker pickFolder, QWidget* parent)
    : QDialog(parent),
      Edit(new QLineEdit(directory)),
      Selected(new QRadioButton("&Selected files")),
      All(new QRadioButton("&All files")),
      Problem(new QLabel),
      PickFolder(std::move(pickFolder)) {
    setWindowTitle("Extract");
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel("&Directory to extract to:");
    label->setBuddy(Edit);
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    row->addWidget(Edit, 1);
    auto* browse = new QPushButton("...");
    browse->setAutoDefault(false);
    browse->setToolTip("Select the folder to use");
    row->addWidget(browse);
    layout->addLayout(row);
    connect(browse, &QPushButton::clicked, this, &CExtractDialog::Browse);

    auto* group = new QGroupBox("Files to extract");
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(Selected);
    groupLayout->addWidget(All);
    layout->addWidget(group);
    if (selectedCount == 0) {
        Selected->setEnabled(false);
        All->setChecked(true);
    } else {
        Selected->setChecked(true);
    }
    Problem->setVisible(false);
    Problem->setStyleSheet("color: #c00000");
    layout->addWidget(Problem);
    layout->addWidget(OkCancel(this));
    Edit->setMinimumWidth(fontMetrics().horizontalAdvance(QString(40, 'X')));
}

void CExtractDialog::Browse() {
    if (!PickFolder) return;
    const QString chosen = PickFolder("Select the folder to use", Edit->text());
    if (!chosen.isEmpty()) Edit->setText(QDir::toNativeSeparators(chosen));
}

QString CExtractDialog::Directory() const { return Edit->text(); }

bool CExtractDialog::AllFiles() const { return All->isChecked(); }

void CExtractDialog::accept() {
    // Files are only ever written into a folder the user named and that exists.
    const QFileInfo folder(Edit->text());
    if (Edit->text().trimmed().isEmpty() || !folder.isDir()) {
        Problem->setText("Please choose an existing folder to extract to.");
        Problem->setVisible(true);
        Edit->setFocus();
        return;
    }
    QDialog::accept();
}

}  // namespace App
