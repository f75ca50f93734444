// The program itself: start-up line, logon log lines, the summary on SIGUSR1 and on SIGTERM,
// and refusal of a bad accounts file. Also the signal watch on its own.
#include "relayserver/signalwatch.h"
#include "serverrig.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>

#include "wire/positionblock.h"

#include <csignal>
#include <fstream>
#include <string>
#include <sys/resource.h>

using namespace airmesh;

class TestServerProcess : public QObject {
    Q_OBJECT
private slots:
    void logonSummaryAndStop();
    void badAccountsFileRefused();
    void addPilotThenLogOn();
    void statusPageJsonAndMetricsOverHttp();
    void badHttpRequests_data();
    void badHttpRequests();
    void signalWatch();
    void openFileLimitRaisedForAThousandPilots();
};

namespace {

bool waitForOutput(QProcess& p, QByteArray& out, const QString& part) {
    return QTest::qWaitFor(
        [&] {
            out += p.readAllStandardOutput();
            return out.contains(part.toUtf8());
        },
        kWaitMs);
}

// A port nobody listens on now (the server is given it; it is not 0, which means "off").
quint16 freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// The server started on loopback with an HTTP port and the arguments given; its ports from its
// first line (UDP, TCP, HTTP).
struct RunningServer {
    QProcess process;
    QByteArray out;
    quint16 udp = 0, tcp = 0, http = 0;
    bool start(QStringList args, std::function<void()> inChild = {}) {
        if (inChild) {
            process.setChildProcessModifier(inChild);
        }
        http = freePort();
        args << QStringLiteral("--listen") << QStringLiteral("127.0.0.1") << QStringLiteral("--udp-port")
             << QStringLiteral("0") << QStringLiteral("--tcp-port") << QStringLiteral("0")
             << QStringLiteral("--http-port") << QString::number(http);
        process.start(QStringLiteral(AIRMESH_SERVER_BINARY), args);
        if (!process.waitForStarted(kWaitMs) || !waitForOutput(process, out, QStringLiteral("HTTP "))) {
            return false;
        }
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("UDP (\\d+), TCP (\\d+), HTTP (\\d+)")).match(QString::fromUtf8(out));
        udp = m.captured(1).toUShort();
        tcp = m.captured(2).toUShort();
        return m.hasMatch() && m.captured(3).toUShort() == http;
    }
    ~RunningServer() {
        process.terminate();
        process.waitForFinished(kWaitMs);
    }
};

struct HttpReply {
    int status = 0;
    QByteArray head, body;
};

// One request, raw, on a connection of its own; the reply read up to its Content-Length.
HttpReply http(quint16 port, const QByteArray& request) {
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    HttpReply r;
    if (!s.waitForConnected(kWaitMs)) {
        return r;
    }
    s.write(request);
    QByteArray in;
    (void)QTest::qWaitFor(
        [&] {
            in += s.readAll();
            const qsizetype end = in.indexOf("\r\n\r\n");
            if (end < 0) {
                return s.state() != QAbstractSocket::ConnectedState;
            }
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("Content-Length: (\\d+)"), QRegularExpression::CaseInsensitiveOption)
                    .match(QString::fromLatin1(in.left(end)));
            return !m.hasMatch() || in.size() - end - 4 >= m.captured(1).toLongLong();
        },
        kWaitMs);
    const qsizetype end = in.indexOf("\r\n\r\n");
    r.head = in.left(end);
    r.body = end < 0 ? QByteArray() : in.mid(end + 4);
    r.status = in.startsWith("HTTP/1.1 ") ? in.mid(9, 3).toInt() : 0;
    return r;
}

HttpReply get(quint16 port, const char* path) {
    return http(port, QByteArray("GET ") + path + " HTTP/1.1\r\nHost: localhost\r\n\r\n");
}

// The soft and hard limits on open files of a running process, from /proc.
std::pair<long long, long long> openFileLimits(qint64 pid) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/limits");
    for (std::string line; std::getline(f, line);) {
        if (line.rfind("Max open files", 0) == 0) {
            long long soft = -1, hard = -1;
            std::sscanf(line.c_str() + 14, "%lld %lld", &soft, &hard);
            return {soft, hard};
        }
    }
    return {-1, -1};
}

} // namespace

void TestServerProcess::addPilotThenLogOn() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pilots.txt"));
    QProcess add;
    add.start(QStringLiteral(AIRMESH_SERVER_BINARY),
              {QStringLiteral("--accounts"), path, QStringLiteral("--add-pilot"), QStringLiteral("9"),
               QStringLiteral("--handle"), QStringLiteral("Nine")});
    add.write("9999\n");
    add.closeWriteChannel();
    QVERIFY(add.waitForFinished(kWaitMs));
    QCOMPARE(add.exitCode(), 0);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY2(text.startsWith("9 $argon2id$") && !text.contains("9999"), text.constData());

    RunningServer server;
    QVERIFY(server.start({QStringLiteral("--accounts"), path}));
    QVERIFY(!server.out.contains("plain passwords"));
    FakePilot pilot(server.tcp, server.udp);
    QVERIFY(pilot.logon(9, 9999, QStringLiteral("x")));
    QVERIFY(waitForOutput(server.process, server.out, QStringLiteral("logon: pilot 9 \"Nine\"")));
}

void TestServerProcess::statusPageJsonAndMetricsOverHttp() {
    RunningServer server;
    QVERIFY(server.start({QStringLiteral("--open"), QStringLiteral("--range-nm"), QStringLiteral("100")}));
    // Pilot-provided text that would break HTML or JSON if it were pasted in.
    const QString handle = QStringLiteral("<i>\"R\"</i>\\&"), title = QStringLiteral("C172 <script>x</script>");
    FakePilot red(server.tcp, server.udp), blue(server.tcp, server.udp);
    QVERIFY(red.logon(1001, 1, handle));
    QVERIFY(blue.logon(1002, 1, QStringLiteral("Blue")));
    wire::AircraftPosition p;
    p.latitudeDeg = 47.4647;
    p.longitudeDeg = 8.5492;
    p.altitudeFt = 1416;
    p.headingDeg = 274.9;
    p.pitchDeg = -2.5;
    p.groundSpeedKt = 95.2;
    red.toServerTcp(wire::toServer::aircraftDetails(red.session, 0, title, true));
    red.toServerUdp(wire::toServer::positionUpdate(red.session, wire::encodePosition(p)));

    QJsonArray pilots;
    QVERIFY(QTest::qWaitFor(
        [&] {
            pilots = QJsonDocument::fromJson(get(server.http, "/status.json").body)[u"pilots"].toArray();
            return pilots.size() == 2 && !pilots[0][u"lat"].isNull() && !pilots[0][u"title"].isNull();
        },
        kWaitMs));
    const QJsonObject r = pilots[0].toObject(), b = pilots[1].toObject();
    QCOMPARE(r[u"pilot_id"].toInt(), 1001);
    QCOMPARE(r[u"session"].toInt(), red.session);
    QCOMPARE(r[u"handle"].toString(), handle);
    QCOMPARE(r[u"title"].toString(), title);
    QCOMPARE(r[u"engine"].toInt(), 0);
    QVERIFY(qAbs(r[u"lat"].toDouble() - 47.4647) < 1e-4 && qAbs(r[u"lon"].toDouble() - 8.5492) < 1e-4);
    QVERIFY(qAbs(r[u"alt_ft"].toDouble() - 1416) < 1 && qAbs(r[u"heading"].toDouble() - 274.9) < 0.1);
    QVERIFY(qAbs(r[u"pitch"].toDouble() + 2.5) < 0.1 && qAbs(r[u"ground_speed_kt"].toDouble() - 95.2) < 0.1);
    QCOMPARE(r[u"on_ground"].toBool(true), false);
    QVERIFY(r[u"last_position_s"].toDouble(-1) >= 0);
    for (const char* key : {"title", "engine", "lat", "lon", "alt_ft", "heading", "pitch", "bank", "on_ground",
                            "ground_speed_kt", "last_position_s"}) {
        QVERIFY2(b.contains(QLatin1String(key)) && b[QLatin1String(key)].isNull(), key);
    }
    const QJsonObject s = QJsonDocument::fromJson(get(server.http, "/status.json").body)[u"server"].toObject();
    QCOMPARE(s[u"pilots_online"].toInt(), 2);
    QVERIFY(!s[u"version"].toString().isEmpty() && s[u"uptime_s"].isDouble());

    const HttpReply m = get(server.http, "/metrics");
    QCOMPARE(m.status, 200);
    QVERIFY(m.head.contains("text/plain"));
    const QString metrics = QString::fromUtf8(m.body);
    for (const char* name : {"airmesh_pilots_online", "airmesh_records_relayed_total", "airmesh_datagrams_sent_total",
                             "airmesh_logons_accepted_total", "airmesh_logons_rejected_total",
                             "airmesh_logon_blocks_total", "airmesh_pilots_dropped_total"}) {
        QVERIFY2(metrics.contains(QStringLiteral("# HELP %1 ").arg(QLatin1String(name))), name);
        QVERIFY2(metrics.contains(QStringLiteral("# TYPE %1 ").arg(QLatin1String(name))), name);
    }
    QVERIFY(metrics.contains(u"# TYPE airmesh_pilots_online gauge\nairmesh_pilots_online 2\n"));
    QVERIFY(metrics.contains(u"airmesh_logons_accepted_total 2\n"));
    QVERIFY(metrics.contains(u"airmesh_pilots_dropped_total{reason=\"silent\"} 0\n"));
    // Every sample line is a name, maybe labels, and a number.
    const QRegularExpression sample(QStringLiteral("^[a-z_]+(\\{[a-z_]+=\"[a-z_]+\"\\})? \\d+$"));
    for (const QString& line : metrics.split(u'\n', Qt::SkipEmptyParts)) {
        QVERIFY2(line.startsWith(u"# ") || sample.match(line).hasMatch(), qPrintable(line));
    }

    const HttpReply page = get(server.http, "/");
    QCOMPARE(page.status, 200);
    QVERIFY(page.head.contains("text/html"));
    QVERIFY(page.body.contains("/status.json") && page.body.contains("textContent"));
    QVERIFY(!page.body.contains("http://") && !page.body.contains("https://") && !page.body.contains("innerHTML"));
}

void TestServerProcess::badHttpRequests_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::newRow("unknown path") << QByteArray("GET /admin HTTP/1.1\r\nHost: x\r\n\r\n") << 404;
    QTest::newRow("POST") << QByteArray("POST /status.json HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\nab") << 405;
    QTest::newRow("DELETE") << QByteArray("DELETE / HTTP/1.1\r\nHost: x\r\n\r\n") << 405;
    QTest::newRow("GET with a body") << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nabc")
                                     << 400;
    QTest::newRow("not HTTP") << QByteArray("\x01\x02 hello\r\n\r\n") << 0; // closed, no answer
    QTest::newRow("head too long") << "GET / HTTP/1.1\r\nX: " + QByteArray(200 * 1024, 'a') + "\r\n\r\n" << 0;
}

void TestServerProcess::badHttpRequests() {
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    static RunningServer* server = nullptr; // one server for all rows
    static std::unique_ptr<RunningServer> keep;
    if (!server) {
        keep = std::make_unique<RunningServer>();
        server = keep.get();
        QVERIFY(server->start({QStringLiteral("--open")}));
    }
    QCOMPARE(http(server->http, request).status, status);
    // The server is still there and answers.
    QCOMPARE(get(server->http, "/metrics").status, 200);
    QCOMPARE(server->process.state(), QProcess::Running);
}

void TestServerProcess::logonSummaryAndStop() {
    QTemporaryDir dir;
    QFile accounts(dir.filePath(QStringLiteral("pilots.txt")));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write("# the club\n7 77 Seven\n");
    accounts.close();

    QProcess server;
    server.start(QStringLiteral(AIRMESH_SERVER_BINARY),
                 {QStringLiteral("--accounts"), accounts.fileName(), QStringLiteral("--listen"),
                  QStringLiteral("127.0.0.1"), QStringLiteral("--udp-port"), QStringLiteral("0"),
                  QStringLiteral("--tcp-port"), QStringLiteral("0"), QStringLiteral("--greeting"),
                  QStringLiteral("Process test")});
    QVERIFY(server.waitForStarted(kWaitMs));
    QByteArray out;
    QVERIFY(waitForOutput(server, out, QStringLiteral("1 accounts")));
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("listening on 127.0.0.1, UDP (\\d+), TCP (\\d+)"))
            .match(QString::fromUtf8(out));
    QVERIFY2(m.hasMatch(), out.constData());
    // Timestamped lines.
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} "))
                .match(QString::fromUtf8(out))
                .hasMatch());

    {
        FakePilot pilot(m.captured(2).toUShort(), m.captured(1).toUShort());
        QVERIFY(pilot.logon(7, 77, QStringLiteral("Client name")));
        QCOMPARE(pilot.greeting.trimmed(), QStringLiteral("Process test"));
        QVERIFY(waitForOutput(server, out, QStringLiteral("logon: pilot 7 \"Seven\"")));
        ::kill(static_cast<pid_t>(server.processId()), SIGUSR1);
        QVERIFY(waitForOutput(server, out, QStringLiteral("1 pilots online; logons 1")));
        QVERIFY(out.contains("heartbeats 1"));
    }
    QVERIFY(waitForOutput(server, out, QStringLiteral("logoff: pilot 7")));

    ::kill(static_cast<pid_t>(server.processId()), SIGTERM);
    QVERIFY(server.waitForFinished(kWaitMs));
    out += server.readAllStandardOutput();
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    QVERIFY2(out.contains("summary: 0 pilots online; logons 1, rejected 0, logoffs 1"), out.constData());
}

void TestServerProcess::badAccountsFileRefused() {
    QTemporaryDir dir;
    QFile accounts(dir.filePath(QStringLiteral("pilots.txt")));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write("7 77\nseven 77\n");
    accounts.close();
    QProcess server;
    server.start(QStringLiteral(AIRMESH_SERVER_BINARY),
                 {QStringLiteral("--accounts"), accounts.fileName(), QStringLiteral("--udp-port"), QStringLiteral("0"),
                  QStringLiteral("--tcp-port"), QStringLiteral("0")});
    QVERIFY(server.waitForFinished(kWaitMs));
    QCOMPARE(server.exitCode(), 2);
    QVERIFY(server.readAllStandardError().contains("line 2: the pilot ID"));
}

void TestServerProcess::signalWatch() {
    SignalWatch watch;
    QVERIFY(watch.isActive());
    QSignalSpy summary(&watch, &SignalWatch::summaryRequested);
    QSignalSpy stop(&watch, &SignalWatch::stopRequested);
    std::raise(SIGUSR1);
    QVERIFY(summary.wait(kWaitMs));
    QCOMPARE(stop.count(), 0);
    std::raise(SIGTERM);
    QVERIFY(stop.wait(kWaitMs));
    QCOMPARE(summary.count(), 1);
    // A second watch while one is active does not take the signals over.
    SignalWatch second;
    QVERIFY(!second.isActive());
}

void TestServerProcess::openFileLimitRaisedForAThousandPilots() {
    // Started as a shell or a service would start it, with 256 open files allowed: a thousand
    // pilots and the 32 waiting connections need more, and it takes them up to the hard limit.
    const auto limitTo = [](rlim_t soft, rlim_t hard) {
        return [soft, hard] {
            rlimit l{};
            ::getrlimit(RLIMIT_NOFILE, &l);
            l.rlim_cur = soft;
            l.rlim_max = std::min(l.rlim_max, hard);
            ::setrlimit(RLIMIT_NOFILE, &l);
        };
    };
    const QStringList args{QStringLiteral("--open"), QStringLiteral("--max-pilots"), QStringLiteral("1000")};
    {
        RunningServer server;
        QVERIFY(server.start(args, limitTo(256, RLIM_INFINITY)));
        const auto [soft, hard] = openFileLimits(server.process.processId());
        if (hard != -1 && hard < 1000 + 32 + 64) {
            QSKIP("this machine's hard limit on open files is below what a thousand pilots need");
        }
        QCOMPARE(soft, 1000 + 32 + 64);
        QVERIFY(!server.out.contains("warning: only"));
    }
    {
        // A hard limit too low to raise to: said at start, with the way out.
        RunningServer server;
        QVERIFY(server.start(args, limitTo(256, 300)));
        QCOMPARE(openFileLimits(server.process.processId()).first, 300);
        QVERIFY(waitForOutput(server.process, server.out, QStringLiteral("warning: only 300 files may be open")));
        QVERIFY(server.out.contains("--max-pilots 1000 needs about 1096"));
    }
}

QTEST_GUILESS_MAIN(TestServerProcess)
#include "tst_serverprocess.moc"
