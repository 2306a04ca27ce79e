#include "Preferences.h"

#include <QSettings>
#include <QVariant>
#include <cstdint>
#include <initializer_list>
#include <optional>

namespace App {
namespace {

// A 32-bit integer value. The per-user file on this host keeps every value as
// text, so a number arrives either typed or as text that is wholly a decimal
// number; anything else (words, lists, sizes out of range) is the wrong type.
std::optional<int> ReadInteger(QSettings& settings, const char* name) {
    const QVariant value = settings.value(name);
    bool ok = false;
    qlonglong number = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        number = value.toLongLong(&ok);
        break;
    case QMetaType::QString:
        number = value.toString().trimmed().toLongLong(&ok, 10);
        break;
    default:
        return std::nullopt;
    }
    if (!ok || number < INT32_MIN || number > INT32_MAX) return std::nullopt;
    return static_cast<int>(number);
}

void ReadChoice(QSettings& settings, const char* name, std::initializer_list<int> allowed, int& target) {
    const std::optional<int> value = ReadInteger(settings, name);
    if (!value) return;
    for (int choice : allowed) {
        if (*value == choice) target = choice;
    }
}

void ReadFlag(QSettings& settings, const char* name, bool& target) {
    if (const std::optional<int> value = ReadInteger(settings, name)) target = *value != 0;
}

}  // namespace

TPreferences TPreferences::Load(QSettings& settings) {
    TPreferences preferences;
    const QVariant directory = settings.value("ExtractDirectory");
    if (directory.typeId() == QMetaType::QString) preferences.ExtractDirectory = directory.toString();
    ReadChoice(settings, "ConversionTypeIn", {0, 1, 2}, preferences.ConversionTypeIn);
    ReadChoice(settings, "ConversionTypeOut", {0, 1, 2}, preferences.ConversionTypeOut);
    ReadChoice(settings, "FontType", {0, 1}, preferences.FontType);
    ReadFlag(settings, "LDOSDateCheck", preferences.LDOSDateCheck);
    ReadFlag(settings, "ExitUponESC", preferences.ExitUponESC);
    return preferences;
}

void TPreferences::Save(QSettings& settings) const {
    if (!ExtractDirectory.isEmpty()) settings.setValue("ExtractDirectory", ExtractDirectory);
    settings.setValue("ConversionTypeIn", ConversionTypeIn);
    settings.setValue("ConversionTypeOut", ConversionTypeOut);
    settings.setValue("FontType", FontType);
    settings.setValue("LDOSDateCheck", LDOSDateCheck ? 1 : 0);
    settings.setValue("ExitUponESC", ExitUponESC ? 1 : 0);
    settings.sync();
}

}  // namespace App
