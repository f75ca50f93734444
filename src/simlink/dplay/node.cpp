#include "node.h"

#include <algorithm>
#include <vector>

namespace airmesh::dplay {

namespace {
constexpr int kTickMs = 100;
constexpr int kReadChunk = 64 * 1024;
constexpr int kDatagramsPerRound = 256;
} // namespace

Node::Node(Config config)
    : m_config(std::move(config)), m_clock(m_config.clock ? m_config.clock : NodeClock::system()) {
    m_clock->attach(*this);
}

Node::~Node() {
    stop();
    m_clock->detach(*this);
}

bool Node::waitUntil(NodeClock::Lock& lock, qint64 deadlineMs, const std::function<bool()>& done) {
    return m_clock->waitUntil(m_changed, lock, deadlineMs, done);
}

void Node::clockMoved() {
    m_waker.wake();
}

void Node::awaitTimers(qint64 nowMs) {
    NodeClock::Lock lock(m_mutex);
    m_changed.notify_all(); // the waiters read the new time
    m_waker.wake();
    m_changed.wait(lock, [&] { return !m_running || m_stopping || m_timersRunAt >= nowMs; });
}

void Node::log(const QString& line) const {
    if (m_config.log) {
        m_config.log(line);
    }
}

bool Node::start(QString& error) {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable()) {
        return true;
    }
    if (m_waker.fd() == net::kNoFd) {
        error = QStringLiteral("cannot create a wake-up pipe: %1").arg(net::lastErrorText());
        return false;
    }
    for (quint16 p = kUdpPortFirst; p <= kUdpPortLast && m_udp == net::kNoFd; ++p) {
        m_udp = net::udpOpen(m_config.bindIp, p, true);
    }
    for (quint16 p = kTcpPortFirst; p <= kTcpPortLast && m_listen == net::kNoFd; ++p) {
        m_listen = net::tcpListen(m_config.bindIp, p);
    }
    if (m_config.listenForEnum) {
        m_enum = net::udpOpen(m_config.enumBindIp, m_config.enumPort, true);
    }
    if (m_udp == net::kNoFd || m_listen == net::kNoFd || (m_config.listenForEnum && m_enum == net::kNoFd)) {
        error = m_udp == net::kNoFd ? QStringLiteral("no free UDP port in 2350-2399")
                : m_listen == net::kNoFd
                    ? QStringLiteral("no free TCP port in 2300-2349")
                    : QStringLiteral("UDP port %1 is taken: is another session host running?").arg(m_config.enumPort);
        net::closeFd(m_udp);
        net::closeFd(m_listen);
        net::closeFd(m_enum);
        m_udp = m_listen = m_enum = net::kNoFd;
        return false;
    }
    m_udpPort = net::localPort(m_udp);
    m_tcpPort = net::localPort(m_listen);
    m_enumPortBound = m_enum != net::kNoFd ? net::localPort(m_enum) : 0;
    m_stopping = false;
    m_running = true;
    m_thread = std::thread([this] { run(); });
    return true;
}

void Node::stop() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable()) {
            return;
        }
        m_stopping = true;
    }
    m_waker.wake();
    m_thread.join();
    std::lock_guard lock(m_mutex);
    m_running = false;
    for (auto& [id, c] : m_conns) {
        // Let what was queued go out, briefly: a leave message should reach the peer.
        if (c.state == ConnState::Open && !c.tx.isEmpty()) {
            net::sendSome(c.fd, c.tx.constData(), static_cast<int>(c.tx.size()));
        }
        net::closeFd(c.fd);
    }
    m_conns.clear();
    net::closeFd(m_udp);
    net::closeFd(m_listen);
    net::closeFd(m_enum);
    m_udp = m_listen = m_enum = net::kNoFd;
    m_changed.notify_all();
}

int Node::findConnection(quint32 ip, quint16 port) const {
    for (const auto& [id, c] : m_conns) {
        if (c.outbound && c.ip == ip && c.listenPort == port && c.state != ConnState::Closed) {
            return id;
        }
    }
    return -1;
}

int Node::connectionTo(quint32 ip, quint16 port) {
    if (const int id = findConnection(ip, port); id >= 0) {
        // A program that quit a moment ago may have left its port to a new one: a connection
        // whose peer has closed is not reused.
        if (m_conns[id].state != ConnState::Open || !net::peerClosed(m_conns[id].fd)) {
            return id;
        }
        drop(id, QStringLiteral("closed by the peer"));
    }
    if (static_cast<int>(m_conns.size()) >= m_config.maxConnections) {
        log(QStringLiteral("too many connections: none opened to %1:%2").arg(net::ipText(ip)).arg(port));
        return -1;
    }
    bool done = false;
    const net::Fd fd = net::tcpConnectStart(ip, port, done);
    if (fd == net::kNoFd) {
        return -1;
    }
    Conn c;
    c.fd = fd;
    c.outbound = true;
    c.ip = ip;
    c.listenPort = port;
    c.state = done ? ConnState::Open : ConnState::Connecting;
    const int id = m_nextConn++;
    m_conns.emplace(id, std::move(c));
    m_waker.wake();
    return id;
}

bool Node::sendOn(int conn, const QByteArray& bytes) {
    auto it = m_conns.find(conn);
    if (it == m_conns.end() || it->second.state == ConnState::Closed) {
        return false;
    }
    Conn& c = it->second;
    if (c.tx.size() + bytes.size() > m_config.maxPendingWriteBytes) {
        drop(conn, QStringLiteral("the peer does not read"));
        return false;
    }
    c.tx.append(bytes);
    if (c.state == ConnState::Open) {
        flush(conn);
    }
    if (m_conns.contains(conn) && !m_conns[conn].tx.isEmpty()) {
        m_waker.wake();
    }
    return m_conns.contains(conn);
}

Node::ConnState Node::connState(int conn) const {
    const auto it = m_conns.find(conn);
    return it == m_conns.end() ? ConnState::Closed : it->second.state;
}

quint16 Node::connListenPort(int conn) const {
    const auto it = m_conns.find(conn);
    return it == m_conns.end() ? 0 : it->second.listenPort;
}

quint32 Node::connPeerIp(int conn) const {
    const auto it = m_conns.find(conn);
    return it == m_conns.end() ? 0 : it->second.ip;
}

void Node::closeConnection(int conn) {
    auto it = m_conns.find(conn);
    if (it == m_conns.end()) {
        return;
    }
    net::closeFd(it->second.fd);
    m_conns.erase(it);
    m_changed.notify_all();
}

bool Node::sendDatagram(quint32 ip, quint16 port, const QByteArray& bytes) const {
    return m_udp != net::kNoFd && net::sendTo(m_udp, bytes.constData(), static_cast<int>(bytes.size()), ip, port) >= 0;
}

void Node::flush(int id) {
    Conn& c = m_conns[id];
    while (!c.tx.isEmpty()) {
        const int n = net::sendSome(c.fd, c.tx.constData(), static_cast<int>(c.tx.size()));
        if (n < 0) {
            drop(id, QStringLiteral("the connection failed"));
            return;
        }
        if (n == 0) {
            return;
        }
        c.tx.remove(0, n);
    }
}

void Node::drop(int id, const QString& why) {
    auto it = m_conns.find(id);
    if (it == m_conns.end()) {
        return;
    }
    log(QStringLiteral("connection %1 %2:%3 closed: %4")
            .arg(it->second.outbound ? QStringLiteral("to") : QStringLiteral("from"), net::ipText(it->second.ip))
            .arg(it->second.listenPort)
            .arg(why));
    net::closeFd(it->second.fd);
    it->second.fd = net::kNoFd;
    it->second.state = ConnState::Closed;
    connectionClosed(id);
    m_conns.erase(id);
    m_changed.notify_all();
}

void Node::readDatagrams(net::Fd fd, bool enumSocket) {
    std::vector<char>& buffer = m_datagramBuffer;
    buffer.resize(kMaxDatagramBytes + kSpHeaderBytes + 1);
    for (int i = 0; i < kDatagramsPerRound; ++i) {
        quint32 ip = 0;
        quint16 port = 0;
        const int n = net::recvFrom(fd, buffer.data(), static_cast<int>(buffer.size()), ip, port);
        if (n < 0) {
            return;
        }
        if (n > static_cast<int>(buffer.size())) {
            log(QStringLiteral("oversized datagram from %1 dropped").arg(net::ipText(ip)));
            continue;
        }
        const auto m = parseDatagram(QByteArray(buffer.data(), n));
        if (!m) {
            log(QStringLiteral("malformed datagram from %1 dropped (%2 bytes)").arg(net::ipText(ip)).arg(n));
            continue;
        }
        Origin o;
        o.ip = ip;
        o.port = port;
        o.enumSocket = enumSocket;
        handle(*m, o);
    }
}

void Node::readConnection(int id) {
    std::vector<char>& buffer = m_streamBuffer;
    buffer.resize(kReadChunk);
    const int n = net::recvSome(m_conns[id].fd, buffer.data(), kReadChunk);
    if (n == -1) {
        return;
    }
    if (n <= 0) {
        drop(id, n == 0 ? QStringLiteral("closed by the peer") : QStringLiteral("reset"));
        return;
    }
    m_conns[id].rx.append(buffer.data(), n);
    for (;;) {
        auto it = m_conns.find(id);
        if (it == m_conns.end()) {
            return;
        }
        QByteArray& rx = it->second.rx;
        if (rx.size() < 4) {
            return;
        }
        const quint32 size = announcedSize(rx.constData(), static_cast<int>(rx.size()));
        if (size < static_cast<quint32>(kSpHeaderBytes) || size > static_cast<quint32>(kMaxMessageBytes)) {
            drop(id, QStringLiteral("a message of %1 bytes").arg(size));
            return;
        }
        if (rx.size() < static_cast<qsizetype>(size)) {
            return;
        }
        const QByteArray bytes = rx.left(size);
        rx.remove(0, size);
        const auto m = parseTcpMessage(bytes);
        if (!m) {
            log(QStringLiteral("malformed message dropped"));
            continue;
        }
        if (!it->second.outbound && m->replyTo.port != 0) {
            it->second.listenPort = m->replyTo.port;
        }
        Origin o;
        o.tcp = true;
        o.conn = id;
        o.ip = it->second.ip;
        handle(*m, o);
    }
}

void Node::run() {
    qint64 nextTick = nowMs() + kTickMs;
    std::vector<net::PollItem> items;
    std::vector<int> ids;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping) {
                return;
            }
            items.clear();
            ids.clear();
            items.push_back({m_waker.fd()});
            items.push_back({m_udp});
            items.push_back({m_listen});
            if (m_enum != net::kNoFd) {
                items.push_back({m_enum});
            }
            for (auto& [id, c] : m_conns) {
                net::PollItem item{c.fd};
                item.wantWrite = c.state == ConnState::Connecting || !c.tx.isEmpty();
                items.push_back(item);
                ids.push_back(id);
            }
        }
        // Real time for the sockets; the timers are due when the clock says so, and a clock moved
        // by hand wakes this poll.
        const int wait = static_cast<int>(std::clamp<qint64>(nextTick - nowMs(), 0, kTickMs));
        if (net::pollItems(items, wait) < 0) {
            log(QStringLiteral("poll failed: %1").arg(net::lastErrorText()));
        }
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return;
        }
        if (items[0].readable) {
            m_waker.drain();
        }
        if (items[1].readable) {
            readDatagrams(m_udp, false);
        }
        if (items[2].readable) {
            quint32 ip = 0;
            const net::Fd fd = net::tcpAccept(m_listen, ip);
            if (fd != net::kNoFd) {
                if (static_cast<int>(m_conns.size()) >= m_config.maxConnections) {
                    log(QStringLiteral("too many connections: %1 refused").arg(net::ipText(ip)));
                    net::closeFd(fd);
                } else {
                    Conn c;
                    c.fd = fd;
                    c.ip = ip;
                    c.state = ConnState::Open;
                    m_conns.emplace(m_nextConn++, std::move(c));
                }
            }
        }
        size_t first = 3;
        if (m_enum != net::kNoFd) {
            if (items[3].readable) {
                readDatagrams(m_enum, true);
            }
            first = 4;
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            const int id = ids[i];
            const net::PollItem& item = items[first + i];
            auto it = m_conns.find(id);
            if (it == m_conns.end()) {
                continue;
            }
            if (it->second.state == ConnState::Connecting && (item.writable || item.failed)) {
                const int err = net::connectResult(it->second.fd);
                if (err != 0) {
                    drop(id, QStringLiteral("connect failed (error %1)").arg(err));
                    continue;
                }
                it->second.state = ConnState::Open;
                m_changed.notify_all();
            }
            if (item.readable || (item.failed && it->second.state == ConnState::Open)) {
                readConnection(id);
            }
            if (m_conns.contains(id) && item.writable && m_conns[id].state == ConnState::Open) {
                flush(id);
            }
        }
        const qint64 now = nowMs();
        if (now >= nextTick) {
            nextTick = now + kTickMs;
            tick(now);
        }
        m_timersRunAt = now;
        m_changed.notify_all();
    }
}

} // namespace airmesh::dplay
