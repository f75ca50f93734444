#include "netio.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace airmesh::dplay::net {

namespace {
sockaddr_in makeAddr(quint32 ip, quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(ip);
    return a;
}

bool setNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

int asInt(Fd fd) {
    return static_cast<int>(fd);
}
} // namespace

Fd udpOpen(quint32 bindIp, quint16 port, bool broadcast) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return kNoFd;
    }
    const int one = 1;
    if (broadcast) {
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    }
    const int buffer = 1 << 20;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    const sockaddr_in a = makeAddr(bindIp, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || !setNonBlocking(fd)) {
        close(fd);
        return kNoFd;
    }
    return fd;
}

Fd tcpListen(quint32 bindIp, quint16 port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return kNoFd;
    }
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = makeAddr(bindIp, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0 || !setNonBlocking(fd)) {
        close(fd);
        return kNoFd;
    }
    return fd;
}

Fd tcpConnectStart(quint32 ip, quint16 port, bool& done) {
    done = false;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || !setNonBlocking(fd)) {
        if (fd >= 0) {
            close(fd);
        }
        return kNoFd;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in a = makeAddr(ip, port);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        done = true;
        return fd;
    }
    if (errno == EINPROGRESS) {
        return fd;
    }
    close(fd);
    return kNoFd;
}

int connectResult(Fd fd) {
    int error = 0;
    socklen_t len = sizeof error;
    if (getsockopt(asInt(fd), SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        return errno;
    }
    return error;
}

Fd tcpAccept(Fd listener, quint32& peerIp) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const int fd = accept4(asInt(listener), reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) {
        return kNoFd;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    peerIp = ntohl(a.sin_addr.s_addr);
    return fd;
}

quint16 localPort(Fd fd) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (getsockname(asInt(fd), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return 0;
    }
    return ntohs(a.sin_port);
}

int sendTo(Fd fd, const char* data, int size, quint32 ip, quint16 port) {
    const sockaddr_in a = makeAddr(ip, port);
    const ssize_t n = sendto(asInt(fd), data, static_cast<size_t>(size), MSG_NOSIGNAL,
                             reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return n < 0 ? -1 : static_cast<int>(n);
}

int recvFrom(Fd fd, char* buffer, int capacity, quint32& ip, quint16& port) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    const ssize_t n =
        recvfrom(asInt(fd), buffer, static_cast<size_t>(capacity), MSG_TRUNC, reinterpret_cast<sockaddr*>(&a), &len);
    if (n < 0) {
        return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? -1 : -2;
    }
    ip = ntohl(a.sin_addr.s_addr);
    port = ntohs(a.sin_port);
    return static_cast<int>(n);
}

int sendSome(Fd fd, const char* data, int size) {
    const ssize_t n = send(asInt(fd), data, static_cast<size_t>(size), MSG_NOSIGNAL);
    if (n < 0) {
        return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? 0 : -1;
    }
    return static_cast<int>(n);
}

int recvSome(Fd fd, char* buffer, int capacity) {
    const ssize_t n = recv(asInt(fd), buffer, static_cast<size_t>(capacity), 0);
    if (n < 0) {
        return (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) ? -1 : -2;
    }
    return static_cast<int>(n);
}

bool peerClosed(Fd fd) {
    char c;
    return recv(asInt(fd), &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void closeFd(Fd fd) {
    if (fd != kNoFd) {
        close(asInt(fd));
    }
}

int pollItems(std::vector<PollItem>& items, int timeoutMs) {
    std::vector<pollfd> fds(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        fds[i].fd = asInt(items[i].fd);
        fds[i].events = static_cast<short>(POLLIN | (items[i].wantWrite ? POLLOUT : 0));
    }
    const int n = poll(fds.data(), fds.size(), timeoutMs);
    if (n < 0) {
        return errno == EINTR ? 0 : -1;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].readable = (fds[i].revents & (POLLIN | POLLHUP)) != 0;
        items[i].writable = (fds[i].revents & POLLOUT) != 0;
        items[i].failed = (fds[i].revents & (POLLERR | POLLNVAL)) != 0;
    }
    return n;
}

Waker::Waker() {
    int p[2];
    if (pipe2(p, O_CLOEXEC | O_NONBLOCK) == 0) {
        m_read = p[0];
        m_write = p[1];
    }
}

Waker::~Waker() {
    closeFd(m_read);
    closeFd(m_write);
}

void Waker::wake() const {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(asInt(m_write), &c, 1);
}

void Waker::drain() const {
    char buffer[64];
    while (read(asInt(m_read), buffer, sizeof buffer) > 0) {
    }
}

QString lastErrorText() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace airmesh::dplay::net
