// The program's main window: menus, toolbar, status bar, the file list of the
// open disk and every command on it.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "DatePatchCheck.h"
#include "FileTransfer.h"
#include "Preferences.h"
#include "UserPrompts.h"

class QDockWidget;
class QLabel;
class QLineEdit;
class QToolBar;
class QMimeData;

namespace FileSystem {
class MountedDisk;
}

namespace App {

class CQuarryboxView;
class CCheckFindingsDialog;
class CStatusFigures;
class CPreviewPane;
class CDiskMapDock;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    enum Command {
        CmdNew, CmdOpen, CmdClose, CmdDiskProperties, CmdExit,
        CmdCopy, CmdPaste, CmdAdd, CmdExtract, CmdSelectAll, CmdInvertSelection, CmdPreferences,
        CmdInvisible, CmdSystem, CmdAbout,
        CmdPreview, CmdDelete, CmdRename, CmdProperties, CmdHelp,
        CommandCount
    };
    // The partition menu offers at least this many items, and one a partition when a
    // disk has more.
    static constexpr int PartitionItems = 8;

    CMainFrame(IUserPrompts& prompts, const TPreferences& preferences, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // The file arguments of a command line (without the program's name):
    // empty arguments are skipped and arguments starting with "-" are options.
    static QStringList FileArguments(const QStringList& arguments);
    // Opens the one file argument, if there is exactly one.
    void Start(const QStringList& arguments);

    // The open flow after the file dialog: open, then take the new disk in place of the
    // open one, fill, title, date check. A disk that cannot be opened leaves the open one.
    bool OpenDisk(const QString& path);
    // A disk the user chose (File > Open, Open Recent): while another is shown, and
    // windows can be made, asks whether it opens in a new window or in place of the shown one.
    void OpenChosenDisk(const QString& path);
    // Takes an opened disk as the open one and fills the list (no date check).
    void AttachDisk(std::unique_ptr<FileSystem::MountedDisk> disk);
    void CloseDisk();

    FileSystem::MountedDisk* Disk() const { return OpenedDisk.get(); }
    FileSystem::TFileSystem* CurrentFileSystem() const;
    CQuarryboxView* View() const { return List; }
    QAction* Action(Command command) const { return Actions[command]; }
    QAction* PartitionAction(int partition) const { return PartitionActions.at(static_cast<size_t>(partition)); }
    int PartitionItemCount() const { return static_cast<int>(PartitionActions.size()); }
    QMenu* PartitionMenu() const { return PartitionSubmenu; }
    // File > Open Recent, filled (with the missing disks pruned) each time it opens.
    QMenu* RecentMenu() const { return RecentSubmenu; }
    void FillRecentMenu();
    QMenu* ContextMenu() const { return ListMenu; }
    // The status bar's word for a disk that cannot be changed, empty otherwise.
    QLabel* AccessIndicator() const { return AccessLabel; }
    // The filter box on the toolbar (Ctrl+F; Esc clears it).
    QLineEdit* FilterBox() const { return FilterEdit; }
    // Shows only the files the filter box's text keeps.
    void ApplyFilter();
    // Tools > Check Disk: the findings window, while it is open.
    QAction* CheckDiskAction() const { return CheckAction; }
    // Tools > Convert to: an entry a container type, in the core's order.
    QMenu* ConvertMenu() const { return ConvertSubmenu; }
    // Asks for the new image's name and converts the open disk into it.
    void OnConvert(int imageType);
    // Tools > Export All: asks for a folder and exports every partition into it.
    QAction* ExportAllAction() const { return ExportAction; }
    void OnExportAll();
    CCheckFindingsDialog* CheckFindings() const;
    // Shows the partition and selects the file in it.
    void SelectFileOfPartition(int partition, int fileIndex);
    // View > Preview Pane: the dock beside the list showing the one selected file.
    QDockWidget* PreviewDock() const { return PreviewDockWidget; }
    CPreviewPane* Preview() const { return PreviewPaneWidget; }
    // View > Disk Map: the dock picturing the sectors of the current partition.
    CDiskMapDock* DiskMap() const { return DiskMapWidget; }
    // The status bar's files, sizes, free space and DOS.
    CStatusFigures* StatusFigures() const { return Figures; }
    TPreferences& Preferences() { return Prefs; }
    bool ShowInvisible() const { return ShowInvisibleFiles; }
    bool ShowSystem() const { return ShowSystemFiles; }

    void SetDatePatcher(IDatePatcher* patcher) { Patcher = patcher; }
    // File > New Window: makes and shows another window given this one's preferences.
    // Without a maker the command is not offered.
    // The path is a disk for the new window to open, empty for none.
    using WindowMaker = std::function<void(const TPreferences&, const QString& path)>;
    void SetWindowMaker(WindowMaker maker);
    QAction* NewWindowAction() const { return NewWindow; }
    // Called with the preferences when the window is destroyed.
    void SetPreferencesWriter(std::function<void(const TPreferences&)> writer) { WritePreferences = std::move(writer); }

    // Asks whether the disk may be changed, with the refusal's message when not.
    bool CheckWritePermission();
    // Ends one command: whatever it changed reaches the image file whole (one journalled
    // change). False, after saying why, when it could not be saved.
    bool CommitChange();
    // Fills the list again and selects the files that were selected and still exist.
    void Refresh();
    void RunDateCheck();
    void UpdateTitle();
    void UpdateCommands();
    // Keeps count items in the partition menu, adding or removing them at its end.
    void SetPartitionItemCount(int count);

    // Adds one host file, dated by its modification time; silently skips files that
    // cannot be read whole.
    void AddHostFile(const QString& path);
    // Stores one file through the name, replace and space checks, then gives it the
    // attributes the current file system shares with their source. True when stored.
    bool StoreFile(const QString& name, const std::vector<uint8_t>& bytes, const FileSystem::FileDate& date,
                   const TransferAttributes& attributes = {});
    // Whether extraction still asks before overwriting a host file, or was told for all.
    enum class OverwriteRule { Ask, Always, Never };
    // Extracts one file into the extraction folder under hostName (empty: its plain name),
    // asking before overwriting. False when the user cancelled the files still to come.
    // What reading the file met that is worth telling (sectors read with an error) is
    // added to damage, when given.
    bool ExtractOne(int fileIndex, OverwriteRule& rule, const std::string& hostName = {}, QString* damage = nullptr);
    // Says once, when a disk opens, that sectors of its directory were read with errors.
    void ReportDamagedDirectory();

    // Clipboard and drag-and-drop: the data offered for these files (nothing when a
    // file cannot be read), whether a drop is accepted, and storing what arrives.
    QMimeData* BuildTransferData(const std::vector<int>& fileIndices);
    bool AcceptsTransfer(const QMimeData* data) const;
    void ReceiveTransfer(const QMimeData* data);
    // A drop on the list: a disk image is offered for opening, anything else is stored.
    void DropData(const QMimeData* data);
    static constexpr const char* FileGroupMimeType = App::FileGroupMimeType;

public slots:
    void OnNew();
    void OnOpen();
    void OnClose();
    void OnDiskProperties();
    void OnCopy();
    void OnPaste();
    void OnAdd();
    void OnExtract();
    void OnSelectAll();
    void OnInvertSelection();
    void OnPreferences();
    void OnToggleInvisible();
    void OnToggleSystem();
    void OnPartition(int partition);
    void OnAbout();
    void OnCheckDisk();
    void OnPreview(int fileIndex);
    void OnPreviewSelected();
    void OnDelete();
    void OnRename();
    void OnFileProperties();
    void OnEscape();
    void OnHelp();

protected:
    bool event(QEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void ShowContextMenu(const QPoint& globalPosition);
    void OnDragOut();
    bool ClipboardOffersFiles() const;
    bool DiskOpen() const { return CurrentFileSystem() != nullptr; }
    // Why the current disk cannot be changed, empty when it can.
    QString WriteRefusal() const;
    void UpdateAccessIndicator();
    void UpdateStatusFigures();
    // The window's size, list and View choices from the preferences, and back.
    void AddFilterBox(QToolBar* toolbar);
    void CreatePreviewDock();
    void CreateDiskMapDock();
    // Shows the one selected file in the preview pane when it is open; again even when
    // it is already shown if the disk may have changed under it.
    void UpdatePreview(bool again = false);
    void RestoreWindowState();
    void KeepWindowState();
    // The first dropped host file that opens as a disk image, empty when there is none.
    QString DroppedDiskImage(const QMimeData* data) const;

    IUserPrompts& Prompts;
    TPreferences Prefs;
    std::unique_ptr<FileSystem::MountedDisk> OpenedDisk;
    CQuarryboxView* List;
    std::array<QAction*, CommandCount> Actions{};
    std::vector<QAction*> PartitionActions;
    QMenu* PartitionSubmenu = nullptr;
    QMenu* ListMenu = nullptr;
    QMenu* ViewMenu = nullptr;
    QMenu* RecentSubmenu = nullptr;
    QLineEdit* FilterEdit = nullptr;
    QAction* CheckAction = nullptr;
    QMenu* ConvertSubmenu = nullptr;
    QAction* ExportAction = nullptr;
    QAction* NewWindow = nullptr;
    WindowMaker MakeWindow;
    QPointer<CCheckFindingsDialog> FindingsWindow;
    QLabel* AccessLabel = nullptr;
    CStatusFigures* Figures = nullptr;
    QDockWidget* PreviewDockWidget = nullptr;
    CPreviewPane* PreviewPaneWidget = nullptr;
    CDiskMapDock* DiskMapWidget = nullptr;
    bool ShowInvisibleFiles = false;
    bool ShowSystemFiles = false;
    CLDOSDatePatcher DefaultPatcher;
    IDatePatcher* Patcher = &DefaultPatcher;
    std::function<void(const TPreferences&)> WritePreferences;
    // Files copied out for the clipboard live here until the program ends.
    TransferStaging Staging;
};

}  // namespace App
