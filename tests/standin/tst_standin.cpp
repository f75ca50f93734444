// The stand-in simulator against the client's own simulator link and relay: the join, the
// aircraft query, positions, remote players, chat and crash all go through the real SimLink and
// Relay code on an in-memory session, and what the stand-in prints is checked line by line.
#include "fakes/fakerelayoutput.h"
#include "fakes/servicesrig.h"
#include "relay/relay.h"
#include "simlink/simcodec.h"
#include "simlink/simlink.h"
#include "standin/circuit.h"
#include "standin/memorysession.h"
#include "standin/standin.h"

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <optional>

using namespace airmesh;

namespace {

// Both log flags on.
struct Rig : ServicesRig {
    // The world outlives the client's session object, which the simulator link holds.
    MemoryWorld world;
    Players players;
    NoWindowSystem windows;
    SimLink sim{services, players, windows};
    FakeRelayOutput relay;
    Relay reactions{services, sim, players, relay};

    MemorySessionFactory factory{world};
    QByteArray fs = world.hostSession(SimLink::kFirstAppGuid);
    qint32 own = world.addHostPlayer(fs, QStringLiteral("Skywalker"), QStringLiteral("Luke Skywalker"));
    qint32 requestGroup = world.addGroup(fs, QStringLiteral("FS61_REQUEST_PARAMS"));
    qint32 refuseGroup = world.addGroup(fs, QStringLiteral("FS61_REFUSE_PARAMS"));
    MemoryStandinPort port{world, own};
    QStringList lines;
    std::unique_ptr<SimulatorStandin> standin;

    explicit Rig(StandinOptions options = {}) : ServicesRig(true, true) {
        sim.setHandler(&reactions); // the pump hands its messages to the reactions, as start-up has it
        options.title = QStringLiteral("Jetliner 400-B");
        options.engineType = 1;
        standin = std::make_unique<SimulatorStandin>(port, clock, options, [this](const QString& l) { lines << l; });
        attachStandin(world, *standin);
        // Waiting for an answer that never comes takes no real time.
        world.onWait = [this](int ms) { clock.advanceMs(ms); };
    }
    ~Rig() {
        sim.setHandler(nullptr);
        detachStandin(world);
    }

    bool join() { return sim.Join_Session(factory).has_value(); }
    QStringList take() { return std::exchange(lines, {}); }
    // Moves the clock in steps of `stepMs`, ticking the stand-in after each step.
    void run(int ms, int stepMs = 100) {
        for (int t = 0; t < ms; t += stepMs) {
            clock.advanceMs(stepMs);
            standin->tick();
        }
    }
    qint32 remoteId(int position) const { return players.Item(position)->Key.toInt(); }
    void sendFromRemote(qint32 id, const SimMessage& m) { sim.objDP()->Send(id, dpflags::AllPlayers, 0, m); }
};

QString observerLine(const Rig& rig) {
    return QStringLiteral("observer joined: Airmesh (id 0x%1)")
        .arg(static_cast<quint32>(rig.sim.lngMyPlayerID()), 8, 16, QLatin1Char('0'));
}

SimMessage raw(qint32 number, qint32 length, const QByteArray& payload = {}) {
    SimMessage m;
    m.WriteLong(number);
    m.WriteLong(length);
    m.writeBytes(payload);
    return m;
}

} // namespace

class TestStandin : public QObject {
    Q_OBJECT

private slots:
    void joinAcceptsTheObserverAndAnswersTheAircraftQuery() {
        Rig rig;
        QVERIFY(rig.join());
        QCOMPARE(rig.sim.lngHostPlayerID(), rig.own);
        QCOMPARE(rig.sim.strHandle(), QStringLiteral("Skywalker"));
        QCOMPARE(rig.standin->observer(), rig.sim.lngMyPlayerID());
        QCOMPARE(rig.take(), QStringList{observerLine(rig)});

        // The join's plane query has been answered; the pump hands the answer to the relay.
        rig.sim.pumpMessages();
        QCOMPARE(rig.reactions.strMyAircraft(), QStringLiteral("Jetliner 400-B"));
        QCOMPARE(rig.reactions.lngMyEngineType(), 1);
        QCOMPARE(rig.relay.aircraft, (QList<QPair<qint32, QString>>{{1, QStringLiteral("Jetliner 400-B")}}));

        // The plane query of a logon (one zero byte beyond its declared length) is answered too.
        SimMessage q;
        sim::writeQueryPlaneOnLogon(q);
        rig.sim.objDP()->Send(rig.sim.lngMyPlayerID(), rig.own, 0, q);
        rig.sim.pumpMessages();
        QCOMPARE(rig.relay.aircraft.size(), 2);
        QVERIFY(rig.take().isEmpty());
    }

    void refusingOrSilentStandinEndsTheJoin() {
        StandinOptions refuse;
        refuse.observerAnswer = StandinOptions::ObserverAnswer::Refuse;
        Rig r1(refuse);
        QVERIFY(!r1.join());
        QCOMPARE(r1.boxes.shown.size(), 1);
        QVERIFY(r1.boxes.texts().first().startsWith(QStringLiteral("FS refused a connection as an observer")));
        QCOMPARE(r1.standin->observer(), 0);
        QCOMPARE(r1.lines.size(), 1);
        QVERIFY(r1.lines.first().startsWith(QStringLiteral("observer refused: Airmesh (id 0x")));

        StandinOptions silent;
        silent.observerAnswer = StandinOptions::ObserverAnswer::Silent;
        Rig r2(silent);
        QVERIFY(!r2.join());
        QCOMPARE(r2.boxes.texts(), QStringList{QStringLiteral("FS Didn't respond to our attempts to join")});
        // The request and its retry were both seen; the observer's player left with the session.
        QCOMPARE(r2.lines.size(), 2);
        QVERIFY(r2.lines[0].startsWith(QStringLiteral("observer ignored: Airmesh")));
        QVERIFY(r2.lines[1].startsWith(QStringLiteral("observer ignored: Airmesh")));
        r2.run(1000);
        QVERIFY(r2.world.sentToHost().size() == 2);
        QCOMPARE(r2.standin->positionsSent(), 0u);
    }

    void positionsFlowAtTheRateAlongTheCircuit() {
        StandinOptions o;
        o.positionsPerSecond = 5;
        Rig rig(o);
        // Nobody to send to yet.
        rig.run(1000);
        QCOMPARE(rig.standin->positionsSent(), 0u);

        QVERIFY(rig.join());
        rig.sim.pumpMessages();
        rig.relay.positions.clear();
        rig.run(2000); // ticks every 100 ms; a position due at the join, then one every 200 ms
        rig.sim.pumpMessages();
        QCOMPARE(rig.relay.positions.size(), 11);

        const Circuit& c = rig.standin->options().circuit;
        for (qsizetype i = 0; i < rig.relay.positions.size(); ++i) {
            const QByteArray& bytes = rig.relay.positions[i];
            QCOMPARE(wire::PositionBlockFields::read(bytes)->packetIndex, static_cast<quint32>(i));
            const std::optional<wire::AircraftPosition> p = wire::decodePosition(bytes);
            QVERIFY(p);
            QVERIFY(std::abs(p->altitudeFt - c.altitudeFt) < 1e-3);
            QVERIFY(!p->onGround && std::abs(p->groundSpeedKt - c.speedKt) < 1e-3);
            const double northNm = (p->latitudeDeg - c.centreLatitude) * 60.0;
            const double eastNm =
                (p->longitudeDeg - c.centreLongitude) * 60.0 * std::cos(c.centreLatitude * 3.141592653589793 / 180.0);
            QVERIFY(std::abs(std::hypot(northNm, eastNm) - c.radiusNm) < 1e-6);
        }

        // A stall of 10 s is not made up for with a burst of 50.
        rig.clock.advance(10);
        rig.standin->tick();
        rig.sim.pumpMessages();
        QCOMPARE(rig.relay.positions.size(), 12);
    }

    void circuitClosesAndGoesOutAsTheSimulatorsBlock() {
        Circuit c;
        const double lap = c.lapSeconds();
        QVERIFY(lap > 0);
        const wire::AircraftPosition start = c.at(0);
        const wire::AircraftPosition end = c.at(lap);
        QVERIFY(std::abs(start.latitudeDeg - end.latitudeDeg) < 1e-9);
        QVERIFY(std::abs(start.longitudeDeg - end.longitudeDeg) < 1e-9);
        QVERIFY(start.latitudeDeg > c.centreLatitude);           // starts at the north point
        QCOMPARE(start.headingDeg, 90.0);                        // flying east: clockwise
        QVERIFY(c.at(lap / 4).longitudeDeg > c.centreLongitude); // a quarter later: east point
        QVERIFY(start.bankDeg > 0 && start.bankDeg < 45);
        QCOMPARE(start.verticalSpeedFpm, 0.0);

        // Packet index and application time (ms) in front, then what the decoder reads back.
        const QByteArray bytes = c.block(123.4, 77);
        QCOMPARE(bytes.left(8).toHex(' '), QByteArray("4d 00 00 00 08 e2 01 00"));
        const std::optional<wire::AircraftPosition> p = wire::decodePosition(bytes);
        QVERIFY(p);
        const wire::AircraftPosition want = c.at(123.4);
        QVERIFY(std::abs(p->latitudeDeg - want.latitudeDeg) < 1e-9);
        QVERIFY(std::abs(p->longitudeDeg - want.longitudeDeg) < 1e-9);
        QVERIFY(std::abs(p->headingDeg - want.headingDeg) <= 360.0 / 2048);
        QVERIFY(std::abs(p->bankDeg - want.bankDeg) <= 180.0 / 1024);

        Circuit still;
        still.speedKt = 0;
        QCOMPARE(still.lapSeconds(), 0.0);
        QCOMPARE(still.at(50).latitudeDeg, still.centreLatitude);
    }

    // Latency measurement: the send time rides in the own blocks' informational fields; a remote
    // player's stamped block is timed on arrival.
    void stampedPositionsAreTimed() {
        qint64 micros = 0x0102030405060708;
        QList<QPair<QString, qint64>> timed;
        StandinOptions o;
        o.stampMicros = [&micros] { return micros; };
        o.positionLatency = [&timed](const QString& player, qint64 us) { timed.append({player, us}); };
        Rig rig(o);
        QVERIFY(rig.join());
        rig.sim.pumpMessages();
        rig.relay.positions.clear();
        rig.run(200);
        rig.sim.pumpMessages();
        QVERIFY(!rig.relay.positions.isEmpty());
        // Low half in the application time, high half in the reserved bytes; the rest as flown.
        const QByteArray own = rig.relay.positions.first();
        QCOMPARE(own.mid(4, 4).toHex(), QByteArray("08070605"));
        QCOMPARE(own.mid(24, 4).toHex(), QByteArray("04030201"));
        const QByteArray flown = rig.standin->options().circuit.block(0.1, 0);
        QCOMPARE(own.left(4), flown.left(4));
        QCOMPARE(own.mid(8, 16), flown.mid(8, 16));
        QCOMPARE(own.mid(28), flown.mid(28));

        rig.sim.Add_Remote_Player(QStringLiteral("Bob"), 17);
        rig.sim.pumpMessages();
        QByteArray block(52, 'p');
        block.replace(4, 4, QByteArray::fromHex("08070605"));
        block.replace(24, 4, QByteArray::fromHex("04030201"));
        SimMessage pos;
        sim::writePositionUpdate(pos, block);
        micros += 1250;
        rig.sendFromRemote(rig.remoteId(1), pos);
        QCOMPARE(timed, (QList<QPair<QString, qint64>>{{QStringLiteral("Bob"), 1250}}));
    }

    void remotePlayersAreApprovedAndReported() {
        Rig rig;
        QVERIFY(rig.join());
        rig.sim.pumpMessages();
        rig.take();

        rig.sim.Add_Remote_Player(QStringLiteral("Bob"), 17);
        QCOMPARE(rig.take(), QStringList{QStringLiteral("remote player added: Bob")});
        rig.sim.pumpMessages();
        QCOMPARE(rig.players.Count(), 1);
        QVERIFY(rig.players.Item(1)->Add_Success);
        const qint32 bob = rig.remoteId(1);

        // Aircraft: reported when first seen and when it changes, not when repeated.
        SimMessage ac;
        sim::writeAircraftDetails(ac, 0, QStringLiteral("Cessna 172"));
        rig.sendFromRemote(bob, ac);
        rig.sendFromRemote(bob, ac);
        sim::writeAircraftDetails(ac, 1, QStringLiteral("Learjet 45"));
        rig.sendFromRemote(bob, ac);
        QCOMPARE(rig.take(), (QStringList{QStringLiteral("remote aircraft: Bob \"Cessna 172\" engine 0"),
                                          QStringLiteral("remote aircraft: Bob \"Learjet 45\" engine 1")}));

        // Positions: counted per report interval, a stopped stream reported once with 0.
        SimMessage pos;
        sim::writePositionUpdate(pos, QByteArray(52, 'p'));
        for (int i = 0; i < 7; ++i) {
            rig.sendFromRemote(bob, pos);
        }
        rig.run(5000, 500);
        QVERIFY(rig.take().contains(QStringLiteral("positions: Bob 7 in 5 s (1.4/s)")));
        rig.run(5000, 500);
        QVERIFY(rig.take().contains(QStringLiteral("positions: Bob 0 in 5 s (0.0/s)")));
        rig.run(5000, 500);
        for (const QString& l : rig.take()) {
            QVERIFY2(!l.startsWith(QStringLiteral("positions: Bob")), qPrintable(l));
        }

        // Chat in Windows-1252, and the client's own status texts from the observer.
        SimMessage chat;
        sim::writeChat(chat, SimMsg::ChatMessage, QStringLiteral("Grüße aus Zürich, 5 €"));
        rig.sendFromRemote(bob, chat);
        rig.sim.sendTextLine(QStringLiteral("Server connection lost."));
        QCOMPARE(rig.take(), (QStringList{QStringLiteral("chat from Bob: Grüße aus Zürich, 5 €"),
                                          QStringLiteral("chat from Airmesh: Server connection lost.")}));

        rig.sim.Remove_Remote_Player(17);
        QCOMPARE(rig.take(), QStringList{QStringLiteral("remote player removed: Bob")});
        QVERIFY(rig.standin->remoteHandles().isEmpty());

        // The observer goes: its leaving is reported and the positions stop.
        rig.sim.closeSession();
        QCOMPARE(rig.standin->observer(), 0);
        const QStringList left = rig.take();
        QCOMPARE(left.size(), 1);
        QVERIFY(left.first().startsWith(QStringLiteral("observer left: Airmesh (id 0x")));
        const quint32 sent = rig.standin->positionsSent();
        rig.run(1000);
        QCOMPARE(rig.standin->positionsSent(), sent);
    }

    // A rejected player leaves the session; the pilot stays listed, and is not offered again.
    void rejectedRemotePlayerLeavesTheClient() {
        StandinOptions o;
        o.approvePlayers = false;
        Rig rig(o);
        QVERIFY(rig.join());
        rig.sim.pumpMessages();
        rig.take();
        rig.sim.Add_Remote_Player(QStringLiteral("Mallory"), 9);
        QCOMPARE(rig.take(), QStringList{QStringLiteral("remote player rejected: Mallory")});
        QCOMPARE(rig.players.Count(), 1);
        rig.sim.pumpMessages(); // the client takes the rejected player out again
        QCOMPARE(rig.players.Count(), 1);
        QVERIFY(!rig.players.Item(1)->inSession && rig.players.Item(1)->rejectedByFs);
        QCOMPARE(rig.world.playersIn(rig.fs).size(), 2); // the simulator and the observer
        QVERIFY(rig.take().isEmpty());                   // never added, so never "removed"
    }

    void commandsReachTheServerThroughTheClient() {
        Rig rig;
        QSignalSpy quit(rig.standin.get(), &SimulatorStandin::quitRequested);
        // Before any observer there is nobody to tell.
        rig.standin->executeCommand(QStringLiteral("chat too early"));
        QCOMPARE(rig.take(), QStringList{QStringLiteral("error: chat not sent, no observer")});

        QVERIFY(rig.join());
        rig.sim.pumpMessages();
        rig.relay.aircraft.clear();
        rig.take();

        QVERIFY(rig.standin->executeCommand(QStringLiteral("chat  hello there ")));
        QVERIFY(rig.standin->executeCommand(QStringLiteral("crash")));
        QVERIFY(rig.standin->executeCommand(QStringLiteral("aircraft \"Boeing 737-400\" 1")));
        QVERIFY(rig.standin->executeCommand(QStringLiteral("aircraft Piper Cub 0")));
        rig.sim.pumpMessages();
        QCOMPARE(rig.relay.chats, QStringList{QStringLiteral("hello there")});
        QCOMPARE(rig.relay.crashes, 1);
        QCOMPARE(rig.relay.aircraft, (QList<QPair<qint32, QString>>{{1, QStringLiteral("Boeing 737-400")},
                                                                    {0, QStringLiteral("Piper Cub")}}));
        QCOMPARE(rig.reactions.strMyAircraft(), QStringLiteral("Piper Cub"));
        QCOMPARE(rig.take(), (QStringList{QStringLiteral("sent chat: hello there"), QStringLiteral("sent crash"),
                                          QStringLiteral("aircraft: \"Boeing 737-400\" engine 1"),
                                          QStringLiteral("aircraft: \"Piper Cub\" engine 0")}));

        for (const char* bad : {"fly", "aircraft Cub", "aircraft 1", "chat", "crash now", "quit later"}) {
            QVERIFY2(!rig.standin->executeCommand(QLatin1String(bad)), bad);
        }
        QCOMPARE(rig.lines.size(), 6);
        QCOMPARE(rig.lines.first(), QStringLiteral("unknown command: fly"));
        QCOMPARE(rig.standin->options().title, QStringLiteral("Piper Cub"));
        QCOMPARE(quit.count(), 0);
        QVERIFY(rig.standin->executeCommand(QStringLiteral(" quit ")));
        QCOMPARE(quit.count(), 1);
    }

    void malformedMessagesAreReportedAndDropped() {
        Rig rig;
        QVERIFY(rig.join());
        rig.sim.pumpMessages();
        rig.take();
        rig.sim.Add_Remote_Player(QStringLiteral("Eve"), 5);
        const qint32 eve = rig.remoteId(1);
        rig.take();
        SimulatorStandin& s = *rig.standin;

        // Every cut of a header.
        const QByteArray header = raw(4121, 52).bytes();
        for (int n = 0; n < 8; ++n) {
            s.messageReceived(eve, 0, header.left(n));
        }
        // Lengths that do not match what is there, and texts without their end.
        s.messageReceived(eve, 0, raw(4121, 52, QByteArray(51, 'x')).bytes());
        s.messageReceived(eve, 0, raw(4121, -4, QByteArray(52, 'x')).bytes());
        s.messageReceived(eve, 0, raw(4121, 51, QByteArray(51, 'x')).bytes());
        s.messageReceived(eve, 0, raw(4110, 12, QByteArray("\0\0\0\0Cessna17", 12)).bytes());
        s.messageReceived(eve, 0, raw(4110, 3, QByteArray(3, '\0')).bytes());
        s.messageReceived(eve, 0, raw(4131, 0x7fffffff, QByteArray("hi\0", 3)).bytes());
        QCOMPARE(rig.lines.size(), 10);
        for (const QString& l : rig.take()) {
            QVERIFY2(l.startsWith(QStringLiteral("dropped: ")), qPrintable(l));
        }
        // What counts as an event changed nothing.
        rig.run(5000, 500);
        for (const QString& l : rig.take()) {
            QVERIFY2(!l.startsWith(QStringLiteral("positions: Eve")) &&
                         !l.startsWith(QStringLiteral("remote aircraft")),
                     qPrintable(l));
        }

        // A flood is reported in part, then counted.
        for (int i = 0; i < 30; ++i) {
            s.messageReceived(eve, 0, QByteArray(3, 'z'));
        }
        QCOMPARE(rig.lines.size(), SimulatorStandin::kMaxDropLinesPerReport);
        rig.take();
        rig.run(5000, 500);
        QVERIFY(rig.take().contains(QStringLiteral("dropped: 20 more malformed messages")));

        // Not for us, from nobody, or unknown numbers: quietly ignored.
        s.messageReceived(eve, eve, QByteArray(3, 'z'));
        s.messageReceived(0, 0, QByteArray(3, 'z'));
        s.messageReceived(eve, 0, raw(4999, 0).bytes());
        s.messageReceived(eve, 0, raw(-1, 0).bytes());
        QVERIFY(rig.take().isEmpty());

        // An empty chat, and an empty title, are well-formed.
        s.messageReceived(eve, 0, raw(4131, 1, QByteArray(1, '\0')).bytes());
        s.messageReceived(eve, 0, raw(4110, 5, QByteArray(5, '\0')).bytes());
        QCOMPARE(rig.take(), QStringList{QStringLiteral("remote aircraft: Eve \"\" engine 0")});
    }

    void playerTableIsBounded() {
        Rig rig;
        for (int i = 1; i <= SimulatorStandin::kMaxPlayers + 50; ++i) {
            rig.standin->playerCreated(1000 + i, QStringLiteral("P%1").arg(i), {});
        }
        QCOMPARE(rig.lines.size(), 1);
        QVERIFY(rig.lines.first().startsWith(QStringLiteral("dropped: player table full")));
        rig.take();
        // Tracked players still work; untracked ones are not answered as remote players.
        SimMessage req;
        sim::writeHeaderOnly(req, SimMsg::AddPlayerRequest);
        rig.standin->messageReceived(1001, 0, req.bytes());
        rig.standin->messageReceived(1000 + SimulatorStandin::kMaxPlayers + 10, 0, req.bytes());
        QCOMPARE(rig.take(), QStringList{QStringLiteral("remote player added: P1")});
        rig.standin->playerDestroyed(1001);
        rig.standin->playerCreated(5000, QStringLiteral("Late"), {});
        rig.standin->messageReceived(5000, 0, req.bytes());
        QCOMPARE(rig.take(), (QStringList{QStringLiteral("remote player removed: P1"),
                                          QStringLiteral("remote player added: Late")}));
    }
};

QTEST_GUILESS_MAIN(TestStandin)
#include "tst_standin.moc"
