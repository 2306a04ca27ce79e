// The preferences of the program and the state of its window, read once at
// start-up and written once when the main window goes away.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QSettings;

namespace App {

// How the user left the window: its place and size, the list's columns and
// order, the View choices, and the disks opened last.
struct TWindowState {
    QByteArray Geometry;      // empty: the default size
    QList<int> ColumnWidths;  // one a column, -1 (or missing): measured from the column's template
    int SortColumn = 0;
    bool SortDescending = false;
    bool ShowInvisible = false;
    bool ShowSystem = false;
    bool ShowPreview = false;  // View > Preview Pane
    QStringList RecentDisks;  // most recent first, at most RecentDiskLimit
    static constexpr int RecentDiskLimit = 10;
};

// The recent disks with path in front, each path once, at most the limit long.
QStringList WithRecentDisk(const QStringList& recent, const QString& path);
// The recent disks whose files still exist.
QStringList ExistingRecentDisks(const QStringList& recent);

struct TPreferences {
    QString ExtractDirectory;
    // Text lines end in LF on this host, in CR on the TRS-80: the defaults convert between them.
    int ConversionTypeIn = 2;   // 0 none, 1 CR/LF to CR, 2 LF to CR
    int ConversionTypeOut = 2;  // 0 none, 1 CR to CR/LF, 2 CR to LF
    int FontType = 0;           // 0 monospaced, 1 proportional
    bool LDOSDateCheckDisabled = false;  // stored as LDOSDateCheck
    bool ExitUponESC = false;
    TWindowState Window;

    // Takes each value only when it is present with the right type and, for
    // the choices, one of the listed values; anything else keeps the default.
    static TPreferences Load(QSettings& settings);
    void Save(QSettings& settings) const;
};

// The per-user store of this program.
constexpr const char* SettingsOrganisation = "Brisbyn";
constexpr const char* SettingsApplication = "Quarrybox";

}  // namespace App
