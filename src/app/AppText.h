// Small conversions between core values and what the windows show:
// strings, locale-grouped sizes and file dates.
#pragma once

#include <QDateTime>
#include <QString>
#include <string>

#include "filesystem/FileSystem.h"

namespace App {

inline QString ToQ(const std::string& text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }
inline std::string FromQ(const QString& text) { return text.toLatin1().toStdString(); }

// A whole number with the user's locale grouping.
QString FormatSize(qint64 size);
// "1 byte", "1,234 bytes".
QString FormatBytes(qint64 size);
// Empty without a date; the short date, then a blank and the short time when there is a time.
// A date that keeps only the month and year shows as those.
QString FormatFileDate(const FileSystem::FileDate& date);
// The date as a local date-time, invalid when the record has no usable date.
QDateTime FileDateToDateTime(const FileSystem::FileDate& date);
// The current local time as a date record with date and time.
FileSystem::FileDate FileDateFromDateTime(const QDateTime& time);

// A file-system error for the user; a refused name comes with the file system's naming rule.
QString ErrorText(FileSystem::TFileSystem& fs, const std::exception& error);
// Why an image could not be opened: the error's message, and for an image that is not
// recognised, whether its container or its DOS was not.
QString OpenFailureText(const std::exception& error);

}  // namespace App
