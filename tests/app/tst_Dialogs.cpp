// The New floppy dialog's rules, the disk and file properties dialogs, and
// the preferences and their store.
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

#include "AppTestSupport.h"
#include "CreateFloppy.h"
#include "DesktopPrompts.h"
#include "FileDialogs.h"
#include "PropertyDialogs.h"
#include "QuarryboxView.h"
#include "diskimage/DiskImage.h"

using namespace AppTest;
using App::CCreateFloppy;

class DialogsTest : public QObject {
    Q_OBJECT

private:
    std::vector<std::pair<QString, QString>> Errors;
    CCreateFloppy::ErrorReporter Reporter() {
        return [this](const QString& caption, const QString& text) { Errors.emplace_back(caption, text); };
    }

private slots:
    void init() { Errors.clear(); }

    void NewFloppyDefaults() {
        CCreateFloppy dialog(Reporter());
        const App::NewFloppySettings settings = dialog.Settings();
        QCOMPARE(settings.ImageType, 2);
        QCOMPARE(settings.DOSType, 2);
        QVERIFY(settings.DoubleDensity);
        QCOMPARE(settings.Sides, 2);
        QCOMPARE(settings.Tracks, 40);
        QCOMPARE(settings.VolumeName, QString("TRS80DSK"));
        QCOMPARE(settings.VolumeDate, QDate::currentDate().toString("MM/dd/yy"));
    }

    // JVC and raw dumps keep no data address marks, which every DOS formatted here needs.
    void NewDialogOffersEveryWritableImageTypeThatKeepsDataMarks() {
        CCreateFloppy dialog(Reporter());
        for (const DiskImage::TImageTypeInfo& type : DiskImage::WritableImageTypes()) {
            QCOMPARE(dialog.ImageButton(type.Type) != nullptr, type.Type != DiskImage::ImageJVC && type.Type != DiskImage::ImageRaw);
        }
        dialog.ImageButton(DiskImage::ImageIMD)->click();
        QCOMPARE(dialog.Settings().ImageType, int(DiskImage::ImageIMD));
    }

    void JV1ForcesTrsdos23SingleSidedSingleDensity() {
        CCreateFloppy dialog(Reporter());
        dialog.DOSButton(1)->click();  // TRSDOS 1.3: double, one side, 40 tracks
        QCOMPARE(dialog.Settings().DoubleDensity, true);
        QCOMPARE(dialog.Settings().Sides, 1);
        QCOMPARE(dialog.Settings().Tracks, 40);
        QVERIFY(!dialog.TracksButton(0)->isEnabled());
        QVERIFY(!dialog.DensityButton(false)->isEnabled());

        dialog.ImageButton(0)->click();  // JV1
        const App::NewFloppySettings settings = dialog.Settings();
        QCOMPARE(settings.ImageType, 0);
        QCOMPARE(settings.DOSType, 0);
        QCOMPARE(settings.DoubleDensity, false);
        QCOMPARE(settings.Sides, 1);
        QCOMPARE(settings.Tracks, 35);
        QVERIFY(!dialog.DOSButton(1)->isEnabled());
        QVERIFY(!dialog.DensityButton(true)->isEnabled());
        QVERIFY(!dialog.SidesButton(2)->isEnabled());
        QVERIFY(dialog.TracksButton(0)->isEnabled());
        QVERIFY(!dialog.TracksButton(1)->isEnabled());
    }

    void EnablingFollowsTheDos_data() {
        QTest::addColumn<int>("dos");
        QTest::addColumn<QList<bool>>("tracks");  // 35, 40, 80, Other
        QTest::addColumn<bool>("twoSides");
        QTest::newRow("TRSDOS 2.3") << 0 << QList<bool>{true, false, false, false} << false;
        QTest::newRow("TRSDOS 1.3") << 1 << QList<bool>{false, true, false, false} << false;
        QTest::newRow("LDOS") << 2 << QList<bool>{true, true, true, true} << true;
    }
    void EnablingFollowsTheDos() {
        QFETCH(int, dos);
        QFETCH(QList<bool>, tracks);
        QFETCH(bool, twoSides);
        CCreateFloppy dialog(Reporter());
        dialog.DOSButton(dos)->click();
        for (int choice = 0; choice < 4; ++choice) QCOMPARE(dialog.TracksButton(choice)->isEnabled(), tracks[choice]);
        QCOMPARE(dialog.SidesButton(2)->isEnabled(), twoSides);
    }

    void OtherTrackCountPassesTheNumber() {
        CCreateFloppy dialog(Reporter());
        QVERIFY(!dialog.OtherTracks()->isEnabled());
        dialog.TracksButton(3)->click();
        QVERIFY(dialog.OtherTracks()->isEnabled());
        dialog.OtherTracks()->setValue(77);
        QCOMPARE(dialog.Settings().Tracks, 77);
        QCOMPARE(dialog.Settings().DOSType, 2);
    }

    void VolumeNameAndDateAreRequired() {
        CCreateFloppy dialog(Reporter());
        dialog.VolumeName()->clear();
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(Errors.size(), size_t(1));
        QCOMPARE(Errors[0].first, QString("Error creating floppy image"));
        QCOMPARE(Errors[0].second, QString("Volume name and date are required!"));
        dialog.VolumeName()->setText("NEWDISK");
        QCOMPARE(dialog.VolumeName()->maxLength(), 8);
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void VolumeDateMustBeACalendarDate_data() {
        QTest::addColumn<QString>("date");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("ordinary") << "12/31/85" << true;
        QTest::newRow("leap day of 2000") << "02/29/00" << true;
        QTest::newRow("no such month or day") << "13/45/99" << false;
        QTest::newRow("no leap day") << "02/29/01" << false;
        QTest::newRow("day 31 of a 30-day month") << "04/31/86" << false;
        QTest::newRow("not the form") << "1/2/1986" << false;
        QTest::newRow("words") << "TODAY" << false;
    }
    void VolumeDateMustBeACalendarDate() {
        QFETCH(QString, date);
        QFETCH(bool, accepted);
        CCreateFloppy dialog(Reporter());
        dialog.VolumeDate()->setText(date);
        dialog.accept();
        QCOMPARE(dialog.result() == QDialog::Accepted, accepted);
        QCOMPARE(Errors.size(), size_t(accepted ? 0 : 1));
        if (!accepted) {
            QCOMPARE(Errors[0].first, QString("Error creating floppy image"));
            QCOMPARE(Errors[0].second, "The volume date \"" + date + "\" is not a date. Write it as MM/DD/YY, "
                                       "for example 12/31/85.");
        }
    }

    void NewImageSuffixFollowsTheImageType_data() {
        QTest::addColumn<int>("imageType");
        QTest::addColumn<QString>("suffix");
        QTest::newRow("JV1") << 0 << "dsk";
        QTest::newRow("JV3") << 1 << "jv3";
        QTest::newRow("DMK") << 2 << "dmk";
        QTest::newRow("IMD") << 4 << "imd";
        QTest::newRow("HFE") << 5 << "hfe";
    }
    void NewImageSuffixFollowsTheImageType() {
        QFETCH(int, imageType);
        QFETCH(QString, suffix);
        ScriptedPrompts prompts;
        App::CMainFrame frame(prompts, App::TPreferences());
        App::NewFloppySettings settings;
        settings.ImageType = imageType;
        prompts.NewFloppies = {settings};
        frame.OnNew();  // cancelled at the file dialog
        QCOMPARE(prompts.OfKind("save").size(), size_t(1));
        QCOMPARE(prompts.OfKind("save")[0].Text, suffix);
    }

    void MessageBoxesAreWideEnoughForTheirCaption() {
        const QString caption = "Error Opening Virtual Disk";
        auto box = App::MakeMessageBox(QMessageBox::Critical, caption, "x", QMessageBox::Ok, nullptr);
        QFont titleFont = box->font();
        titleFont.setBold(true);
        QVERIFY(box->sizeHint().width() > QFontMetrics(titleFont).horizontalAdvance(caption) + 100);
    }

    void RenameDialogSaysTheProblemAndStaysOpen() {
        App::CRenameDialog dialog("OLD/DAT", [](const QString& name) {
            return name.contains(' ') ? QString("Illegal filename. No blanks.") : QString();
        });
        QVERIFY(dialog.Problem().isEmpty());
        dialog.NameEdit()->setText("BAD NAME");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(dialog.Problem(), QString("Illegal filename. No blanks."));
        dialog.NameEdit()->setText("GOOD/DAT");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.Name(), QString("GOOD/DAT"));
    }

    void AboutBoxLinksToTheGuide() {
        const QString text = App::AboutText();
        QVERIFY2(text.contains("<a href=\"file://"), qPrintable(text));
        QVERIFY(!App::UserGuideUrl().isEmpty());
        QVERIFY(QFileInfo(QUrl(App::UserGuideUrl()).toLocalFile()).isFile());
    }

    void NewCommandCreatesAndOpensTheDisk() {
        ScriptedPrompts prompts;
        App::CMainFrame frame(prompts, App::TPreferences());
        QTemporaryDir folder;
        App::NewFloppySettings settings;
        settings.ImageType = 1;
        settings.DOSType = 0;
        settings.DoubleDensity = false;
        settings.Sides = 1;
        settings.Tracks = 35;
        settings.VolumeName = "NEWDISK";
        settings.VolumeDate = "01/02/26";
        prompts.NewFloppies = {settings};
        prompts.SaveNames = {folder.filePath("new.dsk")};
        frame.OnNew();
        QVERIFY2(prompts.OfKind("error").empty(), qPrintable(prompts.Log.back().Text));
        QVERIFY(frame.Disk() != nullptr);
        QVERIFY(QFile::exists(folder.filePath("new.dsk")));
        QVERIFY(frame.windowTitle().startsWith("Quarrybox - " + folder.filePath("new.dsk")));
        QVERIFY(frame.View()->horizontalHeader()->isVisibleTo(&frame));

        // A failure keeps the open disk and says why.
        prompts.NewFloppies = {settings};
        prompts.SaveNames = {folder.filePath("missing/folder/x.dsk")};
        frame.OnNew();
        QCOMPARE(prompts.OfKind("error").size(), size_t(1));
        QCOMPARE(prompts.OfKind("error")[0].Caption, QString("Disk Image Creation Error"));
        QVERIFY(frame.Disk() != nullptr);
    }

    void DiskPropertiesOfTheCurrentPartition() {
        FakeDisk disk(2);
        disk.Fs(1).Capacity = 5 * 1024 * 1024 + 512;
        disk.Fs(1).Add("FILE", "DAT", std::vector<uint8_t>(1024));
        disk.Disk->CurrentPartition = 1;
        App::CDiskInfoDialog dialog(*disk.Disk);
        QCOMPARE(dialog.VolumeCaption(), QString("Partition 1 information (2 partitions total)"));
        QCOMPARE(dialog.Value("Total capacity:"), QLocale().toString(5120.5, 'f', 2) + "K");
        QCOMPARE(dialog.Value("Free space:"), QLocale().toString(5119.5, 'f', 2) + "K");
        QCOMPARE(dialog.Value("Damaged:"), QString("No"));
        QCOMPARE(dialog.Value("Format:"), QString("HDV"));
        QCOMPARE(dialog.NameEdit()->text(), QString("TESTDISK"));
        QVERIFY(!dialog.WriteProtectBox()->isChecked());

        QVERIFY(dialog.BuildError().isEmpty());
        const App::DiskPropertyChanges none = dialog.Changes();
        QVERIFY(!none.VolumeName && !none.VolumeDate && !none.WriteProtect);

        // The dialog only collects the changes; the main window applies them.
        dialog.NameEdit()->setText("RENAMED");
        dialog.WriteProtectBox()->setChecked(true);
        const App::DiskPropertyChanges changes = dialog.Changes();
        QCOMPARE(changes.VolumeName, std::optional<QString>("RENAMED"));
        QVERIFY(!changes.VolumeDate);
        QCOMPARE(changes.WriteProtect, std::optional<bool>(true));
        QCOMPARE(disk.Fs(1).DiskName, std::string("TESTDISK"));
        QCOMPARE(disk.Image->GetWriteProtect(), 0);
    }

    void DiskPropertiesThatCannotBeReadAreNotShown() {
        FakeDisk disk;
        disk.Fs().ListFails = true;
        struct Unreadable : FakeFileSystem {
            using FakeFileSystem::FakeFileSystem;
            int GetFreeSpace() override { throw EFileError(5); }
        };
        auto unreadable = std::make_unique<Unreadable>(disk.Image);
        disk.Disk->FileSystems[0] = std::move(unreadable);
        App::CDiskInfoDialog dialog(*disk.Disk);
        QCOMPARE(dialog.BuildError(), QString::fromLocal8Bit(std::strerror(5)));
    }

    void DiskPropertiesOfASingleVolumeThatCannotBeChanged() {
        FakeDisk disk(1, 1);
        disk.Fs().Writable = false;
        disk.Image->CanProtect = false;
        App::CDiskInfoDialog dialog(*disk.Disk);
        QCOMPARE(dialog.VolumeCaption(), QString("Volume information"));
        // The values stay legible: read-only, not greyed; only the box that cannot change is grey.
        QVERIFY(dialog.NameEdit()->isEnabled() && dialog.NameEdit()->isReadOnly());
        QVERIFY(dialog.DateEdit()->isEnabled() && dialog.DateEdit()->isReadOnly());
        QCOMPARE(dialog.NameEdit()->text(), QString("TESTDISK"));
        QVERIFY(!dialog.WriteProtectBox()->isEnabled());
        QVERIFY(dialog.WriteProtectBox()->isChecked());
        dialog.NameEdit()->setText("TYPED");  // as a program could; a read-only value is no change
        QVERIFY(!dialog.Changes().VolumeName);
    }

    void FilePropertiesChangeNameAndAttributes() {
        FakeDisk disk;
        const int index = disk.Fs().Add("OLD", "DAT", std::vector<uint8_t>(1234), FileSystem::AttrSystem);
        std::vector<std::pair<QString, QString>> errors;
        App::CFileInfoDialog dialog(disk.Fs(), index, Reporter());
        QCOMPARE(dialog.NameEdit()->text(), QString("OLD/DAT"));
        QCOMPARE(dialog.Value("Size:"), QLocale().toString(1234) + " bytes");
        for (const auto& [box, mask] : dialog.AttributeBoxes()) {
            QCOMPARE(box->isChecked(), mask == FileSystem::AttrSystem);
            if (mask == FileSystem::AttrInvisible || mask == FileSystem::AttrSystem) box->setChecked(!box->isChecked());
        }
        dialog.NameEdit()->setText("bad name");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));  // stays open
        QCOMPARE(Errors.size(), size_t(1));
        QCOMPARE(Errors[0].second, QString("Error renaming file: Illegal filename. A name is 1 to 8 capitals and digits."));

        dialog.NameEdit()->setText("NEW/DAT");
        dialog.accept();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        FakeFile* file = disk.Fs().Find("NEW/DAT");
        QVERIFY(file != nullptr);
        QCOMPARE(file->Attributes, uint32_t(FileSystem::AttrInvisible));
    }

    void FilePropertiesOfAReadOnlyDosChangeNothing() {
        FakeDisk disk;
        disk.Fs().Writable = false;
        struct Typed : FakeFileSystem {
            using FakeFileSystem::FakeFileSystem;
            bool SupportsFileTypes() override { return true; }
            std::vector<std::string> GetFileTypeList() override { return {"BASIC program", "Data"}; }
            int GetFileType(int) override { return 0; }
        } typed(disk.Image);
        typed.Writable = false;
        const int index = typed.Add("PROG", "BAS", {1, 2});
        App::CFileInfoDialog dialog(typed, index, Reporter());
        // Legible values; grey only for the choices that cannot change.
        QVERIFY(dialog.NameEdit()->isEnabled() && dialog.NameEdit()->isReadOnly());
        QCOMPARE(dialog.NameEdit()->text(), QString("PROG/BAS"));
        QCOMPARE(dialog.Value("File type:"), QString("BASIC program"));
        QVERIFY(dialog.TypeList() == nullptr);
        for (const auto& entry : dialog.AttributeBoxes()) QVERIFY(!entry.first->isEnabled());
        dialog.NameEdit()->setText("OTHER/BAS");
        dialog.accept();
        QVERIFY(typed.Find("PROG/BAS") != nullptr);
        QCOMPARE(typed.Find("PROG/BAS")->Attributes, uint32_t(0));
        QVERIFY(Errors.empty());
    }


    void PreferencesRoundTripThroughTheStore() {
        QTemporaryDir folder;
        const QString path = folder.filePath("quarrybox.conf");
        App::TPreferences preferences;
        preferences.ExtractDirectory = "/home/user/out";
        preferences.ConversionTypeIn = 0;
        preferences.ConversionTypeOut = 2;
        preferences.FontType = 1;
        preferences.LDOSDateCheckDisabled = true;
        preferences.ExitUponESC = true;
        {
            QSettings store(path, QSettings::IniFormat);
            preferences.Save(store);
        }
        QSettings store(path, QSettings::IniFormat);
        const App::TPreferences loaded = App::TPreferences::Load(store);
        QCOMPARE(loaded.ExtractDirectory, preferences.ExtractDirectory);
        QCOMPARE(loaded.ConversionTypeIn, 0);
        QCOMPARE(loaded.ConversionTypeOut, 2);
        QCOMPARE(loaded.FontType, 1);
        QVERIFY(loaded.LDOSDateCheckDisabled);
        QVERIFY(loaded.ExitUponESC);
    }

    void WindowStateSurvivesTheStore() {
        QTemporaryDir folder;
        const QString path = folder.filePath("window.conf");
        App::TPreferences preferences;
        App::TWindowState& state = preferences.Window;
        state.Geometry = QByteArray("\x01\x02geometry\x00", 11);
        state.ColumnWidths = {120, -1, 64, 200, 90, -1};
        state.SortColumn = 3;
        state.SortDescending = true;
        state.ShowInvisible = true;
        state.ShowPreview = true;
        state.RecentDisks = {"/disks/b.dsk", "/disks/a.dmk"};
        {
            QSettings store(path, QSettings::IniFormat);
            preferences.Save(store);
        }
        QSettings store(path, QSettings::IniFormat);
        const App::TWindowState loaded = App::TPreferences::Load(store).Window;
        QCOMPARE(loaded.Geometry, state.Geometry);
        QCOMPARE(loaded.ColumnWidths, state.ColumnWidths);
        QCOMPARE(loaded.SortColumn, 3);
        QVERIFY(loaded.SortDescending && loaded.ShowInvisible && !loaded.ShowSystem && loaded.ShowPreview);
        QCOMPARE(loaded.RecentDisks, state.RecentDisks);
    }

    void WindowStateOfTheWrongKindKeepsTheDefaults() {
        QTemporaryDir folder;
        QSettings store(folder.filePath("bad.conf"), QSettings::IniFormat);
        store.beginGroup("Window");
        store.setValue("Geometry", 5);
        store.setValue("ColumnWidths", "100,wide,-4,99999");
        store.setValue("SortColumn", 40);
        QStringList recent;
        for (int i = 0; i < 14; ++i) recent << QString("/disks/%1.dsk").arg(i % 12);
        store.setValue("RecentDisks", recent);
        store.endGroup();
        const App::TWindowState loaded = App::TPreferences::Load(store).Window;
        QVERIFY(loaded.Geometry.isEmpty());
        QCOMPARE(loaded.ColumnWidths, (QList<int>{100, -1, -1, -1}));
        QCOMPARE(loaded.SortColumn, 0);
        // Each disk once, most recent first, at most ten.
        QCOMPARE(loaded.RecentDisks.size(), 10);
        QCOMPARE(loaded.RecentDisks.first(), QString("/disks/0.dsk"));
        QCOMPARE(loaded.RecentDisks.last(), QString("/disks/9.dsk"));
    }

    void RecentDisksPutTheLatestFirstAndDropMissingFiles() {
        QStringList recent;
        for (int i = 0; i < 10; ++i) recent = App::WithRecentDisk(recent, QString("/d/%1").arg(i));
        QCOMPARE(recent.first(), QString("/d/9"));
        QCOMPARE(recent.last(), QString("/d/0"));
        recent = App::WithRecentDisk(recent, "/d/5");
        QCOMPARE(recent.size(), 10);
        QCOMPARE(recent.mid(0, 3), (QStringList{"/d/5", "/d/9", "/d/8"}));
        recent = App::WithRecentDisk(recent, "/d/new");
        QCOMPARE(recent.size(), 10);
        QVERIFY(!recent.contains("/d/0"));

        QTemporaryDir folder;
        const QString kept = folder.filePath("kept.dsk");
        QFile file(kept);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(App::ExistingRecentDisks({folder.filePath("gone.dsk"), kept, folder.path()}), QStringList{kept});
    }

    void PreferenceValuesOfTheWrongKindKeepTheDefaults() {
        QTemporaryDir folder;
        QSettings store(folder.filePath("bad.conf"), QSettings::IniFormat);
        store.setValue("FontType", "proportional");
        store.setValue("ConversionTypeOut", 7);
        store.setValue("ConversionTypeIn", QStringList{"1", "2"});
        store.setValue("ExitUponESC", 1);
        const App::TPreferences loaded = App::TPreferences::Load(store);
        const App::TPreferences defaults;
        QCOMPARE(loaded.FontType, defaults.FontType);
        QCOMPARE(loaded.ConversionTypeOut, defaults.ConversionTypeOut);
        QCOMPARE(loaded.ConversionTypeIn, defaults.ConversionTypeIn);
        QVERIFY(loaded.ExitUponESC);
        QCOMPARE(loaded.ExtractDirectory, QString());
        // An empty folder is not written.
        QSettings out(folder.filePath("out.conf"), QSettings::IniFormat);
        defaults.Save(out);
        QVERIFY(!out.contains("ExtractDirectory"));
        QVERIFY(out.contains("ExitUponESC"));
    }

    void PreferencesDialogCopiesTheChoicesOnlyOnOk() {
        App::TPreferences preferences;
        App::CPreferencesDialog dialog(preferences);
        // On this host text lines end in LF: that is the default both ways.
        QVERIFY(dialog.OutButton(2)->isChecked());
        QCOMPARE(dialog.OutButton(2)->text(), QString("Convert CR to LF"));
        QVERIFY(dialog.InButton(2)->isChecked());
        QCOMPARE(dialog.InButton(2)->text(), QString("Convert LF to CR"));
        QCOMPARE(dialog.InButton(1)->text(), QString("Convert CR/LF to CR"));
        QCOMPARE(dialog.OutButton(1)->text(), QString("Convert CR to CR/LF"));
        dialog.OutButton(2)->setChecked(true);
        dialog.InButton(0)->setChecked(true);
        dialog.EscapeBox()->setChecked(true);
        const App::TPreferences chosen = dialog.Chosen();
        QCOMPARE(chosen.ConversionTypeOut, 2);
        QCOMPARE(chosen.ConversionTypeIn, 0);
        QVERIFY(chosen.ExitUponESC);
        QVERIFY(!chosen.LDOSDateCheckDisabled);
    }
};

QTEST_MAIN(DialogsTest)
#include "tst_Dialogs.moc"
