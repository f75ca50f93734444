// Putting fragmented DirectPlay messages back together, from any sequence of fragments of a few
// peers at moving times: the PACKET parser, the reassembly with its bounds, and the reading of
// what it puts together. Nothing may read outside the input, crash, or hold more than the
// bounds allow, and a message it hands back is never longer than the bound.
#include "simlink/dplay/reassembly.h"

#include "core/bytes.h"

#include <cstddef>
#include <cstdint>

using namespace airmesh::dplay;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    airmesh::ByteReader r(bytes);
    Reassembly::Limits limits;
    limits.messagesPerPeer = 3;
    limits.messages = 5;
    limits.messageBytes = 512;
    limits.fragments = 16;
    limits.expireMs = 15000;
    Reassembly reassembly([](const QString&) {}, limits);
    qint64 now = 0;
    for (int step = 0; step < 256 && r.ok() && r.remaining() > 0; ++step) {
        const quint8 kind = r.u8();
        const quint64 peer = kind & 3;
        now += qint64{r.u8()} * 100;
        QByteArray body;
        if ((kind & 4) != 0) {
            // Raw bytes as a PACKET body.
            body = r.bytes(r.u8());
        } else {
            // A fragment built from small fields, so that whole messages come together often.
            Fragment f;
            f.message[0] = r.u8() & 7;
            f.index = r.u8() & 15;
            f.count = (r.u8() & 15) + 1;
            f.offset = r.u16();
            f.messageSize = r.u16();
            f.data = r.bytes(r.u8());
            body = packetBody(f);
        }
        if (!r.ok()) {
            break;
        }
        const auto f = readPacket(body);
        if (!f) {
            continue;
        }
        if ((kind & 4) == 0 && packetBody(*f) != body) {
            __builtin_trap(); // a fragment we wrote reads back as written
        }
        if (const auto whole = reassembly.add(peer, *f, now)) {
            if (whole->size() != static_cast<qsizetype>(f->messageSize) || f->messageSize > limits.messageBytes) {
                __builtin_trap();
            }
            (void)parseReassembled(*whole, SockAddr{});
        }
        if (reassembly.pending() > limits.messages ||
            reassembly.heldBytes() > qint64{limits.messages} * limits.messageBytes || reassembly.heldBytes() < 0) {
            __builtin_trap();
        }
        if ((kind & 0x80) != 0) {
            reassembly.forget(peer);
        }
    }
    reassembly.expire(now + limits.expireMs);
    if (reassembly.pending() != 0 || reassembly.heldBytes() != 0) {
        __builtin_trap(); // everything times out
    }
    return 0;
}
