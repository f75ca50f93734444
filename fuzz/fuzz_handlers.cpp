// The client's reactions to outside input: arbitrary server records through Process_Packet and
// Process_TCPPacket, and arbitrary messages from the simulator's player through the pump, on a
// logged-on client with remote pilots, in a session with room for four of them, so that pilots
// wait and are swapped as the input places them. Nothing may crash, read out of bounds or grow
// without end.
#include "core/clientservices.h"
#include "fakes/fakemessageboxes.h"
#include "fakes/joinedclient.h"
#include "relay/clientwiring.h"
#include "serverlink/serverlink.h"
#include "standin/memorysession.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

using namespace airmesh;
using namespace airmesh::wire;

namespace {

constexpr qint32 kSession = 42;

struct Client {
    QTemporaryDir dir;
    ManualClock clock;
    ActivityLog log{clock, dir.filePath(QStringLiteral("log.txt"))};
    INIFiles ini{dir.filePath(QStringLiteral("AirmeshClient.ini"))};
    SilentSoundOutput soundOut;
    SoundCues sound{dir.path(), soundOut};
    FakeMessageBoxes boxes;
    ClientServices services{ini, log, clock, sound, boxes, false, false};
    MemoryWorld world;
    MemorySessionFactory sessions{world};
    QByteArray fs = world.hostSession(SimLink::kFirstAppGuid, QStringLiteral("FS"), {}, 6);
    qint32 host = world.addHostPlayer(fs, QStringLiteral("Ace"));
    Players players;
    NoWindowSystem windows;
    SimLink sim{services, players, windows};
    ClientWiring wiring{services, sim, players};
    ServerLink& link = wiring.link();
    Relay& relay = wiring.relay();

    Client() {
        world.addGroup(fs, QStringLiteral("FS61_REQUEST_PARAMS"));
        joinAsTheJoinWould(sim, sessions, host);
        pretendLoggedOn(link, kSession, clock.now());
    }
};

Client* client = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    static Client c;
    client = &c;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Client& c = *client;
    // First byte: which way in; the rest: records of 128 bytes, or simulator messages cut by a
    // length byte.
    if (size < 1) {
        return 0;
    }
    const char* p = reinterpret_cast<const char*>(data) + 1;
    const qsizetype n = static_cast<qsizetype>(size - 1);
    switch (data[0] % 3) {
    case 0:
    case 1:
        for (qsizetype at = 0; at < n; at += kRecordBytes) {
            const QByteArray record(p + at, std::min<qsizetype>(kRecordBytes, n - at));
            data[0] % 3 == 0 ? c.link.Process_Packet(record) : c.link.Process_TCPPacket(record);
        }
        break;
    default:
        for (qsizetype at = 0; at < n;) {
            const qsizetype len = std::min<qsizetype>(static_cast<unsigned char>(p[at]), n - at - 1);
            c.world.sendFromHost(c.host, c.sim.lngMyPlayerID(), SimMessage(QByteArray(p + at + 1, len)));
            at += 1 + len;
        }
        c.sim.pumpMessages();
        break;
    }
    // Half a second on: Timer1's turn at the places.
    c.clock.advanceMs(500);
    c.relay.keepPlaces();
    // Keep the bench from growing: pilots come and go, sends to the simulator are forgotten.
    (void)c.world.takeSentToHost();
    c.boxes.shown.clear();
    if (c.players.Count() > 64) {
        c.link.Set_Closed();
        pretendLoggedOn(c.link, kSession, c.clock.now());
    }
    return 0;
}
