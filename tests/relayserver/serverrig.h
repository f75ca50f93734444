#pragma once

// A reference server on loopback with a manual clock, and fake pilots that talk to it over
// real sockets the way the client does.

#include "fakes/fakepilot.h"
#include "relayserver/relayserver.h"

#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <QNetworkDatagram>

#include <algorithm>
#include <memory>
#include <optional>

namespace airmesh {

inline constexpr int kWaitMs = 5000; // bound on every wait for a loopback event

struct ServerRig {
    ManualClock clock;
    QStringList log;
    std::unique_ptr<RelayServer> server;

    explicit ServerRig(Accounts accounts = Accounts::open(), RelayServerConfig config = defaultConfig()) {
        server = std::make_unique<RelayServer>(std::move(config), std::move(accounts), clock,
                                               [this](const QString& line) { log.append(line); });
        QString error;
        if (!server->start(&error)) {
            qFatal("server did not start: %s", qPrintable(error));
        }
    }
    static RelayServerConfig defaultConfig() {
        RelayServerConfig c;
        c.listenAddress = QHostAddress::LocalHost;
        c.udpPort = 0;
        c.tcpPort = 0;
        c.limits.greeting = QStringLiteral("Hello from the test server");
        return c;
    }
    std::unique_ptr<FakePilot> pilot(const QHostAddress& local = QHostAddress::LocalHost) {
        return std::make_unique<FakePilot>(server->tcpPort(), server->udpPort(), local);
    }
    // A pilot logged on with a known UDP endpoint.
    std::unique_ptr<FakePilot> loggedOn(qint32 pilotId, const QString& handle) {
        auto p = pilot();
        if (!p->logon(pilotId, 1, handle)) {
            qFatal("pilot %d could not log on", pilotId);
        }
        return p;
    }
    bool logHas(const QString& part) const {
        return std::any_of(log.cbegin(), log.cend(), [&](const QString& l) { return l.contains(part); });
    }
};

} // namespace airmesh
