// The receive path end to end on real loopback sockets: datagrams and a TCP stream become
// records in order, and datagrams from anyone but the server never reach the handler.
#include "serverlink/framing.h"
#include "serverlink/socket.h"
#include "serverlink/socketqueue.h"
#include "wire/records.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtTest>

using namespace airmesh;
using namespace airmesh::wire;

class TestReceivePath : public QObject {
    Q_OBJECT

private slots:
    void udpRecordsFromTheServerOnly();
    void tcpStreamCutIntoRecords();
};

void TestReceivePath::udpRecordsFromTheServerOnly() {
    Socket client;
    client.setProtocol(Socket::Protocol::Udp);
    client.Bind(0, QHostAddress::LocalHost);
    const quint16 port = static_cast<quint16>(client.localPort());

    QUdpSocket server;   // the server, on 127.0.0.1
    QUdpSocket stranger; // someone else, on another loopback address
    QUdpSocket forger;   // someone on the server's address, from another port
    QVERIFY(server.bind(QHostAddress::LocalHost, 0));
    QVERIFY(stranger.bind(QHostAddress(QStringLiteral("127.0.0.2")), 0));
    QVERIFY(forger.bind(QHostAddress::LocalHost, 0));

    SocketReceiveQueue queue(client);
    queue.setAllowedSender(QHostAddress::LocalHost, server.localPort());
    QList<ServerRecord> got;
    RecordGate gate([&](const QByteArray& r) { got.append(ServerRecord::fromBytes(r)); });
    connect(&client, &Socket::DataArrival, this, [&](qint64 n) { UdpDataArrival(n, queue, gate); });

    const QByteArray forged = toClient::logonAccepted(99, QStringLiteral("forged")).toBytes();
    stranger.writeDatagram(forged, QHostAddress::LocalHost, port);
    server.writeDatagram(toClient::playerJoined(7, QStringLiteral("Bob")).toBytes(), QHostAddress::LocalHost, port);
    forger.writeDatagram(forged, QHostAddress::LocalHost, port);
    server.writeDatagram(toClient::positionUpdate(7, QByteArray(52, 'p')).toBytes(), QHostAddress::LocalHost, port);

    QTRY_COMPARE_WITH_TIMEOUT(got.size(), 2, 5000);
    QCOMPARE(got[0], toClient::playerJoined(7, QStringLiteral("Bob")));
    QCOMPARE(got[1], toClient::positionUpdate(7, QByteArray(52, 'p')));
    QCOMPARE(queue.refusedDatagrams(), 2);
}

void TestReceivePath::tcpStreamCutIntoRecords() {
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    Socket client;
    client.setProtocol(Socket::Protocol::Tcp);
    client.setRemoteHost(QStringLiteral("127.0.0.1"));
    client.setRemotePort(listener.serverPort());
    client.Connect();
    QTRY_VERIFY_WITH_TIMEOUT(listener.hasPendingConnections(), 5000);
    QTcpSocket* peer = listener.nextPendingConnection();
    QTRY_COMPARE_WITH_TIMEOUT(client.State(), 7, 5000);

    SocketReceiveQueue queue(client);
    TcpFramer framer;
    QStringList pieces;
    RecordGate gate(
        [&](const QByteArray& r) { pieces.append(decode<ChatChunk>(ServerRecord::fromBytes(r)).piece.trimmed()); });
    connect(&client, &Socket::DataArrival, this, [&](qint64 n) { framer.DataArrival(n, queue, gate); });

    QByteArray stream;
    for (const QString& p : chatPieces(QString(120, QLatin1Char('x')))) {
        stream.append(toClient::chatChunk(5, p).toBytes());
    }
    // Written in awkward pieces: a record boundary never coincides with a write.
    for (qsizetype at = 0; at < stream.size(); at += 100) {
        peer->write(stream.mid(at, 100));
        peer->flush();
        QTest::qWait(0); // let the client see each piece on its own where the OS allows
    }
    QTRY_COMPARE_WITH_TIMEOUT(pieces.size(), 4, 5000);
    QCOMPARE(pieces, (QStringList{QString(56, QLatin1Char('x')), QString(56, QLatin1Char('x')),
                                  QString(8, QLatin1Char('x')), kChatEndMark}));
}

QTEST_GUILESS_MAIN(TestReceivePath)
#include "tst_receivepath.moc"
