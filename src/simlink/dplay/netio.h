#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

// The few socket calls the DirectPlay engine makes, on plain non-blocking sockets: the engine
// runs its own poll loop on one thread and lets any thread send a datagram directly.
namespace airmesh::dplay::net {

using Fd = qintptr;
inline constexpr Fd kNoFd = -1;

// Every function returns kNoFd / -1 on failure and never throws.
Fd udpOpen(quint32 bindIp, quint16 port, bool broadcast);
Fd tcpListen(quint32 bindIp, quint16 port);
// Starts a non-blocking connect; `done` tells whether it completed at once.
Fd tcpConnectStart(quint32 ip, quint16 port, bool& done);
// After the socket polled writable: 0 when connected, else the error number.
int connectResult(Fd fd);
Fd tcpAccept(Fd listener, quint32& peerIp);
quint16 localPort(Fd fd);
// Bytes sent, or -1 on failure (a full buffer counts as failure for datagrams).
int sendTo(Fd fd, const char* data, int size, quint32 ip, quint16 port);
// Bytes read; -1 when nothing waits, -2 on an error.
int recvFrom(Fd fd, char* buffer, int capacity, quint32& ip, quint16& port);
// Bytes sent (0 when the buffer is full), or -1 when the connection failed.
int sendSome(Fd fd, const char* data, int size);
// Bytes read; 0 at the end of the stream, -1 when nothing waits, -2 on an error.
int recvSome(Fd fd, char* buffer, int capacity);
// True when the peer has closed the connection (its end of stream waits to be read).
bool peerClosed(Fd fd);
void closeFd(Fd fd);

struct PollItem {
    Fd fd = kNoFd;
    bool wantWrite = false;
    bool readable = false;
    bool writable = false;
    bool failed = false;
};
// Waits up to `timeoutMs` for any item; returns the number ready, -1 on failure.
int pollItems(std::vector<PollItem>& items, int timeoutMs);

// Wakes a poll from another thread.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;
    Fd fd() const { return m_read; }
    void wake() const;
    void drain() const;

private:
    Fd m_read = kNoFd;
    Fd m_write = kNoFd;
};

// "localhost", "127.0.0.1", a host name: the first IPv4 address, host order; false when none.
bool resolveIPv4(const QString& host, quint32& ip);
QString ipText(quint32 ip);
QString lastErrorText();

} // namespace airmesh::dplay::net
