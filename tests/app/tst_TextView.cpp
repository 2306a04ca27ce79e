// The file viewer: the first rendering chosen for each kind of file, the
// Disassembly fallback, the font radio buttons and when FontType is kept.
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <QtTest>

#include "AppTestSupport.h"
#include "TextView.h"
#include "ViewerTools.h"

using namespace AppTest;
using App::CTextView;
using Viewer::ViewMode;

Q_DECLARE_METATYPE(std::vector<ViewMode>)

namespace {

std::vector<uint8_t> Text(const char* text) { return std::vector<uint8_t>(text, text + strlen(text)); }

// A load module: one byte (RET) loaded at 6000H, entry 6000H.
const std::vector<uint8_t> LoadModule = {0x01, 0x03, 0x00, 0x60, 0xC9, 0x02, 0x02, 0x00, 0x60};

}  // namespace

class TextViewTest : public QObject {
    Q_OBJECT

private:
    FakeImage Image;
    std::unique_ptr<FakeFileSystem> Fs;

private slots:
    void init() { Fs = std::make_unique<FakeFileSystem>(&Image); }

    void FirstModeFollowsTheFile_data() {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("family");
        QTest::addColumn<std::vector<ViewMode>>("modes");
        const QByteArray basic("\xFF\x00\x80\x0A\x00\x8F\x00\x00\x00", 9);
        const QByteArray edtasm("\xB0\xB0\xB1\xB0\xB0 LD A,1\r", 14);
        const QByteArray module(reinterpret_cast<const char*>(LoadModule.data()), LoadModule.size());
        QTest::newRow("picture") << "SHR" << QByteArray() << 0 << std::vector{ViewMode::Graphics, ViewMode::Hexadecimal};
        QTest::newRow("EDTASM") << "ASM" << edtasm << 0 << std::vector{ViewMode::EDTASM, ViewMode::Hexadecimal};
        QTest::newRow("BASIC") << "BAS" << basic << 0 << std::vector{ViewMode::BASIC, ViewMode::Hexadecimal};
        QTest::newRow("load module") << "CMD" << module << 0
                                     << std::vector{ViewMode::Disassembly, ViewMode::Hexadecimal, ViewMode::Text};
        QTest::newRow("text") << "" << QByteArray("HELLO, WORLD\r") << 0
                              << std::vector{ViewMode::Text, ViewMode::Hexadecimal};
        QTest::newRow("binary") << "DAT" << QByteArray("\x00\x80\x81", 3) << 0
                                << std::vector{ViewMode::Hexadecimal, ViewMode::Text};
        QTest::newRow("empty") << "" << QByteArray() << 0 << std::vector{ViewMode::Hexadecimal, ViewMode::Text};
        QTest::newRow("CP/M BASIC look-alike") << "BAS" << basic << 2
                                               << std::vector{ViewMode::Hexadecimal, ViewMode::Text};
        // FFH, a big-endian length, then 10 PRINT and the zero link.
        const QByteArray colorBasic("\xFF\x00\x08\x26\x07\x00\x0A\x87\x00\x00\x00", 11);
        QTest::newRow("Color BASIC") << "BAS" << colorBasic << 1 << std::vector{ViewMode::BASIC, ViewMode::Hexadecimal};
    }
    void FirstModeFollowsTheFile() {
        QFETCH(QString, extension);
        QFETCH(QByteArray, bytes);
        QFETCH(int, family);
        QFETCH(std::vector<ViewMode>, modes);
        Fs->Family = family;
        const int index = Fs->Add("FILE", extension.toStdString(), std::vector<uint8_t>(bytes.begin(), bytes.end()));
        CTextView view(*Fs, index, 0);
        QVERIFY(view.Initialise());
        QCOMPARE(view.Modes(), modes);
        QCOMPARE(view.CurrentMode(), static_cast<int>(modes.front()));
        QCOMPARE(view.ModeBox()->count(), static_cast<int>(modes.size()));
        QCOMPARE(view.ModeBox()->itemText(0), QString(Viewer::ViewModeLabel(modes.front())));
        // A name without an extension is shown without the separator.
        const QString shownName = extension.isEmpty() ? QString("FILE") : "FILE/" + extension;
        QCOMPARE(view.windowTitle(), "File Viewer - " + shownName);
    }

    void BrokenLoadModuleFallsBackToTheDump() {
        const int index = Fs->Add("BROKEN", "CMD", {0x05, 0xFF, 0x41});
        CTextView view(*Fs, index, 0);
        QVERIFY(view.Initialise());
        QCOMPARE(view.CurrentMode(), static_cast<int>(ViewMode::Hexadecimal));
        QCOMPARE(view.Modes(), (std::vector{ViewMode::Hexadecimal, ViewMode::Text}));
        QCOMPARE(view.ModeBox()->count(), 2);
        QCOMPARE(view.ModeBox()->currentIndex(), 0);
        QVERIFY(view.TextControl()->toPlainText().contains("41"));
    }

    void FontChoiceOnlyInTextMode() {
        const int index = Fs->Add("BINARY", "DAT", {0x00, 0x01, 0x02});
        CTextView view(*Fs, index, 1);
        QVERIFY(view.Initialise());
        QVERIFY(!view.MonospacedButton()->isEnabled() && !view.ProportionalButton()->isEnabled());
        QVERIFY(view.SelectEntry(1));  // Text
        QCOMPARE(view.CurrentMode(), static_cast<int>(ViewMode::Text));
        QVERIFY(view.MonospacedButton()->isEnabled() && view.ProportionalButton()->isEnabled());
        QVERIFY(view.ProportionalButton()->isChecked());
        QVERIFY(view.SelectEntry(0));
        QVERIFY(!view.ProportionalButton()->isEnabled());
    }

    void FontTypeIsKeptOnlyOnDone() {
        const int index = Fs->Add("README", "TXT", Text("Some words.\r"));
        {
            CTextView view(*Fs, index, 0);
            QVERIFY(view.Initialise());
            view.ProportionalButton()->click();
            view.reject();
            QCOMPARE(view.result(), CTextView::ResultClosed);
            QCOMPARE(view.FontType(), 0);
        }
        {
            CTextView view(*Fs, index, 0);
            QVERIFY(view.Initialise());
            view.ProportionalButton()->click();
            QCOMPARE(view.TextControl()->document()->defaultFont().family(), CTextView::ProportionalFont().family());
            view.OnDone();
            QCOMPARE(view.result(), CTextView::ResultDone);
            QCOMPARE(view.FontType(), 1);
        }
    }

    void ColorBasicListsWithTheCoCosKeywords() {
        Fs->Family = 1;  // RSDOS
        const int index = Fs->Add("HELLO", "BAS", {0xFF, 0x00, 0x0D, 0x26, 0x0C, 0x00, 0x0A, 0x87, ' ', '"', 'H',
                                                   'I', '"', 0x00, 0x00, 0x00});
        CTextView view(*Fs, index, 0);
        QVERIFY(view.Initialise());
        QCOMPARE(view.CurrentMode(), static_cast<int>(ViewMode::BASIC));
        QCOMPARE(view.TextControl()->toPlainText(), QString("10 PRINT \"HI\"\n"));
    }

    // Every line of a rendering fits the viewer at the size it opens with.
    void LinesFitUnwrapped_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("entry");
        QTest::addColumn<int>("mode");
        QByteArray binary(300, '\0');
        for (int i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 37);
        QTest::newRow("hexadecimal") << binary << 0 << static_cast<int>(ViewMode::Hexadecimal);
        // A full line of the 64-column TRS-80 screen.
        const QByteArray screenLine = QByteArray(64, 'W') + "\r" + QByteArray(64, 'M') + "\r";
        QTest::newRow("text") << screenLine << 0 << static_cast<int>(ViewMode::Text);
    }
    void LinesFitUnwrapped() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, entry);
        QFETCH(int, mode);
        const int index = Fs->Add("FILE", "DAT", std::vector<uint8_t>(bytes.begin(), bytes.end()));
        CTextView view(*Fs, index, 0);
        QVERIFY(view.Initialise());
        QVERIFY(view.SelectEntry(entry));
        QCOMPARE(view.CurrentMode(), mode);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCoreApplication::processEvents();
        int lines = 0;
        for (QTextBlock block = view.TextControl()->document()->begin(); block.isValid(); block = block.next()) {
            if (block.text().isEmpty()) continue;
            QVERIFY(block.layout() != nullptr);
            QCOMPARE(block.layout()->lineCount(), 1);
            ++lines;
        }
        QVERIFY(lines >= 2);
    }

    void AWidenedViewerKeepsItsWidthAcrossModes() {
        const int index = Fs->Add("README", "TXT", Text("Some words.\r"));
        CTextView view(*Fs, index, 0);
        QVERIFY(view.Initialise());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.CurrentMode(), static_cast<int>(ViewMode::Text));
        const int wider = view.width() + 300;
        view.resize(wider, view.height());
        QVERIFY(view.SelectEntry(1));  // Hexadecimal
        QCOMPARE(view.CurrentMode(), static_cast<int>(ViewMode::Hexadecimal));
        QCOMPARE(view.width(), wider);
        QVERIFY(view.maximumWidth() > wider);  // and may grow further
        QVERIFY(view.SelectEntry(0));
        QCOMPARE(view.width(), wider);
    }

    void AnUnreadableFileFailsAtOpening() {
        const int index = Fs->Add("GONE", "DAT", {1});
        Fs->ReadFails = true;
        CTextView view(*Fs, index, 0);
        QCOMPARE(view.Run(), CTextView::ResultFailed);
    }

    void PicturesGetAFixedSize() {
        const int index = Fs->Add("PIC", "HR", std::vector<uint8_t>(19200, 0xAA));
        CTextView view(*Fs, index, 0);
        QVERIFY(view.Initialise());
        QCOMPARE(view.CurrentMode(), static_cast<int>(ViewMode::Graphics));
        QCOMPARE(view.minimumSize(), view.maximumSize());
        QVERIFY(view.width() >= 640);
    }

    // Find goes round the end both ways and says when nothing matches; Enter in the
    // field finds rather than pressing "Done".
    void FindGoesRoundTheText() {
        const int index = Fs->Add("NOTES", "", Text("APPLE\rPEAR\rAPPLE PIE\r"));
        CTextView view(*Fs, index, 0);
        QVERIFY(view.Initialise());
        view.show();
        App::CViewerTools* tools = view.ViewerTools();
        tools->FindField()->setText("APPLE");
        const auto selectedAt = [&] { return view.TextControl()->textCursor().selectionStart(); };
        const int second = view.TextControl()->toPlainText().lastIndexOf("APPLE");
        QVERIFY(tools->FindNext());
        QCOMPARE(selectedAt(), 0);
        QVERIFY(tools->FindNext());
        QCOMPARE(selectedAt(), second);
        QVERIFY(tools->FindNext());
        QCOMPARE(selectedAt(), 0);
        QVERIFY(tools->FindNext(true));
        QCOMPARE(selectedAt(), second);
        QTest::keyClick(tools->FindField(), Qt::Key_Return);
        QCOMPARE(selectedAt(), 0);
        QVERIFY(view.isVisible());
        QCOMPARE(view.result(), 0);
        tools->FindField()->setText("PLUM");
        QVERIFY(!tools->FindNext());
        QCOMPARE(view.TextControl()->textCursor().selectedText(), QString("APPLE"));
    }

    // Copy takes the selected text, or the picture; Save as… writes the text as shown,
    // or the picture as PNG, where the user said.
    void CopyAndSaveTakeWhatIsShown() {
        QTemporaryDir folder;
        const int notes = Fs->Add("NOTES", "", Text("APPLE\rPEAR\r"));
        const int picture = Fs->Add("PIC", "SHR", {});
        {
            CTextView view(*Fs, notes, 0);
            QVERIFY(view.Initialise());
            App::CViewerTools* tools = view.ViewerTools();
            QVERIFY(!tools->CopyButton()->isEnabled());
            tools->FindField()->setText("PEAR");
            QVERIFY(tools->FindNext());
            QVERIFY(tools->CopyButton()->isEnabled());
            tools->CopyButton()->click();
            QCOMPARE(QGuiApplication::clipboard()->text(), QString("PEAR"));
            QString asked;
            tools->SetSaveNameAsker([&](const QString&, const QString& filter, const QString& suffix) {
                asked = filter + " " + suffix;
                return folder.filePath("notes.txt");
            });
            tools->SaveButton()->click();
            QCOMPARE(asked, QString("Text files (*.txt) txt"));
            QFile saved(folder.filePath("notes.txt"));
            QVERIFY(saved.open(QIODevice::ReadOnly));
            QCOMPARE(saved.readAll(), view.TextControl()->toPlainText().toLatin1());
        }
        {
            CTextView view(*Fs, picture, 0);
            QVERIFY(view.Initialise());
            App::CViewerTools* tools = view.ViewerTools();
            QVERIFY(tools->ShowsPicture() && tools->CopyButton()->isEnabled());
            tools->CopyButton()->click();
            const QImage copied = QGuiApplication::clipboard()->image();
            QVERIFY(!copied.isNull());
            const QString path = folder.filePath("picture.png");
            QVERIFY(tools->SaveShown(path));
            const QImage saved(path);
            QCOMPARE(saved.size(), copied.size());
            QVERIFY(!tools->SaveShown(folder.filePath("missing/folder/picture.png")));
        }
    }
};

QTEST_MAIN(TextViewTest)
#include "tst_TextView.moc"
