#pragma once

#include "relaycore.h"
#include "relaydatagrams.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QThreadPool>
#include <QTimer>

#include <unordered_map>
#include <vector>

class QTcpSocket;

namespace airmesh {
inline namespace relayserver {

struct RelayServerConfig {
    QHostAddress listenAddress = QHostAddress::Any;
    quint16 udpPort = 1500; // 0: any free port (see udpPort() after start)
    quint16 tcpPort = 1502;
    // Outgoing bytes a client may leave unread before it is dropped.
    qint64 maxQueuedBytes = qint64{256} * 1024;
    RelayLimits limits;
};

// The reference server on real sockets: one UDP socket, one TCP listener, one connection per
// pilot, all on the calling thread (password hashes are checked on a pool of their own). The logic is RelayCore's; this
// class moves bytes and keeps each connection's buffers bounded.
class RelayServer final : public QObject, private RelayTransport {
    Q_OBJECT
public:
    // Bytes read from a connection at a time, and the most Qt may buffer for it unread.
    static constexpr qint64 kReadChunk = qint64{16} * 1024;
    static constexpr qint64 kReadBufferCap = qint64{64} * 1024;
    // From this many connections on, datagrams are read in batches a moment apart rather than
    // each as it comes: below it a wake-up is cheap.
    static constexpr int kBatchReadsFromConnections = 256;

    RelayServer(RelayServerConfig config, Accounts accounts, const Clock& clock, RelayCore::LogSink log,
                QObject* parent = nullptr);
    ~RelayServer() override;

    // Binds both sockets; false with `error` set when either cannot be had.
    bool start(QString* error);
    quint16 udpPort() const { return m_udp.localPort(); }
    quint16 tcpPort() const { return m_tcp.serverPort(); }

    RelayCore& core() { return m_core; }
    const RelayCore& core() const { return m_core; }
    // What the one-second timer does: drop silent connections.
    void checkSilence();

private:
    void onNewConnections();
    void onStreamReadable(ConnId id);
    void onStreamClosed(ConnId id);
    void dropSlowPeers();
    // Sends the datagrams gathered since the last flush and hands the connections' new bytes to
    // the system; every handler that may have sent calls it before it returns (a busy relay's
    // reads may hold the event loop, which would otherwise write them, for a while).
    void flushOutput();

    void sendDatagram(const QByteArray& record, const UdpEndpoint& to) override;
    void sendStream(ConnId conn, const QByteArray& record) override;
    void closeStream(ConnId conn) override;

    RelayServerConfig m_config;
    // Checks hashed passwords off the relay's thread.
    QThreadPool m_hashPool;
    RelayDatagrams m_udp;
    QTcpServer m_tcp;
    QTimer m_silenceTimer;
    std::unordered_map<ConnId, QTcpSocket*> m_sockets;
    std::vector<ConnId> m_slow;      // connections over their output cap, dropped after the current event
    std::vector<ConnId> m_unflushed; // connections written to since the last flushOutput
    ConnId m_nextConn = 1;
    RelayCore m_core;
};

} // namespace relayserver
} // namespace airmesh
