#include "Preferences.h"

#include <QFileInfo>
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

// A list of texts: the per-user file gives back a list of one as plain text.
QStringList ReadTexts(QSettings& settings, const char* name) {
    const QVariant value = settings.value(name);
    if (value.typeId() == QMetaType::QStringList) return value.toStringList();
    if (value.typeId() == QMetaType::QString && !value.toString().isEmpty()) return {value.toString()};
    return {};
}

// A width must be one a window could show; anything else is measured afresh.
QList<int> ReadWidths(QSettings& settings, const char* name) {
    QList<int> widths;
    for (const QString& text : ReadTexts(settings, name).join(',').split(',', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int width = text.trimmed().toInt(&ok);
        widths.append(ok && width > 0 && width <= 10000 ? width : -1);
        if (widths.size() == 16) break;
    }
    return widths;
}

TWindowState LoadWindowState(QSettings& settings) {
    TWindowState state;
    settings.beginGroup("Window");
    const QVariant geometry = settings.value("Geometry");
    if (geometry.typeId() == QMetaType::QByteArray) state.Geometry = geometry.toByteArray();
    state.ColumnWidths = ReadWidths(settings, "ColumnWidths");
    if (const std::optional<int> column = ReadInteger(settings, "SortColumn"); column && *column >= 0 && *column < 16)
        state.SortColumn = *column;
    ReadFlag(settings, "SortDescending", state.SortDescending);
    ReadFlag(settings, "ShowInvisible", state.ShowInvisible);
    ReadFlag(settings, "ShowSystem", state.ShowSystem);
    ReadFlag(settings, "ShowPreview", state.ShowPreview);
    for (const QString& path : ReadTexts(settings, "RecentDisks")) {
        const bool fits = state.RecentDisks.size() < TWindowState::RecentDiskLimit;
        if (fits && !path.isEmpty() && !state.RecentDisks.contains(path)) state.RecentDisks << path;
    }
    settings.endGroup();
    return state;
}

void SaveWindowState(QSettings& settings, const TWindowState& state) {
    settings.beginGroup("Window");
    if (!state.Geometry.isEmpty()) settings.setValue("Geometry", state.Geometry);
    QStringList widths;
    for (int width : state.ColumnWidths) widths << QString::number(width);
    settings.setValue("ColumnWidths", widths.join(','));
    settings.setValue("SortColumn", state.SortColumn);
    settings.setValue("SortDescending", state.SortDescending ? 1 : 0);
    settings.setValue("ShowInvisible", state.ShowInvisible ? 1 : 0);
    settings.setValue("ShowSystem", state.ShowSystem ? 1 : 0);
    settings.setValue("ShowPreview", state.ShowPreview ? 1 : 0);
    settings.setValue("RecentDisks", state.RecentDisks);
    settings.endGroup();
}

}  // namespace

QStringList WithRecentDisk(const QStringList& recent, const QString& path) {
    QStringList result{path};
    for (const QString& other : recent) {
        if (other != path && result.size() < TWindowState::RecentDiskLimit) result << other;
    }
    return result;
}

QStringList ExistingRecentDisks(const QStringList& recent) {
    QStringList existing;
    for (const QString& path : recent) {
        if (QFileInfo(path).isFile()) existing << path;
    }
    return existing;
}

TPreferences TPreferences::Load(QSettings& settings) {
    TPreferences preferences;
    const QVariant directory = settings.value("ExtractDirectory");
    if (directory.typeId() == QMetaType::QString) preferences.ExtractDirectory = directory.toString();
    ReadChoice(settings, "ConversionTypeIn", {0, 1, 2}, preferences.ConversionTypeIn);
    ReadChoice(settings, "ConversionTypeOut", {0, 1, 2}, preferences.ConversionTypeOut);
    ReadChoice(settings, "FontType", {0, 1}, preferences.FontType);
    ReadFlag(settings, "LDOSDateCheck", preferences.LDOSDateCheckDisabled);
    ReadFlag(settings, "ExitUponESC", preferences.ExitUponESC);
    preferences.Window = LoadWindowState(settings);
    return preferences;
}

void TPreferences::Save(QSettings& settings) const {
    if (!ExtractDirectory.isEmpty()) settings.setValue("ExtractDirectory", ExtractDirectory);
    settings.setValue("ConversionTypeIn", ConversionTypeIn);
    settings.setValue("ConversionTypeOut", ConversionTypeOut);
    settings.setValue("FontType", FontType);
    settings.setValue("LDOSDateCheck", LDOSDateCheckDisabled ? 1 : 0);
    settings.setValue("ExitUponESC", ExitUponESC ? 1 : 0);
    SaveWindowState(settings, Window);
    settings.sync();
}

}  // namespace App
