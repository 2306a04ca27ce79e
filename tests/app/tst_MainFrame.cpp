// The main window driven through scripted answers: start-up, opening,
// the list's sorting and colours, the View and Partition menus, and the
// delete, rename and write-permission flows.
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QDockWidget>
#include <QFile>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTreeWidget>
#include <QMenu>
#include <QMimeData>
#include <QStatusBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>

#include "AppTestSupport.h"
#include "CheckFindings.h"
#include "DiskMapView.h"
#include "FileTransfer.h"
#include "PreviewPane.h"
#include "PropertyDialogs.h"
#include "QuarryboxView.h"
#include "StatusFigures.h"
#include "common/CPMDisk.h"
#include "diskimage/DiskImage.h"
#include "common/DamagedSectors.h"
#include "filesystem/DiskCheck.h"
#include "filesystem/DiskMap.h"
#include "filesystem/HostTransfer.h"

using namespace AppTest;
using App::CMainFrame;
using App::CQuarryboxView;

class MainFrameTest : public QObject {
    Q_OBJECT

private:
    ScriptedPrompts Prompts;
    std::unique_ptr<CMainFrame> Frame;
    FakeFileSystem* Fs = nullptr;
    FakeImage* Image = nullptr;

    // A window holding a fake disk of the given partitions.
    void Attach(FakeDisk disk) {
        Fs = &disk.Fs();
        Image = disk.Image;
        Frame->AttachDisk(std::move(disk.Disk));
    }
    std::vector<int> ListedNames() {
        std::vector<int> indices = Frame->View()->AllFileIndices();
        return indices;
    }
    QStringList Names() {
        QStringList names;
        for (int index : Frame->View()->AllFileIndices()) names << QString::fromStdString(Fs->GetFullFileName(index));
        return names;
    }
    void SelectNames(const QStringList& names) {
        std::vector<int> indices;
        for (const QString& name : names) indices.push_back(Fs->FindFile(name.toStdString()));
        Frame->View()->SelectFileIndices(indices);
    }

    // The real LDOS 5.3.1 system disk; tests that use it skip where the real disks are not.
    static QString RealLDOSDisk() { return QB_FIXTURES_DIR "/real/jv3-dd40-ldos531-m3-system.dsk"; }
    // Opens a writable copy of the real LDOS disk at path, without the date question.
    bool OpenCopyOfRealLDOSDisk(const QString& path) {
        if (!QFile::copy(RealLDOSDisk(), path)) return false;
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        Frame->Preferences().LDOSDateCheckDisabled = true;
        return Frame->OpenDisk(path);
    }

private slots:
    void init() {
        Prompts = ScriptedPrompts();
        Frame = std::make_unique<CMainFrame>(Prompts, App::TPreferences());
    }
    void cleanup() { Frame.reset(); }

    void FileArgumentsSkipOptionsAndEmptyArguments_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("none") << QStringList{} << QStringList{};
        QTest::newRow("one") << QStringList{"a.dsk"} << QStringList{"a.dsk"};
        QTest::newRow("option and quoted path") << QStringList{"-x", "my disk.dsk"} << QStringList{"my disk.dsk"};
        QTest::newRow("two files") << QStringList{"a.dsk", "b.dsk"} << QStringList{"a.dsk", "b.dsk"};
        QTest::newRow("empty skipped") << QStringList{"", "a.dsk", "--wide"} << QStringList{"a.dsk"};
    }
    void FileArgumentsSkipOptionsAndEmptyArguments() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, files);
        QCOMPARE(CMainFrame::FileArguments(arguments), files);
    }

    void StartOpensOnlyASingleFileArgument() {
        QTemporaryDir folder;
        const QString path = folder.filePath("not an image.dsk");
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("garbage");
        junk.close();

        Frame->Start({path, path});
        QVERIFY(Prompts.Log.empty());

        Frame->Start({"-option", path});
        QCOMPARE(Prompts.OfKind("error").size(), size_t(1));
        QCOMPARE(Prompts.OfKind("error")[0].Caption, QString("Error Opening Virtual Disk"));
    }

    void FailedOpenKeepsTheOpenDiskAndSaysWhy() {
        FakeDisk disk;
        disk.Fs().Add("KEPT", "TXT");
        Attach(std::move(disk));
        FileSystem::MountedDisk* open = Frame->Disk();
        const QString title = Frame->windowTitle();
        QTemporaryDir folder;
        const QString path = folder.filePath("junk.dsk");
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a disk");
        junk.close();

        QVERIFY(!Frame->OpenDisk(path));
        QCOMPARE(Frame->Disk(), open);
        QVERIFY(Frame->View()->horizontalHeader()->isVisibleTo(Frame.get()));
        QCOMPARE(Names(), QStringList{"KEPT/TXT"});
        QCOMPARE(Frame->windowTitle(), title);
        const auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(1));
        QCOMPARE(errors[0].Caption, QString("Error Opening Virtual Disk"));
        QVERIFY(errors[0].Text.startsWith("Not a recognized virtual disk file: "));
        QVERIFY(Frame->Action(CMainFrame::CmdClose)->isEnabled());
    }

    // The container's message when no container takes the file, the DOS's when one does;
    // each says which it was.
    void BadImagesGetOneMessagePerKind() {
        QTemporaryDir folder;
        const QString text = folder.filePath("notes.txt");
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Dear diary, no disk today.");
        file.close();
        const QString blank = folder.filePath("blank.dsk");
        {
            FileSystem::MountedDisk disk;
            disk.CreateNew(QFile::encodeName(blank).toStdString(), 1, 40, -1, 1, true, "", "");  // JV3, no DOS
            disk.Flush();
        }
        QVERIFY(!Frame->OpenDisk(text));
        QVERIFY(!Frame->OpenDisk(blank));
        const auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(2));
        QCOMPARE(errors[0].Text, QString("Not a recognized virtual disk file: the file is not a JV1, JV3, DMK, HDV "
                                         "or memory-card image (or it is cut short or damaged)."));
        QCOMPARE(errors[1].Text, QString("Unrecognized disk format: the file is a JV3 image, but no disk operating "
                                         "system that Quarrybox knows was found on it (or its directory is damaged)."));
        QVERIFY(Frame->Disk() == nullptr);
        QVERIFY(!Frame->View()->horizontalHeader()->isVisibleTo(Frame.get()));
    }

    // A directory sector read with a CRC error: the disk opens with every file, says once
    // that it is damaged, shows it on the status bar, and offers no change.
    void DamagedDirectoryIsSaidOnce() {
        QTemporaryDir folder;
        const std::string path = folder.filePath("damaged.dmk").toStdString();
        {
            FileSystem::MountedDisk disk;
            disk.CreateNew(path, DiskImage::ImageDMK, 40, 2, 1, true, "WILD", "01/02/90");
            for (const char* name : {"FIRST/DAT", "SECOND/DAT"}) disk.Current()->CreateFile(name, {1, 2, 3}, {});
            disk.Flush();
        }
        TestSupport::BreakDMKDataCrc(path, 20, 0, 10);  // the directory record of FIRST/DAT
        QVERIFY(Frame->OpenDisk(QString::fromStdString(path)));
        QCOMPARE(Frame->View()->RowCount(), 2);
        const auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(1));
        QCOMPARE(errors[0].Caption, QString("Damaged Disk"));
        QVERIFY(errors[0].Text.contains("track 20, side 0, sector 10: data CRC error, its bytes used as read"));
        QCOMPARE(Frame->AccessIndicator()->text(), QString("Damaged, read-only"));
        QVERIFY(Frame->windowTitle().endsWith(" [read-only]"));
        Frame->Refresh();
        Frame->OnPartition(0);
        Frame->View()->selectAll();
        QCOMPARE(Prompts.OfKind("error").size(), size_t(1));
        QVERIFY(!Frame->Action(CMainFrame::CmdDelete)->isEnabled());
    }

    void TitleNamesImageDosAndDiskName() {
        QCOMPARE(Frame->windowTitle(), QString("Quarrybox"));
        Attach(FakeDisk());
        QCOMPARE(Frame->windowTitle(), QString("Quarrybox - /tmp/fake.dsk - (TRSDOS 2.3 - TESTDISK)"));
        Frame->CloseDisk();
        QCOMPARE(Frame->windowTitle(), QString("Quarrybox"));
        QVERIFY(!Frame->View()->horizontalHeader()->isVisibleTo(Frame.get()));
    }

    void SortsByEachColumnAndReverses_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("ascending");
        // Names differ in case to show the case-insensitive text order; sizes
        // 9 < 10 < 100 show the integer order; dates cross a year boundary.
        QTest::newRow("name") << 0 << QStringList{"alpha/TXT", "BETA/CMD", "gamma/BAS"};
        QTest::newRow("type") << 1 << QStringList{"gamma/BAS", "BETA/CMD", "alpha/TXT"};
        QTest::newRow("size") << 2 << QStringList{"BETA/CMD", "alpha/TXT", "gamma/BAS"};
        QTest::newRow("date") << 3 << QStringList{"gamma/BAS", "alpha/TXT", "BETA/CMD"};
        QTest::newRow("attributes") << 4 << QStringList{"BETA/CMD", "alpha/TXT", "gamma/BAS"};
    }
    void SortsByEachColumnAndReverses() {
        QFETCH(int, column);
        QFETCH(QStringList, ascending);
        FakeDisk disk;
        disk.Fs().Add("alpha", "TXT", std::vector<uint8_t>(10), FileSystem::AttrReadOnly, MakeDate(1999, 12, 31, 23, 59));
        disk.Fs().Add("BETA", "CMD", std::vector<uint8_t>(9), 0, MakeDate(2000, 1, 1, 0, 1));
        disk.Fs().Add("gamma", "BAS", std::vector<uint8_t>(100), FileSystem::AttrReadOnly | FileSystem::AttrSystem,
                      MakeDate(1985, 6, 1));
        Attach(std::move(disk));
        Frame->Action(CMainFrame::CmdSystem)->trigger();

        Frame->View()->sortByColumn(column, Qt::AscendingOrder);
        QCOMPARE(Names(), ascending);
        Frame->View()->sortByColumn(column, Qt::DescendingOrder);
        QStringList descending(ascending.rbegin(), ascending.rend());
        QCOMPARE(Names(), descending);
        // A refresh keeps the user's order.
        Frame->Refresh();
        QCOMPARE(Names(), descending);
    }

    void ClickingAHeaderTwiceReversesTheOrder() {
        FakeDisk disk;
        disk.Fs().Add("B", "", std::vector<uint8_t>(1));
        disk.Fs().Add("A", "", std::vector<uint8_t>(2));
        Attach(std::move(disk));
        QCOMPARE(Names(), (QStringList{"A/", "B/"}));
        QHeaderView* header = Frame->View()->horizontalHeader();
        const int x = header->sectionViewportPosition(2) + 5;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
        const QStringList first = Names();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, 5));
        QCOMPARE(Names(), QStringList(first.rbegin(), first.rend()));
    }

    void RowColoursFollowTheAttributes_data() {
        QTest::addColumn<uint>("attributes");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("deleted beats everything")
            << uint(FileSystem::AttrDeleted | FileSystem::AttrInvisible | FileSystem::AttrSystem) << QColor(0, 0, 255);
        QTest::newRow("invisible and system") << uint(FileSystem::AttrInvisible | FileSystem::AttrSystem)
                                              << QColor(255, 0, 0);
        QTest::newRow("invisible") << uint(FileSystem::AttrInvisible) << QColor(128, 128, 0);
        QTest::newRow("system") << uint(FileSystem::AttrSystem) << QColor(255, 128, 0);
        QTest::newRow("plain") << uint(FileSystem::AttrReadOnly) << QColor();
    }
    void RowColoursFollowTheAttributes() {
        QFETCH(uint, attributes);
        QFETCH(QColor, colour);
        FakeDisk disk;
        disk.Fs().Add("FILE", "DAT", {1}, attributes);
        Attach(std::move(disk));
        Frame->Action(CMainFrame::CmdInvisible)->trigger();
        Frame->Action(CMainFrame::CmdSystem)->trigger();
        QCOMPARE(Frame->View()->RowCount(), 1);
        const QVariant shown = Frame->View()->model()->index(0, 0).data(Qt::ForegroundRole);
        QCOMPARE(shown.isValid() ? shown.value<QColor>() : QColor(), colour);
    }

    void CellsShowGroupedSizesAndDates() {
        FakeDisk disk;
        FileDate noDate;
        FileDate withSeconds = MakeDate(1985, 6, 1, 14, 5);
        withSeconds.Second = 59;
        disk.Fs().Add("BIG", "DAT", std::vector<uint8_t>(12345), 0, withSeconds);
        disk.Fs().Add("UNDATED", "DAT", {}, 0, noDate);
        Attach(std::move(disk));
        QAbstractItemModel* model = Frame->View()->model();
        QCOMPARE(model->index(0, 2).data().toString(), QLocale().toString(12345));
        const QString dateCell = model->index(0, 3).data().toString();
        QVERIFY(dateCell.startsWith(QLocale().toString(QDate(1985, 6, 1), QLocale::ShortFormat) + " "));
        QVERIFY2(!dateCell.contains("59"), qPrintable(dateCell));  // no seconds
        QVERIFY(dateCell.contains("05"));
        QCOMPARE(model->index(1, 3).data().toString(), QString());
        QCOMPARE(model->headerData(4, Qt::Horizontal).toString(), QString("Attributes"));
    }

    void ViewTogglesRefreshAndKeepTheSelection() {
        FakeDisk disk;
        disk.Fs().Add("SHOWN", "TXT");
        disk.Fs().Add("HIDDEN", "TXT", {}, FileSystem::AttrInvisible);
        disk.Fs().Add("SYS0", "SYS", {}, FileSystem::AttrSystem);
        Attach(std::move(disk));
        QCOMPARE(Names(), QStringList{"SHOWN/TXT"});
        SelectNames({"SHOWN/TXT"});

        Frame->Action(CMainFrame::CmdInvisible)->trigger();
        QVERIFY(Frame->Action(CMainFrame::CmdInvisible)->isChecked());
        QCOMPARE(Names(), (QStringList{"HIDDEN/TXT", "SHOWN/TXT"}));
        Frame->Action(CMainFrame::CmdSystem)->trigger();
        QCOMPARE(Frame->View()->RowCount(), 3);
        QCOMPARE(Frame->View()->SelectedFileIndices(), std::vector<int>{Fs->FindFile("SHOWN/TXT")});

        Frame->Action(CMainFrame::CmdInvisible)->trigger();
        QCOMPARE(Names(), (QStringList{"SHOWN/TXT", "SYS0/SYS"}));
        QCOMPARE(Frame->View()->SelectedFileIndices(), std::vector<int>{Fs->FindFile("SHOWN/TXT")});
    }

    void ViewTogglesNeedTheAttribute() {
        FakeDisk disk;
        disk.Fs().AttributesSupported = false;
        Attach(std::move(disk));
        QVERIFY(!Frame->Action(CMainFrame::CmdInvisible)->isEnabled());
        QVERIFY(!Frame->Action(CMainFrame::CmdSystem)->isEnabled());
    }

    void PartitionMenuFollowsThePartitionCount() {
        QVERIFY(!Frame->PartitionMenu()->isEnabled());
        FakeDisk disk(3);
        disk.Fs(0).Add("FIRST", "TXT");
        disk.Fs(2).Add("THIRD", "TXT");
        disk.Fs(2).DiskName = "PART2";
        FakeFileSystem* third = &disk.Fs(2);
        Attach(std::move(disk));
        QVERIFY(Frame->PartitionMenu()->isEnabled());
        for (int item = 0; item < CMainFrame::PartitionItems; ++item) {
            QCOMPARE(Frame->PartitionAction(item)->isEnabled(), item < 3);
        }

        Frame->PartitionAction(2)->trigger();
        QCOMPARE(Frame->Disk()->CurrentPartition, 2);
        QCOMPARE(Frame->CurrentFileSystem(), static_cast<FileSystem::TFileSystem*>(third));
        QVERIFY(Frame->windowTitle().endsWith("PART2)"));
        QCOMPARE(Frame->View()->RowCount(), 1);

        // A partition that does not exist keeps the current one.
        Frame->OnPartition(5);
        QCOMPARE(Frame->Disk()->CurrentPartition, 2);

        Attach(FakeDisk(1));
        QVERIFY(!Frame->PartitionMenu()->isEnabled());
    }

    void PartitionMenuShowsEveryPartitionWithItsName() {
        FakeDisk disk(12);
        for (int partition = 0; partition < 12; ++partition)
            disk.Fs(partition).DiskName = "VOL&" + std::to_string(partition);
        disk.Fs(11).Add("LAST", "TXT");
        FakeFileSystem* last = &disk.Fs(11);
        Attach(std::move(disk));
        QCOMPARE(Frame->PartitionItemCount(), 12);
        QCOMPARE(Frame->PartitionAction(0)->text(), QString("0  VOL&&0"));
        QCOMPARE(Frame->PartitionAction(11)->text(), QString("11  VOL&&11"));
        QVERIFY(Frame->PartitionAction(11)->isEnabled());
        Frame->PartitionAction(11)->trigger();
        QCOMPARE(Frame->CurrentFileSystem(), static_cast<FileSystem::TFileSystem*>(last));
        QVERIFY(Frame->PartitionAction(11)->isChecked());

        // A disk of fewer partitions gives the menu back its usual items.
        Attach(FakeDisk(2));
        QCOMPARE(Frame->PartitionItemCount(), static_cast<int>(CMainFrame::PartitionItems));
        QCOMPARE(Frame->PartitionAction(1)->text(), QString("1  TESTDISK"));
        QCOMPARE(Frame->PartitionAction(5)->text(), QString("5"));
    }

    void StatusBarCountsSizesAndFreeSpace() {
        auto k = [](qint64 bytes) { return App::CDiskInfoDialog::FormatK(bytes); };
        App::CStatusFigures* figures = Frame->StatusFigures();
        QVERIFY(figures->isHidden());
        FakeDisk disk;
        disk.Fs().Add("ONE", "DAT", std::vector<uint8_t>(1024));
        disk.Fs().Add("TWO", "DAT", std::vector<uint8_t>(2048));
        disk.Fs().Add("HALF", "DAT", std::vector<uint8_t>(512));
        Attach(std::move(disk));
        QVERIFY(!figures->isHidden());
        QCOMPARE(figures->FilesShown(), "3 files, " + k(3584));
        QCOMPARE(figures->FreeShown(), k(100000 - 3584) + " free");
        QCOMPARE(figures->DOSShown(), QString("TRSDOS 2.3"));

        SelectNames({"ONE/DAT", "HALF/DAT"});
        QCOMPARE(figures->FilesShown(), "2 of 3 files selected, " + k(1536));

        // Deleting and adding change the count and the free space at once.
        SelectNames({"TWO/DAT"});
        Prompts.YesNo = {true};
        Frame->OnDelete();
        QCOMPARE(figures->FilesShown(), "2 files, " + k(1536));
        QCOMPARE(figures->FreeShown(), k(100000 - 1536) + " free");
        QVERIFY(Frame->StoreFile("NEW/DAT", std::vector<uint8_t>(4096), MakeDate(1985, 6, 1, 12, 0)));
        Frame->Refresh();
        QCOMPARE(figures->FilesShown(), "3 files, " + k(5632));
        QCOMPARE(figures->FreeShown(), k(100000 - 5632) + " free");

        SelectNames({"NEW/DAT", "ONE/DAT"});
        Frame->OnDelete();
        QCOMPARE(figures->FilesShown(), QString("1 file, ") + k(512));

        Frame->CloseDisk();
        QVERIFY(figures->isHidden());
    }

    void FilterKeepsNamesByWildcardOrSubstring_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("empty") << "" << QStringList{"BASIC/CMD", "MYSYS/DAT", "README/TXT", "SYS0/SYS", "SYS10/SYS"};
        QTest::newRow("substring in any case") << "sys" << QStringList{"MYSYS/DAT", "SYS0/SYS", "SYS10/SYS"};
        QTest::newRow("the host's form") << "e.t" << QStringList{"README/TXT"};
        QTest::newRow("the DOS's own form") << "e/t" << QStringList{"README/TXT"};
        QTest::newRow("extension wildcard") << "*.cmd" << QStringList{"BASIC/CMD"};
        QTest::newRow("one character") << "SYS?" << QStringList{"SYS0/SYS"};
        QTest::newRow("name wildcard, any extension") << "S*" << QStringList{"SYS0/SYS", "SYS10/SYS"};
        QTest::newRow("nothing") << "*.BAS" << QStringList{};
    }
    void FilterKeepsNamesByWildcardOrSubstring() {
        QFETCH(QString, text);
        QFETCH(QStringList, kept);
        FakeDisk disk;
        for (const char* name : {"SYS0", "SYS10", "BASIC", "README", "MYSYS"}) {
            const std::string n = name;
            disk.Fs().Add(n, n == "BASIC" ? "CMD" : n == "README" ? "TXT" : n == "MYSYS" ? "DAT" : "SYS",
                          std::vector<uint8_t>(100));
        }
        Attach(std::move(disk));
        Frame->FilterBox()->setText(text);
        QStringList names = Names();
        names.sort();
        QCOMPARE(names, kept);
        QCOMPARE(Frame->StatusFigures()->FilesShown().section(',', 0, 0),
                 kept.size() == 1 ? QString("1 file") : QString("%1 files").arg(kept.size()));
        // The list keeps the filter when it is filled again; Esc takes it back.
        Frame->Refresh();
        QCOMPARE(Frame->View()->RowCount(), int(kept.size()));
        Frame->OnEscape();
        QCOMPARE(Frame->FilterBox()->text(), QString());
        QCOMPARE(Frame->View()->RowCount(), 5);
    }

    void NamesShowAnIconOfTheirKind() {
        FakeDisk disk;
        disk.Fs().Add("PROG", "CMD");
        disk.Fs().Add("NOTES", "TXT");
        Attach(std::move(disk));
        const App::CFileListModel* model = Frame->View()->FileModel();
        QCOMPARE(model->RowAt(0).Kind, Viewer::FileKind::Program);
        QCOMPARE(model->RowAt(1).Kind, Viewer::FileKind::Text);
        QVERIFY(!model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());
        QVERIFY(!model->index(0, 2).data(Qt::DecorationRole).isValid());
    }

    void CommandsFollowTheSelection() {
        FakeDisk disk;
        disk.Fs().Add("ONE", "TXT");
        disk.Fs().Add("TWO", "TXT");
        Attach(std::move(disk));
        auto enabled = [this](CMainFrame::Command command) { return Frame->Action(command)->isEnabled(); };
        QVERIFY(!enabled(CMainFrame::CmdDelete) && !enabled(CMainFrame::CmdPreview) && !enabled(CMainFrame::CmdCopy));
        SelectNames({"ONE/TXT"});
        QVERIFY(enabled(CMainFrame::CmdPreview) && enabled(CMainFrame::CmdRename) && enabled(CMainFrame::CmdDelete));
        Frame->Action(CMainFrame::CmdSelectAll)->trigger();
        QVERIFY(!enabled(CMainFrame::CmdPreview) && !enabled(CMainFrame::CmdRename) &&
                !enabled(CMainFrame::CmdProperties));
        QVERIFY(enabled(CMainFrame::CmdDelete) && enabled(CMainFrame::CmdCopy));
        SelectNames({"ONE/TXT"});
        Frame->Action(CMainFrame::CmdInvertSelection)->trigger();
        QCOMPARE(Frame->View()->SelectedFileIndices(), std::vector<int>{Fs->FindFile("TWO/TXT")});
    }

    void DeleteAsksOnceNamingTheCount() {
        FakeDisk disk;
        for (int i = 0; i < 14; ++i) disk.Fs().Add(QString("FILE%1").arg(i).toStdString(), "DAT");
        Attach(std::move(disk));

        Frame->OnDelete();  // nothing selected
        QVERIFY(Prompts.Log.empty());

        QStringList twelve;
        for (int i = 0; i < 12; ++i) twelve << QString("FILE%1/DAT").arg(i);
        SelectNames(twelve);
        Prompts.YesNo = {false};
        Frame->OnDelete();
        QCOMPARE(Prompts.Log.back().Caption, QString("Confirm File Delete"));
        QCOMPARE(Prompts.Log.back().Text, QString("Are you sure you want to delete these 12 files?"));
        QCOMPARE(Fs->Count(), 14);

        Prompts.YesNo = {true};
        Frame->OnDelete();
        QCOMPARE(Fs->Count(), 2);
        QCOMPARE(Frame->View()->RowCount(), 2);

        SelectNames({"FILE12/DAT"});
        Frame->OnDelete();
        QCOMPARE(Prompts.Log.back().Text, QString("Are you sure you want to delete the file 'FILE12/DAT'?"));
        QCOMPARE(Fs->Count(), 1);
    }

    void DeleteErrorsAreReportedPerFile() {
        FakeDisk disk;
        disk.Fs().Add("A", "DAT");
        disk.Fs().Add("B", "DAT");
        disk.Fs().DeleteFails = true;
        Attach(std::move(disk));
        Frame->OnSelectAll();
        Frame->OnDelete();
        const auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(2));
        QCOMPARE(errors[0].Caption, QString("Delete error"));
        QCOMPARE(errors[0].Text, QString("Error deleting file: Illegal file index"));
    }

    void RenameGoesFileByFileAndCancelEndsTheCommand() {
        FakeDisk disk;
        disk.Fs().Add("A", "DAT");
        disk.Fs().Add("B", "DAT");
        disk.Fs().Add("C", "DAT");
        Attach(std::move(disk));
        Frame->OnSelectAll();
        // A: renamed; B: the name is taken (an error, then on); C: Cancel.
        Prompts.Renames = {QString("NEWA/TXT"), QString("C/DAT"), std::nullopt};
        Frame->OnRename();
        QCOMPARE(Prompts.OfKind("rename").size(), size_t(3));
        QCOMPARE(Prompts.OfKind("rename")[0].Text, QString("A/DAT"));
        QCOMPARE(Names(), (QStringList{"B/DAT", "C/DAT", "NEWA/TXT"}));
        const auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(1));
        QCOMPARE(errors[0].Caption, QString("Rename error"));
        QCOMPARE(errors[0].Text, QString("Error renaming file: File exists"));
        QCOMPARE(Frame->View()->SelectedFileIndices().size(), size_t(3));

        // Cancel on the first file changes nothing.
        Prompts.Log.clear();
        Prompts.Renames = {std::nullopt};
        Frame->OnRename();
        QCOMPARE(Prompts.OfKind("rename").size(), size_t(1));
        QCOMPARE(Names(), (QStringList{"B/DAT", "C/DAT", "NEWA/TXT"}));
    }

    void ChangingCommandsRefuseUnwritableDisks_data() {
        QTest::addColumn<int>("protect");
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("message");
        QTest::newRow("write protected") << 1 << false << true
                                         << "The disk image cannot be written to because it is write protected.";
        QTest::newRow("read-only file") << 2 << true << true
                                        << "The disk image cannot be written to because it is write protected.";
        QTest::newRow("damaged") << 0 << true << true
                                 << "The disk image cannot be written to because the file system is damaged.";
        QTest::newRow("read-only DOS") << 1 << false << false
                                       << "Quarrybox does not support modifying RSDOS disk images.";
    }
    void ChangingCommandsRefuseUnwritableDisks() {
        QFETCH(int, protect);
        QFETCH(bool, damaged);
        QFETCH(bool, writable);
        QFETCH(QString, message);
        FakeDisk disk(1, protect);
        disk.Fs().Add("KEEP", "DAT");
        disk.Fs().ReadError = damaged;
        disk.Fs().Writable = writable;
        disk.Fs().FamilyName = "RSDOS";
        Attach(std::move(disk));
        Frame->OnSelectAll();
        const std::vector<std::function<void()>> commands = {
            [this] { Frame->OnAdd(); }, [this] { Frame->OnDelete(); }, [this] { Frame->OnRename(); },
            [this] { Frame->OnPaste(); }};
        for (const auto& command : commands) {
            Prompts.Log.clear();
            command();
            QCOMPARE(Prompts.Log.size(), size_t(1));
            QCOMPARE(Prompts.Log[0].Kind, QString("error"));
            QCOMPARE(Prompts.Log[0].Caption, QString("File Write Error"));
            QCOMPARE(Prompts.Log[0].Text, message);
        }
        QCOMPARE(Fs->Count(), 1);
    }

    void DateCheckOffersThePatchesOnWritableLdosDisks_data() {
        QTest::addColumn<QString>("family");
        QTest::addColumn<int>("protect");
        QTest::addColumn<bool>("disabled");
        QTest::addColumn<int>("variant");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("text");
        QTest::newRow("LDOS unpatched") << "LDOS" << 0 << false << 3 << 0 << "Apply LDOS 2012 Date Patches"
                                        << "This LDOS disk won't accept dates past 2011. Would you like to apply the "
                                           "2012 date patches?";
        QTest::newRow("LS-DOS earlier patches")
            << "LDOS" << 0 << false << 4 << 1 << "Update LS-DOS 2012 Date Patches"
            << "This LS-DOS disk doesn't contain the most recent date patches. Would you like to update the date "
               "patches?";
        QTest::newRow("write protected") << "LDOS" << 1 << false << 3 << 0 << "" << "";
        QTest::newRow("check disabled") << "LDOS" << 0 << true << 3 << 0 << "" << "";
        QTest::newRow("other DOS") << "TRSDOS" << 0 << false << 3 << 0 << "" << "";
        QTest::newRow("no variant") << "LDOS" << 0 << false << -1 << 0 << "" << "";
    }
    void DateCheckOffersThePatchesOnWritableLdosDisks() {
        QFETCH(QString, family);
        QFETCH(int, protect);
        QFETCH(bool, disabled);
        QFETCH(int, variant);
        QFETCH(int, kind);
        QFETCH(QString, caption);
        QFETCH(QString, text);
        FakeDatePatcher patcher;
        patcher.State = {true, variant, kind};
        Frame->SetDatePatcher(&patcher);
        Frame->Preferences().LDOSDateCheckDisabled = disabled;
        FakeDisk disk(1, protect);
        disk.Fs().FamilyName = family.toStdString();
        Attach(std::move(disk));

        Prompts.YesNo = {true};
        Frame->RunDateCheck();
        if (caption.isEmpty()) {
            QVERIFY(Prompts.Log.empty());
            QVERIFY(patcher.Applied.empty());
            return;
        }
        QCOMPARE(Prompts.Log.size(), size_t(1));
        QCOMPARE(Prompts.Log[0].Caption, caption);
        QCOMPARE(Prompts.Log[0].Text, text);
        QCOMPARE(patcher.Applied, (std::vector<std::pair<int, int>>{{variant, kind}}));

        Prompts.YesNo = {false};
        Frame->RunDateCheck();
        QCOMPARE(patcher.Applied.size(), size_t(1));
    }

    void EscapeClosesOnlyWhenAsked() {
        Frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(Frame.get()));
        QTest::keyClick(Frame.get(), Qt::Key_Escape);
        QVERIFY(Frame->isVisible());
        Frame->Preferences().ExitUponESC = true;
        QTest::keyClick(Frame.get(), Qt::Key_Escape);
        QVERIFY(!Frame->isVisible());
    }

    void PreviewKeepsTheViewersFontChoice() {
        FakeDisk disk;
        disk.Fs().Add("READ", "ME");
        Attach(std::move(disk));
        SelectNames({"READ/ME"});
        Prompts.ViewerFontType = 1;
        QTest::keyClick(Frame->View(), Qt::Key_Return);
        QCOMPARE(Prompts.OfKind("viewer").size(), size_t(1));
        QCOMPARE(Prompts.OfKind("viewer")[0].Text, QString("READ/ME"));
        QCOMPARE(Frame->Preferences().FontType, 1);
    }

    void ListFailureLeavesTheListEmptyWithoutAMessage() {
        FakeDisk disk;
        disk.Fs().Add("A", "DAT");
        disk.Fs().ListFails = true;
        Attach(std::move(disk));
        QCOMPARE(Frame->View()->RowCount(), 0);
        QVERIFY(Prompts.Log.empty());
    }

    void RenameWithABadNameSaysTheRuleAndStaysOpen() {
        FakeDisk disk;
        disk.Fs().Add("OLD", "DAT");
        Attach(std::move(disk));
        SelectNames({"OLD/DAT"});
        Prompts.Renames = {QString("bad name"), QString("NEW/DAT")};
        Frame->OnRename();
        QCOMPARE(Prompts.OfKind("rename").size(), size_t(1));  // one dialog, kept open
        const auto problems = Prompts.OfKind("renameproblem");
        QCOMPARE(problems.size(), size_t(1));
        QCOMPARE(problems[0].Text, QString("Illegal filename. A name is 1 to 8 capitals and digits."));
        QVERIFY(Prompts.OfKind("error").empty());
        QCOMPARE(Names(), QStringList{"NEW/DAT"});
    }

    // Item by item, what a disk that cannot be changed offers, and how it shows.
    void ADiskThatCannotBeChangedOffersNoChangingCommands_data() {
        QTest::addColumn<int>("protect");
        QTest::addColumn<bool>("writable");
        QTest::addColumn<QString>("word");
        QTest::newRow("read-only DOS") << 0 << false << "Read-only";
        QTest::newRow("write protected") << 1 << true << "Write protected";
        QTest::newRow("read-only file") << 2 << true << "Read-only";
        QTest::newRow("writable") << 0 << true << "";
    }
    void ADiskThatCannotBeChangedOffersNoChangingCommands() {
        QFETCH(int, protect);
        QFETCH(bool, writable);
        QFETCH(QString, word);
        FakeDisk disk(1, protect);
        disk.Fs().Add("FILE", "DAT");
        disk.Fs().Writable = writable;
        disk.Fs().DOSName = disk.Fs().FamilyName = "RSDOS";
        Attach(std::move(disk));
        SelectNames({"FILE/DAT"});
        auto* clipboardData = new QMimeData;
        clipboardData->setData(CMainFrame::FileGroupMimeType, App::EncodeFileGroup({}));
        QGuiApplication::clipboard()->setMimeData(clipboardData);
        const bool changeable = protect == 0 && writable;
        for (CMainFrame::Command command :
             {CMainFrame::CmdAdd, CMainFrame::CmdDelete, CMainFrame::CmdRename, CMainFrame::CmdPaste}) {
            QCOMPARE(Frame->Action(command)->isEnabled(), changeable);
        }
        QVERIFY(Frame->Action(CMainFrame::CmdExtract)->isEnabled());
        QVERIFY(Frame->Action(CMainFrame::CmdProperties)->isEnabled());
        QCOMPARE(Frame->windowTitle().endsWith(" [read-only]"), !changeable);
        QCOMPARE(Frame->AccessIndicator()->isVisibleTo(Frame.get()), !changeable);
        if (!changeable) {
            QCOMPARE(Frame->AccessIndicator()->text(), word);
            QCOMPARE(Frame->AccessIndicator()->toolTip(),
                     QString::fromStdString(FileSystem::WriteRefusal(*Fs)));
        }
    }

    void KeysPeopleExpect() {
        FakeDisk disk;
        for (const char* name : {"ALPHA", "BRAVO", "CHARLIE", "DELTA"}) disk.Fs().Add(name, "DAT");
        Attach(std::move(disk));
        Frame->show();
        QVERIFY(QTest::qWaitForWindowActive(Frame.get()));
        CQuarryboxView* list = Frame->View();
        list->setFocus();
        SelectNames({"BRAVO/DAT"});

        QTest::keyClick(list, Qt::Key_Home);
        QCOMPARE(list->currentIndex().row(), 0);
        QCOMPARE(Frame->View()->SelectedFileIndices(), std::vector<int>{Fs->FindFile("ALPHA/DAT")});
        QTest::keyClick(list, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(list->currentIndex().row(), 3);
        QTest::keyClick(list, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(list->currentIndex().row(), 0);
        QTest::keyClick(list, Qt::Key_End);
        QCOMPARE(list->currentIndex().row(), 3);
        QCOMPARE(Frame->View()->SelectedFileIndices(), std::vector<int>{Fs->FindFile("DELTA/DAT")});

        Prompts.Renames = {std::nullopt};
        QTest::keyClick(list, Qt::Key_F2);
        QCOMPARE(Prompts.OfKind("rename").size(), size_t(1));
        QCOMPARE(Prompts.OfKind("rename")[0].Text, QString("DELTA/DAT"));

        QTest::keyClick(list, Qt::Key_F1);
        QCOMPARE(Prompts.OfKind("help").size(), size_t(1));

        QTest::keyClick(list, Qt::Key_F10, Qt::ShiftModifier);
        QTRY_VERIFY(Frame->ContextMenu()->isVisible());
        Frame->ContextMenu()->close();
        Frame->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(Frame.get()));

        // Every command of the Edit menu and the disk's properties can be reached by a letter.
        for (CMainFrame::Command command : {CMainFrame::CmdAdd, CMainFrame::CmdExtract, CMainFrame::CmdDiskProperties}) {
            QVERIFY2(Frame->Action(command)->text().contains('&'), qPrintable(Frame->Action(command)->text()));
        }
        QTest::keyClick(list, Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!Frame->isVisible());
    }

    void EnterViewsOnlyASingleFile() {
        FakeDisk disk;
        disk.Fs().Add("ONE", "TXT");
        disk.Fs().Add("TWO", "TXT");
        Attach(std::move(disk));
        SelectNames({"ONE/TXT", "TWO/TXT"});
        QVERIFY(!Frame->Action(CMainFrame::CmdPreview)->isEnabled());
        QTest::keyClick(Frame->View(), Qt::Key_Return);
        QVERIFY(Prompts.OfKind("viewer").empty());
    }

    void UserAreasShowOnlyWhereTheDiskHasThem() {
        FakeDisk disk;
        disk.Fs().Add("PLAIN", "DAT");
        Attach(std::move(disk));
        QVERIFY(Frame->View()->isColumnHidden(App::CFileListModel::ColumnUser));

        FakeDisk cpm;
        const int first = cpm.Fs().Add("GAME", "COM");
        const int second = cpm.Fs().Add("NOTES", "TXT");
        cpm.Fs().Users = {{first, 3}, {second, 0}};
        Attach(std::move(cpm));
        QVERIFY(!Frame->View()->isColumnHidden(App::CFileListModel::ColumnUser));
        QCOMPARE(Frame->View()->horizontalHeader()->visualIndex(App::CFileListModel::ColumnUser),
                 App::CFileListModel::ColumnType + 1);
        QAbstractItemModel* model = Frame->View()->model();
        QCOMPARE(model->headerData(App::CFileListModel::ColumnUser, Qt::Horizontal).toString(), QString("User"));
        QCOMPARE(model->index(0, App::CFileListModel::ColumnUser).data().toString(), QString("3"));
        QCOMPARE(model->index(1, App::CFileListModel::ColumnUser).data().toString(), QString("0"));
        Frame->View()->sortByColumn(App::CFileListModel::ColumnUser, Qt::AscendingOrder);
        QCOMPARE(Names(), (QStringList{"NOTES/TXT", "GAME/COM"}));
    }

    // A CP/M disk built byte by byte: its user areas and its archive attribute as the list shows them.
    void CPMDiskShowsUserAreasAndTheArchiveLetter() {
        TestSupport::CPMDisk disk(TestSupport::CPMRows::MontezumaStandardData);
        std::vector<uint8_t> archived = TestSupport::CPMEntry(5, "GAME", "COM", 0, 0, 1, {2});
        archived[11] |= 0x80;  // archive
        disk.SetEntry(0, archived);
        disk.SetEntry(1, TestSupport::CPMEntry(0, "README", "TXT", 0, 0, 1, {3}));
        QTemporaryDir folder;
        const QString path = folder.filePath("cpm.jv3");
        QVERIFY(disk.WriteTo(QFile::encodeName(path).toStdString()));
        QVERIFY(Frame->OpenDisk(path));
        QCOMPARE(QString::fromStdString(Frame->CurrentFileSystem()->GetDOSName(true)), QString("CP/M"));
        QVERIFY(!Frame->View()->isColumnHidden(App::CFileListModel::ColumnUser));
        QAbstractItemModel* model = Frame->View()->model();
        QCOMPARE(model->index(0, App::CFileListModel::ColumnName).data().toString(), QString("GAME"));
        QCOMPARE(model->index(0, App::CFileListModel::ColumnUser).data().toString(), QString("5"));
        QCOMPARE(model->index(0, App::CFileListModel::ColumnAttributes).data().toString(), QString("A"));
        QCOMPARE(model->index(1, App::CFileListModel::ColumnUser).data().toString(), QString("0"));
    }

    void NamesSortInNaturalOrder() {
        FakeDisk disk;
        for (const char* name : {"SYS10", "SYS2", "SYS1", "SYS02A", "BASIC"}) disk.Fs().Add(name, "SYS");
        Attach(std::move(disk));
        QCOMPARE(Names(), (QStringList{"BASIC/SYS", "SYS1/SYS", "SYS2/SYS", "SYS02A/SYS", "SYS10/SYS"}));
        QVERIFY(App::NaturalLess("FILE9", "FILE10"));
        QVERIFY(!App::NaturalLess("FILE10", "FILE9"));
        QVERIFY(App::NaturalLess("A", "A1"));
        QVERIFY(App::NaturalLess("A01", "A1") != App::NaturalLess("A1", "A01"));  // a fixed order all the same
    }

    void MonthAndYearDatesShowAsSuch() {
        FakeDisk disk;
        FileDate monthOnly = MakeDate(1981, 5, 1);
        monthOnly.HasDay = false;
        disk.Fs().Add("OLD", "CMD", {}, 0, monthOnly);
        Attach(std::move(disk));
        const QString cell = Frame->View()->model()->index(0, App::CFileListModel::ColumnDate).data().toString();
        QCOMPARE(cell, QLocale().toString(QDate(1981, 5, 1), "MMM yyyy"));
    }

    void ColumnsFillTheWindow() {
        FakeDisk disk;
        disk.Fs().Add("FILE", "DAT");
        Attach(std::move(disk));
        Frame->resize(1200, 400);
        Frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(Frame.get()));
        QHeaderView* header = Frame->View()->horizontalHeader();
        QCOMPARE(header->length(), Frame->View()->viewport()->width());
    }

    void ToolbarPropertiesIsNoSaveIcon() {
        const QImage shown = Frame->Action(CMainFrame::CmdDiskProperties)->icon().pixmap(16, 16).toImage();
        for (QStyle::StandardPixmap save : {QStyle::SP_DriveFDIcon, QStyle::SP_DialogSaveButton}) {
            QVERIFY(shown != Frame->style()->standardIcon(save).pixmap(16, 16).toImage());
        }
    }

    // Each change is saved on its own: protection lifted first, set last.
    void DiskPropertiesApplyEachChangeInASafeOrder() {
        FakeDisk disk;
        Attach(std::move(disk));
        App::DiskPropertyChanges protectAndRename;
        protectAndRename.VolumeName = "MYDISK";
        protectAndRename.VolumeDate = "07/04/86";
        protectAndRename.WriteProtect = true;
        Prompts.DiskChanges = {protectAndRename};
        Frame->OnDiskProperties();
        QVERIFY2(Prompts.OfKind("error").empty(), qPrintable(Prompts.Log.back().Text));
        QCOMPARE(Fs->DiskName, std::string("MYDISK"));
        QCOMPARE(Fs->DiskDate, std::string("07/04/86"));
        QVERIFY(!Fs->Dirty);  // saved before the protection was set
        QCOMPARE(Image->GetWriteProtect(), 1);
        QVERIFY(Frame->windowTitle().contains("MYDISK"));

        App::DiskPropertyChanges unprotectAndRename;
        unprotectAndRename.VolumeName = "FREED";
        unprotectAndRename.WriteProtect = false;
        Prompts.DiskChanges = {unprotectAndRename};
        Frame->OnDiskProperties();
        QVERIFY(Prompts.OfKind("error").empty());
        QCOMPARE(Fs->DiskName, std::string("FREED"));
        QVERIFY(!Fs->Dirty);
        QCOMPARE(Image->GetWriteProtect(), 0);
    }

    void DiskPropertiesNeverShowWhatWasNotSaved() {
        FakeDisk disk(1, 1);
        Attach(std::move(disk));
        const QString title = Frame->windowTitle();
        App::DiskPropertyChanges rename;
        rename.VolumeName = "MYDISK";
        Prompts.DiskChanges = {rename};
        Frame->OnDiskProperties();  // still protected: refused, and said so
        auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(1));
        QCOMPARE(errors[0].Caption, QString("Disk Properties Error"));
        QCOMPARE(errors[0].Text, QString("The volume name could not be changed: Write protected"));
        QCOMPARE(Fs->DiskName, std::string("TESTDISK"));
        QCOMPARE(Frame->windowTitle(), title);

        // A change that cannot be saved comes back out of memory too.
        Image->Protect = 0;
        Fs->FlushFails = true;
        Prompts.DiskChanges = {rename};
        Frame->OnDiskProperties();
        errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(2));
        QCOMPARE(errors[1].Caption, QString("File Write Error"));
        QCOMPARE(Fs->DiskName, std::string("TESTDISK"));
        QVERIFY(!Frame->windowTitle().contains("MYDISK"));

        // Protection that cannot be lifted stops the changes that needed it.
        Fs->FlushFails = false;
        Image->Protect = 1;
        Image->CanProtect = true;
        App::DiskPropertyChanges both = rename;
        both.WriteProtect = false;
        Fs->Dirty = false;
        Prompts.DiskChanges = {both};
        Image->Protect = 2;  // a read-only file stays protected whatever is asked
        Frame->OnDiskProperties();
        errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(3));
        QCOMPARE(errors[2].Text,
                 QString("The write protection could not be removed: the image file itself is read-only."));
        QCOMPARE(Fs->DiskName, std::string("TESTDISK"));
    }

    void WindowComesBackAsItWasLeft() {
        std::optional<App::TPreferences> written;
        Frame->SetPreferencesWriter([&](const App::TPreferences& preferences) { written = preferences; });
        FakeDisk disk;
        disk.Fs().Add("FILE", "DAT");
        Attach(std::move(disk));
        Frame->resize(900, 500);
        Frame->View()->setColumnWidth(App::CFileListModel::ColumnSize, 211);
        Frame->View()->sortByColumn(App::CFileListModel::ColumnSize, Qt::DescendingOrder);
        Frame->Action(CMainFrame::CmdInvisible)->trigger();
        QVERIFY(Frame->PreviewDock()->isHidden());
        Frame->PreviewDock()->toggleViewAction()->trigger();
        Frame.reset();
        QVERIFY(written);

        Frame = std::make_unique<CMainFrame>(Prompts, *written);
        QCOMPARE(Frame->size(), QSize(900, 500));
        QVERIFY(Frame->ShowInvisible() && !Frame->ShowSystem());
        QVERIFY(!Frame->PreviewDock()->isHidden());
        Attach(FakeDisk());
        QCOMPARE(Frame->View()->columnWidth(App::CFileListModel::ColumnSize), 211);
        const QHeaderView* header = Frame->View()->horizontalHeader();
        QCOMPARE(header->sortIndicatorSection(), int(App::CFileListModel::ColumnSize));
        QCOMPARE(header->sortIndicatorOrder(), Qt::DescendingOrder);
    }

    // The pane shows the one selected file in its first mode and follows the keyboard
    // through the list; several files or none leave it empty; hidden, it reads nothing.
    void PreviewPaneFollowsTheSelection() {
        const std::vector<uint8_t> module = {0x01, 0x03, 0x00, 0x60, 0xC9, 0x02, 0x02, 0x00, 0x60};
        FakeDisk disk;
        const int game = disk.Fs().Add("GAME", "CMD", module);
        const int notes = disk.Fs().Add("NOTES", "TXT", {'H', 'E', 'L', 'L', 'O', '\r'});
        const int data = disk.Fs().Add("TABLE", "DAT", {0x00, 0x80, 0x81});
        Attach(std::move(disk));
        App::CPreviewPane* pane = Frame->Preview();
        Frame->PreviewDock()->toggleViewAction()->trigger();
        QCOMPARE(pane->FileIndex(), -1);

        SelectNames({"GAME/CMD"});
        QCOMPARE(pane->FileIndex(), game);
        QTRY_VERIFY(!pane->IsRendering());
        QCOMPARE(pane->ShownMode(), Viewer::ViewMode::Disassembly);
        QCOMPARE(pane->ModeBox()->currentText(), QString("Disassembly"));

        const struct {
            int File;
            Viewer::ViewMode Mode;
        } steps[] = {{notes, Viewer::ViewMode::Text}, {data, Viewer::ViewMode::Hexadecimal}};
        for (const auto& step : steps) {
            QTest::keyClick(Frame->View(), Qt::Key_Down);
            QCOMPARE(pane->FileIndex(), step.File);
            QTRY_VERIFY(!pane->IsRendering());
            QCOMPARE(pane->ShownMode(), step.Mode);
        }
        // Another mode from the pane's chooser.
        pane->SelectEntry(pane->ModeBox()->findText("Text"));
        QTRY_VERIFY(!pane->IsRendering());
        QCOMPARE(pane->ShownMode(), Viewer::ViewMode::Text);

        SelectNames({"GAME/CMD", "NOTES/TXT"});
        QCOMPARE(pane->FileIndex(), -1);
        Frame->PreviewDock()->toggleViewAction()->trigger();
        SelectNames({"NOTES/TXT"});
        QCOMPARE(pane->FileIndex(), -1);
        Frame->PreviewDock()->toggleViewAction()->trigger();
        QCOMPARE(pane->FileIndex(), notes);
        Frame->CloseDisk();
        QCOMPARE(pane->FileIndex(), -1);
    }

    // Tools > Convert to offers the core's containers; a disk the target can hold is
    // copied whole, one it cannot is refused naming the sector, with no file left.
    void ConvertToCopiesTheDiskOrNamesTheSectorInTheWay() {
        if (!QFile::exists(RealLDOSDisk())) QSKIP("the real disks are not here");
        QStringList offered;
        for (QAction* item : Frame->ConvertMenu()->actions()) offered << item->text();
        QStringList expected;
        for (const DiskImage::TImageTypeInfo& type : DiskImage::WritableImageTypes()) expected << QString(type.Name) + "…";
        QCOMPARE(offered, expected);
        QVERIFY(!Frame->ConvertMenu()->isEnabled());

        QTemporaryDir folder;
        QVERIFY(OpenCopyOfRealLDOSDisk(folder.filePath("ldos.dsk")));
        QVERIFY(Frame->ConvertMenu()->isEnabled());

        Prompts.SaveNames = {folder.filePath("copy.dmk"), folder.filePath("copy.jv1")};
        Frame->OnConvert(DiskImage::ImageDMK);
        QVERIFY(Prompts.Log.back().Kind != "error");
        auto copy = DiskImage::OpenFloppyImage(QFile::encodeName(folder.filePath("copy.dmk")).toStdString(), true);
        QCOMPARE(QString::fromStdString(copy->GetFormatName()), QString("DMK"));
        QVERIFY(Frame->statusBar()->currentMessage().contains("copied to DMK"));

        Frame->OnConvert(DiskImage::ImageJV1);
        QCOMPARE(Prompts.Log.back().Kind, QString("error"));
        QCOMPARE(Prompts.Log.back().Caption, QString("Convert to JV1"));
        QVERIFY2(Prompts.Log.back().Text.contains("sector"), qPrintable(Prompts.Log.back().Text));
        QVERIFY(!QFile::exists(folder.filePath("copy.jv1")));
        // The window still holds its disk.
        QVERIFY(Frame->CurrentFileSystem() != nullptr);
    }

    // Tools > Export All writes every file of the disk, byte for byte, into partition0;
    // a second export into the same folder keeps the files there and says which.
    void ExportAllWritesEveryFileIntoAFolderPerPartition() {
        if (!QFile::exists(RealLDOSDisk())) QSKIP("the real disks are not here");
        QVERIFY(!Frame->ExportAllAction()->isEnabled());
        QTemporaryDir folder;
        QVERIFY(OpenCopyOfRealLDOSDisk(folder.filePath("ldos.dsk")));
        QVERIFY(Frame->ExportAllAction()->isEnabled());
        FileSystem::TFileSystem& fs = *Frame->CurrentFileSystem();
        const std::vector<int> files = FileSystem::ListEveryFile(fs);
        QVERIFY(!files.empty());

        const QString out = folder.filePath("export");
        Prompts.Folders = {out, out};
        Frame->ExportAllAction()->trigger();
        QVERIFY(Prompts.Log.back().Kind != "error");
        QVERIFY(Frame->statusBar()->currentMessage().startsWith(QString("%1 files from 1 partition written").arg(files.size())));
        for (int fileIndex : files) {
            QFile written(out + "/partition0/" + QString::fromStdString(FileSystem::ExtractedFileName(fs, fileIndex)));
            QVERIFY2(written.open(QIODevice::ReadOnly), qPrintable(written.fileName()));
            const std::vector<uint8_t> bytes = fs.ReadFile(fileIndex);
            QCOMPARE(written.readAll(), QByteArray(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }

        Frame->ExportAllAction()->trigger();
        QCOMPARE(Prompts.Log.back().Kind, QString("error"));
        QVERIFY(Prompts.Log.back().Text.startsWith("0 files from 1 partition written"));
        QCOMPARE(Prompts.Log.back().Text.count("partition0: "), static_cast<int>(files.size()));
    }

    // File > New Window is offered once the program can make windows, and hands the
    // new one this window's preferences as they are now.
    // View > Disk Map on a disk made here: a file's sectors name it, a damaged sector shows
    // as such and still names its file, the selected file is lit, and clicking a sector
    // selects its file in the list.
    void DiskMapShowsOwnersAndFollowsTheSelection() {
        QTemporaryDir folder;
        const std::string path = folder.filePath("map.dmk").toStdString();
        FileSystem::TMapSector broken;
        {
            FileSystem::MountedDisk disk;
            disk.CreateNew(path, DiskImage::ImageDMK, 40, 2, 1, true, "MAPPED", "01/02/90");
            disk.Current()->CreateFile("FIRST/DAT", std::vector<uint8_t>(3000, 1), {});
            disk.Current()->CreateFile("SECOND/DAT", std::vector<uint8_t>(3000, 2), {});
            const int second = disk.Current()->FindFile("SECOND/DAT");
            broken = FileSystem::MapDisk(*disk.Current()).SectorsOf(second).at(1);
            disk.Flush();
        }
        TestSupport::BreakDMKDataCrc(path, broken.Track, broken.Side, broken.Sector);
        QVERIFY(Frame->OpenDisk(QString::fromStdString(path)));
        FileSystem::TFileSystem& fs = *Frame->CurrentFileSystem();
        const int first = fs.FindFile("FIRST/DAT"), second = fs.FindFile("SECOND/DAT");

        Frame->DiskMap()->toggleViewAction()->trigger();
        App::CDiskMapView* view = Frame->DiskMap()->View();
        view->resize(900, 700);
        const auto& cells = view->Map().Sectors;
        QVERIFY(!cells.empty());
        auto cellOf = [&](auto&& wanted) {
            return static_cast<int>(std::find_if(cells.begin(), cells.end(), wanted) - cells.begin());
        };
        const int firstCell = cellOf([&](const auto& c) { return c.File == first; });
        const int brokenCell = cellOf([&](const auto& c) {
            return c.Track == broken.Track && c.Side == broken.Side && c.Sector == broken.Sector;
        });
        const int secondCell = cellOf([&](const auto& c) { return c.File == second && c.Use == FileSystem::TSectorUse::File; });
        QVERIFY(firstCell < static_cast<int>(cells.size()) && brokenCell < static_cast<int>(cells.size()));
        const auto& at = cells[static_cast<size_t>(firstCell)];
        QCOMPARE(view->DescribeCell(firstCell),
                 QString("Track %1, side %2, sector %3: FIRST/DAT").arg(at.Track).arg(at.Side).arg(at.Sector));
        QVERIFY(view->DescribeCell(brokenCell).endsWith(": bad CRC (SECOND/DAT)"));
        QCOMPARE(view->CellColour(brokenCell), App::CDiskMapView::UseColour(FileSystem::TSectorUse::BadCrc));
        const int freeCell = cellOf([](const auto& c) { return c.Use == FileSystem::TSectorUse::Free; });
        QCOMPARE(view->CellColour(freeCell), App::CDiskMapView::UseColour(FileSystem::TSectorUse::Free));

        const QColor lit = view->palette().color(QPalette::Highlight);
        Frame->View()->SelectFileIndices({first});
        QCOMPARE(view->CellColour(firstCell), lit);
        QVERIFY(view->CellColour(secondCell) != lit);

        QCOMPARE(view->CellAt(view->CellRect(secondCell).center()), secondCell);
        QTest::mouseClick(view, Qt::LeftButton, {}, view->CellRect(secondCell).center());
        QCOMPARE(Frame->View()->SelectedFileIndices(), std::vector<int>{second});
        QCOMPARE(view->CellColour(secondCell), lit);

        Frame->CloseDisk();
        QVERIFY(view->Map().Sectors.empty());
    }

    void NewWindowStartsFromThisWindowsPreferences() {
        QVERIFY(!Frame->NewWindowAction()->isVisible());
        std::vector<App::TPreferences> made;
        Frame->SetWindowMaker([&](const App::TPreferences& preferences, const QString& path) {
            QVERIFY(path.isEmpty());
            made.push_back(preferences);
        });
        QVERIFY(Frame->NewWindowAction()->isVisible());
        Frame->Preferences().FontType = 1;
        Frame->View()->sortByColumn(App::CFileListModel::ColumnSize, Qt::DescendingOrder);
        Frame->NewWindowAction()->trigger();
        QCOMPARE(made.size(), size_t{1});
        QCOMPARE(made.front().FontType, 1);
        QCOMPARE(made.front().Window.SortColumn, int(App::CFileListModel::ColumnSize));
        QVERIFY(made.front().Window.SortDescending);
    }

    // A second disk chosen while one is shown: the question offers a new window (which gets
    // the disk and this window's preferences), the place of the shown disk, or nothing.
    // Without a way to make windows, or for the disk already shown, nothing is asked.
    void SecondDiskOffersANewWindow() {
        const QString fixture = RealLDOSDisk();
        if (!QFile::exists(fixture)) QSKIP("the real disks are not here");
        QTemporaryDir folder;
        const QString first = folder.filePath("first.dsk"), second = folder.filePath("second.dsk");
        QVERIFY(QFile::copy(fixture, first) && QFile::copy(fixture, second));
        Frame->Preferences().LDOSDateCheckDisabled = true;  // no date question on opening
        auto shownDisk = [&] { return QString::fromLocal8Bit(Frame->CurrentFileSystem()->GetImageFileName()); };

        Frame->OpenChosenDisk(first);  // nothing shown yet
        Frame->OpenChosenDisk(second);  // no window maker: opens here
        QCOMPARE(QFileInfo(shownDisk()).fileName(), QString("second.dsk"));
        QVERIFY(Prompts.OfKind("wheretoopen").empty());

        std::vector<std::pair<QString, int>> made;
        Frame->SetWindowMaker([&](const App::TPreferences& preferences, const QString& path) {
            made.emplace_back(path, preferences.FontType);
        });
        Frame->Preferences().FontType = 1;
        Prompts.SecondDisks = {App::SecondDiskAnswer::NewWindow, App::SecondDiskAnswer::Cancel,
                               App::SecondDiskAnswer::Replace};
        Prompts.OpenNames = {first, first, first, first};
        for (int step = 0; step < 3; ++step) Frame->Action(App::CMainFrame::CmdOpen)->trigger();
        const auto asked = Prompts.OfKind("wheretoopen");
        QCOMPARE(asked.size(), size_t{3});
        QCOMPARE(asked[0].Text, QString("first.dsk"));
        QCOMPARE(made.size(), size_t{1});
        QCOMPARE(made[0].first, first);
        QCOMPARE(made[0].second, 1);
        // The new window and the cancelled question left the shown disk; Replace took its place.
        QCOMPARE(QFileInfo(shownDisk()).fileName(), QString("first.dsk"));
        Frame->Action(App::CMainFrame::CmdOpen)->trigger();  // the disk already shown
        QCOMPARE(Prompts.OfKind("wheretoopen").size(), size_t{3});
        QCOMPARE(made.size(), size_t{1});
    }

    void OpenRecentListsTheDisksOpenedLastAndPrunesMissingOnes() {
        const QString fixture = RealLDOSDisk();
        if (!QFile::exists(fixture)) QSKIP("the real disks are not here");
        QTemporaryDir folder;
        const QString first = folder.filePath("first.dsk");
        const QString second = folder.filePath("second.dsk");
        QVERIFY(QFile::copy(fixture, first) && QFile::copy(fixture, second));
        Frame->Preferences().LDOSDateCheckDisabled = true;  // no date question on opening
        QVERIFY(Frame->OpenDisk(first));
        QVERIFY(Frame->OpenDisk(second));
        QVERIFY(Frame->OpenDisk(first));
        QCOMPARE(Frame->Preferences().Window.RecentDisks, (QStringList{first, second}));

        QVERIFY(QFile::remove(second));
        Frame->FillRecentMenu();
        const QList<QAction*> items = Frame->RecentMenu()->actions();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items[0]->text(), QString("first.dsk"));
        QCOMPARE(Frame->Preferences().Window.RecentDisks, QStringList{first});
        Frame->CloseDisk();
        items[0]->trigger();
        QVERIFY(Frame->Disk() != nullptr);
    }

    // A file that lost a sector: the check lists what qbox check finds, and choosing the
    // finding about the file selects it in the list.
    void CheckDiskListsTheFindingsAndSelectsTheirFile() {
        QTemporaryDir folder;
        const std::string path = folder.filePath("missing.dsk").toStdString();
        TestSupport::WriteDiskMissingASectorOfAFile(path, std::vector<uint8_t>(2000, 0x41));
        QVERIFY(Frame->OpenDisk(QString::fromStdString(path)));
        QVERIFY(Frame->CheckDiskAction()->isEnabled());
        Frame->CheckDiskAction()->trigger();
        App::CCheckFindingsDialog* findings = Frame->CheckFindings();
        QVERIFY(findings != nullptr);

        std::vector<FileSystem::TCheckSection> expected;
        {
            FileSystem::MountedDisk disk;
            disk.Open(path, true);
            expected = FileSystem::CheckMountedDisk(disk);
        }
        QTreeWidget* tree = findings->Findings();
        QCOMPARE(tree->topLevelItemCount(), int(expected.size()));
        QTreeWidgetItem* aboutTheFile = nullptr;
        for (int s = 0; s < tree->topLevelItemCount(); ++s) {
            QTreeWidgetItem* section = tree->topLevelItem(s);
            QCOMPARE(section->text(0), QString::fromStdString(expected[size_t(s)].Title));
            for (int f = 0; f < int(expected[size_t(s)].Findings.size()); ++f) {
                const QString message = QString::fromStdString(expected[size_t(s)].Findings[size_t(f)].Message);
                QCOMPARE(section->child(f)->text(0), message);
                if (message.contains("GAME/CMD")) aboutTheFile = section->child(f);
            }
        }
        QVERIFY2(aboutTheFile != nullptr, "no finding names the damaged file");
        QVERIFY(Frame->View()->SelectedFileIndices().empty());
        tree->setCurrentItem(aboutTheFile);
        QCOMPARE(Frame->View()->SelectedFileIndices(), std::vector<int>{Frame->CurrentFileSystem()->FindFile("GAME/CMD")});
        Frame->CloseDisk();
        QVERIFY(Frame->CheckFindings() == nullptr);
        QVERIFY(!Frame->CheckDiskAction()->isEnabled());
    }

    void PreferencesAreHandedOverWhenTheWindowGoes() {
        std::optional<App::TPreferences> written;
        Frame->SetPreferencesWriter([&](const App::TPreferences& preferences) { written = preferences; });
        Frame->Preferences().ExtractDirectory = "/tmp/out";
        Frame.reset();
        QVERIFY(written);
        QCOMPARE(written->ExtractDirectory, QString("/tmp/out"));
    }
};

QTEST_MAIN(MainFrameTest)
#include "tst_MainFrame.moc"
