// Datagram sends through the native session, from 50 local players to a host on loopback,
// against a plain loopback UDP send loop to the same host socket in the same run; then the time
// a joiner takes to find, join and create its player in a local host's session.
#include "simlink/dplay/nativesession.h"
#include "simlink/dplay/netio.h"
#include "standin/dplay/dphost.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace airmesh;
using namespace airmesh::dplay;
using namespace airmesh::dphost;

namespace {
constexpr int kPlayers = 50;
constexpr int kSendsPerRound = 200000;
constexpr int kRounds = 5;
const QString kApp = QStringLiteral("{97C62470-5F53-4098-A8BB-7F1F93B94D93}");

NativeOptions joinerOptions(quint16 enumPort) {
    NativeOptions o;
    const QString address = QStringLiteral("127.0.0.1:%1").arg(enumPort);
    o.prompt = [address](const QString&) { return std::optional<QString>(address); };
    return o;
}

void join(NativeSession& s) {
    s.InitializeConnection(s.GetDPEnumConnections({}, 1).GetAddress(1));
    SessionData search;
    search.SetGuidApplication(kApp);
    s.Open(s.GetDPEnumSessions(search, 0, 2).GetItem(1), 1);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    HostOptions ho;
    ho.application = *parseGuid(kApp);
    ho.ownShortName = ho.ownLongName = QStringLiteral("Pilot");
    ho.maxPlayers = 0;
    ho.enumPort = 0;
    DpHost host(ho);
    QString error;
    if (!host.start(error)) {
        std::fprintf(stderr, "host: %s\n", qPrintable(error));
        return 1;
    }
    NativeSession s(joinerOptions(host.enumPort()));
    join(s);
    std::vector<qint32> players;
    for (int i = 0; i < kPlayers; ++i) {
        players.push_back(s.CreatePlayer(QStringLiteral("P%1").arg(i), QStringLiteral("P%1 P%1").arg(i), 0, 0));
    }
    SimMessage position;
    position.WriteLong(4121);
    position.WriteLong(52);
    position.writeBytes(QByteArray(52, 'p'));

    const net::Fd plain = net::udpOpen(0x7F000001, 0, false);
    const QByteArray datagram = playerMessageUdp(1, host.ownPlayer(), position.bytes());
    std::vector<double> native, bare;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < kSendsPerRound; ++i) {
            net::sendTo(plain, datagram.constData(), static_cast<int>(datagram.size()), 0x7F000001, host.udpPort());
        }
        bare.push_back(kSendsPerRound / (t.nsecsElapsed() / 1e9));
        host.takeEvents();
        t.restart();
        for (int i = 0; i < kSendsPerRound; ++i) {
            s.Send(players[static_cast<size_t>(i % kPlayers)], static_cast<qint32>(host.ownPlayer()), 0, position);
        }
        native.push_back(kSendsPerRound / (t.nsecsElapsed() / 1e9));
        host.takeEvents();
    }
    net::closeFd(plain);
    const double n = median(native), b = median(bare);
    std::printf("sends of a 60-byte position, %d local players, %d per round, median of %d rounds:\n", kPlayers,
                kSendsPerRound, kRounds);
    std::printf("  native session: %.0f sends/s\n  plain UDP loop: %.0f sends/s\n  ratio %.2f (target >= 0.50)\n", n, b,
                n / b);
    s.Close();

    std::vector<double> joins;
    for (int i = 0; i < 15; ++i) {
        QElapsedTimer t;
        t.start();
        NativeSession j(joinerOptions(host.enumPort()));
        join(j);
        j.CreatePlayer(QStringLiteral("Airmesh"), QStringLiteral("Airmesh Observer"), 0, 0);
        joins.push_back(t.nsecsElapsed() / 1e6);
    }
    std::printf("join (search, open, create the observer) against a local host: median %.1f ms, worst %.1f ms "
                "(target < 100 ms)\n",
                median(joins), *std::max_element(joins.begin(), joins.end()));
    return 0;
}
