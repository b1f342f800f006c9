#include "purge/dibujos.h"

#include <QPainter>
#include <QPainterPath>

namespace {
QPixmap lienzo() {
    QPixmap p(32, 32);
    p.fill(Qt::transparent);
    return p;
}
} // namespace

QPixmap DibujarEmbudo() {
    QPixmap p = lienzo();
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing, false);
    g.fillRect(2, 2, 28, 3, QColor(0, 0, 128));
    g.fillRect(2, 27, 28, 3, QColor(0, 0, 128));
    QPainterPath embudo;
    embudo.moveTo(4, 7);
    embudo.lineTo(28, 7);
    embudo.lineTo(18, 17);
    embudo.lineTo(18, 25);
    embudo.lineTo(14, 25);
    embudo.lineTo(14, 17);
    embudo.closeSubpath();
    g.fillPath(embudo, QColor(255, 0, 0));
    g.setClipPath(embudo);
    g.setPen(QPen(QColor(128, 0, 0), 1));
    for (int y = 9; y < 26; y += 3)
        g.drawLine(0, y, 32, y);
    g.setClipping(false);
    g.setPen(QColor(0, 0, 0));
    g.drawPath(embudo);
    return p;
}

QPixmap DibujarBolsa() {
    QPixmap p = lienzo();
    QPainter g(&p);
    // Rubbish sticking out of the top.
    g.setPen(Qt::NoPen);
    g.setBrush(QColor(0, 128, 0));
    g.drawEllipse(QRect(8, 2, 7, 6));
    g.setBrush(QColor(255, 255, 0));
    g.drawRect(15, 1, 5, 7);
    g.setBrush(QColor(192, 192, 192));
    g.drawEllipse(QRect(19, 3, 6, 5));
    // The paper bag.
    QPainterPath bolsa;
    bolsa.moveTo(7, 8);
    bolsa.lineTo(25, 8);
    bolsa.lineTo(27, 30);
    bolsa.lineTo(5, 30);
    bolsa.closeSubpath();
    g.setBrush(QColor(205, 170, 110));
    g.setPen(QColor(128, 96, 48));
    g.drawPath(bolsa);
    g.drawLine(7, 11, 25, 11);
    g.drawLine(16, 12, 16, 29);
    return p;
}

QPixmap DibujarTacho() {
    QPixmap p = lienzo();
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing, true);
    // An open bin: the opening as an ellipse, a tapered body with ribs.
    QPainterPath cuerpo;
    cuerpo.moveTo(4, 14);
    cuerpo.lineTo(28, 14);
    cuerpo.lineTo(25, 31);
    cuerpo.lineTo(7, 31);
    cuerpo.closeSubpath();
    g.setBrush(QColor(128, 128, 128));
    g.setPen(QColor(64, 64, 64));
    g.drawPath(cuerpo);
    g.setPen(QColor(96, 96, 96));
    for (int x = 10; x <= 22; x += 4)
        g.drawLine(x, 16, x - (x - 16) / 6, 30);
    g.setBrush(QColor(48, 48, 48));
    g.setPen(QColor(64, 64, 64));
    g.drawEllipse(QRectF(4, 11, 24, 6));
    return p;
}
