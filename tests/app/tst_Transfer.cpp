// Files through the clipboard and drag-and-drop: what Copy offers, what
// Paste and drops store, and what is refused.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include "AppTestSupport.h"
#include "FileTransfer.h"
#include "QuarryboxView.h"

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
        App::TransferFile first{"HELLO.TXT", 7, QDateTime(QDate(2001, 2, 3), QTime(4, 5)).toUTC(), "hi\r\nyou"};
        App::TransferFile second{"DATA.BIN", 2, {}, QByteArray("\x00\x01", 2)};
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

    void NoDiskAcceptsNothing() {
        Frame->CloseDisk();
        QMimeData data;
        data.setData(CMainFrame::FileGroupMimeType, App::EncodeFileGroup({}));
        QVERIFY(!Frame->AcceptsTransfer(&data));
    }
};

QTEST_MAIN(TransferTest)
#include "tst_Transfer.moc"
