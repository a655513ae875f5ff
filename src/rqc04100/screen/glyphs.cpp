#include "screen/glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <stdexcept>

namespace rqc04100 {

namespace {

void drawMagnifier(QPainter& p, const QColor& lens, const QColor& handle, QPointF centre,
                   qreal radius) {
    p.setPen(QPen(lens, 1.6));
    p.setBrush(QColor(220, 235, 255));
    p.drawEllipse(centre, radius, radius);
    p.setPen(QPen(handle, 2.4, Qt::SolidLine, Qt::RoundCap));
    const qreal d = radius * 0.72;
    p.drawLine(centre + QPointF(d, d), centre + QPointF(d + 4.2, d + 4.2));
}

QPixmap drawPesquisa(bool enabled) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawMagnifier(p, enabled ? QColor(30, 60, 140) : QColor(150, 150, 150),
                  enabled ? QColor(120, 70, 20) : QColor(160, 160, 160), QPointF(6.5, 6.5), 4.5);
    return pm;
}

QPixmap drawLista(bool enabled) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor line = enabled ? QColor(40, 40, 40) : QColor(160, 160, 160);
    p.setPen(QPen(line, 1.2));
    for (int y : {3, 6, 9})
        p.drawLine(QPointF(1.5, y + 0.5), QPointF(8.5, y + 0.5));
    drawMagnifier(p, enabled ? QColor(30, 60, 140) : QColor(150, 150, 150),
                  enabled ? QColor(120, 70, 20) : QColor(160, 160, 160), QPointF(10, 9.5), 3.5);
    return pm;
}

QPixmap drawConfirma(bool enabled) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath tick;
    tick.moveTo(2, 8.5);
    tick.lineTo(6, 12.5);
    tick.lineTo(14, 3.5);
    p.setPen(QPen(enabled ? QColor(20, 130, 40) : QColor(160, 160, 160), 2.6, Qt::SolidLine,
                  Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(tick);
    return pm;
}

// An eye: look at the result before it is written.
QPixmap drawSimula(bool enabled) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath eye;
    eye.moveTo(1, 8);
    eye.quadTo(8, 1, 15, 8);
    eye.quadTo(8, 15, 1, 8);
    p.setPen(QPen(enabled ? QColor(30, 60, 140) : QColor(160, 160, 160), 1.4));
    p.setBrush(enabled ? QColor(255, 255, 255) : QColor(235, 235, 235));
    p.drawPath(eye);
    p.setPen(Qt::NoPen);
    p.setBrush(enabled ? QColor(30, 110, 60) : QColor(170, 170, 170));
    p.drawEllipse(QPointF(8, 8), 2.8, 2.8);
    return pm;
}

}  // namespace

QIcon glyph(const QString& name) {
    QPixmap (*draw)(bool) = nullptr;
    if (name == QLatin1String("pesquisa")) {
        draw = drawPesquisa;
    } else if (name == QLatin1String("lista")) {
        draw = drawLista;
    } else if (name == QLatin1String("confirma")) {
        draw = drawConfirma;
    } else if (name == QLatin1String("simula")) {
        draw = drawSimula;
    } else {
        throw std::invalid_argument("unknown glyph \"" + name.toStdString() + "\"");
    }
    QIcon icon;
    icon.addPixmap(draw(true), QIcon::Normal);
    icon.addPixmap(draw(false), QIcon::Disabled);
    return icon;
}

}  // namespace rqc04100
