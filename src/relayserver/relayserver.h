#pragma once

#include "relaycore.h"

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QThreadPool>
#include <QTimer>
#include <QUdpSocket>

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
// pilot, all on the calling thread. The logic is RelayCore's; this class moves bytes and keeps
// each connection's buffers bounded.
class RelayServer final : public QObject, private RelayTransport {
    Q_OBJECT
public:
    // Bytes read from a connection at a time, and the most Qt may buffer for it unread.
    static constexpr qint64 kReadChunk = qint64{16} * 1024;
    static constexpr qint64 kReadBufferCap = qint64{64} * 1024;
    // Datagrams handled per notification, so a flood on UDP cannot starve the connections.
    static constexpr int kDatagramsPerWakeup = 1024;
    // The UDP socket's buffers each way.
    static constexpr int kUdpBufferBytes = 4 * 1024 * 1024;

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
    void onDatagrams();
    // Linux: reads with recvmmsg on a notifier of our own. Under load with many connections the
    // notifier rests and a 1 ms timer drains what came meanwhile, so a thousand pilots wake the
    // event loop (which polls every connection each time) about a thousand times a second, not
    // ten thousand; with few connections a wake-up is cheap and the notifier never rests.
    void onUdpReadable();
    void drainUdpBatch();
    void dropSlowPeers();
    // Sends the datagrams gathered since the last flush (one system call for up to a batch on
    // Linux); every handler that may have sent calls it before it returns.
    void flushDatagrams();

    void sendDatagram(const QByteArray& record, const UdpEndpoint& to) override;
    void sendStream(ConnId conn, const QByteArray& record) override;
    void closeStream(ConnId conn) override;

    RelayServerConfig m_config;
    // Checks hashed passwords off the relay's thread.
    QThreadPool m_hashPool;
    QUdpSocket m_udp;
    QSocketNotifier* m_udpNotifier = nullptr; // Linux
    QTimer m_udpDrain;                        // Linux: drains while the notifier rests
    static constexpr int kUdpRestMs = 1;
    // Below this many connections a wake-up is cheap: the notifier never rests.
    static constexpr int kUdpRestFromConnections = 256;
    QTcpServer m_tcp;
    QTimer m_silenceTimer;
    std::unordered_map<ConnId, QTcpSocket*> m_sockets;
    std::vector<ConnId> m_slow; // connections over their output cap, dropped after the current event
    struct Outgoing {
        QByteArray record;
        UdpEndpoint to;
    };
    static constexpr std::size_t kDatagramBatch = 64;
    std::vector<Outgoing> m_outgoing; // not yet flushed
    ConnId m_nextConn = 1;
    RelayCore m_core;
};

} // namespace relayserver
} // namespace airmesh
