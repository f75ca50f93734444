#pragma once

// A client engine's server link and relay on a test bench: the simulator played by an in-memory
// session, a scripted multiplayer server on real loopback sockets, a manual clock, a recording
// sound output and a program folder of its own with the settings file, the log and the cue files.

#include "core/settings.h"
#include "fakes/fakefaultysession.h"
#include "fakes/fakeserver.h"
#include "fakes/joinedclient.h"
#include "fakes/servicesrig.h"
#include "relay/clientwiring.h"
#include "serverlink/serverlink.h"
#include "simlink/simcodec.h"
#include "standin/memorysession.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <functional>
#include <memory>
#include <utility>

namespace airmesh {

// A UDP port nobody holds at the moment.
inline quint16 freeUdpPort() {
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

// Both log flags on, the cue files in the program folder.
struct LinkRig : ServicesRig {
    static constexpr qint32 kSession = 42; // what the server assigns us
    static constexpr int kWaitMs = 5000;   // bound on every wait for a loopback event

    // The simulator: its session with the user's aircraft and the two parameter groups.
    MemoryWorld world;
    FakeSessionFaults faults;
    FakeFaultySessionFactory sessions{world, faults};
    QByteArray fs = world.hostSession(SimLink::kFirstAppGuid);
    qint32 hostId = world.addHostPlayer(fs, QStringLiteral("Ace"), QStringLiteral("Ace Pilot"));
    qint32 requestGroup = world.addGroup(fs, QStringLiteral("FS61_REQUEST_PARAMS"));
    qint32 refuseGroup = world.addGroup(fs, QStringLiteral("FS61_REFUSE_PARAMS"));

    Players players;
    NoWindowSystem windows;
    SimLink sim{services, players, windows};
    ClientWiring wiring{services, sim, players};
    ServerLink& link = wiring.link();
    Relay& relay = wiring.relay();

    FakeServer server;
    quint16 clientPort = 0;
    // Every state the link reported, with its status text.
    QList<std::pair<LinkState, QString>> reported;

    // Joined as a join leaves the link, changed by `adjust` when given.
    explicit LinkRig(const std::function<void(JoinedSession&)>& adjust = {}) : ServicesRig(true, true) {
        writeCueFiles(dir.path());
        joinAsTheJoinWould(sim, sessions, hostId, adjust);
        QObject::connect(&link, &ServerLink::stateChanged, [this](LinkState state, const QString& text) {
            reported.append({state, text});
        });

        clientPort = freeUdpPort();
        // Where the main window finds the ports for a Connect.
        writeSetting(ini, setting::HostConnectPort, server.udpPort());
        writeSetting(ini, setting::ClientConnectPort, clientPort);
        writeSetting(ini, setting::ClientConnectTCP, server.tcpPort());
    }

    // The client's current TCP connection to the server, and what came over it.
    QTcpSocket* peer() const { return server.latest() ? server.latest()->socket : nullptr; }
    QByteArray tcpIn() const { return server.latest() ? server.latest()->in : QByteArray(); }
    QList<wire::ServerRecord> tcpRecords() const {
        return server.latest() ? server.latest()->records() : QList<wire::ServerRecord>();
    }
    // Every datagram the server received, in order.
    QList<wire::ServerRecord> udpIn() const {
        QList<wire::ServerRecord> out;
        for (const FakeServer::UdpIn& u : server.udpIn) {
            out.append(u.record);
        }
        return out;
    }
    void toClientUdp(const wire::ServerRecord& r) { server.toUdp(clientPort, r); }
    void toClientTcp(const wire::ServerRecord& r) { server.toTcp(server.latest(), r); }

    // What Connect is handed for the rig's server.
    ServerSettings settings(const QString& host = QStringLiteral("127.0.0.1"),
                            const QString& pilotId = QStringLiteral("1234"),
                            const QString& password = QStringLiteral("5678")) const {
        ServerSettings s;
        s.host = host;
        s.serverUdpPort = server.udpPort();
        s.clientUdpPort = clientPort;
        s.serverTcpPort = server.tcpPort();
        s.pilotId = pilotId;
        s.password = password;
        return s;
    }
    // Connect pressed and the logon request received by the server.
    bool connectAndSendLogon() {
        QTcpSocket* old = peer();
        link.Connect(settings());
        return QTest::qWaitFor([&] { return peer() && peer() != old && tcpRecords().size() == 1; }, kWaitMs);
    }
    // A whole logon, answered over `t`.
    bool logon(wire::Transport t = wire::Transport::Udp) {
        if (!connectAndSendLogon()) {
            return false;
        }
        const wire::ServerRecord accepted =
            wire::toClient::logonAccepted(kSession, QStringLiteral("  Welcome aboard  "));
        t == wire::Transport::Udp ? toClientUdp(accepted) : toClientTcp(accepted);
        return QTest::qWaitFor([&] { return link.blnConnected(); }, kWaitMs);
    }
    // Waits until the client has handled every datagram sent to it so far: an acknowledgement
    // sent behind them is seen (loopback keeps datagrams in order). Logged on only.
    bool udpHandled() {
        clock.advanceMs(1);
        toClientUdp(wire::toClient::heartBeatAck());
        return QTest::qWaitFor([&] { return link.dtLastServerAck() == clock.now(); }, kWaitMs);
    }
    // A pilot announced by the server, approved by the simulator and with his aircraft known:
    // ready to fly. Returns his player id in the session, 0 on failure.
    qint32 readyPilot(qint32 session, const QString& handle) {
        const int before = players.Count();
        toClientUdp(wire::toClient::playerJoined(session, handle));
        if (!QTest::qWaitFor([&] { return players.Count() == before + 1; }, kWaitMs)) {
            return 0;
        }
        const qint32 id = players.Item(before + 1)->Key.toInt();
        approve(id);
        toClientTcp(wire::toClient::aircraftDetails(session, 0, QStringLiteral("Cessna")));
        const Players::PlayerPtr p = players.Item(before + 1);
        return QTest::qWaitFor([&] { return p->RcvdPlaneType; }, kWaitMs) ? id : 0;
    }
    // The simulator reports the user's aircraft to the observer, and the pump reads it.
    void reportAircraft(qint32 engineType, const QString& title) {
        SimMessage m;
        sim::writeAircraftDetails(m, engineType, title);
        world.sendFromHost(hostId, sim.lngMyPlayerID(), m);
        sim.pumpMessages();
    }
    // The simulator approves one of our remote players, and the pump reads it.
    void approve(qint32 id) {
        SimMessage m;
        m.WriteLong(simMsgNumber(SimMsg::AddPlayerApproved));
        m.WriteLong(4);
        m.WriteLong(id);
        world.sendFromHost(hostId, sim.lngMyPlayerID(), m);
        sim.pumpMessages();
    }

    // Messages our players sent into the simulator since the last call.
    QList<MemoryWorld::Sent> takeFs() { return world.takeSentToHost(); }
};

// 52 bytes told apart by `seed`.
inline QByteArray block(char seed) {
    QByteArray b(kPositionBlockBytes, '\0');
    for (int i = 0; i < b.size(); ++i) {
        b[i] = static_cast<char>(seed + i * 3);
    }
    return b;
}

// A message as the simulator writes it.
inline SimMessage fromFs(const std::function<void(SimMessage&)>& write) {
    SimMessage m;
    write(m);
    return m;
}

// The header fields of a simulator message sent into the session.
inline qint32 simNumber(const MemoryWorld::Sent& s) {
    SimMessage m(s.bytes);
    return m.ReadLong();
}
// The text of a chat message, without its zero byte.
inline QString simChatText(const MemoryWorld::Sent& s) {
    SimMessage m(s.bytes);
    const sim::Header h = sim::readHeader(m);
    return sim::readChatText(m, h.payloadLength);
}

} // namespace airmesh
