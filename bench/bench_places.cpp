// Who is shown when the simulator's session is crowded: one full pass of the place keeping over
// 500 pilots online (their blocks decoded, distances from the user, ranked, the plan made) with
// 14 places, the rules alone on the same pilots, and what a waiting pilot costs in memory.
#include "fakes/fakefaultysession.h"
#include "fakes/fakerelayoutput.h"
#include "fakes/joinedclient.h"
#include "fakes/servicesrig.h"
#include "relay/places.h"
#include "relay/relay.h"
#include "simlink/simcodec.h"
#include "standin/memorysession.h"
#include "wire/positionblock.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cmath>
#include <memory>

using namespace airmesh;

namespace {

QByteArray at(int i) {
    wire::AircraftPosition p;
    p.latitudeDeg = 47.45 + (i % 25) * 0.12;
    p.longitudeDeg = -122.31 + (i / 25) * 0.15;
    p.altitudeFt = 3000;
    p.groundSpeedKt = 120;
    return wire::encodePosition(p, static_cast<quint32>(i));
}

// The client logged on to a server with `pilots` online, every one with his aircraft and a
// position, in a session that holds 14 of them.
struct Crowd {
    ServicesRig rig;
    Players players;
    NoWindowSystem windows;
    MemoryWorld world;
    MemorySessionFactory sessions{world};
    QByteArray fs = world.hostSession(SimLink::kFirstAppGuid, QStringLiteral("FS"), {}, 16);
    qint32 host = world.addHostPlayer(fs, QStringLiteral("Ace"));
    SimLink sim{rig.services, players, windows};
    FakeRelayOutput out;
    Relay relay{rig.services, sim, players, out};

    explicit Crowd(int pilots) {
        world.addGroup(fs, QStringLiteral("FS61_REQUEST_PARAMS"));
        sim.setHandler(&relay);
        const qint32 observer = joinAsTheJoinWould(sim, sessions, host);
        SimMessage own;
        sim::writePositionUpdate(own, at(0));
        world.sendFromHost(host, observer, own);
        sim.pumpMessages();
        for (int i = 1; i <= pilots; ++i) {
            relay.playerJoined(i, QStringLiteral("Pilot%1").arg(i));
            relay.aircraftDetails(i, 0, QStringLiteral("Cessna Skyhawk 172SP"));
            relay.positionUpdate(i, at(i));
        }
        // Settled: the nearest are shown and have been for long.
        for (int k = 0; k < 20; ++k) {
            rig.clock.advanceMs(places::kPassIntervalMs);
            relay.keepPlaces();
        }
        (void)world.takeSentToHost();
    }
};

void BM_FullPass(benchmark::State& state) {
    Crowd c(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        c.rig.clock.advanceMs(places::kPassIntervalMs);
        c.relay.keepPlaces();
    }
    state.counters["shown"] = static_cast<double>(c.world.playersIn(c.fs).size() - 2);
}
BENCHMARK(BM_FullPass)->Arg(64)->Arg(500)->Arg(2000)->Unit(benchmark::kMicrosecond);

void BM_RulesAlone(benchmark::State& state) {
    std::vector<places::Candidate> pilots;
    for (int i = 0; i < state.range(0); ++i) {
        places::Candidate c;
        c.id = i;
        c.shown = i < 14;
        c.distanceNm = std::fmod(i * 7.3, 180.0);
        c.joinOrder = static_cast<quint64>(i);
        pilots.push_back(c);
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(places::plan(pilots, 14, 1'000'000, true, true));
    }
}
BENCHMARK(BM_RulesAlone)->Arg(500)->Unit(benchmark::kMicrosecond);

// The heap a waiting pilot takes: his entry, handle, titles and last block.
void BM_MemoryPerWaitingPilot(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    double perPilot = 0;
    for (auto _ : state) {
        auto before = std::make_unique<Crowd>(0);
        const std::size_t empty = mallinfo2().uordblks;
        for (int i = 1; i <= n; ++i) {
            before->relay.playerJoined(i, QStringLiteral("Pilot%1 ABCDEFGHIJK").arg(i)); // a 20-character handle
            before->relay.aircraftDetails(i, 0, QStringLiteral("Cessna Skyhawk 172SP Floats Am"));
            before->relay.positionUpdate(i, at(i));
        }
        perPilot = static_cast<double>(mallinfo2().uordblks - empty) / n;
    }
    state.counters["bytes_per_pilot"] = perPilot;
}
BENCHMARK(BM_MemoryPerWaitingPilot)->Arg(500)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
