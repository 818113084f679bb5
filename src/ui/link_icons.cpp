#include "ui/link_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>

namespace tarnvelox::ui {

namespace {

constexpr int kSize = 16;

// A page with a folded corner: the common shape of the five link icons.
void draw_page(QPainter& p, const QColor& fill) {
    QPainterPath page;
    page.moveTo(3, 1.5);
    page.lineTo(10, 1.5);
    page.lineTo(13.5, 5);
    page.lineTo(13.5, 14.5);
    page.lineTo(3, 14.5);
    page.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(fill);
    p.drawPath(page);
    p.drawLine(QPointF(10, 1.5), QPointF(10, 5));
    p.drawLine(QPointF(10, 5), QPointF(13.5, 5));
}

QPixmap draw(int index) {
    QPixmap pix(kSize, kSize);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    switch (index) {
        case 0: {  // address: an envelope
            p.setPen(QPen(QColor(40, 70, 140), 1));
            p.setBrush(QColor(250, 240, 200));
            p.drawRect(QRectF(1.5, 3.5, 13, 9));
            p.drawLine(QPointF(1.5, 3.5), QPointF(8, 9));
            p.drawLine(QPointF(14.5, 3.5), QPointF(8, 9));
            break;
        }
        case 1:  // not yet fetched: a blank page
            draw_page(p, Qt::white);
            break;
        case 2: {  // visited: a page with a green tick
            draw_page(p, QColor(225, 245, 225));
            p.setPen(QPen(QColor(20, 140, 40), 2));
            p.drawPolyline(QPolygonF({QPointF(5, 9), QPointF(7.5, 11.5), QPointF(12, 6)}));
            break;
        }
        case 3: {  // bad: a page with a red cross
            draw_page(p, QColor(250, 225, 225));
            p.setPen(QPen(QColor(200, 30, 30), 2));
            p.drawLine(QPointF(5.5, 7), QPointF(11, 12.5));
            p.drawLine(QPointF(11, 7), QPointF(5.5, 12.5));
            break;
        }
        case 4: {  // timed out: a clock
            p.setPen(QPen(QColor(170, 100, 0), 1.5));
            p.setBrush(QColor(255, 240, 200));
            p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            p.drawLine(QPointF(8, 8), QPointF(8, 4));
            p.drawLine(QPointF(8, 8), QPointF(11, 9.5));
            break;
        }
        case 5: {  // moved: a page with a blue arrow
            draw_page(p, QColor(225, 235, 250));
            p.setPen(QPen(QColor(30, 80, 200), 1.8));
            p.drawLine(QPointF(5, 9.5), QPointF(11.5, 9.5));
            p.drawPolyline(QPolygonF({QPointF(9, 7), QPointF(11.5, 9.5), QPointF(9, 12)}));
            break;
        }
        default:
            break;
    }
    return pix;
}

}  // namespace

const QIcon& row_icon(int index) {
    static const std::array<QIcon, kRowIcons> icons = [] {
        std::array<QIcon, kRowIcons> all;
        for (int i = 0; i < kRowIcons; ++i) all[static_cast<std::size_t>(i)] = QIcon(draw(i));
        return all;
    }();
    static const QIcon none;
    if (index < 0 || index >= kRowIcons) return none;
    return icons[static_cast<std::size_t>(index)];
}

QIcon program_icon() {
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pix(size, size);
        pix.fill(Qt::transparent);
        QPainter p(&pix);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 64.0, size / 64.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x1d, 0x4f, 0x91));
        p.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);
        p.setPen(QPen(QColor(0x0f, 0x2c, 0x52), 2));
        p.setBrush(QColor(0xfd, 0xf3, 0xc8));
        p.drawRoundedRect(QRectF(12, 18, 40, 28), 3, 3);
        p.setPen(QPen(QColor(0x0f, 0x2c, 0x52), 2.5));
        p.drawPolyline(QPolygonF({QPointF(12, 20), QPointF(32, 34), QPointF(52, 20)}));
        p.setPen(QPen(Qt::white, 2));
        p.setBrush(QColor(0x2e, 0x9e, 0x44));
        p.drawEllipse(QPointF(48, 44), 9, 9);
        p.setPen(QPen(Qt::white, 2.5));
        p.drawPolyline(QPolygonF({QPointF(44, 44), QPointF(47, 47), QPointF(52, 41)}));
        p.end();
        icon.addPixmap(pix);
    }
    return icon;
}

}  // namespace tarnvelox::ui
