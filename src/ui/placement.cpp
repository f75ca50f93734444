#include "placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QPointer>
#include <QScreen>
#include <QWidget>

namespace airmesh {
inline namespace ui {

namespace {

// floor(value / 2), also for a screen smaller than the window.
int floorHalf(int value) {
    return value >= 0 ? value / 2 : -((-value + 1) / 2);
}

QMargins frameMargins(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
            frame.bottom() - client.bottom()};
}

// Moves the window's frame to the centre of the area; returns the frame it went by.
QMargins place(QWidget* window, ScreenArea area) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return {};
    }
    const QRect r = area == ScreenArea::Whole ? screen->geometry() : screen->availableGeometry();
    const QMargins margins = frameMargins(window);
    const QSize outer = window->size().grownBy(margins);
    // A top-level window's position is its frame's.
    window->move(r.x() + floorHalf(r.width() - outer.width()), r.y() + floorHalf(r.height() - outer.height()));
    return margins;
}

// Watches a window until the window system has told its frame, and centres it again then if
// that frame is not the one it was placed by.
class FrameWatch final : public QObject {
public:
    static constexpr QLatin1String kName{"airmesh_frameWatch"};

    FrameWatch(QWidget* window, ScreenArea area, QMargins placedBy)
        : QObject(window), m_window(window), m_area(area), m_placedBy(placedBy) {
        setObjectName(kName);
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type t = event->type();
        if (watched == m_window && m_window->isVisible() &&
            (t == QEvent::Show || t == QEvent::Move || t == QEvent::Resize)) {
            const QMargins now = frameMargins(m_window);
            // No frame yet: the window manager has not framed the window (or there is none).
            if (!now.isNull()) {
                m_window->removeEventFilter(this);
                if (now != m_placedBy) {
                    place(m_window, m_area);
                }
                deleteLater();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWidget> m_window;
    ScreenArea m_area;
    QMargins m_placedBy;
};

} // namespace

void centreOnScreen(QWidget* window, ScreenArea area) {
    // Placed again: the watch goes by the newest placement.
    delete window->findChild<QObject*>(FrameWatch::kName, Qt::FindDirectChildrenOnly);
    new FrameWatch(window, area, place(window, area));
}

} // namespace ui
} // namespace airmesh
