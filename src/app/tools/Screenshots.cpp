// Takes the pictures of the program's windows for the documentation: the main
// window on a disk and on a CP/M disk, the disk map of real LDOS and CP/M disks, the
// file viewer in each of its renderings, the dialogs and the overwrite question.
// Run on a real display (or a virtual one): quarrybox_screenshots IMAGE FOLDER.
// The image is copied first and sample files are added to the copy.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <cstdio>

#include "CheckFindings.h"
#include "CreateFloppy.h"
#include "DiskMapView.h"
#include "DesktopPrompts.h"
#include "MainFrame.h"
#include "PreviewPane.h"
#include "PropertyDialogs.h"
#include "QuarryboxView.h"
#include "TextView.h"
#include "filesystem/CPM.h"
#include "filesystem/CPMFormats.h"
#include "filesystem/MountedDisk.h"

namespace {

std::vector<uint8_t> BasicProgram() {
    // Tokenised: 10 PRINT "HELLO FROM QUARRYBOX" / 20 END
    std::vector<uint8_t> bytes = {0xFF};
    auto line = [&bytes](int number, const std::vector<uint8_t>& body) {
        const int next = 0x6A00 + static_cast<int>(bytes.size()) + 4 + static_cast<int>(body.size()) + 1;
        bytes.push_back(static_cast<uint8_t>(next & 0xFF));
        bytes.push_back(static_cast<uint8_t>(next >> 8));
        bytes.push_back(static_cast<uint8_t>(number & 0xFF));
        bytes.push_back(static_cast<uint8_t>(number >> 8));
        bytes.insert(bytes.end(), body.begin(), body.end());
        bytes.push_back(0);
    };
    std::vector<uint8_t> print = {0xB2, ' ', '"'};
    for (char c : std::string("HELLO FROM QUARRYBOX")) print.push_back(static_cast<uint8_t>(c));
    print.push_back('"');
    line(10, print);
    line(20, {0x80});
    bytes.push_back(0);
    bytes.push_back(0);
    return bytes;
}

std::vector<uint8_t> EdtasmSource() {
    std::string text;
    const char* lines[] = {"\tORG\t7000H", "START\tLD\tHL,3C00H", "\tLD\t(HL),41H", "\tJP\t402DH", "\tEND\tSTART"};
    int number = 100;
    for (const char* source : lines) {
        char digits[6];
        std::snprintf(digits, sizeof digits, "%05d", number);
        for (int i = 0; i < 5; ++i) text += static_cast<char>(digits[i] | 0x80);
        text += ' ';
        text += source;
        text += '\r';
        number += 10;
    }
    return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<uint8_t> Picture() {
    std::vector<uint8_t> bytes(19200, 0);
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 640; ++x) {
            const double dx = x - 320.0;
            const double dy = (y - 120.0) * 2.0;
            const bool lit = static_cast<int>(std::sqrt(dx * dx + dy * dy) / 12.0) % 2 == 0;
            if (lit) bytes[static_cast<size_t>(y * 80 + x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    }
    return bytes;
}

bool Save(QWidget* widget, const QString& path) {
    widget->show();
    widget->raise();
    if (!QTest::qWaitForWindowExposed(widget, 5000)) return false;
    QTest::qWait(300);
    const bool saved = widget->grab().save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    return saved;
}

int FindFile(FileSystem::TFileSystem& fs, const char* name) { return fs.FindFile(name); }

// Tools > Check Disk's findings on a real LDOS disk when the shared disks are beside the
// project, on the demo disk otherwise.
bool SaveCheckFindings(const QString& demo, const QString& path) {
    const QString real = QCoreApplication::applicationDirPath() + "/../../../../shared/fixtures/real/jv3-dd40-ldos531-m3-system.dsk";
    App::CDesktopPrompts prompts;
    App::CMainFrame window(prompts, App::TPreferences());
    prompts.SetOwner(&window);
    window.Preferences().LDOSDateCheckDisabled = true;
    if (!window.OpenDisk(QFile::exists(real) ? real : demo)) return false;
    window.CheckDiskAction()->trigger();
    App::CCheckFindingsDialog* findings = window.CheckFindings();
    return findings != nullptr && Save(findings, path);
}

// View > Disk Map on a real disk beside the project, with one file selected; nothing
// when the shared disks are not there.
bool SaveDiskMap(const char* disk, const char* file, const QString& path) {
    const QString real = QCoreApplication::applicationDirPath() + "/../../../../shared/fixtures/real/" + disk;
    if (!QFile::exists(real)) {
        std::printf("skipped %s: no %s\n", qPrintable(path), disk);
        return true;
    }
    App::CDesktopPrompts prompts;
    App::CMainFrame window(prompts, App::TPreferences());
    prompts.SetOwner(&window);
    window.Preferences().LDOSDateCheckDisabled = true;
    if (!window.OpenDisk(real)) return false;
    window.DiskMap()->toggleViewAction()->trigger();
    window.resize(1100, 720);
    window.View()->SelectFileIndices({FindFile(*window.CurrentFileSystem(), file)});
    return Save(&window, path);
}

// A Montezuma Micro CP/M data disk, every sector formatted with E5H: an empty CP/M disk.
const int CPMDataRow = FileSystem::FindCPMFormatRow("Montezuma Micro CP/M", "Standard DATA (40T, SS, DD, 200K)");

bool FormatCPMDisk(const QString& path) {
    const FileSystem::CPMFormat& format = FileSystem::FormatCatalogue[CPMDataRow];
    auto image = DiskImage::CreateFloppyImage(QFile::encodeName(path).toStdString(), DiskImage::ImageJV3);
    for (int track = 0; track < format.Tracks; ++track) {
        std::array<std::vector<DiskImage::TTrackSector>, 2> sides;
        for (int s = 0; s < format.SectorsPerTrack; ++s) {
            DiskImage::TTrackSector sector;
            sector.Sector = format.Translation[static_cast<size_t>(s)];
            sector.Size = format.SectorSize();
            sector.Density = format.IsDoubleDensity();
            sector.Data.assign(static_cast<size_t>(format.SectorSize()), 0xE5);
            sides[0].push_back(sector);
        }
        if (!image->LayOutTrack(track, sides) || !image->Flush()) return false;
    }
    image->CommitChange();
    return true;
}

// Moves the directory entries of a file into another user area, as CP/M's USER command
// and PIP would have placed it.
void MoveToUserArea(const QString& path, const char* name, int user) {
    std::vector<int> entries;
    {
        auto image = DiskImage::OpenFloppyImage(QFile::encodeName(path).toStdString(), true);
        FileSystem::CPM cpm(image.get());
        for (int entry : cpm.GetExtentList(cpm.FindFile(name))) entries.push_back(entry);
    }
    const FileSystem::CPMFormat& format = FileSystem::FormatCatalogue[CPMDataRow];
    auto image = DiskImage::OpenFloppyImage(QFile::encodeName(path).toStdString());
    for (int entry : entries) {
        FileSystem::CPMSectorAddress address;
        if (entry < 0 || !FileSystem::CPM::MapSector(format, entry * 32 / format.SectorSize(), address)) continue;
        std::vector<uint8_t> data(DiskImage::TFloppyImage::SectorBufferSize);
        int size = 0;
        uint8_t dam = 0;
        image->LoadTrack(address.Track);
        if (!image->ReadSector(address.Track, address.Side, address.Density, address.SectorId, size, dam, data.data(),
                               false, false)) {
            continue;
        }
        data[static_cast<size_t>(entry * 32 % format.SectorSize())] = static_cast<uint8_t>(user);
        image->WriteSector(address.Track, address.Side, address.Density, address.SectorId, dam, data.data());
    }
    image->Flush();
    image->CommitChange();
}

// The main window on a CP/M disk of a few files in three user areas.
bool SaveCPMWindow(const QString& image, const QString& picture) {
    if (!FormatCPMDisk(image)) return false;
    FileSystem::FileDate none;
    {
        App::CDesktopPrompts prompts;
        App::CMainFrame window(prompts, App::TPreferences());
        if (!window.OpenDisk(image)) return false;
        const std::string readme = "Notes on a CP/M disk.\r\n";
        window.StoreFile("README.TXT", std::vector<uint8_t>(readme.begin(), readme.end()), none);
        window.StoreFile("STARTREK.COM", std::vector<uint8_t>(6400, 0xC9), none);
        window.StoreFile("STARTREK.DAT", std::vector<uint8_t>(1024, 0x20), none);
        window.StoreFile("LEDGER.BAS", std::vector<uint8_t>(2944, 0x41), none);
        window.StoreFile("PAYROLL.BAS", std::vector<uint8_t>(3968, 0x42), none);
        window.StoreFile("MBASIC.COM", std::vector<uint8_t>(24320, 0xC3), none);
        auto* fs = window.CurrentFileSystem();
        fs->SetAttribute(fs->FindFile("MBASIC.COM"), FileSystem::AttrReadOnly, true);
        fs->SetAttribute(fs->FindFile("LEDGER.BAS"), FileSystem::AttrArchive, true);
        window.CommitChange();
        window.CloseDisk();
    }
    MoveToUserArea(image, "STARTREK.COM", 3);
    MoveToUserArea(image, "STARTREK.DAT", 3);
    MoveToUserArea(image, "LEDGER.BAS", 5);
    MoveToUserArea(image, "PAYROLL.BAS", 5);
    App::CDesktopPrompts prompts;
    App::CMainFrame window(prompts, App::TPreferences());
    prompts.SetOwner(&window);
    if (!window.OpenDisk(image)) return false;
    window.resize(760, 330);
    window.View()->SelectFileIndices({FindFile(*window.CurrentFileSystem(), "LEDGER.BAS")});
    const bool saved = Save(&window, picture);
    window.CloseDisk();
    return saved;
}

}  // namespace

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: quarrybox_screenshots IMAGE FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(folder);
    QTemporaryDir work;
    const QString source = QString::fromLocal8Bit(argv[1]);
    QString image = work.filePath(QFileInfo(source).fileName());
    const bool fresh = !QFileInfo::exists(source);
    if (fresh) {
        // No demo disk yet: a new LDOS floppy stands in for it.
        image = work.filePath("demo.dmk");
        FileSystem::MountedDisk created;
        created.CreateNew(QFile::encodeName(image).toStdString(), 2, 40, 2, 2, true, "DEMO", "12/10/26");
        created.Close();
    } else if (!QFile::copy(source, image)) {
        std::fprintf(stderr, "cannot copy %s\n", argv[1]);
        return 1;
    }

    App::CDesktopPrompts prompts;
    App::CMainFrame window(prompts, App::TPreferences());
    prompts.SetOwner(&window);
    window.Preferences().LDOSDateCheckDisabled = true;
    if (!window.OpenDisk(image)) return 1;
    FileSystem::TFileSystem* fs = window.CurrentFileSystem();
    FileSystem::FileDate date;
    date.SetFromTime(std::time(nullptr));
    if (fresh) {
        const std::string readme = "Quarrybox demo disk.\r\nFiles from the host, shown as text.\r\n";
        window.StoreFile("README.TXT", std::vector<uint8_t>(readme.begin(), readme.end()), date);
        window.StoreFile("DEMO.CMD", {0x01, 0x05, 0x00, 0x70, 0xC3, 0x2D, 0x40, 0x02, 0x02, 0x00, 0x70}, date);
    }
    window.StoreFile("LISTING.BAS", BasicProgram(), date);
    window.StoreFile("SOURCE.ASM", EdtasmSource(), date);
    window.StoreFile("RINGS.HR", Picture(), date);
    window.Refresh();
    window.resize(760, 420);
    window.View()->SelectFileIndices({FindFile(*fs, "SOURCE/ASM"), FindFile(*fs, "RINGS/HR")});
    bool ok = Save(&window, folder + "/main-window.png");
    ok = SaveCheckFindings(image, folder + "/check-findings.png") && ok;
    ok = SaveDiskMap("jv3-dd40-ldos531-m3-system.dsk", "LCOMM/CMD", folder + "/disk-map-ldos.png") && ok;
    ok = SaveDiskMap("jv3-dd40-cpm22-montezuma-bios230-system.jv3", "PIP.COM", folder + "/disk-map-cpm.png") && ok;

    // The preview pane beside the list, showing a disassembly.
    window.PreviewDock()->toggleViewAction()->trigger();
    window.resize(1220, 460);
    window.View()->SelectFileIndices({FindFile(*fs, "DEMO/CMD")});
    ok = QTest::qWaitFor([&] { return !window.Preview()->IsRendering(); }, 5000) && ok;
    ok = Save(&window, folder + "/preview-pane.png") && ok;
    window.PreviewDock()->toggleViewAction()->trigger();

    // One viewer picture per rendering, on the first file whose list offers it.
    for (int mode = 0; mode <= 5; ++mode) {
        for (int fileIndex : window.View()->AllFileIndices()) {
            App::CTextView probe(*fs, fileIndex, 0, &window);
            if (!probe.Initialise()) continue;
            const auto modes = probe.Modes();
            const auto found = std::find(modes.begin(), modes.end(), static_cast<Viewer::ViewMode>(mode));
            if (found == modes.end() || (found != modes.begin() && mode != 0)) continue;
            // A dump of several lines shows what a line of it holds.
            if (mode == 0 && fs->GetFileSize(fileIndex) < 256) continue;
            probe.SelectEntry(static_cast<int>(found - modes.begin()));
            if (probe.CurrentMode() != mode) continue;
            const QString label = QString(Viewer::ViewModeLabel(static_cast<Viewer::ViewMode>(mode))).toLower();
            ok = Save(&probe, folder + "/viewer-" + label + ".png") && ok;
            break;
        }
    }

    App::CCreateFloppy create({}, &window);
    ok = Save(&create, folder + "/new-floppy.png") && ok;
    App::CDiskInfoDialog disk(*window.Disk(), &window);
    ok = Save(&disk, folder + "/disk-properties.png") && ok;
    App::CFileInfoDialog file(*fs, FindFile(*fs, "LISTING/BAS"), {}, &window);
    ok = Save(&file, folder + "/file-properties.png") && ok;
    App::CPreferencesDialog preferences(window.Preferences(), &window);
    ok = Save(&preferences, folder + "/preferences.png") && ok;
    auto overwrite = App::MakeMessageBox(
        QMessageBox::Critical, "Confirm File Overwrite",
        "The file 'listing.bas' exists in /home/user/trs80; are you sure you want to overwrite it?",
        QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::NoToAll | QMessageBox::Cancel,
        &window);
    ok = Save(overwrite.get(), folder + "/overwrite-question.png") && ok;
    window.CloseDisk();
    ok = SaveCPMWindow(work.filePath("cpm.jv3"), folder + "/main-window-cpm.png") && ok;
    return ok ? 0 : 1;
}
