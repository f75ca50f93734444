#include "serverrig.h"

#include "wire/positionblock.h"

#include <QSignalSpy>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace airmesh;
using namespace airmesh::wire;

namespace {

QByteArray positionBlock(char fill) {
    QByteArray b(PositionUpdate::kBlockBytes, fill);
    b[0] = 'P';
    b[51] = 'Q';
    return b;
}

Accounts accountsOf(const char* text) {
    Accounts::ParseResult r = Accounts::parse(text);
    if (!r.errors.isEmpty()) {
        qFatal("bad test accounts: %s", qPrintable(r.errors.join(u"; ")));
    }
    return std::move(r.accounts);
}

} // namespace

class TestRelayServer : public QObject {
    Q_OBJECT
private slots:
    void logonAcceptedRejectedAndRetried();
    void rejectionGoesToThePortLastSeenFromTheAddress();
    void pilotsLearnEachOtherAndTheEarlierAircraft();
    void udpEndpointLearnedOnlyFromTheConnectionsAddress();
    void positionsQueriesAndCrashesGoToTheOthersOverUdp();
    void summaryShowsEachPilotsLastPosition();
    void withARangePositionsGoOnlyToPilotsNearby();
    void aircraftDetailsOverUdpAndTcpRelayedOverTcp();
    void chatChunksRelayedInOrder();
    void claimedSessionNumbersAreIgnored();
    void wrongRecordsAreDropped_data();
    void wrongRecordsAreDropped();
    void recordsSplitAcrossTcpSegments();
    void closingTheConnectionTellsTheOthers();
    void silentPilotDroppedAfterSixtySeconds();
    void secondLogonOfTheSamePilotReplacesTheFirst();
    void pilotAndConnectionLimits();
    void clientThatDoesNotReadIsDropped();
    void logonGuessingBlockedPerAddress();
    void hashedAccountsCheckedOffTheRelay();
    void logonGuardBackOffAndBounds();
};

void TestRelayServer::logonAcceptedRejectedAndRetried() {
    ServerRig rig(accountsOf("# test accounts\n100 111 Red Baron\n200 222\n"));
    auto p = rig.pilot();
    QVERIFY(p->connected());
    p->toServerUdp(toServer::heartBeat(0)); // shows the server where rejections go
    // Unknown pilot, then wrong password: two rejections over UDP, the connection stays open.
    p->toServerTcp(toServer::logonRequest(999, 111, QStringLiteral("Nobody")));
    p->toServerTcp(toServer::logonRequest(100, 112, QStringLiteral("Baron")));
    QVERIFY(p->waitUdp(2));
    QCOMPARE(p->udpOfType(RecordType::LogonRejected).size(), 2);
    QCOMPARE(p->tcpIn().size(), 0);
    QCOMPARE(p->tcp.state(), QAbstractSocket::ConnectedState);
    QVERIFY(rig.logHas(QStringLiteral("logon rejected: pilot 999")));

    // The right password on the same connection: a session number and the greeting over TCP,
    // and the account's handle, not the client's, for the others.
    QVERIFY(p->logon(100, 111, QStringLiteral("Baron")));
    QVERIFY(p->session > 0);
    QCOMPARE(p->greeting, QStringLiteral("Hello from the test server").leftJustified(LogonAccepted::kGreetingChars));
    QCOMPARE(p->tcpIn().first().Category, 0);
    // Once the heartbeat showed our UDP port, the acceptance came over UDP as well.
    QCOMPARE(p->udpOfType(RecordType::LogonAccepted).size(), 1);
    QCOMPARE(decode<LogonAccepted>(p->udpOfType(RecordType::LogonAccepted).first()).session, p->session);
    QVERIFY(rig.logHas(QStringLiteral("logon: pilot 100 \"Red Baron\" session %1").arg(p->session)));

    auto q = rig.pilot();
    QVERIFY(q->logon(200, 222, QStringLiteral("From client")));
    const auto joined = p->waitTcpType(RecordType::PlayerJoined);
    QVERIFY(joined);
    QCOMPARE(decode<PlayerJoined>(*joined).handle.trimmed(), QStringLiteral("From client"));
    QVERIFY(q->session != p->session);
}

void TestRelayServer::rejectionGoesToThePortLastSeenFromTheAddress() {
    // Default port first: our pilot's UDP port stands in for the clients' usual 1501.
    RelayServerConfig config = ServerRig::defaultConfig();
    QUdpSocket usual;
    QVERIFY(usual.bind(QHostAddress::LocalHost, 0));
    config.limits.defaultClientUdpPort = usual.localPort();
    ServerRig rig(accountsOf("1 1\n"), config);
    auto p = rig.pilot();
    QVERIFY(p->connected());
    p->toServerTcp(toServer::logonRequest(1, 2, QStringLiteral("x")));
    QTRY_VERIFY_WITH_TIMEOUT(usual.hasPendingDatagrams(), kWaitMs);
    const ServerRecord rejected = ServerRecord::fromBytes(usual.receiveDatagram().data());
    QCOMPARE(rejected.type(), RecordType::LogonRejected);
    QCOMPARE(rejected.Category, 0);

    // After a datagram from our own port (anything of record size), the rejection comes there.
    p->toServerUdp(toServer::heartBeat(0));
    p->toServerTcp(toServer::logonRequest(1, 3, QStringLiteral("x")));
    QVERIFY(p->waitUdp(1));
    QCOMPARE(p->udpIn.first().type(), RecordType::LogonRejected);
    QVERIFY(!usual.hasPendingDatagrams());
}

void TestRelayServer::pilotsLearnEachOtherAndTheEarlierAircraft() {
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    // Alpha's client reports its aircraft over UDP with the U+0000 after the title.
    a->toServerUdp(toServer::aircraftDetails(a->session, 1, QStringLiteral("Learjet 45"), true));
    QTRY_COMPARE_WITH_TIMEOUT(rig.server->core().stats().aircraft, quint64(1), kWaitMs);

    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    // Bravo: accepted, then Alpha and Alpha's aircraft, in that order, over TCP.
    QVERIFY(b->waitTcp(3));
    const QList<ServerRecord> in = b->tcpIn();
    QCOMPARE(in[0].type(), RecordType::LogonAccepted);
    QCOMPARE(in[1].type(), RecordType::PlayerJoined);
    QCOMPARE(decode<PlayerJoined>(in[1]).session, a->session);
    QCOMPARE(decode<PlayerJoined>(in[1]).handle, QStringLiteral("Alpha").leftJustified(20));
    QCOMPARE(in[2].type(), RecordType::AircraftDetails);
    QCOMPARE(in[2].Category, 1);
    QCOMPARE(in[2].SenderSession, a->session);
    QCOMPARE(decode<AircraftDetails>(in[2]).engineType, 1);
    // The title as the receiving client needs it: cut at the U+0000, padded with spaces.
    QCOMPARE(decode<AircraftDetails>(in[2]).title,
             QStringLiteral("Learjet 45").leftJustified(AircraftDetails::kTitleChars));

    // Alpha learns Bravo, without aircraft (he has reported none).
    const auto joined = a->waitTcpType(RecordType::PlayerJoined);
    QVERIFY(joined);
    QCOMPARE(decode<PlayerJoined>(*joined).session, b->session);
    QCOMPARE(decode<PlayerJoined>(*joined).handle.trimmed(), QStringLiteral("Bravo"));
    QCOMPARE(a->tcpOfType(RecordType::AircraftDetails).size(), 0);
    QCOMPARE(rig.server->core().pilotCount(), 2);
}

void TestRelayServer::udpEndpointLearnedOnlyFromTheConnectionsAddress() {
    ServerRig rig;
    auto a = rig.pilot();
    QVERIFY(a->connected());
    a->toServerTcp(toServer::logonRequest(1, 1, QStringLiteral("Alpha")));
    const auto accepted = a->waitTcpType(RecordType::LogonAccepted);
    QVERIFY(accepted);
    a->session = decode<LogonAccepted>(*accepted).session;
    auto watcher = rig.loggedOn(2, QStringLiteral("Watcher"));

    // Someone at another address quotes Alpha's session number: not taken for Alpha.
    QUdpSocket elsewhere;
    QVERIFY(elsewhere.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    elsewhere.writeDatagram(toServer::heartBeat(a->session).toBytes(), QHostAddress::LocalHost, rig.server->udpPort());
    elsewhere.writeDatagram(toServer::positionUpdate(a->session, positionBlock('x')).toBytes(), QHostAddress::LocalHost,
                            rig.server->udpPort());
    QTRY_COMPARE_WITH_TIMEOUT(rig.server->core().stats().wrongSourceDatagrams, quint64(2), kWaitMs);

    // Alpha's own first datagram teaches the server his port.
    QVERIFY(a->heartBeat());
    // From then on his endpoint is fixed: another port on his address cannot take it over.
    QUdpSocket samehost;
    QVERIFY(samehost.bind(QHostAddress::LocalHost, 0));
    samehost.writeDatagram(toServer::positionUpdate(a->session, positionBlock('y')).toBytes(), QHostAddress::LocalHost,
                           rig.server->udpPort());
    QTRY_COMPARE_WITH_TIMEOUT(rig.server->core().stats().wrongSourceDatagrams, quint64(3), kWaitMs);

    a->toServerUdp(toServer::positionUpdate(a->session, positionBlock('z')));
    QVERIFY(watcher->waitUdp(3)); // acceptance, heartbeat answer, then the one position
    const QList<ServerRecord> positions = watcher->udpOfType(RecordType::PositionUpdate);
    QCOMPARE(positions.size(), 1);
    QCOMPARE(decode<PositionUpdate>(positions[0]).block, positionBlock('z'));
    QVERIFY(!elsewhere.hasPendingDatagrams());
}

void TestRelayServer::positionsQueriesAndCrashesGoToTheOthersOverUdp() {
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    auto c = rig.loggedOn(3, QStringLiteral("Charlie"));
    const qsizetype bBefore = b->udpIn.size(), cBefore = c->udpIn.size(), aBefore = a->udpIn.size();

    a->toServerUdp(toServer::positionUpdate(a->session, positionBlock('1')));
    a->toServerUdp(toServer::queryPlane(a->session));
    a->toServerUdp(toServer::playerCrashed(a->session));
    for (FakePilot* other : {b.get(), c.get()}) {
        QVERIFY(other->waitUdp((other == b.get() ? bBefore : cBefore) + 3));
        const QList<ServerRecord> in = other->udpIn.mid(other == b.get() ? bBefore : cBefore);
        QCOMPARE(in.size(), 3);
        QCOMPARE(in[0].type(), RecordType::PositionUpdate);
        QCOMPARE(in[0].Category, 1);
        QCOMPARE(in[0].SenderSession, a->session);
        QCOMPARE(decode<PositionUpdate>(in[0]).block, positionBlock('1'));
        // A query carries the asker, whom the client answers with its aircraft.
        QCOMPARE(in[1].type(), RecordType::QueryPlane);
        QCOMPARE(in[1].Category, 1);
        QCOMPARE(in[1].SenderSession, a->session);
        // The crash arrives in the control category, with the text shown after the handle.
        QCOMPARE(in[2].type(), RecordType::PlayerCrashed);
        QCOMPARE(in[2].Category, 0);
        QCOMPARE(in[2].SenderSession, a->session);
        QCOMPARE(decode<CrashNotice>(in[2]).text, RelayCore::kCrashText.leftJustified(CrashNotice::kTextChars));
    }
    // Nothing back to the sender, nothing of it on TCP.
    QCOMPARE(a->udpIn.size(), aBefore);
    QCOMPARE(b->tcpOfType(RecordType::PositionUpdate).size(), 0);
    const RelayStats& s = rig.server->core().stats();
    QCOMPARE(s.positions, quint64(1));
    QCOMPARE(s.queries, quint64(1));
    QCOMPARE(s.crashes, quint64(1));
}

void TestRelayServer::summaryShowsEachPilotsLastPosition() {
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    auto c = rig.loggedOn(3, QStringLiteral("Charlie"));
    AircraftPosition first;
    first.latitudeDeg = 47.4647;
    first.longitudeDeg = 8.5492;
    first.altitudeFt = 1416;
    AircraftPosition last; // south and west, heading a hair short of north
    last.latitudeDeg = -34.8222;
    last.longitudeDeg = -58.5358;
    last.altitudeFt = 67;
    last.headingDeg = 359.8;
    last.onGround = true;
    last.groundSpeedKt = 12.4;
    a->toServerUdp(toServer::positionUpdate(a->session, encodePosition(first)));
    a->toServerUdp(toServer::positionUpdate(a->session, encodePosition(last)));
    b->toServerUdp(toServer::positionUpdate(b->session, positionBlock('p'))); // latitude beyond the pole
    QVERIFY(QTest::qWaitFor([&] { return rig.server->core().stats().positions == 3; }, kWaitMs));
    const QStringList lines = rig.server->core().summary().split(u'\n');
    QCOMPARE(
        lines.mid(1),
        (QStringList{QStringLiteral("pilot 1 \"Alpha\" session %1: 34.8222 S 58.5358 W 67 ft hdg 0 12 kt on the ground")
                         .arg(a->session),
                     QStringLiteral("pilot 2 \"Bravo\" session %1: position unknown").arg(b->session),
                     QStringLiteral("pilot 3 \"Charlie\" session %1: position unknown").arg(c->session)}));
}

void TestRelayServer::withARangePositionsGoOnlyToPilotsNearby() {
    RelayServerConfig config = ServerRig::defaultConfig();
    config.limits.rangeNm = 100;
    ServerRig rig(Accounts::open(), config);
    auto zurich = rig.loggedOn(1, QStringLiteral("Zurich"));
    auto basel = rig.loggedOn(2, QStringLiteral("Basel"));
    auto sydney = rig.loggedOn(3, QStringLiteral("Sydney"));
    auto fresh = rig.loggedOn(4, QStringLiteral("Fresh")); // sends no position
    const auto at = [](double lat, double lon) {
        AircraftPosition p;
        p.latitudeDeg = lat;
        p.longitudeDeg = lon;
        p.altitudeFt = 3000;
        return encodePosition(p);
    };
    const QByteArray zrh = at(47.46, 8.55), bsl = at(47.59, 7.53), syd = at(-33.95, 151.18);
    // Each first position reaches the pilots who have none yet, and those nearby.
    const qsizetype zBefore = zurich->udpIn.size(), bBefore = basel->udpIn.size(), fBefore = fresh->udpIn.size();
    sydney->toServerUdp(toServer::positionUpdate(sydney->session, syd));
    zurich->toServerUdp(toServer::positionUpdate(zurich->session, zrh));
    basel->toServerUdp(toServer::positionUpdate(basel->session, bsl));
    QVERIFY(fresh->waitUdp(fBefore + 3) && zurich->waitUdp(zBefore + 2) && basel->waitUdp(bBefore + 2));
    // Now all three are placed: the next round goes only within 100 nm, and to Fresh.
    for (FakePilot* p : {zurich.get(), basel.get(), sydney.get()}) {
        p->udpIn.clear();
    }
    fresh->udpIn.clear();
    sydney->toServerUdp(toServer::positionUpdate(sydney->session, syd));
    zurich->toServerUdp(toServer::positionUpdate(zurich->session, zrh));
    basel->toServerUdp(toServer::positionUpdate(basel->session, bsl));
    fresh->toServerUdp(toServer::positionUpdate(fresh->session, positionBlock('p'))); // holds no position
    QVERIFY(fresh->waitUdp(3));
    QVERIFY(zurich->waitUdp(2) && basel->waitUdp(2) && sydney->waitUdp(1));
    QVERIFY(QTest::qWaitFor([&] { return rig.server->core().stats().positions == 7; }, kWaitMs));
    const auto senders = [](const FakePilot& p) {
        QList<qint32> out;
        for (const ServerRecord& r : p.udpOfType(RecordType::PositionUpdate)) {
            out.append(r.SenderSession);
        }
        std::sort(out.begin(), out.end());
        return out;
    };
    QCOMPARE(senders(*zurich), (QList<qint32>{basel->session, fresh->session}));
    QCOMPARE(senders(*basel), (QList<qint32>{zurich->session, fresh->session}));
    QCOMPARE(senders(*sydney), (QList<qint32>{fresh->session}));
    QCOMPARE(senders(*fresh), (QList<qint32>{zurich->session, basel->session, sydney->session}));
    // Crashes are not filtered.
    zurich->toServerUdp(toServer::playerCrashed(zurich->session));
    QVERIFY(sydney->waitUdp(2));
    QCOMPARE(sydney->udpIn.last().type(), RecordType::PlayerCrashed);
}

void TestRelayServer::aircraftDetailsOverUdpAndTcpRelayedOverTcp() {
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    const qsizetype udpBefore = b->udpIn.size();
    // A reply to a query (UDP, no U+0000), then a post-connect send (TCP, with it).
    a->toServerUdp(toServer::aircraftDetails(a->session, 0, QStringLiteral("Cessna Skyhawk"), false));
    auto first = b->waitTcpType(RecordType::AircraftDetails);
    QVERIFY(first);
    QCOMPARE(decode<AircraftDetails>(*first).title.trimmed(), QStringLiteral("Cessna Skyhawk"));
    a->toServerTcp(toServer::aircraftDetails(a->session, 3, QStringLiteral("Bell 206B JetRanger"), true));
    auto second = b->waitTcpType(RecordType::AircraftDetails);
    QVERIFY(second);
    QCOMPARE(second->SenderSession, a->session);
    QCOMPARE(decode<AircraftDetails>(*second).engineType, 3);
    QCOMPARE(decode<AircraftDetails>(*second).title,
             QStringLiteral("Bell 206B JetRanger").leftJustified(AircraftDetails::kTitleChars));
    QCOMPARE(b->udpIn.size(), udpBefore);
    QCOMPARE(a->tcpOfType(RecordType::AircraftDetails).size(), 0);

    // A latecomer gets the last one.
    auto c = rig.loggedOn(3, QStringLiteral("Charlie"));
    const QList<ServerRecord> aircraft = c->tcpOfType(RecordType::AircraftDetails);
    QCOMPARE(aircraft.size(), 1);
    QCOMPARE(decode<AircraftDetails>(aircraft[0]).engineType, 3);
}

void TestRelayServer::chatChunksRelayedInOrder() {
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    QString text;
    for (int i = 0; i < 120; ++i) {
        text += QChar(u'a' + i % 26);
    }
    const QStringList pieces = chatPieces(text);
    QCOMPARE(pieces.size(), 4);
    QByteArray burst; // all at once: one TCP write
    for (const QString& piece : pieces) {
        burst += toServer::chatChunk(a->session, piece).toBytes();
    }
    a->toServerTcpRaw(burst);
    const qsizetype before = b->tcpIn().size();
    QVERIFY(b->waitTcp(before + 4));
    const QList<ServerRecord> in = b->tcpIn().mid(before);
    QCOMPARE(in.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(in[i].type(), RecordType::ChatChunk);
        QCOMPARE(in[i].SenderSession, a->session);
        QCOMPARE(decode<ChatChunk>(in[i]).piece, pieces[i].leftJustified(ChatChunk::kPieceChars));
    }
    QCOMPARE(a->tcpOfType(RecordType::ChatChunk).size(), 0);
}

void TestRelayServer::claimedSessionNumbersAreIgnored() {
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    auto c = rig.loggedOn(3, QStringLiteral("Charlie"));
    // Alpha writes Bravo's number into everything he sends.
    a->toServerUdp(toServer::positionUpdate(b->session, positionBlock('s')));
    a->toServerTcp(toServer::chatChunk(b->session, QStringLiteral("I am Bravo")));
    a->toServerTcp(toServer::aircraftDetails(b->session, 1, QStringLiteral("Fake"), false));
    const auto chat = c->waitTcpType(RecordType::ChatChunk);
    QVERIFY(chat);
    QCOMPARE(chat->SenderSession, a->session);
    const auto aircraft = c->waitTcpType(RecordType::AircraftDetails);
    QVERIFY(aircraft);
    QCOMPARE(aircraft->SenderSession, a->session);
    QTRY_VERIFY_WITH_TIMEOUT(!c->udpOfType(RecordType::PositionUpdate).isEmpty(), kWaitMs);
    QCOMPARE(c->udpOfType(RecordType::PositionUpdate).first().SenderSession, a->session);
    // Bravo hears it as Alpha's, not as an echo of himself.
    QVERIFY(b->waitTcpType(RecordType::ChatChunk));
    QCOMPARE(b->tcpOfType(RecordType::ChatChunk).first().SenderSession, a->session);
}

void TestRelayServer::wrongRecordsAreDropped_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("overTcp");
    const QByteArray pos = toServer::positionUpdate(1, positionBlock('w')).toBytes(); // session patched later
    QTest::newRow("datagram of 127 bytes") << pos.left(127) << false;
    QTest::newRow("datagram of 129 bytes") << pos + 'x' << false;
    QTest::newRow("datagram of 256 bytes") << pos + pos << false;
    QTest::newRow("empty datagram") << QByteArray() << false;
    ServerRecord r = ServerRecord::fromBytes(pos);
    r.Category = 2;
    QTest::newRow("category 2") << r.toBytes() << false;
    r.Category = 0; // a relay type in the control category
    QTest::newRow("position in category 0") << r.toBytes() << false;
    QTest::newRow("crash in category 0, as servers send it")
        << toClient::playerCrashed(1, QStringLiteral("x")).toBytes() << false;
    ServerRecord unknown = ServerRecord::fromBytes(pos);
    unknown.MsgType = 4120;
    QTest::newRow("unknown relay type") << unknown.toBytes() << false;
    QTest::newRow("chat over UDP") << toServer::chatChunk(1, QStringLiteral("udp")).toBytes() << false;
    QTest::newRow("logon over UDP") << toServer::logonRequest(1, 1, QStringLiteral("u")).toBytes() << false;
    QTest::newRow("PlayerJoined from a client") << toClient::playerJoined(1, QStringLiteral("j")).toBytes() << false;
    QTest::newRow("position over TCP") << pos << true;
    QTest::newRow("query over TCP") << toServer::queryPlane(1).toBytes() << true;
    QTest::newRow("heartbeat over TCP") << toServer::heartBeat(1).toBytes() << true;
    QTest::newRow("second logon on a logged-on connection")
        << toServer::logonRequest(1, 1, QStringLiteral("again")).toBytes() << true;
    QTest::newRow("PlayerLeft from a client") << toClient::playerLeft(1).toBytes() << true;
}

void TestRelayServer::wrongRecordsAreDropped() {
    QFETCH(QByteArray, bytes);
    QFETCH(bool, overTcp);
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    if (bytes.size() >= 12) { // speak as ourselves, so only the fault itself is tested
        bytes.replace(8, 4, QByteArray(reinterpret_cast<const char*>(&a->session), 4));
    }
    const qsizetype tcpBefore = b->tcpIn().size(), udpBefore = b->udpIn.size();
    overTcp ? a->toServerTcpRaw(bytes) : a->toServerUdpRaw(bytes);
    // A good record behind it on each transport marks the point where the bad one would be.
    a->toServerUdp(toServer::queryPlane(a->session));
    a->toServerTcp(toServer::chatChunk(a->session, QStringLiteral("marker")));
    QVERIFY(b->waitTcp(tcpBefore + 1));
    QVERIFY(b->waitUdp(udpBefore + 1));
    QCOMPARE(b->tcpIn().mid(tcpBefore).first().type(), RecordType::ChatChunk);
    QCOMPARE(b->udpIn.mid(udpBefore).first().type(), RecordType::QueryPlane);
    QCOMPARE(b->tcpIn().size(), tcpBefore + 1);
    QCOMPARE(b->udpIn.size(), udpBefore + 1);
    QCOMPARE(rig.server->core().pilotCount(), 2);
    const RelayStats& s = rig.server->core().stats();
    QCOMPARE(s.badSizeDatagrams + s.badRecords, quint64(1));
}

void TestRelayServer::recordsSplitAcrossTcpSegments() {
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    // Bravo's stream fed to the relay in the pieces a TCP read may bring: a logon in three
    // pieces, then a chat record in two. (How any stream is cut is the record stream's own test.)
    RelayCore& core = rig.server->core();
    constexpr ConnId kBravo = ConnId{1} << 62; // an id no socket of the server has
    QVERIFY(core.connectionOpened(kBravo, QHostAddress::LocalHost));
    const QByteArray logon = toServer::logonRequest(2, 2, QStringLiteral("Bravo")).toBytes();
    core.streamBytes(kBravo, QByteArrayView(logon).first(1));
    core.streamBytes(kBravo, QByteArrayView(logon).sliced(1, 100));
    QCOMPARE(core.sessionOf(kBravo), 0);
    core.streamBytes(kBravo, QByteArrayView(logon).sliced(101));
    const qint32 session = core.sessionOf(kBravo);
    QVERIFY(session != 0);
    const QByteArray chat = toServer::chatChunk(session, QStringLiteral("split")).toBytes();
    core.streamBytes(kBravo, QByteArrayView(chat).first(70));
    core.streamBytes(kBravo, QByteArrayView(chat).sliced(70));
    const auto relayed = a->waitTcpType(RecordType::ChatChunk);
    QVERIFY(relayed);
    QCOMPARE(relayed->SenderSession, session);
    QCOMPARE(decode<ChatChunk>(*relayed).piece.trimmed(), QStringLiteral("split"));
}

void TestRelayServer::closingTheConnectionTellsTheOthers() {
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    const qint32 aSession = a->session;
    a->tcp.disconnectFromHost();
    const auto left = b->waitTcpType(RecordType::PlayerLeft);
    QVERIFY(left);
    QCOMPARE(decode<PlayerLeft>(*left).session, aSession);
    QCOMPARE(rig.server->core().pilotCount(), 1);
    QVERIFY(rig.logHas(QStringLiteral("logoff: pilot 1 \"Alpha\"")));
    // His old UDP endpoint no longer speaks for anyone.
    a->toServerUdp(toServer::positionUpdate(aSession, positionBlock('g')));
    QTRY_COMPARE_WITH_TIMEOUT(rig.server->core().stats().unknownSenders, quint64(1), kWaitMs);
    QCOMPARE(rig.server->core().stats().logoffs, quint64(1));
}

void TestRelayServer::silentPilotDroppedAfterSixtySeconds() {
    ServerRig rig;
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    auto idle = rig.pilot(); // connected, never logs on
    QVERIFY(idle->connected());
    QTRY_COMPARE_WITH_TIMEOUT(rig.server->core().connectionCount(), 3, kWaitMs);

    rig.clock.advance(45);
    QVERIFY(b->heartBeat()); // Bravo keeps talking, Alpha does not
    rig.clock.advance(14);
    rig.server->checkSilence();
    QCOMPARE(rig.server->core().pilotCount(), 2);
    rig.clock.advance(1);
    rig.server->checkSilence();
    QCOMPARE(rig.server->core().pilotCount(), 1);
    QCOMPARE(rig.server->core().connectionCount(), 1);
    const auto left = b->waitTcpType(RecordType::PlayerLeft);
    QVERIFY(left);
    QCOMPARE(decode<PlayerLeft>(*left).session, a->session);
    QTRY_COMPARE_WITH_TIMEOUT(a->tcp.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(idle->tcp.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QVERIFY(rig.logHas(QStringLiteral("dropped pilot 1 \"Alpha\"")));
    QVERIFY(rig.logHas(QStringLiteral("silent for 60 s")));

    rig.clock.advance(44); // Bravo last spoke at 45 s: he goes at 105 s, not before
    rig.server->checkSilence();
    QCOMPARE(rig.server->core().pilotCount(), 1);
    rig.clock.advance(1);
    rig.server->checkSilence();
    QCOMPARE(rig.server->core().pilotCount(), 0);
}

void TestRelayServer::secondLogonOfTheSamePilotReplacesTheFirst() {
    ServerRig rig;
    auto watcher = rig.loggedOn(9, QStringLiteral("Watcher"));
    auto first = rig.loggedOn(1, QStringLiteral("Alpha"));
    QVERIFY(watcher->waitTcpType(RecordType::PlayerJoined));
    auto second = rig.loggedOn(1, QStringLiteral("Alpha"));
    const auto left = watcher->waitTcpType(RecordType::PlayerLeft);
    QVERIFY(left);
    QCOMPARE(decode<PlayerLeft>(*left).session, first->session);
    const auto joined = watcher->waitTcpType(RecordType::PlayerJoined);
    QVERIFY(joined);
    QCOMPARE(decode<PlayerJoined>(*joined).session, second->session);
    QTRY_COMPARE_WITH_TIMEOUT(first->tcp.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QCOMPARE(rig.server->core().pilotCount(), 2);
}

void TestRelayServer::pilotAndConnectionLimits() {
    RelayServerConfig config = ServerRig::defaultConfig();
    config.limits.maxPilots = 2;
    config.limits.maxPendingConnections = 2;
    ServerRig rig(Accounts::open(), config);
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto b = rig.loggedOn(2, QStringLiteral("Bravo"));
    // The third is turned away with a rejection, and may not stay for ever.
    auto c = rig.pilot();
    QVERIFY(c->connected());
    c->toServerUdp(toServer::heartBeat(0)); // shows the server our port
    c->toServerTcp(toServer::logonRequest(3, 3, QStringLiteral("Charlie")));
    QVERIFY(c->waitUdp(1));
    QCOMPARE(c->udpIn.first().type(), RecordType::LogonRejected);
    QVERIFY(rig.logHas(QStringLiteral("server full")));
    QCOMPARE(rig.server->core().pilotCount(), 2);

    // Connections that wait without a logon are bounded too: a third waiting one is closed.
    auto d = rig.pilot();
    QVERIFY(d->connected());
    QTRY_COMPARE_WITH_TIMEOUT(rig.server->core().connectionCount(), 4, kWaitMs);
    auto e = rig.pilot();
    QTRY_COMPARE_WITH_TIMEOUT(e->tcp.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QCOMPARE(rig.server->core().stats().refusedConnections, quint64(1));

    // Repeated wrong logons on one connection end it.
    for (int i = 0; i < RelayLimits{}.maxLogonAttempts; ++i) {
        d->toServerTcp(toServer::logonRequest(5, 5, QStringLiteral("Delta")));
    }
    QTRY_COMPARE_WITH_TIMEOUT(d->tcp.state(), QAbstractSocket::UnconnectedState, kWaitMs);
}

void TestRelayServer::clientThatDoesNotReadIsDropped() {
    RelayServerConfig config = ServerRig::defaultConfig();
    config.maxQueuedBytes = 64 * 1024;
    ServerRig rig(Accounts::open(), config);
    auto a = rig.loggedOn(1, QStringLiteral("Alpha"));
    auto reader = rig.loggedOn(3, QStringLiteral("Reader"));

    // A client with a tiny receive window that logs on and then never reads.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(rig.server->tcpPort());
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QVERIFY(::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0);
    const QByteArray logon = toServer::logonRequest(2, 2, QStringLiteral("Deaf")).toBytes();
    QCOMPARE(::write(fd, logon.constData(), static_cast<size_t>(logon.size())), ssize_t(kRecordBytes));
    QTRY_COMPARE_WITH_TIMEOUT(rig.server->core().pilotCount(), 3, kWaitMs);

    // Alpha chats a lot; the reader keeps up, the deaf one falls behind and is dropped.
    QByteArray burst;
    // Bursts well below the cap, so a client that reads is never over it.
    for (int i = 0; i < 200; ++i) {
        burst += toServer::chatChunk(a->session, QStringLiteral("chunk %1").arg(i)).toBytes();
    }
    // Each burst waits until the reader has it all, so only the deaf one can fall behind, however
    // slow this build or this machine is.
    bool dropped = false;
    const qsizetype before = reader->tcpBytes.size();
    for (int round = 1; round <= 400 && !dropped; ++round) {
        a->toServerTcpRaw(burst);
        const qsizetype expected = before + qsizetype(round) * burst.size();
        QVERIFY(QTest::qWaitFor(
            [&] { return reader->tcpBytes.size() >= expected || rig.server->core().pilotCount() < 3; }, 6 * kWaitMs));
        dropped = rig.server->core().pilotCount() < 3;
    }
    ::close(fd);
    QVERIFY2(dropped, qPrintable(rig.log.join(u'\n')));
    QVERIFY(rig.logHas(QStringLiteral("dropped pilot 2 \"Deaf\"")));
    QVERIFY(rig.logHas(QStringLiteral("not reading")));
    // The reader stays and hears of the departure after the chat that came before it.
    // All the chat sent before the drop comes first: allow for a slow (sanitizer) build.
    const auto left = reader->waitTcpType(RecordType::PlayerLeft, 6 * kWaitMs);
    QVERIFY2(left, qPrintable(rig.log.join(u'\n')));
    QCOMPARE(reader->tcp.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(rig.server->core().pilotCount(), 2);
}

// A script trying passwords over connection after connection from one address: after 5 rejections
// within a minute the address's logons are refused unchecked (even a right password), each still
// answered with LogonRejected, without a log line each; the block ends on the clock, and the next
// one lasts longer. Another address and a pilot who mistyped twice are not affected.
void TestRelayServer::logonGuessingBlockedPerAddress() {
    ServerRig rig(accountsOf("100 4711 Red Baron\n200 2222\n"));
    const auto tries = [&](FakePilot& p, int n, qint32 password) {
        const qsizetype before = p.udpOfType(RecordType::LogonRejected).size();
        for (int i = 0; i < n; ++i) {
            p.toServerTcp(toServer::logonRequest(100, password, QStringLiteral("Guess")));
        }
        return QTest::qWaitFor([&] { return p.udpOfType(RecordType::LogonRejected).size() == before + n; }, kWaitMs);
    };
    const auto guesser = [&] {
        auto p = rig.pilot();
        p->connected();                         // waits: a logon written before the connection is up would be lost
        p->toServerUdp(toServer::heartBeat(0)); // shows the server where rejections go
        return p;
    };
    {
        auto typo = guesser();
        QVERIFY(tries(*typo, 2, 4712));
        QVERIFY(typo->logon(100, 4711));
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.server->core().pilotCount(), 0, kWaitMs);
    rig.clock.advance(61);

    auto first = guesser();
    QVERIFY(tries(*first, 5, 1));
    QTRY_COMPARE_WITH_TIMEOUT(first->tcp.state(), QAbstractSocket::UnconnectedState, kWaitMs);
    QVERIFY(rig.logHas(QStringLiteral("logons from 127.0.0.1 blocked for 60 s: 5 rejected within 60 s")));
    const qsizetype logLines = rig.log.size();
    for (int round = 0; round < 3; ++round) {
        auto p = guesser();
        QVERIFY(tries(*p, round == 0 ? 1 : 5, 4711));
        QCOMPARE(p->tcpOfType(RecordType::LogonAccepted).size(), 0);
    }
    QCOMPARE(rig.log.size(), logLines);
    QCOMPARE(rig.server->core().stats().blockedLogons, quint64(11));
    QCOMPARE(rig.server->core().stats().rejectedLogons, quint64(7));
    auto other = rig.pilot(QHostAddress(QStringLiteral("127.0.0.2")));
    QVERIFY(other->logon(200, 2222));

    const qsizetype beforeRelease = rig.log.size();
    rig.clock.advance(59);
    rig.server->checkSilence();
    QCOMPARE(rig.log.size(), beforeRelease);
    rig.clock.advance(1);
    rig.server->checkSilence();
    QVERIFY(rig.logHas(QStringLiteral("logons from 127.0.0.1 allowed again; 11 refused while blocked")));
    auto again = guesser();
    QVERIFY(tries(*again, 5, 1));
    QVERIFY(rig.logHas(QStringLiteral("logons from 127.0.0.1 blocked for 120 s")));
    QVERIFY2(
        rig.server->core().summary().contains(QStringLiteral("blocked logons 11 (2 blocks, 1 addresses blocked now)")),
        qPrintable(rig.server->core().summary()));
}

void TestRelayServer::hashedAccountsCheckedOffTheRelay() {
    const QByteArray text = "7 " + Accounts::hashPassword(77) + " Seven\n8 88 Eight\n";
    ServerRig rig(accountsOf(text.constData()));
    auto eight = rig.pilot(); // plain line, answered at once
    QVERIFY(eight->logon(8, 88, QStringLiteral("x")));
    auto p = rig.pilot();
    QVERIFY(p->connected());
    p->toServerUdp(toServer::heartBeat(0));
    // The wrong password: the LogonRejected arrives once the check, off the relay's thread, is done.
    // A check is background work and may wait behind whatever else this machine runs: bounded
    // generously.
    constexpr int kCheckMs = 30000;
    p->toServerTcp(toServer::logonRequest(7, 78, QStringLiteral("x")));
    QVERIFY(QTest::qWaitFor([&] { return !p->udpIn.isEmpty(); }, kCheckMs));
    QCOMPARE(p->udpOfType(RecordType::LogonRejected).size(), 1);
    QVERIFY(rig.logHas(QStringLiteral("logon rejected: pilot 7: wrong pilot ID or password")));
    p->toServerTcp(toServer::logonRequest(7, 77, QStringLiteral("x")));
    QVERIFY(p->waitTcpType(RecordType::LogonAccepted, kCheckMs));
    QVERIFY(rig.logHas(QStringLiteral("logon: pilot 7 \"Seven\"")));
    QCOMPARE(rig.server->core().pilotCount(), 2);
}

void TestRelayServer::logonGuardBackOffAndBounds() {
    LogonGuardLimits limits;
    limits.maxSources = 3;
    LogonGuard guard(limits);
    const QHostAddress a(QStringLiteral("192.0.2.1"));
    qint64 now = 0;
    const auto failures = [&](const QHostAddress& from, int n) {
        int blocked = 0;
        for (int i = 0; i < n; ++i) {
            blocked = guard.failed(from, now);
        }
        return blocked;
    };
    // Four a minute never block; a fifth within the minute does, for longer each time, up to an hour.
    QCOMPARE(failures(a, 4), 0);
    now += 60'000;
    QCOMPARE(failures(a, 4), 0);
    QVERIFY(!guard.refuse(a, now));
    for (const int seconds : {60, 120, 240, 480, 960, 1920, 3600, 3600}) {
        QCOMPARE(failures(a, 1), seconds);
        QVERIFY(guard.refuse(a, now + seconds * 1000 - 1));
        QVERIFY(guard.releaseDue(now + seconds * 1000 - 1).empty());
        now += seconds * 1000;
        const auto released = guard.releaseDue(now);
        QCOMPARE(released.size(), size_t(1));
        QCOMPARE(released.front().refused, quint64(1));
        QVERIFY(!guard.refuse(a, now));
        QCOMPARE(failures(a, 4), 0);
    }
    // Quiet for an hour: forgotten, and the next block is short again.
    now += 3600'000;
    QVERIFY(guard.releaseDue(now).empty());
    QCOMPARE(guard.sourceCount(), 0);
    QCOMPARE(failures(a, 5), 60);

    // An IPv6 /64 is one source; memory stays bounded, forgetting the longest quiet first.
    const QHostAddress v6(QStringLiteral("2001:db8::1"));
    QCOMPARE(LogonGuard::describe(LogonGuard::sourceOf(v6)), QStringLiteral("2001:db8::/64"));
    for (int i = 1; i <= 5; ++i) {
        guard.failed(QHostAddress(QStringLiteral("2001:db8::%1").arg(i)), now);
    }
    QVERIFY(guard.refuse(QHostAddress(QStringLiteral("2001:db8::ffff:1")), now));
    QVERIFY(!guard.refuse(QHostAddress(QStringLiteral("2001:db8:0:1::1")), now));
    QVERIFY(guard.refuse(QHostAddress(QStringLiteral("::ffff:192.0.2.1")), now));
    for (int i = 0; i < 10; ++i) {
        guard.failed(QHostAddress(QStringLiteral("198.51.100.%1").arg(i)), now);
    }
    QCOMPARE(guard.sourceCount(), 3);
    QVERIFY(!guard.refuse(a, now));
}

QTEST_GUILESS_MAIN(TestRelayServer)
#include "tst_relayserver.moc"
