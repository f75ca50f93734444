#include "hostwire.h"

namespace airmesh::dphost {

using dplay::kPlayHeaderBytes;
using dplay::kSecDescBytes32;
using dplay::kSecDescBytes64;
using dplay::kSpDataBytes;

namespace {
// The length codes of a superpacked player: how many bytes a count or size takes (0 for none).
quint32 lengthCode(quint32 v) {
    return v == 0 ? 0 : v <= 0xFF ? 1 : v <= 0xFFFF ? 2 : 3;
}

void writeCoded(ByteWriter& w, quint32 code, quint32 v) {
    if (code == 1) {
        w.u8(static_cast<quint8>(v));
    } else if (code == 2) {
        w.u16(static_cast<quint16>(v));
    } else if (code == 3) {
        w.u32(v);
    }
}
} // namespace

std::optional<EnumSessionsRequest> readEnumSessions(const QByteArray& body) {
    ByteReader r(body);
    EnumSessionsRequest q;
    q.application = dplay::readGuid(r);
    const quint32 passwordOffset = r.u32();
    q.flags = r.u32();
    if (!r.ok()) {
        return std::nullopt;
    }
    if (passwordOffset != 0) {
        r.seek(static_cast<qsizetype>(passwordOffset) - kPlayHeaderBytes);
        q.password = r.utf16z();
        if (!r.ok()) {
            return std::nullopt;
        }
    }
    return q;
}

QByteArray enumSessionsReplyBody(const SessionDesc& d, const QString& name) {
    QByteArray out;
    ByteWriter w(out);
    dplay::writeSessionDesc(w, d);
    w.u32(static_cast<quint32>(kPlayHeaderBytes + w.size() + 4));
    w.utf16z(name);
    return out;
}

QByteArray requestPlayerReplyBody(quint32 id, quint32 result, bool wide) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(id);
    w.zeros(wide ? kSecDescBytes64 : kSecDescBytes32); // security description: none
    w.u32(0);                                          // no SSPI provider
    w.u32(0);                                          // no CAPI provider
    w.u32(result);
    return out;
}

QByteArray addForwardReplyBody(quint32 error) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(error);
    return out;
}

void writeSuperPacked(ByteWriter& w, const PlayerRecord& p) {
    const auto dataBytes = static_cast<quint32>(p.playerData.size());
    const quint32 spBytes = p.hasSpData ? kSpDataBytes : 0;
    const auto count = static_cast<quint32>(p.members.size());
    quint32 mask = 0;
    if (!p.shortName.isNull()) {
        mask |= 0x1;
    }
    if (!p.longName.isNull()) {
        mask |= 0x2;
    }
    mask |= lengthCode(spBytes) << 2;
    mask |= lengthCode(dataBytes) << 4;
    if (p.isGroup) {
        mask |= (count == 0 ? 1 : lengthCode(count)) << 6;
    }
    if (p.parent != 0) {
        mask |= 0x100;
    }
    w.u32(16);
    w.u32(p.flags);
    w.u32(p.id);
    w.u32(mask);
    w.u32((p.flags & dplay::playerflag::SysPlayer) ? p.version : p.systemPlayer);
    if (mask & 0x1) {
        w.utf16z(p.shortName);
    }
    if (mask & 0x2) {
        w.utf16z(p.longName);
    }
    writeCoded(w, (mask >> 4) & 3, dataBytes);
    w.bytes(p.playerData);
    writeCoded(w, (mask >> 2) & 3, spBytes);
    if (p.hasSpData) {
        dplay::writeSpData(w, p);
    }
    // Only a group carries a member list: a player's stray list (a joiner may send one) must
    // not reach the wire, where its ids would be read as the next entry.
    if (p.isGroup) {
        writeCoded(w, (mask >> 6) & 3, count);
        for (const quint32 m : p.members) {
            w.u32(m);
        }
    }
    if (mask & 0x100) {
        w.u32(p.parent);
    }
}

QByteArray superEnumPlayersReplyBody(const SessionDesc& d, const QString& name, const QList<PlayerRecord>& players,
                                     const QList<PlayerRecord>& groups) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(static_cast<quint32>(players.size()));
    w.u32(static_cast<quint32>(groups.size()));
    w.u32(0); // packed offset, patched
    w.u32(0); // shortcuts
    w.u32(kPlayHeaderBytes + 28);
    w.u32(0); // name offset, patched
    w.u32(0); // no password
    dplay::writeSessionDesc(w, d);
    w.patchU32(20, static_cast<quint32>(kPlayHeaderBytes + w.size()));
    w.utf16z(name);
    w.patchU32(8, static_cast<quint32>(kPlayHeaderBytes + w.size()));
    for (const PlayerRecord& p : players) {
        writeSuperPacked(w, p);
    }
    for (const PlayerRecord& g : groups) {
        writeSuperPacked(w, g);
    }
    return out;
}

} // namespace airmesh::dphost
