#include "fakes/fakefaultysession.h"
#include "fakes/joinedclient.h"
#include "fakes/servicesrig.h"
#include "simlink/simcodec.h"
#include "simlink/simlink.h"
#include "standin/memorysession.h"

#include <QTest>

using namespace airmesh;
using Op = FakeSessionFaults::Op;

namespace {

const QString kFirst = SimLink::kFirstAppGuid;
const QString kSecond = SimLink::kSecondAppGuid;
const QString kRequestGroup = QStringLiteral("FS61_REQUEST_PARAMS");
const QString kRefuseGroup = QStringLiteral("FS61_REFUSE_PARAMS");
const QString kError = QStringLiteral("ERROR");
const QString kNoAnswer = QStringLiteral("FS Didn't respond to our attempts to join");
const QString kRefused =
    QStringLiteral("FS refused a connection as an observer, have you allocated enough Observer slots on your game?");
const QString kFailedToConnect =
    QStringLiteral("Failed to connect are you sure that FS is running and you have hosted a local session?");
const QString kSearchFailed = QStringLiteral(
    "Couldn't find anything at that address, Closing down. Are you sure you entered the name localhost?");

constexpr qint32 kRequest = 4098;
constexpr qint32 kRetry = 4105;
constexpr qint32 kAccepted = 4100;
constexpr qint32 kRefusal = 4102;
constexpr qint32 kQueryPlane = 4111;
// A code no table names, as the session layer may report from a failing search.
constexpr qint32 kUnlisted = dp::hr(0x887A0010);
// What a Close made to fail reports, so a test can tell whether the join closed the session.
constexpr qint32 kCloseMarker = dp::hr(0x80004321);

using Box = FakeMessageBoxes::Box;

SimMessage numbered(qint32 n) {
    SimMessage m;
    m.WriteLong(n);
    m.WriteLong(0);
    return m;
}

qint32 numberOf(const QByteArray& bytes) {
    SimMessage m(bytes);
    return m.size() >= 4 ? m.ReadLong() : -1;
}

// Who sends one message of a batch that FS puts in the queue.
enum class From { Host, OtherPlayer, System };

struct Answer {
    From from = From::Host;
    QByteArray bytes;
};
using Batch = QList<Answer>;

Answer answer(From from, qint32 number) {
    return {from, numbered(number).bytes()};
}

// One FS: a hosted session with the user's own player, a second player and the groups.
struct HostedFs {
    QByteArray instance;
    qint32 host = 0;
    qint32 other = 0;
    QList<qint32> groups;
};

// The user's machine: FS hosting its session, answering the observer's join requests as the
// test scripts it, and a client about to join. Time is a manual clock that moves only while the
// client waits for a message.
struct Machine : ServicesRig {
    MemoryWorld world;
    FakeSessionFaults faults;
    QList<HostedFs> hosted;

    Players players;
    NoWindowSystem windows;
    SimLink link{services, players, windows};
    FakeFaultySessionFactory factory{world, faults};

    // The script: FS answers the request with this number (0: none) after `answerDelayMs`.
    qint32 answerTo = kRequest;
    qint64 answerDelayMs = 0;
    Batch batch{answer(From::Host, kAccepted)};

    struct Request {
        qint32 number = 0;
        qint32 from = 0;
        qint32 to = 0;
        QByteArray bytes;
        qint64 atMs = 0; // since the join started
    };
    QList<Request> requests;
    QList<int> waits;
    bool eventsRan = false; // an event posted before the join ran before it ended
    QObject eventContext;   // its queued call goes with the machine
    QDateTime started;

    explicit Machine(const QStringList& guids = {kFirst}, const QStringList& groups = {kRequestGroup, kRefuseGroup}) {
        for (const QString& guid : guids) {
            HostedFs fs;
            fs.instance = world.hostSession(guid);
            fs.host = world.addHostPlayer(fs.instance, QStringLiteral("Skywalker"), QStringLiteral("Luke Skywalker"));
            fs.other = world.addHostPlayer(fs.instance, QStringLiteral("Goose"));
            for (const QString& g : groups) {
                fs.groups << world.addGroup(fs.instance, g);
            }
            hosted << fs;
        }
        world.onSendToHost = [this](const MemoryWorld::Sent& sent) {
            const qint32 number = numberOf(sent.bytes);
            requests << Request{number, sent.from, sent.to, sent.bytes, elapsedMs()};
            if (number == answerTo && answerTo != 0) {
                pending << Pending{elapsedMs() + answerDelayMs, sent.from};
                deliverDue();
            }
        };
        world.onWait = [this](int maxMs) {
            waits << maxMs;
            clock.advanceMs(maxMs);
            deliverDue();
        };
    }

    bool join() {
        started = clock.now();
        QMetaObject::invokeMethod(
            &eventContext, [this] { eventsRan = true; }, Qt::QueuedConnection);
        return link.Join_Session(factory).has_value();
    }
    qint64 elapsedMs() const { return started.msecsTo(clock.now()); }

    // The hosted FS whose session holds `player`.
    const HostedFs* fsOf(qint32 player) const {
        for (const HostedFs& fs : hosted) {
            if (world.playersIn(fs.instance).contains(player)) {
                return &fs;
            }
        }
        return nullptr;
    }
    const HostedFs* joinedFs() const { return link.objDP() ? fsOf(link.lngMyPlayerID()) : nullptr; }

    QList<qint32> requestNumbers() const {
        QList<qint32> out;
        for (const Request& r : requests) {
            out << r.number;
        }
        return out;
    }

    // Whether the join closed its session: a Close made to fail beforehand has been used up.
    void markClose() { faults.failOperation(Op::Close, kCloseMarker, 1); }
    bool closeWasCalled() {
        const std::unique_ptr<Session> probe = factory.DirectPlayCreate(QString());
        try {
            probe->Close();
        } catch (const dp::DpError& e) {
            return e.code() != kCloseMarker;
        }
        return true;
    }

private:
    struct Pending {
        qint64 dueMs = 0;
        qint32 observer = 0;
    };
    void deliverDue() {
        while (!pending.isEmpty() && pending.first().dueMs <= elapsedMs()) {
            const Pending p = pending.takeFirst();
            const HostedFs* fs = fsOf(p.observer);
            if (!fs) {
                continue;
            }
            for (const Answer& a : std::as_const(batch)) {
                switch (a.from) {
                case From::Host:
                    world.sendFromHost(fs->host, p.observer, SimMessage(a.bytes));
                    break;
                case From::OtherPlayer:
                    world.sendFromHost(fs->other, p.observer, SimMessage(a.bytes));
                    break;
                case From::System:
                    world.postSystemMessage(fs->instance, SimMessage(a.bytes));
                    break;
                }
            }
        }
    }
    QList<Pending> pending;
};

} // namespace

Q_DECLARE_METATYPE(Batch)
Q_DECLARE_METATYPE(airmesh::FakeSessionFaults::Op)

class TestJoin : public QObject {
    Q_OBJECT

private slots:
    void joins_data();
    void joins();
    void answerPeriods_data();
    void answerPeriods();
    void answerBatches_data();
    void answerBatches();
    void sessionSearch_data();
    void sessionSearch();
    void providers_data();
    void providers();
    void orderlyStops_data();
    void orderlyStops();
    void sessionLayerMissing();
    void parameterGroups_data();
    void parameterGroups();
};

void TestJoin::joins_data() {
    QTest::addColumn<QStringList>("guids");
    QTest::addColumn<int>("joinedFs");
    QTest::addColumn<bool>("altGuid");

    QTest::newRow("first identifier") << QStringList{kFirst} << 0 << false;
    QTest::newRow("second identifier") << QStringList{kSecond} << 0 << true;
    // The second identifier's session is listed first in the machine, the first identifier wins.
    QTest::newRow("both identifiers") << QStringList{kSecond, kFirst} << 1 << false;
}

void TestJoin::joins() {
    QFETCH(QStringList, guids);
    QFETCH(int, joinedFs);
    QFETCH(bool, altGuid);

    Machine m(guids);
    QVERIFY(m.join());
    QCOMPARE(m.boxes.shown, QList<Box>{});
    QVERIFY(!m.eventsRan); // the join polls without letting events run

    const HostedFs& fs = m.hosted.at(joinedFs);
    QVERIFY(m.link.objDP());
    QCOMPARE(static_cast<MemorySession&>(static_cast<FakeFaultySession&>(*m.link.objDP()).inner()).openSession(),
             fs.instance);
    QCOMPARE(m.link.blnAltGuid(), altGuid);
    QCOMPARE(m.link.strAppGuid(), guids.at(joinedFs));

    const qint32 observer = m.link.lngMyPlayerID();
    QVERIFY(m.world.playersIn(fs.instance).contains(observer));
    QCOMPARE(m.world.playerFriendlyName(observer), QStringLiteral("Airmesh"));
    QCOMPARE(m.world.playerFormalName(observer), QStringLiteral("Airmesh Observer"));
    QCOMPARE(m.link.lngHostPlayerID(), fs.host);
    QCOMPARE(m.link.strHandle(), QStringLiteral("Skywalker"));

    // The join request goes to everybody, the aircraft query to the user's own player alone;
    // both are bare headers.
    QCOMPARE(m.requests.size(), 2);
    QCOMPARE(m.requests[0].from, observer);
    QCOMPARE(m.requests[0].to, dpflags::AllPlayers);
    QCOMPARE(m.requests[0].bytes, QByteArray::fromHex("0210000000000000"));
    QCOMPARE(m.requests[1].from, observer);
    QCOMPARE(m.requests[1].to, fs.host);
    QCOMPARE(m.requests[1].bytes, QByteArray::fromHex("0f10000000000000"));
    QCOMPARE(m.link.objDPMsg().bytes(), m.requests[1].bytes);

    QCOMPARE(m.link.intRequestParamsGroup(), 1);
    QCOMPARE(m.link.intRefuseParamsGroup(), 2);
    QCOMPARE(m.world.groupMembers(fs.groups[1]), QList<qint32>{observer});
    QVERIFY(m.world.groupMembers(fs.groups[0]).isEmpty());
}

void TestJoin::answerPeriods_data() {
    QTest::addColumn<int>("startMs"); // where in its second the clock stands when the join starts
    QTest::addColumn<int>("answerTo");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("joined");
    QTest::addColumn<QList<qint32>>("requests");
    QTest::addColumn<int>("retryAtMs"); // -1: no retry
    QTest::addColumn<int>("endMs");

    const QList<qint32> once{kRequest, kQueryPlane};
    const QList<qint32> twice{kRequest, kRetry, kQueryPlane};
    const QList<qint32> unanswered{kRequest, kRetry};
    QTest::newRow("answered at once") << 0 << kRequest << 0 << true << once << -1 << 0;
    QTest::newRow("answered late in the first period") << 0 << kRequest << 14900 << true << once << -1 << 14900;
    // Arrives as the first period runs out: it is not lost but read in the second.
    QTest::newRow("answer arriving as the period ends") << 0 << kRequest << 15000 << true << twice << 15000 << 15000;
    QTest::newRow("only the retry answered") << 0 << kRetry << 0 << true << twice << 15000 << 15000;
    QTest::newRow("retry answered late") << 0 << kRetry << 14900 << true << twice << 15000 << 29900;
    // Whole seconds on the clock: started at hh:mm:ss.900, fifteen of them have passed 14.1 s on.
    QTest::newRow("whole seconds") << 900 << kRetry << 0 << true << twice << 14100 << 14100;
    QTest::newRow("never answered") << 0 << 0 << 0 << false << unanswered << 15000 << 30000;
    QTest::newRow("never answered, late start") << 900 << 0 << 0 << false << unanswered << 14100 << 29100;
    QTest::newRow("retry answered too late") << 0 << kRetry << 15000 << false << unanswered << 15000 << 30000;
}

void TestJoin::answerPeriods() {
    QFETCH(int, startMs);
    QFETCH(int, answerTo);
    QFETCH(int, delayMs);
    QFETCH(bool, joined);
    QFETCH(QList<qint32>, requests);
    QFETCH(int, retryAtMs);
    QFETCH(int, endMs);

    Machine m;
    m.clock.advanceMs(startMs);
    m.answerTo = answerTo;
    m.answerDelayMs = delayMs;
    if (!joined) {
        m.markClose();
    }
    QCOMPARE(m.join(), joined);
    QCOMPARE(m.requestNumbers(), requests);
    QCOMPARE(m.elapsedMs(), qint64(endMs));
    if (retryAtMs >= 0) {
        QCOMPARE(m.requests[1].atMs, qint64(retryAtMs));
        QCOMPARE(m.requests[1].to, dpflags::AllPlayers);
        QCOMPARE(m.requests[1].bytes, QByteArray::fromHex("0910000000000000"));
    }
    // The client slept between looks at the queue, never longer than a tenth of a second and
    // never past the end of a period.
    for (const int w : std::as_const(m.waits)) {
        QVERIFY2(w >= 1 && w <= 100, qPrintable(QString::number(w)));
    }
    QVERIFY(!m.eventsRan); // the join polls without letting events run
    if (joined) {
        QVERIFY(m.boxes.shown.isEmpty());
        QCOMPARE(m.link.lngHostPlayerID(), m.hosted[0].host);
    } else {
        QCOMPARE(m.boxes.shown, (QList<Box>{{kNoAnswer, kError}}));
        QVERIFY(!m.link.objDP());
        QVERIFY(m.closeWasCalled());
    }
}

void TestJoin::answerBatches_data() {
    QTest::addColumn<Batch>("batch");
    QTest::addColumn<bool>("joined");
    QTest::addColumn<bool>("otherAccepted"); // the accepting player is FS's second one
    QTest::addColumn<QString>("message");

    SimMessage position;
    sim::writePositionUpdate(position, QByteArray(kPositionBlockBytes, '\x11'));
    SimMessage chat;
    sim::writeChat(chat, SimMsg::ChatMessage, QStringLiteral("hello"));
    const Answer accept = answer(From::Host, kAccepted);

    QTest::newRow("refused") << Batch{answer(From::Host, kRefusal)} << false << false << kRefused;
    QTest::newRow("refused after acceptance in the same batch")
        << Batch{accept, answer(From::Host, kRefusal)} << false << false << kRefused;
    QTest::newRow("accepted among other traffic")
        << Batch{answer(From::System, kAccepted),   {From::Host, position.bytes()},
                 {From::OtherPlayer, chat.bytes()}, {From::Host, QByteArray("\x04\x10", 2)},
                 {From::Host, QByteArray()},        accept,
                 {From::Host, position.bytes()},    answer(From::System, kRefusal)}
        << true << false << QString();
    QTest::newRow("accepted by another of FS's players")
        << Batch{answer(From::OtherPlayer, kAccepted)} << true << true << QString();
    // A session-layer notice is never read, whatever its bytes look like.
    QTest::newRow("notice shaped like an acceptance")
        << Batch{answer(From::System, kAccepted)} << false << false << kNoAnswer;
}

void TestJoin::answerBatches() {
    QFETCH(Batch, batch);
    QFETCH(bool, joined);
    QFETCH(bool, otherAccepted);
    QFETCH(QString, message);

    Machine m;
    m.batch = batch;
    m.markClose();
    QCOMPARE(m.join(), joined);
    if (!joined) {
        QCOMPARE(m.boxes.shown, (QList<Box>{{message, kError}}));
        QVERIFY(!m.link.objDP());
        QVERIFY(m.closeWasCalled());
        return;
    }
    QVERIFY(m.boxes.shown.isEmpty());
    const HostedFs& fs = m.hosted[0];
    const qint32 accepter = otherAccepted ? fs.other : fs.host;
    QCOMPARE(m.link.lngHostPlayerID(), accepter);
    QCOMPARE(m.link.strHandle(), m.world.playerFriendlyName(accepter));
    QCOMPARE(m.requests.last().number, kQueryPlane);
    QCOMPARE(m.requests.last().to, accepter);
    // Everything that came with the answer was consumed by the join; the message pump later
    // starts from an empty queue.
    QCOMPARE(m.link.objDP()->GetMessageQueue(0, 0, dpflags::QueueReceive), 0);
}

void TestJoin::sessionSearch_data() {
    QTest::addColumn<QStringList>("guids");
    QTest::addColumn<Op>("op");
    QTest::addColumn<qint32>("code");
    QTest::addColumn<int>("times");
    QTest::addColumn<bool>("joined");
    QTest::addColumn<bool>("altGuid");
    QTest::addColumn<QList<Box>>("boxes");
    QTest::addColumn<bool>("closed");

    const QStringList both{kFirst, kSecond};
    QTest::newRow("search fails") << both << Op::EnumSessions << kUnlisted << 1 << false << false
                                  << QList<Box>{{QStringLiteral("-2005270512") + kSearchFailed, kError}} << true;
    QTest::newRow("search fails with a named code")
        << both << Op::EnumSessions << dp::DPERR_TIMEOUT << 1 << false << false
        << QList<Box>{{QStringLiteral("-2005466896") + kSearchFailed, kError}} << true;
    QTest::newRow("address prompt cancelled")
        << both << Op::EnumSessions << dp::DPERR_USERCANCEL << 1 << false << false << QList<Box>{} << false;

    // Named codes end the join under the first identifier too, though the second would do.
    const QList<qint32> named{dp::DPERR_INVALIDPARAMS, dp::DPERR_NOSESSIONS, dp::DPERR_USERCANCEL,
                              dp::DPERR_LOGONDENIED};
    for (const qint32 code : named) {
        const QString name = dp::joinErrorName(code);
        QTest::addRow("open fails, %s", qPrintable(name))
            << both << Op::Open << code << 1 << false << false
            << QList<Box>{{name + QStringLiteral(" reported as error"), QString()}} << true;
    }
    // Under the first identifier nothing is found: Open is not even tried there.
    QTest::newRow("open of the second identifier fails with a named code")
        << QStringList{kSecond} << Op::Open << dp::DPERR_TIMEOUT << 1 << false << false
        << QList<Box>{{QStringLiteral("DPERR_TIMEOUT reported as error"), QString()}} << true;
    QTest::newRow("other open failure, second identifier joins")
        << both << Op::Open << dp::DPERR_GENERIC << 1 << true << true << QList<Box>{} << false;
    QTest::newRow("other open failure under both")
        << both << Op::Open << kUnlisted << 2 << false << false << QList<Box>{{kFailedToConnect, kError}} << true;
    QTest::newRow("no session hosted") << QStringList{} << Op::Open << dp::DP_OK << 0 << false << false
                                       << QList<Box>{{kFailedToConnect, kError}} << true;
}

void TestJoin::sessionSearch() {
    QFETCH(QStringList, guids);
    QFETCH(Op, op);
    QFETCH(qint32, code);
    QFETCH(int, times);
    QFETCH(bool, joined);
    QFETCH(bool, altGuid);
    QFETCH(QList<Box>, boxes);
    QFETCH(bool, closed);

    Machine m(guids);
    m.faults.failOperation(op, code, times);
    m.markClose();
    QCOMPARE(m.join(), joined);
    QCOMPARE(m.boxes.shown, boxes);
    QCOMPARE(m.closeWasCalled(), closed);
    QCOMPARE(m.link.blnAltGuid(), altGuid);
    if (joined) {
        QCOMPARE(m.link.strAppGuid(), kSecond);
        QCOMPARE(m.joinedFs(), &m.hosted[1]);
    } else if (closed) {
        QVERIFY(!m.link.objDP());
    } else {
        // A cancelled prompt leaves the session object alone; nothing was sent to FS.
        QVERIFY(m.link.objDP());
        QVERIFY(m.requests.isEmpty());
    }
}

void TestJoin::providers_data() {
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("joined");

    QTest::newRow("usual list") << QStringList{"IPX Connection For DirectPlay",
                                               "Internet TCP/IP Connection For DirectPlay", "Serial Connection"}
                                << true;
    QTest::newRow("mark at the start") << QStringList{"TCPIP"} << true;
    QTest::newRow("lower case only") << QStringList{"IPX Connection", "Internet tcp/ip Connection"} << false;
    QTest::newRow("no providers") << QStringList{} << false;
}

void TestJoin::providers() {
    QFETCH(QStringList, names);
    QFETCH(bool, joined);

    Machine m;
    m.world.setProviders(names);
    m.markClose();
    QCOMPARE(m.join(), joined);
    if (!joined) {
        QCOMPARE(m.boxes.shown.size(), 1);
        QCOMPARE(m.boxes.shown[0].title, kError);
        QVERIFY(m.boxes.shown[0].text.contains(QStringLiteral("TCP/IP")));
        QVERIFY(!m.link.objDP());
        QVERIFY(m.closeWasCalled());
    }
}

void TestJoin::orderlyStops_data() {
    QTest::addColumn<Op>("op");
    QTest::addColumn<bool>("afterRequest"); // fail only once the join request has gone out
    QTest::addColumn<qint32>("code");

    QTest::newRow("listing providers") << Op::EnumConnections << false << dp::DPERR_GENERIC;
    QTest::newRow("setting up the connection") << Op::InitializeConnection << false << dp::DPERR_INVALIDPARAMS;
    QTest::newRow("creating the observer") << Op::CreatePlayer << false << dp::DPERR_CANTCREATEPLAYER;
    QTest::newRow("sending the join request") << Op::Send << false << dp::DPERR_CONNECTIONLOST;
    QTest::newRow("looking at the queue") << Op::GetMessageQueue << false << dp::DPERR_SESSIONLOST;
    QTest::newRow("receiving the answer") << Op::Receive << false << dp::DPERR_SESSIONLOST;
    QTest::newRow("listing groups") << Op::EnumGroups << false << dp::DPERR_INVALIDOBJECT;
    QTest::newRow("joining the group") << Op::AddPlayerToGroup << false << dp::DPERR_INVALIDGROUP;
    QTest::newRow("asking for the aircraft") << Op::Send << true << dp::DPERR_SENDTOOBIG;
    QTest::newRow("reading the handle") << Op::GetPlayerFriendlyName << false << dp::DPERR_INVALIDPLAYER;
}

void TestJoin::orderlyStops() {
    QFETCH(Op, op);
    QFETCH(bool, afterRequest);
    QFETCH(qint32, code);

    Machine m;
    if (afterRequest) {
        const auto answerFs = m.world.onSendToHost;
        m.world.onSendToHost = [&m, answerFs, op, code](const MemoryWorld::Sent& sent) {
            answerFs(sent);
            m.faults.failOperation(op, code, 1);
        };
    } else {
        m.faults.failOperation(op, code, 1);
    }
    m.markClose();
    QVERIFY(!m.join());
    QCOMPARE(m.boxes.shown.size(), 1);
    QCOMPARE(m.boxes.shown[0].title, kError);
    QVERIFY2(m.boxes.shown[0].text.contains(QString::number(code)), qPrintable(m.boxes.shown[0].text));
    QVERIFY(!m.link.objDP());
    QVERIFY(m.closeWasCalled());
}

void TestJoin::sessionLayerMissing() {
    Machine m;
    // Joined before, as far as the link can tell.
    joinAsTheJoinWould(m.link, m.factory, m.hosted[0].host,
                       [](JoinedSession& joined) { joined.strHandle = QStringLiteral("stale"); });
    // The session layer is not installed.
    m.faults.failOperation(Op::Create, dp::DPERR_CANTLOADSSPI);
    QVERIFY(!m.link.Join_Session(m.factory));
    QCOMPARE(m.boxes.shown.size(), 1);
    QCOMPARE(m.boxes.shown[0].title, kError);
    QVERIFY(m.boxes.shown[0].text.contains(QString::number(dp::DPERR_CANTLOADSSPI)));
    QVERIFY(!m.link.objDP());
    QVERIFY(m.link.strHandle().isEmpty());
}

void TestJoin::parameterGroups_data() {
    QTest::addColumn<QStringList>("groups");
    QTest::addColumn<int>("request");
    QTest::addColumn<int>("refuse");

    QTest::newRow("both") << QStringList{kRequestGroup, kRefuseGroup} << 1 << 2;
    QTest::newRow("other groups around") << QStringList{"Pilots", kRefuseGroup, "Tower", kRequestGroup} << 4 << 2;
    QTest::newRow("repeated names, the last counts")
        << QStringList{kRefuseGroup, kRequestGroup, kRefuseGroup, kRequestGroup} << 4 << 3;
    QTest::newRow("letter case differs") << QStringList{"fs61_request_params", "FS61_Refuse_Params"} << 0 << 0;
    QTest::newRow("no refuse group") << QStringList{kRequestGroup} << 1 << 0;
    QTest::newRow("no groups") << QStringList{} << 0 << 0;
}

void TestJoin::parameterGroups() {
    QFETCH(QStringList, groups);
    QFETCH(int, request);
    QFETCH(int, refuse);

    Machine m({kFirst}, groups);
    QVERIFY(m.join());
    QVERIFY(m.boxes.shown.isEmpty());
    QCOMPARE(m.link.objEnumGroups().GetCount(), groups.size());
    QCOMPARE(m.link.intRequestParamsGroup(), request);
    QCOMPARE(m.link.intRefuseParamsGroup(), refuse);
    // The observer is in the refuse group it found, and in no other.
    const QList<qint32>& ids = m.hosted[0].groups;
    for (int i = 0; i < ids.size(); ++i) {
        const bool member = m.world.groupMembers(ids[i]).contains(m.link.lngMyPlayerID());
        QCOMPARE(member, i + 1 == refuse);
    }
    QCOMPARE(m.requests.last().number, kQueryPlane);
}

QTEST_GUILESS_MAIN(TestJoin)
#include "tst_join.moc"
