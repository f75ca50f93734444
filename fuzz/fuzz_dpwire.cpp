// Every DirectPlay wire parser on arbitrary bytes: the TCP and datagram framing, each message
// body a joiner or a host reads, a PACKET fragment and a message put together from fragments.
// Nothing may read outside the input or crash.
#include "simlink/dplay/dpwire.h"
#include "standin/dplay/hostwire.h"

#include <cstddef>
#include <cstdint>

using namespace airmesh::dplay;
namespace dphost = airmesh::dphost;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    if (const auto m = parseTcpMessage(bytes)) {
        (void)m->body.size();
    }
    const auto d = parseDatagram(bytes);
    (void)announcedSize(bytes.constData(), static_cast<int>(bytes.size()));
    (void)dphost::readEnumSessions(bytes);
    (void)readEnumSessionsReply(bytes);
    for (const bool wide : {false, true}) {
        if (const auto r = readRequestPlayerReply(bytes, wide)) {
            // The reply a host writes in either layout reads back the same.
            const auto back = readRequestPlayerReply(dphost::requestPlayerReplyBody(r->id, r->result, wide), wide);
            if (!back || back->id != r->id || back->result != r->result) {
                __builtin_trap();
            }
        }
    }
    for (const bool group : {false, true}) {
        for (const bool password : {false, true}) {
            if (const auto c = readCreateMessage(bytes, group, password)) {
                // What we parsed must write back and parse again.
                const QByteArray again = createPlayerBody(c->player, false);
                const auto back = readCreateMessage(again, group, false);
                if (!back || back->player.shortName != c->player.shortName || back->player.id != c->player.id) {
                    __builtin_trap();
                }
            }
        }
    }
    (void)readPlayerIds(bytes);
    if (const auto t = readSuperEnumPlayersReply(bytes)) {
        const QByteArray again = dphost::superEnumPlayersReplyBody(t->desc, t->name, t->players, t->groups);
        const auto back = readSuperEnumPlayersReply(again);
        if (!back || back->players.size() != t->players.size() || back->groups.size() != t->groups.size()) {
            __builtin_trap();
        }
    }
    (void)readEnumPlayersReply(bytes);
    if (const auto f = readPacket(bytes)) {
        const auto back = readPacket(packetBody(*f));
        if (!back || back->data != f->data || back->offset != f->offset || back->index != f->index ||
            back->count != f->count || back->messageSize != f->messageSize || back->message != f->message) {
            __builtin_trap();
        }
    }
    (void)parseReassembled(bytes, SockAddr{});
    airmesh::ByteReader r(bytes);
    (void)readSuperPacked(r, size % 2 == 0);
    (void)d;
    return 0;
}
