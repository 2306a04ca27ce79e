// The six preferences of the program, read once at start-up and written
// once when the main window goes away.
#pragma once

#include <QString>

class QSettings;

namespace App {

struct TPreferences {
    QString ExtractDirectory;
    int ConversionTypeIn = 1;   // 0 none, 1 CR/LF to CR
    int ConversionTypeOut = 1;  // 0 none, 1 CR to CR/LF, 2 CR to LF
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
