#include "app/app_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace {

constexpr int kButtonSize = 16;

QPixmap Blank(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A sheet of paper with a folded corner, as the new and save pictures start from.
void DrawSheet(QPainter& p) {
    QPolygonF sheet;
    sheet << QPointF(3.5, 1.5) << QPointF(9.5, 1.5) << QPointF(12.5, 4.5) << QPointF(12.5, 14.5)
          << QPointF(3.5, 14.5);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(Qt::white);
    p.drawPolygon(sheet);
    p.drawPolyline(QPolygonF() << QPointF(9.5, 1.5) << QPointF(9.5, 4.5) << QPointF(12.5, 4.5));
}

}  // namespace

QPixmap AppIconPixmap(int size) {
    QPixmap pixmap = Blank(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    // A rounded plate, a gauge arc with its needle, and a small tag below.
    p.setPen(QPen(QColor(20, 60, 110), 1.5));
    p.setBrush(QColor(40, 110, 190));
    p.drawRoundedRect(QRectF(1.5, 1.5, 29, 29), 5, 5);
    p.setPen(QPen(Qt::white, 2.5, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 6, 20, 20), 30 * 16, 120 * 16);
    p.drawLine(QPointF(16, 16), QPointF(22, 9));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 200, 60));
    QPainterPath tag;
    tag.moveTo(8, 20);
    tag.lineTo(21, 20);
    tag.lineTo(25, 23.5);
    tag.lineTo(21, 27);
    tag.lineTo(8, 27);
    tag.closeSubpath();
    p.drawPath(tag);
    return pixmap;
}

QIcon AppIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 64}) {
        icon.addPixmap(AppIconPixmap(size));
    }
    return icon;
}

QIcon NewFileIcon() {
    QPixmap pixmap = Blank(kButtonSize);
    QPainter p(&pixmap);
    DrawSheet(p);
    return QIcon(pixmap);
}

QIcon OpenFileIcon() {
    QPixmap pixmap = Blank(kButtonSize);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(110, 80, 10), 1));
    p.setBrush(QColor(240, 200, 80));
    p.drawPolygon(QPolygonF() << QPointF(0.5, 3.5) << QPointF(5.5, 3.5) << QPointF(7.5, 5.5)
                              << QPointF(13.5, 5.5) << QPointF(13.5, 13.5) << QPointF(0.5, 13.5));
    p.setBrush(QColor(255, 225, 120));
    p.drawPolygon(QPolygonF() << QPointF(3.5, 8.5) << QPointF(15.5, 8.5) << QPointF(13.5, 13.5)
                              << QPointF(0.5, 13.5));
    return QIcon(pixmap);
}

QIcon SaveFileIcon() {
    QPixmap pixmap = Blank(kButtonSize);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(30, 30, 70), 1));
    p.setBrush(QColor(70, 90, 170));
    p.drawRect(QRectF(1.5, 1.5, 13, 13));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 1.5, 9, 5));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(4.5, 9.5, 7, 5));
    return QIcon(pixmap);
}

QIcon AboutIcon() {
    QPixmap pixmap = Blank(kButtonSize);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 60, 140), 1));
    p.setBrush(QColor(60, 120, 220));
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(7, 3.5, 2.2, 2.2));
    p.drawRect(QRectF(7, 7, 2.2, 6));
    return QIcon(pixmap);
}
