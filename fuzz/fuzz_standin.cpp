// The stand-in simulator fed arbitrary messages from arbitrary players: every read is checked
// against the message's length, nothing may crash or read outside the input.
#include "core/clock.h"
#include "standin/standin.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

using namespace airmesh;

namespace {
class NullPort final : public StandinPort {
public:
    qint32 ownPlayer() const override { return 1; }
    void sendFromOwn(qint32, const SimMessage& m) override { sent += m.size(); }
    QString shortName(qint32 player) const override { return QStringLiteral("P%1").arg(player); }
    qint64 sent = 0;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int argc = 1;
    static char name[] = "fuzz_standin";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    NullPort port;
    ManualClock clock;
    SimulatorStandin standin(port, clock, {}, [](const QString&) {});
    // The input is a sequence of messages: one byte of sender (0-7), two of length, then bytes.
    size_t at = 0;
    while (at + 3 <= size) {
        const qint32 from = 2 + (data[at] & 7);
        const size_t len = (static_cast<size_t>(data[at + 1]) | (static_cast<size_t>(data[at + 2]) << 8)) % 512;
        at += 3;
        const size_t take = std::min(len, size - at);
        if (data[at - 3] & 0x80) {
            standin.playerCreated(from, QStringLiteral("H%1").arg(from), QString());
        }
        if (data[at - 3] & 0x40) {
            standin.playerDestroyed(from);
        }
        standin.messageReceived(from, (data[at - 3] & 0x20) ? 0 : 1,
                                QByteArray(reinterpret_cast<const char*>(data + at), static_cast<qsizetype>(take)));
        at += take;
        clock.advanceMs(250);
        standin.tick();
    }
    return 0;
}
