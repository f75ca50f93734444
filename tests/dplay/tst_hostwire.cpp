// The host role on the wire, byte for byte. A real DirectPlay 4 joiner's recorded messages are
// replayed to our host and its answers compared with the ones that joiner accepted; then what a
// joining machine may not do, and the addresses a machine elsewhere is given.
//
// The replay uses the recorded session's instance and id key, so every id and the whole session
// description come out as recorded. Ports differ: the host's are whatever was free here and each
// joiner here is a listener on a free port, so every socket address (service-provider header and
// address blobs) carrying a recorded TCP port is rewritten to the port in use, in the joiners'
// messages and in the expected answers alike. The joiners' UDP ports stay as recorded (nothing is
// sent to them here). Nothing else is masked.
//
// The recording is of the 64-bit layout (the joiner was a 64-bit build). The same join is also
// replayed to a host in the simulator's 32-bit layout and its answers compared with the recorded
// ones narrowed the way that layout differs, and only that way: the two string pointers in the
// session description of 4 bytes each instead of 8, the security description of 24 bytes instead
// of 32, and the sizes and offsets behind them.
#include "dprig.h"
#include "fakes/fakejoiningmachine.h"
#include "hostcapture.h"

#include "simlink/dperr.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtEndian>

using namespace airmesh;
using namespace airmesh::dplay;
using namespace airmesh::dphost;
using namespace airmesh::dplay::test;

namespace {
using Ports = QMap<quint16, quint16>; // recorded -> in use

QByteArray rewritePorts(QByteArray b, const Ports& ports) {
    const QByteArray zeros(8, '\0');
    for (int i = 0; i + 16 <= b.size(); ++i) {
        const quint32 ip = qFromBigEndian<quint32>(b.constData() + i + 4);
        const quint16 port = qFromBigEndian<quint16>(b.constData() + i + 2);
        if (b[i] == 2 && b[i + 1] == 0 && (ip == 0 || ip == 0x7f000001) && b.mid(i + 8, 8) == zeros &&
            ports.contains(port)) {
            qToBigEndian(ports[port], b.data() + i + 2);
            i += 15;
        }
    }
    return b;
}

// The recorded answer of a 64-bit host as a 32-bit one writes it.
QByteArray narrowed(QByteArray m) {
    constexpr int body = kSpHeaderBytes + kPlayHeaderBytes;
    const auto less = [&m](int at, quint32 n) {
        qToLittleEndian(qFromLittleEndian<quint32>(m.constData() + at) - n, m.data() + at);
    };
    const auto cut = [&](int at, int n) {
        m.remove(at, n);
        less(0, quint32(n)); // the message size
    };
    switch (qFromLittleEndian<quint16>(m.constData() + kSpHeaderBytes + 4)) {
    case commandNumber(Command::EnumSessionsReply): // description at the body, its name offset after it
        m[body] = 80;
        cut(body + 56, 8);
        less(body + 80, 8);
        break;
    case commandNumber(Command::SuperEnumPlayersReply): // seven fields, then the description; the offsets past it
        m[body + 28] = 80;
        cut(body + 28 + 56, 8);
        less(body + 8, 8);
        less(body + 20, 8);
        break;
    case commandNumber(Command::RequestPlayerReply): // the id, then the security description
        cut(body + 4 + 24, 8);
        break;
    default:
        break;
    }
    return m;
}

// Empty when equal, else where they part.
QString difference(const QByteArray& got, const QByteArray& want) {
    if (got == want) {
        return {};
    }
    int i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) {
        ++i;
    }
    return QStringLiteral("differs at byte 0x%1 (sizes %2/%3)\n  got  %4\n  want %5")
        .arg(i, 0, 16)
        .arg(got.size())
        .arg(want.size())
        .arg(QString::fromLatin1(got.toHex(' ')), QString::fromLatin1(want.toHex(' ')));
}

int count(const std::vector<DpHost::Event>& events, DpHost::Event::Kind kind) {
    return int(std::count_if(events.begin(), events.end(), [kind](const auto& e) { return e.kind == kind; }));
}
} // namespace

class TestHostWire : public QObject {
    Q_OBJECT

private slots:
    void answersRealJoinersAsRecorded_data();
    void answersRealJoinersAsRecorded();
    void refusesWhatAMachineWasNotGiven();
    void aMachineElsewhereReachesLocalMachinesAtTheHost();
    void survivesMachinesLeavingAllAtOnce();
};

void TestHostWire::answersRealJoinersAsRecorded_data() {
    QTest::addColumn<bool>("wide");
    QTest::newRow("64-bit layout, as recorded") << true;
    QTest::newRow("32-bit layout") << false;
}

void TestHostWire::answersRealJoinersAsRecorded() {
    using namespace hostgolden;
    QFETCH(bool, wide);
    const QByteArray recorded = QByteArray::fromHex(kEnumReplyA);
    HostOptions o;
    o.wideDescription = wide;
    o.sessionName = QStringLiteral("FS Session");
    Guid instance;
    std::memcpy(instance.data(), recorded.constData() + 36, 16);
    o.instance = instance;
    o.key = qFromLittleEndian<quint32>(recorded.constData() + 92);
    HostRig rig(o);
    QVERIFY(rig.started);
    rig.host->addGroup(QStringLiteral("FS61_REQUEST_PARAMS"));
    rig.host->addGroup(QStringLiteral("FS61_REFUSE_PARAMS"));
    FakeJoiningMachine a(rig.host->tcpPort()), b(rig.host->tcpPort());
    const Ports ports{{2300, rig.host->tcpPort()}, {2350, rig.host->udpPort()}, {2301, a.port()}, {2302, b.port()}};
    const auto recordedMessage = [&](const char* hex) { return rewritePorts(QByteArray::fromHex(hex), ports); };
    const auto answer = [&](const char* hex) { return wide ? recordedMessage(hex) : narrowed(recordedMessage(hex)); };
    QUdpSocket search;
#define EXPECT(machine, hex)                                                                                           \
    do {                                                                                                               \
        const QString d = difference((machine).next(), answer(hex));                                                   \
        QVERIFY2(d.isEmpty(), qPrintable(QStringLiteral(#hex " ") + d));                                               \
    } while (0)

    search.writeDatagram(recordedMessage(kEnumA), QHostAddress::LocalHost, rig.host->enumPort());
    EXPECT(a, kEnumReplyA);
    a.send(recordedMessage(kRequestSystemA));
    EXPECT(a, kReplySystemA); // the security description in the joiner's width
    a.send(recordedMessage(kAddForwardRequestA));
    EXPECT(a, kNameTableA); // the host's players and groups with its addresses
    a.send(recordedMessage(kRequestPlayerA));
    EXPECT(a, kReplyPlayerA);
    a.send(recordedMessage(kCreatePlayerA));
    QVERIFY(rig.waitEvents([](const auto& ev) { return count(ev, DpHost::Event::PlayerCreated) == 1; }));

    search.writeDatagram(recordedMessage(kEnumB), QHostAddress::LocalHost, rig.host->enumPort());
    EXPECT(b, kEnumReplyB);
    b.send(recordedMessage(kRequestSystemB));
    EXPECT(b, kReplySystemB);
    b.send(recordedMessage(kAddForwardRequestB));
    EXPECT(a, kAddForwardToA);
    EXPECT(b, kNameTableB); // A's machine and player with A's addresses, not flagged local
    b.send(recordedMessage(kRequestPlayerB));
    EXPECT(b, kReplyPlayerB);
    b.send(recordedMessage(kCreatePlayerB));
    QVERIFY(rig.waitEvents([](const auto& ev) { return count(ev, DpHost::Event::PlayerCreated) == 2; }));
    b.close(); // B's machine is gone: A is told of its player, then of the machine
    EXPECT(a, kDeletePlayerB);
    EXPECT(a, kDeleteSystemB);
#undef EXPECT
}

void TestHostWire::refusesWhatAMachineWasNotGiven() {
    HostRig rig;
    QVERIFY(rig.started);
    FakeJoiningMachine f(rig.host->tcpPort()), g(rig.host->tcpPort());
    // No ordinary player before the machine has joined.
    auto refused = g.askId(8);
    QVERIFY(refused);
    QCOMPARE(refused->result, quint32(dp::DPERR_ACCESSDENIED));
    // G joining under the system player id F was given: dropped, unanswered.
    const auto fsys = f.askId(9);
    QVERIFY(fsys && fsys->result == 0);
    const quint32 fid = fsys->id;
    g.system(Command::AddForwardRequest, addForwardRequestBody(g.systemRecord(fid), {}, 0));
    QVERIFY(g.handled());
    QCOMPARE(rig.host->machineCount(), 0);
    f.system(Command::AddForwardRequest, addForwardRequestBody(f.systemRecord(fid), {}, 0));
    QVERIFY(f.next(Command::SuperEnumPlayersReply));
    quint32 gid = 0;
    QVERIFY(g.join(gid));
    QCOMPARE(rig.host->machineCount(), 2);

    // An id given to F is F's to create: not G's, not even as a player of F's.
    const auto pid = f.askId(8);
    QVERIFY(pid && pid->result == 0);
    g.createPlayer(pid->id, fid, QStringLiteral("Forged"));
    g.createPlayer(pid->id, gid, QStringLiteral("Forged"));
    QVERIFY(g.handled());
    f.createPlayer(pid->id, fid, QStringLiteral("F1"));
    QVERIFY(rig.waitEvents([](const auto& ev) { return count(ev, DpHost::Event::PlayerCreated) == 1; }));
    QCOMPARE(rig.host->shortName(pid->id), QStringLiteral("F1"));

    // Only its own machine deletes a player.
    g.system(Command::DeletePlayer, playerIdsBody(0, pid->id, 0));
    QVERIFY(g.handled());
    QCOMPARE(rig.host->shortName(pid->id), QStringLiteral("F1"));
    f.system(Command::DeletePlayer, playerIdsBody(0, pid->id, 0));
    QVERIFY(rig.waitEvents([](const auto& ev) { return count(ev, DpHost::Event::PlayerDestroyed) == 1; }));

    // Ids asked for and never used are bounded per connection.
    for (int i = 0; i < 16; ++i) {
        const auto r = g.askId(8);
        QVERIFY(r && r->result == 0);
    }
    refused = g.askId(8);
    QVERIFY(refused);
    QCOMPARE(refused->result, quint32(dp::DPERR_CANTCREATEPLAYER));
    QCOMPARE(rig.host->playerCount(), 1);
}

void TestHostWire::aMachineElsewhereReachesLocalMachinesAtTheHost() {
    QHostAddress elsewhere;
    for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback()) {
            elsewhere = a;
        }
    }
    if (elsewhere.isNull()) {
        QSKIP("this machine has no IPv4 address but loopback");
    }
    HostRig rig;
    QVERIFY(rig.started);
    FakeJoiningMachine local(rig.host->tcpPort()), remote(rig.host->tcpPort(), elsewhere);
    quint32 lid = 0, rid = 0;
    QVERIFY(local.join(lid));
    const auto pid = local.askId(8);
    QVERIFY(pid && pid->result == 0);
    local.createPlayer(pid->id, lid, QStringLiteral("Local"));
    QVERIFY(rig.waitEvents([](const auto& ev) { return count(ev, DpHost::Event::PlayerCreated) == 1; }));

    // Loopback means nothing elsewhere: the local machine is given as "where this came from".
    const auto table = remote.join(rid);
    QVERIFY(table);
    int seen = 0;
    for (const PlayerRecord& p : table->players) {
        if (p.id == lid || p.id == pid->id) {
            QVERIFY(p.hasSpData);
            QCOMPARE(p.stream.ip, 0u);
            QCOMPARE(p.stream.port, local.port());
            QVERIFY(!(p.flags & playerflag::Local));
            ++seen;
        }
    }
    QCOMPARE(seen, 2);
    // And the local machine is told the remote one's own address.
    const auto forward = local.next(Command::AddForward);
    QVERIFY(forward);
    const auto c = readCreateMessage(*forward, false, false);
    QVERIFY(c);
    QCOMPARE(c->player.id, rid);
    QCOMPARE(c->player.stream.ip, elsewhere.toIPv4Address());
    QCOMPARE(c->player.stream.port, remote.port());
}

void TestHostWire::survivesMachinesLeavingAllAtOnce() {
    // Telling the others that one left may find another gone as well, mid-way.
    HostRig rig;
    QVERIFY(rig.started);
    for (int round = 0; round < 10; ++round) {
        std::vector<std::unique_ptr<FakeJoiningMachine>> machines;
        for (int i = 0; i < 3; ++i) {
            machines.push_back(std::make_unique<FakeJoiningMachine>(rig.host->tcpPort()));
            quint32 id = 0;
            QVERIFY(machines.back()->join(id));
        }
        machines.clear();
        QVERIFY(rig.waitEvents(
            [round](const auto& ev) { return count(ev, DpHost::Event::MachineLeft) == 3 * (round + 1); }));
        QCOMPARE(rig.host->machineCount(), 0);
    }
    FakeJoiningMachine last(rig.host->tcpPort());
    quint32 id = 0;
    QVERIFY(last.join(id));
}

QTEST_GUILESS_MAIN(TestHostWire)
#include "tst_hostwire.moc"
