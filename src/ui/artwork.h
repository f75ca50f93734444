#pragma once

#include <QPixmap>
#include <QPoint>
#include <QSize>

class QWidget;

namespace airmesh {
inline namespace ui {
namespace artwork {

// The traffic light of the main window: one picture per link state, all of this size.
inline constexpr QSize kTrafficLightSize{80, 80};
inline constexpr int kRedLamp = 0;
inline constexpr int kYellowLamp = 1;
inline constexpr int kGreenLamp = 2;

// Where the centre of each lamp (0 red at the top, 1 yellow, 2 green at the bottom) lies in
// a traffic-light picture.
QPoint lampCentre(int lamp);

// A traffic light with lamp `litLamp` lit and the other two dark; transparent around it.
// An index outside 0..2 gives a light with every lamp dark.
QPixmap trafficLight(int litLamp);

// The decorative strip along the window's right edge: a slanted band with arrows running
// up along it, on white.
QPixmap decorativeStrip(QSize size);

// The frame every window of the client has: a fixed dialog border of this client size (a close
// box, no resizing, no minimise or maximise button) and a white background.
void fixedWhiteDialog(QWidget* window, QSize clientSize);

} // namespace artwork
} // namespace ui
} // namespace airmesh
