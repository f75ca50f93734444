// Linux: recvmmsg and sendmmsg on the descriptor of a QUdpSocket, read on a notifier of our own
// (QUdpSocket announces its first datagram once and, as nobody reads through it, never again).
#include "relaydatagrams.h"

#include <QSocketNotifier>
#include <QUdpSocket>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace airmesh {
inline namespace relayserver {

namespace {

constexpr int kBatch = 64;

union SocketAddress {
    sockaddr any;
    sockaddr_in v4;
    sockaddr_in6 v6;
};

} // namespace

struct RelayDatagrams::Backend {
    Receive receive;
    std::function<void()> afterBatch;
    std::function<bool()> busy;
    QUdpSocket socket;
    QSocketNotifier* notifier = nullptr;
    // The relay's TCP streams (and their listener): input on any of them ends a hold at once.
    int streams = -1;
    // When busy: a read every kCycle, and the event loop's turn (the TCP connections, the
    // timers, the status page) at least every kHold.
    static constexpr std::chrono::microseconds kCycle{1000};
    static constexpr std::chrono::milliseconds kHold{20};
    int fd = -1;
    bool v6 = false; // an IPv6 socket: IPv4 peers are written as ::ffff:a.b.c.d

    struct Outgoing {
        QByteArray record;
        SocketAddress to;
        socklen_t length;
    };
    std::vector<Outgoing> outgoing; // not yet flushed

    void drainBatch();
    // Reads and hands on what is waiting, up to kDatagramsPerBatch; how many.
    int readAvailable();
    bool streamInput() const;
    void sendQueued();
};

RelayDatagrams::RelayDatagrams(Receive receive, std::function<void()> afterBatch, std::function<bool()> busy,
                               QObject* parent)
    : QObject(parent), m_backend(std::make_unique<Backend>()) {
    Backend& b = *m_backend;
    b.receive = std::move(receive);
    b.afterBatch = std::move(afterBatch);
    b.busy = std::move(busy);
    b.outgoing.reserve(kBatch);
    b.streams = ::epoll_create1(EPOLL_CLOEXEC);
}

RelayDatagrams::~RelayDatagrams() {
    if (m_backend->streams >= 0) {
        ::close(m_backend->streams);
    }
}

bool RelayDatagrams::bind(const QHostAddress& address, quint16 port, QString* error) {
    Backend& b = *m_backend;
    if (!b.socket.bind(address, port)) {
        *error = b.socket.errorString();
        return false;
    }
    b.socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kBufferBytes);
    b.socket.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kBufferBytes);
    b.fd = static_cast<int>(b.socket.socketDescriptor());
    SocketAddress local{};
    socklen_t length = sizeof local;
    b.v6 = ::getsockname(b.fd, &local.any, &length) == 0 && local.any.sa_family == AF_INET6;
    b.notifier = new QSocketNotifier(b.socket.socketDescriptor(), QSocketNotifier::Read, this);
    connect(b.notifier, &QSocketNotifier::activated, this, [&b] { b.drainBatch(); });
    return true;
}

quint16 RelayDatagrams::localPort() const {
    return m_backend->socket.localPort();
}

void RelayDatagrams::close() {
    Backend& b = *m_backend;
    delete b.notifier;
    b.notifier = nullptr;
    b.outgoing.clear();
    b.socket.close();
    b.fd = -1;
}

void RelayDatagrams::queue(const QByteArray& record, const UdpEndpoint& to) {
    Backend& b = *m_backend;
    Backend::Outgoing o{record, {}, 0};
    bool isV4 = false;
    const quint32 v4 = to.address.toIPv4Address(&isV4);
    if (!b.v6 && isV4) {
        o.to.v4.sin_family = AF_INET;
        o.to.v4.sin_port = htons(to.port);
        o.to.v4.sin_addr.s_addr = htonl(v4);
        o.length = sizeof o.to.v4;
    } else if (b.v6) {
        o.to.v6.sin6_family = AF_INET6;
        o.to.v6.sin6_port = htons(to.port);
        const Q_IPV6ADDR bytes = to.address.toIPv6Address(); // IPv4 as ::ffff:a.b.c.d
        std::memcpy(&o.to.v6.sin6_addr, &bytes, sizeof bytes);
        o.to.v6.sin6_scope_id = to.address.scopeId().isEmpty() ? 0 : to.address.scopeId().toUInt();
        o.length = sizeof o.to.v6;
    } else {
        return; // an IPv6 peer of an IPv4 socket: cannot be
    }
    b.outgoing.push_back(std::move(o));
    if (b.outgoing.size() >= kBatch) {
        b.sendQueued();
    }
}

void RelayDatagrams::flush() {
    m_backend->sendQueued();
}

void RelayDatagrams::Backend::sendQueued() {
    Backend& b = *this;
    if (b.outgoing.empty() || b.fd < 0) {
        b.outgoing.clear();
        return;
    }
    std::array<iovec, kBatch> iov{};
    std::array<mmsghdr, kBatch> msgs{};
    for (std::size_t start = 0; start < b.outgoing.size(); start += kBatch) {
        const std::size_t count = std::min<std::size_t>(kBatch, b.outgoing.size() - start);
        for (std::size_t i = 0; i < count; ++i) {
            Backend::Outgoing& o = b.outgoing[start + i];
            iov[i] = {const_cast<char*>(o.record.constData()), static_cast<std::size_t>(o.record.size())};
            msgs[i].msg_hdr = {};
            msgs[i].msg_hdr.msg_name = &o.to;
            msgs[i].msg_hdr.msg_namelen = o.length;
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
        }
        for (std::size_t i = 0; i < count;) {
            const int sent = ::sendmmsg(b.fd, &msgs[i], static_cast<unsigned>(count - i), MSG_DONTWAIT);
            if (sent > 0) {
                i += static_cast<std::size_t>(sent);
            } else if (errno == EINTR) {
                continue;
            } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
                break; // the socket's buffer is full: the rest of this batch is lost
            } else {
                ++i; // this one cannot go (its address): the others still may
            }
        }
    }
    b.outgoing.clear();
}

int RelayDatagrams::Backend::readAvailable() {
    // One byte more than a record: a longer datagram shows itself by filling the buffer.
    static char buffers[kBatch][wire::kRecordBytes + 1];
    std::array<SocketAddress, kBatch> from{};
    std::array<iovec, kBatch> iov{};
    std::array<mmsghdr, kBatch> msgs{};
    int handled = 0;
    while (handled < kDatagramsPerBatch && fd >= 0) {
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
        for (int i = 0; i < got && fd >= 0; ++i) {
            const QHostAddress address(&from[i].any);
            const quint16 port = ntohs(from[i].any.sa_family == AF_INET6 ? from[i].v6.sin6_port : from[i].v4.sin_port);
            receive(QByteArrayView(buffers[i], msgs[i].msg_len), address, port);
            sendQueued(); // what one datagram caused goes out before the next is handled
        }
        handled += got;
    }
    return handled;
}

void RelayDatagrams::Backend::drainBatch() {
    using std::chrono::steady_clock;
    const auto began = steady_clock::now();
    auto cycle = began;
    while (fd >= 0) {
        const int handled = readAvailable();
        afterBatch();
        if (fd < 0 || !busy()) {
            return; // the notifier calls again when there is more
        }
        // Busy: read once a cycle, not on every datagram, and sleep here between cycles rather
        // than in the event loop, whose every turn asks every TCP connection whether it has
        // something (at a thousand pilots that asking cost more than the relay). The event loop
        // gets its turn when a stream has input, and every kHold in any case (its timers, the
        // writes it has queued, the status page); a cycle that found nothing does not end the
        // hold, as positions come in bursts.
        const auto now = steady_clock::now();
        if (now - began >= kHold || streamInput()) {
            return;
        }
        cycle += kCycle;
        if (handled >= kDatagramsPerBatch || cycle <= now) {
            cycle = now; // behind: no rest
        } else {
            std::this_thread::sleep_until(cycle);
        }
    }
}

bool RelayDatagrams::Backend::streamInput() const {
    epoll_event event{};
    return streams >= 0 && ::epoll_wait(streams, &event, 1, 0) > 0;
}

void RelayDatagrams::watchStream(qintptr descriptor) {
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.fd = static_cast<int>(descriptor);
    // A closed descriptor leaves the set by itself.
    if (m_backend->streams >= 0 && descriptor >= 0) {
        ::epoll_ctl(m_backend->streams, EPOLL_CTL_ADD, static_cast<int>(descriptor), &event);
    }
}

} // namespace relayserver
} // namespace airmesh
