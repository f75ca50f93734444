// Bots against a scripted server on loopback: logon, the aircraft report, positions at the
// rate, the answer to a plane query, chat and crash, remote pilots seen by the stand-in,
// several bots in one process. The clock is a manual one; waits are bounded waits for
// loopback events.
#include "fakes/fakeserver.h"

#include "bot/bot.h"
#include "bot/botfleet.h"
#include "standin/circuit.h"
#include "wire/positionblock.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace airmesh;
using namespace airmesh::wire;

namespace {

constexpr int kWaitMs = FakeServer::kWaitMs;

struct Rig {
    QTemporaryDir dir;
    ManualClock clock;
    FakeServer server;
    QStringList lines;
    Bot::LineSink sink = [this](const QString& l) { lines << l; };

    BotConfig config(const QString& handle, qint32 pilotId) const {
        BotConfig c;
        c.serverUdpPort = server.udpPort();
        c.serverTcpPort = server.tcpPort();
        c.pilotId = pilotId;
        c.password = QStringLiteral("77");
        c.handle = handle;
        c.folder = dir.path();
        return c;
    }
    bool printed(const QString& line) const { return lines.contains(line); }
    bool waitPrinted(const QString& line) {
        return QTest::qWaitFor([&] { return printed(line); }, kWaitMs);
    }
    // Logs the bot on with this session number.
    bool logon(Bot& bot, qint32 session) {
        if (!server.waitForLogon(bot.config().pilotId)) {
            return false;
        }
        server.toTcp(server.logonFrom(bot.config().pilotId), toClient::logonAccepted(session, QStringLiteral("Hi")));
        return QTest::qWaitFor([&] { return bot.loggedOn(); }, kWaitMs);
    }
    // Moves the clock in steps, letting the bot do what is due at each.
    void run(Bot& bot, int ms, int stepMs = 100) {
        for (int t = 0; t < ms; t += stepMs) {
            clock.advanceMs(stepMs);
            bot.tick();
        }
    }
};

quint16 portOf(Bot& bot) {
    return static_cast<quint16>(bot.link().ctlWinsock().localPort());
}

} // namespace

class TestBot : public QObject {
    Q_OBJECT

private slots:
    void logonAircraftPositionsQueryChatAndCrash() {
        Rig rig;
        BotConfig c = rig.config(QStringLiteral("Ace"), 2001);
        c.title = QStringLiteral("Jetliner 400-B");
        c.engineType = 1;
        c.positionsPerSecond = 5;
        c.chatIntervalSeconds = 10;
        c.chatText = QStringLiteral("hi {n} from {handle}");
        c.crashAfterSeconds = 25;
        Bot bot(c, rig.clock, rig.sink);
        QVERIFY(bot.start());
        QCOMPARE(rig.lines.size(), 1); // Connect has not been answered yet
        QVERIFY(rig.lines.first().startsWith(QStringLiteral("Ace: observer joined: Airmesh (id 0x")));
        // The position due at the join goes nowhere before the logon.
        bot.tick();
        bot.engine().Timer1_Timer();

        // The logon carries the ID, the password and the handle of the stand-in's own player.
        QVERIFY(rig.server.waitForLogon(2001));
        const ServerRecord logon = rig.server.logonFrom(2001)->records().first();
        QCOMPARE(decode<LogonRequest>(logon).password, 77);
        QCOMPARE(decode<LogonRequest>(logon).handle.trimmed(), QStringLiteral("Ace"));
        QVERIFY(rig.logon(bot, 5));
        QVERIFY(rig.printed(QStringLiteral("Ace: logon accepted: session 5")));
        const quint16 port = portOf(bot);
        QVERIFY(port != 0);

        // The logon's plane query is answered by the stand-in and reported over UDP.
        bot.engine().Timer1_Timer();
        QVERIFY(
            QTest::qWaitFor([&] { return !rig.server.udpOf(RecordType::AircraftDetails, port).isEmpty(); }, kWaitMs));
        const ServerRecord ac = rig.server.udpOf(RecordType::AircraftDetails, port).first();
        QCOMPARE(ac.SenderSession, 5);
        QCOMPARE(decode<AircraftDetails>(ac).engineType, 1);
        QVERIFY(decode<AircraftDetails>(ac).title.startsWith(QStringLiteral("Jetliner 400-B")));
        QVERIFY(!rig.server.udpOf(RecordType::HeartBeat, port).isEmpty());

        // One second at 5 per second: five positions, in order along the circuit.
        rig.server.udpIn.clear();
        rig.run(bot, 1000);
        bot.engine().Timer1_Timer();
        QVERIFY(
            QTest::qWaitFor([&] { return rig.server.udpOf(RecordType::PositionUpdate, port).size() >= 5; }, kWaitMs));
        const QList<ServerRecord> pos = rig.server.udpOf(RecordType::PositionUpdate, port);
        QCOMPARE(pos.size(), 5);
        quint32 previous = 0;
        for (qsizetype i = 0; i < pos.size(); ++i) {
            // Over the bot's own field, on its circle.
            const QByteArray block = decode<PositionUpdate>(pos[i]).block;
            const std::optional<AircraftPosition> p = decodePosition(block);
            QVERIFY(p);
            const Circuit& circuit = bot.config().circuit;
            QVERIFY(
                std::abs(distanceNm(circuit.centreLatitude, circuit.centreLongitude, p->latitudeDeg, p->longitudeDeg) -
                         circuit.radiusNm) < 0.01);
            const quint32 index = PositionBlockFields::read(block)->packetIndex;
            QCOMPARE(pos[i].SenderSession, 5);
            if (i > 0) {
                QCOMPARE(index, previous + 1);
            }
            previous = index;
        }

        // A plane query from another pilot is answered from what the stand-in reported.
        rig.server.toUdp(port, toClient::queryPlane(9));
        QVERIFY(
            QTest::qWaitFor([&] { return !rig.server.udpOf(RecordType::AircraftDetails, port).isEmpty(); }, kWaitMs));

        // The chat line at its interval goes over TCP: the piece, then the end mark.
        const auto conn = rig.server.logonFrom(2001);
        rig.run(bot, 9000, 1000);
        bot.engine().Timer1_Timer();
        const auto chats = [&] {
            QStringList out;
            for (const ServerRecord& r : conn->records()) {
                if (r.type() == RecordType::ChatChunk) {
                    out << decode<ChatChunk>(r).piece.trimmed();
                }
            }
            return out;
        };
        QVERIFY(QTest::qWaitFor([&] { return chats().size() >= 2; }, kWaitMs));
        QCOMPARE(chats(), (QStringList{QStringLiteral("hi 1 from Ace"), kChatEndMark}));
        QVERIFY(rig.printed(QStringLiteral("Ace: sent chat: hi 1 from Ace")));

        // The crash, once, at its time.
        QVERIFY(rig.server.udpOf(RecordType::PlayerCrashed, port).isEmpty());
        rig.run(bot, 16000, 1000);
        bot.engine().Timer1_Timer();
        QVERIFY(QTest::qWaitFor([&] { return !rig.server.udpOf(RecordType::PlayerCrashed, port).isEmpty(); }, kWaitMs));
        rig.run(bot, 10000, 1000);
        bot.engine().Timer1_Timer();
        QCOMPARE(rig.server.udpOf(RecordType::PlayerCrashed, port).size(), 1);
        QCOMPARE(rig.lines.count(QStringLiteral("Ace: sent crash")), 1);

        // Stopping closes the connection: the server sees the pilot go.
        bot.stop();
        QVERIFY(QTest::qWaitFor([&] { return conn->closed; }, kWaitMs));
        // Our own session closing is not reported as news about the session.
        QCOMPARE(rig.lines.last(), QStringLiteral("Ace: stopped"));
    }

    void remotePilotIsSeenByTheStandin() {
        Rig rig;
        Bot bot(rig.config(QStringLiteral("Ace"), 2002), rig.clock, rig.sink);
        QVERIFY(bot.start());
        QVERIFY(rig.logon(bot, 5));
        const auto conn = rig.server.logonFrom(2002);
        const quint16 port = portOf(bot);
        rig.lines.clear();

        rig.server.toTcp(conn, toClient::playerJoined(77, QStringLiteral("Alice")));
        QVERIFY(rig.waitPrinted(QStringLiteral("Ace: remote player added: Alice")));
        bot.engine().Timer1_Timer(); // the client reads the stand-in's approval
        rig.server.toTcp(conn, toClient::aircraftDetails(77, 3, QStringLiteral("Bell 206B JetRanger")));
        QVERIFY(rig.waitPrinted(QStringLiteral("Ace: remote aircraft: Alice \"Bell 206B JetRanger\" engine 3")));

        for (int i = 0; i < 4; ++i) {
            rig.server.toUdp(port, toClient::positionUpdate(77, Circuit{}.block(i, i)));
        }
        rig.server.toTcp(conn, toClient::chatChunk(77, QStringLiteral("hello Ace")));
        rig.server.toTcp(conn, toClient::chatChunk(77, kChatEndMark));
        QVERIFY(rig.waitPrinted(QStringLiteral("Ace: chat from Alice: hello Ace")));
        rig.server.toUdp(port, toClient::playerCrashed(77, QStringLiteral("has crashed.")));
        QVERIFY(rig.waitPrinted(QStringLiteral("Ace: chat from Airmesh: Alice has crashed.")));
        // Datagrams keep their order on loopback: the crash came after the four positions.
        rig.run(bot, 5000, 500);
        QVERIFY(rig.printed(QStringLiteral("Ace: positions: Alice 4 in 5 s (0.8/s)")));

        rig.server.toTcp(conn, toClient::playerLeft(77));
        QVERIFY(rig.waitPrinted(QStringLiteral("Ace: remote player removed: Alice")));
        QVERIFY(bot.standin().remoteHandles().isEmpty());
    }

    void severalBotsInOneProcess() {
        Rig rig;
        BotRun run;
        QString error;
        QVERIFY2(parseBotArguments({QStringLiteral("--count"), QStringLiteral("3"), QStringLiteral("--pilot-id"),
                                    QStringLiteral("3001"), QStringLiteral("--udp-port"),
                                    QString::number(rig.server.udpPort()), QStringLiteral("--tcp-port"),
                                    QString::number(rig.server.tcpPort()), QStringLiteral("--password"),
                                    QStringLiteral("5")},
                                   run, error),
                 qPrintable(error));
        BotFleet fleet(run.bots, rig.dir.path(), rig.clock, rig.sink);
        QSignalSpy quit(&fleet, &BotFleet::quitRequested);
        QVERIFY(fleet.start());
        QCOMPARE(fleet.size(), 3);
        QSet<quint16> ports;
        for (int i = 0; i < 3; ++i) {
            Bot& b = fleet.bot(i);
            QCOMPARE(b.config().handle, QStringLiteral("Bot%1").arg(i + 1));
            QVERIFY(rig.logon(b, 10 + i));
            ports.insert(portOf(b));
            b.engine().Timer1_Timer(); // heartbeat and aircraft report
        }
        QCOMPARE(ports.size(), 3); // each bot its own UDP port
        QVERIFY(!ports.contains(0));
        for (const quint16 p : std::as_const(ports)) {
            QVERIFY(QTest::qWaitFor([&] { return !rig.server.udpOf(RecordType::HeartBeat, p).isEmpty(); }, kWaitMs));
        }
        // Each bot keeps its own settings (its aliases) and log, in a folder of its own.
        QSet<QString> folders;
        for (int i = 0; i < 3; ++i) {
            folders.insert(QDir(fleet.bot(i).config().folder).canonicalPath());
        }
        QCOMPARE(folders.size(), 3);

        // Commands: to one bot, to all, to nobody.
        fleet.execute(QStringLiteral("@Bot2 chat only two"));
        fleet.execute(QStringLiteral("crash"));
        fleet.execute(QStringLiteral("@Nobody crash"));
        for (int i = 0; i < 3; ++i) {
            fleet.bot(i).engine().Timer1_Timer();
        }
        for (const quint16 p : std::as_const(ports)) {
            QVERIFY(
                QTest::qWaitFor([&] { return rig.server.udpOf(RecordType::PlayerCrashed, p).size() == 1; }, kWaitMs));
        }
        QVERIFY(QTest::qWaitFor([&] { return rig.server.logonFrom(3002)->records().size() == 3; },
                                kWaitMs)); // logon, piece, end
        QCOMPARE(rig.server.logonFrom(3001)->records().size(), 1);
        QCOMPARE(rig.server.logonFrom(3003)->records().size(), 1);
        QVERIFY(rig.printed(QStringLiteral("error: no bot named Nobody")));
        QCOMPARE(rig.lines.count(QStringLiteral("Bot2: sent chat: only two")), 1);

        // The server drops one: only that bot shows the loss.
        rig.server.logonFrom(3003)->socket->close();
        QVERIFY(rig.waitPrinted(QStringLiteral("Bot3: status: Server connection lost...Please reconnect")));
        QVERIFY(fleet.bot(0).loggedOn() && fleet.bot(1).loggedOn() && !fleet.bot(2).loggedOn());

        QCOMPARE(quit.count(), 0);
        fleet.execute(QStringLiteral("quit"));
        QCOMPARE(quit.count(), 1);
    }

    // Round the fields near Seattle-Tacoma, where the user's simulator flies by default, and
    // never two bots in the same circle at the same altitude.
    void botsSpreadOverFieldsNearSeattle_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("pinned");
        QTest::newRow("100 bots") << QStringList{"--count", "100", "--pilot-id", "1001"} << false;
        QTest::newRow("pilot ids across 0") << QStringList{"--count", "100", "--pilot-id", "-50"} << false;
        QTest::newRow("all at Paine Field") << QStringList{"--count", "3", "--airport", "kpae"} << true;
    }
    void botsSpreadOverFieldsNearSeattle() {
        QFETCH(QStringList, args);
        QFETCH(bool, pinned);
        BotRun run;
        QString error;
        QVERIFY2(parseBotArguments(args, run, error), qPrintable(error));
        QSet<QString> fields;
        QSet<QString> circles;
        for (const BotConfig& b : std::as_const(run.bots)) {
            const Circuit& c = b.circuit;
            const double fromKsea = distanceNm(47.4502, -122.3088, c.centreLatitude, c.centreLongitude);
            QVERIFY2(fromKsea > 3 && fromKsea < 40, qPrintable(QString::number(fromKsea)));
            QVERIFY(c.altitudeFt >= 1500 && c.altitudeFt <= 4500);
            QVERIFY(c.radiusNm >= 2 && c.radiusNm <= 3);
            QVERIFY(c.speedKt >= 90 && c.speedKt <= 160);
            const QString field = QStringLiteral("%1 %2").arg(c.centreLatitude).arg(c.centreLongitude);
            fields.insert(field);
            circles.insert(QStringLiteral("%1 %2 %3").arg(field).arg(c.altitudeFt).arg(c.radiusNm));
        }
        QCOMPARE(circles.size(), run.bots.size());
        QCOMPARE(fields.size(), pinned ? 1 : 5);
        if (pinned) {
            const Circuit& c = run.bots.first().circuit;
            QVERIFY(distanceNm(47.9063, -122.2816, c.centreLatitude, c.centreLongitude) < 0.01);
        }
    }

    // --at: every bot of the run within a few nm of the point, none in another's circle, also
    // where the meridians crowd together and across the date line.
    void botsAroundAPoint_data() {
        QTest::addColumn<double>("lat");
        QTest::addColumn<double>("lon");
        QTest::newRow("Heathrow") << 51.47 << -0.46;
        QTest::newRow("far north") << 78.25 << 15.5;
        QTest::newRow("date line") << -17.75 << 179.99;
    }
    void botsAroundAPoint() {
        QFETCH(double, lat);
        QFETCH(double, lon);
        BotRun run;
        QString error;
        QVERIFY2(parseBotArguments({"--count", "20", "--at", QStringLiteral("%1, %2").arg(lat).arg(lon)}, run, error),
                 qPrintable(error));
        QSet<QString> centres;
        for (const BotConfig& b : std::as_const(run.bots)) {
            const Circuit& c = b.circuit;
            const double nm = distanceNm(lat, lon, c.centreLatitude, c.centreLongitude);
            QVERIFY2(nm > 0.9 && nm < 4.1, qPrintable(QString::number(nm)));
            QVERIFY(c.centreLongitude >= -180 && c.centreLongitude <= 180);
            centres.insert(QStringLiteral("%1 %2").arg(c.centreLatitude).arg(c.centreLongitude));
        }
        QCOMPARE(centres.size(), 20);
    }

    void argumentsAreChecked_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("ok");
        QTest::newRow("defaults") << QStringList{} << true;
        QTest::newRow("all") << QStringList{"--server",    "localhost", "--udp-port",        "2500",
                                            "--tcp-port",  "2502",      "--client-udp-port", "40000",
                                            "--count",     "2",         "--pilot-id",        "-5",
                                            "--password",  "-7",        "--handle",          "Red",
                                            "--title",     "Piper Cub", "--engine",          "0",
                                            "--rate",      "0.5",       "--chat-interval",   "30",
                                            "--chat-text", "hey",       "--crash-after",     "60",
                                            "--run-time",  "120",       "--report",          "2",
                                            "--airport",   "KBFI"}
                             << true;
        QTest::newRow("count 0") << QStringList{"--count", "0"} << false;
        QTest::newRow("count 101") << QStringList{"--count", "101"} << false;
        QTest::newRow("port text") << QStringList{"--udp-port", "15x"} << false;
        QTest::newRow("port 65536") << QStringList{"--tcp-port", "65536"} << false;
        QTest::newRow("client ports run out") << QStringList{"--client-udp-port", "65535", "--count", "2"} << false;
        QTest::newRow("pilot ids run out") << QStringList{"--pilot-id", "2147483647", "--count", "2"} << false;
        QTest::newRow("password not a number") << QStringList{"--password", "secret"} << false;
        QTest::newRow("password too big") << QStringList{"--password", "2147483648"} << false;
        QTest::newRow("rate negative") << QStringList{"--rate", "-1"} << false;
        QTest::newRow("rate nan") << QStringList{"--rate", "nan"} << false;
        QTest::newRow("handle 21 chars") << QStringList{"--handle", "ABCDEFGHIJKLMNOPQRSTU"} << false;
        QTest::newRow("handle 20 chars") << QStringList{"--handle", "ABCDEFGHIJKLMNOPQRST"} << true;
        QTest::newRow("numbered handle too long")
            << QStringList{"--handle", "ABCDEFGHIJKLMNOPQRS", "--count", "10"} << false;
        QTest::newRow("handle with space") << QStringList{"--handle", "Red Baron"} << false;
        QTest::newRow("stray argument") << QStringList{"extra"} << false;
        QTest::newRow("unknown option") << QStringList{"--speed", "3"} << false;
        QTest::newRow("airport not in the table") << QStringList{"--airport", "KSEA"} << false;
        QTest::newRow("at a point") << QStringList{"--at", "-33.95,151.18"} << true;
        QTest::newRow("at and airport") << QStringList{"--at", "47,-122", "--airport", "KBFI"} << false;
        QTest::newRow("at beyond the pole") << QStringList{"--at", "91,0"} << false;
        QTest::newRow("at without a longitude") << QStringList{"--at", "47.5"} << false;
        QTest::newRow("at not numbers") << QStringList{"--at", "north,west"} << false;
    }
    void argumentsAreChecked() {
        QFETCH(QStringList, args);
        QFETCH(bool, ok);
        BotRun run;
        QString error;
        QCOMPARE(parseBotArguments(args, run, error), ok);
        QCOMPARE(error.isEmpty(), ok);
        if (ok && args.contains(QStringLiteral("--count"))) {
            QCOMPARE(run.bots.size(), 2);
            QCOMPARE(run.bots[1].handle, QStringLiteral("Red2"));
            QCOMPARE(run.bots[1].pilotId, -4);
            QCOMPARE(run.bots[1].clientUdpPort, 40001);
            QCOMPARE(run.bots[0].password, QStringLiteral("-7"));
            QCOMPARE(run.runSeconds, 120);
        } else if (ok && args.isEmpty()) {
            QCOMPARE(run.bots.size(), 1);
            QCOMPARE(run.bots[0].handle, QStringLiteral("Bot1"));
            QCOMPARE(run.bots[0].serverUdpPort, 1500);
        }
    }
};

QTEST_GUILESS_MAIN(TestBot)
#include "tst_bot.moc"
