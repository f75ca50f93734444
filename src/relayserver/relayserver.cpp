#include "relayserver.h"

#include <QTcpSocket>
#include <QThread>

#include <cstring>

#include <algorithm>

#ifdef __linux__
#include <array>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

namespace airmesh {
inline namespace relayserver {

RelayServer::RelayServer(RelayServerConfig config, Accounts accounts, const Clock& clock, RelayCore::LogSink log,
                         QObject* parent)
    : QObject(parent), m_config(std::move(config)),
      m_core(std::move(accounts), m_config.limits, clock, *this, std::move(log)) {
    connect(&m_tcp, &QTcpServer::newConnection, this, &RelayServer::onNewConnections);
#ifndef __linux__
    connect(&m_udp, &QUdpSocket::readyRead, this, &RelayServer::onDatagrams);
#endif
    m_udpDrain.setSingleShot(true);
    m_udpDrain.setInterval(kUdpRestMs);
    m_udpDrain.setTimerType(Qt::PreciseTimer);
    connect(&m_udpDrain, &QTimer::timeout, this, &RelayServer::drainUdpBatch);
    m_silenceTimer.setInterval(1000);
    connect(&m_silenceTimer, &QTimer::timeout, this, &RelayServer::checkSilence);
    // Half the cores at most: the relay and the system keep the rest.
    m_hashPool.setMaxThreadCount(std::clamp(QThread::idealThreadCount() / 2, 1, 4));
    m_core.setHashCheck([this](QByteArray hash, qint32 password, std::function<void(bool)> done) {
        m_hashPool.start([this, hash = std::move(hash), password, done = std::move(done)] {
            // Only the time the relay leaves over (SCHED_IDLE on Linux): logons wait, positions do not.
            QThread::currentThread()->setPriority(QThread::IdlePriority);
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
    // Room for a burst: at a thousand pilots, 10,000 positions a second come in, and a relay
    // that loses the processor for 20 ms must still find them there (the kernel caps the sizes
    // at net.core.rmem_max and wmem_max).
    m_udp.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kUdpBufferBytes);
    m_udp.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kUdpBufferBytes);
#ifdef __linux__
    // QUdpSocket announces its first datagram once and, as nobody reads through it, never again.
    m_udpNotifier = new QSocketNotifier(m_udp.socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_udpNotifier, &QSocketNotifier::activated, this, &RelayServer::onUdpReadable);
#endif
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
    flushDatagrams();
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
    flushDatagrams();
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
    flushDatagrams();
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
        flushDatagrams(); // what one datagram caused goes out before the next is read
    }
    dropSlowPeers();
    flushDatagrams();
}

void RelayServer::onUdpReadable() {
    // The first datagram after a quiet spell is handled at once; then the notifier rests.
    m_udpNotifier->setEnabled(false);
    drainUdpBatch();
}

void RelayServer::drainUdpBatch() {
#ifdef __linux__
    constexpr int kBatch = 64;
    // One byte more than a record: a longer datagram shows itself by filling the buffer.
    static char buffers[kBatch][wire::kRecordBytes + 1];
    std::array<sockaddr_storage, kBatch> from{};
    std::array<iovec, kBatch> iov{};
    std::array<mmsghdr, kBatch> msgs{};
    const int fd = static_cast<int>(m_udp.socketDescriptor());
    int handled = 0;
    while (handled < kDatagramsPerWakeup) {
        for (int i = 0; i < kBatch; ++i) {
            iov[i] = {buffers[i], sizeof buffers[i]};
            msgs[i].msg_hdr = {};
            msgs[i].msg_hdr.msg_name = &from[i];
            msgs[i].msg_hdr.msg_namelen = sizeof from[i];
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        const int got = ::recvmmsg(fd, msgs.data(), kBatch, MSG_DONTWAIT, nullptr);
        if (got <= 0) {
            break;
        }
        for (int i = 0; i < got; ++i) {
            const QHostAddress address(reinterpret_cast<const sockaddr*>(&from[i]));
            const auto* v4 = reinterpret_cast<const sockaddr_in*>(&from[i]);
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&from[i]);
            const quint16 port = ntohs(from[i].ss_family == AF_INET6 ? v6->sin6_port : v4->sin_port);
            m_core.datagram(QByteArrayView(buffers[i], msgs[i].msg_len), address, port);
            flushDatagrams(); // what one datagram caused goes out before the next is handled
        }
        handled += got;
    }
    dropSlowPeers();
    flushDatagrams();
    if (handled > 0 && m_core.connectionCount() >= kUdpRestFromConnections) {
        m_udpDrain.start(); // still busy: look again in a moment, without the notifier
    } else {
        m_udpNotifier->setEnabled(true); // quiet: wait for the next one
    }
#endif
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
    m_outgoing.push_back(Outgoing{record, to});
    if (m_outgoing.size() >= kDatagramBatch) {
        flushDatagrams();
    }
}

void RelayServer::flushDatagrams() {
    if (m_outgoing.empty()) {
        return;
    }
    // A full socket buffer loses datagrams, as UDP may.
#ifdef __linux__
    const int fd = static_cast<int>(m_udp.socketDescriptor());
    sockaddr_storage local{};
    socklen_t localLength = sizeof local;
    const bool ok = fd >= 0 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) == 0;
    const bool v6 = local.ss_family == AF_INET6;
    std::array<sockaddr_storage, kDatagramBatch> to{};
    std::array<iovec, kDatagramBatch> iov{};
    std::array<mmsghdr, kDatagramBatch> msgs{};
    const std::size_t n = std::min(m_outgoing.size(), kDatagramBatch);
    std::size_t count = 0;
    for (std::size_t i = 0; ok && i < n; ++i) {
        const Outgoing& o = m_outgoing[i];
        socklen_t length = 0;
        bool isV4 = false;
        const quint32 v4 = o.to.address.toIPv4Address(&isV4);
        if (!v6 && isV4) {
            auto* a = reinterpret_cast<sockaddr_in*>(&to[count]);
            a->sin_family = AF_INET;
            a->sin_port = htons(o.to.port);
            a->sin_addr.s_addr = htonl(v4);
            length = sizeof(sockaddr_in);
        } else if (v6) {
            // An IPv4 peer of a dual-stack socket as ::ffff:a.b.c.d.
            auto* a = reinterpret_cast<sockaddr_in6*>(&to[count]);
            a->sin6_family = AF_INET6;
            a->sin6_port = htons(o.to.port);
            const Q_IPV6ADDR bytes = o.to.address.toIPv6Address();
            std::memcpy(&a->sin6_addr, &bytes, sizeof bytes);
            a->sin6_scope_id = o.to.address.scopeId().toUInt();
            length = sizeof(sockaddr_in6);
        } else {
            continue; // an IPv6 peer on an IPv4 socket: cannot be
        }
        iov[count] = {const_cast<char*>(o.record.constData()), static_cast<std::size_t>(o.record.size())};
        msgs[count].msg_hdr.msg_name = &to[count];
        msgs[count].msg_hdr.msg_namelen = length;
        msgs[count].msg_hdr.msg_iov = &iov[count];
        msgs[count].msg_hdr.msg_iovlen = 1;
        ++count;
    }
    if (ok) {
        for (std::size_t i = 0; i < count;) {
            const int sent = ::sendmmsg(fd, &msgs[i], static_cast<unsigned>(count - i), MSG_DONTWAIT);
            if (sent > 0) {
                i += static_cast<std::size_t>(sent);
            } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                ++i; // this one cannot go (its address): the others still may
            } else if (sent < 0 && errno == EINTR) {
                continue;
            } else {
                break; // the socket's buffer is full
            }
        }
        m_outgoing.erase(m_outgoing.begin(), m_outgoing.begin() + static_cast<std::ptrdiff_t>(n));
        if (!m_outgoing.empty()) {
            flushDatagrams();
        }
        return;
    }
#endif
    for (const Outgoing& o : m_outgoing) {
        m_udp.writeDatagram(o.record, o.to.address, o.to.port);
    }
    m_outgoing.clear();
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
