#pragma once

#include "core/errors.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QObject>
#include <QString>

#include <deque>
#include <stdexcept>

class QHostInfo;
class QTcpSocket;
class QUdpSocket;

namespace airmesh {
inline namespace serverlink {

// The values State() returns, numbered as the Winsock control numbers them.
namespace SocketState {
enum Value : int {
    Closed = 0,
    Open = 1,
    Listening = 2,
    ConnectionPending = 3,
    ResolvingHost = 4,
    HostResolved = 5,
    Connecting = 6,
    Connected = 7,
    Closing = 8,
    Error = 9,
};
} // namespace SocketState

// Error numbers of thrown SocketErrors and of the Error event: the Winsock control's numbers
// where one fits, Other for anything else.
namespace SocketErrorNumber {
enum Value : int {
    AccessDenied = 10013,
    MessageTooBig = 10040,
    AddressInUse = 10048,
    AddressNotAvailable = 10049,
    NetworkUnreachable = 10051,
    ConnectionReset = 10054,
    NoBufferSpace = 10055,
    TimedOut = 10060,
    ConnectionRefused = 10061,
    HostNotFound = 11001,
    BadState = 40006,        // a TCP send while not connected
    InvalidArgument = 40014, // a port outside 0..65535
    InvalidOperation = 40020,
    WrongProtocol = 40026, // a UDP-only call on a TCP socket, or the reverse
    Other = 40000,
};
} // namespace SocketErrorNumber

// A socket call that failed at once.
class SocketError : public NumberedError {
public:
    SocketError(int number, const QString& description);
    QString description() const override { return m_description; }

private:
    QString m_description;
};

// A UDP or TCP socket with the members and events of the Winsock control. Everything runs on the
// thread that owns the object, and events are delivered one at a time: a handler that lets
// events run gets no second event of its kind from the same socket until it returns; what
// happened meanwhile is reported then.
class Socket : public QObject {
    Q_OBJECT

public:
    enum class Protocol { Tcp = 0, Udp = 1 };

    // The most a TCP peer can make us hold unread: a whole number of 128-byte records, so a
    // full buffer never ends inside one. The OS holds back the rest of the stream.
    static constexpr qint64 kTcpReadBufferBytes = 65536;
    // The most datagrams held unread; newer ones are dropped until some are read.
    static constexpr int kUdpQueueDatagrams = 1024;

    explicit Socket(QObject* parent = nullptr);
    ~Socket() override;

    // TCP or UDP; set while closed. Throws InvalidOperation otherwise.
    void setProtocol(Protocol protocol);
    Protocol protocol() const { return m_protocol; }

    // The server, as a host name or an address. A name is looked up at once in the background.
    void setRemoteHost(const QString& host);
    QString remoteHost() const { return m_remoteHost; }
    // The address RemoteHost resolved to, IPv4 preferred; null while unresolved or on failure.
    QHostAddress remoteAddress() const { return m_remoteAddress; }

    // The server's port: the destination of every datagram, or the port Connect goes to.
    // Throws InvalidArgument outside 0..65535.
    void setRemotePort(int port);
    int remotePort() const { return m_remotePort; }

    // The local port bound or connected from; 0 while closed.
    int localPort() const;

    // One of SocketState, read afresh on each call. UDP: Closed or Open. TCP: ResolvingHost,
    // Connecting, Connected; Closing once the peer has closed; Error after a failure; Closed
    // again only through Close().
    int State() const;

    // Bytes waiting to be read. UDP: the size of the next datagram (0 when none); TCP: all of them.
    qint64 BytesReceived() const;

    // UDP: opens the socket on `localPort` (0: any free port) of `address`. Another socket may
    // not share the port. Throws on failure (AddressInUse, for one).
    void Bind(int localPort, const QHostAddress& address = QHostAddress(QHostAddress::AnyIPv4));

    // TCP: starts connecting to RemoteHost:RemotePort and returns at once; the outcome shows in
    // State, and a failure also as an Error event. Allowed while closed or after an error.
    void Connect();

    // UDP: one datagram to RemoteHost:RemotePort; sent once a host name has resolved, and throws
    // HostNotFound when the last lookup failed (a fresh one is started). TCP: appended to the
    // stream, SendComplete following once it is all written; throws BadState when not
    // connected. An empty array sends nothing.
    void SendData(const QByteArray& data);

    // UDP: the next whole datagram, with its sender if asked; TCP: every byte waiting. Empty
    // when nothing waits.
    QByteArray GetData(QHostAddress* sender = nullptr, quint16* senderPort = nullptr);

    // Closes at once, dropping whatever is unread; State returns to Closed. Raises no event.
    void Close();

signals:
    // Data has come in. UDP: once per datagram, with its size; TCP: with all bytes waiting, so
    // bytes a handler leaves unread are counted again in the next report.
    void DataArrival(qint64 bytesTotal);
    // TCP: the connection Connect() started is up; State() is Connected from now on.
    void Connected();
    // TCP: the connection ended other than by Close(): the peer closed it, or it failed.
    void Closed();
    // TCP: a connection attempt or an open connection failed. `scode` is the number as a
    // control's HRESULT; `source` is this object's name.
    void Error(int number, const QString& description, qint32 scode, const QString& source);
    // TCP: the data of one SendData call has all been handed to the OS.
    void SendComplete();

private:
    enum class Lookup { None, Pending, Resolved, Failed };

    void startLookup();
    void onLookupDone(const QHostInfo& info);
    void useAddress(const QHostAddress& address);
    void startTcpConnect();
    void onUdpReadyRead();
    void onTcpReadyRead();
    void onTcpBytesWritten();
    void onTcpError(QAbstractSocket::SocketError error);
    void onTcpDisconnected();
    void reportTcpError(int number, const QString& description);
    void requireProtocol(Protocol p, const char* operation) const;

    Protocol m_protocol = Protocol::Tcp;
    QString m_remoteHost;
    QHostAddress m_remoteAddress;
    int m_remotePort = 0;
    Lookup m_lookup = Lookup::None;
    int m_lookupId = -1;        // for aborting a lookup no longer wanted
    int m_lookupGeneration = 0; // tells the current lookup's result from a stale one

    QUdpSocket* m_udp = nullptr;          // owned as a child
    std::deque<QNetworkDatagram> m_inbox; // received, not yet read
    QList<QByteArray> m_unsent;           // waiting for RemoteHost to resolve; bounded like m_inbox

    QTcpSocket* m_tcp = nullptr;  // owned as a child
    bool m_connectWanted = false; // Connect() is waiting for the lookup
    bool m_failed = false;
    bool m_peerClosed = false;
    bool m_closing = false;        // inside Close(): its own disconnect is not the peer's
    qint64 m_tcpTaken = 0;         // bytes read by GetData since connecting
    qint64 m_sentTotal = 0;        // bytes given to SendData since connecting
    std::deque<qint64> m_sendEnds; // where each unfinished send ends within m_sentTotal
};

} // namespace serverlink
} // namespace airmesh
