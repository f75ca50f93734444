#include "serveroptions.h"

#include <QCommandLineParser>

#include <algorithm>
#include <limits>

namespace airmesh {
inline namespace relayserver {

namespace {

// A decimal number within [low, high], or nothing.
std::optional<qint64> number(const QString& text, qint64 low, qint64 high) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (!ok || v < low || v > high) {
        return std::nullopt;
    }
    return v;
}

} // namespace

ParsedServerOptions parseServerOptions(const QStringList& arguments) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Airmesh reference multiplayer server: logs pilots on over TCP and "
                                               "relays their traffic over UDP and TCP."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("Address to listen on (default: all)."),
                                    QStringLiteral("address"));
    const QCommandLineOption udpPort(QStringLiteral("udp-port"),
                                     QStringLiteral("UDP port (default 1500; 0 picks a free one)."),
                                     QStringLiteral("port"), QStringLiteral("1500"));
    const QCommandLineOption tcpPort(QStringLiteral("tcp-port"),
                                     QStringLiteral("TCP port (default 1502; 0 picks a free one)."),
                                     QStringLiteral("port"), QStringLiteral("1502"));
    const QCommandLineOption accounts(QStringLiteral("accounts"),
                                      QStringLiteral("Pilot accounts file: lines of \"<pilot id> <password> "
                                                     "[handle]\", # starts a comment line."),
                                      QStringLiteral("file"));
    const QCommandLineOption open(QStringLiteral("open"), QStringLiteral("Accept any numeric pilot ID and password."));
    const QCommandLineOption greeting(QStringLiteral("greeting"),
                                      QStringLiteral("Greeting sent at logon (40 characters at most)."),
                                      QStringLiteral("text"), QStringLiteral("Welcome to Airmesh"));
    const QCommandLineOption maxPilots(QStringLiteral("max-pilots"),
                                       QStringLiteral("Pilots logged on at once (default 128)."), QStringLiteral("n"),
                                       QStringLiteral("128"));
    const QCommandLineOption silence(QStringLiteral("silence-timeout"),
                                     QStringLiteral("Seconds without a valid record before a pilot is dropped "
                                                    "(default 60)."),
                                     QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption clientUdp(QStringLiteral("client-udp-port"),
                                       QStringLiteral("The clients' UDP port for a logon rejection when none has "
                                                      "been seen from the client's address (default 1501)."),
                                       QStringLiteral("port"), QStringLiteral("1501"));
    const QCommandLineOption maxQueue(QStringLiteral("max-queue-kib"),
                                      QStringLiteral("Unsent TCP data per pilot before he is dropped as not "
                                                     "reading (KiB, default 256)."),
                                      QStringLiteral("kib"), QStringLiteral("256"));
    const QCommandLineOption logonFailures(QStringLiteral("logon-failures"),
                                           QStringLiteral("Rejected logons from one address within a minute before "
                                                          "its logons are refused unchecked for a while (default 5; "
                                                          "0: no limit)."),
                                           QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption logonBlock(QStringLiteral("logon-block"),
                                        QStringLiteral("Seconds of an address's first logon block; each further "
                                                       "block lasts twice as long, up to an hour (default 60)."),
                                        QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption rangeNm(QStringLiteral("range-nm"),
                                     QStringLiteral("Send a pilot's positions only to the pilots within this many "
                                                    "nautical miles of him (default 0: to everybody)."),
                                     QStringLiteral("nm"), QStringLiteral("0"));
    const QCommandLineOption httpPort(QStringLiteral("http-port"),
                                      QStringLiteral("Port of the status page (/, /status.json, /metrics) on the "
                                                     "--listen address (default 0: none)."),
                                      QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption addPilot(QStringLiteral("add-pilot"),
                                      QStringLiteral("Write this pilot into the --accounts file with a hash of the "
                                                     "password read from standard input, and end."),
                                      QStringLiteral("id"));
    const QCommandLineOption handle(QStringLiteral("handle"),
                                    QStringLiteral("With --add-pilot: the handle the other pilots see."),
                                    QStringLiteral("name"));
    p.addOptions({help, listen, udpPort, tcpPort, accounts, open, greeting, maxPilots, silence, clientUdp, maxQueue,
                  logonFailures, logonBlock, rangeNm, httpPort, addPilot, handle});

    const auto fail = [&](const QString& what) {
        return ParsedServerOptions{std::nullopt, what + QStringLiteral("\n\n") + p.helpText(), 2};
    };
    if (!p.parse(arguments)) {
        return fail(p.errorText());
    }
    if (p.isSet(help)) {
        return {std::nullopt, p.helpText(), 0};
    }
    if (!p.positionalArguments().isEmpty()) {
        return fail(QStringLiteral("Unexpected argument: %1").arg(p.positionalArguments().first()));
    }

    ServerOptions o;
    if (p.isSet(listen) && !o.config.listenAddress.setAddress(p.value(listen))) {
        return fail(QStringLiteral("--listen: not an IP address: %1").arg(p.value(listen)));
    }
    const auto port = [&](const QCommandLineOption& opt, qint64 low) { return number(p.value(opt), low, 65535); };
    const std::optional<qint64> udp = port(udpPort, 0);
    const std::optional<qint64> tcp = port(tcpPort, 0);
    const std::optional<qint64> client = port(clientUdp, 1);
    const std::optional<qint64> pilots = number(p.value(maxPilots), 1, 100000);
    const std::optional<qint64> seconds = number(p.value(silence), 1, 86400);
    const std::optional<qint64> kib = number(p.value(maxQueue), 1, qint64{1024} * 1024);
    const std::optional<qint64> failures = number(p.value(logonFailures), 0, 1000);
    const std::optional<qint64> block = number(p.value(logonBlock), 1, 86400);
    if (!udp || !tcp || !client) {
        return fail(QStringLiteral("Ports are numbers from 1 to 65535 (0 for a free server port)."));
    }
    if (!pilots || !seconds || !kib) {
        return fail(QStringLiteral("--max-pilots, --silence-timeout and --max-queue-kib take positive numbers."));
    }
    if (!failures || !block) {
        return fail(QStringLiteral("--logon-failures takes a number from 0 to 1000, --logon-block seconds from 1 to "
                                   "86400."));
    }
    bool rangeOk = false;
    const double range = p.value(rangeNm).toDouble(&rangeOk);
    if (!rangeOk || !(range >= 0 && range <= 20000)) {
        return fail(QStringLiteral("--range-nm takes nautical miles from 0 to 20000."));
    }
    const std::optional<qint64> http = port(httpPort, 0);
    if (!http) {
        return fail(QStringLiteral("--http-port takes a port from 1 to 65535 (0: no status page)."));
    }
    if (p.isSet(addPilot)) {
        const std::optional<qint64> id =
            number(p.value(addPilot), std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
        if (!id || !p.isSet(accounts)) {
            return fail(QStringLiteral("--add-pilot takes a 32-bit pilot ID and needs --accounts <file>."));
        }
        if (p.value(handle).trimmed().size() > Accounts::kMaxHandleChars) {
            return fail(QStringLiteral("--handle: at most %1 characters.").arg(Accounts::kMaxHandleChars));
        }
        o.addPilot = static_cast<qint32>(*id);
        o.addHandle = p.value(handle).trimmed();
        o.accountsPath = p.value(accounts);
        return {o, {}, 0};
    }
    if (p.isSet(handle)) {
        return fail(QStringLiteral("--handle goes with --add-pilot."));
    }
    if (p.isSet(open) == p.isSet(accounts)) {
        return fail(QStringLiteral("Give either --accounts <file> or --open."));
    }
    if (p.value(greeting).size() > RelayCore::kMaxGreetingChars) {
        return fail(QStringLiteral("--greeting: at most %1 characters.").arg(RelayCore::kMaxGreetingChars));
    }
    o.config.udpPort = static_cast<quint16>(*udp);
    o.config.tcpPort = static_cast<quint16>(*tcp);
    o.config.maxQueuedBytes = *kib * 1024;
    o.config.limits.defaultClientUdpPort = static_cast<quint16>(*client);
    o.config.limits.maxPilots = static_cast<int>(*pilots);
    o.config.limits.silenceSeconds = static_cast<int>(*seconds);
    o.config.limits.greeting = p.value(greeting);
    o.config.limits.logonGuard.maxFailures = static_cast<int>(*failures);
    o.config.limits.logonGuard.firstBlockSeconds = static_cast<int>(*block);
    o.config.limits.logonGuard.maxBlockSeconds = std::max(3600, static_cast<int>(*block));
    o.config.limits.rangeNm = range;
    o.httpPort = static_cast<quint16>(*http);
    o.openMode = p.isSet(open);
    o.accountsPath = p.value(accounts);
    return {o, {}, 0};
}

} // namespace relayserver
} // namespace airmesh
