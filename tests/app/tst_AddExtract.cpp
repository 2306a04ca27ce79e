// Adding host files through the store routine and extracting files into a
// host folder, with every question answered from a script.
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include "AppTestSupport.h"
#include "common/DamagedSectors.h"
#include "FileDialogs.h"
#include "QuarryboxView.h"

using namespace AppTest;
using App::CMainFrame;

namespace {

std::vector<uint8_t> Bytes(const QByteArray& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

QByteArray ReadHost(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteHost(const QString& path, const QByteArray& contents) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

}  // namespace

class AddExtractTest : public QObject {
    Q_OBJECT

private:
    ScriptedPrompts Prompts;
    std::unique_ptr<CMainFrame> Frame;
    FakeFileSystem* Fs = nullptr;
    QTemporaryDir Host;

    void Attach(FakeDisk disk) {
        Fs = &disk.Fs();
        Frame->AttachDisk(std::move(disk.Disk));
    }

private slots:
    void init() {
        Prompts = ScriptedPrompts();
        Frame = std::make_unique<CMainFrame>(Prompts, App::TPreferences());
        Attach(FakeDisk());
    }
    void cleanup() { Frame.reset(); }

    void AddStoresEachChosenFileWithConversion() {
        const QString text = Host.filePath("NOTES.TXT");
        const QString empty = Host.filePath("EMPTY");
        WriteHost(text, "one\r\ntwo\r\n");
        WriteHost(empty, "");
        Prompts.OpenManyNames = {{text, empty, Host.filePath("MISSING.DAT")}};
        Frame->OnAdd();
        QCOMPARE(Prompts.OfKind("openmany")[0].Caption, QString("Select files to add"));
        QVERIFY(Prompts.OfKind("error").empty());
        QVERIFY(Fs->Find("NOTES/TXT") != nullptr);
        QCOMPARE(Fs->Find("NOTES/TXT")->Bytes, Bytes("one\rtwo\r"));
        QVERIFY(Fs->Find("NOTES/TXT")->Date.HasDate && Fs->Find("NOTES/TXT")->Date.HasTime);
        QVERIFY(Fs->Find("EMPTY") != nullptr);
        QCOMPARE(Fs->Count(), 2);
        QCOMPARE(Frame->View()->RowCount(), 2);
    }

    void InvalidNamesAreAskedForUntilValidOrCancelled() {
        Prompts.ValidNames = {QString("still bad"), QString("GOOD/TXT")};
        QVERIFY(Frame->StoreFile("bad name.txt", Bytes("x"), MakeDate(2020, 1, 2, 3, 4)));
        const auto asked = Prompts.OfKind("validname");
        QCOMPARE(asked.size(), size_t(2));
        QCOMPARE(asked[0].Text, QString("bad name.txt"));
        QCOMPARE(asked[1].Text, QString("still bad"));
        QVERIFY(Fs->Find("GOOD/TXT") != nullptr);

        Prompts.ValidNames = {std::nullopt};
        QVERIFY(!Frame->StoreFile("worse name", Bytes("x"), {}));
        QCOMPARE(Fs->Count(), 1);
    }

    void ReplaceAsksAndKeepsTheOldFileOnNo() {
        Fs->Add("DATA", "DAT", Bytes("old"));
        Prompts.Replaces = {false, true};
        QVERIFY(!Frame->StoreFile("DATA/DAT", Bytes("new!"), {}));
        QCOMPARE(Prompts.OfKind("replace")[0].Caption, QString("DATA/DAT"));
        QCOMPARE(Prompts.OfKind("replace")[0].Text, QString("DATA/DAT 4"));
        QCOMPARE(Fs->Find("DATA/DAT")->Bytes, Bytes("old"));

        QVERIFY(Frame->StoreFile("DATA/DAT", Bytes("new!"), {}));
        QCOMPARE(Fs->Count(), 1);
        QCOMPARE(Fs->Find("DATA/DAT")->Bytes, Bytes("new!"));
    }

    void NotEnoughSpaceIsRefusedBeforeConversion() {
        Fs->Capacity = 10;
        App::TPreferences& preferences = Frame->Preferences();
        preferences.ConversionTypeIn = 1;
        // Eleven bytes on the host, nine after CR/LF becomes CR: still refused.
        QVERIFY(!Frame->StoreFile("TEXT/TXT", Bytes("abc\r\ncd\r\nef"), {}));
        const auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(1));
        QCOMPARE(errors[0].Caption, QString("Not Enough Space"));
        QCOMPARE(errors[0].Text, "Not enough free space to store this file.\n\nTEXT/TXT needs " +
                                     QLocale().toString(11) + " bytes; the disk has " + QLocale().toString(10) +
                                     " bytes free.");
        QCOMPARE(Fs->Count(), 0);
    }

    // A larger replacement that does not fit must not lose the file it was to replace.
    void ReplacingWithAFileThatDoesNotFitKeepsTheOldFile() {
        Fs->Capacity = 10;
        const int old = Fs->Add("KEEP", "DAT", Bytes("12345"), FileSystem::AttrReadOnly, MakeDate(1984, 2, 3, 4, 5));
        Fs->Add("OTHER", "DAT", Bytes("abc"));
        (void)old;
        Prompts.Replaces = {true};
        QVERIFY(!Frame->StoreFile("KEEP/DAT", Bytes("123456789"), {}));
        QVERIFY(Prompts.OfKind("error").back().Text.startsWith("Not enough free space to store this file.\n\n"
                                                                "KEEP/DAT needs 9 bytes"));
        FakeFile* kept = Fs->Find("KEEP/DAT");
        QVERIFY(kept != nullptr);
        QCOMPARE(kept->Bytes, Bytes("12345"));
        QCOMPARE(kept->Attributes, uint32_t(FileSystem::AttrReadOnly));
        QCOMPARE(kept->Date.Year, 1984);

        // One that fits once the old file's space is counted is stored.
        Prompts.Replaces = {true};
        QVERIFY(Frame->StoreFile("KEEP/DAT", Bytes("1234567"), {}));
        QCOMPARE(Fs->Find("KEEP/DAT")->Bytes, Bytes("1234567"));
    }

    void StoreErrorsAreReported() {
        Fs->ReadFails = true;  // the file to be replaced cannot be kept aside
        Fs->Add("BAD", "DAT", Bytes("x"));
        Prompts.Replaces = {true};
        QVERIFY(!Frame->StoreFile("BAD/DAT", Bytes("y"), {}));
        QCOMPARE(Prompts.OfKind("error")[0].Caption, QString("File Storing Error"));
        QVERIFY(Prompts.OfKind("error")[0].Text.startsWith("Error storing file: "));
        QVERIFY(Fs->Find("BAD/DAT") != nullptr);
    }

    void ExtractAsksBeforeOverwriting() {
        Fs->Add("ONE", "TXT", Bytes("line\r"));
        Fs->Add("TWO", "DAT", Bytes("\x01\x02"));
        Fs->Add("THREE", "DAT", Bytes("\x03"));
        Frame->Refresh();
        const QString folder = Host.filePath("out");
        QDir().mkpath(folder);
        WriteHost(folder + "/two.dat", "keep me");
        WriteHost(folder + "/three.dat", "replace me");

        Frame->View()->SelectFileIndices({Fs->FindFile("ONE/TXT"), Fs->FindFile("TWO/DAT"), Fs->FindFile("THREE/DAT")});
        Prompts.ExtractDirectory = folder;
        Prompts.Extracts = {false};
        using App::OverwriteAnswer;
        Prompts.Overwrites = {OverwriteAnswer::Yes, OverwriteAnswer::No};  // sorted by name: THREE first, then TWO
        Frame->OnExtract();

        QCOMPARE(Prompts.OfKind("extract")[0].Text, QString("3"));
        QCOMPARE(Frame->Preferences().ExtractDirectory, folder);
        const auto questions = Prompts.OfKind("overwrite");
        QCOMPARE(questions.size(), size_t(2));
        QCOMPARE(questions[0].Caption, QString("Confirm File Overwrite"));
        QCOMPARE(questions[0].Text,
                 "The file 'three.dat' exists in " + folder + "; are you sure you want to overwrite it?");
        QCOMPARE(ReadHost(folder + "/one.txt"), QByteArray("line\n"));
        QCOMPARE(ReadHost(folder + "/three.dat"), QByteArray("\x03"));
        QCOMPARE(ReadHost(folder + "/two.dat"), QByteArray("keep me"));
    }

    // Over a folder of files extracted before: one question can answer for all the rest.
    void OverwriteQuestionOffersAnswersForAll_data() {
        QTest::addColumn<QList<int>>("answers");  // App::OverwriteAnswer values, in the order asked
        QTest::addColumn<int>("asked");
        QTest::addColumn<QStringList>("overwritten");
        using A = App::OverwriteAnswer;
        QTest::newRow("yes to all") << QList<int>{int(A::No), int(A::YesToAll)} << 2
                                    << QStringList{"b.dat", "c.dat", "d.dat"};
        QTest::newRow("no to all") << QList<int>{int(A::Yes), int(A::NoToAll)} << 2 << QStringList{"a.dat"};
        QTest::newRow("cancel") << QList<int>{int(A::Yes), int(A::Cancel)} << 2 << QStringList{"a.dat"};
        QTest::newRow("one by one") << QList<int>{int(A::No), int(A::Yes), int(A::No), int(A::Yes)} << 4
                                    << QStringList{"b.dat", "d.dat"};
    }
    void OverwriteQuestionOffersAnswersForAll() {
        QFETCH(QList<int>, answers);
        QFETCH(int, asked);
        QFETCH(QStringList, overwritten);
        const QString folder = Host.filePath(QString("again-") + QTest::currentDataTag());
        QDir().mkpath(folder);
        for (const char* name : {"A", "B", "C", "D"}) {
            Fs->Add(name, "DAT", Bytes(QByteArray("new ") + name));
            WriteHost(folder + "/" + QString(name).toLower() + ".dat", "old");
        }
        Fs->Add("E", "DAT", Bytes("new E"));  // not there before: extracted without a question
        Frame->Refresh();
        for (int answer : answers) Prompts.Overwrites.push_back(static_cast<App::OverwriteAnswer>(answer));
        Prompts.ExtractDirectory = folder;
        Prompts.Extracts = {true};
        Frame->OnExtract();
        QCOMPARE(Prompts.OfKind("overwrite").size(), size_t(asked));
        for (const char* name : {"a.dat", "b.dat", "c.dat", "d.dat"}) {
            const QByteArray expected = overwritten.contains(name) ? "new " + QByteArray(name).left(1).toUpper()
                                                                   : QByteArray("old");
            QCOMPARE(ReadHost(folder + "/" + name), expected);
        }
        // Cancel ends the extraction; every other answer lets it go on to E.
        const bool cancelled = answers.contains(int(App::OverwriteAnswer::Cancel));
        QCOMPARE(QFile::exists(folder + "/e.dat"), !cancelled);
    }

    // The TRS-80 ends a text line with CR, this host with LF: the defaults convert both ways.
    void DefaultLineEndsFitTheHost() {
        const QString text = Host.filePath("UNIX.TXT");
        WriteHost(text, "first\nsecond\n");
        Frame->AddHostFile(text);
        QCOMPARE(Fs->Find("UNIX/TXT")->Bytes, Bytes("first\rsecond\r"));

        const QString folder = Host.filePath("lf");
        QDir().mkpath(folder);
        Frame->Preferences().ExtractDirectory = folder;
        CMainFrame::OverwriteRule rule = CMainFrame::OverwriteRule::Ask;
        QVERIFY(Frame->ExtractOne(Fs->FindFile("UNIX/TXT"), rule));
        QCOMPARE(ReadHost(folder + "/unix.txt"), QByteArray("first\nsecond\n"));
    }

    void ExtractAllFilesTakesWhatTheListShows() {
        Fs->Add("SHOWN", "DAT", Bytes("a"));
        Fs->Add("HIDDEN", "DAT", Bytes("b"), FileSystem::AttrInvisible);
        Frame->Refresh();
        const QString folder = Host.filePath("all");
        QDir().mkpath(folder);
        Prompts.ExtractDirectory = folder;
        Prompts.Extracts = {true};
        Frame->OnExtract();
        QCOMPARE(Prompts.OfKind("extract")[0].Text, QString("0"));
        QVERIFY(QFile::exists(folder + "/shown.dat"));
        QVERIFY(!QFile::exists(folder + "/hidden.dat"));

        Prompts.Extracts = {std::nullopt};  // Cancel extracts nothing
        QFile::remove(folder + "/shown.dat");
        Frame->OnExtract();
        QVERIFY(!QFile::exists(folder + "/shown.dat"));
    }

    void ExtractErrorsAreReportedPerFile() {
        // A link planted under a file's host name is refused, not written through.
        Fs->Add("LINKED", "DAT", Bytes("x"));
        Fs->Add("FINE", "DAT", Bytes("y"));
        Frame->Refresh();
        Frame->Preferences().ExtractDirectory = Host.path();
        const QString outside = Host.filePath("outside");
        QVERIFY(QFile::link(outside, Host.filePath("linked.dat")));
        CMainFrame::OverwriteRule rule = CMainFrame::OverwriteRule::Ask;
        QVERIFY(Frame->ExtractOne(Fs->FindFile("LINKED/DAT"), rule));
        QVERIFY(Frame->ExtractOne(Fs->FindFile("FINE/DAT"), rule));
        const auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(1));
        QCOMPARE(errors[0].Caption, QString("File Extraction Error"));
        QCOMPARE(errors[0].Text, "Error extracting file: a symbolic link stands at " + Host.filePath("linked.dat") +
                                     "; nothing is written through it");
        QVERIFY(!QFile::exists(outside));
        QVERIFY(QFile::exists(Host.filePath("fine.dat")));
    }

    // A file whose second sector is gone comes out whole in size, with zeros there, and the
    // extraction says which sector and how many bytes are good.
    void ExtractionSaysWhatCouldNotBeRead() {
        QTemporaryDir folder;
        const std::string path = folder.filePath("game.jv3").toStdString();
        std::vector<uint8_t> data(1024, 0x41);
        const auto [track, sector] = TestSupport::WriteDiskMissingASectorOfAFile(path, data);
        QVERIFY(Frame->OpenDisk(QString::fromStdString(path)));
        Prompts.ExtractDirectory = Host.path();
        Prompts.Extracts = {true};
        Frame->OnExtract();
        std::fill(data.begin() + 256, data.begin() + 512, 0);
        QCOMPARE(ReadHost(Host.filePath("game.cmd")), QByteArray(reinterpret_cast<const char*>(data.data()), 1024));
        const auto errors = Prompts.OfKind("error");
        QCOMPARE(errors.size(), size_t(1));
        QCOMPARE(errors[0].Caption, QString("File Extraction Error"));
        QVERIFY(errors[0].Text.contains("GAME/CMD: only 768 of 1024 bytes could be read"));
        QVERIFY(errors[0].Text.contains(QString("GAME/CMD: track %1, side 0, sector %2: missing").arg(track).arg(sector)));
    }

    // Names that one host name would merge: each file is written under a name of its own.
    void FilesOfOneHostNameGetNamesOfTheirOwn() {
        Fs->Add("GAME", "BAS", Bytes("first"));
        Fs->Add("game", "bas", Bytes("second"));
        Frame->Refresh();
        Prompts.ExtractDirectory = Host.path();
        Prompts.Extracts = {true};
        Frame->OnExtract();
        QCOMPARE(ReadHost(Host.filePath("game.bas")), QByteArray("first"));
        QCOMPARE(ReadHost(Host.filePath("game~2.bas")), QByteArray("second"));
        QVERIFY(Prompts.OfKind("error").empty());
    }

    void ExtractDialogChoosesAllFilesWhenNothingIsSelected() {
        App::CExtractDialog none(0, Host.path(), {});
        QVERIFY(none.AllButton()->isChecked());
        QVERIFY(!none.SelectedButton()->isEnabled());

        QString pickedStart;
        App::CExtractDialog some(2, Host.path(), [&](const QString& title, const QString& start) {
            pickedStart = start;
            return title == "Select the folder to use" ? Host.filePath("picked") : QString();
        });
        QVERIFY(some.SelectedButton()->isChecked() && some.SelectedButton()->isEnabled());
        some.Browse();
        QCOMPARE(pickedStart, Host.path());
        QCOMPARE(some.Directory(), Host.filePath("picked"));
        // A folder that does not exist is not accepted.
        some.accept();
        QCOMPARE(some.result(), int(QDialog::Rejected));
        QDir().mkpath(Host.filePath("picked"));
        some.accept();
        QCOMPARE(some.result(), int(QDialog::Accepted));
        QVERIFY(!some.AllFiles());
    }

    void ReplaceDialogDescribesBothFiles() {
        const int existing = Fs->Add("DATA", "DAT", Bytes("x"), 0, MakeDate(1985, 6, 1, 12, 30));
        App::CReplaceDialog dialog(*Fs, existing, "DATA/DAT", 1234, MakeDate(2020, 1, 2));
        const QString text = dialog.Text();
        QVERIFY(text.startsWith("This disk image already contains a file named 'DATA/DAT'"));
        QVERIFY(text.contains("Would you like to replace the existing file"));
        QVERIFY(text.contains("DATA/DAT\n1 byte\n"));
        QVERIFY(text.contains("with this one?"));
        QVERIFY(text.contains("DATA/DAT\n" + QLocale().toString(1234) + " bytes\n"));
    }
};

QTEST_MAIN(AddExtractTest)
#include "tst_AddExtract.moc"
