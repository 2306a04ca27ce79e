// Files through the clipboard and drag-and-drop: what Copy offers, what
// Paste and drops store, and what is refused.
#include <QClipboard>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include "AppTestSupport.h"
#include "FileTransfer.h"
#include "QuarryboxView.h"
#include "filesystem/MountedDisk.h"

using namespace AppTest;
using App::CMainFrame;

namespace {

std::vector<uint8_t> Bytes(const QByteArray& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace

class TransferTest : public QObject {
    Q_OBJECT

private:
    ScriptedPrompts Prompts;
    std::unique_ptr<CMainFrame> Frame;
    FakeFileSystem* Fs = nullptr;

private slots:
    void init() {
        Prompts = ScriptedPrompts();
        Frame = std::make_unique<CMainFrame>(Prompts, App::TPreferences());
        FakeDisk disk;
        Fs = &disk.Fs();
        Frame->AttachDisk(std::move(disk.Disk));
    }
    void cleanup() { Frame.reset(); }

    void CopyOffersConvertedFilesBothWays() {
        const int text = Fs->Add("NOTES", "TXT", Bytes("one\rtwo\r"), 0, MakeDate(1999, 3, 4, 5, 6));
        const int binary = Fs->Add("PROG", "CMD", Bytes(QByteArray("\x01\x0D\x00", 3)));
        Frame->Refresh();
        Frame->Preferences().ConversionTypeOut = 1;
        std::unique_ptr<QMimeData> data(Frame->BuildTransferData({text, binary}));
        QVERIFY(data);

        const auto group = App::DecodeFileGroup(data->data(CMainFrame::FileGroupMimeType));
        QVERIFY(group);
        QCOMPARE(group->size(), size_t(2));
        QCOMPARE((*group)[0].Name, QString("NOTES.TXT"));
        QCOMPARE((*group)[0].Contents, QByteArray("one\r\ntwo\r\n"));
        QCOMPARE((*group)[0].Size, quint32(10));
        QCOMPARE((*group)[0].LastWriteUtc, QDateTime(QDate(1999, 3, 4), QTime(5, 6)).toUTC());
        QCOMPARE((*group)[1].Contents, QByteArray("\x01\x0D\x00", 3));

        const QList<QUrl> urls = data->urls();
        QCOMPARE(urls.size(), 2);
        QFile host(urls[0].toLocalFile());
        QVERIFY(host.open(QIODevice::ReadOnly));
        QCOMPARE(host.readAll(), QByteArray("one\r\ntwo\r\n"));
        QCOMPARE(QFileInfo(host).fileName(), QString("notes.txt"));
    }

    // Copy in one window, paste in another: the disk's date and attributes come along, not
    // the date of the host copy the data also offers.
    void PasteFromAnotherWindowKeepsDatesAndAttributes() {
        const FileDate written = MakeDate(1985, 6, 1, 12, 30);
        const int index = Fs->Add("LEDGER", "DAT", Bytes("figures"),
                                  FileSystem::AttrMOD | FileSystem::AttrInvisible, written);
        std::unique_ptr<QMimeData> data(Frame->BuildTransferData({index}));
        QVERIFY(data);
        QVERIFY(data->hasUrls());
        // The host copy is dated as the disk dates the file.
        QCOMPARE(QFileInfo(data->urls().front().toLocalFile()).lastModified(), QDateTime(QDate(1985, 6, 1), QTime(12, 30)));

        ScriptedPrompts otherPrompts;
        CMainFrame other(otherPrompts, App::TPreferences());
        FakeDisk otherDisk;
        FakeFileSystem* target = &otherDisk.Fs();
        other.AttachDisk(std::move(otherDisk.Disk));
        other.ReceiveTransfer(data.get());
        FakeFile* pasted = target->Find("LEDGER/DAT");
        QVERIFY(pasted != nullptr);
        QCOMPARE(pasted->Bytes, Bytes("figures"));
        QCOMPARE(pasted->Date.Year, 1985);
        QCOMPARE(pasted->Date.Month, 6);
        QCOMPARE(pasted->Date.Hour, 12);
        QCOMPARE(pasted->Attributes, uint32_t(FileSystem::AttrMOD | FileSystem::AttrInvisible));

        // MOD means something else on CP/M (archive): it stays behind there.
        target->Family = FileSystem::TypeCPM;
        target->DeleteFile(target->FindFile("LEDGER/DAT"));
        other.ReceiveTransfer(data.get());
        QCOMPARE(target->Find("LEDGER/DAT")->Attributes, uint32_t(FileSystem::AttrInvisible));
    }

    void HostFilesKeepTheirModificationTime() {
        QTemporaryDir folder;
        QFile file(folder.filePath("OLD.TXT"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("text\n");
        QVERIFY(file.flush());
        QVERIFY(file.setFileTime(QDateTime(QDate(2001, 2, 3), QTime(4, 5)), QFileDevice::FileModificationTime));
        file.close();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file.fileName())});
        Frame->ReceiveTransfer(&data);
        QVERIFY(Fs->Find("OLD/TXT") != nullptr);
        QCOMPARE(Fs->Find("OLD/TXT")->Date.Year, 2001);
        QCOMPARE(Fs->Find("OLD/TXT")->Date.Minute, 5);
    }

    // A dropped disk image is offered for opening, judged by what it holds.
    void DroppingADiskImageOffersToOpenIt_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<bool>("added");
        QTest::newRow("open") << int(App::DroppedImageAnswer::Open) << true << false;
        QTest::newRow("add as a file") << int(App::DroppedImageAnswer::AddAsFile) << false << true;
        QTest::newRow("cancel") << int(App::DroppedImageAnswer::Cancel) << false << false;
    }
    void DroppingADiskImageOffersToOpenIt() {
        QFETCH(int, answer);
        QFETCH(bool, opened);
        QFETCH(bool, added);
        QTemporaryDir folder;
        const QString image = folder.filePath("GAMES.BIN");  // no disk's name: known by its contents
        {
            FileSystem::MountedDisk disk;
            disk.CreateNew(QFile::encodeName(image).toStdString(), 2, 40, 2, 1, true, "GAMES", "01/02/86");
            disk.Flush();
        }
        Fs->Capacity = 1 << 20;  // room for the image as a file
        FileSystem::MountedDisk* before = Frame->Disk();
        Prompts.DroppedImages = {static_cast<App::DroppedImageAnswer>(answer)};
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(image)});
        QVERIFY(Frame->AcceptsTransfer(&data));
        Frame->DropData(&data);
        QCOMPARE(Prompts.OfKind("dropimage").size(), size_t(1));
        QCOMPARE(Prompts.OfKind("dropimage")[0].Text, QString("GAMES.BIN"));
        QCOMPARE(Frame->Disk() != before, opened);
        if (opened) QCOMPARE(QString::fromStdString(Frame->CurrentFileSystem()->GetDiskName()), QString("GAMES"));
        if (!opened) QCOMPARE(Fs->Find("GAMES/BIN") != nullptr, added);
    }

    void DroppingOtherFilesAsksNothing() {
        QTemporaryDir folder;
        QFile file(folder.filePath("NOTES.DSK"));  // a disk's name, but no disk inside
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("just some notes\n");
        file.close();
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(file.fileName())});
        Frame->DropData(&data);
        QVERIFY(Prompts.OfKind("dropimage").empty());
        QVERIFY(Fs->Find("NOTES/DSK") != nullptr);
    }

    void AnImageDroppedOnAnEmptyWindowOpens() {
        Frame->CloseDisk();
        QTemporaryDir folder;
        const QString image = folder.filePath("new.dmk");
        {
            FileSystem::MountedDisk disk;
            disk.CreateNew(QFile::encodeName(image).toStdString(), 2, 40, 2, 1, true, "EMPTYWIN", "01/02/86");
            disk.Flush();
        }
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(image)});
        QVERIFY(Frame->AcceptsTransfer(&data));
        Frame->DropData(&data);
        QVERIFY(Prompts.OfKind("dropimage").empty());
        QVERIFY(Frame->Disk() != nullptr);
    }

    void CopyOfAnUnreadableFileOffersNothing() {
        const int index = Fs->Add("BAD", "DAT", Bytes("x"));
        Fs->ReadFails = true;
        QVERIFY(Frame->BuildTransferData({index}) == nullptr);
        Frame->View()->SelectFileIndices({index});
        QGuiApplication::clipboard()->setText("before");
        Frame->OnCopy();
        const QMimeData* clipboard = QGuiApplication::clipboard()->mimeData();
        QVERIFY(clipboard == nullptr || (!clipboard->hasUrls() && !clipboard->hasFormat(CMainFrame::FileGroupMimeType)));
    }

    void PastingAFileGroupStoresEachFile() {
        App::TransferFile first{"HELLO.TXT", 7, QDateTime(QDate(2001, 2, 3), QTime(4, 5)).toUTC(), "hi\r\nyou", {}};
        App::TransferFile second{"DATA.BIN", 2, {}, QByteArray("\x00\x01", 2), {}};
        auto* data = new QMimeData;
        data->setData(CMainFrame::FileGroupMimeType, App::EncodeFileGroup({first, second}));
        QGuiApplication::clipboard()->setMimeData(data);
        QVERIFY(Frame->Action(CMainFrame::CmdPaste)->isEnabled());
        Frame->OnPaste();
        QVERIFY(Prompts.Log.empty());
        QVERIFY(Fs->Find("HELLO/TXT") != nullptr);
        QCOMPARE(Fs->Find("HELLO/TXT")->Bytes, Bytes("hi\ryou"));
        QCOMPARE(Fs->Find("HELLO/TXT")->Date.Year, 2001);
        QCOMPARE(Fs->Find("HELLO/TXT")->Date.Hour, 4);
        QVERIFY(Fs->Find("DATA/BIN") != nullptr);
        QCOMPARE(Frame->View()->RowCount(), 2);
    }

    void DroppingHostFilesStoresThemInOrder() {
        QTemporaryDir folder;
        for (const char* name : {"ONE.DAT", "TWO.DAT"}) {
            QFile file(folder.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(name);
        }
        Fs->Add("TWO", "DAT", Bytes("old"));
        Prompts.Replaces = {true};
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(folder.filePath("ONE.DAT")), QUrl::fromLocalFile(folder.filePath("TWO.DAT"))});
        QVERIFY(Frame->AcceptsTransfer(&data));
        Frame->ReceiveTransfer(&data);
        QCOMPARE(Prompts.OfKind("replace").size(), size_t(1));
        QCOMPARE(Fs->Find("ONE/DAT")->Bytes, Bytes("ONE.DAT"));
        QCOMPARE(Fs->Find("TWO/DAT")->Bytes, Bytes("TWO.DAT"));
    }

    void ADragOntoItsOwnListIsRefused() {
        const int index = Fs->Add("SELF", "DAT", Bytes("x"));
        std::unique_ptr<QMimeData> data(Frame->BuildTransferData({index}));
        QVERIFY(data);
        Frame->View()->BeginDrag(data.get());
        QVERIFY(!Frame->AcceptsTransfer(data.get()));
        Frame->View()->EndDrag();
        QVERIFY(Frame->AcceptsTransfer(data.get()));
    }

    void NothingUsableDoesNothing() {
        QGuiApplication::clipboard()->setText("just words");
        QVERIFY(!Frame->Action(CMainFrame::CmdPaste)->isEnabled());
        Frame->OnPaste();
        QMimeData data;
        data.setText("words");
        QVERIFY(!Frame->AcceptsTransfer(&data));
        Frame->ReceiveTransfer(&data);
        QVERIFY(Prompts.Log.empty());
        QCOMPARE(Fs->Count(), 0);
        // A damaged group is no group.
        QVERIFY(!App::DecodeFileGroup(QByteArray("QBFG garbage")));
    }

    void NoDiskAcceptsOnlyAFileToOpen() {
        const int index = Fs->Add("SOME", "DAT", Bytes("x"));
        std::unique_ptr<QMimeData> otherWindow(Frame->BuildTransferData({index}));
        QVERIFY(otherWindow && otherWindow->hasUrls());
        Frame->CloseDisk();
        QMimeData group;
        group.setData(CMainFrame::FileGroupMimeType, App::EncodeFileGroup({}));
        QVERIFY(!Frame->AcceptsTransfer(&group));
        QVERIFY(!Frame->AcceptsTransfer(otherWindow.get()));
        QMimeData hostFile;
        hostFile.setUrls({QUrl::fromLocalFile("/tmp/any.dsk")});
        QVERIFY(Frame->AcceptsTransfer(&hostFile));
    }
};

QTEST_MAIN(TransferTest)
#include "tst_Transfer.moc"
