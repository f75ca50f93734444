// The reference server's parsers of outside bytes: the accounts file (plain and hashed lines),
// and the relay (with and without a range filter) fed a
// script of connections, stream bytes, datagrams and passing time from arbitrary input. Nothing
// may crash or read out of bounds, every record sent is whole, nothing is sent to a connection
// the relay has forgotten, and the limits on pilots and waiting connections hold.
#include "relayserver/relaycore.h"

#include <cstdint>
#include <cstdlib>
#include <set>

using namespace airmesh;
using namespace airmesh::wire;

namespace {

constexpr int kMaxPilots = 4;
constexpr int kMaxPending = 4;

struct Checked final : RelayTransport {
    const RelayCore* core = nullptr;
    std::set<ConnId> open; // as far as the transport knows
    void sendDatagram(const QByteArray& record, const UdpEndpoint&) override {
        if (record.size() != kRecordBytes) {
            std::abort();
        }
    }
    void sendStream(ConnId conn, const QByteArray& record) override {
        if (record.size() != kRecordBytes || !core->hasConnection(conn) || !open.contains(conn)) {
            std::abort();
        }
    }
    void closeStream(ConnId conn) override {
        if (core->hasConnection(conn)) {
            std::abort(); // the relay forgets a connection before it has it closed
        }
        open.erase(conn);
    }
};

// Reads the script; past the end every read is 0.
struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    uint8_t byte() { return at < size ? data[at++] : 0; }
    QByteArrayView bytes(size_t n) {
        n = std::min(n, size - at);
        const QByteArrayView v(reinterpret_cast<const char*>(data + at), static_cast<qsizetype>(n));
        at += n;
        return v;
    }
    bool done() const { return at >= size; }
};

QHostAddress address(uint8_t b) {
    switch (b % 5) {
    case 0:
        return QHostAddress(QStringLiteral("127.0.0.1"));
    case 1:
        return QHostAddress(QStringLiteral("::ffff:127.0.0.1"));
    case 2:
        return QHostAddress(QStringLiteral("2001:db8::1")); // one /64 with the next
    case 3:
        return QHostAddress(QStringLiteral("2001:db8::2"));
    default:
        return QHostAddress(QStringLiteral("127.0.0.2"));
    }
}

// A record with a header the relay accepts more often than chance would give.
QByteArray craftedRecord(Input& in) {
    static constexpr qint32 kTypes[] = {1001, 1002, 1004, 1005, 1006, 4110, 4111, 4113, 4121, 4131, 0, -1};
    ServerRecord r;
    r.Category = in.byte() % 3;
    r.MsgType = kTypes[in.byte() % std::size(kTypes)];
    r.SenderSession = in.byte() % 8;
    const QByteArrayView body = in.bytes(in.byte() % (kRecordBodyBytes + 1));
    std::copy(body.begin(), body.end(), r.body.begin());
    return r.toBytes();
}

void runRelay(Input& in) {
    ManualClock clock;
    Checked transport;
    RelayLimits limits;
    limits.maxPilots = kMaxPilots;
    limits.maxPendingConnections = kMaxPending;
    limits.rangeNm = (in.byte() & 1) ? 100.0 : 0.0; // positions then go through the range filter
    Accounts accounts = (in.byte() & 1) ? Accounts::open() : Accounts::parse("1 1 One\n2 2\n3 3 Three\n").accounts;
    RelayCore core(std::move(accounts), limits, clock, transport, {});
    transport.core = &core;
    while (!in.done()) {
        const ConnId conn = in.byte() % 8;
        switch (in.byte() % 8) {
        case 0:
            if (core.connectionOpened(conn, address(in.byte()))) {
                transport.open.insert(conn);
            }
            break;
        case 1:
            core.streamBytes(conn, in.bytes(in.byte() * 2));
            break;
        case 2:
            core.connectionClosed(conn);
            transport.open.erase(conn);
            break;
        case 3: {
            const QHostAddress from = address(in.byte());
            const quint16 port = 1500 + in.byte() % 4;
            core.datagram(in.bytes(in.byte()), from, port);
            break;
        }
        case 4:
            clock.advance(in.byte());
            core.checkSilence();
            break;
        case 5:
            core.dropConnection(conn, QStringLiteral("fuzz"));
            break;
        case 6:
            core.streamBytes(conn, toServer::logonRequest(in.byte() % 5, in.byte() % 5, QStringLiteral("F")).toBytes());
            break;
        case 7: {
            const QByteArray r = craftedRecord(in);
            if (in.byte() & 1) {
                core.streamBytes(conn, r);
            } else {
                core.datagram(r, address(in.byte()), 1500 + in.byte() % 4);
            }
            break;
        }
        }
        if (core.pilotCount() > kMaxPilots || core.connectionCount() - core.pilotCount() > kMaxPending) {
            std::abort();
        }
    }
    (void)core.summary();
    (void)core.pilots();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    if (in.byte() & 1) {
        (void)Accounts::parse(in.bytes(size));
    } else {
        runRelay(in);
    }
    return 0;
}
