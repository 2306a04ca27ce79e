#include "AppText.h"

#include <QLocale>
#include <QRegularExpression>

#include "diskimage/DiskImage.h"
#include "filesystem/MountedDisk.h"

namespace App {
namespace {

// The user's short time format with any seconds field removed.
QString TimeFormatWithoutSeconds() {
    QString format = QLocale().timeFormat(QLocale::ShortFormat);
    format.remove(QRegularExpression("[:.,]?\\s*s+"));
    return format;
}

}  // namespace

QString FormatSize(qint64 size) { return QLocale().toString(size); }

QString FormatBytes(qint64 size) { return FormatSize(size) + (size == 1 ? " byte" : " bytes"); }

QDateTime FileDateToDateTime(const FileSystem::FileDate& date) {
    if (!date.HasDate) return {};
    const QDate day(date.Year, date.Month, date.Day);
    if (!day.isValid()) return {};
    QTime time(0, 0);
    if (date.HasTime) {
        const QTime stored(date.Hour, date.Minute, date.Second);
        if (stored.isValid()) time = stored;
    }
    return QDateTime(day, time);
}

QString FormatFileDate(const FileSystem::FileDate& date) {
    if (!date.HasDate) return {};
    const QLocale locale;
    const QDate day(date.Year, date.Month, date.Day);
    // A damaged record may hold an impossible date: show its numbers rather than nothing.
    if (!date.HasDay && day.isValid()) return locale.toString(day, "MMM yyyy");
    QString text = day.isValid() ? locale.toString(day, QLocale::ShortFormat)
                                 : QString("%1/%2/%3").arg(date.Month).arg(date.Day).arg(date.Year);
    if (date.HasTime) {
        const QTime time(date.Hour, date.Minute);
        text += ' ';
        text += time.isValid() ? locale.toString(time, TimeFormatWithoutSeconds())
                               : QString("%1:%2").arg(date.Hour).arg(date.Minute, 2, 10, QChar('0'));
    }
    return text;
}

FileSystem::FileDate FileDateFromDateTime(const QDateTime& time) {
    FileSystem::FileDate date;
    if (!time.isValid()) return date;
    const QDateTime local = time.toLocalTime();
    date.HasDate = true;
    date.HasTime = true;
    date.Year = local.date().year();
    date.Month = local.date().month();
    date.Day = local.date().day();
    date.Hour = local.time().hour();
    date.Minute = local.time().minute();
    date.Second = local.time().second();
    return date;
}

QString ErrorText(FileSystem::TFileSystem& fs, const std::exception& error) {
    QString text = QString::fromLocal8Bit(error.what());
    if (dynamic_cast<const FileSystem::TFileSystem::EInvalidFilename*>(&error) == nullptr) return text;
    const QString rule = ToQ(fs.GetFilenameRule());
    return rule.isEmpty() ? text : text + ". " + rule + ".";
}

QString OpenFailureText(const std::exception& error) {
    const QString text = QString::fromLocal8Bit(error.what());
    if (const auto* dos = dynamic_cast<const FileSystem::EUnrecognizedFileSystem*>(&error)) {
        return text + ": the file is a " + ToQ(dos->ImageFormat) +
               " image, but no disk operating system that Quarrybox knows was found on it (or its directory is "
               "damaged).";
    }
    if (dynamic_cast<const DiskImage::TDiskImage::EInvalidFormat*>(&error) != nullptr) {
        return text + ": the file is not a JV1, JV3, DMK, HDV or memory-card image (or it is cut short or "
                      "damaged).";
    }
    return text;
}

}  // namespace App
