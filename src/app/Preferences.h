// The six preferences of the program, read once at start-up and written
// once when the main window goes away.
#pragma once

#include <QString>

class QSettings;

namespace App {

struct TPreferences {
    QString ExtractDirectory;
    // Text lines end in LF on this host, in CR on the TRS-80: the defaults convert between them.
    int ConversionTypeIn = 2;   // 0 none, 1 CR/LF to CR, 2 LF to CR
    int ConversionTypeOut = 2;  // 0 none, 1 CR to CR/LF, 2 CR to LF
    int FontType = 0;           // 0 monospaced, 1 proportional
    bool LDOSDateCheck = false; // true: the check is disabled
    bool ExitUponESC = false;

    // Takes each value only when it is present with the right type and, for
    // the choices, one of the listed values; anything else keeps the default.
    static TPreferences Load(QSettings& settings);
    void Save(QSettings& settings) const;
};

// The per-user store of this program.
constexpr const char* SettingsOrganisation = "Brisbyn";
constexpr const char* SettingsApplication = "Quarrybox";

}  // namespace App
