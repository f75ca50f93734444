#include "serverlink.h"

#include "core/text.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <utility>

namespace airmesh {
inline namespace serverlink {

using namespace wire;

namespace {

// A pilot ID or password as a 32-bit integer; anything but a whole number in range fails.
qint32 toLong(const QString& text, const char* what) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok) {
        throw NumberedError(ServerLink::kErrNotANumber, what);
    }
    return v;
}

// A text field as received, without what follows its U+0000 and without its padding.
QString receivedText(const QString& field) {
    return trimSpaces(untilNul(field));
}

} // namespace

ServerLink::ServerLink(ClientServices& services)
    : m_services(services), m_udpQueue(m_ctlWinsock), m_tcpQueue(m_ctlTCPSock),
      m_udpGate([this](const QByteArray& bt) { Process_Packet(bt); }),
      m_tcpGate([this](const QByteArray& bt) { Process_TCPPacket(bt); }),
      m_chatOutbox({[this](const ServerRecord& r) { m_ctlTCPSock.SendData(r.toBytes()); },
                    [this] { logCurrentError(QStringLiteral(" - Error Send Chat ")); },
                    [this] { m_services.lowLevel(QStringLiteral(" - Send Chat to Host")); }}) {
    m_ctlWinsock.setObjectName(QStringLiteral("ctlWinsock"));
    m_ctlTCPSock.setObjectName(QStringLiteral("ctlTCPSock"));
    m_ctlWinsock.setProtocol(Socket::Protocol::Udp);
    m_Timer2.setInterval(kTimer2FirstMs);

    connect(&m_ctlWinsock, &Socket::DataArrival, this, &ServerLink::onUdpDataArrival);
    connect(&m_ctlTCPSock, &Socket::DataArrival, this,
            [this](qint64 n) { m_tcpFramer.DataArrival(n, m_tcpQueue, m_tcpGate); });
    connect(&m_ctlTCPSock, &Socket::Connected, this, &ServerLink::onTcpConnected);
    connect(&m_ctlTCPSock, &Socket::Closed, this, &ServerLink::Set_Closed);
    connect(&m_ctlTCPSock, &Socket::Error, this, &ServerLink::onTcpError);
    connect(&m_ctlTCPSock, &Socket::SendComplete, this, [this] { m_chatOutbox.sendComplete(); });
    connect(&m_Timer2, &QTimer::timeout, this, &ServerLink::Timer2_Timer);
}

ServerLink::~ServerLink() {
    // The sockets are members, destroyed after this body; nothing of theirs may reach us then.
    m_ctlWinsock.disconnect(this);
    m_ctlTCPSock.disconnect(this);
}

// ---- Connection and logon ---------------------------------------------------------------

void ServerLink::Connect(const ServerSettings& settings) {
    if (isConnecting() || m_blnConnected) {
        return; // the button is disabled meanwhile; nothing may start a second logon
    }
    report(LinkState::Connecting);
    m_pendingPilotId = settings.pilotId;
    m_pendingPassword = settings.password;

    // Set before the socket calls: a failure they report at once arrives as an event.
    m_connectState = ConnectState::TcpConnecting;
    try {
        if (settings.host.isEmpty()) {
            throw SocketError(SocketErrorNumber::HostNotFound, QStringLiteral("No server address given"));
        }
        setUpUdp(settings);

        // A connection left open by an earlier rejected or timed-out logon would make Connect
        // refuse to start; it belongs to an attempt that is over.
        closeTcp();
        m_ctlTCPSock.setProtocol(Socket::Protocol::Tcp);
        m_ctlTCPSock.setRemoteHost(settings.host);
        m_ctlTCPSock.setRemotePort(settings.serverTcpPort);
        m_tcpGate.reset();
        m_tcpFramer.reset();
        m_ctlTCPSock.Connect();
    } catch (const std::exception&) {
        if (m_connectState == ConnectState::TcpConnecting) {
            connectFailed(currentErrorInfo().description);
        }
    }
}

void ServerLink::setUpUdp(const ServerSettings& settings) {
    const QString& host = settings.host;
    const int hostPort = settings.serverUdpPort;
    const int state = m_ctlWinsock.State();
    if (state == SocketState::Error || state == SocketState::Closing || state == SocketState::ConnectionPending ||
        state == SocketState::Closed) {
        m_ctlWinsock.setProtocol(Socket::Protocol::Udp);
        m_ctlWinsock.setRemoteHost(host);
        m_ctlWinsock.setRemotePort(hostPort);
        m_ctlWinsock.Bind(settings.clientUdpPort);
        return;
    }
    // Already bound by an earlier Connect: the binding stays, but the datagrams go to the
    // server now named. Keeping the old address would send them to the wrong server after a
    // corrected address, and the logon would be lost a minute later for want of heartbeats.
    if (m_ctlWinsock.remoteHost() != host || m_ctlWinsock.remotePort() != hostPort) {
        m_ctlWinsock.setRemoteHost(host);
        m_ctlWinsock.setRemotePort(hostPort);
    }
}

void ServerLink::onTcpConnected() {
    if (m_connectState != ConnectState::TcpConnecting) {
        return;
    }
    try {
        Send_Logon(toLong(m_pendingPilotId, "Type mismatch: the Pilot ID is not a number"),
                   toLong(m_pendingPassword, "Type mismatch: the password is not a number"),
                   m_logonDetails != nullptr ? m_logonDetails->logonHandle() : QString());
    } catch (const std::exception&) {
        connectFailed(currentErrorInfo().description);
        return;
    }
    report(LinkState::AwaitingLogon);
    m_services.debug(QStringLiteral(" - Connection to Server established, awaiting logon validation"));
    m_logonWaitStart = m_services.clock.now();
    m_connectState = ConnectState::AwaitingLogon;
}

void ServerLink::onTcpError(int number, const QString& description, qint32 scode, const QString& source) {
    m_services.debug(QStringLiteral(" - TCP ERR: %1 %2 %3 %4").arg(number).arg(scode).arg(source, description));
    if (m_connectState == ConnectState::TcpConnecting && m_ctlTCPSock.State() == SocketState::Error) {
        connectFailed(description);
    }
    abandonChatInFlight();
}

void ServerLink::connectFailed(const QString& description) {
    m_connectState = ConnectState::Idle;
    m_services.debug(QStringLiteral(" - Error while connecting ") + description);
    report(LinkState::Error);
}

void ServerLink::endLogonWait(LinkState outcome) {
    m_connectState = ConnectState::Idle;
    report(outcome);
}

void ServerLink::report(LinkState state) {
    m_state = state;
    const QString text = linkStatusText(state);
    if (!text.isEmpty()) {
        m_statusText = text;
    }
    emit stateChanged(m_state, m_statusText);
}

void ServerLink::Send_Logon(qint32 pilotId, qint32 password, const QString& handle) {
    sendTcp(toServer::logonRequest(pilotId, password, handle));
}

void ServerLink::logonAccepted(const LogonAccepted& accepted, const char* handler) {
    if (!isConnecting()) {
        return;
    }
    m_connectState = ConnectState::Idle;
    m_lngSessionID = accepted.session;
    m_blnConnected = true;
    m_dtLastServerAck = m_services.clock.now();
    m_services.debug(QStringLiteral(" - Server accepted Logon Credentials"));
    // A reaction that fails must not keep the window from showing the logon, with every button
    // disabled: its failure is logged and the rest goes on.
    try {
        if (m_events) {
            m_events->logonAccepted(receivedText(accepted.greeting));
        }
    } catch (const std::exception&) {
        logCurrentError(QStringLiteral(" - Error %1 ").arg(QLatin1String(handler)));
    }
    if (m_events) {
        m_events->linkCue(LinkCue::LoggedOn);
    }
    m_Timer2.start();
    m_intPostConnectCount = 0;

    report(LinkState::LoggedOn);

    // The relay asks for the user's aircraft, which then goes to the server.
    try {
        if (m_events) {
            m_events->loggedOn();
        }
    } catch (const std::exception&) {
        logCurrentError(QStringLiteral(" - Error %1 ").arg(QLatin1String(handler)));
    }
}

void ServerLink::logonRejected() {
    if (!isConnecting()) {
        return;
    }
    m_services.debug(QStringLiteral(" - Server rejected Logon Credentials"));
    endLogonWait(LinkState::Rejected);
    if (m_events) {
        m_events->logonRejected();
        m_events->linkCue(LinkCue::Rejected);
    }
}

void ServerLink::Set_Closed() {
    // The other pilots go with the link (the relay's part); the tear-down always
    // runs to its end.
    if (m_events) {
        m_events->linkClosed();
    }

    // A logon still awaited is over: the link reports the loss, not a rejection.
    m_connectState = ConnectState::Idle;
    m_services.debug(QStringLiteral(" - Disconnected from Server"));

    m_blnConnected = false;
    m_lngSessionID = 0;
    m_udpGate.reset();
    m_Timer2.stop();
    if (m_events) {
        m_events->linkCue(LinkCue::Lost);
    }

    report(LinkState::Lost);

    m_intPostConnectCount = 0;
    m_Timer2.setInterval(kTimer2AfterLossMs);
    if (m_ctlTCPSock.State() != SocketState::Closed) {
        closeTcp();
    }
}

void ServerLink::leave() {
    if (m_blnConnected || isConnecting()) {
        Set_Closed();
    }
}

// ---- Heartbeat and post-connect details -------------------------------------------------

void ServerLink::Send_HeartBeat() {
    sendUdp(toServer::heartBeat(m_lngSessionID));
    m_dtLastHeartBeat = m_services.clock.now();
}

bool ServerLink::linkWatch() {
    const QDateTime now = m_services.clock.now();
    if (m_connectState == ConnectState::AwaitingLogon && secondsSince(m_logonWaitStart, now) > kLogonWaitSeconds) {
        endLogonWait(LinkState::TimedOut);
    }
    if (!m_blnConnected) {
        return true;
    }
    if (!m_dtLastHeartBeat.isValid() || secondsSince(m_dtLastHeartBeat, now) >= kHeartBeatSeconds) {
        try {
            Send_HeartBeat();
        } catch (const std::exception&) {
            logCurrentError(QStringLiteral(" - Error Send_HeartBeat "));
        }
    }
    if (secondsSince(m_dtLastServerAck, now) >= kServerSilenceSeconds) {
        Set_Closed();
        return false;
    }
    return true;
}

void ServerLink::Timer2_Timer() {
    if (!m_blnConnected) {
        m_intPostConnectCount = 0;
        m_Timer2.stop();
        return;
    }
    if (m_intPostConnectCount == 2) {
        m_Timer2.setInterval(kTimer2FirstMs);
    }
    ++m_intPostConnectCount;
    try {
        const UserAircraft aircraft = m_logonDetails != nullptr ? m_logonDetails->userAircraft() : UserAircraft();
        sendTcp(toServer::aircraftDetails(m_lngSessionID, aircraft.engineType, aircraft.title, true));
    } catch (const std::exception&) {
        logCurrentError(QStringLiteral(" - Error Timer2_Timer "));
        return;
    }
    m_services.debug(QStringLiteral(" - Postconnect Send Ac Details ") + QString::number(m_intPostConnectCount));
}

void ServerLink::heartBeatAck() {
    m_dtLastServerAck = m_services.clock.now();
    m_services.lowLevel(QStringLiteral(" - Ack to Heartbeat, Server still there"));
}

// ---- Records from the server ------------------------------------------------------------

void ServerLink::Process_Packet(const QByteArray& bt) {
    try {
        const ServerRecord r = ServerRecord::fromBytes(bt);
        if (acceptedFromServer(r, Transport::Udp)) {
            handleRecord(r, "Process_Packet");
        }
    } catch (const std::exception&) {
        logCurrentError(QStringLiteral(" - Error Process_Packet "));
    }
}

void ServerLink::Process_TCPPacket(const QByteArray& bt) {
    try {
        const ServerRecord r = ServerRecord::fromBytes(bt);
        if (acceptedFromServer(r, Transport::Tcp)) {
            handleRecord(r, "Process_TCPPacket");
        }
    } catch (const std::exception&) {
        logCurrentError(QStringLiteral(" - Error Process_TCPPacket "));
    }
}

void ServerLink::handleRecord(const ServerRecord& r, const char* handler) {
    // acceptedFromServer has checked category and transport; each type has one category.
    const RecordType type = r.type();
    if (type == RecordType::LogonAccepted) {
        logonAccepted(decode<LogonAccepted>(r), handler);
        return;
    }
    if (type == RecordType::LogonRejected) {
        logonRejected();
        return;
    }
    // Everything else is traffic of a logged-on client.
    if (!m_blnConnected || !m_events) {
        return;
    }
    ServerEvents& events = *m_events;
    switch (type) {
    case RecordType::PlayerJoined: {
        const auto joined = decode<PlayerJoined>(r);
        events.playerJoined(joined.session, receivedText(joined.handle));
        break;
    }
    case RecordType::PlayerLeft:
        events.playerLeft(decode<PlayerLeft>(r).session);
        break;
    case RecordType::HeartBeat:
        heartBeatAck();
        break;
    case RecordType::PlayerCrashed: { // from the server, the notice of a crash
        const auto crash = decode<CrashNotice>(r);
        events.playerCrashed(crash.session, untilNul(crash.text));
        break;
    }
    case RecordType::QueryPlane:
        events.queryPlane(decode<QueryPlane>(r).session);
        break;
    case RecordType::PositionUpdate: {
        const auto position = decode<PositionUpdate>(r);
        events.positionUpdate(position.session, position.block);
        break;
    }
    case RecordType::AircraftDetails: {
        const auto details = decode<AircraftDetails>(r);
        events.aircraftDetails(details.session, details.engineType, receivedText(details.title));
        break;
    }
    case RecordType::ChatChunk: {
        const auto chunk = decode<ChatChunk>(r);
        events.chatPiece(chunk.session, untilNul(chunk.piece));
        break;
    }
    case RecordType::LogonRequest: // the client's own; never accepted from the server
    case RecordType::LogonAccepted:
    case RecordType::LogonRejected:
        break;
    }
}

void ServerLink::onUdpDataArrival(qint64 bytesTotal) {
    const QHostAddress server = m_ctlWinsock.remoteAddress();
    if (server.isNull()) {
        // Until the server's address is known nobody may speak on our port: read and drop.
        while (m_ctlWinsock.BytesReceived() != 0) {
            m_ctlWinsock.GetData();
        }
        return;
    }
    m_udpQueue.setAllowedSender(server, static_cast<quint16>(m_ctlWinsock.remotePort()));
    UdpDataArrival(bytesTotal, m_udpQueue, m_udpGate);
}

// ---- Window load and quit ---------------------------------------------------------------

void ServerLink::windowLoaded() {
    m_udpGate.reset();
}

void ServerLink::closeForQuit() {
    const int state = m_ctlWinsock.State();
    if (state != SocketState::Closed && state != SocketState::Closing) {
        m_ctlWinsock.Close();
    }
}

void ServerLink::hangUp() {
    m_Timer2.stop();
    m_ctlTCPSock.Close();
}

// ---- Sending ----------------------------------------------------------------------------

void ServerLink::sendUdp(const ServerRecord& r) {
    // An unbound UDP socket would bind itself to any port on its first datagram, and the next
    // Connect would then take it for the one bound to the client's port.
    if (m_ctlWinsock.State() == SocketState::Closed) {
        throw SocketError(SocketErrorNumber::BadState, QStringLiteral("The UDP socket is not open"));
    }
    m_ctlWinsock.SendData(r.toBytes());
}

void ServerLink::sendOwnAircraft(qint32 engineType, const QString& title) {
    sendUdp(toServer::aircraftDetails(m_lngSessionID, engineType, title, true));
}

void ServerLink::sendQueryPlaneReply(qint32 engineType, const QString& title) {
    sendUdp(toServer::aircraftDetails(m_lngSessionID, engineType, title, false));
}

void ServerLink::sendQueryPlane() {
    sendUdp(toServer::queryPlane(m_lngSessionID));
}

void ServerLink::sendPlayerCrashed() {
    sendUdp(toServer::playerCrashed(m_lngSessionID));
}

void ServerLink::sendPosition(const QByteArray& block) {
    sendUdp(toServer::positionUpdate(m_lngSessionID, block));
}

void ServerLink::sendTcp(const ServerRecord& r) {
    m_ctlTCPSock.SendData(r.toBytes());
    m_chatOutbox.otherSent();
}

void ServerLink::closeTcp() {
    m_ctlTCPSock.Close();
    abandonChatInFlight();
    m_chatOutbox.connectionClosed();
}

void ServerLink::sendChat(const QString& text) {
    std::vector<ServerRecord> chat;
    for (const QString& piece : chatPieces(text)) {
        chat.push_back(toServer::chatChunk(m_lngSessionID, piece));
    }
    m_chatOutbox.queue(chat);
}

void ServerLink::abandonChatInFlight() {
    const int state = m_ctlTCPSock.State();
    if (state == SocketState::Connected || state == SocketState::Open) {
        return;
    }
    m_chatOutbox.abandonInFlight();
}

void ServerLink::logCurrentError(const QString& prefix) const {
    m_services.debug(errorLine(prefix, currentErrorInfo()));
}

} // namespace serverlink
} // namespace airmesh
