#include "netio.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace airmesh::dplay::net {

namespace {

// Winsock is started once for the program's life (Qt Network starts it too; the count is kept
// by Winsock itself).
struct WinsockStarted {
    bool ok = false;
    WinsockStarted() {
        WSADATA data{};
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockStarted() {
        if (ok) {
            WSACleanup();
        }
    }
};

bool winsockReady() {
    static const WinsockStarted started;
    return started.ok;
}

sockaddr_in makeAddr(quint32 ip, quint16 port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(ip);
    return a;
}

SOCKET asSocket(Fd fd) {
    return static_cast<SOCKET>(fd);
}

Fd asFd(SOCKET s) {
    return s == INVALID_SOCKET ? kNoFd : static_cast<Fd>(s);
}

bool setNonBlocking(SOCKET s) {
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
}

// The socket is not handed to programs this one starts.
SOCKET openSocket(int type, int protocol) {
    if (!winsockReady()) {
        return INVALID_SOCKET;
    }
    return WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT | WSA_FLAG_OVERLAPPED);
}

bool wouldBlock(int error) {
    return error == WSAEWOULDBLOCK || error == WSAEINTR || error == WSAEINPROGRESS;
}

void setNoDelay(SOCKET s) {
    const BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

} // namespace

Fd udpOpen(quint32 bindIp, quint16 port, bool broadcast) {
    const SOCKET s = openSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        return kNoFd;
    }
    const BOOL one = TRUE;
    if (broadcast) {
        setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&one), sizeof one);
    }
    // A datagram sent to a port nobody listens on makes Windows fail the next receive with
    // WSAECONNRESET; a session socket must not stop over a peer that went away.
    DWORD off = 0;
    DWORD returned = 0;
    constexpr DWORD kSioUdpConnReset = 0x9800000C; // _WSAIOW(IOC_VENDOR, 12)
    WSAIoctl(s, kSioUdpConnReset, &off, sizeof off, nullptr, 0, &returned, nullptr, nullptr);
    const int buffer = 1 << 20;
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
    // Another program's socket on the same port is not shared: Windows would let it take our
    // datagrams otherwise.
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    const sockaddr_in a = makeAddr(bindIp, port);
    if (bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || !setNonBlocking(s)) {
        closesocket(s);
        return kNoFd;
    }
    return asFd(s);
}

Fd tcpListen(quint32 bindIp, quint16 port) {
    const SOCKET s = openSocket(SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return kNoFd;
    }
    // Windows needs no SO_REUSEADDR to listen again on a port in TIME_WAIT, and with it would
    // let a second program bind the same port.
    const BOOL one = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one), sizeof one);
    const sockaddr_in a = makeAddr(bindIp, port);
    if (bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(s, 16) != 0 || !setNonBlocking(s)) {
        closesocket(s);
        return kNoFd;
    }
    return asFd(s);
}

Fd tcpConnectStart(quint32 ip, quint16 port, bool& done) {
    done = false;
    const SOCKET s = openSocket(SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        return kNoFd;
    }
    if (!setNonBlocking(s)) {
        closesocket(s);
        return kNoFd;
    }
    setNoDelay(s);
    const sockaddr_in a = makeAddr(ip, port);
    if (connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        done = true;
        return asFd(s);
    }
    if (wouldBlock(WSAGetLastError())) {
        return asFd(s);
    }
    closesocket(s);
    return kNoFd;
}

int connectResult(Fd fd) {
    int error = 0;
    int len = sizeof error;
    if (getsockopt(asSocket(fd), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
        return WSAGetLastError();
    }
    return error;
}

Fd tcpAccept(Fd listener, quint32& peerIp) {
    sockaddr_in a{};
    int len = sizeof a;
    const SOCKET s = accept(asSocket(listener), reinterpret_cast<sockaddr*>(&a), &len);
    if (s == INVALID_SOCKET) {
        return kNoFd;
    }
    // An accepted socket inherits the listener's non-blocking mode on Windows; set it anyway.
    setNonBlocking(s);
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    setNoDelay(s);
    peerIp = ntohl(a.sin_addr.s_addr);
    return asFd(s);
}

quint16 localPort(Fd fd) {
    sockaddr_in a{};
    int len = sizeof a;
    if (getsockname(asSocket(fd), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        return 0;
    }
    return ntohs(a.sin_port);
}

int sendTo(Fd fd, const char* data, int size, quint32 ip, quint16 port) {
    const sockaddr_in a = makeAddr(ip, port);
    const int n = sendto(asSocket(fd), data, size, 0, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    return n == SOCKET_ERROR ? -1 : n;
}

int recvFrom(Fd fd, char* buffer, int capacity, quint32& ip, quint16& port) {
    sockaddr_in a{};
    int len = sizeof a;
    const int n = recvfrom(asSocket(fd), buffer, capacity, 0, reinterpret_cast<sockaddr*>(&a), &len);
    if (n == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        if (error == WSAEMSGSIZE) {
            // Cut to the buffer, as on Linux the caller learns it by a size above capacity.
            ip = ntohl(a.sin_addr.s_addr);
            port = ntohs(a.sin_port);
            return capacity + 1;
        }
        return (wouldBlock(error) || error == WSAECONNRESET) ? -1 : -2;
    }
    ip = ntohl(a.sin_addr.s_addr);
    port = ntohs(a.sin_port);
    return n;
}

int sendSome(Fd fd, const char* data, int size) {
    const int n = send(asSocket(fd), data, size, 0);
    if (n == SOCKET_ERROR) {
        return wouldBlock(WSAGetLastError()) ? 0 : -1;
    }
    return n;
}

int recvSome(Fd fd, char* buffer, int capacity) {
    const int n = recv(asSocket(fd), buffer, capacity, 0);
    if (n == SOCKET_ERROR) {
        return wouldBlock(WSAGetLastError()) ? -1 : -2;
    }
    return n;
}

bool peerClosed(Fd fd) {
    // The socket is non-blocking: a peek that finds nothing says WSAEWOULDBLOCK, an ended
    // stream reads 0.
    char c;
    return recv(asSocket(fd), &c, 1, MSG_PEEK) == 0;
}

void closeFd(Fd fd) {
    if (fd != kNoFd) {
        closesocket(asSocket(fd));
    }
}

int pollItems(std::vector<PollItem>& items, int timeoutMs) {
    std::vector<WSAPOLLFD> fds(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        fds[i].fd = asSocket(items[i].fd);
        fds[i].events = static_cast<SHORT>(POLLRDNORM | (items[i].wantWrite ? POLLWRNORM : 0));
    }
    if (fds.empty()) {
        Sleep(static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs));
        return 0;
    }
    const int n = WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeoutMs);
    if (n == SOCKET_ERROR) {
        return WSAGetLastError() == WSAEINTR ? 0 : -1;
    }
    for (size_t i = 0; i < items.size(); ++i) {
        items[i].readable = (fds[i].revents & (POLLRDNORM | POLLHUP)) != 0;
        items[i].writable = (fds[i].revents & POLLWRNORM) != 0;
        items[i].failed = (fds[i].revents & (POLLERR | POLLNVAL)) != 0;
    }
    return n;
}

// Windows has no pipe a socket poll can wait on: the waker is a datagram socket on the loopback
// address connected to itself, and a wake is one empty datagram.
Waker::Waker() {
    const SOCKET s = openSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        return;
    }
    sockaddr_in a = makeAddr(INADDR_LOOPBACK, 0);
    int len = sizeof a;
    if (bind(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || !setNonBlocking(s)) {
        closesocket(s);
        return;
    }
    m_read = asFd(s);
    m_write = kNoFd; // the same socket writes
}

Waker::~Waker() {
    closeFd(m_read);
}

void Waker::wake() const {
    const char c = 1;
    send(asSocket(m_read), &c, 1, 0);
}

void Waker::drain() const {
    char buffer[64];
    while (recv(asSocket(m_read), buffer, sizeof buffer, 0) > 0) {
    }
}

QString lastErrorText() {
    const int error = WSAGetLastError();
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString result = n > 0 ? QString::fromWCharArray(text, static_cast<int>(n)).trimmed()
                           : QStringLiteral("Winsock error %1").arg(error);
    LocalFree(text);
    return result;
}

} // namespace airmesh::dplay::net
