#include "app/pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

const QColor kDeep(22, 45, 92);
const QColor kSky(64, 132, 196);
const QColor kGold(244, 186, 64);

// A record seen from above: dark disc, grooves, a coloured label.
void DrawDisc(QPainter& p, QPointF centre, qreal radius) {
    QRadialGradient shade(centre, radius, centre - QPointF(radius / 3, radius / 3));
    shade.setColorAt(0, QColor(70, 70, 78));
    shade.setColorAt(1, QColor(12, 12, 16));
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawEllipse(centre, radius, radius);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 28), 1));
    for (qreal r = radius * 0.45; r < radius * 0.95; r += radius * 0.09) p.drawEllipse(centre, r, r);
    p.setPen(Qt::NoPen);
    p.setBrush(kGold);
    p.drawEllipse(centre, radius * 0.32, radius * 0.32);
    p.setBrush(QColor(20, 20, 24));
    p.drawEllipse(centre, radius * 0.06, radius * 0.06);
}

// A pair of joined eighth notes.
void DrawNotes(QPainter& p, QPointF at, qreal size, const QColor& colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const qreal head = size * 0.22;
    const QPointF left = at + QPointF(0, size);
    const QPointF right = at + QPointF(size * 0.7, size * 0.85);
    p.save();
    for (QPointF c : {left, right}) {
        p.save();
        p.translate(c);
        p.rotate(-20);
        p.drawEllipse(QPointF(0, 0), head, head * 0.72);
        p.restore();
    }
    p.restore();
    const qreal stem = size * 0.05;
    p.drawRect(QRectF(left.x() + head * 0.8, at.y() + size * 0.1, stem, size * 0.9));
    p.drawRect(QRectF(right.x() + head * 0.8, at.y() - size * 0.05, stem, size * 0.9));
    QPainterPath beam;
    beam.moveTo(left.x() + head * 0.8, at.y() + size * 0.1);
    beam.lineTo(right.x() + head * 0.8 + stem, at.y() - size * 0.05);
    beam.lineTo(right.x() + head * 0.8 + stem, at.y() + size * 0.12);
    beam.lineTo(left.x() + head * 0.8, at.y() + size * 0.27);
    beam.closeSubpath();
    p.drawPath(beam);
}

}  // namespace

QPixmap BannerPicture() {
    QPixmap pix(150, 95);
    pix.fill(Qt::white);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 150, 95);
    sky.setColorAt(0, kSky);
    sky.setColorAt(1, kDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRoundedRect(QRectF(2, 2, 146, 91), 8, 8);
    DrawDisc(p, QPointF(104, 47), 38);
    DrawNotes(p, QPointF(16, 22), 40, QColor(255, 255, 255, 230));
    return pix;
}

QPixmap AboutPicture(int width, int height) {
    QPixmap pix(width, height);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, kSky);
    sky.setColorAt(1, kDeep);
    p.fillRect(pix.rect(), sky);
    const qreal radius = width * 0.42;
    DrawDisc(p, QPointF(width / 2.0, height * 0.62), radius);
    DrawNotes(p, QPointF(width * 0.22, height * 0.12), width * 0.45, QColor(255, 255, 255, 235));
    return pix;
}

QPixmap PointerPicture() {
    QPixmap pix(20, 20);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath arrow;
    arrow.moveTo(3, 4);
    arrow.lineTo(17, 10);
    arrow.lineTo(3, 16);
    arrow.lineTo(6, 10);
    arrow.closeSubpath();
    p.setPen(QPen(kDeep, 1));
    p.setBrush(kSky);
    p.drawPath(arrow);
    return pix;
}
