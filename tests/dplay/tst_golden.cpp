// Our joiner against the bytes of a real DirectPlay 4 joiner: a scripted host replays the host's
// side of a captured join (ports rewritten to free ones) while the messages our joiner sends
// are compared field by field with what the real joiner sent at the same point.
//
// Fields masked, and why:
//  - the port in every service-provider header and in the address blobs: ours are whatever was
//    free here; the real joiner had 2301/2351;
//  - the dialect version in the play header and in a packed player: we announce the host's
//    dialect (14, as native peers do); the captured joiner was Wine's, which announces 11;
//  - the ENUMSESSIONS flags: we always add "list password-protected sessions" (0x40), so that a
//    wrong password is reported as such instead of as "no session".
// Player ids need no mask: the replayed host hands out the same ids as in the capture.
#include "capture.h"

#include "simlink/dplay/nativesession.h"
#include "simlink/simcodec.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <thread>

using namespace airmesh;
using namespace airmesh::dplay;

namespace {
struct Mask {
    int from;
    int to; // exclusive
};

QByteArray unhex(const char* h) {
    return QByteArray::fromHex(h);
}

// Equal apart from the masked ranges; a readable difference otherwise.
QString differs(const QByteArray& actual, QByteArray expected, const QList<Mask>& masks) {
    const QByteArray original = expected;
    QByteArray a = actual;
    if (a.size() != expected.size()) {
        return QStringLiteral("size %1, expected %2: %3")
            .arg(a.size())
            .arg(expected.size())
            .arg(QString::fromLatin1(a.toHex(' ')));
    }
    for (const Mask& m : masks) {
        for (int i = m.from; i < m.to && i < a.size(); ++i) {
            a[i] = expected[i] = 0;
        }
    }
    for (int i = 0; i < a.size(); ++i) {
        if (a[i] != expected[i]) {
            return QStringLiteral("byte 0x%1: %2, expected %3\n  got      %4\n  expected %5")
                .arg(i, 0, 16)
                .arg(quint8(a[i]), 2, 16, QLatin1Char('0'))
                .arg(quint8(expected[i]), 2, 16, QLatin1Char('0'))
                .arg(QString::fromLatin1(actual.toHex(' ')), QString::fromLatin1(original.toHex(' ')));
        }
    }
    return {};
}

const Mask kHeaderPort{6, 8};
const Mask kVersion{26, 28};
const Mask kPackedVersion{0x58, 0x5c};

void setPort(QByteArray& b, int at, quint16 port) {
    qToBigEndian(port, b.data() + at);
}

// The captured host message with our host's ports in place of 2300/2350.
QByteArray hostMessage(const char* hex, quint16 tcp, quint16 udp) {
    QByteArray b = unhex(hex);
    setPort(b, 6, tcp);
    const QByteArray tcpAddr = QByteArray::fromHex("020008fc"), udpAddr = QByteArray::fromHex("0200092e");
    for (int i = 20; (i = static_cast<int>(b.indexOf(tcpAddr, i))) >= 0; i += 4) {
        setPort(b, i + 2, tcp);
    }
    for (int i = 20; (i = static_cast<int>(b.indexOf(udpAddr, i))) >= 0; i += 4) {
        setPort(b, i + 2, udp);
    }
    return b;
}

QByteArray readMessage(QTcpSocket& s) {
    QByteArray got;
    while (got.size() < 4 || got.size() < static_cast<int>(announcedSize(got.constData(), int(got.size())))) {
        if (s.bytesAvailable() == 0 && !s.waitForReadyRead(5000)) {
            return {};
        }
        const int want = got.size() < 4 ? 4 - int(got.size())
                                        : int(announcedSize(got.constData(), int(got.size()))) - int(got.size());
        got += s.read(want);
    }
    return got;
}
} // namespace

class TestGolden : public QObject {
    Q_OBJECT

private slots:
    void joinerSendsWhatARealJoinerSends();
};

void TestGolden::joinerSendsWhatARealJoinerSends() {
    QUdpSocket enumSocket, hostUdp;
    QVERIFY(enumSocket.bind(QHostAddress::LocalHost, 0));
    QVERIFY(hostUdp.bind(QHostAddress::LocalHost, 0));
    QTcpServer hostTcp;
    QVERIFY(hostTcp.listen(QHostAddress::LocalHost, 0));
    const quint16 P = hostTcp.serverPort(), U = hostUdp.localPort();

    NativeOptions o;
    const QString address = QStringLiteral("127.0.0.1:%1").arg(enumSocket.localPort());
    o.prompt = [address](const QString&) { return std::optional<QString>(address); };
    o.enumWindowMs = 3000;
    NativeSession s(o);
    std::atomic<int> step{0};
    std::atomic<qint32> failure{0};
    std::thread joiner([&] {
        try {
            s.InitializeConnection(s.GetDPEnumConnections({}, 1).GetAddress(1));
            SessionData search;
            search.SetGuidApplication(QStringLiteral("{97C62470-5F53-4098-A8BB-7F1F93B94D93}"));
            const SessionList found = s.GetDPEnumSessions(search, 0, 2);
            s.Open(found.GetItem(1), 1);
            const qint32 me = s.CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
            SimMessage join;
            sim::writeHeaderOnly(join, SimMsg::ObserverJoinRequest);
            s.Send(me, 0, 0, join);
            s.AddPlayerToGroup(0x00a10003, me);
            step = 1;
        } catch (const dp::DpError& e) {
            failure = e.code();
            step = 2;
        }
    });
    const auto finish = qScopeGuard([&] { joiner.join(); });

    // ENUMSESSIONS
    QTRY_VERIFY_WITH_TIMEOUT(enumSocket.hasPendingDatagrams(), 5000);
    QByteArray enumRequest(int(enumSocket.pendingDatagramSize()), '\0');
    enumSocket.readDatagram(enumRequest.data(), enumRequest.size());
    const QString e1 = differs(enumRequest, unhex(golden::kEnumSessions), {kHeaderPort, kVersion, {48, 52}});
    QVERIFY2(e1.isEmpty(), qPrintable(e1));
    QCOMPARE(qFromLittleEndian<quint32>(enumRequest.constData() + 48) & ~0x40u, 2u);
    const quint16 joinerTcp = qFromBigEndian<quint16>(enumRequest.constData() + 6);

    QTcpSocket toJoiner;
    toJoiner.connectToHost(QHostAddress::LocalHost, joinerTcp);
    QVERIFY(toJoiner.waitForConnected(3000));
    toJoiner.write(hostMessage(golden::kEnumSessionsReply, P, U));
    QVERIFY(toJoiner.waitForBytesWritten(3000));

    QVERIFY(hostTcp.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> fromJoiner(hostTcp.nextPendingConnection());

    const QList<Mask> plain{kHeaderPort, kVersion};
    QByteArray m = readMessage(*fromJoiner);
    QString d = differs(m, unhex(golden::kRequestSystemPlayer), plain);
    QVERIFY2(d.isEmpty(), qPrintable(d));
    toJoiner.write(hostMessage(golden::kRequestPlayerReply1, P, U));
    QVERIFY(toJoiner.waitForBytesWritten(3000));

    m = readMessage(*fromJoiner);
    d = differs(m, unhex(golden::kAddForwardRequest),
                {kHeaderPort, kVersion, kPackedVersion, {0x62, 0x64}, {0x72, 0x74}});
    QVERIFY2(d.isEmpty(), qPrintable(d));
    QCOMPARE(qFromBigEndian<quint16>(m.constData() + 0x62), joinerTcp);
    toJoiner.write(hostMessage(golden::kSuperEnumPlayersReply, P, U));
    QVERIFY(toJoiner.waitForBytesWritten(3000));

    m = readMessage(*fromJoiner);
    d = differs(m, unhex(golden::kRequestPlayer), plain);
    QVERIFY2(d.isEmpty(), qPrintable(d));
    toJoiner.write(hostMessage(golden::kRequestPlayerReply2, P, U));
    QVERIFY(toJoiner.waitForBytesWritten(3000));

    m = readMessage(*fromJoiner);
    d = differs(m, unhex(golden::kCreatePlayer), {kHeaderPort, kVersion, kPackedVersion, {0x94, 0x96}, {0xa4, 0xa6}});
    QVERIFY2(d.isEmpty(), qPrintable(d));

    // The observer's join request: the same ids and payload; ours goes as a datagram (flags 0,
    // not guaranteed), so it carries no service-provider header.
    QTRY_VERIFY_WITH_TIMEOUT(hostUdp.hasPendingDatagrams(), 5000);
    QByteArray app(int(hostUdp.pendingDatagramSize()), '\0');
    hostUdp.readDatagram(app.data(), app.size());
    QCOMPARE(app.toHex(), unhex(golden::kAppObserverJoin).mid(kSpHeaderBytes).toHex());

    m = readMessage(*fromJoiner);
    d = differs(m, unhex(golden::kAddPlayerToGroup), plain);
    QVERIFY2(d.isEmpty(), qPrintable(d));

    QTRY_VERIFY_WITH_TIMEOUT(step.load() != 0, 5000);
    QCOMPARE(failure.load(), 0);
}

QTEST_GUILESS_MAIN(TestGolden)
#include "tst_golden.moc"
