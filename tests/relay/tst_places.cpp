// Who flies in FS when more pilots are online than its session holds: the rules on their own,
// table by table, then the relay on an in-memory session that refuses players past its limit,
// with the clock moved by hand.
#include "relay/places.h"
#include "relay/traffic.h"
#include "simrig.h"
#include "wire/positionblock.h"

#include <QTest>

#include <map>
#include <memory>

using namespace airmesh;
using places::Candidate;
using places::Plan;
using Op = FakeSessionFaults::Op;

Q_DECLARE_METATYPE(std::vector<airmesh::places::Candidate>)
Q_DECLARE_METATYPE(std::optional<int>)
using Swaps = QList<QPair<int, int>>;

namespace {

constexpr qint64 kNow = 1'000'000;
constexpr double kNone = -1;

// A pilot: id, distance (kNone: unknown), shown since how many ms ago (-1: waiting), announced
// how many ms ago; join order follows the id.
Candidate pilot(int id, double nm, qint64 shownAgo = -1, qint64 joinedAgo = 60'000, bool eligible = true) {
    Candidate c;
    c.id = id;
    c.shown = shownAgo >= 0;
    if (nm >= 0) {
        c.distanceNm = nm;
    }
    c.joinOrder = static_cast<quint64>(id);
    c.joinedMs = kNow - joinedAgo;
    c.shownSinceMs = c.shown ? kNow - shownAgo : 0;
    c.eligible = eligible;
    return c;
}

QString chatText(const MemoryWorld::Sent& s) {
    SimMessage m(s.bytes);
    const sim::Header h = sim::readHeader(m);
    return sim::readChatText(m, h.payloadLength);
}

QList<int> list(const std::vector<int>& v) {
    return {v.begin(), v.end()};
}

Swaps swapList(const std::vector<std::pair<int, int>>& v) {
    Swaps out;
    for (const auto& [a, b] : v) {
        out.append({a, b});
    }
    return out;
}

// The user over Seattle-Tacoma; pilots due north of him at a distance in nm.
constexpr double kUserLat = 47.45;
constexpr double kUserLon = -122.31;
QByteArray north(double nm) {
    wire::AircraftPosition p;
    p.latitudeDeg = kUserLat + nm / 60.0;
    p.longitudeDeg = kUserLon;
    p.altitudeFt = 3000;
    p.groundSpeedKt = 120;
    return wire::encodePosition(p);
}

// The relay on a session with room for `places` of our players (0: a session without a limit),
// logged on, the user's position known, its log on.
struct CrowdRig : RelayRig {
    explicit CrowdRig(int places) : RelayRig(std::function<void(JoinedSession&)>{}, places > 0 ? 3 + places : 0) {
        flags(true, false);
        writeCueFiles(dir.path());
        SimMessage own;
        sim::writePositionUpdate(own, north(0));
        world.sendFromHost(host, observer, own);
        sim.pumpMessages();
        world.onClientPlayerDestroyed = [this](qint32) { ++destroyed; };
    }
    // The pilot of `session` is announced, and (when nm >= 0) reports his aircraft and position.
    void pilot(qint32 session, const QString& handle, double nm = kNone) {
        reactions.playerJoined(session, handle);
        if (nm >= 0) {
            reactions.aircraftDetails(session, 0, QStringLiteral("Cessna Skyhawk 172SP"));
            reactions.positionUpdate(session, north(nm));
        }
    }
    // Every shown pilot not yet approved is approved by the simulator.
    void approveAll() {
        for (const Players::PlayerPtr& p : players.NewEnum()) {
            if (p->inSession && !p->Add_Success) {
                world.sendFromHost(host, observer, message(SimMsg::AddPlayerApproved, le32(p->Key.toInt())));
            }
        }
        sim.pumpMessages();
    }
    // Ticks of Timer1 for `ms`.
    void run(qint64 ms) {
        for (qint64 t = 0; t < ms; t += 500) {
            clock.advanceMs(500);
            reactions.keepPlaces();
            approveAll();
        }
    }
    QStringList shown() const {
        QStringList out;
        for (const Players::PlayerPtr& p : players.NewEnum()) {
            if (p->inSession) {
                out << p->PlayerHandle;
            }
        }
        out.sort();
        return out;
    }
    int destroyed = 0; // players of ours that left the session
};

} // namespace

class TestPlaces : public QObject {
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void nearestShownAndKept();
    void noFlickerWhileTheyMove();
    void shownAfterWaitingCatchesUp();
    void waitingPilotsChatAndCrash();
    void refusedByTheHost();
    void refusalHoldsUntilTheSessionHasMoreRoom();
    void maxShownAndTheTrafficPicture();
    void roomForAllChangesNothing();
};

void TestPlaces::rules_data() {
    QTest::addColumn<std::vector<Candidate>>("pilots");
    QTest::addColumn<std::optional<int>>("places");
    QTest::addColumn<bool>("swaps");
    QTest::addColumn<bool>("userKnown");
    QTest::addColumn<QList<int>>("hide");
    QTest::addColumn<QList<int>>("show");
    QTest::addColumn<Swaps>("swapped");
    QTest::addColumn<bool>("held");
    const std::optional<int> unlimited;
    const Swaps none;

    // Free places.
    QTest::newRow("room for all: everyone at once, positions or not")
        << std::vector{pilot(1, kNone, -1, 10), pilot(2, 30, -1, 10), pilot(3, kNone, -1, 10)} << std::optional(3)
        << true << true << QList<int>{} << QList<int>{1, 2, 3} << none << false;
    QTest::newRow("no limit") << std::vector{pilot(1, 300), pilot(2, 3)} << unlimited << false << true << QList<int>{}
                              << QList<int>{1, 2} << none << false;
    QTest::newRow("crowded: nearest first, unknown last")
        << std::vector{pilot(1, kNone), pilot(2, 30), pilot(3, 5), pilot(4, 12)} << std::optional(2) << true << true
        << QList<int>{} << QList<int>{3, 4} << none << false;
    QTest::newRow("crowded: a newcomer's position is due, the places wait")
        << std::vector{pilot(1, 30), pilot(2, 40), pilot(3, kNone, -1, 500)} << std::optional(1) << true << true
        << QList<int>{} << QList<int>{} << none << true;
    QTest::newRow("crowded: his time is up, he comes last")
        << std::vector{pilot(1, kNone, -1, 2500), pilot(2, 40), pilot(3, 30)} << std::optional(2) << true << true
        << QList<int>{} << QList<int>{3, 2} << none << false;
    QTest::newRow("crowded, the user's position unknown: first come")
        << std::vector{pilot(3, kNone, -1, 10), pilot(1, kNone, -1, 10), pilot(2, kNone, -1, 10)} << std::optional(2)
        << true << false << QList<int>{} << QList<int>{1, 2} << none << false;
    QTest::newRow("a tie goes to the first announced")
        << std::vector{pilot(5, 10), pilot(3, 10)} << std::optional(1) << true << true << QList<int>{} << QList<int>{3}
        << none << false;
    QTest::newRow("refused and retried pilots are passed over")
        << std::vector{pilot(1, 1, -1, 60'000, false), pilot(2, 9)} << std::optional(1) << true << true << QList<int>{}
        << QList<int>{2} << none << false;
    QTest::newRow("too many shown: the farthest go, however new")
        << std::vector{pilot(1, 10, 100), pilot(2, 3, 100), pilot(3, 20, 100)} << std::optional(1) << true << true
        << QList<int>{3, 1} << QList<int>{} << none << false;

    // Swaps.
    QTest::newRow("swap: nearer by 20 % and 2 nm, the other shown 10 s")
        << std::vector{pilot(1, 40, 10'000), pilot(2, 10)} << std::optional(1) << true << true << QList<int>{}
        << QList<int>{} << Swaps{{1, 2}} << false;
    QTest::newRow("no swap: 15 % nearer") << std::vector{pilot(1, 20, 60'000), pilot(2, 17)} << std::optional(1) << true
                                          << true << QList<int>{} << QList<int>{} << none << false;
    QTest::newRow("no swap: 20 % nearer but under 2 nm")
        << std::vector{pilot(1, 5, 60'000), pilot(2, 3.9)} << std::optional(1) << true << true << QList<int>{}
        << QList<int>{} << none << false;
    QTest::newRow("no swap: shown under 10 s") << std::vector{pilot(1, 40, 9'999), pilot(2, 10)} << std::optional(1)
                                               << true << true << QList<int>{} << QList<int>{} << none << false;
    QTest::newRow("at most two swaps a pass, farthest out, nearest in")
        << std::vector{pilot(1, 50, 20'000), pilot(2, 70, 20'000), pilot(3, 60, 20'000),
                       pilot(4, 3),          pilot(5, 1),          pilot(6, 2)}
        << std::optional(3) << true << true << QList<int>{} << QList<int>{} << Swaps{{2, 5}, {3, 6}} << false;
    QTest::newRow("no swap while the farthest is new, not a nearer one instead")
        << std::vector{pilot(1, 80, 1'000), pilot(2, 50, 20'000), pilot(3, 5)} << std::optional(2) << true << true
        << QList<int>{} << QList<int>{} << none << false;
    QTest::newRow("a shown pilot without a position goes for one with")
        << std::vector{pilot(1, kNone, 30'000), pilot(2, 30)} << std::optional(1) << true << true << QList<int>{}
        << QList<int>{} << Swaps{{1, 2}} << false;
    QTest::newRow("no swaps in a pass that only fills places")
        << std::vector{pilot(1, 40, 60'000), pilot(2, 10)} << std::optional(1) << false << true << QList<int>{}
        << QList<int>{} << none << false;
    QTest::newRow("no swaps without the user's position")
        << std::vector{pilot(1, kNone, 60'000), pilot(2, kNone)} << std::optional(1) << true << false << QList<int>{}
        << QList<int>{} << none << false;
}

void TestPlaces::rules() {
    QFETCH(std::vector<Candidate>, pilots);
    QFETCH(std::optional<int>, places);
    QFETCH(bool, swaps);
    QFETCH(bool, userKnown);
    const Plan plan = places::plan(pilots, places, kNow, swaps, userKnown);
    QTEST(list(plan.hide), "hide");
    QTEST(list(plan.show), "show");
    QTEST(swapList(plan.swaps), "swapped");
    QTEST(plan.held, "held");
}

// 16 far pilots logged on first, then 4 next to the user, and 4 places: the near ones are shown
// as soon as the positions are in, and stay shown while far pilots come and go.
void TestPlaces::nearestShownAndKept() {
    CrowdRig rig(4);
    rig.reactions.loggedOn(); // everybody online is announced right after it
    for (int i = 1; i <= 16; ++i) {
        rig.pilot(i, QStringLiteral("Far%1").arg(i));
    }
    for (int i = 1; i <= 4; ++i) {
        rig.pilot(100 + i, QStringLiteral("Near%1").arg(i));
    }
    QCOMPARE(rig.shown(), QStringList()); // nobody has said where he is yet
    QCOMPARE(rig.players.Count(), 20);
    rig.clock.advanceMs(300);
    for (int i = 1; i <= 16; ++i) {
        rig.reactions.aircraftDetails(i, 0, QStringLiteral("Cessna Skyhawk 172SP"));
        rig.reactions.positionUpdate(i, north(200 + i));
    }
    for (int i = 1; i <= 4; ++i) {
        rig.reactions.aircraftDetails(100 + i, 0, QStringLiteral("Cessna Skyhawk 172SP"));
        rig.reactions.positionUpdate(100 + i, north(i));
    }
    rig.run(500);
    QCOMPARE(rig.shown(), QStringList()); // a second after the logon, not before
    rig.run(500);
    const QStringList nearOnes{"Near1", "Near2", "Near3", "Near4"};
    QCOMPARE(rig.shown(), nearOnes);
    const QStringList log = rig.logLines();
    QCOMPARE(log.filter(QStringLiteral(" - Session full: ")).size(), 16);
    QVERIFY(log.contains(QStringLiteral(" - Session full: Far16 waits (4 shown, 16 waiting)")));

    // Far pilots leave and others log on; a pilot farther than the near ones changes nothing.
    for (int i = 1; i <= 8; ++i) {
        rig.reactions.playerLeft(i);
    }
    rig.pilot(50, QStringLiteral("Later"), 90);
    rig.run(20'000);
    QCOMPARE(rig.shown(), nearOnes);
    QCOMPARE(rig.players.Count(), 13);
    QCOMPARE(rig.destroyed, 0);

    // A near one leaves: his place goes at once to the nearest who waits.
    rig.reactions.playerLeft(104);
    QCOMPARE(rig.shown(), (QStringList{"Later", "Near1", "Near2", "Near3"}));

    // A newcomer much nearer than the farthest shown takes his place, with one line for it.
    rig.clearLog();
    rig.pilot(60, QStringLiteral("Close"), 0.5);
    rig.run(8'000);
    QCOMPARE(rig.shown(), (QStringList{"Later", "Near1", "Near2", "Near3"})); // Later had under 10 s
    rig.run(2'000);
    QCOMPARE(rig.shown(), (QStringList{"Close", "Near1", "Near2", "Near3"}));
    QCOMPARE(rig.logLines().filter(QStringLiteral(" - Showing ")),
             QStringList{" - Showing Close (0.5 nm) instead of Later (90.1 nm)"});
}

// Pilots flying about: nobody is shown and hidden more than once in 10 s.
void TestPlaces::noFlickerWhileTheyMove() {
    CrowdRig rig(3);
    for (int i = 1; i <= 8; ++i) {
        rig.pilot(i, QStringLiteral("P%1").arg(i), 10.0 * i);
    }
    std::map<QString, std::vector<qint64>> hidden; // when each pilot's player went
    std::map<QString, qint64> since;
    for (int step = 0; step < 240; ++step) { // two minutes of ticks
        for (int i = 1; i <= 8; ++i) {
            // Each pilot flies to and fro along the user's meridian, at his own pace.
            const double nm = 5 + 40 * std::abs(std::sin(step * 0.013 * i + i));
            rig.reactions.positionUpdate(i, north(nm));
        }
        const QStringList before = rig.shown();
        rig.run(500);
        const QStringList after = rig.shown();
        for (const QString& h : before) {
            if (!after.contains(h)) {
                hidden[h].push_back(rig.clock.steadyMs());
                QVERIFY2(rig.clock.steadyMs() - since[h] >= places::kMinShownMs, qPrintable(h));
            }
        }
        for (const QString& h : after) {
            if (!before.contains(h)) {
                since[h] = rig.clock.steadyMs();
            }
        }
        QCOMPARE(after.size(), 3);
    }
    int swaps = 0;
    for (const auto& [h, times] : hidden) {
        swaps += static_cast<int>(times.size());
        for (std::size_t k = 1; k < times.size(); ++k) {
            QVERIFY2(times[k] - times[k - 1] >= places::kMinShownMs, qPrintable(h));
        }
    }
    QVERIFY(swaps > 0); // they did move about enough to change places
}

// A pilot who waited gets his place: once FS approves his player, his stored aircraft and his
// last position go to FS at once; his positions while he waited never did.
void TestPlaces::shownAfterWaitingCatchesUp() {
    CrowdRig rig(1);
    rig.pilot(1, QStringLiteral("First"), 5);
    rig.run(500);
    rig.ini.WriteINI(QStringLiteral("Aliasing"), QStringLiteral("Learjet 45 Demo"), QStringLiteral("Learjet 45"));
    rig.reactions.playerJoined(2, QStringLiteral("Second"));
    rig.reactions.aircraftDetails(2, 1, QStringLiteral("Learjet 45 Demo"));
    rig.reactions.positionUpdate(2, north(30));
    rig.reactions.positionUpdate(2, north(31));
    rig.world.takeSentToHost();
    rig.run(500);
    QVERIFY(rig.world.takeSentToHost().isEmpty()); // nothing of a waiting pilot reaches FS

    rig.reactions.playerLeft(1);
    const Players::PlayerPtr second = rig.players.findBySession(2);
    QVERIFY(second->inSession);
    const qint32 id = second->Key.toInt();
    QList<MemoryWorld::Sent> sent = rig.world.takeSentToHost();
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].bytes, QByteArray::fromHex("0110000000000000")); // the addition request

    rig.approveAll();
    sent = rig.world.takeSentToHost();
    QCOMPARE(sent.size(), 2);
    SimMessage details;
    sim::writeAircraftDetails(details, 1, QStringLiteral("Learjet 45"));
    SimMessage position;
    sim::writePositionUpdate(position, north(31));
    QCOMPARE(sent[0].from, id);
    QCOMPARE(sent[0].bytes, details.bytes());
    QCOMPARE(sent[1].from, id);
    QCOMPARE(sent[1].bytes, position.bytes());
    rig.reactions.positionUpdate(2, north(32));
    QCOMPARE(rig.world.takeSentToHost().size(), 1);
}

// A waiting pilot's chat is said by the observer, with his handle before it; his crash as ever.
void TestPlaces::waitingPilotsChatAndCrash() {
    CrowdRig rig(1);
    rig.pilot(1, QStringLiteral("Shown"), 5);
    rig.pilot(2, QStringLiteral("Waits"), 50);
    rig.run(500);
    rig.world.takeSentToHost();
    rig.reactions.chatPiece(2, QStringLiteral("anyone near Olympia?"));
    rig.reactions.chatPiece(2, wire::kChatEndMark);
    rig.reactions.playerCrashed(2, QStringLiteral("has crashed."));
    const QList<MemoryWorld::Sent> sent = rig.world.takeSentToHost();
    QCOMPARE(sent.size(), 2);
    QCOMPARE(sent[0].from, rig.observer);
    QCOMPARE(chatText(sent[0]), QStringLiteral("Waits: anyone near Olympia?"));
    QCOMPARE(chatText(sent[1]), QStringLiteral("Waits has crashed."));
    QCOMPARE(rig.soundOut.cues(), (QStringList{"incoming.wav", "crash.wav"}));
}

// A session without a limit that refuses a player all the same: the pilot waits, that many
// places are what it has, and a refusal is no error.
void TestPlaces::refusedByTheHost() {
    CrowdRig rig(0);
    rig.world.takeSentToHost();
    rig.pilot(1, QStringLiteral("One"), 5);
    rig.pilot(2, QStringLiteral("Two"), 6);
    rig.faults.failOperation(Op::CreatePlayer, dp::DPERR_NONEWPLAYERS);
    rig.pilot(3, QStringLiteral("Three"), 7);
    rig.pilot(4, QStringLiteral("Four"), 8);
    QCOMPARE(rig.shown(), (QStringList{"One", "Two"}));
    const QStringList log = rig.logLines();
    QVERIFY(log.contains(QStringLiteral(" - Session full: Three waits (2 shown, 1 waiting)")));
    QVERIFY(log.contains(QStringLiteral(" - Session full: Four waits (2 shown, 2 waiting)")));
    QVERIFY(log.filter(QStringLiteral("Error")).isEmpty());

    rig.reactions.playerLeft(1);
    QCOMPARE(rig.shown(), (QStringList{"Three", "Two"}));
}

// A refusal while the description had room holds until somebody else's player leaves the
// session: then there is room the refusal did not know of.
void TestPlaces::refusalHoldsUntilTheSessionHasMoreRoom() {
    CrowdRig rig(3);
    MemorySession other(rig.world); // another program on the machine, with a player in the session
    other.InitializeConnection(other.GetDPEnumConnections({}, 1).GetAddress(2));
    SessionData search;
    search.SetGuidApplication(SimLink::kFirstAppGuid);
    other.Open(other.GetDPEnumSessions(search, 0, 2).GetItem(1), 1);
    other.CreatePlayer(QStringLiteral("Other"), {}, 0, 0);
    rig.pilot(1, QStringLiteral("One"), 5);
    rig.faults.failOperation(Op::CreatePlayer, dp::DPERR_CANTCREATEPLAYER);
    rig.pilot(2, QStringLiteral("Two"), 6);
    rig.run(10'000);
    QCOMPARE(rig.shown(), QStringList{"One"});
    other.Close();
    rig.run(2'000);
    QCOMPARE(rig.shown(), (QStringList{"One", "Two"}));
}

// The user's MaxShown: the farthest go at the next pass, and the Traffic picture says why
// the others wait.
void TestPlaces::maxShownAndTheTrafficPicture() {
    CrowdRig rig(14);
    for (int i = 1; i <= 4; ++i) {
        rig.pilot(i, QStringLiteral("P%1").arg(i), 5.0 * i);
    }
    rig.run(500);
    QCOMPARE(rig.shown().size(), 4);
    rig.ini.WriteINI(QStringLiteral("General"), QStringLiteral("MaxShown"), 2);
    rig.run(2'000);
    QCOMPARE(rig.shown(), (QStringList{"P1", "P2"}));
    TrafficPicture pic = trafficPicture(rig.players, rig.reactions, rig.clock.steadyMs());
    QCOMPARE(pic.shown, 2);
    QCOMPARE(pic.waiting, 2);
    QCOMPARE(pic.rows[3].handle, QStringLiteral("P4"));
    QCOMPARE(pic.rows[3].inFs, InFs::MaxShown);
    QVERIFY(rig.logLines().contains(QStringLiteral(" - Session full: P4 waits (2 shown, 2 waiting)")));

    rig.ini.WriteINI(QStringLiteral("General"), QStringLiteral("MaxShown"), 0);
    rig.run(2'000);
    QCOMPARE(rig.shown().size(), 4);
    pic = trafficPicture(rig.players, rig.reactions, rig.clock.steadyMs());
    QCOMPARE(pic.waiting, 0);

    // A block that decodes as no position ranks behind every known one.
    wire::PositionBlockFields inSpace;
    inSpace.altitude = qint64{40000} << 16;
    rig.reactions.positionUpdate(1, inSpace.toBytes());
    rig.ini.WriteINI(QStringLiteral("General"), QStringLiteral("MaxShown"), 3);
    rig.run(2'000);
    QCOMPARE(rig.shown(), (QStringList{"P2", "P3", "P4"}));
}

// With room for everybody, FS sees what it always did: each pilot's player made when he is
// announced, his details and positions as they come, and the passes send nothing at all.
void TestPlaces::roomForAllChangesNothing() {
    CrowdRig rig(14);
    rig.world.takeSentToHost();
    rig.reactions.playerJoined(1, QStringLiteral("Bob"));
    QCOMPARE(rig.world.takeSentToHost().size(), 1); // his addition request, at once
    rig.run(30'000);
    QVERIFY(rig.world.takeSentToHost().isEmpty());
    rig.reactions.aircraftDetails(1, 0, QStringLiteral("Cessna Skyhawk 172SP"));
    rig.reactions.positionUpdate(1, north(60));
    QCOMPARE(rig.world.takeSentToHost().size(), 2);
    rig.run(30'000);
    QVERIFY(rig.world.takeSentToHost().isEmpty());
    QCOMPARE(rig.logLines().filter(QStringLiteral("Session full")), QStringList());
}

QTEST_GUILESS_MAIN(TestPlaces)
#include "tst_places.moc"
