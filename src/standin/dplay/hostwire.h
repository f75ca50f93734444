#pragma once

#include "simlink/dplay/dpwire.h"

// The bodies only a session's host writes or reads: the answer to a search, a player id given
// out, a join refused, the name table a newcomer is sent, and the search it answers. The client
// only joins, so none of this is linked into it; the rest of the wire is in simlink/dplay's
// dpwire.h, which both sides share.
namespace airmesh::dphost {

using dplay::Guid;
using dplay::PlayerRecord;
using dplay::SessionDesc;

// ENUMSESSIONS as a joiner sends it.
struct EnumSessionsRequest {
    Guid application{};
    QString password;
    quint32 flags = 0;
};
std::optional<EnumSessionsRequest> readEnumSessions(const QByteArray& body);

QByteArray enumSessionsReplyBody(const SessionDesc& d, const QString& name);
// `wide`: the security description in the 32-byte layout of 64-bit builds instead of 24 bytes.
QByteArray requestPlayerReplyBody(quint32 id, quint32 result, bool wide = false);
QByteArray addForwardReplyBody(quint32 error);
QByteArray superEnumPlayersReplyBody(const SessionDesc& d, const QString& name, const QList<PlayerRecord>& players,
                                     const QList<PlayerRecord>& groups);
// A superpacked player, as the name table carries them.
void writeSuperPacked(ByteWriter& w, const PlayerRecord& p);

} // namespace airmesh::dphost
