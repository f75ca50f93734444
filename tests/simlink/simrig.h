#pragma once

// The simulator link on a test bench: the simulator's session in memory, with the user's
// aircraft, a second simulator player and both parameter groups, and the client joined to it
// as a join leaves it. The log goes to "log.txt" in the working folder (tests run in a
// temporary one).

#include "core/ansi.h"
#include "core/clientservices.h"
#include "simlink/memorysession.h"
#include "simlink/simlink.h"

#include <QFile>
#include <QStringList>

#include <memory>

namespace airmesh {

class RecordingMessageBoxes final : public MessageBoxService {
public:
    void showMessage(const QString& text, const QString&) override { shown << text; }
    QStringList shown;
};

struct SimRig {
    ManualClock clock;
    ActivityLog log{clock};
    INIFiles ini;
    SilentSoundOutput soundOut;
    SoundCues sound{QString(), soundOut};
    RecordingMessageBoxes boxes;
    ClientServices services{ini, log, clock, sound, boxes, false, false, {}};
    Players players;
    NoWindowSystem windows;
    MemoryWorld world;
    QByteArray instance = world.hostSession(SimLink::kFirstAppGuid);
    qint32 host = world.addHostPlayer(instance, QStringLiteral("Skywalker"), QStringLiteral("Luke Skywalker"));
    qint32 other = world.addHostPlayer(instance, QStringLiteral("Copilot"));
    qint32 refuseGroup = world.addGroup(instance, QStringLiteral("FS61_REFUSE_PARAMS"));
    qint32 requestGroup = world.addGroup(instance, QStringLiteral("FS61_REQUEST_PARAMS"));
    SimLink sim{services, players, windows};
    qint32 observer = 0;

    SimRig() {
        auto s = std::make_unique<MemorySession>(world);
        const ConnectionList providers = s->GetDPEnumConnections({}, dpflags::ConnectionsServiceProviders);
        for (int i = 1; i <= providers.GetCount(); ++i) {
            if (providers.GetName(i).contains(QStringLiteral("TCP"))) {
                s->InitializeConnection(providers.GetAddress(i));
            }
        }
        SessionData search = s->CreateSessionData();
        search.SetGuidApplication(SimLink::kFirstAppGuid);
        s->Open(s->GetDPEnumSessions(search, 0, dpflags::EnumSessionsAll).GetItem(1), dpflags::OpenJoin);
        observer = s->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
        s->setIntakeFilter(SimLink::intakeFilter(observer));
        s->AddPlayerToGroup(refuseGroup, observer);
        sim.objEnumGroups = s->GetDPEnumGroups({}, 0);
        sim.intRefuseParamsGroup = 1;
        sim.intRequestParamsGroup = 2;
        sim.lngMyPlayerID = observer;
        sim.lngHostPlayerID = host;
        sim.strHandle = QStringLiteral("Skywalker");
        sim.objDP = std::move(s);
    }

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
