#include "dpwire.h"

#include <QtEndian>

#include <algorithm>
#include <array>

namespace airmesh::dplay {

namespace {
constexpr int kDescBody32 = 80;
constexpr int kDescBody64 = 88;
constexpr int kPackedFixed = 48;
constexpr int kCreateOffset = 28;         // from the play signature: header 8 + five ids
constexpr quint32 kMaxListEntries = 4096; // players, groups or members in one message
constexpr quint32 kPacketDataOffset = 48; // from the play signature: header 8, identifier 16, six fields

quint32 readCoded(ByteReader& r, quint32 code) {
    switch (code) {
    case 1:
        return r.u8();
    case 2:
        return r.u16();
    case 3:
        return r.u32();
    default:
        return 0;
    }
}

void writeGuid(ByteWriter& w, const Guid& g) {
    w.bytes(QByteArrayView(g.data(), static_cast<qsizetype>(g.size())));
}

// A sockaddr_in in 16 bytes: the family little-endian, the port and address in network order.
SockAddr readSockAddr(ByteReader& r) {
    ByteReader in(r.view(16));
    in.skip(2);
    SockAddr a;
    a.port = in.u16be();
    a.ip = in.u32be();
    return a;
}

void writeSockAddr(ByteWriter& w, const SockAddr& a) {
    w.u16(2); // AF_INET
    w.u16be(a.port);
    w.u32be(a.ip);
    w.zeros(8);
}

bool readSpData(ByteReader& r, PlayerRecord& p, quint32 size) {
    if (size == 0) {
        return true;
    }
    if (size < static_cast<quint32>(kSpDataBytes) || static_cast<qint64>(size) > r.remaining()) {
        return false; // not the Winsock provider's blob
    }
    const qsizetype end = r.pos() + static_cast<qsizetype>(size);
    p.stream = readSockAddr(r);
    p.datagram = readSockAddr(r);
    p.hasSpData = true;
    r.seek(end);
    return r.ok();
}

// Reads a UTF-16 string of `bytes` bytes (terminator included) at the reader.
bool readSizedString(ByteReader& r, quint32 bytes, QString& out) {
    if (bytes == 0) {
        out.clear();
        return true;
    }
    if (bytes % 2 != 0 || static_cast<qint64>(bytes) > r.remaining()) {
        return false;
    }
    out = r.utf16(static_cast<qsizetype>(bytes / 2));
    const qsizetype nul = out.indexOf(QChar(u'\0'));
    if (nul >= 0) {
        out.truncate(nul);
    }
    return r.ok();
}

} // namespace

Guid readGuid(ByteReader& r) {
    Guid g{};
    const QByteArrayView v = r.view(static_cast<qsizetype>(g.size()));
    std::copy(v.begin(), v.end(), g.begin());
    return g;
}

void writeSpData(ByteWriter& w, const PlayerRecord& p) {
    writeSockAddr(w, p.stream);
    writeSockAddr(w, p.datagram);
}

std::optional<Guid> parseGuid(const QString& text) {
    // Read by hand rather than by a regular expression: a match runs Qt's PCRE on a stack kept in
    // a thread_local, and that alone makes a Windows program's exit wait on a lock now and then.
    QStringView t = QStringView(text).trimmed();
    if (t.startsWith(QLatin1Char('{'))) {
        t = t.mid(1);
    }
    if (t.endsWith(QLatin1Char('}'))) {
        t.chop(1);
    }
    constexpr qsizetype kChars = 36; // 8-4-4-4-12
    if (t.size() != kChars) {
        return std::nullopt;
    }
    std::array<quint8, 32> nibbles{};
    std::size_t n = 0;
    for (qsizetype i = 0; i < kChars; ++i) {
        const char16_t c = t[i].unicode();
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != u'-') {
                return std::nullopt;
            }
            continue;
        }
        const int v = c >= u'0' && c <= u'9'   ? c - u'0'
                      : c >= u'a' && c <= u'f' ? c - u'a' + 10
                      : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                               : -1;
        if (v < 0) {
            return std::nullopt;
        }
        nibbles[n++] = static_cast<quint8>(v);
    }
    const auto byteAt = [&nibbles](std::size_t i) {
        return static_cast<quint8>(nibbles[2 * i] << 4 | nibbles[2 * i + 1]);
    };
    // The first three fields are little-endian in the Windows layout, the last eight bytes as written.
    Guid g{};
    const std::array<std::size_t, 8> order{3, 2, 1, 0, 5, 4, 7, 6};
    for (std::size_t i = 0; i < 8; ++i) {
        g[i] = byteAt(order[i]);
    }
    for (std::size_t i = 8; i < 16; ++i) {
        g[i] = byteAt(i);
    }
    return g;
}

QString guidText(const Guid& g) {
    const auto hex = [](quint64 v, int width) {
        return QStringLiteral("%1").arg(v, width, 16, QLatin1Char('0')).toUpper();
    };
    QString s = QStringLiteral("{%1-%2-%3-")
                    .arg(hex(qFromLittleEndian<quint32>(g.data()), 8), hex(qFromLittleEndian<quint16>(g.data() + 4), 4),
                         hex(qFromLittleEndian<quint16>(g.data() + 6), 4));
    for (int i = 8; i < 16; ++i) {
        if (i == 10) {
            s += QLatin1Char('-');
        }
        s += hex(g[static_cast<size_t>(i)], 2);
    }
    return s + QLatin1Char('}');
}

quint32 wstringBytes(const QString& s) {
    return s.isNull() ? 0 : static_cast<quint32>(s.size() * 2 + 2);
}

// ---- Framing ----

quint32 announcedSize(const char* data, int available) {
    ByteReader r(QByteArrayView(data, std::max(available, 0)));
    return r.u32() & 0x000FFFFFu; // 0 when fewer than four bytes are there
}

namespace {
// The service provider header: the token and size, then the sender's reply address.
void readSpHeader(ByteReader& r, WireMessage& m) {
    m.token = r.u32() & 0xFFF00000u;
    m.replyTo = readSockAddr(r);
}

std::optional<WireMessage> parseBody(WireMessage m, const QByteArray& body) {
    ByteReader r(body);
    const quint32 signature = r.u32();
    const quint16 command = r.u16();
    const quint16 version = r.u16();
    if (r.ok() && signature == kPlaySignature) {
        m.system = true;
        m.command = command;
        m.version = version;
        m.body = body.mid(kPlayHeaderBytes);
        // A player message that would have looked like a system one.
        if (m.command == commandNumber(Command::PlayerWrapper)) {
            m.system = false;
            m.command = 0;
        }
        return m;
    }
    m.body = body;
    return m;
}
} // namespace

std::optional<WireMessage> parseTcpMessage(const QByteArray& bytes) {
    if (bytes.size() < kSpHeaderBytes || bytes.size() > kMaxMessageBytes ||
        announcedSize(bytes.constData(), static_cast<int>(bytes.size())) != static_cast<quint32>(bytes.size())) {
        return std::nullopt;
    }
    WireMessage m;
    ByteReader r(bytes);
    readSpHeader(r, m);
    return parseBody(m, bytes.mid(kSpHeaderBytes));
}

std::optional<WireMessage> parseDatagram(const QByteArray& bytes) {
    if (bytes.size() > kMaxDatagramBytes + kSpHeaderBytes) {
        return std::nullopt;
    }
    WireMessage m;
    ByteReader r(bytes);
    readSpHeader(r, m);
    if (r.u32() == kPlaySignature && r.ok()) {
        return parseBody(m, bytes.mid(kSpHeaderBytes));
    }
    if (bytes.size() < 8) {
        return std::nullopt; // a player message carries at least its two ids
    }
    WireMessage player;
    player.body = bytes;
    return player;
}

std::optional<WireMessage> parseReassembled(const QByteArray& whole, const SockAddr& replyTo) {
    // With a header of its own the message says its length, and it is exactly what was put
    // together; a bare player message is told from one only by the odds of its first four bytes.
    const quint32 token = ByteReader(whole).u32() & 0xFFF00000u;
    const bool knownToken = token == kTokenRemote || token == 0xCAB00000u || token == 0xBAB00000u;
    if (knownToken && announcedSize(whole.constData(), static_cast<int>(whole.size())) == quint32(whole.size())) {
        auto m = parseTcpMessage(whole);
        if (m && m->replyTo.port == 0) {
            m->replyTo = replyTo;
        }
        return m;
    }
    if (whole.size() < 8) {
        return std::nullopt; // neither a system message's header nor a player message's two ids
    }
    WireMessage m;
    m.replyTo = replyTo;
    return parseBody(m, whole);
}

// ---- Structures ----

SessionDesc readSessionDesc(ByteReader& r) {
    SessionDesc d;
    const qsizetype start = r.pos();
    d.size = r.u32();
    if (d.size != kDescBody32 && d.size != kDescBody64) {
        r.fail();
        return d;
    }
    d.flags = r.u32();
    d.instance = readGuid(r);
    d.application = readGuid(r);
    d.maxPlayers = r.u32();
    d.currentPlayers = r.u32();
    r.skip(d.size == kDescBody64 ? 16 : 8); // the two name pointers
    d.reserved1 = r.u32();
    d.reserved2 = r.u32();
    for (auto& u : d.user) {
        u = r.u32();
    }
    if (r.ok()) {
        r.seek(start + static_cast<qsizetype>(d.size));
    }
    return d;
}

void writeSessionDesc(ByteWriter& w, const SessionDesc& d) {
    const bool wide = d.size == kDescBody64;
    w.u32(wide ? kDescBody64 : kDescBody32);
    w.u32(d.flags);
    writeGuid(w, d.instance);
    writeGuid(w, d.application);
    w.u32(d.maxPlayers);
    w.u32(d.currentPlayers);
    w.zeros(wide ? 16 : 8);
    w.u32(d.reserved1);
    w.u32(d.reserved2);
    for (const quint32 u : d.user) {
        w.u32(u);
    }
}

void writePackedPlayer(ByteWriter& w, const PlayerRecord& p) {
    const quint32 shortBytes = wstringBytes(p.shortName);
    const quint32 longBytes = wstringBytes(p.longName);
    const quint32 spBytes = p.hasSpData ? kSpDataBytes : 0;
    const auto dataBytes = static_cast<quint32>(p.playerData.size());
    w.u32(kPackedFixed + shortBytes + longBytes + spBytes + dataBytes);
    w.u32(p.flags);
    w.u32(p.id);
    w.u32(shortBytes);
    w.u32(longBytes);
    w.u32(spBytes);
    w.u32(dataBytes);
    w.u32(static_cast<quint32>(p.members.size()));
    w.u32(p.systemPlayer);
    w.u32(kPackedFixed);
    w.u32(p.version);
    w.u32(p.parent);
    if (shortBytes) {
        w.utf16z(p.shortName);
    }
    if (longBytes) {
        w.utf16z(p.longName);
    }
    if (p.hasSpData) {
        writeSpData(w, p);
    }
    w.bytes(p.playerData);
    for (const quint32 m : p.members) {
        w.u32(m);
    }
}

std::optional<PlayerRecord> readPackedPlayer(ByteReader& r) {
    const qsizetype start = r.pos();
    PlayerRecord p;
    const quint32 size = r.u32();
    p.flags = r.u32();
    p.id = r.u32();
    const quint32 shortBytes = r.u32();
    const quint32 longBytes = r.u32();
    const quint32 spBytes = r.u32();
    const quint32 dataBytes = r.u32();
    const quint32 count = r.u32();
    p.systemPlayer = r.u32();
    const quint32 fixed = r.u32();
    p.version = r.u32();
    p.parent = r.u32();
    if (!r.ok() || fixed < static_cast<quint32>(kPackedFixed) || count > kMaxListEntries ||
        static_cast<quint64>(fixed) + shortBytes + longBytes + spBytes + dataBytes >
            static_cast<quint64>(r.remaining()) + kPackedFixed) {
        return std::nullopt;
    }
    r.seek(start + static_cast<qsizetype>(fixed));
    if (!readSizedString(r, shortBytes, p.shortName) || !readSizedString(r, longBytes, p.longName) ||
        !readSpData(r, p, spBytes)) {
        return std::nullopt;
    }
    p.playerData = r.bytes(static_cast<qsizetype>(dataBytes));
    for (quint32 i = 0; i < count; ++i) {
        p.members.append(r.u32());
    }
    Q_UNUSED(size);
    if (!r.ok()) {
        return std::nullopt;
    }
    return p;
}

std::optional<PlayerRecord> readSuperPacked(ByteReader& r, bool isGroup) {
    PlayerRecord p;
    p.isGroup = isGroup;
    r.u32(); // 16, and not the size to skip by
    p.flags = r.u32();
    p.id = r.u32();
    const quint32 mask = r.u32();
    const quint32 versionOrSystem = r.u32();
    if (p.flags & playerflag::SysPlayer) {
        p.version = versionOrSystem;
        p.systemPlayer = p.id;
    } else {
        p.systemPlayer = versionOrSystem;
    }
    if (mask & 0x1) {
        p.shortName = r.utf16z();
    }
    if (mask & 0x2) {
        p.longName = r.utf16z();
    }
    const quint32 dataBytes = readCoded(r, (mask >> 4) & 3);
    if (dataBytes > static_cast<quint32>(kMaxMessageBytes)) {
        return std::nullopt;
    }
    p.playerData = r.bytes(static_cast<qsizetype>(dataBytes));
    const quint32 spBytes = readCoded(r, (mask >> 2) & 3);
    if (!r.ok() || !readSpData(r, p, spBytes)) {
        return std::nullopt;
    }
    const quint32 count = readCoded(r, (mask >> 6) & 3);
    if (count > kMaxListEntries) {
        return std::nullopt;
    }
    for (quint32 i = 0; i < count && r.ok(); ++i) {
        p.members.append(r.u32());
    }
    if (mask & 0x100) {
        p.parent = r.u32();
    }
    const quint32 shortcuts = readCoded(r, (mask >> 9) & 3);
    if (shortcuts > kMaxListEntries) {
        return std::nullopt;
    }
    for (quint32 i = 0; i < shortcuts && r.ok(); ++i) {
        r.u32();
    }
    if (!r.ok()) {
        return std::nullopt;
    }
    return p;
}

// ---- Messages ----

QByteArray systemMessage(quint16 listenPort, Command c, const QByteArray& body, quint16 version) {
    QByteArray out;
    ByteWriter w(out);
    const auto total = static_cast<quint32>(kSpHeaderBytes + kPlayHeaderBytes + body.size());
    w.u32(total | kTokenRemote);
    writeSockAddr(w, {listenPort, 0});
    w.u32(kPlaySignature);
    w.u16(commandNumber(c));
    w.u16(version);
    w.bytes(body);
    return out;
}

QByteArray playerMessageTcp(quint16 listenPort, quint32 from, quint32 to, const QByteArray& payload) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(static_cast<quint32>(kSpHeaderBytes + 8 + payload.size()) | kTokenRemote);
    writeSockAddr(w, {listenPort, 0});
    w.u32(from);
    w.u32(to);
    w.bytes(payload);
    return out;
}

QByteArray playerMessageUdp(quint32 from, quint32 to, const QByteArray& payload) {
    QByteArray out;
    out.reserve(8 + payload.size());
    ByteWriter w(out);
    w.u32(from);
    w.u32(to);
    w.bytes(payload);
    return out;
}

QByteArray enumSessionsBody(const Guid& application, const QString& password, quint32 flags) {
    QByteArray out;
    ByteWriter w(out);
    writeGuid(w, application);
    w.u32(password.isEmpty() ? 0 : 32);
    w.u32(flags);
    if (!password.isEmpty()) {
        w.utf16z(password);
    }
    return out;
}

QByteArray requestPlayerIdBody(quint32 flags) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(flags);
    return out;
}

QByteArray addForwardRequestBody(const PlayerRecord& systemPlayer, const QString& password, quint32 key) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(0);
    w.u32(systemPlayer.id);
    w.u32(0);
    w.u32(kCreateOffset);
    w.u32(0); // password offset, patched below
    writePackedPlayer(w, systemPlayer);
    w.patchU32(16, static_cast<quint32>(kPlayHeaderBytes + w.size()));
    w.utf16z(password);
    w.u32(key);
    return out;
}

QByteArray createPlayerBody(const PlayerRecord& p, bool trailer) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(0);
    w.u32(p.id);
    w.u32(0);
    w.u32(kCreateOffset);
    w.u32(0);
    writePackedPlayer(w, p);
    if (trailer) {
        w.zeros(6);
    }
    return out;
}

QByteArray playerIdsBody(quint32 idTo, quint32 player, quint32 group) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(idTo);
    w.u32(player);
    w.u32(group);
    w.u32(0);
    w.u32(0);
    return out;
}

QByteArray pingBody(quint32 from, quint32 tick) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(from);
    w.u32(tick);
    return out;
}

QByteArray addForwardAckBody(quint32 id) {
    QByteArray out;
    ByteWriter w(out);
    w.u32(id);
    return out;
}

// ---- Parsed bodies ----

std::optional<EnumSessionsAnswer> readEnumSessionsReply(const QByteArray& body) {
    ByteReader r(body);
    EnumSessionsAnswer a;
    a.desc = readSessionDesc(r);
    const quint32 nameOffset = r.u32();
    if (!r.ok()) {
        return std::nullopt;
    }
    if (nameOffset != 0) {
        r.seek(static_cast<qsizetype>(nameOffset) - kPlayHeaderBytes);
        a.name = r.utf16z();
        if (!r.ok()) {
            return std::nullopt;
        }
    }
    return a;
}

std::optional<PlayerIdReply> readRequestPlayerReply(const QByteArray& body, bool wide) {
    ByteReader r(body);
    PlayerIdReply a;
    a.id = r.u32();
    r.skip(wide ? kSecDescBytes64 : kSecDescBytes32);
    const quint32 sspi = r.u32();
    const quint32 capi = r.u32();
    a.result = r.u32();
    a.secure = sspi != 0 || capi != 0;
    if (!r.ok()) {
        return std::nullopt;
    }
    return a;
}

std::optional<CreateInfo> readCreateMessage(const QByteArray& body, bool isGroup, bool withPassword) {
    ByteReader r(body);
    CreateInfo c;
    c.idTo = r.u32();
    c.playerId = r.u32();
    c.groupId = r.u32();
    const quint32 createOffset = r.u32();
    const quint32 passwordOffset = r.u32();
    if (!r.ok() || createOffset < static_cast<quint32>(kPlayHeaderBytes)) {
        return std::nullopt;
    }
    r.seek(static_cast<qsizetype>(createOffset) - kPlayHeaderBytes);
    auto p = readPackedPlayer(r);
    if (!p) {
        return std::nullopt;
    }
    c.player = *p;
    c.player.isGroup = isGroup;
    if (withPassword) {
        if (passwordOffset >= static_cast<quint32>(kPlayHeaderBytes)) {
            r.seek(static_cast<qsizetype>(passwordOffset) - kPlayHeaderBytes);
            c.password = r.utf16z();
            c.key = r.u32(); // absent in some senders: a failed read here is not fatal
            if (!r.ok()) {
                c.key = 0;
            }
        }
    }
    return c;
}

std::optional<PlayerIds> readPlayerIds(const QByteArray& body) {
    ByteReader r(body);
    PlayerIds ids;
    ids.idTo = r.u32();
    ids.player = r.u32();
    ids.group = r.u32();
    if (!r.ok()) {
        return std::nullopt;
    }
    return ids;
}

std::optional<quint32> readPingTick(const QByteArray& body) {
    ByteReader r(body);
    r.u32(); // the sender
    const quint32 tick = r.u32();
    return r.ok() ? std::optional(tick) : std::nullopt;
}

namespace {
std::optional<NameTable> readTable(const QByteArray& body, bool superPacked) {
    ByteReader r(body);
    NameTable t;
    const quint32 players = r.u32();
    const quint32 groups = r.u32();
    const quint32 packedOffset = r.u32();
    const quint32 shortcuts = r.u32();
    const quint32 descOffset = r.u32();
    const quint32 nameOffset = r.u32();
    r.u32(); // password offset
    if (!r.ok() || players > kMaxListEntries || groups > kMaxListEntries ||
        descOffset < static_cast<quint32>(kPlayHeaderBytes) || packedOffset < static_cast<quint32>(kPlayHeaderBytes)) {
        return std::nullopt;
    }
    r.seek(static_cast<qsizetype>(descOffset) - kPlayHeaderBytes);
    t.desc = readSessionDesc(r);
    if (nameOffset >= static_cast<quint32>(kPlayHeaderBytes)) {
        r.seek(static_cast<qsizetype>(nameOffset) - kPlayHeaderBytes);
        t.name = r.utf16z();
    }
    if (!r.ok()) {
        return std::nullopt;
    }
    r.seek(static_cast<qsizetype>(packedOffset) - kPlayHeaderBytes);
    for (quint32 i = 0; i < players + groups; ++i) {
        const bool group = i >= players;
        auto p = superPacked ? readSuperPacked(r, group) : readPackedPlayer(r);
        if (!p) {
            return std::nullopt;
        }
        p->isGroup = group;
        (group ? t.groups : t.players).append(*p);
    }
    Q_UNUSED(shortcuts); // nested groups: nothing in these sessions uses them
    return t;
}
} // namespace

std::optional<NameTable> readSuperEnumPlayersReply(const QByteArray& body) {
    return readTable(body, true);
}
std::optional<NameTable> readEnumPlayersReply(const QByteArray& body) {
    return readTable(body, false);
}

std::optional<Fragment> readPacket(const QByteArray& body) {
    ByteReader r(body);
    Fragment f;
    f.message = readGuid(r);
    f.index = r.u32();
    const quint32 dataSize = r.u32();
    f.offset = r.u32();
    f.count = r.u32();
    f.messageSize = r.u32();
    // Where the data stands in the message. It follows these fields in every fragment; a sender
    // that counts from elsewhere (the service provider header) would name another number for
    // the same place, so the data is read from where it stands and this is not relied on.
    (void)r.u32();
    if (!r.ok() || dataSize == 0 || static_cast<qint64>(dataSize) > r.remaining() || f.count == 0 ||
        f.index >= f.count || static_cast<quint64>(f.offset) + dataSize > f.messageSize) {
        return std::nullopt;
    }
    f.data = r.bytes(static_cast<qsizetype>(dataSize));
    return f;
}

QByteArray packetBody(const Fragment& f) {
    QByteArray out;
    ByteWriter w(out);
    writeGuid(w, f.message);
    w.u32(f.index);
    w.u32(static_cast<quint32>(f.data.size()));
    w.u32(f.offset);
    w.u32(f.count);
    w.u32(f.messageSize);
    w.u32(kPacketDataOffset);
    w.bytes(f.data);
    return out;
}

QString commandName(Command command) {
    return commandName(commandNumber(command));
}

QString commandName(quint16 number) {
    for (const CommandEntry& e : kCommands) {
        if (commandNumber(e.command) == number) {
            return QString::fromLatin1(e.name);
        }
    }
    return QStringLiteral("command %1").arg(number);
}

} // namespace airmesh::dplay
