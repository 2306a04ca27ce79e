#include "AppText.h"

#include <QLocale>
#include <QRegularExpression>

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

}  // namespace App
