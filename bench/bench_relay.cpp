// Position updates from the server into the simulator: records through the real UDP socket,
// the receive gate and Process_Packet into the in-memory session's send, for 50 remote pilots,
// next to a plain loopback UDP receive loop measured in the same run with the same traffic.
//
// Usage: bench_relay [records, default 200000]

#include "../tests/common/linkrig.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace airmesh;
using namespace airmesh::wire;

namespace {

constexpr int kPilots = 50;
constexpr int kBurst = 50; // datagrams in flight at once: well inside the socket's buffer

// Sends `total` datagrams in bursts to `port` and lets events run until `handled()` has counted
// each burst. Returns records per second.
template <typename Handled>
double run(QUdpSocket& from, quint16 port, const QList<QByteArray>& records, int total, Handled handled) {
    QElapsedTimer t;
    t.start();
    int sent = 0;
    while (sent < total) {
        for (int i = 0; i < kBurst && sent < total; ++i, ++sent) {
            from.writeDatagram(records[sent % records.size()], QHostAddress::LocalHost, port);
        }
        QElapsedTimer guard;
        guard.start();
        while (handled() < sent) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            if (guard.elapsed() > 5000) {
                std::fprintf(stderr, "datagrams lost: %d of %d handled\n", handled(), sent);
                return 0;
            }
        }
    }
    return total / (t.nsecsElapsed() / 1e9);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? std::atoi(argv[1]) : 200000;

    LinkRig rig;
    rig.services.blnDebug = false; // the relay as a user runs it most of the time: quiet
    rig.services.blnDebugLowLevel = false;
    if (!rig.logon()) {
        std::fprintf(stderr, "logon failed\n");
        return 1;
    }
    for (int i = 0; i < kPilots; ++i) {
        if (rig.readyPilot(100 + i, QStringLiteral("Pilot%1").arg(i)) == 0) {
            std::fprintf(stderr, "pilot %d not ready\n", i);
            return 1;
        }
    }
    QList<QByteArray> records;
    for (int i = 0; i < kPilots; ++i) {
        records.append(toClient::positionUpdate(100 + i, QByteArray(52, static_cast<char>(i))).toBytes());
    }

    // Each position becomes one message into the simulator, from that pilot's player.
    int injected = 0;
    rig.world.onSendToHost = [&](const MemoryWorld::Sent&) {
        if (++injected % 4096 == 0) {
            (void)rig.world.takeSentToHost(); // keep the record of sends from growing
        }
    };
    (void)rig.world.takeSentToHost();

    // The plain loop: a bare socket that reads every datagram and counts it.
    QUdpSocket plain;
    plain.bind(QHostAddress::LocalHost, 0);
    int plainCount = 0;
    QObject::connect(&plain, &QUdpSocket::readyRead, [&] {
        while (plain.hasPendingDatagrams()) {
            (void)plain.receiveDatagram();
            ++plainCount;
        }
    });

    // Warm-up of both paths, then alternate runs; medians.
    run(rig.server.udp, plain.localPort(), records, 5000, [&] { return plainCount; });
    plainCount = 0;
    injected = 0;
    run(rig.server.udp, rig.clientPort, records, 5000, [&] { return injected; });
    QList<double> ours, bare;
    for (int round = 0; round < 5; ++round) {
        plainCount = 0;
        bare.append(run(rig.server.udp, plain.localPort(), records, total / 5, [&] { return plainCount; }));
        injected = 0;
        ours.append(run(rig.server.udp, rig.clientPort, records, total / 5, [&] { return injected; }));
    }
    std::sort(ours.begin(), ours.end());
    std::sort(bare.begin(), bare.end());
    const double o = ours[2], b = bare[2];
    std::printf("pilots %d, records %d in 5 rounds\n", kPilots, total);
    std::printf("relay into the session   median %10.0f records/s\n", o);
    std::printf("plain UDP receive loop   median %10.0f records/s\n", b);
    std::printf("ratio %.2f (target at least 0.5)\n", b > 0 ? o / b : 0.0);
    return 0;
}
