#include "relayserver.h"

#include "background.h"

#include <QTcpSocket>
#include <QThread>

#include <algorithm>

namespace airmesh {
inline namespace relayserver {

RelayServer::RelayServer(RelayServerConfig config, Accounts accounts, const Clock& clock, RelayCore::LogSink log,
                         QObject* parent)
    : QObject(parent), m_config(std::move(config)),
      m_udp(
          [this](QByteArrayView bytes, const QHostAddress& from, quint16 port) { m_core.datagram(bytes, from, port); },
          [this] {
              dropSlowPeers();
              flushOutput();
          },
          [this] { return m_core.connectionCount() >= kBatchReadsFromConnections; }),
      m_core(std::move(accounts), m_config.limits, clock, *this, std::move(log)) {
    connect(&m_tcp, &QTcpServer::newConnection, this, &RelayServer::onNewConnections);
    m_silenceTimer.setInterval(1000);
    connect(&m_silenceTimer, &QTimer::timeout, this, &RelayServer::checkSilence);
    // As many checks at once as there are cores (four at most, 64 MiB each): they run as
    // background work, so the relay has the processor whenever it wants it.
    m_hashPool.setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 1, 4));
    m_core.setHashCheck([this](QByteArray hash, qint32 password, std::function<void(bool)> done) {
        m_hashPool.start([this, hash = std::move(hash), password, done = std::move(done)] {
            // Behind the relay: logons wait, positions do not.
            makeThisThreadBackground();
            const bool right = Accounts::verifyHash(hash, password);
            // Back on the relay's thread; dropped with this object if it is gone by then.
            QMetaObject::invokeMethod(
                this, [done, right] { done(right); }, Qt::QueuedConnection);
        });
    });
}

RelayServer::~RelayServer() {
    // No check may finish into a relay that is being taken apart.
    m_hashPool.clear();
    m_hashPool.waitForDone();
    for (auto& [id, socket] : m_sockets) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

bool RelayServer::start(QString* error) {
    QString why;
    if (!m_udp.bind(m_config.listenAddress, m_config.udpPort, &why)) {
        *error = QStringLiteral("UDP port %1: %2").arg(m_config.udpPort).arg(why);
        return false;
    }
    if (!m_tcp.listen(m_config.listenAddress, m_config.tcpPort)) {
        *error = QStringLiteral("TCP port %1: %2").arg(m_config.tcpPort).arg(m_tcp.errorString());
        m_udp.close();
        return false;
    }
    m_udp.watchStream(m_tcp.socketDescriptor());
    m_silenceTimer.start();
    return true;
}

void RelayServer::checkSilence() {
    m_core.checkSilence();
    dropSlowPeers();
    flushOutput();
}

void RelayServer::onNewConnections() {
    while (QTcpSocket* socket = m_tcp.nextPendingConnection()) {
        const ConnId id = m_nextConn++;
        if (!m_core.connectionOpened(id, socket->peerAddress())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setReadBufferSize(kReadBufferCap);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_sockets.emplace(id, socket);
        m_udp.watchStream(socket->socketDescriptor());
        connect(socket, &QTcpSocket::readyRead, this, [this, id] { onStreamReadable(id); });
        connect(socket, &QTcpSocket::disconnected, this, [this, id] { onStreamClosed(id); });
        if (socket->bytesAvailable() > 0) {
            onStreamReadable(id);
        }
    }
}

void RelayServer::onStreamReadable(ConnId id) {
    const auto it = m_sockets.find(id);
    if (it == m_sockets.end()) {
        return;
    }
    QTcpSocket* socket = it->second;
    char buffer[kReadChunk];
    // Everything Qt holds for this connection (at most its read buffer cap), chunk by chunk.
    while (m_core.hasConnection(id)) {
        const qint64 n = socket->read(buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        m_core.streamBytes(id, QByteArrayView(buffer, n));
    }
    dropSlowPeers();
    flushOutput();
}

void RelayServer::onStreamClosed(ConnId id) {
    const auto it = m_sockets.find(id);
    if (it == m_sockets.end()) {
        return;
    }
    QTcpSocket* socket = it->second;
    m_sockets.erase(it);
    socket->disconnect(this);
    socket->deleteLater();
    m_core.connectionClosed(id);
    dropSlowPeers();
    flushOutput();
}

void RelayServer::dropSlowPeers() {
    while (!m_slow.empty()) {
        const ConnId id = m_slow.back();
        m_slow.pop_back();
        // Dropping sends PlayerLeft to the others, which may put more of them over the cap.
        m_core.dropConnection(
            id, QStringLiteral("not reading (more than %1 bytes waiting to be sent)").arg(m_config.maxQueuedBytes),
            DropReason::NotReading);
    }
}

void RelayServer::sendDatagram(const QByteArray& record, const UdpEndpoint& to) {
    m_udp.queue(record, to);
}

void RelayServer::flushOutput() {
    m_udp.flush();
    for (const ConnId id : m_unflushed) {
        if (const auto it = m_sockets.find(id); it != m_sockets.end()) {
            it->second->flush();
        }
    }
    m_unflushed.clear();
}

void RelayServer::sendStream(ConnId conn, const QByteArray& record) {
    const auto it = m_sockets.find(conn);
    if (it == m_sockets.end()) {
        return;
    }
    if (std::find(m_slow.begin(), m_slow.end(), conn) != m_slow.end()) {
        return; // already condemned; a gap in its stream no longer matters
    }
    if (it->second->bytesToWrite() + record.size() > m_config.maxQueuedBytes) {
        m_slow.push_back(conn);
        return;
    }
    it->second->write(record);
    if (m_unflushed.empty() || m_unflushed.back() != conn) {
        m_unflushed.push_back(conn);
    }
}

void RelayServer::closeStream(ConnId conn) {
    const auto it = m_sockets.find(conn);
    if (it == m_sockets.end()) {
        return;
    }
    QTcpSocket* socket = it->second;
    m_sockets.erase(it);
    std::erase(m_slow, conn);
    // The relay has already forgotten it: no disconnected() back into the relay.
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
}

} // namespace relayserver
} // namespace airmesh
