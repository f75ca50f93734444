// The joiner against the host role over loopback, in one process: the whole join, players,
// groups, messages both ways, and every way a join or a session can fail.
#include "dprig.h"

#include "fakes/servicesrig.h"
#include "simlink/simcodec.h"
#include "simlink/simlink.h"
#include "standin/dplay/hostwire.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUdpSocket>

#include <atomic>
#include <mutex>

using namespace airmesh;
using namespace airmesh::dplay;
using namespace airmesh::dplay::test;

namespace {
using Events = std::vector<DpHost::Event>;

bool hasEvent(const Events& es, DpHost::Event::Kind k, const QString& name = {}) {
    for (const auto& e : es) {
        if (e.kind == k && (name.isEmpty() || e.shortName == name)) {
            return true;
        }
    }
    return false;
}

qint32 codeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const dp::DpError& e) {
        return e.code();
    }
    return 0;
}

SimMessage header(SimMsg m) {
    SimMessage msg;
    sim::writeHeaderOnly(msg, m);
    return msg;
}

// Receives the next message, waiting for it (bounded).
bool receive(NativeSession& s, qint32& from, qint32& to, SimMessage& out, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        if (s.GetMessageQueue(0, 0, 2) > 0) {
            out = s.Receive(from, to, 1);
            return true;
        }
        s.waitForMessage(50);
    }
    return false;
}

// Sends a ping from `u` to `port` and waits (bounded) for the answer. Datagrams from one socket
// are read in order, so an answer also says that everything `u` sent before has been read.
std::optional<WireMessage> pingAnswer(QUdpSocket& u, quint16 port) {
    u.writeDatagram(systemMessage(2300, Command::Ping, pingBody(0x1234, 0xCAFE)), QHostAddress::LocalHost, port);
    if (!u.hasPendingDatagrams() && !u.waitForReadyRead(3000)) {
        return std::nullopt;
    }
    QByteArray answer(int(u.pendingDatagramSize()), '\0');
    u.readDatagram(answer.data(), answer.size());
    return parseDatagram(answer);
}

// Log lines, from whichever thread writes them.
struct LogLines {
    std::mutex mutex;
    QStringList lines;
    std::function<void(const QString&)> sink() {
        return [this](const QString& l) {
            std::lock_guard lock(mutex);
            lines << l;
        };
    }
    int count(const QString& part) {
        std::lock_guard lock(mutex);
        return static_cast<int>(lines.filter(part).size());
    }
};
} // namespace

class TestNativeSession : public QObject {
    Q_OBJECT

private slots:
    void joinsAndExchangesEverything();
    void deliversToOurOtherPlayersAsTheSessionLayerDoes();
    void twoJoinersReachEachOther();
    void joinsUnderTheSecondIdentifierOnlyWhenAsked();
    void readsTheWideSessionDescription();
    void searchFindsNothingWhereNoHostIs();
    void cancelledPromptGivesUserCancel();
    void wrongPasswordAndFullSessionAreRefused();
    void refusesReliableProtocolSessions();
    void unreachableHostAndSilentHost();
    void sessionLostWhenTheHostGoes();
    void hostHearsAPlayerWhoseDatagramOvertookItsCreation();
    void bothRolesAnswerPings();
    void hostSurvivesGarbage();
    void joinerSurvivesGarbageFromTheHost();
    void putsFragmentedMessagesTogether();
    void searchFallsBackToBroadcast();
    void logsWhyASessionIsRefused_data();
    void logsWhyASessionIsRefused();
};

void TestNativeSession::joinsAndExchangesEverything() {
    HostRig rig;
    QVERIFY(rig.started);
    const quint32 request = rig.host->addGroup(QStringLiteral("FS61_REQUEST_PARAMS"));
    const quint32 refuse = rig.host->addGroup(QStringLiteral("FS61_REFUSE_PARAMS"));
    NativeOptions jo = rig.joinerOptions();
    jo.enumSettleMs = NativeOptions().enumSettleMs; // as the client searches
    auto s = rig.joiner(jo);
    // The host answers at once: the search ends when it has waited the settle time after that
    // answer, and nothing else of the join waits for a period to run out.
    const qint64 start = rig.clock->nowMs();
    rig.clock->jumpWhenAwaited(start + jo.enumSettleMs);
    HostRig::join(*s);
    QCOMPARE(rig.clock->nowMs() - start, qint64(jo.enumSettleMs));
    QVERIFY(s->isOpen());
    QVERIFY(rig.waitEvents([](const Events& es) { return hasEvent(es, DpHost::Event::MachineJoined); }));

    // The name table: the host's own player and both groups, in order.
    QCOMPARE(s->GetPlayerFriendlyName(static_cast<qint32>(rig.host->ownPlayer())), QStringLiteral("Pilot"));
    const GroupList groups = s->GetDPEnumGroups(kFirstGuid, 0);
    QCOMPARE(groups.GetCount(), 2);
    QCOMPARE(groups.GetName(1), QStringLiteral("FS61_REQUEST_PARAMS"));
    QCOMPARE(groups.GetItem(2), static_cast<qint32>(refuse));

    const qint32 observer = s->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
    QVERIFY(observer != 0);
    QVERIFY(rig.waitEvents(
        [](const Events& es) { return hasEvent(es, DpHost::Event::PlayerCreated, QStringLiteral("Airmesh")); }));
    QCOMPARE(rig.host->shortName(static_cast<quint32>(observer)), QStringLiteral("Airmesh"));

    // Joiner to host, to everybody.
    s->Send(observer, 0, 0, header(SimMsg::ObserverJoinRequest));
    QVERIFY(rig.waitEvents([](const Events& es) {
        for (const auto& e : es) {
            if (e.kind == DpHost::Event::Message && e.to == 0 && SimMessage(e.bytes).ReadLong() == 4098) {
                return true;
            }
        }
        return false;
    }));

    // Host to joiner, announced from the session's own thread as it is queued; no longer once
    // the notifier is taken away.
    std::atomic<int> arrivals{0};
    s->setArrivalNotifier([&] { ++arrivals; });
    QVERIFY(rig.host->sendFromOwn(static_cast<quint32>(observer), header(SimMsg::ObserverJoinAccepted).bytes()));
    qint32 from = 0, to = 0;
    SimMessage got;
    QVERIFY(receive(*s, from, to, got));
    QCOMPARE(from, static_cast<qint32>(rig.host->ownPlayer()));
    QCOMPARE(to, observer);
    QCOMPARE(got.ReadLong(), 4100);
    QCOMPARE(arrivals.load(), 1);
    s->setArrivalNotifier({});
    QVERIFY(rig.host->sendFromOwn(static_cast<quint32>(observer), header(SimMsg::QueryPlane).bytes()));
    QVERIFY(receive(*s, from, to, got));
    QCOMPARE(arrivals.load(), 1);

    s->AddPlayerToGroup(static_cast<qint32>(refuse), observer);
    QTRY_VERIFY_WITH_TIMEOUT(rig.host->groupMembers(refuse).contains(static_cast<quint32>(observer)), 3000);
    QVERIFY(rig.host->groupMembers(request).isEmpty());

    // A remote pilot's player comes and goes.
    const qint32 remote = s->CreatePlayer(QStringLiteral("Bob"), QStringLiteral("Bob Bob"), 0, 0);
    QVERIFY(rig.waitEvents(
        [](const Events& es) { return hasEvent(es, DpHost::Event::PlayerCreated, QStringLiteral("Bob")); }));
    QCOMPARE(rig.host->playerCount(), 3);
    s->DestroyPlayer(remote);
    QVERIFY(rig.waitEvents(
        [](const Events& es) { return hasEvent(es, DpHost::Event::PlayerDestroyed, QStringLiteral("Bob")); }));
    QCOMPARE(codeOf([&] { s->DestroyPlayer(static_cast<qint32>(rig.host->ownPlayer())); }), dp::DPERR_INVALIDPLAYER);
    QCOMPARE(codeOf([&] { s->Send(remote, 0, 0, header(SimMsg::QueryPlane)); }), dp::DPERR_INVALIDPLAYER);
    QCOMPARE(codeOf([&] { s->GetPlayerFriendlyName(12345); }), dp::DPERR_INVALIDPLAYER);

    // Leaving takes our players out of the host's table.
    s->Close();
    QVERIFY(rig.waitEvents([](const Events& es) { return hasEvent(es, DpHost::Event::MachineLeft); }));
    QCOMPARE(rig.host->playerCount(), 1);
}

void TestNativeSession::deliversToOurOtherPlayersAsTheSessionLayerDoes() {
    HostRig rig;
    auto s = rig.joiner();
    HostRig::join(*s);
    const qint32 a = s->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
    const qint32 b = s->CreatePlayer(QStringLiteral("Bob"), QStringLiteral("Bob Bob"), 0, 0);
    s->Send(b, 0, 0, header(SimMsg::AddPlayerRequest));
    qint32 from = 0, to = 0;
    SimMessage got;
    QVERIFY(receive(*s, from, to, got));
    QCOMPARE(from, b);
    QCOMPARE(to, a);
    QCOMPARE(got.ReadLong(), 4097);
    // The host's message to everybody reaches each of our players once.
    rig.host->sendFromOwn(0, header(SimMsg::PlayerCrashed).bytes());
    QSet<qint32> receivers;
    while (receivers.size() < 2 && receive(*s, from, to, got)) {
        if (from != 0) {
            receivers.insert(to);
        }
    }
    QCOMPARE(receivers, (QSet<qint32>{a, b}));

    // Reading through the observer only: our own echoes take no room, a message to all is
    // queued once, and of what reaches Bob only what the filter asks for.
    s->setIntakeFilter(SimLink::intakeFilter(a));
    s->Send(b, 0, 0, header(SimMsg::AddPlayerRequest));
    rig.host->sendFromOwn(0, header(SimMsg::PlayerCrashed).bytes());
    // The host hears of Bob over TCP, maybe after we have moved on: it sends once it knows him.
    QTRY_VERIFY_WITH_TIMEOUT(rig.host->sendFromOwn(static_cast<quint32>(b), header(SimMsg::PositionUpdate).bytes()),
                             3000);
    QVERIFY(rig.host->sendFromOwn(static_cast<quint32>(b), header(SimMsg::AddPlayerRejected).bytes()));
    QList<std::pair<qint32, qint32>> got2; // (to, number)
    while (got2.size() < 2 && receive(*s, from, to, got)) {
        got2.append({to, got.ReadLong()});
    }
    QCOMPARE(got2, (QList<std::pair<qint32, qint32>>{{a, 4113}, {b, 4101}}));
    QCOMPARE(s->GetMessageQueue(0, 0, 2), 0);
}

void TestNativeSession::twoJoinersReachEachOther() {
    // A machine that comes later learns the earlier one's players from the name table; the
    // earlier one learns the newcomer from the host's ADDFORWARD and its CREATEPLAYER.
    HostRig rig;
    auto first = rig.joiner();
    HostRig::join(*first);
    const qint32 a = first->CreatePlayer(QStringLiteral("Alice"), QStringLiteral("Alice A"), 0, 0);
    auto second = rig.joiner();
    HostRig::join(*second);
    QCOMPARE(second->GetPlayerFriendlyName(a), QStringLiteral("Alice"));
    const qint32 b = second->CreatePlayer(QStringLiteral("Bob"), QStringLiteral("Bob B"), 0, 0);
    QTRY_COMPARE_WITH_TIMEOUT(codeOf([&] { first->GetPlayerFriendlyName(b); }), 0, 3000);
    QCOMPARE(first->GetPlayerFriendlyName(b), QStringLiteral("Bob"));
    QCOMPARE(rig.host->machineCount(), 2);

    second->Send(b, a, 0, header(SimMsg::PlayerQuery)); // a datagram straight to the first machine
    qint32 from = 0, to = 0;
    SimMessage got;
    bool createdNotice = false; // the session layer told the first machine of Bob first
    do {
        QVERIFY(receive(*first, from, to, got));
        if (from == 0 && got.ReadLong() == static_cast<qint32>(dp::SysMsg::CreatePlayerOrGroup)) {
            createdNotice = createdNotice || (got.ReadLong() == 1 && got.ReadLong() == b);
        }
    } while (from == 0);
    QVERIFY(createdNotice);
    QCOMPARE(from, b);
    QCOMPARE(to, a);
    QCOMPARE(got.ReadLong(), 4103);
    first->Send(a, b, 1, header(SimMsg::AddPlayerApproved)); // guaranteed: over TCP to its machine
    do {
        QVERIFY(receive(*second, from, to, got));
    } while (from == 0);
    QCOMPARE(from, a);
    QCOMPARE(got.ReadLong(), 4099);

    // The second machine leaves: the first hears its player go.
    second->Close();
    bool destroyed = false;
    while (!destroyed && receive(*first, from, to, got)) {
        destroyed = from == 0 && got.ReadLong() == static_cast<qint32>(dp::SysMsg::DestroyPlayerOrGroup) &&
                    got.ReadLong() == 1 && got.ReadLong() == b;
    }
    QVERIFY(destroyed);
}

void TestNativeSession::joinsUnderTheSecondIdentifierOnlyWhenAsked() {
    HostOptions o;
    o.application = *parseGuid(kSecondGuid);
    HostRig rig(o);
    NativeOptions jo = rig.joinerOptions();
    jo.enumWindowMs = 300;
    auto s = rig.joiner(jo);
    s->InitializeConnection(s->GetDPEnumConnections({}, 1).GetAddress(1));
    SessionData search;
    search.SetGuidApplication(kFirstGuid);
    rig.clock->jumpWhenAwaited(rig.clock->nowMs() + jo.enumWindowMs); // unanswered, it runs out
    QCOMPARE(s->GetDPEnumSessions(search, 0, 2).GetCount(), 0);
    search.SetGuidApplication(kSecondGuid);
    const SessionList found = s->GetDPEnumSessions(search, 0, 2);
    QCOMPARE(found.GetCount(), 1);
    QCOMPARE(found.GetItem(1).GetGuidApplication(), kSecondGuid);
    s->Open(found.GetItem(1), 1);
    QVERIFY(s->isOpen());
}

void TestNativeSession::readsTheWideSessionDescription() {
    HostOptions o;
    o.wideDescription = true;
    o.sessionName = QStringLiteral("Wide");
    HostRig rig(o);
    auto s = rig.joiner();
    HostRig::join(*s);
    QVERIFY(s->isOpen());
    QCOMPARE(s->GetPlayerFriendlyName(static_cast<qint32>(rig.host->ownPlayer())), QStringLiteral("Pilot"));

    // Its player-id replies are wide too: a refusal is read as one.
    HostOptions full = o;
    full.maxPlayers = 2;
    HostRig fullRig(full);
    auto j = fullRig.joiner();
    HostRig::join(*j);
    j->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
    QCOMPARE(codeOf([&] { j->CreatePlayer(QStringLiteral("Bob"), QStringLiteral("Bob Bob"), 0, 0); }),
             dp::DPERR_NONEWPLAYERS);
}

void TestNativeSession::searchFindsNothingWhereNoHostIs() {
    NativeOptions o;
    QUdpSocket unused; // a port nobody answers on
    QVERIFY(unused.bind(QHostAddress::LocalHost, 0));
    const QString address = QStringLiteral("127.0.0.1:%1").arg(unused.localPort());
    o.prompt = [address](const QString&) { return std::optional<QString>(address); };
    o.enumWindowMs = 200;
    const auto clock = std::make_shared<ManualNodeClock>();
    o.clock = clock;
    NativeSession s(o);
    s.InitializeConnection(s.GetDPEnumConnections({}, 1).GetAddress(1));
    SessionData search;
    search.SetGuidApplication(kFirstGuid);
    clock->jumpWhenAwaited(o.enumWindowMs);
    const SessionList found = s.GetDPEnumSessions(search, 0, 2);
    QCOMPARE(found.GetCount(), 0);
    QCOMPARE(clock->nowMs(), qint64(o.enumWindowMs)); // it searched for its whole window
    QCOMPARE(codeOf([&] { found.GetItem(1); }), dp::DPERR_GENERIC);
    QVERIFY(unused.hasPendingDatagrams()); // it did ask
    QCOMPARE(codeOf([&] { s.Open(SessionData(), 1); }), dp::DPERR_INVALIDPARAMS);
    QCOMPARE(codeOf([&] { s.InitializeConnection(QByteArray("{00000000-0000-0000-0000-000000000000}")); }),
             dp::DPERR_INVALIDPARAMS);
}

void TestNativeSession::cancelledPromptGivesUserCancel() {
    NativeOptions o;
    int asked = 0;
    QString suggested;
    o.suggestedAddress = QStringLiteral("10.1.2.3");
    o.prompt = [&](const QString& s) {
        ++asked;
        suggested = s;
        return std::optional<QString>();
    };
    NativeSession s(o);
    SessionData search;
    search.SetGuidApplication(kFirstGuid);
    QCOMPARE(codeOf([&] { s.GetDPEnumSessions(search, 0, 2); }), dp::DPERR_UNINITIALIZED);
    s.InitializeConnection(s.GetDPEnumConnections({}, 1).GetAddress(1));
    QCOMPARE(codeOf([&] { s.GetDPEnumSessions(search, 0, 2); }), dp::DPERR_USERCANCEL);
    QCOMPARE(asked, 1);
    QCOMPARE(suggested, QStringLiteral("10.1.2.3"));
}

void TestNativeSession::wrongPasswordAndFullSessionAreRefused() {
    {
        HostOptions o;
        o.password = QStringLiteral("secret");
        HostRig rig(o);
        auto s = rig.joiner();
        QCOMPARE(codeOf([&] { HostRig::join(*s, kFirstGuid, QStringLiteral("wrong")); }), dp::DPERR_INVALIDPASSWORD);
        QVERIFY(!s->isOpen());
        auto ok = rig.joiner();
        HostRig::join(*ok, kFirstGuid, QStringLiteral("secret"));
        QVERIFY(ok->isOpen());
    }
    {
        HostOptions o;
        o.maxPlayers = 2; // the host's own player and one more
        HostRig rig(o);
        auto s = rig.joiner();
        HostRig::join(*s);
        QCOMPARE(s->GetSessionDesc().GetMaxPlayers(), 2);
        QCOMPARE(s->GetSessionDesc().GetCurrentPlayers(), 1); // the host's own; system players not counted
        const qint32 observer = s->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
        QCOMPARE(s->GetSessionDesc().GetCurrentPlayers(), 2);
        QCOMPARE(codeOf([&] { s->CreatePlayer(QStringLiteral("Bob"), QStringLiteral("Bob Bob"), 0, 0); }),
                 dp::DPERR_NONEWPLAYERS);
        auto late = rig.joiner();
        QCOMPARE(codeOf([&] { HostRig::join(*late); }), dp::DPERR_NONEWPLAYERS);
        s->DestroyPlayer(observer);
        QCOMPARE(s->GetSessionDesc().GetCurrentPlayers(), 1);
    }
    {
        HostOptions o;
        o.flags |= sessionflag::JoinDisabled;
        HostRig rig(o);
        auto s = rig.joiner();
        QCOMPARE(codeOf([&] { HostRig::join(*s); }), dp::DPERR_NONEWPLAYERS);
    }
}

void TestNativeSession::refusesReliableProtocolSessions() {
    HostOptions o;
    o.flags |= sessionflag::DirectPlayProtocol;
    HostRig rig(o);
    NativeOptions jo = rig.joinerOptions();
    QStringList lines;
    jo.log = [&lines](const QString& l) { lines << l; };
    auto s = rig.joiner(jo);
    QCOMPARE(codeOf([&] { HostRig::join(*s); }), dp::DPERR_UNSUPPORTED);
    QVERIFY(lines.join('\n').contains(QStringLiteral("reliable protocol")));
    QCOMPARE(rig.host->machineCount(), 0);
}

void TestNativeSession::unreachableHostAndSilentHost() {
    // A "host" that answers the search, then names a stream port nobody listens on, or one
    // that takes the connection and never answers.
    for (const bool listening : {false, true}) {
        QUdpSocket enumSocket;
        QVERIFY(enumSocket.bind(QHostAddress::LocalHost, 0));
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        const quint16 streamPort = server.serverPort();
        if (!listening) {
            server.close();
        }
        NativeOptions o;
        const QString address = QStringLiteral("127.0.0.1:%1").arg(enumSocket.localPort());
        o.prompt = [address](const QString&) { return std::optional<QString>(address); };
        const auto clock = std::make_shared<ManualNodeClock>();
        o.clock = clock;
        NativeSession s(o);
        s.InitializeConnection(s.GetDPEnumConnections({}, 1).GetAddress(1));
        SessionData search;
        search.SetGuidApplication(kFirstGuid);
        // Run the search on another thread; answer it here.
        SessionList found;
        std::atomic<bool> searched{false};
        std::unique_ptr<QThread> searcher(QThread::create([&] {
            found = s.GetDPEnumSessions(search, 0, 2);
            searched = true;
        }));
        clock->jumpWhenAwaited(o.enumSettleMs); // after the answer below
        searcher->start();
        QVERIFY(enumSocket.hasPendingDatagrams() || enumSocket.waitForReadyRead(3000));
        QByteArray request(int(enumSocket.pendingDatagramSize()), '\0');
        enumSocket.readDatagram(request.data(), request.size());
        const auto m = parseDatagram(request);
        QVERIFY(m && m->system && m->command == commandNumber(Command::EnumSessions));
        SessionDesc d;
        d.application = *parseGuid(kFirstGuid);
        d.instance[0] = 7;
        QTcpSocket answer;
        answer.connectToHost(QHostAddress::LocalHost, m->replyTo.port);
        QVERIFY(answer.waitForConnected(3000));
        answer.write(systemMessage(streamPort, Command::EnumSessionsReply,
                                   dphost::enumSessionsReplyBody(d, QStringLiteral("Fake"))));
        QVERIFY(answer.waitForBytesWritten(3000));
        QVERIFY(searcher->wait(5000));
        QVERIFY(searched);
        QCOMPARE(found.GetCount(), 1);
        const qint64 asked = clock->nowMs();
        clock->jumpWhenAwaited(asked + o.playerIdTimeoutMs);
        std::atomic<qint32> code{0};
        std::unique_ptr<QThread> opener(QThread::create([&] { code = codeOf([&] { s.Open(found.GetItem(1), 1); }); }));
        opener->start();
        if (listening) {
            QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections() || server.waitForNewConnection(50), 3000);
        }
        QVERIFY(opener->wait(8000));
        QCOMPARE(code.load(), listening ? dp::DPERR_TIMEOUT : dp::DPERR_UNAVAILABLE);
        if (listening) {
            QCOMPARE(clock->nowMs(), asked + o.playerIdTimeoutMs); // its whole period, no less
        }
        QVERIFY(!s.isOpen());
    }
}

void TestNativeSession::sessionLostWhenTheHostGoes() {
    HostRig rig;
    auto s = rig.joiner();
    HostRig::join(*s);
    const qint32 observer = s->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
    rig.host.reset(); // the simulator quits
    qint32 from = -1, to = -1;
    SimMessage got;
    bool lost = false;
    while (!lost && receive(*s, from, to, got)) {
        lost = from == 0 && got.ReadLong() == static_cast<qint32>(dp::SysMsg::SessionLost);
    }
    QVERIFY(lost);
    QVERIFY(s->sessionLost());
    QCOMPARE(codeOf([&] { s->Send(observer, 0, 0, header(SimMsg::QueryPlane)); }), dp::DPERR_SESSIONLOST);
    s->Close(); // still closes cleanly
}

void TestNativeSession::hostHearsAPlayerWhoseDatagramOvertookItsCreation() {
    HostRig rig; // ids: 1 the host's machine, 2 its player, 3 the joiner's machine, 4 next
    auto s = rig.joiner();
    HostRig::join(*s);
    const quint32 next = ((1u << 16) | 4u) ^ rig.host->key();
    QUdpSocket u;
    QVERIFY(u.bind(QHostAddress::LocalHost, 0));
    u.writeDatagram(playerMessageUdp(next, 0, header(SimMsg::AddPlayerRequest).bytes()), QHostAddress::LocalHost,
                    rig.host->udpPort());
    QVERIFY(pingAnswer(u, rig.host->udpPort())); // the datagram is in before the player exists
    const qint32 bob = s->CreatePlayer(QStringLiteral("Bob"), QStringLiteral("Bob Bob"), 0, 0);
    QCOMPARE(static_cast<quint32>(bob), next);
    QVERIFY(rig.waitEvents([bob](const Events& es) {
        bool created = false;
        for (const auto& e : es) {
            if (e.kind == DpHost::Event::PlayerCreated && e.id == static_cast<quint32>(bob)) {
                created = true;
            }
            if (e.kind == DpHost::Event::Message && e.id == static_cast<quint32>(bob)) {
                return created; // after its creation, never before
            }
        }
        return false;
    }));
}

void TestNativeSession::bothRolesAnswerPings() {
    HostRig rig;
    auto s = rig.joiner();
    HostRig::join(*s);
    QUdpSocket u;
    QVERIFY(u.bind(QHostAddress::LocalHost, 0));
    for (const quint16 port : {s->datagramPort(), rig.host->udpPort()}) {
        const auto m = pingAnswer(u, port);
        QVERIFY(m && m->system);
        QCOMPARE(m->command, commandNumber(Command::PingReply));
        QCOMPARE(readPingTick(m->body), std::optional<quint32>(0xCAFE));
    }
}

void TestNativeSession::hostSurvivesGarbage() {
    HostRig rig;
    QUdpSocket u;
    const QList<QByteArray> junk = {QByteArray(), QByteArray(3, 'x'), QByteArray(24, '\0'),
                                    QByteArray::fromHex("3400b0fa020008fd0000000000000000000000007061796c0200"),
                                    QByteArray(2000, '\xff')};
    for (const QByteArray& j : junk) {
        u.writeDatagram(j, QHostAddress::LocalHost, rig.host->enumPort());
        u.writeDatagram(j, QHostAddress::LocalHost, rig.host->udpPort());
    }
    QTcpSocket t;
    t.connectToHost(QHostAddress::LocalHost, rig.host->tcpPort());
    QVERIFY(t.waitForConnected(3000));
    t.write(QByteArray::fromHex("ffff0f00")); // announces a message of a megabyte
    t.write(QByteArray(100, 'z'));
    QVERIFY(t.waitForBytesWritten(3000));
    QTRY_COMPARE_WITH_TIMEOUT(t.state(), QAbstractSocket::UnconnectedState, 3000); // dropped
    // and still serves a real joiner
    auto s = rig.joiner();
    HostRig::join(*s);
    QVERIFY(s->isOpen());
}

void TestNativeSession::joinerSurvivesGarbageFromTheHost() {
    HostRig rig;
    auto s = rig.joiner();
    HostRig::join(*s);
    const qint32 observer = s->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
    QUdpSocket u;
    u.writeDatagram(QByteArray(5, 'x'), QHostAddress::LocalHost, s->datagramPort());
    // A player message that claims to come from our own player is not ours to receive.
    u.writeDatagram(playerMessageUdp(static_cast<quint32>(observer), static_cast<quint32>(observer), "spoof"),
                    QHostAddress::LocalHost, s->datagramPort());
    QTcpSocket t;
    t.connectToHost(QHostAddress::LocalHost, s->listenPort());
    QVERIFY(t.waitForConnected(3000));
    t.write(systemMessage(2300, Command::SuperEnumPlayersReply, QByteArray(10, '\x7f')));
    t.write(systemMessage(2300, Command::CreatePlayer, QByteArray::fromHex("00000000ffffffff000000001c000000")));
    t.write(QByteArray::fromHex("0300b0fa"));
    QVERIFY(t.waitForBytesWritten(3000));
    QTRY_VERIFY_WITH_TIMEOUT(
        rig.host->sendFromOwn(static_cast<quint32>(observer), header(SimMsg::ObserverJoinAccepted).bytes()), 3000);
    qint32 from = 0, to = 0;
    SimMessage got;
    QVERIFY(receive(*s, from, to, got));
    QCOMPARE(from, static_cast<qint32>(rig.host->ownPlayer()));
    QVERIFY(s->isOpen());
    QVERIFY(!s->sessionLost());
}

void TestNativeSession::putsFragmentedMessagesTogether() {
    HostRig rig;
    NativeOptions jo = rig.joinerOptions();
    LogLines log;
    jo.log = log.sink();
    auto s = rig.joiner(jo);
    HostRig::join(*s);
    const auto observer = static_cast<quint32>(s->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("A O"), 0, 0));
    const quint32 host = rig.host->ownPlayer();
    // The host's chat line to the observer, as the player message it sends in pieces.
    SimMessage chat;
    sim::writeChat(chat, SimMsg::ChatMessage, QStringLiteral("a chat line that the host sends in three pieces"));
    QByteArray whole;
    ByteWriter w(whole);
    w.u32(host);
    w.u32(observer);
    w.bytes(chat.bytes());
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, s->listenPort());
    QVERIFY(peer.waitForConnected(3000));
    // Fragment `index` of 3 of message `id`.
    const auto fragment = [&](quint8 id, quint32 index) {
        const qsizetype piece = (whole.size() + 2) / 3;
        Fragment f;
        f.message[0] = id;
        f.index = index;
        f.count = 3;
        f.offset = static_cast<quint32>(piece * index);
        f.messageSize = static_cast<quint32>(whole.size());
        f.data = whole.mid(piece * index, piece);
        peer.write(systemMessage(2300, Command::Packet, packetBody(f)));
    };
    // What the session delivers up to a marker sent after it on the same connection.
    const auto delivered = [&] {
        peer.write(playerMessageTcp(2300, host, observer, header(SimMsg::QueryPlane).bytes()));
        peer.flush();
        QList<QByteArray> out;
        qint32 from = 0, to = 0;
        SimMessage got;
        while (receive(*s, from, to, got) && got.ReadLong() != 4111) {
            out << got.bytes();
        }
        return out;
    };
    const QList<QByteArray> once{chat.bytes()};

    for (const quint32 i : {0, 1, 2}) {
        fragment(1, i);
    }
    QCOMPARE(delivered(), once);
    // Out of order, one fragment twice, and all of them again once the message is complete.
    for (const quint32 i : {2, 0, 0, 1, 0, 1, 2}) {
        fragment(2, i);
    }
    QCOMPARE(delivered(), once);

    // An incomplete message waits 15 s for its next fragment, and no longer.
    fragment(3, 0);
    fragment(3, 2);
    QVERIFY(delivered().isEmpty());
    rig.clock->advance(14999);
    fragment(3, 1);
    QCOMPARE(delivered(), once);
    fragment(4, 0);
    fragment(4, 1);
    QVERIFY(delivered().isEmpty());
    rig.clock->advance(15000);
    fragment(4, 2);
    QVERIFY(delivered().isEmpty());
    QCOMPARE(log.count(QStringLiteral("none in the last 15000 ms")), 1);

    // Bounds: a message longer than the session takes is dropped with one line for all its
    // fragments; a ninth message in the making from one peer pushes out the oldest.
    Fragment big;
    big.message[0] = 5;
    big.count = 2;
    big.messageSize = 1024 * 1024;
    big.data = QByteArray(1000, 'x');
    for (const quint32 i : {0, 1}) {
        big.index = i;
        big.offset = i * 1000;
        peer.write(systemMessage(2300, Command::Packet, packetBody(big)));
    }
    for (quint8 id = 10; id < 19; ++id) {
        fragment(id, 0);
        QVERIFY(delivered().isEmpty());
        rig.clock->advance(1);
    }
    for (quint8 id = 10; id < 19; ++id) {
        fragment(id, 1);
        fragment(id, 2);
    }
    QCOMPARE(delivered(), QList<QByteArray>(8, chat.bytes()));
    QCOMPARE(log.count(QStringLiteral("1048576 bytes")), 1);
    QCOMPARE(log.count(QStringLiteral("messages from one peer")), 1);
}

void TestNativeSession::searchFallsBackToBroadcast() {
    // A host that hears only searches sent to the loopback network's broadcast address.
    HostOptions o;
    o.enumBindIp = 0x7FFFFFFFu;
    HostRig rig(o);
    QVERIFY(rig.started);
    NativeOptions jo = rig.joinerOptions(); // its address, 127.0.0.1
    jo.enumWindowMs = 3000;
    LogLines log;
    jo.log = log.sink();
    auto s = rig.joiner(jo);
    // Unanswered, the search asks again after its resend period and by broadcast too after its
    // fallback period, each as soon as it waits for it.
    const qint64 start = rig.clock->nowMs();
    rig.clock->jumpWhenAwaited(start + jo.enumResendMs);
    rig.clock->jumpWhenAwaited(start + jo.enumBroadcastAfterMs);
    QCOMPARE(codeOf([&] { HostRig::join(*s); }), 0);
    QVERIFY(s->isOpen());
#ifndef Q_OS_WIN
    // Windows binds a broadcast address as if it were any address, so there the host also hears
    // the direct question; the join above is what counts.
    QCOMPARE(rig.clock->nowMs() - start, qint64(jo.enumBroadcastAfterMs)); // asked directly first
    QCOMPARE(log.count(QStringLiteral("searching by broadcast too")), 1);
#endif
}

void TestNativeSession::logsWhyASessionIsRefused_data() {
    QTest::addColumn<quint32>("flags");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("box");
    const QString failed =
        QStringLiteral("Failed to connect are you sure that FS is running and you have hosted a local session?");
    QTest::newRow("no player ids") << sessionflag::NoMessageId
                                   << QStringLiteral(" - Session refused: its messages carry no player ids") << failed;
    QTest::newRow("client/server") << sessionflag::ClientServer
                                   << QStringLiteral(" - Session refused: it is a client/server session") << failed;
    QTest::newRow("secure") << sessionflag::SecureServer
                            << QStringLiteral(" - Session refused: it needs a secure logon")
                            << QStringLiteral("DPERR_CANTLOADSSPI reported as error");
}

void TestNativeSession::logsWhyASessionIsRefused() {
    QFETCH(quint32, flags);
    QFETCH(QString, line);
    QFETCH(QString, box);
    HostOptions o;
    o.flags |= flags;
    o.application = *parseGuid(SimLink::kFirstAppGuid);
    HostRig rig(o);
    NativeOptions jo = rig.joinerOptions();
    jo.enumWindowMs = 300;
    // A refused session under the first identifier is followed by a search under the second,
    // which nothing answers: its window runs out.
    jo.log = [clock = rig.clock, window = jo.enumWindowMs](const QString& line) {
        if (line.contains(QStringLiteral("not joined"))) {
            clock->jumpWhenAwaited(clock->nowMs() + window);
        }
    };
    NativeSessionFactory factory(jo);
    WallClockServicesRig bench;
    Players players;
    NoWindowSystem windows;
    SimLink sim{bench.services, players, windows};
    QVERIFY(!sim.Join_Session(factory));
    QCOMPARE(bench.boxes.texts(), QStringList{box}); // what the user is shown stays as it was
    QCOMPARE(bench.logLines(), QStringList{line});
}

QTEST_GUILESS_MAIN(TestNativeSession)
#include "tst_nativesession.moc"
