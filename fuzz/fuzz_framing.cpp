// The receive path: a stream cut into arbitrary pieces and notifications. Every record handed
// on is whole, and over TCP the records are exactly the stream's 128-byte pieces in order.
#include "serverlink/framing.h"

#include <cstdint>
#include <cstdlib>
#include <deque>

using namespace airmesh;
using namespace airmesh::wire;

namespace {
class Stream final : public ReceiveQueue {
public:
    QByteArray queued;
    qint64 BytesReceived() const override { return queued.size(); }
    QByteArray GetData() override {
        QByteArray out;
        out.swap(queued);
        return out;
    }
};
class Datagrams final : public ReceiveQueue {
public:
    std::deque<QByteArray> queued;
    qint64 BytesReceived() const override { return queued.empty() ? 0 : queued.front().size(); }
    QByteArray GetData() override {
        QByteArray d = queued.front();
        queued.pop_front();
        return d;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray fed;
    QByteArray received;
    RecordGate tcpGate([&](const QByteArray& r) {
        if (r.size() != kRecordBytes) {
            std::abort();
        }
        received.append(r);
    });
    RecordGate udpGate([](const QByteArray& r) {
        if (r.size() < kRecordBytes) {
            std::abort();
        }
        (void)ServerRecord::fromBytes(r);
    });
    Stream tcp;
    Datagrams udp;
    TcpFramer framer;
    // Each step: one control byte (piece length), then that many bytes of payload.
    std::size_t i = 0;
    while (i < size) {
        const std::size_t n = std::min<std::size_t>(data[i] * 2u, size - i - 1);
        const QByteArray piece(reinterpret_cast<const char*>(data) + i + 1, static_cast<qsizetype>(n));
        i += 1 + n;
        tcp.queued.append(piece);
        fed.append(piece);
        framer.DataArrival(tcp.queued.size(), tcp, tcpGate);
        udp.queued.push_back(piece);
        UdpDataArrival(piece.size(), udp, udpGate);
        if (udp.queued.size() > 64) {
            udp.queued.clear();
        }
    }
    if (received != fed.left(received.size())) {
        std::abort(); // records out of order or misaligned
    }
    return 0;
}
