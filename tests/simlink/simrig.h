#pragma once

// The simulator link on a test bench: the simulator's session in memory, with the user's
// aircraft, a second simulator player and both parameter groups, and the client joined to it
// as a join leaves it. The log goes to "log.txt" in the working folder (tests run in a
// temporary one).

#include "core/ansi.h"
#include "core/clientservices.h"
#include "fakes/fakefaultysession.h"
#include "fakes/fakemessageboxes.h"
#include "fakes/joinedclient.h"
#include "simlink/simlink.h"
#include "standin/memorysession.h"

#include <QFile>
#include <QStringList>

namespace airmesh {

struct SimRig {
    ManualClock clock;
    ActivityLog log{clock};
    INIFiles ini;
    SilentSoundOutput soundOut;
    SoundCues sound{QString(), soundOut};
    FakeMessageBoxes boxes;
    ClientServices services{ini, log, clock, sound, boxes, false, false, {}};
    Players players;
    NoWindowSystem windows;
    MemoryWorld world;
    FakeSessionFaults faults;
    FakeFaultySessionFactory sessions{world, faults};
    QByteArray instance = world.hostSession(SimLink::kFirstAppGuid);
    qint32 host = world.addHostPlayer(instance, QStringLiteral("Skywalker"), QStringLiteral("Luke Skywalker"));
    qint32 other = world.addHostPlayer(instance, QStringLiteral("Copilot"));
    qint32 refuseGroup = world.addGroup(instance, QStringLiteral("FS61_REFUSE_PARAMS"));
    qint32 requestGroup = world.addGroup(instance, QStringLiteral("FS61_REQUEST_PARAMS"));
    SimLink sim{services, players, windows};
    qint32 observer = joinAsTheJoinWould(sim, sessions, host);

    void flags(bool debug, bool lowLevel) {
        services.blnDebug = debug;
        services.blnDebugLowLevel = lowLevel;
    }
    // The session's players that the client created, observer aside, in creation order.
    QList<qint32> remotePlayers() const {
        QList<qint32> out = world.playersIn(instance);
        out.removeAll(host);
        out.removeAll(other);
        out.removeAll(observer);
        return out;
    }
};

// The log written so far, one entry a line, each without its time when that is the clock's.
inline QStringList logged(const SimRig& rig) {
    QFile f(QStringLiteral("log.txt"));
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QString time = logTime(rig.clock.now());
    QStringList out;
    for (const QByteArray& line : f.readAll().split('\n')) {
        QString text = fromAnsi(line.chopped(line.endsWith('\r') ? 1 : 0));
        if (text.isEmpty()) {
            continue;
        }
        out << (text.startsWith(time) ? text.mid(time.size()) : text);
    }
    return out;
}

inline void clearLog() {
    QFile::remove(QStringLiteral("log.txt"));
}

} // namespace airmesh
