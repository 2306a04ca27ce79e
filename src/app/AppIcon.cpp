#include "AppIcon.h"

#include <QPainter>
#include <QPixmap>

namespace App {
namespace {

// The same floppy-and-listing picture as the installed scalable icon.
QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor("#2f3b4c"));
    painter.drawRoundedRect(QRectF(4, 4, 56, 56), 4, 4);
    painter.setBrush(QColor("#c9d1d9"));
    painter.drawRect(QRectF(14, 4, 36, 20));
    painter.setBrush(QColor("#2f3b4c"));
    painter.drawRect(QRectF(38, 8, 8, 12));
    painter.setBrush(QColor("#f5f1e6"));
    painter.drawRoundedRect(QRectF(10, 32, 44, 26), 2, 2);
    painter.setBrush(QColor("#2f3b4c"));
    painter.drawRect(QRectF(14, 37, 28, 3));
    painter.drawRect(QRectF(14, 43, 34, 3));
    painter.drawRect(QRectF(14, 49, 22, 3));
    painter.setBrush(QColor("#e0a030"));
    painter.drawEllipse(QPointF(52, 12), 3, 3);
    return pixmap;
}

}  // namespace

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(DrawIcon(size));
    return QIcon::fromTheme("quarrybox", icon);
}

}  // namespace App
