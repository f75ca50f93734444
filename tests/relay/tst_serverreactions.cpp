// What a server record does in the simulator: records from a scripted server on loopback
// sockets through the server link into the relay, with the simulator played by the in-memory
// session: the remote players' life, positions, aircraft, crashes and chat, and failures.
#include "linkrig.h"

#include "hangar/hangar.h"
#include "relay/traffic.h"
#include "wire/positionblock.h"

#include <QtTest>

using namespace airmesh;
using namespace airmesh::wire;
using Op = FakeSessionFaults::Op;

Q_DECLARE_METATYPE(airmesh::wire::Transport)
Q_DECLARE_METATYPE(airmesh::wire::ServerRecord)

namespace {

constexpr int kWait = LinkRig::kWaitMs;

// Logged on as far as the record handlers can tell, without sockets.
void pretendLoggedOn(LinkRig& rig) {
    airmesh::pretendLoggedOn(rig.link, LinkRig::kSession, rig.clock.now());
}

} // namespace

class TestServerReactions : public QObject {
    Q_OBJECT

private slots:
    void chatIn_data();
    void chatIn();
    void chatInFromNobodyOrTooLong();
    void remotePlayerLife();
    void receivedTextsEndAtNul();
    void positionRoad();
    void trafficPicture();
    void remoteAircraftShownAsTheClosestInstalled();
    void handlerFailureLogged();
};

void TestServerReactions::chatIn_data() {
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("delivered");
    QTest::addColumn<bool>("altGuid");

    const QString first = QString(55, QLatin1Char('a')) + QLatin1Char(' ');
    const QString second(56, QLatin1Char('b'));
    QTest::newRow("120 characters, a space at a cut") << QStringList{first, second, QStringLiteral("cccccccc")}
                                                      << first + second + QStringLiteral("cccccccc") << false;
    QTest::newRow("a padded word loses its spaces")
        << QStringList{QStringLiteral("word"), QStringLiteral("next")} << QStringLiteral("wordnext") << false;
    QTest::newRow("53 characters are trimmed") << QStringList{QString(53, QLatin1Char('x')), QStringLiteral("y")}
                                               << QString(53, QLatin1Char('x')) + "y" << false;
    QTest::newRow("54 characters are kept whole") << QStringList{QString(54, QLatin1Char('x')), QStringLiteral("y")}
                                                  << QString(54, QLatin1Char('x')) + "  y" << false;
    QTest::newRow("second application identifier")
        << QStringList{QStringLiteral("hello")} << QStringLiteral("hello") << true;
}

void TestServerReactions::chatIn() {
    QFETCH(QStringList, pieces);
    QFETCH(QString, delivered);
    QFETCH(bool, altGuid);
    LinkRig rig([altGuid](JoinedSession& joined) { joined.blnAltGuid = altGuid; });
    pretendLoggedOn(rig);
    rig.sim.Add_Remote_Player(QStringLiteral("Bob"), 7);
    const qint32 bob = rig.players.Item(1)->Key.toInt();
    rig.takeFs();

    for (const QString& p : pieces) {
        rig.link.Process_TCPPacket(toClient::chatChunk(7, p).toBytes());
    }
    QVERIFY(rig.takeFs().isEmpty());
    QCOMPARE(rig.players.Item(1)->ChatRcvd, rig.clock.now());

    rig.link.Process_TCPPacket(toClient::chatChunk(7, kChatEndMark).toBytes());
    const QList<MemoryWorld::Sent> fs = rig.takeFs();
    QCOMPARE(fs.size(), 1);
    QCOMPARE(fs[0].from, bob);
    QCOMPARE(simNumber(fs[0]), simMsgNumber(altGuid ? SimMsg::ChatMessageAlt : SimMsg::ChatMessage));
    QCOMPARE(simChatText(fs[0]), delivered);
    QVERIFY(rig.players.Item(1)->ChatText.isEmpty());
    QCOMPARE(rig.soundOut.cues(), QStringList{QStringLiteral("incoming.wav")});
    QVERIFY(rig.logLines().contains(QStringLiteral(" - Chat rcvd from Bob")));
}

void TestServerReactions::chatInFromNobodyOrTooLong() {
    LinkRig rig;
    pretendLoggedOn(rig);
    rig.sim.Add_Remote_Player(QStringLiteral("Bob"), 7);
    rig.takeFs();

    // From a session number nobody has: nothing kept, nothing shown, the end logged as a failure.
    rig.link.Process_TCPPacket(toClient::chatChunk(8, QStringLiteral("psst")).toBytes());
    rig.link.Process_TCPPacket(toClient::chatChunk(8, kChatEndMark).toBytes());
    QVERIFY(rig.takeFs().isEmpty());
    QVERIFY(rig.players.Item(1)->ChatText.isEmpty());
    QVERIFY(rig.logLines().contains(QStringLiteral(" - Error Process_TCPPacket 91 ") +
                                    "Chat end from a pilot who is not in the registry"));

    // A pilot who floods pieces without an end mark: the whole message is dropped with one
    // line, and his next chat arrives intact.
    for (int i = 0; i < 1000; ++i) {
        rig.link.Process_TCPPacket(toClient::chatChunk(7, QString(56, QChar(u'A' + i % 26))).toBytes());
    }
    rig.link.Process_TCPPacket(toClient::chatChunk(7, kChatEndMark).toBytes());
    rig.link.Process_TCPPacket(toClient::chatChunk(7, QStringLiteral("hello again")).toBytes());
    rig.link.Process_TCPPacket(toClient::chatChunk(7, kChatEndMark).toBytes());
    QCOMPARE(rig.logLines().count(QStringLiteral(" - Chat from Bob longer than 4096 characters, dropped")), 1);
    const QList<MemoryWorld::Sent> fs = rig.takeFs();
    QCOMPARE(fs.size(), 1);
    QCOMPARE(simChatText(fs[0]), QStringLiteral("hello again"));

    // Pieces whose end never comes (a flood cut off, then a message cut off by a dropped link):
    // after more than 5 s of silence the pilot's next chat starts clean and arrives exactly.
    const QString normal = QStringLiteral("Ready for departure, runway 34R");
    for (const int flood : {10000, 1}) {
        for (int i = 0; i < flood; ++i) {
            rig.link.Process_TCPPacket(toClient::chatChunk(7, QString(56, QChar(u'a' + i % 26))).toBytes());
        }
        rig.clock.advanceMs(5001);
        rig.link.Process_TCPPacket(toClient::chatChunk(7, normal).toBytes());
        rig.link.Process_TCPPacket(toClient::chatChunk(7, kChatEndMark).toBytes());
        const QList<MemoryWorld::Sent> after = rig.takeFs();
        QCOMPARE(after.size(), 1);
        QCOMPARE(simChatText(after[0]), normal);
    }
    QCOMPARE(rig.logLines().count(QStringLiteral(" - Unfinished chat from Bob dropped")), 2);
    // Pieces that keep coming within 5 s of each other stay one message.
    rig.link.Process_TCPPacket(toClient::chatChunk(7, QString(56, u'x')).toBytes());
    rig.clock.advanceMs(5000);
    rig.link.Process_TCPPacket(toClient::chatChunk(7, QStringLiteral("y")).toBytes());
    rig.link.Process_TCPPacket(toClient::chatChunk(7, kChatEndMark).toBytes());
    QCOMPARE(simChatText(rig.takeFs().value(0)), QString(56, u'x') + QStringLiteral("y"));
}

// A text from the server ends at its first U+0000: in the simulator, in the registry and in
// the log, which never holds a NUL.
void TestServerReactions::receivedTextsEndAtNul() {
    LinkRig rig;
    QVERIFY(rig.connectAndSendLogon());
    rig.toClientTcp(toClient::logonAccepted(LinkRig::kSession, QStringLiteral("Hi\0there")));
    QTRY_VERIFY_WITH_TIMEOUT(rig.link.blnConnected(), LinkRig::kWaitMs);
    QCOMPARE(simChatText(rig.takeFs().first()), QStringLiteral("Hi"));

    const qint32 id = rig.readyPilot(7, QStringLiteral("Nul\0Name"));
    QVERIFY(id != 0);
    QCOMPARE(rig.world.playerFriendlyName(id), QStringLiteral("Nul"));
    rig.takeFs();
    rig.toClientTcp(toClient::aircraftDetails(7, 1, QStringLiteral("Jet\0Hidden")));
    QTRY_COMPARE_WITH_TIMEOUT(rig.world.sentToHost().size(), 1, LinkRig::kWaitMs);
    QCOMPARE(rig.players.Item(1)->Aircraft_Name, QStringLiteral("Jet"));
    rig.toClientTcp(toClient::chatChunk(7, QStringLiteral("one\0two")));
    rig.toClientTcp(toClient::chatChunk(7, kChatEndMark));
    QTRY_COMPARE_WITH_TIMEOUT(rig.world.sentToHost().size(), 2, LinkRig::kWaitMs);
    QCOMPARE(simChatText(rig.world.sentToHost().at(1)), QStringLiteral("one"));

    QFile log(rig.dir.filePath(QStringLiteral("log.txt")));
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray bytes = log.readAll();
    QVERIFY(bytes.contains("User Changed Plane Nul Jet"));
    QVERIFY(!bytes.contains('\0'));
}

void TestServerReactions::remotePlayerLife() {
    LinkRig rig;
    rig.ini.WriteINI(QStringLiteral("Aliasing"), QStringLiteral("Cessna Skyhawk"), QStringLiteral("Piper Cub"));
    rig.reportAircraft(0, QStringLiteral("Trainer"));
    QVERIFY(rig.logon());
    rig.takeFs();

    rig.toClientUdp(toClient::playerJoined(7, QStringLiteral("Bob")));
    QTRY_COMPARE_WITH_TIMEOUT(rig.players.Count(), 1, kWait);
    const Players::PlayerPtr p = rig.players.Item(1);
    const qint32 bob = p->Key.toInt();
    QCOMPARE(p->Server_Session_ID, 7);
    QCOMPARE(rig.world.playerFriendlyName(bob), QStringLiteral("Bob"));
    QVERIFY(rig.world.groupMembers(rig.requestGroup).contains(bob));

    // No position for him until the simulator has approved him and his aircraft is known.
    rig.toClientUdp(toClient::positionUpdate(7, block(1)));
    QVERIFY(rig.udpHandled());
    rig.approve(bob);
    QVERIFY(p->Add_Success);
    rig.toClientUdp(toClient::positionUpdate(7, block(2)));
    QVERIFY(rig.udpHandled());
    rig.toClientTcp(toClient::aircraftDetails(7, 1, QStringLiteral("Cessna Skyhawk")));
    QTRY_VERIFY_WITH_TIMEOUT(p->RcvdPlaneType, kWait);
    QCOMPARE(p->Aircraft_Name, QStringLiteral("Cessna Skyhawk"));
    rig.toClientUdp(toClient::positionUpdate(7, block(3)));
    QTRY_COMPARE_WITH_TIMEOUT(rig.world.sentToHost().size(), 3, kWait);

    const QList<MemoryWorld::Sent> fs = rig.takeFs();
    QCOMPARE(simNumber(fs[0]), simMsgNumber(SimMsg::AddPlayerRequest));
    QCOMPARE(fs[1].from, bob);
    QCOMPARE(fs[1].bytes,
             fromFs([](SimMessage& m) { sim::writeAircraftDetails(m, 1, QStringLiteral("Piper Cub")); }).bytes());
    QCOMPARE(fs[2].from, bob);
    QCOMPARE(fs[2].bytes, fromFs([](SimMessage& m) { sim::writePositionUpdate(m, block(3)); }).bytes());
    QVERIFY(rig.logLines().contains(QStringLiteral(" - User Changed Plane Bob Cessna Skyhawk")));

    // He crashes, then asks what we fly.
    const QString crash = QStringLiteral("went down near the lake");
    rig.toClientUdp(toClient::playerCrashed(7, crash));
    rig.toClientUdp(toClient::queryPlane(7));
    QTRY_COMPARE_WITH_TIMEOUT(rig.udpIn().size(), 1, kWait);
    QCOMPARE(rig.udpIn()[0], toServer::aircraftDetails(LinkRig::kSession, 0, QStringLiteral("Trainer"), false));
    const QList<MemoryWorld::Sent> crashFs = rig.takeFs();
    QCOMPARE(crashFs.size(), 1);
    QCOMPARE(simChatText(crashFs[0]), QStringLiteral("Bob ") + crash.leftJustified(CrashNotice::kTextChars));
    QVERIFY(rig.soundOut.cues().contains(QStringLiteral("crash.wav")));
    QVERIFY(rig.logLines().contains(QStringLiteral(" - Query Plane rcvd from Bob")));

    rig.toClientTcp(toClient::playerLeft(7));
    QTRY_COMPARE_WITH_TIMEOUT(rig.players.Count(), 0, kWait);
    QVERIFY(!rig.world.playerExists(bob));
    QVERIFY(rig.logLines().contains(QStringLiteral(" - Removed Player Bob")));
}

void TestServerReactions::positionRoad() {
    LinkRig rig;
    QVERIFY(rig.logon());
    const qint32 bob = rig.readyPilot(7, QStringLiteral("Bob"));
    QVERIFY(bob != 0);
    rig.takeFs();

    // The user's aircraft moves: FS to the observer, the pump, one datagram to the server.
    rig.world.sendFromHost(rig.hostId, rig.sim.lngMyPlayerID(),
                           fromFs([](SimMessage& m) { sim::writePositionUpdate(m, block(5)); }));
    rig.sim.pumpMessages();
    QTRY_COMPARE_WITH_TIMEOUT(rig.udpIn().size(), 1, kWait);
    QCOMPARE(rig.udpIn()[0], toServer::positionUpdate(LinkRig::kSession, block(5)));

    // Bob's moves: one datagram from the server, the same block into FS from his player.
    rig.toClientUdp(toClient::positionUpdate(7, block(9)));
    QTRY_COMPARE_WITH_TIMEOUT(rig.world.sentToHost().size(), 1, kWait);
    const MemoryWorld::Sent s = rig.takeFs().first();
    QCOMPARE(s.from, bob);
    QCOMPARE(s.to, 0);
    QCOMPARE(s.bytes, fromFs([](SimMessage& m) { sim::writePositionUpdate(m, block(9)); }).bytes());

    // Announced twice: still one pilot, one player in FS, each position once.
    rig.toClientUdp(toClient::playerJoined(7, QStringLiteral("Bob")));
    rig.toClientTcp(toClient::aircraftDetails(7, 0, QStringLiteral("Cessna")));
    QTRY_COMPARE_WITH_TIMEOUT(rig.world.sentToHost().size(), 1, kWait); // the details, again from Bob
    QCOMPARE(rig.takeFs().first().from, bob);
    QCOMPARE(rig.players.Count(), 1);
    rig.toClientUdp(toClient::positionUpdate(7, block(10)));
    QVERIFY(rig.udpHandled());
    const QList<MemoryWorld::Sent> once = rig.takeFs();
    QCOMPARE(once.size(), 1);
    QCOMPARE(once[0].from, bob);
}

void TestServerReactions::trafficPicture() {
    LinkRig rig;
    rig.ini.WriteINI(QStringLiteral("Aliasing"), QStringLiteral("Cessna"), QStringLiteral("Piper Cub"));
    auto at = [](double lat, double lon, double ft) {
        wire::AircraftPosition p;
        p.latitudeDeg = lat;
        p.longitudeDeg = lon;
        p.altitudeFt = ft;
        p.headingDeg = 90;
        p.groundSpeedKt = 120;
        return wire::encodePosition(p);
    };
    auto fromUser = [&rig](const QByteArray& b) {
        rig.world.sendFromHost(rig.hostId, rig.sim.lngMyPlayerID(), fromFs([&b](SimMessage& m) {
                                   m.WriteLong(simMsgNumber(SimMsg::PositionUpdate));
                                   m.WriteLong(static_cast<qint32>(b.size()));
                                   m.writeBytes(b);
                               }));
        rig.sim.pumpMessages();
    };

    // Before the logon: a short block is left unread, as ever, and a whole one is kept.
    fromUser(QByteArray(10, 'x'));
    QVERIFY(rig.relay.myPosition().isEmpty());
    fromUser(at(47.45, -122.31, 1500)); // over Seattle-Tacoma
    QVERIFY(rig.logLines().filter(QStringLiteral("Error")).isEmpty());

    QVERIFY(rig.logon());
    QVERIFY(rig.readyPilot(7, QStringLiteral("Far")) != 0);
    QVERIFY(rig.readyPilot(8, QStringLiteral("Near")) != 0);
    QVERIFY(rig.readyPilot(9, QStringLiteral("Silent")) != 0);
    QVERIFY(rig.readyPilot(10, QStringLiteral("Lost")) != 0);
    rig.toClientUdp(toClient::positionUpdate(7, at(47.91, -122.28, 3000))); // Paine Field, 27.6 nm
    rig.toClientUdp(toClient::positionUpdate(8, at(47.53, -122.30, 2000))); // Boeing Field, 4.8 nm
    wire::PositionBlockFields inSpace;
    inSpace.altitude = qint64{40000} << 16; // 40 km up: no aircraft is there
    rig.toClientUdp(toClient::positionUpdate(10, inSpace.toBytes()));
    QVERIFY(rig.udpHandled());
    rig.clock.advance(3);
    rig.toClientUdp(toClient::positionUpdate(8, at(47.53, -122.30, 2100)));
    QVERIFY(rig.udpHandled());

    const TrafficPicture pic = airmesh::trafficPicture(rig.players, rig.relay, rig.clock.steadyMs());
    QVERIFY(pic.own);
    QCOMPARE(qRound(pic.own->altitudeFt), 1500);
    QCOMPARE(pic.rows.size(), size_t{4});
    QStringList order;
    for (const TrafficRow& r : pic.rows) {
        order << r.handle;
    }
    // Nearest first; those without a distance last, by handle.
    QCOMPARE(order, (QStringList{QStringLiteral("Near"), QStringLiteral("Far"), QStringLiteral("Lost"),
                                 QStringLiteral("Silent")}));
    const TrafficRow& near = pic.rows[0];
    QCOMPARE(near.title, QStringLiteral("Cessna"));
    QCOMPARE(near.shownTitle, QStringLiteral("Piper Cub"));
    QVERIFY(qAbs(*near.distanceNm - 4.8) < 0.1);
    QVERIFY(*near.bearingDeg < 10 || *near.bearingDeg > 350);
    QCOMPARE(qRound(near.position->altitudeFt), 2100);
    QCOMPARE(near.heardSeconds, 0);
    QVERIFY(qAbs(*pic.rows[1].distanceNm - 27.6) < 0.3);
    QCOMPARE(pic.rows[1].heardSeconds, 3);
    QVERIFY(pic.rows[2].heard && !pic.rows[2].position);
    QVERIFY(!pic.rows[3].heard && pic.rows[3].heardSeconds == -1);
}

// What the simulator is told a remote pilot flies: the user's alias first, else the closest
// installed aircraft, logged once per title; the registry keeps both titles.
void TestServerReactions::remoteAircraftShownAsTheClosestInstalled() {
    LinkRig rig;
    Hangar hangar;
    for (const char* title : {"Learjet 45", "Boeing 737-400", "Cessna Skyhawk 172SP"}) {
        hangar.Add(QLatin1String(title));
    }
    rig.relay.useHangar(hangar);
    rig.ini.WriteINI(QStringLiteral("Aliasing"), QStringLiteral("Learjet 45 Medevac"),
                     QStringLiteral("Boeing 737-400"));
    QVERIFY(rig.logon());
    const qint32 ice = rig.readyPilot(7, QStringLiteral("Iceman"));
    QVERIFY(ice != 0);
    auto sentTitle = [&rig](const QString& remote) {
        rig.takeFs();
        rig.toClientTcp(toClient::aircraftDetails(7, 1, remote));
        const bool arrived = QTest::qWaitFor([&] { return !rig.world.sentToHost().isEmpty(); }, kWait);
        SimMessage m(arrived ? rig.takeFs().first().bytes : QByteArray());
        return arrived ? (sim::readHeader(m), sim::readAircraftDetails(m).title) : QString();
    };
    QCOMPARE(sentTitle(QStringLiteral("Learjet 45 Air Ambulance")), QStringLiteral("Learjet 45"));
    QCOMPARE(rig.players.Item(1)->Aircraft_Name, QStringLiteral("Learjet 45 Air Ambulance"));
    QCOMPARE(rig.players.Item(1)->shownTitle, QStringLiteral("Learjet 45"));
    QCOMPARE(sentTitle(QStringLiteral("Learjet 45 Air Ambulance")), QStringLiteral("Learjet 45"));
    QCOMPARE(rig.logLines().filter(QStringLiteral(" - Matched Learjet 45 Air Ambulance to Learjet 45 (")).size(), 1);
    // The user's own alias wins over any match.
    QCOMPARE(sentTitle(QStringLiteral("Learjet 45 Medevac")), QStringLiteral("Boeing 737-400"));
    // Switched off: the remote title goes as it came.
    rig.ini.WriteINI(QStringLiteral("General"), QStringLiteral("AutoMatch"), QStringLiteral("0"));
    QCOMPARE(sentTitle(QStringLiteral("Learjet 45 Air Ambulance")), QStringLiteral("Learjet 45 Air Ambulance"));
}

void TestServerReactions::handlerFailureLogged() {
    LinkRig rig;
    pretendLoggedOn(rig);
    // A player the session cannot make: logged, and the pilot waits to be tried again.
    rig.faults.failOperation(Op::CreatePlayer, dp::DPERR_INVALIDPARAMS);
    rig.link.Process_Packet(toClient::playerJoined(7, QStringLiteral("Bob")).toBytes());
    QVERIFY(
        rig.logLines().contains(QStringLiteral(" - Error Add_Remote_Player %1 injected failure, player Bob not made")
                                    .arg(dp::DPERR_INVALIDPARAMS)));
    QCOMPARE(rig.players.Count(), 1);
    QVERIFY(!rig.players.Item(1)->inSession);

    // The next record is handled as if nothing had happened.
    rig.link.Process_TCPPacket(toClient::playerJoined(8, QStringLiteral("Cid")).toBytes());
    QCOMPARE(rig.players.Count(), 2);
    QVERIFY(rig.players.findBySession(8)->inSession);
    rig.clock.advanceMs(Relay::kRetryShowMs);
    rig.relay.keepPlaces();
    QVERIFY(rig.players.findBySession(7)->inSession);

    rig.faults.failOperation(Op::Send, dp::DPERR_GENERIC);
    rig.link.Process_TCPPacket(toClient::aircraftDetails(8, 1, QStringLiteral("Jet")).toBytes());
    QVERIFY(rig.logLines().contains(
        QStringLiteral(" - Error Process_TCPPacket %1 injected failure").arg(dp::DPERR_GENERIC)));
}

QTEST_GUILESS_MAIN(TestServerReactions)
#include "tst_serverreactions.moc"
