#include "MainFrame.h"

#include <algorithm>

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDockWidget>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyle>
#include <QToolBar>
#include <QUrl>

#include "AppText.h"
#include "CheckFindings.h"
#include "ConvertDisk.h"
#include "DiskMapView.h"
#include "ExportAll.h"
#include "FileFilter.h"
#include "FileTransfer.h"
#include "PreviewPane.h"
#include "PropertyDialogs.h"
#include "QuarryboxView.h"
#include "StatusFigures.h"
#include "ViewerTools.h"
#include "diskimage/DiskImage.h"
#include "filesystem/HostTransfer.h"
#include "filesystem/MountedDisk.h"

namespace App {

using FileSystem::FileDate;
using FileSystem::MountedDisk;
using FileSystem::TFileSystem;

namespace {

struct CommandInfo {
    const char* Text;
    const char* Prompt;
    const char* ToolTip;
    const char* ThemeIcon;
    QStyle::StandardPixmap FallbackIcon;
};

// In the order of CMainFrame::Command.
const CommandInfo Commands[CMainFrame::CommandCount] = {
    {"&New...", "Create a new virtual disk image.", "New", "document-new", QStyle::SP_FileIcon},
    {"&Open...", "Open a virtual disk image.", "Open", "document-open", QStyle::SP_DialogOpenButton},
    {"&Close", "Close the open virtual disk image.", nullptr, "document-close", QStyle::SP_DialogCloseButton},
    {"&Disk properties...", "Display the virtual disk properties.", "Properties", "document-properties",
     QStyle::SP_FileDialogInfoView},
    {"E&xit", "Exit Quarrybox.", nullptr, "application-exit", QStyle::SP_DialogCloseButton},
    {"&Copy", "Copy files and put them on the Clipboard.", "Copy", "edit-copy", QStyle::SP_FileLinkIcon},
    {"&Paste", "Insert files copied to the Clipboard.", "Paste", "edit-paste", QStyle::SP_ArrowDown},
    {"&Add...", "Add files to the virtual disk image.", "Add", "list-add", QStyle::SP_FileDialogNewFolder},
    {"&Extract...", "Extract the selected files.", "Extract", "document-save-as", QStyle::SP_DialogSaveButton},
    {"Select all", "Select all files.", "Select all", "edit-select-all", QStyle::SP_DialogApplyButton},
    {"Invert selection", "Reverse which items are selected.", "Invert", nullptr, QStyle::SP_BrowserReload},
    {"Preferences...", "Configure Quarrybox preferences.", "Preferences", "preferences-system",
     QStyle::SP_FileDialogDetailedView},
    {"&Invisible", "Enable or disable the display of invisible files.", "Invisible", nullptr, QStyle::SP_FileIcon},
    {"S&ystem", "Enable or disable the display of system files.", "System", nullptr, QStyle::SP_FileIcon},
    {"&About quarrybox...", "Display program information.", "About", "help-about",
     QStyle::SP_MessageBoxInformation},
    {"Preview", "Preview the selected file.", nullptr, "document-preview", QStyle::SP_FileDialogContentsView},
    {"Delete", "Delete the selected files.", nullptr, "edit-delete", QStyle::SP_TrashIcon},
    {"Rename", "Rename the selected file.", nullptr, "edit-rename", QStyle::SP_FileIcon},
    {"Properties", "Display the properties of the selected file.", nullptr, "document-properties",
     QStyle::SP_FileDialogInfoView},
    {"Quarrybox &Help", "Show what Quarrybox does and the keys it answers to.", "Help", "help-contents",
     QStyle::SP_DialogHelpButton},
};

const QStringList OpenFilters = {
    "Virtual Disks (*.dsk *.jv1 *.jv3 *.dmk *.jvc *.imd *.hfe *.hdv) (*.DSK *.dsk *.DMK *.dmk *.JV1 *.jv1 *.JV3 "
    "*.jv3 *.JVC *.jvc *.IMD *.imd *.HFE *.hfe *.HDV *.hdv *.HDV1 *.hdv1 *.HDV2 *.hdv2)",
    "JV1 Floppy Images (*.jv1) (*.JV1 *.jv1)",
    "JV3 Floppy Images (*.jv3) (*.JV3 *.jv3)",
    "DMK Floppy Images (*.dmk) (*.DMK *.dmk)",
    "JVC Color Computer Images (*.jvc) (*.JVC *.jvc)",
    "IMD Floppy Archives (*.imd) (*.IMD *.imd)",
    "HFE Floppy Emulator Images (*.hfe) (*.HFE *.hfe)",
    "HDV Hard Drive Images (*.hdv) (*.HDV *.hdv *.HDV1 *.hdv1 *.HDV2 *.hdv2)",
    "All Files (*.*) (*)",
};

// The choices of the file dialog for a new image: every kind a new image can be made in.
QStringList NewFilters() {
    QStringList patterns, rows;
    for (const DiskImage::TImageTypeInfo& type : DiskImage::WritableImageTypes()) {
        if (!type.KeepsDataMarks) continue;
        const QString lower = QString("*.") + type.Extension;
        if (!patterns.contains(lower)) patterns << lower.toUpper() << lower;
        rows << QString("%1 Floppy Images (%2) (%3 %2)").arg(type.Name, lower, lower.toUpper());
    }
    return QStringList{QString("Virtual Floppy Disks (*.dsk) (%1)").arg(patterns.join(' '))} + rows +
           QStringList{"All Files (*.*) (*)"};
}

FileSystem::TransferSettings TransferSettingsOf(const TPreferences& preferences) {
    FileSystem::TransferSettings settings;
    settings.ExtractDirectory = QDir::toNativeSeparators(preferences.ExtractDirectory).toStdString();
    settings.ConversionTypeIn = preferences.ConversionTypeIn;
    settings.ConversionTypeOut = preferences.ConversionTypeOut;
    return settings;
}

}  // namespace

CMainFrame::CMainFrame(IUserPrompts& prompts, const TPreferences& preferences, QWidget* parent)
    : QMainWindow(parent), Prompts(prompts), Prefs(preferences), List(new CQuarryboxView(this)) {
    setWindowTitle("Quarrybox");
    setCentralWidget(List);
    Figures = new CStatusFigures(this);
    CreateActions();
    CreateMenus();
    CreatePreviewDock();
    CreateDiskMapDock();
    statusBar()->showMessage("Ready");
    statusBar()->addPermanentWidget(Figures);
    AccessLabel = new QLabel(this);
    statusBar()->addPermanentWidget(AccessLabel);

    connect(List, &CQuarryboxView::PreviewRequested, this, &CMainFrame::OnPreview);
    connect(List, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { OnPreview(List->FileIndexAtRow(index.row())); });
    connect(List, &CQuarryboxView::DeleteRequested, this, &CMainFrame::OnDelete);
    connect(List, &CQuarryboxView::ContextMenuRequested, this, &CMainFrame::ShowContextMenu);
    connect(List, &CQuarryboxView::DragOutRequested, this, &CMainFrame::OnDragOut);
    connect(List, &CQuarryboxView::DropQuery, this,
            [this](const QMimeData* data, bool& accept) { accept = AcceptsTransfer(data); });
    connect(List, &CQuarryboxView::DataDropped, this, &CMainFrame::DropData);
    connect(List->selectionModel(), &QItemSelectionModel::selectionChanged, this, &CMainFrame::UpdateCommands);
    connect(List->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { UpdatePreview(); });
    if (QClipboard* clipboard = QGuiApplication::clipboard()) {
        connect(clipboard, &QClipboard::dataChanged, this, &CMainFrame::UpdateCommands);
    }
    RestoreWindowState();
    UpdateCommands();
}

CMainFrame::~CMainFrame() {
    KeepWindowState();
    if (WritePreferences) WritePreferences(Prefs);
    CloseDisk();
}

void CMainFrame::RestoreWindowState() {
    const TWindowState& state = Prefs.Window;
    if (state.Geometry.isEmpty() || !restoreGeometry(state.Geometry)) {
        const QFontMetrics metrics(List->font());
        resize(metrics.horizontalAdvance(QString(80, 'X')), metrics.height() * 30);
    }
    ShowInvisibleFiles = state.ShowInvisible;
    ShowSystemFiles = state.ShowSystem;
    PreviewDockWidget->setVisible(state.ShowPreview);
    const int column = state.SortColumn < CFileListModel::ColumnCount ? state.SortColumn : 0;
    List->sortByColumn(column, state.SortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void CMainFrame::KeepWindowState() {
    TWindowState& state = Prefs.Window;
    state.Geometry = saveGeometry();
    state.ShowInvisible = ShowInvisibleFiles;
    state.ShowSystem = ShowSystemFiles;
    state.ShowPreview = !PreviewDockWidget->isHidden();
    const QHeaderView* header = List->horizontalHeader();
    state.SortColumn = header->sortIndicatorSection();
    state.SortDescending = header->sortIndicatorOrder() == Qt::DescendingOrder;
    // Only columns the user could see and size have a width worth keeping; the others
    // keep the width they were left with.
    if (header->isHidden()) return;
    while (state.ColumnWidths.size() < CFileListModel::ColumnCount) state.ColumnWidths.append(-1);
    for (int column = 0; column < CFileListModel::ColumnCount; ++column) {
        if (!List->isColumnHidden(column)) state.ColumnWidths[column] = List->columnWidth(column);
    }
}

void CMainFrame::FillRecentMenu() {
    RecentSubmenu->clear();
    Prefs.Window.RecentDisks = ExistingRecentDisks(Prefs.Window.RecentDisks);
    for (const QString& path : Prefs.Window.RecentDisks) {
        QAction* item = RecentSubmenu->addAction(QFileInfo(path).fileName());
        item->setToolTip(path);
        item->setStatusTip(path);
        connect(item, &QAction::triggered, this, [this, path] { OpenChosenDisk(path); });
    }
    if (Prefs.Window.RecentDisks.isEmpty()) RecentSubmenu->addAction("No recent disks")->setEnabled(false);
}

void CMainFrame::CreateActions() {
    for (int command = 0; command < CommandCount; ++command) {
        const CommandInfo& info = Commands[command];
        QIcon fallback = style()->standardIcon(info.FallbackIcon);
        QIcon icon = info.ThemeIcon != nullptr ? QIcon::fromTheme(info.ThemeIcon, fallback) : QIcon();
        auto* action = new QAction(icon, info.Text, this);
        action->setStatusTip(info.Prompt);
        action->setToolTip(info.ToolTip != nullptr ? info.ToolTip : QString(info.Text).remove('&').remove("..."));
        action->setIconVisibleInMenu(false);
        Actions[static_cast<size_t>(command)] = action;
    }
    Actions[CmdNew]->setShortcut(QKeySequence("Ctrl+N"));
    Actions[CmdOpen]->setShortcut(QKeySequence("Ctrl+O"));
    Actions[CmdCopy]->setShortcuts({QKeySequence("Ctrl+C"), QKeySequence("Ctrl+Insert")});
    Actions[CmdPaste]->setShortcuts({QKeySequence("Ctrl+V"), QKeySequence("Shift+Insert")});
    Actions[CmdSelectAll]->setShortcut(QKeySequence("Ctrl+A"));
    // Ctrl+Q where the desktop's key scheme has no quit key of its own (as the Windows scheme).
    QList<QKeySequence> quit = QKeySequence::keyBindings(QKeySequence::Quit);
    if (quit.isEmpty()) quit = {QKeySequence("Ctrl+Q")};
    Actions[CmdExit]->setShortcuts(quit);
    Actions[CmdHelp]->setShortcuts(QKeySequence::HelpContents);
    Actions[CmdRename]->setShortcut(QKeySequence(Qt::Key_F2));  // no standard key names renaming
    Actions[CmdInvisible]->setCheckable(true);
    Actions[CmdSystem]->setCheckable(true);
    // The list handles Enter and Delete itself; these show the keys in the menu only.
    for (QAction* action : Actions) action->setShortcutContext(Qt::WindowShortcut);

    connect(Actions[CmdNew], &QAction::triggered, this, &CMainFrame::OnNew);
    connect(Actions[CmdOpen], &QAction::triggered, this, &CMainFrame::OnOpen);
    connect(Actions[CmdClose], &QAction::triggered, this, &CMainFrame::OnClose);
    connect(Actions[CmdDiskProperties], &QAction::triggered, this, &CMainFrame::OnDiskProperties);
    connect(Actions[CmdExit], &QAction::triggered, this, &QWidget::close);
    connect(Actions[CmdCopy], &QAction::triggered, this, &CMainFrame::OnCopy);
    connect(Actions[CmdPaste], &QAction::triggered, this, &CMainFrame::OnPaste);
    connect(Actions[CmdAdd], &QAction::triggered, this, &CMainFrame::OnAdd);
    connect(Actions[CmdExtract], &QAction::triggered, this, &CMainFrame::OnExtract);
    connect(Actions[CmdSelectAll], &QAction::triggered, this, &CMainFrame::OnSelectAll);
    connect(Actions[CmdInvertSelection], &QAction::triggered, this, &CMainFrame::OnInvertSelection);
    connect(Actions[CmdPreferences], &QAction::triggered, this, &CMainFrame::OnPreferences);
    connect(Actions[CmdInvisible], &QAction::triggered, this, &CMainFrame::OnToggleInvisible);
    connect(Actions[CmdSystem], &QAction::triggered, this, &CMainFrame::OnToggleSystem);
    connect(Actions[CmdAbout], &QAction::triggered, this, &CMainFrame::OnAbout);
    connect(Actions[CmdPreview], &QAction::triggered, this, &CMainFrame::OnPreviewSelected);
    connect(Actions[CmdDelete], &QAction::triggered, this, &CMainFrame::OnDelete);
    connect(Actions[CmdRename], &QAction::triggered, this, &CMainFrame::OnRename);
    connect(Actions[CmdProperties], &QAction::triggered, this, &CMainFrame::OnFileProperties);
    connect(Actions[CmdHelp], &QAction::triggered, this, &CMainFrame::OnHelp);

    auto* escape = new QAction(this);
    escape->setShortcut(QKeySequence(Qt::Key_Escape));
    escape->setShortcutContext(Qt::WindowShortcut);
    connect(escape, &QAction::triggered, this, &CMainFrame::OnEscape);
    addAction(escape);
}

void CMainFrame::CreateMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    file->addAction(Actions[CmdNew]);
    file->addAction(Actions[CmdOpen]);
    NewWindow = file->addAction("New &Window");
    NewWindow->setShortcut(QKeySequence("Ctrl+Shift+N"));
    NewWindow->setStatusTip("Open another window, to look at a second disk beside this one.");
    NewWindow->setVisible(false);
    connect(NewWindow, &QAction::triggered, this, [this] {
        KeepWindowState();
        if (MakeWindow) MakeWindow(Prefs, QString());
    });
    RecentSubmenu = file->addMenu("Open &Recent");
    RecentSubmenu->setStatusTip("Open one of the disks opened last.");
    connect(RecentSubmenu, &QMenu::aboutToShow, this, &CMainFrame::FillRecentMenu);
    file->addAction(Actions[CmdClose]);
    file->addSeparator();
    file->addAction(Actions[CmdDiskProperties]);
    file->addSeparator();
    file->addAction(Actions[CmdExit]);

    QMenu* edit = menuBar()->addMenu("&Edit");
    edit->addAction(Actions[CmdCopy]);
    edit->addAction(Actions[CmdPaste]);
    edit->addSeparator();
    edit->addAction(Actions[CmdAdd]);
    edit->addAction(Actions[CmdExtract]);
    edit->addSeparator();
    edit->addAction(Actions[CmdSelectAll]);
    edit->addAction(Actions[CmdInvertSelection]);
    edit->addSeparator();
    edit->addAction(Actions[CmdPreferences]);

    QMenu* view = menuBar()->addMenu("&View");
    ViewMenu = view;
    view->addAction(Actions[CmdInvisible]);
    view->addAction(Actions[CmdSystem]);
    view->addSeparator();
    PartitionSubmenu = view->addMenu("&Partition...");
    PartitionSubmenu->setStatusTip("Choose the partition of the hard disk to show.");
    SetPartitionItemCount(PartitionItems);

    QMenu* tools = menuBar()->addMenu("&Tools");
    CheckAction = tools->addAction("&Check Disk…");
    CheckAction->setStatusTip("Read every sector and check the disk's tables, without changing anything.");
    connect(CheckAction, &QAction::triggered, this, &CMainFrame::OnCheckDisk);
    ExportAction = tools->addAction("&Export All…");
    ExportAction->setStatusTip("Copy every file of every partition, byte for byte, into a folder per partition.");
    connect(ExportAction, &QAction::triggered, this, &CMainFrame::OnExportAll);
    // Every container a new image can be made in, as the core lists them.
    ConvertSubmenu = tools->addMenu("Con&vert to");
    ConvertSubmenu->setStatusTip("Copy the disk into a new image of another kind, sector by sector.");
    for (const DiskImage::TImageTypeInfo& type : DiskImage::WritableImageTypes()) {
        QAction* item = ConvertSubmenu->addAction(QString("%1…").arg(type.Name));
        item->setStatusTip(type.Description);
        connect(item, &QAction::triggered, this, [this, imageType = type.Type] { OnConvert(imageType); });
    }

    QMenu* help = menuBar()->addMenu("&Help");
    help->addAction(Actions[CmdHelp]);
    help->addAction(Actions[CmdAbout]);

    QToolBar* toolbar = addToolBar("Toolbar");
    toolbar->setObjectName("MainToolbar");
    toolbar->setMovable(false);
    toolbar->addAction(Actions[CmdNew]);
    toolbar->addAction(Actions[CmdOpen]);
    toolbar->addAction(Actions[CmdDiskProperties]);
    toolbar->addSeparator();
    toolbar->addAction(Actions[CmdCopy]);
    toolbar->addAction(Actions[CmdPaste]);
    toolbar->addSeparator();
    toolbar->addAction(Actions[CmdAbout]);
    AddFilterBox(toolbar);

    ListMenu = new QMenu(this);
    ListMenu->addAction(Actions[CmdPreview]);
    ListMenu->addSeparator();
    QAction* extract = ListMenu->addAction("&Extract");
    extract->setStatusTip(Commands[CmdExtract].Prompt);
    connect(extract, &QAction::triggered, this, &CMainFrame::OnExtract);
    connect(Actions[CmdExtract], &QAction::changed, extract,
            [this, extract] { extract->setEnabled(Actions[CmdExtract]->isEnabled()); });
    ListMenu->addAction(Actions[CmdDelete]);
    ListMenu->addAction(Actions[CmdRename]);
    ListMenu->addSeparator();
    ListMenu->addAction(Actions[CmdProperties]);
    // The keys of the list's commands work without the menu open.
    addActions({Actions[CmdPreview], Actions[CmdRename], Actions[CmdProperties]});
}

bool CMainFrame::event(QEvent* event) {
    // With no menu item highlighted the status bar says "Ready".
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        statusBar()->showMessage(tip.isEmpty() ? QString("Ready") : tip);
        return true;
    }
    return QMainWindow::event(event);
}

QStringList CMainFrame::FileArguments(const QStringList& arguments) {
    QStringList files;
    for (const QString& argument : arguments) {
        if (argument.isEmpty() || argument.startsWith('-')) continue;
        files << argument;
    }
    return files;
}

void CMainFrame::AddFilterBox(QToolBar* toolbar) {
    auto* spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    FilterEdit = new QLineEdit(toolbar);
    FilterEdit->setObjectName("FilterBox");
    FilterEdit->setPlaceholderText("Filter (Ctrl+F)");
    FilterEdit->setToolTip("Show only the files whose names contain this text, or match a pattern such as *.CMD");
    FilterEdit->setClearButtonEnabled(true);
    FilterEdit->setMaximumWidth(FilterEdit->fontMetrics().horizontalAdvance(QString(24, 'X')));
    toolbar->addWidget(FilterEdit);
    connect(FilterEdit, &QLineEdit::textChanged, this, &CMainFrame::ApplyFilter);

    auto* find = new QAction("Filter", this);
    find->setShortcut(QKeySequence::Find);
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, [this] {
        // Within the preview pane the key finds in the file shown.
        if (PreviewPaneWidget->isAncestorOf(QApplication::focusWidget())) {
            PreviewPaneWidget->ViewerTools()->FocusFind();
            return;
        }
        FilterEdit->setFocus(Qt::ShortcutFocusReason);
        FilterEdit->selectAll();
    });
    addAction(find);
}

void CMainFrame::OnConvert(int imageType) {
    if (!OpenedDisk || !CanConvert(*OpenedDisk)) return;
    const DiskImage::TImageTypeInfo* type = DiskImage::FindImageType(imageType);
    if (type == nullptr) return;
    const QString title = QString("Convert to %1").arg(type->Name);
    const QString path = Prompts.AskSaveFileName(
        title, {QString("%1 images (*.%2)").arg(type->Name, type->Extension), "All files (*)"}, type->Extension);
    if (path.isEmpty()) return;
    QString done;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        done = ConvertOpenDisk(*OpenedDisk, path, imageType);
    } catch (const std::exception& refusal) {
        QApplication::restoreOverrideCursor();
        Prompts.ShowError(title, QString::fromLocal8Bit(refusal.what()));
        return;
    }
    QApplication::restoreOverrideCursor();
    statusBar()->showMessage(QString("%1: %2").arg(QFileInfo(path).fileName(), done));
}

void CMainFrame::SetWindowMaker(WindowMaker maker) {
    MakeWindow = std::move(maker);
    NewWindow->setVisible(static_cast<bool>(MakeWindow));
}

void CMainFrame::OnExportAll() {
    if (!OpenedDisk || !DiskOpen()) return;
    const QString title = "Export All";
    const QString folder = Prompts.AskFolder(title);
    if (folder.isEmpty()) return;
    ExportSummary summary;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        summary = ExportAllFiles(*OpenedDisk, folder);
    } catch (const std::exception& failure) {
        QApplication::restoreOverrideCursor();
        Prompts.ShowError(title, QString::fromLocal8Bit(failure.what()));
        return;
    }
    QApplication::restoreOverrideCursor();
    const QString done = QString("%1 files from %2 partition%3 written to %4")
                             .arg(summary.Written)
                             .arg(summary.Partitions)
                             .arg(summary.Partitions == 1 ? "" : "s")
                             .arg(QDir::toNativeSeparators(folder));
    statusBar()->showMessage(done);
    if (!summary.Problems.isEmpty()) Prompts.ShowError(title, done + ".\n\n" + summary.Problems.join('\n'));
}

void CMainFrame::CreatePreviewDock() {
    PreviewPaneWidget = new CPreviewPane;
    PreviewDockWidget = new QDockWidget("Preview", this);
    PreviewDockWidget->setObjectName("PreviewDock");
    PreviewDockWidget->setWidget(PreviewPaneWidget);
    PreviewDockWidget->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    addDockWidget(Qt::RightDockWidgetArea, PreviewDockWidget);
    PreviewDockWidget->hide();
    QAction* toggle = PreviewDockWidget->toggleViewAction();
    toggle->setText("Preview &Pane");
    toggle->setShortcut(QKeySequence(Qt::Key_F9));
    toggle->setStatusTip("Show the selected file beside the list.");
    ViewMenu->insertAction(ViewMenu->actions().value(2), toggle);
    // Opened, it shows the selection at once (the dock's own handler has run by now).
    connect(toggle, &QAction::triggered, this, [this] { UpdatePreview(); });
}

void CMainFrame::CreateDiskMapDock() {
    DiskMapWidget = new CDiskMapDock(this);
    addDockWidget(Qt::RightDockWidgetArea, DiskMapWidget);
    DiskMapWidget->hide();
    ViewMenu->insertAction(ViewMenu->actions().value(3), DiskMapWidget->toggleViewAction());
    connect(List->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { DiskMapWidget->SetHighlighted(List->SelectedFileIndices()); });
    connect(DiskMapWidget->View(), &CDiskMapView::FileClicked, this,
            [this](int file) { SelectFileOfPartition(OpenedDisk ? OpenedDisk->CurrentPartition : 0, file); });
}

void CMainFrame::UpdatePreview(bool again) {
    if (PreviewDockWidget->isHidden()) return;
    TFileSystem* fs = CurrentFileSystem();
    const std::vector<int> selected = List->SelectedFileIndices();
    if (fs == nullptr || selected.size() != 1) {
        PreviewPaneWidget->Clear();
        return;
    }
    if (!again && PreviewPaneWidget->FileIndex() == selected.front()) return;
    PreviewPaneWidget->ShowFile(*fs, selected.front());
}

void CMainFrame::ApplyFilter() {
    TFileSystem* fs = CurrentFileSystem();
    List->SortModel()->SetShownFileIndices(fs != nullptr ? FilesMatching(*fs, *List->FileModel(), FilterEdit->text())
                                                         : std::nullopt);
    UpdateCommands();
}

void CMainFrame::Start(const QStringList& arguments) {
    const QStringList files = FileArguments(arguments);
    if (files.size() == 1) OpenDisk(files.front());
}

TFileSystem* CMainFrame::CurrentFileSystem() const { return OpenedDisk ? OpenedDisk->Current() : nullptr; }

bool CMainFrame::OpenDisk(const QString& path) {
    // The open image holds the writer's lock on its file: opening the same file again
    // must take its place, or the new one could only be read.
    if (TFileSystem* fs = CurrentFileSystem()) {
        const QString open = QFileInfo(QString::fromLocal8Bit(fs->GetImageFileName())).canonicalFilePath();
        if (!open.isEmpty() && open == QFileInfo(path).canonicalFilePath()) CloseDisk();
    }
    auto disk = std::make_unique<MountedDisk>();
    try {
        disk->Open(QFile::encodeName(path).toStdString());
        if (disk->Current() == nullptr) throw TFileSystem::EInvalidFormat();
    } catch (const std::exception& error) {
        // The disk that was open stays open: a mistaken choice of file loses nothing.
        disk.reset();
        Prompts.ShowError("Error Opening Virtual Disk", OpenFailureText(error));
        return false;
    }
    AttachDisk(std::move(disk));
    Prefs.Window.RecentDisks = WithRecentDisk(Prefs.Window.RecentDisks, QFileInfo(path).absoluteFilePath());
    ReportDamagedDirectory();
    RunDateCheck();
    return true;
}

void CMainFrame::ReportDamagedDirectory() {
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr || fs->GetDirectoryProblems().empty()) return;
    QString text = "This disk is damaged: sectors of its directory could not be read cleanly, so files may be "
                   "missing from the list or read wrongly. The disk will not be changed.\n";
    for (const FileSystem::TSectorProblem& problem : fs->GetDirectoryProblems())
        text += "\n" + ToQ(FileSystem::DescribeSectorProblem(problem));
    Prompts.ShowError("Damaged Disk", text);
}

void CMainFrame::AttachDisk(std::unique_ptr<MountedDisk> disk) {
    CloseDisk();
    OpenedDisk = std::move(disk);
    FilterEdit->clear();
    List->Clear();
    List->ShowForDisk(Prefs.Window.ColumnWidths);
    Refresh();
    UpdateTitle();
    UpdateCommands();
}

void CMainFrame::CloseDisk() {
    if (OpenedDisk) {
        try {
            OpenedDisk->Close();
        } catch (const std::exception&) {
            // Closing must always leave no disk open.
        }
        OpenedDisk.reset();
    }
    // The findings belong to the disk that was checked.
    delete FindingsWindow;
    List->ShowNoDisk();
    PreviewPaneWidget->Clear();
    DiskMapWidget->ShowFileSystem(nullptr);
    UpdateTitle();
    UpdateCommands();
}

void CMainFrame::UpdateTitle() {
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr) {
        setWindowTitle("Quarrybox");
        return;
    }
    QString title = "Quarrybox - " + QString::fromLocal8Bit(fs->GetImageFileName()) + " - (" +
                    ToQ(fs->GetDOSName(false));
    if (fs->SupportsDiskName()) title += " - " + ToQ(fs->GetDiskName());
    title += ")";
    if (!WriteRefusal().isEmpty()) title += " [read-only]";
    setWindowTitle(title);
}

QString CMainFrame::WriteRefusal() const {
    TFileSystem* fs = CurrentFileSystem();
    return fs != nullptr ? ToQ(FileSystem::WriteRefusal(*fs)) : QString();
}

void CMainFrame::UpdateAccessIndicator() {
    // Why a disk cannot be changed is there to see before any command would be refused:
    // in a word on the status bar, in full in its tooltip.
    const QString refusal = WriteRefusal();
    QString word;
    if (TFileSystem* fs = CurrentFileSystem(); fs != nullptr && !refusal.isEmpty()) {
        const int protect = fs->GetImage() != nullptr ? fs->GetImage()->GetWriteProtect() : 0;
        if (!fs->SupportsWriting() || protect == 2) word = "Read-only";
        else if (protect == 1) word = "Write protected";
        else word = "Damaged, read-only";
    }
    AccessLabel->setText(word);
    AccessLabel->setToolTip(refusal);
    AccessLabel->setVisible(!refusal.isEmpty());
}

void CMainFrame::UpdateStatusFigures() {
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr) {
        Figures->ShowNoDisk();
        return;
    }
    Figures->Show(StatusFiguresOf(*fs, *List->SortModel(), List->SelectedFileIndices()));
}

void CMainFrame::UpdateCommands() {
    TFileSystem* fs = CurrentFileSystem();
    const bool open = fs != nullptr;
    // Commands that would change a disk that cannot be changed are not offered at all.
    const bool writable = open && WriteRefusal().isEmpty();
    const size_t selected = open ? List->SelectedFileIndices().size() : 0;
    Actions[CmdClose]->setEnabled(open);
    if (CheckAction != nullptr) CheckAction->setEnabled(open);
    if (ExportAction != nullptr) ExportAction->setEnabled(open);
    if (ConvertSubmenu != nullptr) ConvertSubmenu->setEnabled(OpenedDisk != nullptr && CanConvert(*OpenedDisk));
    Actions[CmdDiskProperties]->setEnabled(open);
    Actions[CmdCopy]->setEnabled(selected > 0);
    Actions[CmdPaste]->setEnabled(writable && ClipboardOffersFiles());
    Actions[CmdAdd]->setEnabled(writable);
    Actions[CmdExtract]->setEnabled(open);
    Actions[CmdSelectAll]->setEnabled(open);
    Actions[CmdInvertSelection]->setEnabled(open);
    Actions[CmdInvisible]->setEnabled(open && fs->SupportsAttribute(FileSystem::AttrInvisible));
    Actions[CmdSystem]->setEnabled(open && fs->SupportsAttribute(FileSystem::AttrSystem));
    Actions[CmdInvisible]->setChecked(ShowInvisibleFiles);
    Actions[CmdSystem]->setChecked(ShowSystemFiles);
    Actions[CmdPreview]->setEnabled(selected == 1);
    Actions[CmdDelete]->setEnabled(writable && selected > 0);
    Actions[CmdRename]->setEnabled(writable && selected == 1);
    Actions[CmdProperties]->setEnabled(selected == 1);
    UpdateAccessIndicator();
    UpdateStatusFigures();

    const int partitions = open ? static_cast<int>(OpenedDisk->FileSystems.size()) : 0;
    PartitionSubmenu->setEnabled(partitions > 1);
    SetPartitionItemCount(std::max(partitions, static_cast<int>(PartitionItems)));
    for (int partition = 0; partition < PartitionItemCount(); ++partition) {
        QAction* item = PartitionActions[static_cast<size_t>(partition)];
        QString text = QString::number(partition);
        if (partition < partitions) {
            TFileSystem& shown = *OpenedDisk->FileSystems[static_cast<size_t>(partition)];
            if (shown.SupportsDiskName() && !shown.GetDiskName().empty())
                text += "  " + ToQ(shown.GetDiskName()).replace('&', "&&");
        }
        item->setText(text);
        item->setEnabled(partitions > 1 && (partition < 2 || partitions > partition));
        item->setCheckable(true);
        item->setChecked(open && OpenedDisk->CurrentPartition == partition);
    }
}

void CMainFrame::SetPartitionItemCount(int count) {
    while (PartitionItemCount() < count) {
        const int partition = PartitionItemCount();
        QAction* item = PartitionSubmenu->addAction(QString::number(partition));
        item->setStatusTip(QString("Show partition %1.").arg(partition));
        connect(item, &QAction::triggered, this, [this, partition] { OnPartition(partition); });
        PartitionActions.push_back(item);
    }
    while (PartitionItemCount() > count) {
        QAction* item = PartitionActions.back();
        PartitionActions.pop_back();
        PartitionSubmenu->removeAction(item);
        item->deleteLater();
    }
}

void CMainFrame::Refresh() {
    TFileSystem* fs = CurrentFileSystem();
    const std::vector<int> selected = List->SelectedFileIndices();
    List->Clear();
    if (fs == nullptr) return;
    int flags = 0;
    if (ShowInvisibleFiles) flags |= FileSystem::ListInvisible;
    if (ShowSystemFiles) flags |= FileSystem::ListSystem;
    std::vector<int> fileIndices;
    try {
        fileIndices = FileSystem::ListAllFiles(*fs, flags);
    } catch (const std::exception&) {
        UpdateCommands();
        return;
    }
    List->Fill(*fs, fileIndices);
    ApplyFilter();
    List->SelectFileIndices(selected);
    UpdateCommands();
    UpdatePreview(true);
    DiskMapWidget->ShowFileSystem(fs);
}

void CMainFrame::RunDateCheck() {
    if (Prefs.LDOSDateCheckDisabled || !OpenedDisk || !OpenedDisk->Image) return;
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr || OpenedDisk->Image->GetWriteProtect() != 0) return;
    if (!fs->OffersDatePatches()) return;
    DatePatchOffer state;
    try {
        state = Patcher->GetState(*fs);
    } catch (const std::exception&) {
        return;
    }
    if (!state.Offer || state.Variant == FileSystem::DatePatchNoDos) return;
    const QString dos = state.Variant == FileSystem::DatePatchLSDOS631 ? "LS-DOS" : "LDOS";
    QString caption;
    QString text;
    if (state.Kind != 0) {
        caption = "Update " + dos + " 2012 Date Patches";
        text = "This " + dos +
               " disk doesn't contain the most recent date patches. Would you like to update the date patches?";
    } else {
        caption = "Apply " + dos + " 2012 Date Patches";
        text = "This " + dos + " disk won't accept dates past 2011. Would you like to apply the 2012 date patches?";
    }
    if (!Prompts.AskYesNo(caption, text)) return;
    try {
        if (!Patcher->Apply(*fs, state.Variant, state.Kind)) {
            Prompts.ShowError(caption, "The date patches could not be applied; the disk was not changed.");
        }
    } catch (const std::exception& error) {
        Prompts.ShowError(caption, QString::fromLocal8Bit(error.what()));
    }
    CommitChange();
    Refresh();
}

bool CMainFrame::CommitChange() {
    if (!OpenedDisk) return false;
    try {
        OpenedDisk->Flush();
        return true;
    } catch (const std::exception& error) {
        // The disk keeps what it held after the last command that saved; closing it undoes the rest.
        Prompts.ShowError("File Write Error",
                          "The changes could not be saved to the disk image: " + QString::fromLocal8Bit(error.what()));
        return false;
    }
}

bool CMainFrame::CheckWritePermission() {
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr) return false;
    const QString refusal = ToQ(FileSystem::WriteRefusal(*fs));
    if (refusal.isEmpty()) return true;
    Prompts.ShowError("File Write Error", refusal);
    return false;
}

void CMainFrame::OnNew() {
    const std::optional<NewFloppySettings> settings = Prompts.AskNewFloppy();
    if (!settings) return;
    // The suffix names the container chosen (JV1 images are named .dsk by custom).
    const DiskImage::TImageTypeInfo* type = DiskImage::FindImageType(settings->ImageType);
    const QString path = Prompts.AskSaveFileName("New", NewFilters(), type ? type->Extension : "dmk");
    if (path.isEmpty()) return;
    auto disk = std::make_unique<MountedDisk>();
    try {
        disk->CreateNew(QFile::encodeName(path).toStdString(), settings->ImageType, settings->Tracks,
                        settings->DOSType, settings->Sides, settings->DoubleDensity,
                        FromQ(settings->VolumeName), FromQ(settings->VolumeDate));
        if (disk->Current() == nullptr) throw TFileSystem::EInvalidFormat();
        disk->Flush();  // the new image takes its name whole, or not at all
    } catch (const std::exception& error) {
        disk.reset();
        Prompts.ShowError("Disk Image Creation Error", QString::fromLocal8Bit(error.what()));
        UpdateTitle();
        return;
    }
    AttachDisk(std::move(disk));
}

void CMainFrame::OnOpen() {
    const QString path = Prompts.AskOpenFileName("Open", OpenFilters);
    if (path.isEmpty()) return;
    OpenChosenDisk(path);
}

void CMainFrame::OpenChosenDisk(const QString& path) {
    const TFileSystem* fs = CurrentFileSystem();
    const bool sameDisk = fs != nullptr && QFileInfo(QString::fromLocal8Bit(fs->GetImageFileName())).canonicalFilePath() ==
                                               QFileInfo(path).canonicalFilePath();
    if (fs == nullptr || !MakeWindow || sameDisk) {
        OpenDisk(path);
        return;
    }
    switch (Prompts.AskWhereToOpen(QFileInfo(path).fileName())) {
        case SecondDiskAnswer::NewWindow:
            KeepWindowState();
            MakeWindow(Prefs, path);
            break;
        case SecondDiskAnswer::Replace: OpenDisk(path); break;
        case SecondDiskAnswer::Cancel: break;
    }
}

void CMainFrame::OnClose() { CloseDisk(); }

void CMainFrame::OnDiskProperties() {
    if (!OpenedDisk || CurrentFileSystem() == nullptr) return;
    if (const std::optional<DiskPropertyChanges> changes = Prompts.ShowDiskProperties(*OpenedDisk)) {
        ApplyDiskProperties(*OpenedDisk, *changes, Prompts, [this] { return CommitChange(); });
    }
    UpdateTitle();
    UpdateCommands();
}

void CMainFrame::OnSelectAll() {
    if (DiskOpen()) List->selectAll();
}

void CMainFrame::OnInvertSelection() {
    if (DiskOpen()) List->InvertSelection();
}

void CMainFrame::OnPreferences() { Prompts.EditPreferences(Prefs); }

void CMainFrame::OnToggleInvisible() {
    ShowInvisibleFiles = !ShowInvisibleFiles;
    Refresh();
}

void CMainFrame::OnToggleSystem() {
    ShowSystemFiles = !ShowSystemFiles;
    Refresh();
}

void CMainFrame::OnPartition(int partition) {
    if (!OpenedDisk) return;
    if (partition >= 0 && partition < static_cast<int>(OpenedDisk->FileSystems.size())) {
        OpenedDisk->CurrentPartition = partition;
    }
    List->clearSelection();
    Refresh();
    UpdateTitle();
}

CCheckFindingsDialog* CMainFrame::CheckFindings() const { return FindingsWindow.data(); }

void CMainFrame::OnCheckDisk() {
    if (!DiskOpen()) return;
    const std::vector<FileSystem::TCheckSection> sections = RunDiskCheck(this, *OpenedDisk);
    delete FindingsWindow;
    FindingsWindow = new CCheckFindingsDialog(*OpenedDisk, sections, this);
    FindingsWindow->setAttribute(Qt::WA_DeleteOnClose);
    connect(FindingsWindow, &CCheckFindingsDialog::FileChosen, this, &CMainFrame::SelectFileOfPartition);
    FindingsWindow->show();
}

void CMainFrame::SelectFileOfPartition(int partition, int fileIndex) {
    if (!OpenedDisk) return;
    if (partition != OpenedDisk->CurrentPartition) OnPartition(partition);
    List->SelectFileIndices({fileIndex});
    const std::vector<int> selected = List->SelectedFileIndices();
    if (!selected.empty()) List->scrollTo(List->selectionModel()->selectedRows().value(0));
}

void CMainFrame::OnAbout() { Prompts.ShowAbout(); }

void CMainFrame::OnPreview(int fileIndex) {
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr || fileIndex < 0) return;
    Prompts.ShowViewer(*fs, fileIndex, Prefs.FontType);
}

void CMainFrame::OnPreviewSelected() {
    const std::vector<int> selected = List->SelectedFileIndices();
    if (selected.size() == 1) OnPreview(selected.front());
}

void CMainFrame::OnDelete() {
    if (!CheckWritePermission()) return;
    TFileSystem* fs = CurrentFileSystem();
    const std::vector<int> selected = List->SelectedFileIndices();
    if (selected.empty()) return;
    QString question = QString("Are you sure you want to delete these %1 files?").arg(selected.size());
    if (selected.size() == 1) {
        QString name;
        try {
            name = ToQ(fs->GetFullFileName(selected.front()));
        } catch (const TFileSystem::Exception&) {
            // A file without a readable name is still asked about.
        }
        question = name.isEmpty() ? QString("Are you sure you want to delete this file?")
                                  : "Are you sure you want to delete the file '" + name + "'?";
    }
    if (!Prompts.AskYesNo("Confirm File Delete", question)) return;
    for (int fileIndex : selected) {
        try {
            if (!fs->DeleteFile(fileIndex))
                Prompts.ShowError("Delete error", "Error deleting file: its directory records are damaged");
        } catch (const TFileSystem::Exception& error) {
            Prompts.ShowError("Delete error", "Error deleting file: " + QString::fromLocal8Bit(error.what()));
        }
    }
    CommitChange();
    Refresh();
}

void CMainFrame::OnRename() {
    if (!CheckWritePermission()) return;
    TFileSystem* fs = CurrentFileSystem();
    // A name the file system refuses is caught in the dialog, which says the rule and stays open.
    const NameProblem problemOf = [fs](const QString& name) {
        if (fs->IsValidFilename(FromQ(name))) return QString();
        return ErrorText(*fs, TFileSystem::EInvalidFilename());
    };
    for (int fileIndex : List->SelectedFileIndices()) {
        try {
            const QString oldName = ToQ(fs->GetDisplayName(fileIndex));
            const std::optional<QString> newName = Prompts.AskRename(oldName, problemOf);
            if (!newName) break;
            if (*newName != oldName && !fs->RenameFile(fileIndex, FromQ(*newName)))
                Prompts.ShowError("Rename error", "Error renaming file: its directory records are damaged");
        } catch (const TFileSystem::Exception& error) {
            Prompts.ShowError("Rename error", "Error renaming file: " + ErrorText(*fs, error));
        }
    }
    CommitChange();
    Refresh();
}

void CMainFrame::OnFileProperties() {
    TFileSystem* fs = CurrentFileSystem();
    const std::vector<int> selected = List->SelectedFileIndices();
    if (fs == nullptr || selected.size() != 1) return;
    if (!Prompts.ShowFileProperties(*fs, selected.front())) return;
    CommitChange();
    Refresh();
}

void CMainFrame::OnEscape() {
    // Esc first takes back a filter; only then may it close the window.
    if (!FilterEdit->text().isEmpty()) {
        FilterEdit->clear();
        List->setFocus();
        return;
    }
    if (Prefs.ExitUponESC) close();
}

void CMainFrame::OnHelp() { Prompts.ShowHelp(); }

void CMainFrame::ShowContextMenu(const QPoint& globalPosition) {
    if (!DiskOpen()) return;
    UpdateCommands();
    ListMenu->popup(globalPosition);
}

void CMainFrame::OnAdd() {
    if (!CheckWritePermission()) return;
    const QStringList paths = Prompts.AskOpenFileNames("Select files to add", {"All Files (*.*) (*)"});
    if (paths.isEmpty()) return;
    for (const QString& path : paths) {
        try {
            AddHostFile(path);
        } catch (const std::exception& error) {
            Prompts.ShowError("Adding error", "Error adding file: " + QString::fromLocal8Bit(error.what()));
        }
    }
    CommitChange();
    Refresh();
}

void CMainFrame::AddHostFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile()) return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QDateTime modified = info.lastModified();
    if (!modified.isValid()) return;
    FileDate date;
    if (!date.SetFromTime(static_cast<std::time_t>(modified.toSecsSinceEpoch()))) return;
    const qint64 size = file.size();
    const QByteArray contents = file.readAll();
    if (contents.size() < size) return;
    std::vector<uint8_t> bytes(contents.begin(), contents.end());
    StoreFile(info.fileName(), bytes, date);
}

bool CMainFrame::StoreFile(const QString& name, const std::vector<uint8_t>& bytes, const FileDate& date,
                           const TransferAttributes& attributes) {
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr) return false;
    const qint64 size = static_cast<qint64>(bytes.size());
    QString storedName = name;
    try {
        const std::vector<uint8_t> converted =
            bytes.empty() ? bytes : FileSystem::ConvertToTRS80(*fs, bytes, Prefs.ConversionTypeIn);
        const QString rule = ToQ(fs->GetFilenameRule());
        while (!fs->IsValidFilename(FromQ(storedName))) {
            const std::optional<QString> entered = Prompts.AskValidName(storedName, rule);
            if (!entered) return false;
            storedName = *entered;
        }
        const std::string diskName = FromQ(storedName);
        const int existing = fs->FindFile(diskName);
        if (existing >= 0 && !Prompts.AskReplace(*fs, existing, storedName, size, date)) return false;
        // The core keeps a replaced file when the new one cannot be stored.
        const int stored = FileSystem::StoreFile(*fs, diskName, converted, bytes.size(), date, existing >= 0);
        if (stored >= 0) ApplyAttributes(*fs, stored, attributes);
        return true;
    } catch (const FileSystem::ENotEnoughSpace& error) {
        Prompts.ShowError("Not Enough Space", QString::fromLocal8Bit(error.what()) + "\n\n" +
                                                  QString("%1 needs %2; the disk has %3 free.")
                                                      .arg(storedName, FormatBytes(static_cast<qint64>(error.Needed)),
                                                           FormatBytes(error.FreeSpace)));
    } catch (const TFileSystem::Exception& error) {
        Prompts.ShowError("File Storing Error", "Error storing file: " + QString::fromLocal8Bit(error.what()));
    }
    return false;
}

void CMainFrame::OnExtract() {
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr) return;
    const std::vector<int> selected = List->SelectedFileIndices();
    QString directory = Prefs.ExtractDirectory;
    const std::optional<bool> allFiles = Prompts.AskExtract(static_cast<int>(selected.size()), directory);
    if (!allFiles) return;
    Prefs.ExtractDirectory = directory;
    // Each file of the disk has a host name of its own, so no file overwrites another.
    std::map<int, std::string> hostNames;
    try {
        hostNames = FileSystem::HostNamesOfDisk(*fs);
    } catch (const TFileSystem::Exception&) {
        // A directory that cannot be listed whole: each file goes under its plain name.
    }
    OverwriteRule rule = OverwriteRule::Ask;
    QString damage;
    for (int fileIndex : *allFiles ? List->AllFileIndices() : selected) {
        const auto known = hostNames.find(fileIndex);
        if (!ExtractOne(fileIndex, rule, known != hostNames.end() ? known->second : std::string(), &damage)) break;
    }
    if (!damage.isEmpty())
        Prompts.ShowError("File Extraction Error", "Some files could not be read whole:\n" + damage);
}

bool CMainFrame::ExtractOne(int fileIndex, OverwriteRule& rule, const std::string& hostName, QString* damage) {
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr) return false;
    const FileSystem::TransferSettings settings = TransferSettingsOf(Prefs);
    FileSystem::TFileRead read;
    try {
        const std::string name = hostName.empty() ? FileSystem::ExtractedFileName(*fs, fileIndex) : hostName;
        try {
            FileSystem::ExtractFileAs(*fs, fileIndex, name, rule == OverwriteRule::Always, settings, &read);
        } catch (const TFileSystem::EFileExists&) {
            if (rule == OverwriteRule::Never) return true;
            const QString shownName = QFile::decodeName(name.c_str());
            const OverwriteAnswer answer = Prompts.AskOverwrite(
                "Confirm File Overwrite", "The file '" + shownName + "' exists in " +
                                              QDir::toNativeSeparators(Prefs.ExtractDirectory) +
                                              "; are you sure you want to overwrite it?");
            if (answer == OverwriteAnswer::Cancel) return false;
            if (answer == OverwriteAnswer::NoToAll) rule = OverwriteRule::Never;
            if (answer == OverwriteAnswer::YesToAll) rule = OverwriteRule::Always;
            if (answer == OverwriteAnswer::No || answer == OverwriteAnswer::NoToAll) return true;
            FileSystem::ExtractFileAs(*fs, fileIndex, name, true, settings, &read);
        }
    } catch (const TFileSystem::Exception& error) {
        Prompts.ShowError("File Extraction Error", "Error extracting file: " + QString::fromLocal8Bit(error.what()));
        return true;
    }
    if (damage != nullptr && !read.IsWhole()) {
        const QString fileName = ToQ(fs->GetFullFileName(fileIndex));
        *damage += "\n" + fileName + ": " + ToQ(FileSystem::DescribeShortRead(read));
        for (const FileSystem::TSectorProblem& problem : read.Problems)
            *damage += "\n" + fileName + ": " + ToQ(FileSystem::DescribeSectorProblem(problem));
    }
    return true;
}

// Clipboard and drag-and-drop.

QMimeData* CMainFrame::BuildTransferData(const std::vector<int>& fileIndices) {
    TFileSystem* fs = CurrentFileSystem();
    if (fs == nullptr) return nullptr;
    return App::BuildTransferData(*fs, fileIndices, Prefs.ConversionTypeOut, Staging);
}

bool CMainFrame::AcceptsTransfer(const QMimeData* data) const {
    if (data == nullptr || data == List->DraggedData()) return false;
    // A window without a disk takes a dropped host file to open it; another window's
    // files are no disk to open.
    if (!DiskOpen()) {
        return !data->hasFormat(FileGroupMimeType) && data->hasUrls() && !data->urls().isEmpty() &&
               data->urls().front().isLocalFile();
    }
    if (data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (url.isLocalFile()) return true;
        }
    }
    return data->hasFormat(FileGroupMimeType);
}

void CMainFrame::ReceiveTransfer(const QMimeData* data) {
    if (data == nullptr || !DiskOpen()) return;
    // Another window of the program offers its own group too: it carries the disk's
    // dates and attributes, which the copies in host files would lose.
    const std::optional<std::vector<TransferFile>> group =
        data->hasFormat(FileGroupMimeType) ? DecodeFileGroup(data->data(FileGroupMimeType)) : std::nullopt;
    if (group) {
        for (const TransferFile& file : *group) {
            FileDate date;
            if (file.LastWriteUtc.isValid()) date = FileDateFromDateTime(file.LastWriteUtc);
            StoreFile(file.Name, std::vector<uint8_t>(file.Contents.begin(), file.Contents.end()), date,
                      file.Attributes);
            Refresh();
        }
    } else if (data->hasUrls()) {
        for (const QUrl& url : data->urls()) {
            if (!url.isLocalFile()) continue;
            try {
                AddHostFile(url.toLocalFile());
            } catch (const std::exception& error) {
                Prompts.ShowError("Adding error", "Error adding file: " + QString::fromLocal8Bit(error.what()));
            }
        }
    }
    CommitChange();
    Refresh();
}

void CMainFrame::DropData(const QMimeData* data) {
    if (data == nullptr) return;
    if (!DiskOpen()) {
        // Nothing to add to: the dropped file is opened, and says why when it is no disk.
        const QList<QUrl> urls = data->hasUrls() ? data->urls() : QList<QUrl>();
        if (!urls.isEmpty() && urls.front().isLocalFile()) OpenDisk(urls.front().toLocalFile());
        return;
    }
    const QString image = DroppedDiskImage(data);
    if (!image.isEmpty()) {
        const DroppedImageAnswer answer = Prompts.AskOpenOrAdd(QFileInfo(image).fileName());
        // Dropped on this window, it opens here: the question just asked was the one choice.
        if (answer == DroppedImageAnswer::Open) OpenDisk(image);
        if (answer != DroppedImageAnswer::AddAsFile) return;
    }
    if (!CheckWritePermission()) return;
    ReceiveTransfer(data);
}

QString CMainFrame::DroppedDiskImage(const QMimeData* data) const {
    if (!data->hasUrls() || data->hasFormat(FileGroupMimeType)) return {};
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile() || !QFileInfo(url.toLocalFile()).isFile()) continue;
        // Judged by what the file holds, as opening it would judge it; nothing is written.
        MountedDisk probe;
        try {
            probe.Open(QFile::encodeName(url.toLocalFile()).toStdString(), true);
            if (probe.Current() != nullptr) return url.toLocalFile();
        } catch (const std::exception&) {
            // Not a disk image: a file to add.
        }
    }
    return {};
}


bool CMainFrame::ClipboardOffersFiles() const {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    const QMimeData* data = clipboard != nullptr ? clipboard->mimeData() : nullptr;
    if (data == nullptr) return false;
    return data->hasUrls() || data->hasFormat(FileGroupMimeType);
}

void CMainFrame::OnCopy() {
    const std::vector<int> selected = List->SelectedFileIndices();
    if (selected.empty()) return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    if (QMimeData* data = BuildTransferData(selected)) clipboard->setMimeData(data);
}

void CMainFrame::OnPaste() {
    if (!CheckWritePermission()) return;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (data == nullptr) return;
    ReceiveTransfer(data);
}

void CMainFrame::OnDragOut() {
    const std::vector<int> selected = List->SelectedFileIndices();
    if (selected.empty()) return;
    if (QMimeData* data = BuildTransferData(selected)) List->RunDrag(data);
}

}  // namespace App
