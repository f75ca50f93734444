#include "simlink.h"

#include "simcodec.h"

#include "core/clock.h"

#include <algorithm>

namespace airmesh {
inline namespace simlink {

namespace {

const QString kErrorTitle = QStringLiteral("ERROR");
// Marks the TCP/IP service provider in its name; letter case counts.
const QString kTcpMark = QStringLiteral("TCP");
const QString kObserverFriendlyName = QStringLiteral("Airmesh");
const QString kObserverFormalName = QStringLiteral("Airmesh Observer");
const QString kRequestParamsGroup = QStringLiteral("FS61_REQUEST_PARAMS");
const QString kRefuseParamsGroup = QStringLiteral("FS61_REFUSE_PARAMS");

const QString kSearchFailed = QStringLiteral(
    "Couldn't find anything at that address, Closing down. Are you sure you entered the name localhost?");
const QString kFailedToConnect =
    QStringLiteral("Failed to connect are you sure that FS is running and you have hosted a local session?");
const QString kRefused =
    QStringLiteral("FS refused a connection as an observer, have you allocated enough Observer slots on your game?");
const QString kNoAnswer = QStringLiteral("FS Didn't respond to our attempts to join");

// The longest single wait for FS's answer before the clock is read again, so that the end of an
// answer period is noticed in time even by a session that cannot wake up early.
constexpr int kMaxWaitMs = 100;

// Why the join cannot go on: what the user is told (nothing when the text is empty) and whether
// the session is closed. Thrown from any step, caught once in Join_Session.
struct JoinStopped {
    QString text;
    QString title;
    bool closeSession = true;
};

JoinStopped errorBox(const QString& text) {
    return {text, kErrorTitle, true};
}

// A step that has no answer of its own failed: say what, with the session layer's code, and that
// the program ends. The activity log is not running yet at this point of start-up, so the code
// goes on screen or nowhere.
JoinStopped stepFailed(const QString& what, qint32 code) {
    return errorBox(QStringLiteral("%1 (error %2). The program will close.").arg(what).arg(code));
}

template <typename F> auto orStop(const QString& what, F&& step) -> decltype(step()) {
    try {
        return step();
    } catch (const dp::DpError& e) {
        throw stepFailed(what, e.code());
    }
}

// Closing is the last thing done on the way out; its own failure changes nothing.
void closeAndClear(std::unique_ptr<Session>& objDP) {
    if (!objDP) {
        return;
    }
    try {
        objDP->Close();
    } catch (const dp::DpError&) {
    }
    objDP.reset();
}

// The epoch milliseconds at which `secondsSince(started, t)` reaches `seconds`.
qint64 wholeSecondsDeadline(const QDateTime& started, int seconds) {
    const qint64 ms = started.toMSecsSinceEpoch();
    const qint64 intoSecond = ((ms % 1000) + 1000) % 1000;
    return ms - intoSecond + qint64(seconds) * 1000;
}

// The steps of the join on one session object, learning the joined session as they go.
class Joiner {
public:
    // `msg` holds each message built for the session.
    Joiner(Session& dp, const Clock& clock, const ActivityLog& log, SimMessage& msg)
        : m_dp(dp), m_clock(clock), m_log(log), m_msg(msg) {}

    void chooseProvider();
    void findSession();
    void handshake();
    void joinGroupsAndQueryPlane();
    const JoinedSession& joined() const { return m_joined; }

private:
    // One search and open under `guid`; the code of the last failing operation, 0 when open.
    qint32 searchAndOpen(const QString& guid);
    void sendJoinRequest(SimMsg number);
    // One answer period; true once FS has accepted the observer.
    bool answerPeriod();

    Session& m_dp;
    const Clock& m_clock;
    const ActivityLog& m_log;
    SimMessage& m_msg;
    SessionData m_objSessionData;
    JoinedSession m_joined;
};

void Joiner::chooseProvider() {
    const ConnectionList objConnections =
        orStop(QStringLiteral("Couldn't list the network service providers for FS's session"),
               [&] { return m_dp.GetDPEnumConnections(QString(), dpflags::ConnectionsServiceProviders); });
    int provider = 0;
    for (int i = 1; i <= objConnections.GetCount(); ++i) {
        if (objConnections.GetName(i).contains(kTcpMark, Qt::CaseSensitive)) {
            provider = i;
            break;
        }
    }
    if (provider == 0) {
        throw errorBox(QStringLiteral("No TCP/IP service provider is installed, so FS's multiplayer session cannot be "
                                      "reached. The program will close."));
    }
    // No host address is given: the provider asks the user where to search when it needs to.
    orStop(QStringLiteral("Couldn't set up the TCP/IP connection to FS's session"),
           [&] { m_dp.InitializeConnection(objConnections.GetAddress(provider)); });
    m_objSessionData = m_dp.CreateSessionData();
}

qint32 Joiner::searchAndOpen(const QString& guid) {
    m_joined.strAppGuid = guid;
    m_objSessionData.SetGuidApplication(guid);
    m_objSessionData.SetSessionPassword(QString());

    // From here a failing operation does not stop the sequence: its code is remembered (the
    // latest wins) and only looked at where the sequence decides.
    qint32 code = dp::DP_OK;
    SessionList objEnumSessions;
    try {
        objEnumSessions = m_dp.GetDPEnumSessions(m_objSessionData, 0, dpflags::EnumSessionsAll);
    } catch (const dp::DpError& e) {
        code = e.code();
    }
    if (code == dp::DPERR_USERCANCEL) {
        // The user cancelled the provider's address prompt: end without a word, leaving the
        // session object as it is.
        throw JoinStopped{QString(), QString(), false};
    }
    if (code != dp::DP_OK) {
        throw errorBox(QString::number(code) + kSearchFailed);
    }
    // Only the first session listed is ever tried. Taking it and opening it are one step: when
    // the list is empty, Open is not called and the taking's code is what counts.
    try {
        const SessionData first = objEnumSessions.GetItem(1);
        m_dp.Open(first, dpflags::OpenJoin);
    } catch (const dp::DpError& e) {
        code = e.code();
        // A session found but of a kind the client cannot use: the message box that follows
        // cannot tell the user why, so the log does, in the session layer's words.
        if (code == dp::DPERR_UNSUPPORTED || code == dp::DPERR_CANTLOADSSPI) {
            m_log.line(QStringLiteral(" - Session refused: ") + e.description());
        }
    }
    return code;
}

void Joiner::findSession() {
    for (const QString& guid : {SimLink::kFirstAppGuid, SimLink::kSecondAppGuid}) {
        const bool second = guid == SimLink::kSecondAppGuid;
        const qint32 code = searchAndOpen(guid);
        if (code == dp::DP_OK) {
            m_joined.blnAltGuid = second;
            return;
        }
        // A code reported by name ends the join under either identifier.
        const QString name = dp::joinErrorName(code);
        if (!name.isEmpty()) {
            throw JoinStopped{name + QStringLiteral(" reported as error"), QString(), true};
        }
        if (second) {
            throw errorBox(kFailedToConnect);
        }
    }
}

void Joiner::sendJoinRequest(SimMsg number) {
    m_msg = m_dp.CreateMessage();
    sim::writeHeaderOnly(m_msg, number);
    orStop(QStringLiteral("Couldn't send the observer's join request to FS"),
           [&] { m_dp.Send(m_joined.lngMyPlayerID, dpflags::AllPlayers, 0, m_msg); });
}

bool Joiner::answerPeriod() {
    const Clock& clock = m_clock;
    const QDateTime started = clock.now();
    const qint64 deadline = wholeSecondsDeadline(started, SimLink::kAnswerPeriodSeconds);
    const QString lost = QStringLiteral("Lost FS's session while waiting for its answer to the join request");
    bool accepted = false;
    while (!accepted && secondsSince(started, clock.now()) < SimLink::kAnswerPeriodSeconds) {
        const int waiting = orStop(lost, [&] { return m_dp.GetMessageQueue(0, 0, dpflags::QueueReceive); });
        // The whole batch is received, even after an acceptance: what FS says around its answer
        // (a refusal included) is meant for the join, not for the message pump later.
        for (int i = 0; i < waiting; ++i) {
            qint32 from = 0;
            qint32 to = 0;
            m_msg = orStop(lost, [&] { return m_dp.Receive(from, to, dpflags::ReceiveAll); });
            // Session-layer notices are not read; neither is a message too short to carry a
            // number, which would otherwise end the join on a read past its end.
            if (from == dpflags::SystemSender || m_msg.size() < 4) {
                continue;
            }
            const qint32 number = m_msg.ReadLong();
            if (number == simMsgNumber(SimMsg::ObserverJoinAccepted)) {
                m_joined.lngHostPlayerID = from;
                accepted = true;
            } else if (number == simMsgNumber(SimMsg::ObserverJoinRefused)) {
                throw errorBox(kRefused);
            }
        }
        if (!accepted) {
            // Rather than spinning on the queue, sleep until something arrives, but wake up
            // often enough to see the period end on the clock.
            const qint64 left = deadline - clock.now().toMSecsSinceEpoch();
            m_dp.waitForMessage(static_cast<int>(std::clamp<qint64>(left, 0, kMaxWaitMs)));
        }
    }
    return accepted;
}

void Joiner::handshake() {
    m_joined.lngMyPlayerID = orStop(QStringLiteral("Couldn't create the observer player in FS's session"), [&] {
        return m_dp.CreatePlayer(kObserverFriendlyName, kObserverFormalName, 0, 0);
    });
    // From here on the queue holds only what the client reads; every remote player we add
    // would otherwise fill it with copies of what the others say.
    m_dp.setIntakeFilter(SimLink::intakeFilter(m_joined.lngMyPlayerID));
    sendJoinRequest(SimMsg::ObserverJoinRequest);
    if (answerPeriod()) {
        return;
    }
    sendJoinRequest(SimMsg::ObserverJoinRetry);
    if (answerPeriod()) {
        return;
    }
    throw errorBox(kNoAnswer);
}

void Joiner::joinGroupsAndQueryPlane() {
    m_joined.objEnumGroups = orStop(QStringLiteral("Couldn't list the groups of FS's session"),
                                    [&] { return m_dp.GetDPEnumGroups(m_joined.strAppGuid, 0); });
    // Every position is looked at, so of two groups with the same name the later one counts.
    for (int i = 1; i <= m_joined.objEnumGroups.GetCount(); ++i) {
        const QString name = m_joined.objEnumGroups.GetName(i);
        if (name == kRequestParamsGroup) {
            m_joined.intRequestParamsGroup = i;
        }
        if (name == kRefuseParamsGroup) {
            m_joined.intRefuseParamsGroup = i;
        }
    }
    // A simulator without the refuse-params group simply does not get the observer in it; the
    // rest of the relay does not depend on that membership, so the join goes on.
    if (m_joined.intRefuseParamsGroup != 0) {
        orStop(QStringLiteral("Couldn't join the parameter group of FS's session"), [&] {
            m_dp.AddPlayerToGroup(m_joined.objEnumGroups.GetItem(m_joined.intRefuseParamsGroup),
                                  m_joined.lngMyPlayerID);
        });
    }
    // FS answers with the user's aircraft later, through the message pump.
    m_msg = m_dp.CreateMessage();
    sim::writeHeaderOnly(m_msg, SimMsg::QueryPlane);
    orStop(QStringLiteral("Couldn't ask FS for your aircraft"),
           [&] { m_dp.Send(m_joined.lngMyPlayerID, m_joined.lngHostPlayerID, 0, m_msg); });
    m_joined.strHandle = orStop(QStringLiteral("Couldn't read your handle in FS's session"),
                                [&] { return m_dp.GetPlayerFriendlyName(m_joined.lngHostPlayerID); });
}

} // namespace

std::optional<JoinedSession> SimLink::Join_Session(SessionFactory& objDX) {
    m_joined = JoinedSession();
    // A wake-up of the pump that runs while a message box of the join is up finds nothing to do.
    struct Joining {
        bool& flag;
        explicit Joining(bool& f) : flag(f) { flag = true; }
        ~Joining() { flag = false; }
        Joining(const Joining&) = delete;
        Joining& operator=(const Joining&) = delete;
    } joining(m_joining);
    try {
        m_objDP = orStop(QStringLiteral("Couldn't start the multiplayer session layer"),
                         [&] { return objDX.DirectPlayCreate(QString()); });
        if (!m_objDP) {
            throw errorBox(QStringLiteral("Couldn't start the multiplayer session layer. The program will close."));
        }
        Joiner join(*m_objDP, m_services.clock, m_services.log, m_objDPMsg);
        join.chooseProvider();
        join.findSession();
        join.handshake();
        join.joinGroupsAndQueryPlane();
        adopt(std::move(m_objDP), join.joined());
        return m_joined;
    } catch (const JoinStopped& stop) {
        if (!stop.text.isEmpty()) {
            m_services.messages.showMessage(stop.text, stop.title);
        }
        if (stop.closeSession) {
            closeAndClear(m_objDP);
        }
        return std::nullopt;
    }
}

} // namespace simlink
} // namespace airmesh
