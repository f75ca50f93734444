#pragma once

#include "activitylog.h"
#include "clock.h"
#include "inifiles.h"
#include "messagebox.h"
#include "sound.h"

namespace airmesh {
inline namespace core {

// The program-wide services every part of the client engine uses, created once by start-up
// and passed by reference: the settings file, the activity log and its two flags, the clock,
// the sound cues and the message boxes.
struct ClientServices {
    INIFiles& objINI;
    const ActivityLog& log;
    const Clock& clock;
    SoundCues& sound;
    MessageBoxService& messages;
    // Ordinary and low-level log lines; both off until start-up has read the settings.
    bool blnDebug = false;
    bool blnDebugLowLevel = false;

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
};

} // namespace core
} // namespace airmesh
