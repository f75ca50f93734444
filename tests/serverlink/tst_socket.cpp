#include "serverlink/socket.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>
#include <QtEndian>

#include <functional>

using airmesh::Socket;
using airmesh::SocketError;
namespace SocketState = airmesh::SocketState;
namespace SocketErrorNumber = airmesh::SocketErrorNumber;

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// Wine's ntdll has an export of its own that Windows' lacks.
static bool runningUnderWine() {
#ifdef Q_OS_WIN
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

namespace {

const QHostAddress kLoopback(QHostAddress::LocalHost);

// `size` bytes, the first four holding `tag` (little-endian), the rest a pattern derived from it.
QByteArray tagged(quint32 tag, int size = 128) {
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i) {
        b[i] = static_cast<char>((tag * 31 + i * 7) % 251);
    }
    if (size >= 4) {
        qToLittleEndian(tag, b.data());
    }
    return b;
}

quint32 tagOf(const QByteArray& b) {
    return b.size() >= 4 ? qFromLittleEndian<quint32>(b.constData()) : ~0u;
}

// A stream whose byte i is a function of i, so any loss, repetition or reordering shows.
QByteArray streamBytes(qint64 from, qint64 count) {
    QByteArray b(count, '\0');
    for (qint64 i = 0; i < count; ++i) {
        b[i] = static_cast<char>(((from + i) * 13 + (from + i) / 251) % 256);
    }
    return b;
}

int errorNumberOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const SocketError& e) {
        return e.number();
    }
    return 0;
}

// Two UDP sockets on loopback, each sending to the other.
struct UdpPair {
    Socket a;
    Socket b;
    UdpPair() {
        for (Socket* s : {&a, &b}) {
            s->setProtocol(Socket::Protocol::Udp);
            s->Bind(0, kLoopback);
        }
        a.setRemoteHost(QStringLiteral("127.0.0.1"));
        a.setRemotePort(b.localPort());
        b.setRemoteHost(QStringLiteral("127.0.0.1"));
        b.setRemotePort(a.localPort());
    }
};

// A client Socket connected over loopback to a QTcpServer, with the server's end of it.
struct TcpLink {
    QTcpServer server;
    Socket client;
    QTcpSocket* peer = nullptr;

    bool open(const QString& host = QStringLiteral("127.0.0.1")) {
        if (!server.listen(kLoopback)) {
            return false;
        }
        client.setProtocol(Socket::Protocol::Tcp);
        client.setRemoteHost(host);
        client.setRemotePort(server.serverPort());
        client.Connect();
        if (!QTest::qWaitFor([this] { return server.hasPendingConnections(); }, 5000)) {
            return false;
        }
        peer = server.nextPendingConnection();
        return QTest::qWaitFor([this] { return client.State() == SocketState::Connected; }, 5000);
    }
};

} // namespace

class TstSocket : public QObject {
    Q_OBJECT

private slots:
    void nothingQueuedReadsNothing();

    void udpDatagramsKeepTheirBoundaries();
    void udpUnreadDatagramDoesNotHoldBackLaterOnes();
    void udpEmptyDatagramIsDropped();
    void udpQueueIsBounded();
    void udpPortInUseFailsToBind();

    void tcpConnectReachesConnected();
    void tcpConnectRefusedEndsInError();
    void tcpPeerCloseRaisesClosed();
    void tcpSendCompleteFollowsEachSend();
    void tcpUnreadBytesAreReportedAgainWithLaterOnes();
    void tcpReadBufferIsBounded();

    void arrivalDuringHandlerIsReportedAfterIt();
};

void TstSocket::nothingQueuedReadsNothing() {
    Socket udp;
    udp.setProtocol(Socket::Protocol::Udp);
    QCOMPARE(udp.BytesReceived(), 0);
    udp.Bind(0, kLoopback);
    QCOMPARE(udp.State(), SocketState::Open);
    QCOMPARE(udp.BytesReceived(), 0);
    QHostAddress from(QHostAddress::LocalHost);
    QVERIFY(udp.GetData(&from).isEmpty());
    QVERIFY(from.isNull());
    udp.Close();
    QCOMPARE(udp.State(), SocketState::Closed);

    Socket tcp;
    QCOMPARE(tcp.State(), SocketState::Closed);
    QCOMPARE(tcp.BytesReceived(), 0);
    QVERIFY(tcp.GetData().isEmpty());
}

void TstSocket::udpDatagramsKeepTheirBoundaries() {
    UdpPair p;
    // By name, sent before the name has resolved: the datagrams wait for the address.
    p.b.setRemoteHost(QStringLiteral("localhost"));
    QSignalSpy arrivals(&p.a, &Socket::DataArrival);
    p.b.SendData(tagged(1, 128));
    p.b.SendData(tagged(2, 256));
    QTRY_COMPARE(arrivals.count(), 2);
    QCOMPARE(p.b.remoteAddress(), kLoopback);
    QCOMPARE(arrivals.at(0).at(0).toLongLong(), 128);
    QCOMPARE(arrivals.at(1).at(0).toLongLong(), 256);

    QCOMPARE(p.a.BytesReceived(), 128);
    QHostAddress from;
    quint16 fromPort = 0;
    QCOMPARE(p.a.GetData(&from, &fromPort), tagged(1, 128));
    QCOMPARE(from, kLoopback);
    QCOMPARE(fromPort, p.b.localPort());
    QCOMPARE(p.a.BytesReceived(), 256);
    QCOMPARE(p.a.GetData(), tagged(2, 256));
    QCOMPARE(p.a.BytesReceived(), 0);

    // And the other way, by address.
    QSignalSpy back(&p.b, &Socket::DataArrival);
    p.a.SendData(tagged(3));
    QVERIFY(back.wait(5000));
    QCOMPARE(p.b.GetData(), tagged(3));
}

void TstSocket::udpUnreadDatagramDoesNotHoldBackLaterOnes() {
    UdpPair p;
    QList<qint64> reported;
    connect(&p.a, &Socket::DataArrival, this, [&](qint64 n) { reported.append(n); });

    p.b.SendData(tagged(1, 100)); // left unread by the handler
    QTRY_COMPARE(reported.size(), 1);
    p.b.SendData(tagged(2, 128));
    p.b.SendData(tagged(3, 128));
    QTRY_COMPARE(reported.size(), 3);
    QCOMPARE(reported, (QList<qint64>{100, 128, 128}));

    QCOMPARE(p.a.BytesReceived(), 100);
    QCOMPARE(p.a.GetData(), tagged(1, 100));
    QCOMPARE(p.a.GetData(), tagged(2, 128));
    QCOMPARE(p.a.GetData(), tagged(3, 128));
    QCOMPARE(p.a.BytesReceived(), 0);
}

void TstSocket::udpEmptyDatagramIsDropped() {
    // Left at the front of the queue it would read as "nothing waiting" and hide all behind it.
    UdpPair p;
    QUdpSocket raw;
    QVERIFY(raw.bind(kLoopback, 0));
    QSignalSpy arrivals(&p.a, &Socket::DataArrival);
    QCOMPARE(raw.writeDatagram(QByteArray(), kLoopback, p.a.localPort()), 0);
    QCOMPARE(raw.writeDatagram(tagged(7), kLoopback, p.a.localPort()), 128);
    QVERIFY(arrivals.wait(5000));
    QCOMPARE(arrivals.count(), 1);
    QCOMPARE(arrivals.at(0).at(0).toLongLong(), 128);
    QCOMPARE(p.a.BytesReceived(), 128);
    QCOMPARE(p.a.GetData(), tagged(7));
}

void TstSocket::udpQueueIsBounded() {
    UdpPair p;
    QSignalSpy arrivals(&p.a, &Socket::DataArrival);
    // Fill the queue in batches the OS buffer can hold, nothing read.
    constexpr int kBatch = 64;
    static_assert(Socket::kUdpQueueDatagrams % kBatch == 0);
    for (int sent = 0; sent < Socket::kUdpQueueDatagrams;) {
        for (int i = 0; i < kBatch; ++i, ++sent) {
            p.b.SendData(tagged(sent));
        }
        QTRY_COMPARE(arrivals.count(), sent);
    }
    // One read frees one place: the first of the next ten takes it, the other nine are dropped.
    QCOMPARE(tagOf(p.a.GetData()), 0u);
    for (int i = 0; i < 10; ++i) {
        p.b.SendData(tagged(5000 + i));
    }
    QTRY_COMPARE(arrivals.count(), Socket::kUdpQueueDatagrams + 1);
    for (quint32 i = 1; i < quint32(Socket::kUdpQueueDatagrams); ++i) {
        QCOMPARE(tagOf(p.a.GetData()), i);
    }
    QCOMPARE(tagOf(p.a.GetData()), 5000u);
    QCOMPARE(p.a.BytesReceived(), 0);

    // The dropped ones are gone, not held back somewhere: the next datagram is next.
    p.b.SendData(tagged(6000));
    QTRY_COMPARE(arrivals.count(), Socket::kUdpQueueDatagrams + 2);
    QCOMPARE(tagOf(p.a.GetData()), 6000u);
    QCOMPARE(p.a.BytesReceived(), 0);
}

void TstSocket::udpPortInUseFailsToBind() {
    Socket first;
    first.setProtocol(Socket::Protocol::Udp);
    first.Bind(0, kLoopback);
    Socket second;
    second.setProtocol(Socket::Protocol::Udp);
    QCOMPARE(errorNumberOf([&] { second.Bind(first.localPort(), kLoopback); }), SocketErrorNumber::AddressInUse);
    QCOMPARE(second.State(), SocketState::Closed);
}

void TstSocket::tcpConnectReachesConnected() {
    QTcpServer server;
    QVERIFY(server.listen(kLoopback));
    Socket client;
    client.setProtocol(Socket::Protocol::Tcp);
    client.setRemoteHost(QStringLiteral("localhost"));
    client.setRemotePort(server.serverPort());
    client.Connect();
    // Connect only starts the work.
    QVERIFY(client.State() != SocketState::Connected);
    QTRY_COMPARE(client.State(), SocketState::Connected);
    QCOMPARE(client.remoteAddress(), kLoopback);
    QTRY_VERIFY(server.hasPendingConnections());
    // A second Connect while connected is refused.
    QCOMPARE(errorNumberOf([&] { client.Connect(); }), SocketErrorNumber::InvalidOperation);
    client.Close();
    QCOMPARE(client.State(), SocketState::Closed);
}

void TstSocket::tcpConnectRefusedEndsInError() {
    quint16 port = 0;
    {
        QTcpServer gone;
        QVERIFY(gone.listen(kLoopback));
        port = gone.serverPort();
    }
    Socket client;
    client.setObjectName(QStringLiteral("ctlTCPSock"));
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(port);
    QSignalSpy errors(&client, &Socket::Error);
    QSignalSpy closed(&client, &Socket::Closed);
    client.Connect();
    if (runningUnderWine()) {
        QSKIP("Wine never reports a refused connect to a Windows program's socket notifier (Windows does, "
              "after its retries)");
    }
    QVERIFY(errors.wait(5000));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), SocketErrorNumber::ConnectionRefused);
    QVERIFY(!errors.at(0).at(1).toString().isEmpty());
    QCOMPARE(errors.at(0).at(2).toInt(), static_cast<qint32>(0x800A274Du));
    QCOMPARE(errors.at(0).at(3).toString(), QStringLiteral("ctlTCPSock"));
    QCOMPARE(client.State(), SocketState::Error);
    QCOMPARE(closed.count(), 0);

    // A failed attempt may be followed by another without closing first.
    QTcpServer server;
    QVERIFY(server.listen(kLoopback));
    client.setRemotePort(server.serverPort());
    client.Connect();
    QTRY_COMPARE(client.State(), SocketState::Connected);
}

void TstSocket::tcpPeerCloseRaisesClosed() {
    TcpLink link;
    QVERIFY(link.open());
    QStringList events;
    connect(&link.client, &Socket::DataArrival, this, [&](qint64 n) { events << QStringLiteral("data %1").arg(n); });
    connect(&link.client, &Socket::Closed, this, [&] { events << QStringLiteral("closed"); });

    // Data sent just before the close is reported first and stays readable after it.
    link.peer->write(tagged(1));
    link.peer->disconnectFromHost();
    QTRY_VERIFY(events.contains(QStringLiteral("closed")));
    QCOMPARE(events, (QStringList{QStringLiteral("data 128"), QStringLiteral("closed")}));
    QCOMPARE(link.client.State(), SocketState::Closing);
    QCOMPARE(link.client.BytesReceived(), 128);
    QCOMPARE(link.client.GetData(), tagged(1));
    link.client.Close();
    QCOMPARE(link.client.State(), SocketState::Closed);

    // Closing our own end raises nothing.
    TcpLink own;
    QVERIFY(own.open());
    QSignalSpy closed(&own.client, &Socket::Closed);
    QSignalSpy errors(&own.client, &Socket::Error);
    QSignalSpy peerGone(own.peer, &QTcpSocket::disconnected);
    own.client.Close();
    QCOMPARE(own.client.State(), SocketState::Closed);
    QVERIFY(peerGone.wait(5000));
    QCOMPARE(closed.count(), 0);
    QCOMPARE(errors.count(), 0);
}

void TstSocket::tcpSendCompleteFollowsEachSend() {
    Socket idle;
    QCOMPARE(errorNumberOf([&] { idle.SendData(tagged(0)); }), SocketErrorNumber::BadState);

    TcpLink link;
    QVERIFY(link.open());
    QSignalSpy completes(&link.client, &Socket::SendComplete);
    link.client.SendData(tagged(1));
    link.client.SendData(tagged(2));
    // Never during SendData itself: the caller marks the send as under way after the call.
    QCOMPARE(completes.count(), 0);
    QTRY_COMPARE(completes.count(), 2);

    QByteArray received;
    QTRY_COMPARE((received += link.peer->readAll()).size(), 256);
    QCOMPARE(received, tagged(1) + tagged(2));

    // A handler that sends again and lets events run until the peer has it still gets that
    // send's completion, after it returns rather than inside it.
    int depth = 0;
    int deepest = 0;
    connect(&link.client, &Socket::SendComplete, this, [&] {
        deepest = std::max(deepest, ++depth);
        if (completes.count() == 3) {
            link.client.SendData(tagged(4));
            QVERIFY(QTest::qWaitFor([&] { return (received += link.peer->readAll()).size() == 512; }, 5000));
        }
        --depth;
    });
    link.client.SendData(tagged(3));
    QTRY_COMPARE(completes.count(), 4);
    QCOMPARE(deepest, 1);
    QCOMPARE(received.mid(256), tagged(3) + tagged(4));
}

void TstSocket::tcpUnreadBytesAreReportedAgainWithLaterOnes() {
    TcpLink link;
    QVERIFY(link.open());
    // A handler that reads only whole 128-byte records.
    QList<qint64> reported;
    QByteArray read;
    connect(&link.client, &Socket::DataArrival, this, [&](qint64 n) {
        reported.append(n);
        if (n % 128 == 0) {
            read += link.client.GetData();
        }
    });

    const QByteArray records = tagged(1) + tagged(2);
    link.peer->write(records.left(200));
    QTRY_COMPARE(link.client.BytesReceived(), 200);
    QVERIFY(read.isEmpty());
    link.peer->write(records.mid(200));
    QTRY_COMPARE(read.size(), 256);
    QCOMPARE(reported.last(), 256);
    QCOMPARE(read, records);
    QCOMPARE(link.client.BytesReceived(), 0);
}

void TstSocket::tcpReadBufferIsBounded() {
    TcpLink link;
    QVERIFY(link.open());
    constexpr qint64 kStream = 1024 * 1024;
    static_assert(kStream > 4 * Socket::kTcpReadBufferBytes);
    qint64 mostReported = 0;
    qint64 mostQueued = 0;
    bool reading = false;
    QByteArray read;
    connect(&link.client, &Socket::DataArrival, this, [&](qint64 n) {
        mostReported = std::max(mostReported, n);
        mostQueued = std::max(mostQueued, link.client.BytesReceived());
        if (reading) {
            read += link.client.GetData();
        }
    });

    link.peer->write(streamBytes(0, kStream));
    // Nothing read: the client holds a full buffer and no more.
    QTRY_COMPARE(link.client.BytesReceived(), Socket::kTcpReadBufferBytes);
    QCOMPARE(mostReported, Socket::kTcpReadBufferBytes);
    QVERIFY(mostQueued <= Socket::kTcpReadBufferBytes);

    // Once read, the rest of the stream follows, whole and in order.
    reading = true;
    read = link.client.GetData();
    QTRY_COMPARE_WITH_TIMEOUT(read.size(), kStream, 20000);
    QVERIFY(read == streamBytes(0, kStream));
    QVERIFY(mostReported <= Socket::kTcpReadBufferBytes);
    QVERIFY(mostQueued <= Socket::kTcpReadBufferBytes);
}

void TstSocket::arrivalDuringHandlerIsReportedAfterIt() {
    // A handler that lets events run while more data comes in, reading nothing, must still see a
    // report for the newer data once it returns; and it is never entered twice at once.
    UdpPair p;
    QList<qint64> udpReports;
    int depth = 0;
    int deepest = 0;
    connect(&p.a, &Socket::DataArrival, this, [&](qint64 n) {
        deepest = std::max(deepest, ++depth);
        udpReports.append(n);
        if (udpReports.size() == 1) {
            p.b.SendData(tagged(2, 128));
            for (int i = 0; i < 5; ++i) {
                QCoreApplication::processEvents();
            }
        }
        --depth;
    });
    p.b.SendData(tagged(1, 100));
    QTRY_COMPARE(udpReports.size(), 2);
    QCOMPARE(udpReports, (QList<qint64>{100, 128}));
    QCOMPARE(deepest, 1);
    QCOMPARE(p.a.GetData(), tagged(1, 100));
    QCOMPARE(p.a.GetData(), tagged(2, 128));

    TcpLink link;
    QVERIFY(link.open());
    QList<qint64> tcpReports;
    depth = 0;
    deepest = 0;
    connect(&link.client, &Socket::DataArrival, this, [&](qint64 n) {
        deepest = std::max(deepest, ++depth);
        tcpReports.append(n);
        if (tcpReports.size() == 1) {
            link.peer->write(tagged(2, 56));
            link.peer->flush();
            QVERIFY(QTest::qWaitFor([&] { return link.client.BytesReceived() == 256; }, 5000));
        }
        --depth;
    });
    link.peer->write(tagged(1, 200));
    QTRY_COMPARE(tcpReports.size(), 2);
    QCOMPARE(tcpReports, (QList<qint64>{200, 256}));
    QCOMPARE(deepest, 1);
    QCOMPARE(link.client.GetData(), tagged(1, 200) + tagged(2, 56));
}

QTEST_GUILESS_MAIN(TstSocket)
#include "tst_socket.moc"
