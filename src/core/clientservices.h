#pragma once

#include "activitylog.h"
#include "clock.h"
#include "inifiles.h"
#include "messagebox.h"
#include "sound.h"

#include <functional>

namespace airmesh {
inline namespace core {

// The program-wide services every part of the client engine uses, created once by start-up
// and passed by reference: the settings file, the activity log and its two flags, the clock,
// the sound cues, the message boxes, and the way to let pending events run.
struct ClientServices {
    INIFiles& objINI;
    const ActivityLog& log;
    const Clock& clock;
    SoundCues& sound;
    MessageBoxService& messages;
    // Ordinary and low-level log lines; both off until start-up has read the settings.
    bool blnDebug = false;
    bool blnDebugLowLevel = false;
    // Lets pending events run once (QCoreApplication::processEvents in the program).
    std::function<void()> yield;

    // A line of the activity log, "hh:nn:ss" then `text`, when its flag is set.
    void debug(const QString& text) const {
        if (blnDebug) {
            log.line(text);
        }
    }
    void lowLevel(const QString& text) const {
        if (blnDebugLowLevel) {
            log.line(text);
        }
    }
    void yieldOnce() const {
        if (yield) {
            yield();
        }
    }
};

} // namespace core
} // namespace airmesh
