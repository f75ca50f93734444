// The client's own simulator link, on the native session, against the real fs-standin program
// in a separate process: the join and observer handshake, the aircraft query, a remote pilot
// added, approved and flying, chat both ways, the pilot removed, and the session lost when the
// simulator goes away.
#include "fakes/fakerelayoutput.h"
#include "fakes/servicesrig.h"
#include "relay/relay.h"
#include "simlink/dplay/nativesession.h"
#include "simlink/simcodec.h"
#include "simlink/simlink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

#include <algorithm>
#include <csignal>

using namespace airmesh;
using namespace airmesh::dplay;

namespace {
quint16 freeUdpPort() {
    QUdpSocket s;
    s.bind(QHostAddress::LocalHost, 0);
    return s.localPort();
}

#ifndef Q_OS_WIN
// Whether the process has stopped (SIGSTOP): its state in /proc, after the name in parentheses.
bool stopped(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray line = stat.readAll();
    const qsizetype end = line.lastIndexOf(") ");
    return end >= 0 && line.mid(end + 2, 1) == "T";
}
#endif
} // namespace

class TestStandinProcess : public QObject {
    Q_OBJECT

private slots:
    void clientAgainstFsStandin();
    void hostThatStopsAnsweringIsLostByItsPings();
};

void TestStandinProcess::clientAgainstFsStandin() {
    const quint16 port = freeUdpPort();
    QProcess fs;
    fs.setProcessChannelMode(QProcess::MergedChannels);
    fs.start(QStringLiteral(FS_STANDIN_PATH),
             {QStringLiteral("--enum-port"), QString::number(port), QStringLiteral("--handle"),
              QStringLiteral("Skywalker"), QStringLiteral("--title"), QStringLiteral("Learjet 45"),
              QStringLiteral("--engine"), QStringLiteral("1"), QStringLiteral("--rate"), QStringLiteral("20"),
              QStringLiteral("--report-seconds"), QStringLiteral("1")});
    QVERIFY(fs.waitForStarted(5000));
    QString out;
    const auto seen = [&](const QString& text, int ms = 5000) {
        QElapsedTimer t;
        t.start();
        while (!out.contains(text) && t.elapsed() < ms) {
            fs.waitForReadyRead(50);
            out += QString::fromUtf8(fs.readAll());
        }
        return out.contains(text);
    };
    QVERIFY2(seen(QStringLiteral("hosting")), qPrintable(out));

    WallClockServicesRig bench(true, true); // the activity log in a folder of its own
    Players players;
    NoWindowSystem windows;
    SimLink sim{bench.services, players, windows};
    FakeRelayOutput relay;
    Relay reactions(bench.services, sim, players, relay);
    sim.setHandler(&reactions); // the pump hands its messages to the reactions, as start-up has it
    NativeOptions o;
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    o.prompt = [address](const QString&) { return std::optional<QString>(address); };
    const auto clock = std::make_shared<ManualNodeClock>();
    o.clock = clock;
    clock->jumpWhenAwaited(o.enumSettleMs); // the search's settle after fs-standin's answer
    NativeSessionFactory factory(o);

    QVERIFY2(sim.Join_Session(factory), qPrintable(bench.boxes.texts().join('|')));
    QCOMPARE(sim.strHandle(), QStringLiteral("Skywalker"));
    QVERIFY2(seen(QStringLiteral("observer joined: Airmesh")), qPrintable(out));
    const auto pumpUntil = [&](const std::function<bool()>& done, int ms = 5000) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < ms) {
            sim.objDP()->waitForMessage(20);
            sim.pumpMessages();
        }
        return done();
    };
    // The answer to the join's aircraft query, then the user's positions.
    const auto blocks = [&] {
        return std::count_if(relay.positions.cbegin(), relay.positions.cend(),
                             [](const QByteArray& b) { return b.size() == kPositionBlockBytes; });
    };
    QVERIFY(pumpUntil(
        [&] { return relay.aircraft.contains(qMakePair(1, QStringLiteral("Learjet 45"))) && blocks() >= 5; }));

    // A remote pilot in the simulator: added, approved, given an aircraft and flying.
    sim.Add_Remote_Player(QStringLiteral("Bob"), 77);
    QVERIFY2(seen(QStringLiteral("remote player added: Bob")), qPrintable(out));
    const auto bob = players.findBySession(77);
    QVERIFY(bob);
    const qint32 bobId = bob->Key.toInt();
    QVERIFY(bobId != 0);
    SimMessage details;
    sim::writeAircraftDetails(details, 0, QStringLiteral("Piper Cub"));
    sim.sendToAll(bobId, details);
    QVERIFY2(seen(QStringLiteral("remote aircraft: Bob \"Piper Cub\" engine 0")), qPrintable(out));
    for (int i = 0; i < 10; ++i) {
        SimMessage position;
        position.WriteLong(4121);
        position.WriteLong(52);
        position.writeBytes(QByteArray(52, char(i)));
        sim.sendToAll(bobId, position);
    }
    QVERIFY2(seen(QStringLiteral("positions: Bob")), qPrintable(out));

    // Chat both ways.
    SimMessage chat;
    sim::writeChat(chat, SimMsg::ChatMessage, QStringLiteral("hello from Bob"));
    sim.sendToAll(bobId, chat);
    QVERIFY2(seen(QStringLiteral("hello from Bob")), qPrintable(out));
    fs.write("chat hi everybody\n");
    QVERIFY(fs.waitForBytesWritten(3000));
    QVERIFY(pumpUntil([&] { return relay.chats.join('|').contains(QStringLiteral("hi everybody")); }));
    fs.write("crash\n");
    QVERIFY(fs.waitForBytesWritten(3000));
    QVERIFY(pumpUntil([&] { return relay.crashes > 0; }));

    sim.Remove_Remote_Player(77);
    QVERIFY2(seen(QStringLiteral("remote player removed: Bob")), qPrintable(out));

    // The simulator quits: the session is lost.
    fs.kill();
    QVERIFY(fs.waitForFinished(5000));
    auto* native = dynamic_cast<NativeSession*>(sim.objDP());
    QVERIFY(native);
    QVERIFY(pumpUntil([&] { return native->sessionLost(); }));
}

void TestStandinProcess::hostThatStopsAnsweringIsLostByItsPings() {
    // A simulator that hangs keeps its connections open but answers nothing: only the
    // keep-alive pings can tell, at their real interval and number of misses, on a clock that
    // the test moves. fs-standin only answers: the pings and their timing are the joiner's.
    const quint16 port = freeUdpPort();
    QProcess fs;
    fs.start(QStringLiteral(FS_STANDIN_PATH),
             {QStringLiteral("--enum-port"), QString::number(port), QStringLiteral("--rate"), QStringLiteral("0")});
    QVERIFY(fs.waitForStarted(5000));
    QVERIFY(fs.waitForReadyRead(5000));
    NativeOptions o;
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    o.prompt = [address](const QString&) { return std::optional<QString>(address); };
    const auto clock = std::make_shared<ManualNodeClock>();
    o.clock = clock;
    NativeSession s(o);
    s.InitializeConnection(s.GetDPEnumConnections({}, 1).GetAddress(1));
    SessionData search;
    search.SetGuidApplication(SimLink::kFirstAppGuid);
    clock->jumpWhenAwaited(o.enumSettleMs);
    s.Open(s.GetDPEnumSessions(search, 0, 2).GetItem(1), 1);
    s.CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
    // Answered pings keep a quiet session alive: more of them than the misses that would end it,
    // one for each interval of silence.
    for (int i = 1; i <= 2 * (o.pingMisses + 1); ++i) {
        clock->advance(o.pingIntervalMs);
        QVERIFY2(QTest::qWaitFor([&] { return s.pingsAnswered() == i; }), qPrintable(QString::number(i)));
    }
    QVERIFY(!s.sessionLost());
#ifdef Q_OS_WIN
    QSKIP("a Windows process cannot be frozen from outside as SIGSTOP does; the answered pings were checked");
#else
    const auto pid = static_cast<pid_t>(fs.processId());
    ::kill(pid, SIGSTOP);
    QVERIFY(QTest::qWaitFor([pid] { return stopped(pid); }));
    for (int i = 0; i < o.pingMisses; ++i) {
        clock->advance(o.pingIntervalMs);
    }
    QVERIFY(!s.sessionLost()); // as many unanswered pings as it allows
    clock->advance(o.pingIntervalMs);
    QVERIFY(s.sessionLost()); // and the next interval of silence ends it
    QCOMPARE(s.pingsAnswered(), 2 * (o.pingMisses + 1));
    ::kill(pid, SIGCONT);
#endif
    fs.kill();
    QVERIFY(fs.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestStandinProcess)
#include "tst_standinprocess.moc"
