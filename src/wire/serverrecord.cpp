#include "serverrecord.h"

#include "core/bytes.h"

#include <algorithm>
#include <cstring>

namespace airmesh::wire {

namespace {

quint8 bit(Transport t) {
    return t == Transport::Udp ? carried::Udp : carried::Tcp;
}

bool accepted(const ServerRecord& r, Transport t, Route CatalogueEntry::*direction) {
    const auto* const entry = std::find_if(kCatalogue.begin(), kCatalogue.end(), [&](const CatalogueEntry& e) {
        return static_cast<qint32>(e.type) == r.MsgType;
    });
    if (entry == kCatalogue.end()) {
        return false;
    }
    const Route& route = (*entry).*direction;
    return (route.transports & bit(t)) != 0 && static_cast<qint32>(route.category) == r.Category;
}

} // namespace

QByteArray ServerRecord::toBytes() const {
    QByteArray out;
    out.reserve(kRecordBytes);
    ByteWriter w(out);
    w.i32(Category);
    w.i32(MsgType);
    w.i32(SenderSession);
    w.i32(Reserved);
    w.bytes(QByteArrayView(body.data(), kRecordBodyBytes));
    return out;
}

ServerRecord ServerRecord::fromBytes(const QByteArray& bytes) {
    // Copied into a zeroed record-sized buffer first: a short input never lets a read leave it.
    std::array<char, kRecordBytes> buf{};
    std::memcpy(buf.data(), bytes.constData(),
                static_cast<std::size_t>(std::min<qsizetype>(bytes.size(), kRecordBytes)));
    ByteReader in(QByteArrayView(buf.data(), kRecordBytes));
    ServerRecord r;
    r.Category = in.i32();
    r.MsgType = in.i32();
    r.SenderSession = in.i32();
    r.Reserved = in.i32();
    const QByteArrayView body = in.view(kRecordBodyBytes);
    std::memcpy(r.body.data(), body.data(), r.body.size());
    return r;
}

bool acceptedFromServer(const ServerRecord& r, Transport t) {
    return accepted(r, t, &CatalogueEntry::toClient);
}

bool acceptedFromClient(const ServerRecord& r, Transport t) {
    return accepted(r, t, &CatalogueEntry::toServer);
}

} // namespace airmesh::wire
