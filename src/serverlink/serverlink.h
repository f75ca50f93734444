#pragma once

#include "chatoutbox.h"
#include "framing.h"
#include "linkstate.h"
#include "relayoutput.h"
#include "serverevents.h"
#include "socket.h"
#include "socketqueue.h"

#include "core/clientservices.h"
#include "wire/records.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

namespace airmesh {
// The tests' one way to a joined or logged-on client (tests/fakes).
class ClientFixture;
} // namespace airmesh

namespace airmesh {
inline namespace serverlink {

// Where and as whom Connect logs on: the server's address and ports, our UDP port, and the
// pilot ID and password as the user typed them (each must read as a 32-bit number when the
// logon goes out). A plain value: the link reads no settings of its own.
struct ServerSettings {
    QString host;
    int serverUdpPort = 1500;
    int clientUdpPort = 1501; // 0: any free port
    int serverTcpPort = 1502;
    QString pilotId;
    QString password;
};

// The link to the multiplayer server: the UDP socket and the TCP connection, logon, decoding
// the server's records and reporting them to the relay (ServerEvents), heartbeat and loss watch,
// and the records that carry the user's traffic (RelayOutput). What a record means beyond the
// link is the relay's business.
//
// Nothing here runs a nested event loop: Connect returns at once and the outcome arrives
// through socket events and the Timer1 tick, each state reported by stateChanged.
class ServerLink : public QObject, public RelayOutput {
    Q_OBJECT

public:
    static constexpr int kLogonWaitSeconds = 20;     // more than this without an answer: timed out
    static constexpr int kHeartBeatSeconds = 15;     // a heartbeat at least this often
    static constexpr int kServerSilenceSeconds = 60; // no acknowledgement this long: link lost
    static constexpr int kTimer2FirstMs = 60000;     // post-connect sends after a first logon
    static constexpr int kTimer2AfterLossMs = 30000; // ... and after a lost connection

    explicit ServerLink(ClientServices& services);
    ~ServerLink() override;

    // Where the decoded records go; none are reacted to while it is unset.
    void setEvents(ServerEvents* events) { m_events = events; }
    // Who says what the logon and the post-connect sends tell of the user; without, an empty
    // handle and no aircraft.
    void setLogonDetails(const LogonDetails* details) { m_logonDetails = details; }

    // ---- State ----
    // The state last reported, and the status text that goes with it (a Connecting link keeps
    // the text of the state before).
    LinkState state() const { return m_state; }
    const QString& statusText() const { return m_statusText; }
    const Socket& ctlWinsock() const { return m_ctlWinsock; } // UDP
    const Socket& ctlTCPSock() const { return m_ctlTCPSock; } // TCP
    // Logged on.
    bool blnConnected() const { return m_blnConnected; }
    // The session number the server gave us; 0 while logged off.
    qint32 lngSessionID() const { return m_lngSessionID; }
    // Invalid (far in the past) until the first heartbeat.
    const QDateTime& dtLastHeartBeat() const { return m_dtLastHeartBeat; }
    const QDateTime& dtLastServerAck() const { return m_dtLastServerAck; }
    int intPostConnectCount() const { return m_intPostConnectCount; }
    // A chat piece is on its way and the next waits for its completion.
    bool blnTCPSending() const { return m_chatOutbox.sending(); }
    // Post-connect aircraft details: interval kTimer2FirstMs and stopped at first.
    const QTimer& Timer2() const { return m_Timer2; }

    // ---- Connection and logon ----
    // The Connect button.
    void Connect(const ServerSettings& settings);
    // True from Connect until the logon is answered, times out or fails.
    bool isConnecting() const { return m_connectState != ConnectState::Idle; }
    void Send_Logon(qint32 pilotId, qint32 password, const QString& handle);
    // Tears the link down: the relay's part (the other pilots out of the session and the
    // registry), sockets as they should be, the window showing the loss.
    void Set_Closed();
    // The user leaves: a logon, or one being made, is torn down, so that the server sees the
    // pilot leave. Nothing when idle.
    void leave();

    // ---- Heartbeat and post-connect details ----
    void Send_HeartBeat();
    // The link watch of a Timer1 tick; also ends a logon wait that has run out. Returns false
    // when it tore the link down, in which case the rest of the tick waits for the next one.
    bool linkWatch();
    void Timer2_Timer();

    // ---- Records from the server (one 128-byte record each; never throw) ----
    void Process_Packet(const QByteArray& bt);
    void Process_TCPPacket(const QByteArray& bt);

    // The main window loads: the UDP gate opens.
    void windowLoaded();
    // Quitting: the UDP socket is closed unless already closed or closing.
    void closeForQuit();
    // Stops the post-connect sends and closes the TCP connection at once, without the
    // tear-down: the server sees the pilot leave (a headless pilot's stop, after the quit).
    void hangUp();

    // ---- RelayOutput ----
    // A send that fails at once throws the socket's SocketError, for the caller's error trap.
    bool isConnected() const override { return m_blnConnected; }
    void sendOwnAircraft(qint32 engineType, const QString& title) override;
    void sendQueryPlaneReply(qint32 engineType, const QString& title) override;
    void sendQueryPlane() override;
    void sendPlayerCrashed() override;
    void sendPosition(const QByteArray& block) override;
    // Queues the pieces and the end mark; the first goes out at once unless a chat is still
    // being sent. Throws when that first send fails (the chat is then dropped).
    void sendChat(const QString& text) override;

    // The number of the failure when a pilot ID or password is not a 32-bit integer (the
    // connect-failure path).
    static constexpr int kErrNotANumber = 13;

signals:
    // Every change of state, reported as it happens (also Lost after Lost: each tear-down).
    void stateChanged(airmesh::LinkState state, const QString& statusText);

private:
    // The one fixture of the tests makes a logged-on link without the logon's conversation.
    friend class airmesh::ClientFixture;

    enum class ConnectState { Idle, TcpConnecting, AwaitingLogon };

    void setUpUdp(const ServerSettings& settings);
    void onTcpConnected();
    void onTcpError(int number, const QString& description, qint32 scode, const QString& source);
    void onUdpDataArrival(qint64 bytesTotal);
    void connectFailed(const QString& description);
    void endLogonWait(LinkState outcome);
    void report(LinkState state);
    void handleRecord(const wire::ServerRecord& r, const char* handler);
    void logonAccepted(const wire::LogonAccepted& accepted, const char* handler);
    void logonRejected();
    void heartBeatAck();
    void sendUdp(const wire::ServerRecord& r);
    void sendTcp(const wire::ServerRecord& r);
    void closeTcp();
    void abandonChatInFlight();
    // Logs the exception being handled as "<prefix><number> <description>" (blnDebug).
    void logCurrentError(const QString& prefix) const;

    ClientServices& m_services;
    ServerEvents* m_events = nullptr;
    const LogonDetails* m_logonDetails = nullptr;

    // Declared before everything that refers to them, so they outlive it.
    Socket m_ctlWinsock;
    Socket m_ctlTCPSock;
    bool m_blnConnected = false;
    qint32 m_lngSessionID = 0;
    QDateTime m_dtLastHeartBeat;
    QDateTime m_dtLastServerAck;
    int m_intPostConnectCount = 0;
    QTimer m_Timer2;

    SocketReceiveQueue m_udpQueue;
    SocketReceiveQueue m_tcpQueue;
    RecordGate m_udpGate;
    RecordGate m_tcpGate;
    TcpFramer m_tcpFramer;

    ConnectState m_connectState = ConnectState::Idle;
    LinkState m_state = LinkState::Idle;
    QString m_statusText = linkStatusText(LinkState::Idle);
    QDateTime m_logonWaitStart;
    QString m_pendingPilotId;
    QString m_pendingPassword;

    // Chat records waiting to go out over TCP, one at a time, matched to the send completions.
    ChatOutbox m_chatOutbox;
};

} // namespace serverlink
} // namespace airmesh
