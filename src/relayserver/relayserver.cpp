#include "relayserver.h"

#include <QTcpSocket>
#include <QThread>

#include <algorithm>

namespace airmesh {
inline namespace relayserver {

RelayServer::RelayServer(RelayServerConfig config, Accounts accounts, const Clock& clock, RelayCore::LogSink log,
                         QObject* parent)
    : QObject(parent), m_config(std::move(config)),
      m_core(std::move(accounts), m_config.limits, clock, *this, std::move(log)) {
    connect(&m_tcp, &QTcpServer::newConnection, this, &RelayServer::onNewConnections);
    connect(&m_udp, &QUdpSocket::readyRead, this, &RelayServer::onDatagrams);
    m_silenceTimer.setInterval(1000);
    connect(&m_silenceTimer, &QTimer::timeout, this, &RelayServer::checkSilence);
    // Half the cores at most: the relay and the system keep the rest.
    m_hashPool.setMaxThreadCount(std::clamp(QThread::idealThreadCount() / 2, 1, 4));
    m_core.setHashCheck([this](QByteArray hash, qint32 password, std::function<void(bool)> done) {
        m_hashPool.start([this, hash = std::move(hash), password, done = std::move(done)] {
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
    if (!m_udp.bind(m_config.listenAddress, m_config.udpPort)) {
        *error = QStringLiteral("UDP port %1: %2").arg(m_config.udpPort).arg(m_udp.errorString());
        return false;
    }
    if (!m_tcp.listen(m_config.listenAddress, m_config.tcpPort)) {
        *error = QStringLiteral("TCP port %1: %2").arg(m_config.tcpPort).arg(m_tcp.errorString());
        m_udp.close();
        return false;
    }
    m_silenceTimer.start();
    return true;
}

void RelayServer::checkSilence() {
    m_core.checkSilence();
    dropSlowPeers();
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
}

void RelayServer::onDatagrams() {
    // One byte more than a record: a longer datagram shows itself by filling the buffer.
    char buffer[wire::kRecordBytes + 1];
    QHostAddress from;
    quint16 port = 0;
    for (int i = 0; i < kDatagramsPerWakeup && m_udp.hasPendingDatagrams(); ++i) {
        const qint64 n = m_udp.readDatagram(buffer, sizeof buffer, &from, &port);
        if (n < 0) {
            break;
        }
        m_core.datagram(QByteArrayView(buffer, n), from, port);
    }
    dropSlowPeers();
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
    // A full socket buffer loses the datagram, as UDP may.
    m_udp.writeDatagram(record, to.address, to.port);
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
