#include "fakes/fakefaultysession.h"
#include "simlink/simcodec.h"
#include "standin/memorysession.h"

#include <QSet>
#include <QTest>

using namespace airmesh;
using Op = FakeSessionFaults::Op;

Q_DECLARE_METATYPE(airmesh::FakeSessionFaults::Op)

namespace {

const QString kFirstGuid = QStringLiteral("{97C62470-5F53-4098-A8BB-7F1F93B94D93}");
const QString kSecondGuid = QStringLiteral("{1F0CB318-F159-432F-8C38-8CE753A03CDA}");

// The result code of the DpError that `f` throws, or 0 when it throws none.
template <typename F> qint32 failureCode(F f) {
    try {
        f();
    } catch (const dp::DpError& e) {
        return e.code();
    }
    return dp::DP_OK;
}

SimMessage headerOnly(SimMsg number) {
    SimMessage m;
    sim::writeHeaderOnly(m, number);
    return m;
}

// A message told apart from others by one number.
SimMessage numbered(qint32 n) {
    SimMessage m;
    m.WriteLong(n);
    return m;
}

// The position of the first provider whose name holds "TCP", 0 when none does.
int tcpProvider(const ConnectionList& providers) {
    for (int i = 1; i <= providers.GetCount(); ++i) {
        if (providers.GetName(i).contains(QStringLiteral("TCP"))) {
            return i;
        }
    }
    return 0;
}

// Finds and opens the first session of `guid` through the TCP provider, as the client joins.
void join(Session& s, const QString& guid) {
    const ConnectionList providers = s.GetDPEnumConnections({}, dpflags::ConnectionsServiceProviders);
    s.InitializeConnection(providers.GetAddress(tcpProvider(providers)));
    SessionData search = s.CreateSessionData();
    search.SetGuidApplication(guid);
    search.SetSessionPassword({});
    s.Open(s.GetDPEnumSessions(search, 0, dpflags::EnumSessionsAll).GetItem(1), dpflags::OpenJoin);
}

// One received message as "from>to hex".
QString line(qint32 from, qint32 to, const SimMessage& m) {
    return QStringLiteral("%1>%2 %3").arg(from).arg(to).arg(QString::fromLatin1(m.bytes().toHex()));
}

// Everything waiting, received in order.
QStringList drain(Session& s) {
    QStringList out;
    const int n = s.GetMessageQueue(0, 0, dpflags::QueueReceive);
    for (int i = 0; i < n; ++i) {
        qint32 from = -1;
        qint32 to = -1;
        const SimMessage m = s.Receive(from, to, dpflags::ReceiveAll);
        out << line(from, to, m);
    }
    return out;
}

// A session-layer notice: its type and the ids it names.
SimMessage notice(dp::SysMsg type, std::initializer_list<qint32> fields = {}) {
    SimMessage m;
    m.WriteLong(static_cast<qint32>(type));
    for (const qint32 f : fields) {
        m.WriteLong(f);
    }
    return m;
}

constexpr qint32 kPlayerType = 1;

// The simulator's session with its own player and both parameter groups, another session under
// the second identifier beside it, and a client joined with its observer.
struct Machine {
    MemoryWorld world;
    QByteArray instance = world.hostSession(kFirstGuid, QStringLiteral("FS session"));
    qint32 host = world.addHostPlayer(instance, QStringLiteral("Skywalker"), QStringLiteral("Luke Skywalker"));
    qint32 requestGroup = world.addGroup(instance, QStringLiteral("FS61_REQUEST_PARAMS"));
    qint32 refuseGroup = world.addGroup(instance, QStringLiteral("FS61_REFUSE_PARAMS"));
    QByteArray otherInstance = world.hostSession(kSecondGuid, QStringLiteral("other"));
    qint32 otherHost = world.addHostPlayer(otherInstance, QStringLiteral("Elsewhere"));
    qint32 otherGroup = world.addGroup(otherInstance, QStringLiteral("FS61_REFUSE_PARAMS"));
    MemorySession client{world};
    qint32 observer = 0;

    Machine() {
        join(client, kFirstGuid);
        observer = client.CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
    }
};

} // namespace

class TestMemorySession : public QObject {
    Q_OBJECT

private slots:
    void providers();
    void sessionsByApplication_data();
    void sessionsByApplication();
    void openRefused();
    void playersAndNames();
    void groupsAndMembership();
    void sendDelivery();
    void sendRefused_data();
    void sendRefused();
    void messagesFromSimulator();
    void sessionNotices();
    void sessionLost();
    void failureInjection_data();
    void failureInjection();
    void destroyPlayer();
    void queueBound();
    void twoClients();
    void waitForMessage();
};

void TestMemorySession::providers() {
    MemoryWorld world;
    MemorySession s(world);
    const ConnectionList list = s.GetDPEnumConnections({}, dpflags::ConnectionsServiceProviders);
    QCOMPARE(list.GetCount(), 3);
    QCOMPARE(tcpProvider(list), 2);
    for (const int outside : {0, 4}) {
        QCOMPARE(failureCode([&] { (void)list.GetName(outside); }), dp::DPERR_INVALIDPARAMS);
        QCOMPARE(failureCode([&] { (void)list.GetAddress(outside); }), dp::DPERR_INVALIDPARAMS);
    }

    // Nothing can be searched before a provider is chosen, and only a listed one can be.
    QCOMPARE(failureCode([&] { (void)s.GetDPEnumSessions({}, 0, dpflags::EnumSessionsAll); }), dp::DPERR_UNINITIALIZED);
    QCOMPARE(failureCode([&] { s.InitializeConnection("Carrier pigeon"); }), dp::DPERR_INVALIDPARAMS);
    s.InitializeConnection(list.GetAddress(2));
    QCOMPARE(failureCode([&] { s.InitializeConnection(list.GetAddress(2)); }), dp::DPERR_ALREADYINITIALIZED);
}

void TestMemorySession::sessionsByApplication_data() {
    QTest::addColumn<QStringList>("hosted"); // application identifiers, session i is named S<i>
    QTest::addColumn<QString>("searched");
    QTest::addColumn<QStringList>("found");

    QTest::newRow("first") << QStringList{kFirstGuid} << kFirstGuid << QStringList{"S1"};
    QTest::newRow("lower case search") << QStringList{kFirstGuid} << kFirstGuid.toLower() << QStringList{"S1"};
    QTest::newRow("lower case host") << QStringList{kFirstGuid.toLower()} << kFirstGuid << QStringList{"S1"};
    QTest::newRow("only the other") << QStringList{kSecondGuid} << kFirstGuid << QStringList{};
    QTest::newRow("both, first") << QStringList{kSecondGuid, kFirstGuid} << kFirstGuid << QStringList{"S2"};
    QTest::newRow("both, second") << QStringList{kFirstGuid, kSecondGuid} << kSecondGuid << QStringList{"S2"};
    QTest::newRow("none") << QStringList{} << kFirstGuid << QStringList{};
    // The join opens the first listed: the list keeps hosting order beyond nine sessions.
    QStringList many{kSecondGuid, kFirstGuid};
    for (int i = 3; i <= 9; ++i) {
        many << kSecondGuid;
    }
    many << kFirstGuid << kFirstGuid;
    QTest::newRow("hosting order") << many << kFirstGuid << QStringList{"S2", "S10", "S11"};
}

void TestMemorySession::sessionsByApplication() {
    QFETCH(QStringList, hosted);
    QFETCH(QString, searched);
    QFETCH(QStringList, found);

    MemoryWorld world;
    QHash<QString, QByteArray> instances;
    for (int i = 0; i < hosted.size(); ++i) {
        const QString name = QStringLiteral("S%1").arg(i + 1);
        instances.insert(name, world.hostSession(hosted[i], name));
    }
    MemorySession s(world);
    const ConnectionList providers = s.GetDPEnumConnections({}, dpflags::ConnectionsServiceProviders);
    s.InitializeConnection(providers.GetAddress(tcpProvider(providers)));
    SessionData search = s.CreateSessionData();
    search.SetGuidApplication(searched);
    const SessionList list = s.GetDPEnumSessions(search, 0, dpflags::EnumSessionsAll);

    QStringList names;
    for (int i = 1; i <= list.GetCount(); ++i) {
        names << list.GetItem(i).GetSessionName();
    }
    QCOMPARE(names, found);
    QVERIFY(failureCode([&] { (void)list.GetItem(list.GetCount() + 1); }) != dp::DP_OK);
    if (found.isEmpty()) {
        // Nothing hosted under this identifier: a code the join does not report by name, so
        // that it goes on to the other identifier.
        const qint32 code = failureCode([&] { (void)list.GetItem(1); });
        QVERIFY(code != dp::DP_OK);
        QVERIFY(dp::joinErrorName(code).isEmpty());
    } else {
        s.Open(list.GetItem(1), dpflags::OpenJoin);
        QCOMPARE(s.openSession(), instances.value(found.first()));
    }
}

void TestMemorySession::openRefused() {
    MemoryWorld world;
    const QByteArray locked = world.hostSession(kFirstGuid, QStringLiteral("locked"), QStringLiteral("secret"));
    const QByteArray full = world.hostSession(kSecondGuid, QStringLiteral("full"), {}, 1);
    world.addHostPlayer(full, QStringLiteral("Only one"));

    MemorySession s(world);
    SessionData lockedSession;
    lockedSession.setInstance(locked);
    QCOMPARE(failureCode([&] { s.Open(lockedSession, dpflags::OpenJoin); }), dp::DPERR_UNINITIALIZED);
    s.InitializeConnection(s.GetDPEnumConnections({}, 1).GetAddress(2));
    QCOMPARE(failureCode([&] { s.Open(lockedSession, dpflags::OpenJoin); }), dp::DPERR_INVALIDPASSWORD);

    SessionData fullSession;
    fullSession.setInstance(full);
    QCOMPARE(failureCode([&] { s.Open(fullSession, dpflags::OpenJoin); }), dp::DPERR_NONEWPLAYERS);

    world.endSession(full);
    QCOMPARE(failureCode([&] { s.Open(fullSession, dpflags::OpenJoin); }), dp::DPERR_NOSESSIONS);
    QCOMPARE(failureCode([&] { (void)s.CreatePlayer("Airmesh", "Airmesh Observer", 0, 0); }), dp::DPERR_NOCONNECTION);

    lockedSession.SetSessionPassword(QStringLiteral("secret"));
    s.Open(lockedSession, dpflags::OpenJoin);
    QCOMPARE(s.openSession(), locked);
    QCOMPARE(failureCode([&] { s.Open(lockedSession, dpflags::OpenJoin); }), dp::DPERR_ALREADYINITIALIZED);
}

void TestMemorySession::playersAndNames() {
    Machine m;
    const qint32 remote = m.client.CreatePlayer("Maverick", "Maverick Maverick", 0, 0);
    QCOMPARE(m.world.playersIn(m.instance), (QList<qint32>{m.host, m.observer, remote}));
    QCOMPARE(m.world.playerFormalName(m.observer), QString("Airmesh Observer"));
    QCOMPARE(m.world.playerFormalName(remote), QString("Maverick Maverick"));

    QCOMPARE(m.client.GetPlayerFriendlyName(m.host), QString("Skywalker"));
    QCOMPARE(m.client.GetPlayerFriendlyName(m.observer), QString("Airmesh"));
    QCOMPARE(m.client.GetPlayerFriendlyName(remote), QString("Maverick"));
    QCOMPARE(failureCode([&] { (void)m.client.GetPlayerFriendlyName(0); }), dp::DPERR_INVALIDPLAYER);
    QCOMPARE(failureCode([&] { (void)m.client.GetPlayerFriendlyName(m.otherHost); }), dp::DPERR_INVALIDPLAYER);
    QCOMPARE(failureCode([&] { (void)m.client.GetPlayerFriendlyName(m.requestGroup); }), dp::DPERR_INVALIDPLAYER);

    // Ids are never 0 (everybody / the session layer) and never shared with players or groups.
    QSet<qint32> ids{m.host, m.observer, remote, m.requestGroup, m.refuseGroup, m.otherHost, m.otherGroup};
    QCOMPARE(ids.size(), 7);
    for (int i = 0; i < 200; ++i) {
        ids.insert(m.client.CreatePlayer(QStringLiteral("P%1").arg(i), {}, 0, 0));
    }
    QCOMPARE(ids.size(), 207);
    QVERIFY(!ids.contains(0));
}

void TestMemorySession::groupsAndMembership() {
    Machine m;
    const GroupList groups = m.client.GetDPEnumGroups(kFirstGuid, 0);
    QCOMPARE(groups.GetCount(), 2);
    QCOMPARE(groups.GetName(1), QString("FS61_REQUEST_PARAMS"));
    QCOMPARE(groups.GetItem(1), m.requestGroup);
    QCOMPARE(groups.GetName(2), QString("FS61_REFUSE_PARAMS"));
    QCOMPARE(groups.GetItem(2), m.refuseGroup);
    for (const int outside : {0, 3}) {
        QCOMPARE(failureCode([&] { (void)groups.GetName(outside); }), dp::DPERR_INVALIDPARAMS);
        QCOMPARE(failureCode([&] { (void)groups.GetItem(outside); }), dp::DPERR_INVALIDPARAMS);
    }

    m.client.AddPlayerToGroup(m.refuseGroup, m.observer);
    m.client.AddPlayerToGroup(m.refuseGroup, m.observer);
    QCOMPARE(m.world.groupMembers(m.refuseGroup), QList<qint32>{m.observer});
    QVERIFY(m.world.groupMembers(m.requestGroup).isEmpty());

    // Groups and players outside our session are refused and change nothing.
    QCOMPARE(failureCode([&] { m.client.AddPlayerToGroup(m.otherGroup, m.observer); }), dp::DPERR_INVALIDGROUP);
    QCOMPARE(failureCode([&] { m.client.AddPlayerToGroup(12345, m.observer); }), dp::DPERR_INVALIDGROUP);
    QCOMPARE(failureCode([&] { m.client.AddPlayerToGroup(m.requestGroup, 12345); }), dp::DPERR_INVALIDPLAYER);
    QCOMPARE(failureCode([&] { m.client.AddPlayerToGroup(m.requestGroup, m.otherHost); }), dp::DPERR_INVALIDPLAYER);
    QVERIFY(m.world.groupMembers(m.otherGroup).isEmpty());
    QVERIFY(m.world.groupMembers(m.requestGroup).isEmpty());
}

void TestMemorySession::sendDelivery() {
    Machine m;
    (void)m.world.addHostPlayer(m.instance, QStringLiteral("Second seat"));
    const qint32 remote = m.client.CreatePlayer("Maverick", "Maverick Maverick", 0, 0);
    (void)drain(m.client);

    // The simulator accepts the observer at once, from its own player.
    const SimMessage accepted = headerOnly(SimMsg::ObserverJoinAccepted);
    int calls = 0;
    m.world.onSendToHost = [&](const MemoryWorld::Sent& sent) {
        ++calls;
        m.world.sendFromHost(m.host, sent.from, accepted);
    };
    const SimMessage request = headerOnly(SimMsg::ObserverJoinRequest);
    m.client.Send(m.observer, dpflags::AllPlayers, 0, request);

    // The simulator side sees it once, however many of its players there are. Our other player
    // gets it, the sender does not, and the answer is waiting already.
    QCOMPARE(calls, 1);
    const QList<MemoryWorld::Sent> toHost = m.world.takeSentToHost();
    QCOMPARE(toHost.size(), 1);
    QCOMPARE(toHost.front().from, m.observer);
    QCOMPARE(toHost.front().to, dpflags::AllPlayers);
    QCOMPARE(toHost.front().bytes, request.bytes());
    QCOMPARE(drain(m.client), (QStringList{line(m.observer, remote, request), line(m.host, m.observer, accepted)}));

    // To one player: only that one.
    const SimMessage query = headerOnly(SimMsg::QueryPlane);
    m.client.Send(m.observer, m.host, 0, query);
    QCOMPARE(m.world.takeSentToHost().front().to, m.host);
    QCOMPARE(drain(m.client), QStringList{line(m.host, m.observer, accepted)});
    m.world.onSendToHost = nullptr;
    m.client.Send(remote, m.observer, 0, query);
    QVERIFY(m.world.sentToHost().isEmpty());
    QCOMPARE(drain(m.client), QStringList{line(remote, m.observer, query)});
}

void TestMemorySession::sendRefused_data() {
    QTest::addColumn<int>("fromWhom"); // 0 our observer, 1 the simulator's player, 2 an unknown id, 3 id 0
    QTest::addColumn<int>("toWhom");   // 0 everybody, 1 the simulator's player, 2 unknown, 3 other session
    QTest::newRow("to an unknown id") << 0 << 2;
    QTest::newRow("to a player of another session") << 0 << 3;
    QTest::newRow("from the simulator's player") << 1 << 0;
    QTest::newRow("from an unknown id") << 2 << 1;
    QTest::newRow("from everybody") << 3 << 1;
}

// A refused send reaches nobody.
void TestMemorySession::sendRefused() {
    QFETCH(int, fromWhom);
    QFETCH(int, toWhom);
    Machine m;
    const qint32 remote = m.client.CreatePlayer("Maverick", "Maverick Maverick", 0, 0);
    (void)drain(m.client);
    const QList<qint32> senders{m.observer, m.host, 0x5151, dpflags::AllPlayers};
    const QList<qint32> receivers{dpflags::AllPlayers, m.host, 0x5151, m.otherHost};
    int calls = 0;
    m.world.onSendToHost = [&](const MemoryWorld::Sent&) { ++calls; };

    QCOMPARE(failureCode([&] { m.client.Send(senders[fromWhom], receivers[toWhom], 0, numbered(1)); }),
             dp::DPERR_INVALIDPLAYER);
    QCOMPARE(calls, 0);
    QVERIFY(m.world.sentToHost().isEmpty());
    QCOMPARE(m.client.GetMessageQueue(0, 0, dpflags::QueueReceive), 0);
    QVERIFY(m.world.playerExists(remote));
}

void TestMemorySession::messagesFromSimulator() {
    Machine m;
    const qint32 remote = m.client.CreatePlayer("Maverick", "Maverick Maverick", 0, 0);
    qint32 from = 0;
    qint32 to = 0;
    QCOMPARE(m.client.GetMessageQueue(0, 0, dpflags::QueueReceive), 0);
    QCOMPARE(failureCode([&] { (void)m.client.Receive(from, to, dpflags::ReceiveAll); }), dp::DPERR_NOMESSAGES);

    SimMessage details;
    sim::writeAircraftDetails(details, 1, QStringLiteral("Learjet 45"));
    const SimMessage query = headerOnly(SimMsg::PlayerQuery);
    m.world.sendFromHost(m.host, dpflags::AllPlayers, query);
    m.world.sendFromHost(m.host, m.observer, details);
    m.world.sendFromHost(m.host, remote, numbered(3));

    int bytes = -1;
    QCOMPARE(m.client.GetMessageQueue(0, 0, dpflags::QueueReceive, &bytes), 4);
    QCOMPARE(bytes, 8 + 8 + int(details.size()) + 4);
    // In order, each copy of a message to everybody naming the player that received it.
    QCOMPARE(drain(m.client), (QStringList{line(m.host, m.observer, query), line(m.host, remote, query),
                                           line(m.host, m.observer, details), line(m.host, remote, numbered(3))}));
    QCOMPARE(m.client.GetMessageQueue(0, 0, dpflags::QueueReceive, &bytes), 0);
    QCOMPARE(bytes, 0);
    QCOMPARE(failureCode([&] { (void)m.client.Receive(from, to, dpflags::ReceiveAll); }), dp::DPERR_NOMESSAGES);
}

void TestMemorySession::sessionNotices() {
    Machine m;
    // Our own players are not announced to us.
    QCOMPARE(m.client.GetMessageQueue(0, 0, dpflags::QueueReceive), 0);

    const qint32 joined = m.world.addHostPlayer(m.instance, QStringLiteral("Goose"));
    (void)m.world.addHostPlayer(m.otherInstance, QStringLiteral("Not ours"));
    m.world.postSystemMessage(m.instance, notice(dp::SysMsg::Host));
    m.world.postSystemMessage(m.otherInstance, notice(dp::SysMsg::SetSessionDesc));
    QCOMPARE(drain(m.client), (QStringList{line(0, 0, notice(dp::SysMsg::CreatePlayerOrGroup, {kPlayerType, joined})),
                                           line(0, 0, notice(dp::SysMsg::Host))}));
}

void TestMemorySession::sessionLost() {
    Machine m;
    MemorySession second(m.world);
    join(second, kFirstGuid);
    (void)second.CreatePlayer("Second", {}, 0, 0);
    (void)drain(m.client);
    m.world.sendFromHost(m.host, m.observer, numbered(7));
    (void)drain(second);

    m.world.endSession(m.instance);
    // What waited before, then the notice: both can still be read although the session is gone.
    QCOMPARE(drain(m.client),
             (QStringList{line(m.host, m.observer, numbered(7)), line(0, 0, notice(dp::SysMsg::SessionLost))}));
    QCOMPARE(failureCode([&] { m.client.Send(m.observer, 0, 0, numbered(1)); }), dp::DPERR_NOCONNECTION);
    QVERIFY(!m.world.playerExists(m.observer));
    QVERIFY(!m.world.playerExists(m.host));

    // Leaving a session that is gone tells nobody anything.
    second.Close();
    QCOMPARE(drain(m.client), QStringList{});
    SessionData search;
    search.SetGuidApplication(kFirstGuid);
    QCOMPARE(m.client.GetDPEnumSessions(search, 0, dpflags::EnumSessionsAll).GetCount(), 0);
    m.client.Close();
    QCOMPARE(failureCode([&] { (void)m.client.GetMessageQueue(0, 0, dpflags::QueueReceive); }), dp::DPERR_NOCONNECTION);
}

void TestMemorySession::failureInjection_data() {
    QTest::addColumn<Op>("op");
    QTest::addColumn<qint32>("code");
    QTest::addColumn<int>("times");

    QTest::newRow("Create once") << Op::Create << dp::DPERR_CANTLOADSSPI << 1;
    QTest::newRow("EnumConnections once") << Op::EnumConnections << dp::DPERR_USERCANCEL << 1;
    QTest::newRow("InitializeConnection twice") << Op::InitializeConnection << dp::DPERR_ALREADYINITIALIZED << 2;
    QTest::newRow("EnumSessions once") << Op::EnumSessions << dp::DPERR_TIMEOUT << 1;
    QTest::newRow("Open, any code, three times") << Op::Open << qint32(12345) << 3;
    QTest::newRow("Close once") << Op::Close << dp::DPERR_GENERIC << 1;
    QTest::newRow("GetSessionDesc once") << Op::GetSessionDesc << dp::DPERR_SESSIONLOST << 1;
    QTest::newRow("CreatePlayer twice") << Op::CreatePlayer << dp::DPERR_CANTCREATEPLAYER << 2;
    QTest::newRow("DestroyPlayer once") << Op::DestroyPlayer << dp::DPERR_ACCESSDENIED << 1;
    QTest::newRow("EnumGroups always") << Op::EnumGroups << dp::DPERR_INVALIDPARAMS << -1;
    QTest::newRow("AddPlayerToGroup once") << Op::AddPlayerToGroup << dp::DPERR_INVALIDGROUP << 1;
    QTest::newRow("GetPlayerFriendlyName always") << Op::GetPlayerFriendlyName << dp::DPERR_INVALIDPLAYER << -1;
    QTest::newRow("Send twice") << Op::Send << dp::DPERR_SENDTOOBIG << 2;
    QTest::newRow("GetMessageQueue always") << Op::GetMessageQueue << dp::DPERR_CONNECTIONLOST << -1;
    QTest::newRow("Receive once") << Op::Receive << dp::DPERR_SESSIONLOST << 1;
    QTest::newRow("Send zero times") << Op::Send << dp::DPERR_GENERIC << 0;
}

void TestMemorySession::failureInjection() {
    QFETCH(Op, op);
    QFETCH(qint32, code);
    QFETCH(int, times);
    Machine m;
    // A second client on the same machine, made through the failures.
    FakeSessionFaults faults;
    FakeFaultySessionFactory sessions(m.world, faults);
    const std::unique_ptr<Session> client = sessions.DirectPlayCreate(QString());
    join(*client, kFirstGuid);
    const qint32 observer = client->CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
    SessionData search;
    search.SetGuidApplication(kFirstGuid);
    const SessionData item = client->GetDPEnumSessions(search, 0, dpflags::EnumSessionsAll).GetItem(1);
    const QByteArray tcp = client->GetDPEnumConnections({}, 1).GetAddress(2);

    // One call of the operation, made so that it succeeds when nothing is injected.
    const auto call = [&] {
        switch (op) {
        case Op::Create:
            (void)sessions.DirectPlayCreate(QString());
            break;
        case Op::EnumConnections:
            (void)client->GetDPEnumConnections({}, 1);
            break;
        case Op::InitializeConnection:
            FakeFaultySession(faults, std::make_unique<MemorySession>(m.world)).InitializeConnection(tcp);
            break;
        case Op::EnumSessions:
            (void)client->GetDPEnumSessions(search, 0, dpflags::EnumSessionsAll);
            break;
        case Op::Open: {
            FakeFaultySession s(faults, std::make_unique<MemorySession>(m.world));
            s.InitializeConnection(tcp);
            s.Open(item, dpflags::OpenJoin);
            break;
        }
        case Op::Close:
            FakeFaultySession(faults, std::make_unique<MemorySession>(m.world)).Close();
            break;
        case Op::GetSessionDesc:
            (void)client->GetSessionDesc();
            break;
        case Op::CreatePlayer:
            (void)client->CreatePlayer("Extra", {}, 0, 0);
            break;
        case Op::DestroyPlayer:
            client->DestroyPlayer(client->CreatePlayer("Short-lived", {}, 0, 0));
            break;
        case Op::EnumGroups:
            (void)client->GetDPEnumGroups(kFirstGuid, 0);
            break;
        case Op::AddPlayerToGroup:
            client->AddPlayerToGroup(m.refuseGroup, observer);
            break;
        case Op::GetPlayerFriendlyName:
            (void)client->GetPlayerFriendlyName(m.host);
            break;
        case Op::Send:
            client->Send(observer, m.host, 0, numbered(1));
            break;
        case Op::GetMessageQueue:
            (void)client->GetMessageQueue(0, 0, dpflags::QueueReceive);
            break;
        case Op::Receive: {
            m.world.sendFromHost(m.host, observer, numbered(2));
            qint32 from = 0;
            qint32 to = 0;
            (void)client->Receive(from, to, dpflags::ReceiveAll);
            break;
        }
        }
    };

    faults.failOperation(op, code, times);
    const int failing = times < 0 ? 5 : times;
    for (int i = 0; i < failing; ++i) {
        QCOMPARE(failureCode(call), code);
    }
    if (times < 0) {
        faults.clearFailures();
    }
    QCOMPARE(failureCode(call), dp::DP_OK);
    QCOMPARE(failureCode(call), dp::DP_OK);
}

void TestMemorySession::destroyPlayer() {
    Machine m;
    const qint32 remote = m.client.CreatePlayer("Maverick", "Maverick Maverick", 0, 0);
    m.client.AddPlayerToGroup(m.requestGroup, remote);
    MemorySession second(m.world);
    join(second, kFirstGuid);
    const qint32 theirs = second.CreatePlayer("Theirs", {}, 0, 0);
    (void)drain(m.client);
    (void)drain(second);

    // Players that are not ours stay where they are.
    QCOMPARE(failureCode([&] { m.client.DestroyPlayer(m.host); }), dp::DPERR_ACCESSDENIED);
    QCOMPARE(failureCode([&] { m.client.DestroyPlayer(theirs); }), dp::DPERR_ACCESSDENIED);
    QCOMPARE(failureCode([&] { m.client.DestroyPlayer(0x5151); }), dp::DPERR_INVALIDPLAYER);
    QVERIFY(m.world.playerExists(m.host));
    QVERIFY(m.world.playerExists(theirs));

    // Messages already waiting for the destroyed player go with it; the observer's stay.
    m.world.sendFromHost(m.host, remote, numbered(1));
    m.world.sendFromHost(m.host, m.observer, numbered(2));
    m.client.DestroyPlayer(remote);
    QVERIFY(!m.world.playerExists(remote));
    QVERIFY(m.world.groupMembers(m.requestGroup).isEmpty());
    QCOMPARE(drain(m.client), QStringList{line(m.host, m.observer, numbered(2))});
    QCOMPARE(drain(second), QStringList{line(0, 0, notice(dp::SysMsg::DestroyPlayerOrGroup, {kPlayerType, remote}))});
    QCOMPARE(failureCode([&] { m.client.DestroyPlayer(remote); }), dp::DPERR_INVALIDPLAYER);
    QCOMPARE(failureCode([&] { m.client.Send(remote, 0, 0, numbered(3)); }), dp::DPERR_INVALIDPLAYER);
    QCOMPARE(failureCode([&] { (void)m.client.GetPlayerFriendlyName(remote); }), dp::DPERR_INVALIDPLAYER);
}

void TestMemorySession::queueBound() {
    Machine m;
    const int limit = MemoryWorld::kMaxQueuedMessages;
    for (int i = 0; i < limit + 3; ++i) {
        m.world.sendFromHost(m.host, m.observer, numbered(i));
    }
    QCOMPARE(m.client.GetMessageQueue(0, 0, dpflags::QueueReceive), limit);
    QCOMPARE(m.world.droppedMessages(), 3);

    // The oldest are kept; once one is taken, the next fits again.
    qint32 from = 0;
    qint32 to = 0;
    QCOMPARE(m.client.Receive(from, to, dpflags::ReceiveAll), numbered(0));
    m.world.sendFromHost(m.host, m.observer, numbered(-1));
    m.world.sendFromHost(m.host, m.observer, numbered(-2));
    QCOMPARE(m.client.GetMessageQueue(0, 0, dpflags::QueueReceive), limit);
    QCOMPARE(m.world.droppedMessages(), 4);
    const QStringList rest = drain(m.client);
    QCOMPARE(rest.size(), limit);
    QCOMPARE(rest.at(limit - 2), line(m.host, m.observer, numbered(limit - 1)));
    QCOMPARE(rest.last(), line(m.host, m.observer, numbered(-1)));
}

void TestMemorySession::twoClients() {
    Machine m;
    MemorySession second(m.world);
    join(second, kFirstGuid);
    const qint32 theirs = second.CreatePlayer("Iceman", "Iceman Iceman", 0, 0);

    // Each sees the other's players, and their coming and going.
    QCOMPARE(drain(m.client), QStringList{line(0, 0, notice(dp::SysMsg::CreatePlayerOrGroup, {kPlayerType, theirs}))});
    QCOMPARE(m.client.GetPlayerFriendlyName(theirs), QString("Iceman"));
    QCOMPARE(second.GetPlayerFriendlyName(m.observer), QString("Airmesh"));
    second.AddPlayerToGroup(m.requestGroup, theirs);
    QCOMPARE(drain(m.client), QStringList{line(0, 0, notice(dp::SysMsg::AddPlayerToGroup, {m.requestGroup, theirs}))});

    m.client.Send(m.observer, dpflags::AllPlayers, 0, numbered(1));
    second.Send(theirs, m.observer, 0, numbered(2));
    QCOMPARE(drain(second), QStringList{line(m.observer, theirs, numbered(1))});
    QCOMPARE(drain(m.client), QStringList{line(theirs, m.observer, numbered(2))});
    QCOMPARE(m.world.sentToHost().size(), 1);

    second.Close();
    QVERIFY(!m.world.playerExists(theirs));
    QVERIFY(m.world.groupMembers(m.requestGroup).isEmpty());
    QCOMPARE(drain(m.client), QStringList{line(0, 0, notice(dp::SysMsg::DestroyPlayerOrGroup, {kPlayerType, theirs}))});
    QCOMPARE(failureCode([&] { m.client.Send(m.observer, theirs, 0, numbered(3)); }), dp::DPERR_INVALIDPLAYER);

    // A client that goes away without closing leaves the session all the same.
    {
        MemorySession third(m.world);
        join(third, kFirstGuid);
        (void)third.CreatePlayer("Brief", {}, 0, 0);
    }
    QCOMPARE(m.world.playersIn(m.instance), (QList<qint32>{m.host, m.observer}));
}

void TestMemorySession::waitForMessage() {
    Machine m;
    // Without a hook nothing happens and the wait returns.
    m.client.waitForMessage(100);

    QList<int> waits;
    m.world.onWait = [&](int maxMs) {
        waits << maxMs;
        if (waits.size() == 2) {
            m.world.sendFromHost(m.host, m.observer, numbered(5));
        }
    };
    m.client.waitForMessage(40);
    m.client.waitForMessage(60);
    QCOMPARE(waits, (QList<int>{40, 60}));
    // Something waits now, and a wait for nothing at all is no wait: neither reaches the hook.
    m.client.waitForMessage(100);
    (void)drain(m.client);
    m.client.waitForMessage(0);
    QCOMPARE(waits, (QList<int>{40, 60}));
    m.client.waitForMessage(1);
    QCOMPARE(waits, (QList<int>{40, 60, 1}));
}

QTEST_GUILESS_MAIN(TestMemorySession)
#include "tst_memorysession.moc"
