#include "artwork.h"

#include <QPalette>
#include <QWidget>

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <array>
#include <cmath>

namespace airmesh {
inline namespace ui {
namespace artwork {

namespace {

constexpr int kLampCount = 3;
constexpr int kLampRadius = 10;
constexpr int kLampSpacing = 24;
constexpr int kHousingWidth = 32;

struct LampColours {
    QColor lit;
    QColor dark;
};

const std::array<LampColours, kLampCount>& lampColours() {
    static const std::array<LampColours, kLampCount> colours{{
        {QColor(255, 45, 30), QColor(95, 25, 22)},
        {QColor(255, 200, 0), QColor(95, 78, 14)},
        {QColor(45, 225, 70), QColor(18, 78, 30)},
    }};
    return colours;
}

void drawHousing(QPainter& p) {
    const int centreX = kTrafficLightSize.width() / 2;
    const QRectF housing(centreX - kHousingWidth / 2.0, 2, kHousingWidth, kTrafficLightSize.height() - 4);

    // The side flaps beside each lamp, behind the body.
    p.setPen(QPen(QColor(20, 20, 20), 1));
    p.setBrush(QColor(55, 58, 62));
    for (int lamp = 0; lamp < kLampCount; ++lamp) {
        const QPoint c = lampCentre(lamp);
        const qreal top = c.y() - kLampRadius + 1;
        const qreal bottom = c.y() + kLampRadius - 3;
        for (const int side : {-1, 1}) {
            const qreal edge = centreX + side * kHousingWidth / 2.0;
            const QPolygonF flap{QPointF(edge, top), QPointF(edge + side * 11, top + 3),
                                 QPointF(edge + side * 6, bottom), QPointF(edge, bottom)};
            p.drawPolygon(flap);
        }
    }

    QLinearGradient body(housing.topLeft(), housing.topRight());
    body.setColorAt(0.0, QColor(70, 74, 80));
    body.setColorAt(0.45, QColor(45, 48, 52));
    body.setColorAt(1.0, QColor(28, 30, 33));
    p.setPen(QPen(QColor(15, 15, 15), 1.2));
    p.setBrush(body);
    p.drawRoundedRect(housing, 7, 7);
}

void drawLamp(QPainter& p, int lamp, bool lit) {
    const QPointF c = lampCentre(lamp);
    const LampColours& colours = lampColours()[static_cast<size_t>(lamp)];

    // A black ring around each lens, as the hood's shadow.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(10, 10, 10));
    p.drawEllipse(c, kLampRadius + 1.5, kLampRadius + 1.5);

    QRadialGradient lens(c - QPointF(3, 3), kLampRadius * 1.4);
    if (lit) {
        lens.setColorAt(0.0, colours.lit.lighter(170));
        lens.setColorAt(0.35, colours.lit);
        lens.setColorAt(1.0, colours.lit.darker(140));
    } else {
        lens.setColorAt(0.0, colours.dark.lighter(130));
        lens.setColorAt(1.0, colours.dark.darker(150));
    }
    p.setBrush(lens);
    p.drawEllipse(c, kLampRadius, kLampRadius);

    // A glint on the glass.
    p.setBrush(QColor(255, 255, 255, lit ? 150 : 45));
    p.drawEllipse(c + QPointF(-3.5, -4), 2.6, 1.8);
}

} // namespace

QPoint lampCentre(int lamp) {
    const int middle = kTrafficLightSize.height() / 2;
    return {kTrafficLightSize.width() / 2, middle + (lamp - 1) * kLampSpacing};
}

QPixmap trafficLight(int litLamp) {
    QImage image(kTrafficLightSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawHousing(p);
    for (int lamp = 0; lamp < kLampCount; ++lamp) {
        drawLamp(p, lamp, lamp == litLamp);
    }
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap decorativeStrip(QSize size) {
    if (size.isEmpty()) {
        return {};
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const qreal w = size.width();
    const qreal h = size.height();
    // The band's centre line runs from the bottom-left corner to the top-right corner.
    const QPointF from(0, h);
    const QPointF to(w, 0);
    const QPointF along = to - from;
    const qreal length = std::hypot(along.x(), along.y());
    const QPointF dir = along / length;
    const QPointF normal(-dir.y(), dir.x());
    const qreal halfWidth = std::min(w, h) * 0.2;

    auto band = [&](qreal offset, qreal half) {
        const QPointF shift = normal * offset;
        const QPointF spread = normal * half;
        // Run past both ends so the band leaves the picture at its edges.
        const QPointF a = from - dir * halfWidth * 2 + shift;
        const QPointF b = to + dir * halfWidth * 2 + shift;
        return QPolygonF{a - spread, b - spread, b + spread, a + spread};
    };

    // A thin pale stripe on either side of the main band.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(170, 200, 235));
    p.drawPolygon(band(halfWidth * 1.55, halfWidth * 0.22));
    p.drawPolygon(band(-halfWidth * 1.55, halfWidth * 0.22));

    QLinearGradient fill(from, to);
    fill.setColorAt(0.0, QColor(12, 40, 110));
    fill.setColorAt(1.0, QColor(60, 140, 225));
    p.setBrush(fill);
    p.drawPolygon(band(0, halfWidth));

    // Arrows along the band, pointing up it.
    p.setBrush(Qt::white);
    const qreal arrowLength = halfWidth * 0.9;
    const qreal arrowSpread = halfWidth * 0.7;
    const qreal shaftHalf = halfWidth * 0.14;
    for (const qreal t : {0.2, 0.45, 0.7, 0.95}) {
        const QPointF at = from + along * t;
        const QPointF shaftFront = at - dir * arrowLength * 0.3;
        const QPointF shaftBack = at - dir * arrowLength * 1.9;
        p.drawPolygon(QPolygonF{shaftFront + normal * shaftHalf, shaftBack + normal * shaftHalf,
                                shaftBack - normal * shaftHalf, shaftFront - normal * shaftHalf});
        const QPolygonF head{at + dir * arrowLength, at - dir * arrowLength * 0.6 + normal * arrowSpread,
                             at - dir * arrowLength * 0.1, at - dir * arrowLength * 0.6 - normal * arrowSpread};
        p.drawPolygon(head);
    }
    p.end();
    return QPixmap::fromImage(image);
}

void fixedWhiteDialog(QWidget* window, QSize clientSize) {
    window->setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                           Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    window->setFixedSize(clientSize);
    QPalette white = window->palette();
    white.setColor(QPalette::Window, Qt::white);
    window->setPalette(white);
    window->setAutoFillBackground(true);
}

} // namespace artwork
} // namespace ui
} // namespace airmesh
