#pragma once

class QWidget;

namespace airmesh {
inline namespace ui {

// Which part of the screen a window is centred on.
enum class ScreenArea {
    Whole,    // the whole screen
    WorkArea, // the part that panels and task bars leave free, as the system centres dialogs
};

// Places a top-level window so that its frame, border and title bar included, is centred on
// its screen: left = floor((area width - frame width) / 2), top likewise. Some window systems
// tell a window's frame only once the window manager has framed it; such a window is placed
// by what is known before it is shown and placed again, once, when its frame is known.
void centreOnScreen(QWidget* window, ScreenArea area);

} // namespace ui
} // namespace airmesh
