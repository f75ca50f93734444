// fs-standin: a program that hosts the simulator's multiplayer session the way the simulator
// does, on the wire (DirectPlay 4 over TCP/IP), with the simulator's side of the conversation:
// it accepts the observer, answers the aircraft query, flies the user's aircraft along a
// circuit, approves remote players, and prints one line per event it sees. Commands on
// standard input: "chat TEXT", "crash", "aircraft TITLE ENGINE", "quit".
#include "core/stdinlines.h"
#include "core/stopsignals.h"
#include "standin/dplay/dphost.h"
#include "standin/standin.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <vector>

using namespace airmesh;
using namespace airmesh::dplay;
using namespace airmesh::dphost;

namespace {

const QString kFirstGuid = QStringLiteral("{97C62470-5F53-4098-A8BB-7F1F93B94D93}");
const QString kSecondGuid = QStringLiteral("{1F0CB318-F159-432F-8C38-8CE753A03CDA}");

void printLine(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

// The stand-in's view of the session: the host role's own player.
class HostPort final : public StandinPort {
public:
    explicit HostPort(DpHost& host) : m_host(host) {}
    qint32 ownPlayer() const override { return static_cast<qint32>(m_host.ownPlayer()); }
    void sendFromOwn(qint32 to, const SimMessage& m) override {
        m_host.sendFromOwn(static_cast<quint32>(to), m.bytes());
    }
    QString shortName(qint32 player) const override { return m_host.shortName(static_cast<quint32>(player)); }

private:
    DpHost& m_host;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fs-standin"));

    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Hosts a multiplayer session on the wire as FS2000/FS2002 does."));
    cli.addHelpOption();
    const QCommandLineOption handle(QStringLiteral("handle"),
                                    QStringLiteral("The user's handle: the own player's name."), QStringLiteral("name"),
                                    QStringLiteral("Pilot"));
    const QCommandLineOption second(QStringLiteral("second-guid"),
                                    QStringLiteral("Host under the second application identifier."));
    const QCommandLineOption name(QStringLiteral("session-name"), QStringLiteral("The session's name."),
                                  QStringLiteral("text"), QStringLiteral("FS Session"));
    const QCommandLineOption maxPlayers(QStringLiteral("max-players"), QStringLiteral("Players at most (FS2002: 16)."),
                                        QStringLiteral("n"), QStringLiteral("16"));
    const QCommandLineOption wide(
        QStringLiteral("wide"),
        QStringLiteral("The layout of 64-bit DirectPlay builds: the session description in 88 bytes, the "
                       "security description in 32 (default: 80 and 24, as the 32-bit simulator)."));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("A session password."),
                                      QStringLiteral("text"));
    const QCommandLineOption enumPort(QStringLiteral("enum-port"), QStringLiteral("UDP port for session searches."),
                                      QStringLiteral("port"), QString::number(kEnumPort));
    const QCommandLineOption observer(QStringLiteral("observer"),
                                      QStringLiteral("Answer to the observer: accept, refuse or silent."),
                                      QStringLiteral("answer"), QStringLiteral("accept"));
    const QCommandLineOption reject(QStringLiteral("reject-players"),
                                    QStringLiteral("Reject remote players (4101) instead of approving them."));
    const QCommandLineOption title(QStringLiteral("title"), QStringLiteral("The user's aircraft title."),
                                   QStringLiteral("text"), QStringLiteral("Cessna Skyhawk 172SP"));
    const QCommandLineOption engine(QStringLiteral("engine"),
                                    QStringLiteral("Its engine type (0 piston, 1 jet, 2 none, 3 helo turbine)."),
                                    QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption rate(QStringLiteral("rate"), QStringLiteral("Positions sent to the observer per second."),
                                  QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption report(QStringLiteral("report-seconds"),
                                    QStringLiteral("How often position counts are printed."), QStringLiteral("s"),
                                    QStringLiteral("5"));
    const QCommandLineOption quiet(QStringLiteral("quiet-session"),
                                   QStringLiteral("Do not print the session layer's own log lines."));
    const QCommandLineOption stamp(
        QStringLiteral("stamp-positions"),
        QStringLiteral("Latency measurement: put the send time in the own position blocks (microseconds, the low 32 "
                       "bits in the application time at +4, the high 32 bits in the reserved bytes at +24; position "
                       "and speeds stay as flown) and time the stamped positions of remote players."));
    const QCommandLineOption latencyLog(
        QStringLiteral("latency-log"),
        QStringLiteral(
            "With --stamp-positions: write one line per received position: the player's name, its send time and its "
            "delay in microseconds, tab-separated, to this file (default: a percentile summary per player at exit)."),
        QStringLiteral("file"));
    cli.addOptions({handle, second, name, maxPlayers, wide, password, enumPort, observer, reject, title, engine, rate,
                    report, quiet, stamp, latencyLog});
    cli.process(app);

    HostOptions ho;
    ho.application = *parseGuid(cli.isSet(second) ? kSecondGuid : kFirstGuid);
    ho.sessionName = cli.value(name);
    ho.maxPlayers = cli.value(maxPlayers).toUInt();
    ho.wideDescription = cli.isSet(wide);
    ho.password = cli.value(password);
    ho.enumPort = static_cast<quint16>(cli.value(enumPort).toUInt());
    ho.ownShortName = cli.value(handle);
    ho.ownLongName = cli.value(handle);
    if (!cli.isSet(quiet)) {
        ho.log = [](const QString& line) { printLine(QStringLiteral("session: ") + line); };
    }
    DpHost host(ho);
    QString error;
    if (!host.start(error)) {
        printLine(QStringLiteral("cannot host the session: ") + error);
        return 1;
    }
    host.addGroup(QStringLiteral("FS61_REQUEST_PARAMS"));
    host.addGroup(QStringLiteral("FS61_REFUSE_PARAMS"));

    StandinOptions so;
    const QString answer = cli.value(observer).toLower();
    so.observerAnswer = answer == QLatin1String("refuse")   ? StandinOptions::ObserverAnswer::Refuse
                        : answer == QLatin1String("silent") ? StandinOptions::ObserverAnswer::Silent
                                                            : StandinOptions::ObserverAnswer::Accept;
    so.approvePlayers = !cli.isSet(reject);
    so.title = cli.value(title);
    so.engineType = cli.value(engine).toInt();
    so.positionsPerSecond = cli.value(rate).toDouble();
    so.reportSeconds = std::max(1, cli.value(report).toInt());
    so.chatNumber = cli.isSet(second) ? SimMsg::ChatMessageAlt : SimMsg::ChatMessage;
    // The monotonic clock is one for every process on the machine, so a stamp from another
    // program's stand-in can be compared with our own reading.
    std::map<QString, std::vector<qint64>> delays;
    std::FILE* latencyFile = nullptr;
    if (cli.isSet(stamp)) {
        so.stampMicros = [] {
            return std::chrono::duration_cast<std::chrono::microseconds>(
                       std::chrono::steady_clock::now().time_since_epoch())
                .count();
        };
        if (cli.isSet(latencyLog)) {
            latencyFile = std::fopen(qPrintable(cli.value(latencyLog)), "w");
            if (!latencyFile) {
                printLine(QStringLiteral("cannot write ") + cli.value(latencyLog));
                return 1;
            }
        }
        so.positionLatency = [&](const QString& player, qint64 micros) {
            if (latencyFile) {
                const long long sent = so.stampMicros() - micros;
                std::fprintf(latencyFile, "%s\t%lld\t%lld\n", qPrintable(player), sent, static_cast<long long>(micros));
            } else if (delays[player].size() < 10'000'000) {
                delays[player].push_back(micros);
            }
        };
    }
    SystemClock clock;
    HostPort port(host);
    SimulatorStandin standin(port, clock, so, printLine);

    // The session's events reach the stand-in on this thread.
    std::atomic<bool> posted{false};
    const auto drain = [&] {
        posted = false;
        for (const DpHost::Event& e : host.takeEvents()) {
            switch (e.kind) {
            case DpHost::Event::PlayerCreated:
                standin.playerCreated(static_cast<qint32>(e.id), e.shortName, e.longName);
                break;
            case DpHost::Event::PlayerDestroyed:
                standin.playerDestroyed(static_cast<qint32>(e.id));
                break;
            case DpHost::Event::Message:
                standin.messageReceived(static_cast<qint32>(e.id), static_cast<qint32>(e.to), e.bytes);
                break;
            case DpHost::Event::MachineJoined:
                printLine(QStringLiteral("machine joined the session (id 0x%1)").arg(e.id, 8, 16, QLatin1Char('0')));
                break;
            case DpHost::Event::MachineLeft:
                printLine(QStringLiteral("machine left the session (id 0x%1)").arg(e.id, 8, 16, QLatin1Char('0')));
                break;
            }
        }
    };
    host.notify = [&] {
        if (!posted.exchange(true)) {
            QMetaObject::invokeMethod(&app, drain, Qt::QueuedConnection);
        }
    };
    QObject::connect(&standin, &SimulatorStandin::quitRequested, &app, &QCoreApplication::quit);
    standin.start();

    // Commands on standard input; its end leaves the session running.
    StdinLines input;
    QObject::connect(&input, &StdinLines::lineRead, &app, [&](const QString& line) {
        if (!line.trimmed().isEmpty()) {
            standin.executeCommand(line.trimmed());
        }
    });

    // A stop request from the console (SIGINT, SIGTERM; Ctrl+C on Windows) ends it cleanly, as
    // "quit" does.
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app, &QCoreApplication::quit);

    printLine(QStringLiteral("hosting \"%1\" under %2: session searches on UDP %3, TCP %4, UDP %5; own player %6")
                  .arg(ho.sessionName, guidText(ho.application))
                  .arg(host.enumPort())
                  .arg(host.tcpPort())
                  .arg(host.udpPort())
                  .arg(ho.ownShortName));
    const int rc = QCoreApplication::exec();
    standin.stop();
    host.notify = nullptr;
    host.stop();
    if (latencyFile) {
        std::fclose(latencyFile);
    }
    for (auto& entry : delays) {
        const auto& player = entry.first;
        auto& d = entry.second;
        std::sort(d.begin(), d.end());
        const auto at = [&d](double q) {
            return d[std::min(d.size() - 1, static_cast<size_t>(q * static_cast<double>(d.size())))];
        };
        printLine(QStringLiteral("latency: %1 %2 positions, median %3 us, p99 %4 us, max %5 us")
                      .arg(player)
                      .arg(d.size())
                      .arg(at(0.5))
                      .arg(at(0.99))
                      .arg(d.back()));
    }
    printLine(QStringLiteral("fs-standin stopped"));
    return rc;
}
