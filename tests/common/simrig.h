#pragma once

// The simulator link on a test bench: the simulator's session in memory, with the user's
// aircraft, a second simulator player and both parameter groups, and the client joined to it
// as a join leaves it. The log goes to "log.txt" in the rig's program folder.

#include "fakes/fakefaultysession.h"
#include "fakes/fakerelayoutput.h"
#include "fakes/joinedclient.h"
#include "fakes/servicesrig.h"
#include "relay/relay.h"
#include "simlink/simcodec.h"
#include "simlink/simlink.h"
#include "standin/memorysession.h"

#include <QStringList>

#include <functional>
#include <utility>

namespace airmesh {

struct SimRig : ServicesRig {
    int maxPlayers = 0; // the session's limit; 0: none
    Players players;
    NoWindowSystem windows;
    MemoryWorld world;
    FakeSessionFaults faults;
    FakeFaultySessionFactory sessions{world, faults};
    QByteArray instance = world.hostSession(SimLink::kFirstAppGuid, QStringLiteral("FS"), {}, maxPlayers);
    qint32 host = world.addHostPlayer(instance, QStringLiteral("Skywalker"), QStringLiteral("Luke Skywalker"));
    qint32 other = world.addHostPlayer(instance, QStringLiteral("Copilot"));
    qint32 refuseGroup = world.addGroup(instance, QStringLiteral("FS61_REFUSE_PARAMS"));
    qint32 requestGroup = world.addGroup(instance, QStringLiteral("FS61_REQUEST_PARAMS"));
    SimLink sim{services, players, windows};
    qint32 observer;

    // Joined as a join leaves the link, changed by `adjust` when given; a session of at most
    // `limit` players when given (the simulator's two, the observer and limit - 3 of ours).
    explicit SimRig(const std::function<void(JoinedSession&)>& adjust = {}, int limit = 0)
        : maxPlayers(limit), observer(joinAsTheJoinWould(sim, sessions, host, adjust)) {}

    // The session's players that the client created, observer aside, in creation order.
    QList<qint32> remotePlayers() const {
        QList<qint32> out = world.playersIn(instance);
        out.removeAll(host);
        out.removeAll(other);
        out.removeAll(observer);
        return out;
    }
};

// The bench with the relay's reactions and a recording server link.
struct RelayRig : SimRig {
    // The pump hands its messages to the reactions, as start-up has it.
    template <typename... Args> explicit RelayRig(Args&&... args) : SimRig(std::forward<Args>(args)...) {
        sim.setHandler(&reactions);
    }

    FakeRelayOutput out;
    Relay reactions{services, sim, players, out};

    int waiting() { return sim.objDP()->GetMessageQueue(0, 0, dpflags::QueueReceive); }
    // Adds a remote player quietly and lets the tick that follows take the echo of its request.
    qint32 addRemote(const QString& handle, qint32 sessionNumber) {
        const bool d = services.blnDebug;
        const bool l = services.blnDebugLowLevel;
        flags(false, false);
        const Players::PlayerPtr p = sim.Add_Remote_Player(handle, sessionNumber);
        sim.pumpMessages();
        flags(d, l);
        world.takeSentToHost();
        return p->Key.toInt();
    }
    // The simulator reports the user's aircraft, read quietly while logged off: nothing goes out.
    void reportAircraft(qint32 engineType, const QString& title) {
        const bool d = services.blnDebug;
        const bool l = services.blnDebugLowLevel;
        const bool c = out.connected;
        flags(false, false);
        out.connected = false;
        SimMessage m;
        sim::writeAircraftDetails(m, engineType, title);
        world.sendFromHost(host, observer, m);
        sim.pumpMessages();
        flags(d, l);
        out.connected = c;
    }
};

// Messages as the simulator sends them.
inline SimMessage message(qint32 number, const QByteArray& payload = {}, int length = -1) {
    SimMessage m;
    m.WriteLong(number);
    m.WriteLong(length < 0 ? static_cast<qint32>(payload.size()) : length);
    m.writeBytes(payload);
    return m;
}

inline SimMessage message(SimMsg number, const QByteArray& payload = {}, int length = -1) {
    return message(simMsgNumber(number), payload, length);
}

inline QByteArray le32(qint32 v) {
    SimMessage m;
    m.WriteLong(v);
    return m.bytes();
}

inline SimMessage systemNotice(qint32 type) {
    SimMessage m;
    m.WriteLong(type);
    m.WriteLong(1);
    m.WriteLong(0x1234);
    return m;
}

inline QByteArray positionBlock() {
    QByteArray b;
    for (int i = 0; i < kPositionBlockBytes; ++i) {
        b.append(static_cast<char>(i * 5));
    }
    return b;
}

inline const QString kSystemLine = QStringLiteral(" - ****System Message ignored, Type: ");
inline const QString kReadPastEnd =
    QStringLiteral(" - Error Process_MP_Packet -2147467259 read past the end of a session message");

} // namespace airmesh
