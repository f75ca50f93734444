#pragma once

#include "dpwire.h"
#include "netio.h"
#include "nodeclock.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace airmesh::dplay {

// One machine of a DirectPlay session on the wire: its datagram socket (UDP 2350-2399), its
// stream listener (TCP 2300-2349), for a host the enumeration socket (UDP 47624), the
// connections peers opened to us and the ones we opened to them. One thread of its own polls
// every socket and hands each whole message to the role above (joiner or host) with the lock
// held; any thread may send.
//
// Memory is bounded: a message above kMaxMessageBytes drops its connection, at most
// `maxConnections` connections are kept, and what waits to be written to one connection is
// capped (a peer that stops reading is dropped).
//
// Every timer of the node and of its role reads one clock (Config::clock), which only times:
// the sockets are polled in real time, and a clock moved by hand wakes the poll.
class Node : private NodeClock::Sleeper {
public:
    struct Config {
        quint32 bindIp = 0; // 0 = every local address
        bool listenForEnum = false;
        quint16 enumPort = kEnumPort;
        quint32 enumBindIp = 0; // the enumeration socket's address; 0 = every local address
        int maxConnections = 64;
        int maxPendingWriteBytes = 4 * 1024 * 1024;
        std::function<void(const QString&)> log;
        std::shared_ptr<NodeClock> clock; // none: the system's steady clock
    };

    explicit Node(Config config);
    virtual ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Binds the sockets and starts the thread; false with a reason when a socket cannot be had.
    bool start(QString& error);
    // Closes every socket and joins the thread; safe to call twice. Roles call it in their
    // destructor, before their own members go.
    void stop();
    quint16 tcpPort() const { return m_tcpPort; }
    quint16 udpPort() const { return m_udpPort; }
    quint16 enumPort() const { return m_enumPortBound; }

protected:
    enum class ConnState { Connecting, Open, Closed };
    struct Origin {
        bool tcp = false;
        int conn = -1;    // the connection it came on (TCP)
        quint32 ip = 0;   // source address
        quint16 port = 0; // source port (UDP)
        bool enumSocket = false;
    };

    // ---- Called on the node's thread with m_mutex held ----
    virtual void handle(const WireMessage& m, const Origin& origin) = 0;
    virtual void connectionClosed(int conn) { (void)conn; }
    virtual void tick(qint64 nowMs) { (void)nowMs; }

    // ---- Call with m_mutex held (it is recursive) ----
    // Our connection to a peer's stream address, opened when needed; -1 when it cannot be.
    int connectionTo(quint32 ip, quint16 port);
    // Our open connection to that address, -1 when there is none.
    int findConnection(quint32 ip, quint16 port) const;
    // Queues bytes on a connection; false when it is gone or its backlog would overflow.
    bool sendOn(int conn, const QByteArray& bytes);
    ConnState connState(int conn) const;
    // The peer's listening port learned from the messages on an inbound connection; 0 unknown.
    quint16 connListenPort(int conn) const;
    quint32 connPeerIp(int conn) const;
    void closeConnection(int conn);
    void log(const QString& line) const;

    // Any thread, no lock needed: one datagram from our datagram socket.
    bool sendDatagram(quint32 ip, quint16 port, const QByteArray& bytes) const;
    // The node's clock, which every timer reads; any thread.
    qint64 nowMs() const { return m_clock->nowMs(); }
    // Waits on m_changed (the caller holds m_mutex in `lock`) until `done` or until the node's
    // clock reaches `deadlineMs`; false on time-out.
    bool waitUntil(NodeClock::Lock& lock, qint64 deadlineMs, const std::function<bool()>& done);

    mutable std::recursive_mutex m_mutex;
    std::condition_variable_any m_changed; // signalled whenever a message was handled or a connection changed

private:
    struct Conn {
        net::Fd fd = net::kNoFd;
        bool outbound = false;
        ConnState state = ConnState::Connecting;
        quint32 ip = 0;
        quint16 listenPort = 0; // outbound: its target; inbound: learned
        QByteArray rx;
        QByteArray tx;
    };
    void clockMoved() override;
    void awaitTimers(qint64 nowMs) override;
    void run();
    void readDatagrams(net::Fd fd, bool enumSocket);
    void readConnection(int id);
    void flush(int id);
    void drop(int id, const QString& why);

    Config m_config;
    std::shared_ptr<NodeClock> m_clock;
    net::Fd m_udp = net::kNoFd;
    net::Fd m_listen = net::kNoFd;
    net::Fd m_enum = net::kNoFd;
    quint16 m_tcpPort = 0;
    quint16 m_udpPort = 0;
    quint16 m_enumPortBound = 0;
    net::Waker m_waker;
    std::map<int, Conn> m_conns;
    int m_nextConn = 1;
    bool m_running = false; // between start() and stop()
    bool m_stopping = false;
    qint64 m_timersRunAt = 0; // the clock's time when the thread last ran its timers
    // The node's thread reads into these. Members, not thread_local: a thread_local with a
    // destructor makes libstdc++ delete a pthread key as its DLL unloads, and under Wine that
    // deletion now and then waits forever for a lock (a test program that had finished stayed
    // alive until its time-out).
    std::vector<char> m_datagramBuffer;
    std::vector<char> m_streamBuffer;
    std::thread m_thread;
};

} // namespace airmesh::dplay
