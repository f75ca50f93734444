#pragma once

#include "serverlink/linkstate.h"

namespace airmesh {
inline namespace ui {

// How the main window shows each state of the server link: the one place for the traffic light,
// the buttons' enabled states and the Connect caption.
struct LinkView {
    enum Lamp { Red = 0, Yellow = 1, Green = 2 }; // the traffic light's pictures, by index

    Lamp lamp;
    bool connectEnabled;
    bool aliasEnabled;
    bool cancelEnabled;
    // The Connect button's caption, or null to keep the one it has. A lost link takes the
    // accelerator away for good: the caption stays "Connect" through every later state.
    const char* connectCaption;
    // The status line shows the link's text; Connecting keeps what the line shows (the last
    // outcome, or the hangar scan's progress when Connect is pressed during the scan).
    bool showsStatus;
    // Painted at once: the engine goes on working without letting events run.
    bool repaintNow;

    // The row of `state`; a value the link does not have is shown as Idle.
    static const LinkView& of(LinkState state);
};

} // namespace ui
} // namespace airmesh
