#include "socket.h"

#include <QHostInfo>
#include <QScopedValueRollback>
#include <QTcpSocket>
#include <QUdpSocket>

#include <utility>

namespace airmesh {
inline namespace serverlink {

static_assert(Socket::kTcpReadBufferBytes % 128 == 0, "a full read buffer must hold whole records");

namespace {

int errorNumber(QAbstractSocket::SocketError e) {
    using E = QAbstractSocket::SocketError;
    switch (e) {
    case E::ConnectionRefusedError:
        return SocketErrorNumber::ConnectionRefused;
    case E::RemoteHostClosedError:
        return SocketErrorNumber::ConnectionReset;
    case E::HostNotFoundError:
        return SocketErrorNumber::HostNotFound;
    case E::SocketAccessError:
        return SocketErrorNumber::AccessDenied;
    case E::SocketResourceError:
        return SocketErrorNumber::NoBufferSpace;
    case E::SocketTimeoutError:
        return SocketErrorNumber::TimedOut;
    case E::DatagramTooLargeError:
        return SocketErrorNumber::MessageTooBig;
    case E::NetworkError:
        return SocketErrorNumber::NetworkUnreachable;
    case E::AddressInUseError:
        return SocketErrorNumber::AddressInUse;
    case E::SocketAddressNotAvailableError:
        return SocketErrorNumber::AddressNotAvailable;
    default:
        return SocketErrorNumber::Other;
    }
}

QString describe(SocketErrorNumber::Value number) {
    switch (number) {
    case SocketErrorNumber::BadState:
        return QStringLiteral("Wrong protocol or connection state for the requested transaction or request");
    case SocketErrorNumber::InvalidArgument:
        return QStringLiteral("The argument passed to a function was not in the correct format or out of range");
    case SocketErrorNumber::InvalidOperation:
        return QStringLiteral("Invalid operation at current state");
    case SocketErrorNumber::WrongProtocol:
        return QStringLiteral("Wrong protocol for the requested transaction or request");
    case SocketErrorNumber::HostNotFound:
        return QStringLiteral("Host not found");
    default:
        return QStringLiteral("Socket error");
    }
}

[[noreturn]] void fail(SocketErrorNumber::Value number) {
    throw SocketError(number, describe(number));
}

[[noreturn]] void fail(const QAbstractSocket& socket) {
    throw SocketError(errorNumber(socket.error()), socket.errorString());
}

bool isPort(int port) {
    return port >= 0 && port <= 65535;
}

} // namespace

SocketError::SocketError(int number, const QString& description)
    : NumberedError(number, description.toStdString()), m_description(description) {}

Socket::Socket(QObject* parent) : QObject(parent), m_udp(new QUdpSocket(this)), m_tcp(new QTcpSocket(this)) {
    connect(m_udp, &QUdpSocket::readyRead, this, &Socket::onUdpReadyRead);

    // A peer that streams without pause fills this much, then the OS holds the rest back.
    m_tcp->setReadBufferSize(kTcpReadBufferBytes);
    connect(m_tcp, &QTcpSocket::readyRead, this, &Socket::onTcpReadyRead);
    connect(m_tcp, &QTcpSocket::connected, this, &Socket::Connected);
    connect(m_tcp, &QTcpSocket::bytesWritten, this, &Socket::onTcpBytesWritten);
    connect(m_tcp, &QTcpSocket::errorOccurred, this, &Socket::onTcpError);
    connect(m_tcp, &QTcpSocket::disconnected, this, &Socket::onTcpDisconnected);
}

Socket::~Socket() {
    // The sockets are children, deleted after this body; a connected one still signals its
    // disconnect then, which must not reach what is left of us.
    m_tcp->disconnect(this);
    m_udp->disconnect(this);
}

void Socket::setProtocol(Protocol protocol) {
    if (protocol != m_protocol && State() != SocketState::Closed) {
        fail(SocketErrorNumber::InvalidOperation);
    }
    m_protocol = protocol;
}

void Socket::setRemoteHost(const QString& host) {
    m_remoteHost = host;
    startLookup();
}

void Socket::setRemotePort(int port) {
    if (!isPort(port)) {
        fail(SocketErrorNumber::InvalidArgument);
    }
    m_remotePort = port;
}

int Socket::localPort() const {
    return m_protocol == Protocol::Udp ? m_udp->localPort() : m_tcp->localPort();
}

int Socket::State() const {
    if (m_protocol == Protocol::Udp) {
        return m_udp->state() == QAbstractSocket::UnconnectedState ? SocketState::Closed : SocketState::Open;
    }
    if (m_connectWanted) {
        return SocketState::ResolvingHost;
    }
    if (m_failed) {
        return SocketState::Error;
    }
    if (m_peerClosed) {
        return SocketState::Closing;
    }
    switch (m_tcp->state()) {
    case QAbstractSocket::UnconnectedState:
        return SocketState::Closed;
    case QAbstractSocket::HostLookupState:
        return SocketState::ResolvingHost;
    case QAbstractSocket::ConnectingState:
        return SocketState::Connecting;
    case QAbstractSocket::ConnectedState:
        return SocketState::Connected;
    case QAbstractSocket::BoundState:
        return SocketState::Open;
    case QAbstractSocket::ListeningState:
        return SocketState::Listening;
    case QAbstractSocket::ClosingState:
        return SocketState::Closing;
    }
    return SocketState::Error;
}

qint64 Socket::BytesReceived() const {
    if (m_protocol == Protocol::Udp) {
        return m_inbox.empty() ? 0 : m_inbox.front().data().size();
    }
    return m_tcp->bytesAvailable();
}

void Socket::Bind(int localPort, const QHostAddress& address) {
    requireProtocol(Protocol::Udp, "Bind");
    if (State() != SocketState::Closed) {
        fail(SocketErrorNumber::InvalidOperation);
    }
    if (!isPort(localPort)) {
        fail(SocketErrorNumber::InvalidArgument);
    }
    // Without address reuse, so a second client on the same port fails here instead of
    // silently taking the first one's datagrams.
    if (!m_udp->bind(address, static_cast<quint16>(localPort), QAbstractSocket::DontShareAddress)) {
        fail(*m_udp);
    }
}

void Socket::Connect() {
    requireProtocol(Protocol::Tcp, "Connect");
    const int state = State();
    if (state != SocketState::Closed && state != SocketState::Error) {
        fail(SocketErrorNumber::InvalidOperation);
    }
    Close();
    if (m_lookup == Lookup::Resolved) {
        startTcpConnect();
        return;
    }
    m_connectWanted = true;
    // A failed lookup is tried again: the name server may be back.
    if (m_lookup != Lookup::Pending) {
        startLookup();
    }
}

void Socket::SendData(const QByteArray& data) {
    if (data.isEmpty()) {
        return;
    }
    if (m_protocol == Protocol::Tcp) {
        if (m_tcp->state() != QAbstractSocket::ConnectedState) {
            fail(SocketErrorNumber::BadState);
        }
        if (m_tcp->write(data) != data.size()) {
            fail(*m_tcp);
        }
        m_sentTotal += data.size();
        m_sendEnds.push_back(m_sentTotal);
        return;
    }
    switch (m_lookup) {
    case Lookup::Resolved:
        if (m_udp->writeDatagram(data, m_remoteAddress, static_cast<quint16>(m_remotePort)) < 0) {
            fail(*m_udp);
        }
        return;
    case Lookup::Pending:
        if (m_unsent.size() < kUdpQueueDatagrams) {
            m_unsent.append(data);
        }
        return;
    case Lookup::None:
    case Lookup::Failed:
        startLookup();
        fail(SocketErrorNumber::HostNotFound);
    }
}

QByteArray Socket::GetData(QHostAddress* sender, quint16* senderPort) {
    QHostAddress from;
    int fromPort = 0;
    QByteArray data;
    if (m_protocol == Protocol::Udp) {
        if (!m_inbox.empty()) {
            const QNetworkDatagram d = std::move(m_inbox.front());
            m_inbox.pop_front();
            data = d.data();
            from = d.senderAddress();
            fromPort = d.senderPort();
        }
    } else {
        // readAll on a socket never opened complains; there is nothing to read anyway.
        data = m_tcp->isOpen() ? m_tcp->readAll() : QByteArray();
        m_tcpTaken += data.size();
        from = m_tcp->peerAddress();
        fromPort = m_tcp->peerPort();
    }
    if (sender) {
        *sender = from;
    }
    if (senderPort) {
        *senderPort = static_cast<quint16>(fromPort);
    }
    return data;
}

void Socket::Close() {
    const QScopedValueRollback closing(m_closing, true);
    // Hand what is still ours to send to the OS, which delivers it before the close.
    m_tcp->flush();
    m_tcp->abort();
    m_udp->abort();
    m_inbox.clear();
    m_unsent.clear();
    m_connectWanted = false;
    m_failed = false;
    m_peerClosed = false;
    m_tcpTaken = 0;
    m_sentTotal = 0;
    m_sendEnds.clear();
}

void Socket::startLookup() {
    if (m_lookup == Lookup::Pending) {
        QHostInfo::abortHostLookup(m_lookupId);
    }
    const int generation = ++m_lookupGeneration;
    m_remoteAddress.clear();
    if (QHostAddress literal; literal.setAddress(m_remoteHost)) {
        useAddress(literal);
        return;
    }
    m_lookup = Lookup::Pending;
    m_lookupId = QHostInfo::lookupHost(m_remoteHost, this, [this, generation](const QHostInfo& info) {
        // Drop the answer for a host that has been replaced since.
        if (generation == m_lookupGeneration && m_lookup == Lookup::Pending) {
            onLookupDone(info);
        }
    });
}

void Socket::onLookupDone(const QHostInfo& info) {
    const QList<QHostAddress> addresses = info.addresses();
    if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
        m_lookup = Lookup::Failed;
        m_unsent.clear();
        if (m_connectWanted) {
            m_connectWanted = false;
            const QString text =
                info.error() != QHostInfo::NoError ? info.errorString() : describe(SocketErrorNumber::HostNotFound);
            reportTcpError(SocketErrorNumber::HostNotFound, text);
        }
        return;
    }
    // The UDP socket binds to an IPv4 address by default, and the server's datagrams are matched
    // against this address: prefer IPv4 when the name has both.
    QHostAddress chosen = addresses.first();
    for (const QHostAddress& a : addresses) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol) {
            chosen = a;
            break;
        }
    }
    useAddress(chosen);
}

void Socket::useAddress(const QHostAddress& address) {
    m_remoteAddress = address;
    m_lookup = Lookup::Resolved;
    const QList<QByteArray> unsent = std::exchange(m_unsent, {});
    for (const QByteArray& data : unsent) {
        // Nobody is left to tell about a datagram that cannot go; it is lost like any other.
        m_udp->writeDatagram(data, m_remoteAddress, static_cast<quint16>(m_remotePort));
    }
    if (m_connectWanted) {
        startTcpConnect();
    }
}

void Socket::startTcpConnect() {
    m_connectWanted = false;
    m_tcp->connectToHost(m_remoteAddress, static_cast<quint16>(m_remotePort));
}

void Socket::onUdpReadyRead() {
    // QUdpSocket stops reporting until a datagram is read, so every datagram is taken from the OS
    // as it comes, whether or not a handler reads it. Qt also does not emit readyRead while a
    // handler of it runs; datagrams that come while one lets events run are picked up by the next
    // round of this loop.
    for (;;) {
        QList<qint64> arrived;
        while (m_udp->hasPendingDatagrams()) {
            QNetworkDatagram d = m_udp->receiveDatagram();
            if (!d.isValid()) {
                break;
            }
            // An empty datagram would sit at the front with BytesReceived 0, and no receive loop
            // would ever read past it.
            if (d.data().isEmpty() || m_inbox.size() >= static_cast<size_t>(kUdpQueueDatagrams)) {
                continue;
            }
            arrived.append(d.data().size());
            m_inbox.push_back(std::move(d));
        }
        if (arrived.isEmpty()) {
            return;
        }
        for (qint64 size : arrived) {
            if (m_udp->state() == QAbstractSocket::UnconnectedState) {
                return; // a handler closed the socket
            }
            emit DataArrival(size);
        }
    }
}

void Socket::onTcpReadyRead() {
    // Qt does not emit readyRead while a handler of it runs, even when the handler lets events run
    // and more bytes come in meanwhile; report those once it returns. Bytes it left unread and
    // nothing new come to no second report.
    qint64 seen = 0;
    do {
        seen = m_tcpTaken + m_tcp->bytesAvailable();
        emit DataArrival(m_tcp->bytesAvailable());
    } while (m_tcpTaken + m_tcp->bytesAvailable() > seen && m_tcp->bytesAvailable() > 0);
}

void Socket::onTcpBytesWritten() {
    // Qt does not emit bytesWritten while a handler of it runs, so what was written meanwhile is
    // worked out afresh from what is still unwritten after each handler returns.
    while (!m_sendEnds.empty() && m_sendEnds.front() <= m_sentTotal - m_tcp->bytesToWrite()) {
        m_sendEnds.pop_front();
        emit SendComplete();
    }
}

void Socket::onTcpError(QAbstractSocket::SocketError e) {
    // The peer closing, in order or by reset, is reported as Closed when the connection drops.
    if (e == QAbstractSocket::RemoteHostClosedError || m_closing) {
        return;
    }
    reportTcpError(errorNumber(e), m_tcp->errorString());
}

void Socket::onTcpDisconnected() {
    if (m_closing) {
        return;
    }
    m_peerClosed = true;
    emit Closed();
}

void Socket::reportTcpError(int number, const QString& description) {
    m_failed = true;
    // As a control reports its errors: severity bit, facility 10, the number in the low word.
    const auto scode = static_cast<qint32>(0x800A0000u | (static_cast<quint32>(number) & 0xFFFFu));
    const QString source = objectName().isEmpty() ? QStringLiteral("Socket") : objectName();
    emit Error(number, description, scode, source);
}

void Socket::requireProtocol(Protocol p, const char* operation) const {
    if (m_protocol != p) {
        throw SocketError(SocketErrorNumber::WrongProtocol,
                          describe(SocketErrorNumber::WrongProtocol) + QStringLiteral(" (%1)").arg(operation));
    }
}

} // namespace serverlink
} // namespace airmesh
