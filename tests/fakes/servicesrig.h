#pragma once

// The program-wide services on a test bench: a program folder of its own (a temporary folder)
// holding the settings file, the activity log and any sound cues, a clock, a sound output that
// writes down what it is asked to play, the cues, message boxes that write down what they are
// asked to show, and the services built of them. Both log flags are off unless asked for.

#include "fakes/fakemessageboxes.h"
#include "fakes/fakesoundoutput.h"

#include "core/clientservices.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

namespace airmesh {

// The log's lines in `fileName`, each without its time "hh:nn:ss"; none when there is no log.
QStringList logTexts(const QString& fileName);
// Writes a short cue file of each of the client's cue names into `folder`, so that they play.
void writeCueFiles(const QString& folder);

template <typename ClockType> struct BasicServicesRig {
    QTemporaryDir dir;
    ClockType clock;
    ActivityLog log{clock, dir.filePath(QStringLiteral("log.txt"))};
    INIFiles ini{dir.filePath(QStringLiteral("AirmeshClient.ini"))};
    FakeSoundOutput soundOut;
    SoundCues sound{dir.path(), soundOut};
    FakeMessageBoxes boxes;
    ClientServices services{ini, log, clock, sound, boxes, false, false};

    BasicServicesRig() = default;
    BasicServicesRig(bool debug, bool lowLevel) { flags(debug, lowLevel); }
    BasicServicesRig(const BasicServicesRig&) = delete;
    BasicServicesRig& operator=(const BasicServicesRig&) = delete;

    void flags(bool debug, bool lowLevel) {
        services.blnDebug = debug;
        services.blnDebugLowLevel = lowLevel;
    }
    QStringList logLines() const { return logTexts(dir.filePath(QStringLiteral("log.txt"))); }
    void clearLog() const { QFile::remove(dir.filePath(QStringLiteral("log.txt"))); }
};

// Time moved by hand, as most tests have it.
using ServicesRig = BasicServicesRig<ManualClock>;
// The wall clock, for tests against another process or real time-outs.
using WallClockServicesRig = BasicServicesRig<SystemClock>;

} // namespace airmesh
