// airmesh-server: the reference multiplayer server, on the console.
#include "relayserver/openfiles.h"
#include "relayserver/relayserver.h"
#include "relayserver/serveroptions.h"
#include "relayserver/signalwatch.h"
#include "relayserver/statushttp.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

using namespace airmesh;

namespace {

// Open files besides the pilots' connections: the sockets, the status page's clients, the log.
constexpr long long kOtherOpenFiles = 64;

void out(FILE* to, const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), to);
    std::fflush(to);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("airmesh-server"));

    const ParsedServerOptions parsed = parseServerOptions(QCoreApplication::arguments());
    if (!parsed.options) {
        out(parsed.exitCode == 0 ? stdout : stderr, parsed.message);
        return parsed.exitCode;
    }
    const ServerOptions& o = *parsed.options;
    if (o.addPilot) {
        // The password's digits on standard input (a terminal echoes them; a pipe does not).
        std::string line;
        std::getline(std::cin, line);
        bool ok = false;
        const qint32 password = QByteArray::fromStdString(line).trimmed().toInt(&ok, 10);
        if (!ok) {
            out(stderr,
                QStringLiteral("airmesh-server: the password on standard input is not a 32-bit decimal number"));
            return 2;
        }
        const QString error = Accounts::addPilot(o.accountsPath, *o.addPilot, password,
                                                 o.addHandle.isEmpty() ? std::nullopt : std::optional(o.addHandle));
        if (!error.isEmpty()) {
            out(stderr, QStringLiteral("airmesh-server: %1").arg(error));
            return 1;
        }
        out(stdout,
            QStringLiteral("pilot %1 written to %2 with a hashed password").arg(*o.addPilot).arg(o.accountsPath));
        return 0;
    }
    Accounts accounts = Accounts::open();
    if (!o.openMode) {
        Accounts::ParseResult loaded = Accounts::load(o.accountsPath);
        if (!loaded.errors.isEmpty()) {
            out(stderr, QStringLiteral("airmesh-server: %1: %2").arg(o.accountsPath, loaded.errors.join(u"; ")));
            return 2;
        }
        accounts = std::move(loaded.accounts);
    }
    QStringList plainIds;
    for (const qint32 id : accounts.plainPilotIds()) {
        plainIds.append(QString::number(id));
    }

    const qsizetype accountCount = accounts.size();
    SystemClock clock;
    const auto stamped = [&clock](const QString& text) {
        return clock.now().toString(Qt::ISODateWithMs) + u' ' + text;
    };
    RelayServer server(o.config, std::move(accounts), clock, [](const QString& line) { out(stdout, line); });
    // The counts and a line per pilot, each line stamped.
    const auto printSummary = [&] {
        for (const QString& line : server.core().summary().split(u'\n')) {
            out(stdout, stamped(line));
        }
    };
    SignalWatch signalWatch;
    QObject::connect(&signalWatch, &SignalWatch::summaryRequested, printSummary);
    QObject::connect(&signalWatch, &SignalWatch::stopRequested, &app, &QCoreApplication::quit);

    // A file per pilot and per connection waiting for its logon, and room for the rest (the
    // sockets, the status page's clients, the log).
    const long long filesWanted =
        qint64{o.config.limits.maxPilots} + o.config.limits.maxPendingConnections + kOtherOpenFiles;
    const long long filesAllowed = raiseOpenFileLimit(filesWanted);

    QString error;
    if (!server.start(&error)) {
        out(stderr, QStringLiteral("airmesh-server: cannot listen: %1").arg(error));
        return 1;
    }
    std::unique_ptr<StatusHttp> http;
    if (o.httpPort != 0) {
        http = std::make_unique<StatusHttp>(server.core(), clock, QStringLiteral(AIRMESH_VERSION));
        if (!http->start(o.config.listenAddress, o.httpPort, &error)) {
            out(stderr, QStringLiteral("airmesh-server: cannot listen: %1").arg(error));
            return 1;
        }
    }
    out(stdout, stamped(QStringLiteral("airmesh-server listening on %1, UDP %2, TCP %3%5, %4")
                            .arg(o.config.listenAddress.toString())
                            .arg(server.udpPort())
                            .arg(server.tcpPort())
                            .arg(o.openMode ? QStringLiteral("open to any pilot")
                                            : QStringLiteral("%1 accounts").arg(accountCount))
                            .arg(http ? QStringLiteral(", HTTP %1").arg(http->port()) : QString())));
    if (filesAllowed >= 0 && filesAllowed < filesWanted) {
        out(stdout,
            stamped(QStringLiteral("warning: only %1 files may be open at once, and --max-pilots %2 needs about "
                                   "%3; raise the limit (ulimit -n, or LimitNOFILE= for the service)")
                        .arg(filesAllowed)
                        .arg(o.config.limits.maxPilots)
                        .arg(filesWanted)));
    }
    if (!plainIds.isEmpty()) {
        out(stdout, stamped(QStringLiteral("warning: %1 holds plain passwords for pilots %2; replace them with hashed "
                                           "lines (airmesh-server --accounts FILE --add-pilot ID)")
                                .arg(o.accountsPath, plainIds.join(QStringLiteral(", ")))));
    }
    const int rc = QCoreApplication::exec();
    printSummary();
    return rc;
}
