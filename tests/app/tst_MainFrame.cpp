// The main window driven through scripted answers: start-up, opening,
// the list's sorting and colours, the View and Partition menus, and the
// delete, rename and write-permission flows.
#include <QAction>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QTemporaryDir>
#include <QtTest>

#include "AppTestSupport.h"
#include "QuarryboxView.h"

using namespace AppTest;
using App::CMainFrame;

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

    void FailedOpenLeavesNoDiskAndHidesTheHeader() {
        Attach(FakeDisk());
        QVERIFY(Frame->View()->horizontalHeader()->isVisibleTo(Frame.get()));
        QTemporaryDir folder;
        const QString path = folder.filePath("junk.dsk");
        QFile junk(path);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a disk");
        junk.close();

        QVERIFY(!Frame->OpenDisk(path));
        QVERIFY(Frame->Disk() == nullptr);
        QVERIFY(!Frame->View()->horizontalHeader()->isVisibleTo(Frame.get()));
        QCOMPARE(Frame->View()->RowCount(), 0);
        QCOMPARE(Frame->windowTitle(), QString("Quarrybox"));
        const auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(1));
        QCOMPARE(errors[0].Caption, QString("Error Opening Virtual Disk"));
        QVERIFY(!errors[0].Text.isEmpty());
        QVERIFY(!Frame->Action(CMainFrame::CmdClose)->isEnabled());
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
        QCOMPARE(Prompts.Log.back().Text, QString("Are you sure you want to delete this file?"));
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
        Frame->Preferences().LDOSDateCheck = disabled;
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
