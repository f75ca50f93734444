// bench_e2e_client: the client's engine without windows, for the end-to-end latency benchmark:
// the simulator link on the native session joins a simulator (fs-standin), the server link logs
// on to airmesh-server, and the relay with Timer1 runs between them exactly as in the client.
// Prints "joined", "logged on <session>" and "message: ..." lines; SIGTERM or SIGINT quit.
//
//   bench_e2e_client --session-host localhost:47624 --server 127.0.0.1 --udp-port U --tcp-port T
//                    --pilot-id N --password P [--folder DIR] [--traffic-window [--no-scope]]
#include "core/clientservices.h"
#include "registry/players.h"
#include "relay/clientwiring.h"
#include "serverlink/serverlink.h"
#include "simlink/dplay/nativesession.h"
#include "simlink/simlink.h"

#include "ui/frmtraffic.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

using namespace airmesh;

namespace {

void printLine(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

class PrintedMessages final : public MessageBoxService {
public:
    void showMessage(const QString& text, const QString& title) override {
        printLine(QStringLiteral("message: %1: %2").arg(title, text));
    }
};

int g_signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &c, 1);
}

} // namespace

int main(int argc, char** argv) {
    // The Traffic window needs the widgets; without it the program is the engine alone, as in
    // the client before its window loads anything else.
    bool withWindow = false;
    for (int i = 1; i < argc; ++i) {
        withWindow = withWindow || std::strcmp(argv[i], "--traffic-window") == 0;
    }
    if (withWindow && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    std::unique_ptr<QCoreApplication> application =
        withWindow ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCommandLineParser cli;
    const QCommandLineOption sessionHost(QStringLiteral("session-host"), QStringLiteral("Simulator host[:port]."),
                                         QStringLiteral("address"), QStringLiteral("localhost"));
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("Server address."),
                                    QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption udp(QStringLiteral("udp-port"), QStringLiteral("Server UDP port."), QStringLiteral("n"));
    const QCommandLineOption tcp(QStringLiteral("tcp-port"), QStringLiteral("Server TCP port."), QStringLiteral("n"));
    const QCommandLineOption pilot(QStringLiteral("pilot-id"), QStringLiteral("Pilot ID."), QStringLiteral("n"),
                                   QStringLiteral("1"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password."), QStringLiteral("n"),
                                      QStringLiteral("1"));
    const QCommandLineOption folder(QStringLiteral("folder"), QStringLiteral("Settings and log folder."),
                                    QStringLiteral("dir"), QDir::currentPath());
    const QCommandLineOption traffic(QStringLiteral("traffic-window"), QStringLiteral("Show the Traffic window."));
    const QCommandLineOption noScope(QStringLiteral("no-scope"),
                                     QStringLiteral("Its table alone, the scope folded away."));
    cli.addOptions({sessionHost, server, udp, tcp, pilot, password, folder, traffic, noScope});
    cli.process(app);

    const QDir dir(cli.value(folder));
    INIFiles ini(dir.filePath(QStringLiteral("AirmeshClient.ini")));
    SystemClock clock;
    ActivityLog log(clock, dir.filePath(QStringLiteral("log.txt")));
    SilentSoundOutput soundOut;
    SoundCues sound(dir.path(), soundOut);
    PrintedMessages boxes;
    ClientServices services{ini, log, clock, sound, boxes, false, false};

    Players players;
    NoWindowSystem windows;
    SimLink sim(services, players, windows);
    ClientWiring wiring(services, sim, players);
    ServerLink& link = wiring.link();
    Relay& relay = wiring.relay();
    ClientEngine& engine = wiring.engine();
    wiring.setOnEnded([] { QCoreApplication::exit(2); });

    dplay::NativeOptions native;
    native.suggestedAddress = cli.value(sessionHost);
    dplay::NativeSessionFactory sessions(native);
    if (!sim.Join_Session(sessions)) {
        printLine(QStringLiteral("join failed"));
        return 1;
    }
    printLine(QStringLiteral("joined"));
    engine.windowLoaded();
    QObject::connect(&link, &ServerLink::stateChanged, &app, [&] {
        static bool said = false;
        if (link.blnConnected() && !said) {
            said = true;
            printLine(QStringLiteral("logged on %1").arg(link.lngSessionID()));
        }
    });
    ServerSettings logon;
    logon.host = cli.value(server);
    logon.serverUdpPort = cli.value(udp).toInt();
    logon.clientUdpPort = 0;
    logon.serverTcpPort = cli.value(tcp).toInt();
    logon.pilotId = cli.value(pilot);
    logon.password = cli.value(password);
    link.Connect(logon);
    std::unique_ptr<FrmTraffic> window;
    if (withWindow) {
        window = std::make_unique<FrmTraffic>(services, players, relay);
        window->setScopeShown(!cli.isSet(noScope));
        window->show();
    }

    if (socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        std::signal(SIGINT, onSignal);
        std::signal(SIGTERM, onSignal);
    }
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    const int rc = QCoreApplication::exec();
    engine.quit();
    link.hangUp();
    return rc;
}
