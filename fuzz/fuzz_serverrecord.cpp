// Server records: any bytes decode, every accessor stays inside the record, and encoding
// what was decoded gives back the first 128 bytes.
#include "server/serverrecord.h"

#include <cstdint>
#include <cstdlib>

using namespace airmesh;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ServerRecord r = ServerRecord::fromBytes(bytes);
    (void)acceptedFromServer(r, Transport::Udp);
    (void)acceptedFromServer(r, Transport::Tcp);
    (void)acceptedFromClient(r, Transport::Udp);
    (void)acceptedFromClient(r, Transport::Tcp);
    (void)r.textAt(recfield::LogonHandle, recfield::HandleChars);
    (void)r.textAt(recfield::AcceptedGreeting, recfield::GreetingChars);
    (void)r.textAt(recfield::ChatPiece, recfield::ChatPieceChars);
    (void)r.textAt(recfield::CrashText, recfield::CrashTextChars);
    (void)r.textAt(recfield::AircraftTitle, recfield::TitleChars);
    (void)r.bytesAt(recfield::PositionBlock, recfield::PositionBlockBytes);
    (void)r.longAt(recfield::Body);
    if (size >= 128 && r.toBytes() != bytes.left(128)) {
        std::abort();
    }
    return 0;
}
