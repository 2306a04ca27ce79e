#include "CheckFindings.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QHeaderView>
#include <QLabel>
#include <QProgressDialog>
#include <QStyle>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "AppText.h"
#include "filesystem/FileSystem.h"
#include "filesystem/MountedDisk.h"

namespace App {
namespace {

constexpr int PartitionRole = Qt::UserRole;
constexpr int FileIndexRole = Qt::UserRole + 1;

QIcon SeverityIcon(FileSystem::TSeverity severity) {
    switch (severity) {
    case FileSystem::TSeverity::Error: return QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
    case FileSystem::TSeverity::Warning: return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    case FileSystem::TSeverity::Info: break;
    }
    return QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
}

}  // namespace

std::vector<FileSystem::TCheckSection> RunDiskCheck(QWidget* parent, FileSystem::MountedDisk& disk) {
    std::vector<FileSystem::TCheckSection> sections;
    std::string failure;
    QProgressDialog busy("Checking the disk…", QString(), 0, 0, parent);
    busy.setWindowTitle("Check Disk");
    busy.setWindowModality(Qt::WindowModal);
    busy.setMinimumDuration(300);
    QEventLoop loop;
    QThread* worker = QThread::create([&] {
        try {
            sections = FileSystem::CheckMountedDisk(disk);
        } catch (const std::exception& error) {
            failure = error.what();
        }
    });
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker->wait();
    delete worker;
    if (!failure.empty()) {
        sections.push_back({"Check", {FileSystem::TFinding{FileSystem::TSeverity::Error, failure}}, -1});
    }
    return sections;
}

int FileNamedBy(FileSystem::TFileSystem& fs, const std::string& message) {
    int best = -1;
    size_t bestLength = 0;
    for (int fileIndex : FileSystem::ListEveryFile(fs)) {
        std::string name;
        try {
            name = fs.GetFullFileName(fileIndex);
        } catch (const std::exception&) {
            continue;
        }
        if (name.size() > bestLength && message.find(name) != std::string::npos) {
            best = fileIndex;
            bestLength = name.size();
        }
    }
    return best;
}

CCheckFindingsDialog::CCheckFindingsDialog(FileSystem::MountedDisk& disk,
                                           const std::vector<FileSystem::TCheckSection>& sections, QWidget* parent)
    : QDialog(parent), Tree(new QTreeWidget(this)) {
    setWindowTitle("Check Disk");
    bool healthy = true;
    Tree->setHeaderHidden(true);
    Tree->setRootIsDecorated(true);
    for (const FileSystem::TCheckSection& section : sections) {
        healthy = healthy && FileSystem::IsHealthy(section.Findings);
        auto* branch = new QTreeWidgetItem(Tree, QStringList{ToQ(section.Title)});
        FileSystem::TFileSystem* fs = section.Partition >= 0 && section.Partition < static_cast<int>(disk.FileSystems.size())
                                          ? disk.FileSystems[static_cast<size_t>(section.Partition)].get()
                                          : nullptr;
        if (section.Findings.empty()) new QTreeWidgetItem(branch, QStringList{"No problems found."});
        for (const FileSystem::TFinding& finding : section.Findings) {
            auto* leaf = new QTreeWidgetItem(branch, QStringList{ToQ(finding.Message)});
            leaf->setIcon(0, SeverityIcon(finding.Severity));
            leaf->setToolTip(0, ToQ(FileSystem::SeverityName(finding.Severity)) + ": " + ToQ(finding.Message));
            const int fileIndex = fs != nullptr ? FileNamedBy(*fs, finding.Message) : -1;
            leaf->setData(0, PartitionRole, section.Partition);
            leaf->setData(0, FileIndexRole, fileIndex);
        }
    }
    Tree->expandAll();
    connect(Tree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) { ChooseFinding(item); });

    auto* summary = new QLabel(healthy ? "The disk is healthy." : "Problems were found. The disk was not changed.", this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(summary);
    layout->addWidget(Tree);
    layout->addWidget(buttons);
    resize(fontMetrics().horizontalAdvance(QString(70, 'X')), fontMetrics().height() * 20);
}

void CCheckFindingsDialog::ChooseFinding(QTreeWidgetItem* item) {
    if (item == nullptr) return;
    const QVariant fileIndex = item->data(0, FileIndexRole);
    if (fileIndex.isValid() && fileIndex.toInt() >= 0) emit FileChosen(item->data(0, PartitionRole).toInt(), fileIndex.toInt());
}

}  // namespace App
