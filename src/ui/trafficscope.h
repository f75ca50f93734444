#pragma once

#include "relay/traffic.h"

#include <QHash>
#include <QPixmap>
#include <QPointF>
#include <QRectF>
#include <QStaticText>
#include <QWidget>

#include <array>
#include <vector>

namespace airmesh {
inline namespace ui {

// One remote pilot as the scope draws him.
struct ScopeItem {
    QString handle;
    QPointF at; // in the widget, pixels
    double headingDeg = 0;
    QPointF ahead;         // where the line for his next minute ends
    QString label;         // "Maverick 040", "Goose FL350"
    bool waiting = false;  // no place in FS: drawn hollow and dimmed
    bool offRange = false; // beyond the range: a mark on the outer ring in his bearing
    QRect bounds;          // every pixel his symbol, line and label may touch
    bool operator==(const ScopeItem&) const = default;
};

// What the scope shows, as of one picture and one size of the widget.
struct ScopeScene {
    bool ownKnown = false;
    double rangeNm = 0;
    QPointF centre;
    double radius = 0;         // of the outer ring, pixels
    std::vector<double> rings; // their distances, nm, the outer one last
    std::vector<ScopeItem> items;
    int withoutPosition = 0;
    bool operator==(const ScopeScene&) const = default;
};

// The traffic as a pilot reads it: the user's aircraft at the centre, north up, range rings with
// their distances, every remote pilot a small aircraft turned to his heading with his handle and
// altitude and a line for where he will be in a minute. The range is one of kRanges or "auto"
// (the shown pilots fitted in), chosen by the mouse wheel and + / -. A click on a pilot says who.
// It paints nothing until it is given a picture, and after that only the parts that changed.
class TrafficScope : public QWidget {
    Q_OBJECT

public:
    static constexpr std::array<int, 8> kRanges{2, 5, 10, 20, 50, 100, 200, 500};
    static constexpr int kAuto = 0;
    static constexpr double kSymbolPx = 9;
    static constexpr int kMarginPx = 14;
    // Symbols are drawn from pictures made once per heading of this step and look.
    static constexpr int kSpriteStepDeg = 5;
    static constexpr int kSpritePx = 2 * static_cast<int>(kSymbolPx) + 6;

    explicit TrafficScope(QWidget* parent = nullptr);

    void setPicture(const TrafficPicture& picture);
    const ScopeScene& scene() const { return m_scene; }

    // kAuto or one of kRanges; anything else counts as kAuto.
    void setRange(int nm);
    int range() const { return m_range; }
    // One step nearer or farther; from auto, from the range auto chose.
    void zoomIn();
    void zoomOut();

    // The pilot marked as chosen (the table's selection); empty for none.
    void setSelected(const QString& handle);
    const QString& selected() const { return m_selected; }
    // The pilot whose symbol is at `p`, empty when none is.
    QString handleAt(QPointF p) const;

    // Where a pilot at this bearing and distance is drawn, north up.
    static QPointF place(double bearingDeg, double distanceNm, double rangeNm, QPointF centre, double radiusPx);
    // "Maverick 040" (hundreds of feet), or "Maverick FL350" above 18,000 ft.
    static QString label(const QString& handle, double altitudeFt);
    // The range auto chooses: the smallest step that holds every pilot shown in FS.
    static double autoRangeNm(const TrafficPicture& picture);

signals:
    void pilotClicked(const QString& handle);
    void rangeChanged(int nm);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    ScopeScene build() const;
    // Repaints what differs between the scene shown and `next`, and keeps `next`.
    void present(ScopeScene next);
    QRect boundsOf(const ScopeItem& item) const;
    // A label laid out once and kept while it is drawn: with hundreds of pilots, shaping their
    // labels again every second would be most of the scope's work.
    const QStaticText& laidOut(const QString& label) const;
    // The symbol of a pilot (or his mark on the outer ring) as a picture, made once for its
    // heading (to kSpriteStepDeg) and look: hundreds of pilots cost a copy each, not a path.
    const QPixmap& sprite(const ScopeItem& item, bool chosen) const;
    void step(int by);

    TrafficPicture m_picture;
    bool m_havePicture = false;
    ScopeScene m_scene;
    int m_range = kAuto;
    QString m_selected;
    mutable QHash<QString, QStaticText> m_labels;
    mutable QHash<int, QPixmap> m_sprites;
};

} // namespace ui
} // namespace airmesh
