// The program itself: start-up line, logon log lines, the summary on SIGUSR1 and on SIGTERM,
// and refusal of a bad accounts file. Also the signal watch on its own.
#include "relayserver/signalwatch.h"
#include "serverrig.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>

using namespace airmesh;

class TestServerProcess : public QObject {
    Q_OBJECT
private slots:
    void logonSummaryAndStop();
    void badAccountsFileRefused();
    void signalWatch();
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

} // namespace

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

QTEST_GUILESS_MAIN(TestServerProcess)
#include "tst_serverprocess.moc"
