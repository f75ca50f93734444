#include "trafficscope.h"

#include <QEvent>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace airmesh {
inline namespace ui {

namespace {

constexpr double kFlightLevelFromFt = 18000;
constexpr double kFitMargin = 1.1;         // auto leaves this much room beyond the farthest shown pilot
constexpr double kDefaultAutoNm = 20;      // auto with nobody to fit
constexpr double kPickPx = 11;             // a click this near a symbol picks it
constexpr double kMinutesAhead = 1.0 / 60; // hours: the line ahead shows one minute
// More pilots changed than this in one refresh: the scope is painted whole, which costs less
// than a region of that many pieces.
constexpr std::size_t kMaxDirtyPieces = 256;

double radians(double deg) {
    return deg * std::numbers::pi / 180.0;
}

QString ringText(double nm) {
    return QStringLiteral("%1 nm").arg(nm, 0, 'g', 4);
}

// The rings for a range: four, or fewer where the range does not divide well.
std::vector<double> ringsFor(double rangeNm) {
    return {rangeNm / 4, rangeNm / 2, rangeNm * 3 / 4, rangeNm};
}

// A small aircraft pointing up (north), centred on the origin.
QPainterPath aircraftShape(double s) {
    QPainterPath p;
    p.moveTo(0, -s);
    p.lineTo(s * 0.25, -s * 0.2);
    p.lineTo(s, s * 0.15);
    p.lineTo(s * 0.25, s * 0.1);
    p.lineTo(s * 0.15, s * 0.65);
    p.lineTo(s * 0.45, s * 0.9);
    p.lineTo(-s * 0.45, s * 0.9);
    p.lineTo(-s * 0.15, s * 0.65);
    p.lineTo(-s * 0.25, s * 0.1);
    p.lineTo(-s, s * 0.15);
    p.lineTo(-s * 0.25, -s * 0.2);
    p.closeSubpath();
    return p;
}

} // namespace

TrafficScope::TrafficScope(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("scope"));
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(220, 220);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(QStringLiteral("Mouse wheel or + / -: range"));
}

QPointF TrafficScope::place(double bearingDeg, double distanceNm, double rangeNm, QPointF centre, double radiusPx) {
    const double r = rangeNm > 0 ? std::min(distanceNm, rangeNm) / rangeNm * radiusPx : 0;
    const double b = radians(bearingDeg);
    // North up: a bearing of 0 points to the top of the widget, 90 to its right.
    return {centre.x() + r * std::sin(b), centre.y() - r * std::cos(b)};
}

QString TrafficScope::label(const QString& handle, double altitudeFt) {
    const long hundreds = std::lround(std::max(0.0, altitudeFt) / 100.0);
    return altitudeFt > kFlightLevelFromFt
               ? QStringLiteral("%1 FL%2").arg(handle).arg(hundreds, 3, 10, QLatin1Char('0'))
               : QStringLiteral("%1 %2").arg(handle).arg(hundreds, 3, 10, QLatin1Char('0'));
}

double TrafficScope::autoRangeNm(const TrafficPicture& picture) {
    double farthest = -1;
    for (const TrafficRow& r : picture.rows) {
        if (r.inFs == InFs::Shown && r.distanceNm) {
            farthest = std::max(farthest, *r.distanceNm);
        }
    }
    if (farthest < 0) {
        return kDefaultAutoNm;
    }
    for (const int step : kRanges) {
        if (farthest * kFitMargin <= step) {
            return step;
        }
    }
    return kRanges.back();
}

void TrafficScope::setPicture(const TrafficPicture& picture) {
    m_picture = picture;
    m_havePicture = true;
    present(build());
}

void TrafficScope::setRange(int nm) {
    const bool known = std::find(kRanges.begin(), kRanges.end(), nm) != kRanges.end();
    const int range = known ? nm : kAuto;
    if (range == m_range) {
        return;
    }
    m_range = range;
    present(build());
    emit rangeChanged(m_range);
}

void TrafficScope::step(int by) {
    const double now = m_range == kAuto ? (m_havePicture ? autoRangeNm(m_picture) : kDefaultAutoNm) : m_range;
    const std::ptrdiff_t last = static_cast<std::ptrdiff_t>(kRanges.size()) - 1;
    const std::ptrdiff_t at = std::min(
        last, std::lower_bound(kRanges.begin(), kRanges.end(), static_cast<int>(std::lround(now))) - kRanges.begin());
    const auto i = std::clamp<std::ptrdiff_t>(at + by, 0, last);
    setRange(kRanges[static_cast<std::size_t>(i)]);
}

void TrafficScope::zoomIn() {
    step(-1);
}

void TrafficScope::zoomOut() {
    step(+1);
}

void TrafficScope::setSelected(const QString& handle) {
    if (handle == m_selected) {
        return;
    }
    for (const ScopeItem& i : m_scene.items) {
        if (i.handle == handle || i.handle == m_selected) {
            update(i.bounds);
        }
    }
    m_selected = handle;
}

ScopeScene TrafficScope::build() const {
    ScopeScene s;
    s.centre = QPointF(width() / 2.0, height() / 2.0);
    s.radius = std::max(10.0, std::min(width(), height()) / 2.0 - kMarginPx);
    s.ownKnown = m_havePicture && m_picture.own.has_value();
    if (!s.ownKnown) {
        return s;
    }
    s.rangeNm = m_range == kAuto ? autoRangeNm(m_picture) : m_range;
    s.rings = ringsFor(s.rangeNm);
    const double pxPerNm = s.radius / s.rangeNm;
    for (const TrafficRow& r : m_picture.rows) {
        if (!r.position || !r.distanceNm || !r.bearingDeg) {
            ++s.withoutPosition;
            continue;
        }
        ScopeItem i;
        i.handle = r.handle;
        i.headingDeg = r.position->headingDeg;
        i.waiting = r.inFs != InFs::Shown;
        i.offRange = *r.distanceNm > s.rangeNm;
        i.at = place(*r.bearingDeg, *r.distanceNm, s.rangeNm, s.centre, s.radius);
        // Rounded to whole pixels: a move too small to see is no change.
        i.at = QPointF(std::round(i.at.x()), std::round(i.at.y()));
        if (!i.offRange) {
            const double ahead = r.position->groundSpeedKt * kMinutesAhead * pxPerNm;
            const double h = radians(i.headingDeg);
            i.ahead = QPointF(std::round(i.at.x() + ahead * std::sin(h)), std::round(i.at.y() - ahead * std::cos(h)));
            i.label = label(r.handle, r.position->altitudeFt);
            i.headingDeg = std::round(i.headingDeg);
        } else {
            i.ahead = i.at;
            i.headingDeg = std::round(*r.bearingDeg);
        }
        i.bounds = boundsOf(i);
        s.items.push_back(std::move(i));
    }
    return s;
}

const QStaticText& TrafficScope::laidOut(const QString& label) const {
    // Kept for the labels of about the pilots online; a crowd that came and went is let go.
    if (m_labels.size() > 4 * static_cast<qsizetype>(m_picture.rows.size()) + 256) {
        m_labels.clear();
    }
    auto it = m_labels.find(label);
    if (it == m_labels.end()) {
        QStaticText t(label);
        t.setTextFormat(Qt::PlainText);
        t.prepare(QTransform(), font());
        it = m_labels.insert(label, t);
    }
    return *it;
}

const QPixmap& TrafficScope::sprite(const ScopeItem& item, bool chosen) const {
    const int step = static_cast<int>(std::lround(item.headingDeg / kSpriteStepDeg)) % (360 / kSpriteStepDeg);
    const int key = ((step < 0 ? step + 360 / kSpriteStepDeg : step) << 3) | (item.offRange ? 4 : 0) |
                    (item.waiting ? 2 : 0) | (chosen ? 1 : 0);
    auto it = m_sprites.find(key);
    if (it != m_sprites.end()) {
        return *it;
    }
    const qreal dpr = devicePixelRatioF();
    QPixmap pix(QSize(kSpritePx, kSpritePx) * dpr);
    pix.setDevicePixelRatio(dpr);
    pix.fill(Qt::transparent);
    QPainter p(&pix);
    p.setRenderHint(QPainter::Antialiasing);
    QColor c = chosen ? palette().color(QPalette::Highlight) : palette().color(QPalette::Text);
    if (item.waiting) {
        c.setAlpha(110);
    }
    p.translate(kSpritePx / 2.0, kSpritePx / 2.0);
    p.rotate(step * kSpriteStepDeg);
    p.setPen(QPen(c, 1.2));
    p.setBrush(item.waiting ? Qt::NoBrush : QBrush(c));
    if (item.offRange) {
        // A mark on the outer ring, pointing the way he is.
        QPainterPath mark;
        mark.moveTo(0, -6);
        mark.lineTo(5, 4);
        mark.lineTo(-5, 4);
        mark.closeSubpath();
        p.drawPath(mark);
    } else {
        p.drawPath(aircraftShape(kSymbolPx));
    }
    p.end();
    return *m_sprites.insert(key, pix);
}

QRect TrafficScope::boundsOf(const ScopeItem& item) const {
    const double lineHeight = fontMetrics().height();
    QRectF r(item.at - QPointF(kSymbolPx + 3, kSymbolPx + 3), QSizeF(2 * kSymbolPx + 6, 2 * kSymbolPx + 6));
    r |= QRectF(item.ahead - QPointF(2, 2), QSizeF(4, 4));
    if (!item.label.isEmpty()) {
        r |= QRectF(item.at + QPointF(kSymbolPx + 2, -lineHeight),
                    QSizeF(laidOut(item.label).size().width() + 4, 2 * lineHeight));
    }
    return r.adjusted(-2, -2, 2, 2).toAlignedRect();
}

void TrafficScope::present(ScopeScene next) {
    const bool whole = next.ownKnown != m_scene.ownKnown || next.rangeNm != m_scene.rangeNm ||
                       next.centre != m_scene.centre || next.radius != m_scene.radius;
    if (whole) {
        m_scene = std::move(next);
        update();
        return;
    }
    std::vector<QRect> dirty;
    if (next.withoutPosition != m_scene.withoutPosition) {
        const int h = 2 * fontMetrics().height();
        dirty.emplace_back(0, height() - h, width() / 2, h);
    }
    // The same pilots, mostly where they were: only the symbols that moved or changed are painted
    // again, where they were and where they are. Pilots are matched by handle, not by place in
    // the list, which changes whenever two of them pass each other in distance.
    QHash<QString, const ScopeItem*> before;
    before.reserve(static_cast<qsizetype>(m_scene.items.size()));
    for (const ScopeItem& i : m_scene.items) {
        before.insert(i.handle, &i);
    }
    if (static_cast<std::size_t>(before.size()) != m_scene.items.size()) {
        m_scene = std::move(next); // two pilots of one handle: no telling who moved where
        update();
        return;
    }
    for (const ScopeItem& i : next.items) {
        const ScopeItem* was = before.take(i.handle);
        if (was == nullptr || !(*was == i)) {
            dirty.push_back(i.bounds);
            if (was != nullptr) {
                dirty.push_back(was->bounds);
            }
        }
    }
    for (const ScopeItem* gone : std::as_const(before)) {
        dirty.push_back(gone->bounds);
    }
    m_scene = std::move(next);
    if (dirty.size() > kMaxDirtyPieces) {
        update();
        return;
    }
    QRegion region;
    for (const QRect& r : dirty) {
        region += r;
    }
    if (!region.isEmpty()) {
        update(region);
    }
}

QString TrafficScope::handleAt(QPointF p) const {
    double best = kPickPx;
    QString who;
    for (const ScopeItem& i : m_scene.items) {
        const double d = std::hypot(i.at.x() - p.x(), i.at.y() - p.y());
        if (d <= best) {
            best = d;
            who = i.handle;
        }
    }
    return who;
}

void TrafficScope::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.setClipRegion(event->region());
    const QPalette pal = palette();
    p.fillRect(event->rect(), pal.color(QPalette::Base));
    p.setRenderHint(QPainter::Antialiasing);
    const ScopeScene& s = m_scene;
    const QColor text = pal.color(QPalette::Text);
    if (!m_havePicture) {
        return;
    }
    if (!s.ownKnown) {
        p.setPen(text);
        p.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap,
                   QStringLiteral("Your aircraft's position is not known yet:\nno traffic to draw"));
        return;
    }
    // The rings, each with its distance, and the user's aircraft at the centre.
    QColor ring = text;
    ring.setAlpha(70);
    p.setPen(QPen(ring, 1));
    for (const double nm : s.rings) {
        const double r = nm / s.rangeNm * s.radius;
        p.drawEllipse(s.centre, r, r);
        p.drawText(QPointF(s.centre.x() + 3, s.centre.y() - r - 2), ringText(nm));
    }
    p.drawText(QPointF(s.centre.x() - 4, s.centre.y() - s.radius - 4 - p.fontMetrics().height()), QStringLiteral("N"));
    p.save();
    p.translate(s.centre);
    p.rotate(m_picture.own->headingDeg);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 130, 60)); // the user's own: green, unlike any pilot's
    p.drawPath(aircraftShape(kSymbolPx * 0.8));
    p.restore();

    const QRegion& region = event->region();
    for (const ScopeItem& i : s.items) {
        // Only what the region touches is drawn: with hundreds of pilots most of the scope
        // is left as it was.
        if (!region.intersects(i.bounds)) {
            continue;
        }
        const bool chosen = i.handle == m_selected;
        p.drawPixmap(i.at - QPointF(kSpritePx / 2.0, kSpritePx / 2.0), sprite(i, chosen));
        if (i.offRange) {
            continue;
        }
        QColor c = chosen ? pal.color(QPalette::Highlight) : text;
        if (i.waiting) {
            c.setAlpha(110);
        }
        p.setPen(QPen(c, 1));
        p.drawLine(i.at, i.ahead);
        p.drawStaticText(i.at + QPointF(kSymbolPx + 3, 4 - p.fontMetrics().ascent()), laidOut(i.label));
    }
    if (s.withoutPosition > 0) {
        p.setPen(text);
        p.drawText(rect().adjusted(6, 0, -6, -4), Qt::AlignLeft | Qt::AlignBottom,
                   QStringLiteral("%1 without a position").arg(s.withoutPosition));
    }
    p.drawText(rect().adjusted(6, 4, -6, 0), Qt::AlignRight | Qt::AlignTop,
               m_range == kAuto ? QStringLiteral("auto: %1").arg(ringText(s.rangeNm)) : ringText(s.rangeNm));
}

void TrafficScope::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        m_sprites.clear();
        update();
    }
    if (event->type() == QEvent::FontChange && m_havePicture) {
        m_labels.clear();
        m_scene = {};
        present(build());
    }
}

void TrafficScope::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_havePicture) {
        present(build());
    }
}

void TrafficScope::wheelEvent(QWheelEvent* event) {
    const int dy = event->angleDelta().y();
    if (dy == 0) {
        event->ignore();
        return;
    }
    dy > 0 ? zoomIn() : zoomOut();
    event->accept();
}

void TrafficScope::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoomIn();
        return;
    case Qt::Key_Minus:
        zoomOut();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void TrafficScope::mousePressEvent(QMouseEvent* event) {
    const QString who = handleAt(event->position());
    if (!who.isEmpty()) {
        emit pilotClicked(who);
    }
    QWidget::mousePressEvent(event);
}

} // namespace ui
} // namespace airmesh
