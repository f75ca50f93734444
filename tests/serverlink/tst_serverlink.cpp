// The server link against a scripted server on loopback sockets, with the simulator played by
// the in-memory session: logon outcomes, tear-down, heartbeat, post-connect sends, chat out and
// the records the client must ignore. The reactions to the records are the relay's tests.
#include "linkrig.h"

#include <QtTest>

using namespace airmesh;
using namespace airmesh::wire;
using Op = FakeSessionFaults::Op;

Q_DECLARE_METATYPE(airmesh::wire::Transport)
Q_DECLARE_METATYPE(airmesh::wire::ServerRecord)

namespace {

constexpr int kWait = LinkRig::kWaitMs;
QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Logged on as far as the record handlers can tell, without sockets.
void pretendLoggedOn(LinkRig& rig) {
    airmesh::pretendLoggedOn(rig.link, LinkRig::kSession, rig.clock.now());
}

// The state the link is in, its status text, and that both were reported as they are.
void checkState(const LinkRig& rig, LinkState state, const QString& status) {
    QCOMPARE(rig.link.state(), state);
    QCOMPARE(rig.link.statusText(), status);
    QVERIFY(!rig.reported.isEmpty());
    QCOMPARE(rig.reported.last(), std::make_pair(state, status));
}

} // namespace

class TestServerLink : public QObject {
    Q_OBJECT

private slots:
    void logonAccepted_data();
    void logonAccepted();
    void logonRejectedThenRetried();
    void logonTimesOut();
    void serverClosesDuringLogon();
    void connectFails_data();
    void connectFails();
    void reconnectTakesTheNewAddress();
    void tearDown_data();
    void tearDown();
    void heartBeat();
    void postConnectSends();
    void chatOut();
    void chatOutDroppedWithTheLink();
    void udpOnlyFromTheServersPort();
    void recordsIgnored_data();
    void recordsIgnored();
    void strangerDatagramsIgnored();
};

void TestServerLink::logonAccepted_data() {
    QTest::addColumn<Transport>("via");
    QTest::newRow("UDP") << Transport::Udp;
    QTest::newRow("TCP") << Transport::Tcp;
}

void TestServerLink::logonAccepted() {
    QFETCH(Transport, via);
    LinkRig rig;
    const QByteArray settingsBefore = readAll(rig.ini.FileName());
    rig.link.Connect(rig.settings());
    checkState(rig, LinkState::Connecting, QStringLiteral("Disconnected"));
    QCOMPARE(readAll(rig.ini.FileName()), settingsBefore); // the link touches no settings

    QTRY_COMPARE_WITH_TIMEOUT(rig.tcpRecords().size(), 1, kWait);
    QCOMPARE(rig.tcpRecords().first(), toServer::logonRequest(1234, 5678, QStringLiteral("Ace")));
    checkState(rig, LinkState::AwaitingLogon, QStringLiteral("Awaiting Server Logon Validation"));

    const ServerRecord accepted = toClient::logonAccepted(LinkRig::kSession, QStringLiteral("  Welcome aboard"));
    via == Transport::Udp ? rig.toClientUdp(accepted) : rig.toClientTcp(accepted);
    QTRY_VERIFY_WITH_TIMEOUT(rig.link.blnConnected(), kWait);

    QCOMPARE(rig.link.lngSessionID(), LinkRig::kSession);
    QVERIFY(!rig.link.isConnecting());
    checkState(rig, LinkState::LoggedOn, QStringLiteral("Connected"));
    QCOMPARE(rig.reported.size(), 3); // Connecting, AwaitingLogon, LoggedOn
    QVERIFY(rig.link.Timer2().isActive());
    QCOMPARE(rig.soundOut.cues(), QStringList{QStringLiteral("connected.wav")});

    // The greeting as a text line, then the simulator asked for the user's aircraft.
    const QList<MemoryWorld::Sent> fs = rig.takeFs();
    QCOMPARE(fs.size(), 2);
    QCOMPARE(fs[0].from, rig.sim.lngMyPlayerID());
    QCOMPARE(fs[0].to, 0);
    QCOMPARE(simChatText(fs[0]), QStringLiteral("Welcome aboard"));
    QCOMPARE(fs[1].from, rig.sim.lngMyPlayerID());
    QCOMPARE(fs[1].to, rig.hostId);
    QCOMPARE(fs[1].bytes, QByteArray::fromHex("0f1000000000000000"));

    const QStringList log = rig.logLines();
    QVERIFY(log.contains(QStringLiteral(" - Connection to Server established, awaiting logon validation")));
    QVERIFY(log.contains(QStringLiteral(" - Server accepted Logon Credentials")));
    QVERIFY(log.contains(QStringLiteral(" - Query Plane")));
}

void TestServerLink::logonRejectedThenRetried() {
    LinkRig rig;
    QVERIFY(rig.connectAndSendLogon());
    rig.toClientUdp(toClient::logonRejected());
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.isConnecting(), kWait);

    checkState(rig, LinkState::Rejected, QStringLiteral("Logon rejected...Check details and try again"));
    QVERIFY(!rig.link.blnConnected());
    QVERIFY(!rig.link.Timer2().isActive());
    QCOMPARE(rig.soundOut.cues(), QStringList{QStringLiteral("incoming.wav")});
    const QList<MemoryWorld::Sent> fs = rig.takeFs();
    QCOMPARE(fs.size(), 1);
    QCOMPARE(simChatText(fs[0]), QStringLiteral("Server rejected your logon."));
    QVERIFY(rig.logLines().contains(QStringLiteral(" - Server rejected Logon Credentials")));
    // A rejection leaves the connection open, and a late acceptance finds no Connect waiting.
    QCOMPARE(rig.link.ctlTCPSock().State(), int(SocketState::Connected));
    rig.link.Process_TCPPacket(toClient::logonAccepted(LinkRig::kSession, {}).toBytes());
    QVERIFY(!rig.link.blnConnected());

    // The next Connect replaces that connection with a new one and logs on.
    QVERIFY(rig.logon(Transport::Tcp));
}

void TestServerLink::logonTimesOut() {
    LinkRig rig;
    // Waiting starts 0.9 s into a second: only whole-second boundaries count.
    rig.clock.set(QDateTime(QDate(2026, 1, 1), QTime(12, 0, 0, 900)));
    QVERIFY(rig.connectAndSendLogon());

    rig.clock.set(QDateTime(QDate(2026, 1, 1), QTime(12, 0, 20, 999)));
    QVERIFY(rig.link.linkWatch());
    QVERIFY(rig.link.isConnecting());
    checkState(rig, LinkState::AwaitingLogon, QStringLiteral("Awaiting Server Logon Validation"));

    rig.clock.advanceMs(1);
    QVERIFY(rig.link.linkWatch());
    QVERIFY(!rig.link.isConnecting());
    checkState(rig, LinkState::TimedOut, QStringLiteral("Timed out, no response...Please try again"));

    // An answer after the wait is over changes nothing.
    rig.link.Process_Packet(toClient::logonAccepted(LinkRig::kSession, {}).toBytes());
    QVERIFY(!rig.link.blnConnected());
    QCOMPARE(rig.link.state(), LinkState::TimedOut);
}

void TestServerLink::serverClosesDuringLogon() {
    LinkRig rig;
    QVERIFY(rig.connectAndSendLogon());
    rig.peer()->close();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.isConnecting(), kWait);
    checkState(rig, LinkState::Lost, QStringLiteral("Server connection lost...Please reconnect"));

    // The wait is over: no time-out replaces what the window shows.
    rig.clock.advance(ServerLink::kLogonWaitSeconds + 1);
    rig.link.linkWatch();
    checkState(rig, LinkState::Lost, QStringLiteral("Server connection lost...Please reconnect"));
}

void TestServerLink::connectFails_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("pilotId");
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("logged");

    QTest::newRow("no server listening") << "127.0.0.1"
                                         << "1234"
                                         << "no listener"
                                         << " - TCP ERR: 10061 ";
    QTest::newRow("pilot ID not a number") << "127.0.0.1"
                                           << "12a"
                                           << ""
                                           << " - Error while connecting Type mismatch: the Pilot ID is not a number";
    QTest::newRow("no address") << ""
                                << "1234"
                                << ""
                                << " - Error while connecting No server address given";
    QTest::newRow("client UDP port taken") << "127.0.0.1"
                                           << "1234"
                                           << "port taken"
                                           << " - Error while connecting ";
}

void TestServerLink::connectFails() {
    QFETCH(QString, host);
    QFETCH(QString, pilotId);
    QFETCH(QString, setup);
    QFETCH(QString, logged);
    LinkRig rig;
    QUdpSocket squatter;
    if (setup == QLatin1String("no listener")) {
        rig.server.tcp.close();
    } else if (setup == QLatin1String("port taken")) {
        QVERIFY(squatter.bind(QHostAddress::AnyIPv4, rig.clientPort));
    }

    rig.link.Connect(rig.settings(host, pilotId));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.isConnecting(), kWait);

    checkState(rig, LinkState::Error, QStringLiteral("Error Encountered...See Debugging"));
    QVERIFY(!rig.link.blnConnected());
    QVERIFY(rig.tcpIn().isEmpty());
    const QStringList log = rig.logLines();
    QVERIFY2(std::any_of(log.begin(), log.end(), [&](const QString& l) { return l.startsWith(logged); }),
             qPrintable(log.join(QLatin1Char('\n'))));
    QVERIFY(std::any_of(log.begin(), log.end(),
                        [](const QString& l) { return l.startsWith(QLatin1String(" - Error while connecting ")); }));
}

void TestServerLink::reconnectTakesTheNewAddress() {
    LinkRig rig;
    // A mistyped address first: nothing listens there, but the UDP socket is bound and addressed.
    rig.link.Connect(rig.settings(QStringLiteral("127.0.0.9")));
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.isConnecting(), kWait);
    checkState(rig, LinkState::Error, QStringLiteral("Error Encountered...See Debugging"));
    QCOMPARE(rig.link.ctlWinsock().localPort(), int(rig.clientPort));

    // Corrected: the binding is kept, and the server's datagrams (the acceptance comes over UDP)
    // are taken, and ours reach it.
    QVERIFY(rig.logon(Transport::Udp));
    QCOMPARE(rig.link.ctlWinsock().localPort(), int(rig.clientPort));
    QVERIFY(rig.link.linkWatch());
    QTRY_COMPARE_WITH_TIMEOUT(rig.udpIn().size(), 1, kWait);
    QCOMPARE(rig.udpIn()[0], toServer::heartBeat(LinkRig::kSession));
}

void TestServerLink::tearDown_data() {
    QTest::addColumn<bool>("byClose");
    QTest::newRow("server closes the TCP connection") << true;
    QTest::newRow("60 s without an acknowledgement") << false;
}

void TestServerLink::tearDown() {
    QFETCH(bool, byClose);
    LinkRig rig;
    QVERIFY(rig.logon());
    const qint32 bob = rig.readyPilot(7, QStringLiteral("Bob"));
    QVERIFY(bob != 0);
    rig.takeFs();
    rig.soundOut.started.clear();

    if (byClose) {
        rig.peer()->close();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.link.blnConnected(), kWait);
    } else {
        // Positions and membership records are no sign of life; only acknowledgements are.
        rig.clock.advance(59);
        QVERIFY(rig.link.linkWatch());
        QVERIFY(rig.link.blnConnected());
        rig.clock.advance(1);
        QVERIFY(!rig.link.linkWatch());
        QVERIFY(!rig.link.blnConnected());
    }

    const QList<MemoryWorld::Sent> fs = rig.takeFs();
    QCOMPARE(fs.size(), 1);
    QCOMPARE(simChatText(fs[0]), QStringLiteral("Server connection lost."));
    QVERIFY(!rig.world.playerExists(bob));
    QCOMPARE(rig.players.Count(), 0);
    const QStringList log = rig.logLines();
    const qsizetype removed = log.indexOf(QStringLiteral(" - Removed Player Bob"));
    QVERIFY(removed >= 0);
    QCOMPARE(log.indexOf(QStringLiteral(" - Disconnected from Server")), removed + 1);

    checkState(rig, LinkState::Lost, QStringLiteral("Server connection lost...Please reconnect"));
    QVERIFY(!rig.link.Timer2().isActive());
    QCOMPARE(rig.link.lngSessionID(), 0);
    QCOMPARE(rig.soundOut.cues(), QStringList{QStringLiteral("incoming.wav")});
    QCOMPARE(rig.link.ctlTCPSock().State(), int(SocketState::Closed));
    QCOMPARE(rig.link.ctlWinsock().State(), int(SocketState::Open));

    // Logged off, the clocks never fire, however old their times.
    rig.clock.advance(3600);
    QVERIFY(rig.link.linkWatch());
    QCOMPARE(rig.logLines().count(QStringLiteral(" - Disconnected from Server")), 1);
}

void TestServerLink::heartBeat() {
    LinkRig rig;
    const QDate day(2026, 1, 1);
    rig.clock.set(QDateTime(day, QTime(12, 0, 0, 900)));
    QVERIFY(rig.logon());
    auto acknowledge = [&rig] {
        rig.toClientUdp(toClient::heartBeatAck());
        return QTest::qWaitFor([&rig] { return rig.link.dtLastServerAck() == rig.clock.now(); }, kWait);
    };

    // The first tick after the logon sends one.
    QVERIFY(rig.link.linkWatch());
    QTRY_COMPARE_WITH_TIMEOUT(rig.udpIn().size(), 1, kWait);
    QCOMPARE(rig.udpIn()[0], toServer::heartBeat(LinkRig::kSession));
    QCOMPARE(rig.udpIn()[0].toBytes().mid(kRecordHeaderBytes), QByteArray(kRecordBodyBytes, '\0'));

    // 14.1 s later 14 boundaries are crossed: not yet; at 15.0 s it is 15.
    rig.clock.set(QDateTime(day, QTime(12, 0, 14, 999)));
    rig.link.linkWatch();
    QCOMPARE(rig.link.dtLastHeartBeat(), QDateTime(day, QTime(12, 0, 0, 900)));
    rig.clock.set(QDateTime(day, QTime(12, 0, 15, 0)));
    rig.link.linkWatch();
    QCOMPARE(rig.link.dtLastHeartBeat(), rig.clock.now());
    QVERIFY(acknowledge());

    // A server that acknowledges every heartbeat keeps the client logged on.
    for (int i = 0; i < 12; ++i) {
        rig.clock.advance(ServerLink::kHeartBeatSeconds);
        QVERIFY(rig.link.linkWatch());
        QVERIFY(acknowledge());
    }
    QVERIFY(rig.link.blnConnected());
    QTRY_COMPARE_WITH_TIMEOUT(rig.udpIn().size(), 14, kWait);
    QVERIFY(rig.logLines().contains(QStringLiteral(" - Ack to Heartbeat, Server still there")));
}

void TestServerLink::postConnectSends() {
    LinkRig rig;
    rig.reportAircraft(1, QStringLiteral("Jetliner 400-B"));
    const ServerRecord details =
        toServer::aircraftDetails(LinkRig::kSession, 1, QStringLiteral("Jetliner 400-B"), true);
    auto intervalsOfTicks = [&rig](int n) {
        QList<int> intervals;
        for (int i = 0; i < n; ++i) {
            rig.link.Timer2_Timer();
            intervals << rig.link.Timer2().interval();
        }
        return intervals;
    };

    // First logon of the run: every 60 s.
    QVERIFY(rig.logon());
    QCOMPARE(intervalsOfTicks(4), (QList<int>{60000, 60000, 60000, 60000}));
    QTRY_COMPARE_WITH_TIMEOUT(rig.tcpRecords().size(), 5, kWait);
    for (int i = 1; i <= 4; ++i) {
        QCOMPARE(rig.tcpRecords()[i], details);
        QVERIFY(rig.logLines().contains(QStringLiteral(" - Postconnect Send Ac Details %1").arg(i)));
    }

    // After a loss: 30, 60, 90 s, then every 60 s again.
    rig.peer()->close();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.blnConnected(), kWait);
    QVERIFY(rig.logon());
    QVERIFY(rig.link.Timer2().isActive());
    QCOMPARE(intervalsOfTicks(4), (QList<int>{30000, 30000, 60000, 60000}));
    QTRY_COMPARE_WITH_TIMEOUT(rig.tcpRecords().size(), 5, kWait);
    QCOMPARE(rig.tcpRecords()[4], details);

    // A tick that finds the link down stops the timer.
    rig.peer()->close();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.blnConnected(), kWait);
    ClientFixture::pretendPostConnectSends(rig.link, 5);
    rig.link.Timer2_Timer();
    QVERIFY(!rig.link.Timer2().isActive());
    QCOMPARE(rig.link.intPostConnectCount(), 0);
}

void TestServerLink::chatOut() {
    LinkRig rig;
    QVERIFY(rig.logon());
    QString text;
    for (int i = 0; i < 120; ++i) {
        text.append(QChar(u'a' + i % 26));
    }
    auto typeInFs = [&rig](const QString& line) {
        rig.world.sendFromHost(rig.hostId, rig.sim.lngMyPlayerID(),
                               fromFs([&](SimMessage& m) { sim::writeChat(m, SimMsg::ChatMessage, line); }));
        rig.sim.pumpMessages();
    };
    typeInFs(text);
    typeInFs(QStringLiteral("second"));

    // One record handed to the socket; the rest wait for its completion.
    const auto* tcp = rig.link.ctlTCPSock().findChild<QTcpSocket*>();
    QVERIFY(tcp);
    QCOMPARE(tcp->bytesToWrite(), qint64(kRecordBytes));
    QVERIFY(rig.link.blnTCPSending());

    QTRY_COMPARE_WITH_TIMEOUT(rig.tcpRecords().size(), 7, kWait);
    const QStringList pieces{text.mid(0, 56), text.mid(56, 56),         text.mid(112),
                             kChatEndMark,    QStringLiteral("second"), kChatEndMark};
    for (int i = 0; i < pieces.size(); ++i) {
        QCOMPARE(rig.tcpRecords()[i + 1], toServer::chatChunk(LinkRig::kSession, pieces[i]));
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.logLines().count(QStringLiteral(" - Send Chat to Host")), 2, kWait);
    QVERIFY(!rig.link.blnTCPSending());
}

void TestServerLink::chatOutDroppedWithTheLink() {
    LinkRig rig;
    QVERIFY(rig.logon());
    rig.link.sendChat(QString(56 * 20, QLatin1Char('x')));
    rig.peer()->abort();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.blnConnected(), kWait);
    QVERIFY(!rig.link.blnTCPSending());

    // Nothing of it follows on the next connection, and it never counted as sent.
    QVERIFY(rig.logon());
    rig.link.Timer2_Timer();
    QTRY_COMPARE_WITH_TIMEOUT(rig.tcpRecords().size(), 2, kWait);
    QCOMPARE(rig.tcpRecords()[1].type(), RecordType::AircraftDetails);
    QVERIFY(!rig.logLines().contains(QStringLiteral(" - Send Chat to Host")));
}

// Datagrams from the server's address but another port are no more the server's than a
// stranger's: no player, no position, and no acknowledgement that keeps a dead link "Connected".
void TestServerLink::udpOnlyFromTheServersPort() {
    LinkRig rig;
    QVERIFY(rig.logon());
    QUdpSocket forger;
    QVERIFY(forger.bind(QHostAddress::LocalHost, 0));
    const auto forge = [&](const ServerRecord& r) {
        forger.writeDatagram(r.toBytes(), QHostAddress::LocalHost, rig.clientPort);
    };
    forge(toClient::playerJoined(9, QStringLiteral("Mallory")));
    forge(toClient::heartBeatAck());
    QVERIFY(rig.udpHandled()); // the server's own datagram behind the forged ones was handled
    QCOMPARE(rig.players.Count(), 0);

    // The server goes on sending, but no longer answers heartbeats; the forger does.
    for (int s = 1; s <= ServerLink::kServerSilenceSeconds / 10; ++s) {
        rig.clock.advance(10);
        forge(toClient::heartBeatAck());
        rig.toClientUdp(toClient::playerJoined(100 + s, QStringLiteral("P%1").arg(s)));
        QTRY_COMPARE_WITH_TIMEOUT(rig.players.Count(), s, LinkRig::kWaitMs);
        rig.link.linkWatch();
    }
    QVERIFY(!rig.link.blnConnected());
    QVERIFY(!rig.logLines().join('\n').contains(QStringLiteral("Mallory")));
}

void TestServerLink::recordsIgnored_data() {
    QTest::addColumn<ServerRecord>("record");
    QTest::addColumn<Transport>("via");

    ServerRecord joinedAsRelay = toClient::playerJoined(9, QStringLiteral("Eve"));
    joinedAsRelay.Category = 1;
    ServerRecord otherCategory = toClient::positionUpdate(7, block(3));
    otherCategory.Category = 2;
    QTest::newRow("PlayerJoined as a relay record") << joinedAsRelay << Transport::Udp;
    QTest::newRow("category 2") << otherCategory << Transport::Udp;
    QTest::newRow("PositionUpdate over TCP") << toClient::positionUpdate(7, block(3)) << Transport::Tcp;
    QTest::newRow("QueryPlane over TCP") << toClient::queryPlane(7) << Transport::Tcp;
    QTest::newRow("HeartBeat over TCP") << toClient::heartBeatAck() << Transport::Tcp;
    QTest::newRow("PlayerCrashed over TCP") << toClient::playerCrashed(7, QStringLiteral("x")) << Transport::Tcp;
    QTest::newRow("AircraftDetails over UDP")
        << toClient::aircraftDetails(7, 1, QStringLiteral("Jet")) << Transport::Udp;
    QTest::newRow("ChatChunk over UDP") << toClient::chatChunk(7, kChatEndMark) << Transport::Udp;
}

void TestServerLink::recordsIgnored() {
    QFETCH(ServerRecord, record);
    QFETCH(Transport, via);
    LinkRig rig;
    pretendLoggedOn(rig);
    rig.sim.Add_Remote_Player(QStringLiteral("Bob"), 7);
    const Players::PlayerPtr bob = rig.players.Item(1);
    bob->Add_Success = bob->RcvdPlaneType = true;
    bob->ChatText = QStringLiteral("pending");
    rig.takeFs();
    rig.clock.advance(5);
    const QStringList logBefore = rig.logLines();

    via == Transport::Udp ? rig.link.Process_Packet(record.toBytes()) : rig.link.Process_TCPPacket(record.toBytes());

    QVERIFY(rig.takeFs().isEmpty());
    QCOMPARE(rig.players.Count(), 1);
    QCOMPARE(bob->ChatText, QStringLiteral("pending"));
    QCOMPARE(rig.link.dtLastServerAck(), rig.clock.now().addSecs(-5));
    QVERIFY(rig.link.blnConnected());
    QVERIFY(rig.soundOut.cues().isEmpty());
    QCOMPARE(rig.logLines(), logBefore); // not even an error: the UDP socket is closed here
}

void TestServerLink::strangerDatagramsIgnored() {
    LinkRig rig;
    QVERIFY(rig.logon());
    QUdpSocket stranger;
    QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    stranger.writeDatagram(toClient::playerJoined(9, QStringLiteral("Eve")).toBytes(), QHostAddress::LocalHost,
                           rig.clientPort);
    stranger.writeDatagram(toClient::heartBeatAck().toBytes(), QHostAddress::LocalHost, rig.clientPort);
    rig.toClientUdp(toClient::playerJoined(7, QStringLiteral("Bob")));

    QTRY_VERIFY_WITH_TIMEOUT(rig.players.Count() > 0, kWait);
    QCOMPARE(rig.players.Count(), 1);
    QCOMPARE(rig.players.Item(1)->PlayerHandle, QStringLiteral("Bob"));
    QVERIFY(!rig.logLines().contains(QStringLiteral(" - Ack to Heartbeat, Server still there")));
}

QTEST_GUILESS_MAIN(TestServerLink)
#include "tst_serverlink.moc"
