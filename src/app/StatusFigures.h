// The figures the status bar keeps about the open disk: the files listed and
// selected with their sizes, the free space and the DOS.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

namespace FileSystem {
class TFileSystem;
}

class QLabel;

namespace App {

class CFileSortProxy;

struct TStatusFigures {
    int Shown = 0;
    qint64 ShownBytes = 0;
    int Selected = 0;
    qint64 SelectedBytes = 0;
    qint64 FreeBytes = -1;  // -1: the free space could not be read
    QString DOS;
};

// The figures of the files the list shows (the rows the filter keeps), the selected
// ones among them, and the file system they come from.
TStatusFigures StatusFiguresOf(FileSystem::TFileSystem& fs, const CFileSortProxy& shown,
                               const std::vector<int>& selectedFileIndices);

// "12 files, 40.25K" with nothing selected, "3 of 12 files selected, 4.50K" otherwise.
QString FilesText(const TStatusFigures& figures);
// "123.00K free", empty when the free space is not known.
QString FreeText(const TStatusFigures& figures);

// The permanent part of the status bar that shows the figures; empty without a disk.
class CStatusFigures : public QWidget {
    Q_OBJECT
public:
    explicit CStatusFigures(QWidget* parent = nullptr);

    void Show(const TStatusFigures& figures);
    void ShowNoDisk();

    QString FilesShown() const;
    QString FreeShown() const;
    QString DOSShown() const;

private:
    QLabel* Files;
    QLabel* Free;
    QLabel* DOS;
};

}  // namespace App
