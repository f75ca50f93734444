// Server records: any bytes decode, as a raw record and as every typed record, without reading
// outside the input; encoding what was decoded gives back the first 128 bytes, and a typed value
// re-encoded decodes to itself.
#include "wire/records.h"

#include <cstdint>
#include <cstdlib>

using namespace airmesh::wire;

namespace {

template <typename... T> void typedRoundTrips(const ServerRecord& r) {
    const auto check = [&r](auto typed) {
        using Typed = decltype(typed);
        typed = decode<Typed>(r);
        if (!(decode<Typed>(encode(typed)) == typed)) {
            std::abort();
        }
    };
    (check(T{}), ...);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ServerRecord r = ServerRecord::fromBytes(bytes);
    (void)acceptedFromServer(r, Transport::Udp);
    (void)acceptedFromServer(r, Transport::Tcp);
    (void)acceptedFromClient(r, Transport::Udp);
    (void)acceptedFromClient(r, Transport::Tcp);
    typedRoundTrips<LogonRequest, LogonAccepted, LogonRejected, PlayerJoined, PlayerLeft, HeartBeat, AircraftDetails,
                    QueryPlane, PlayerCrashed, CrashNotice, PositionUpdate, ChatChunk>(r);
    if (size >= 128 && r.toBytes() != bytes.left(128)) {
        std::abort();
    }
    return 0;
}
