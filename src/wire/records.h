#pragma once

#include "serverrecord.h"

#include "core/bytes.h"

#include <QString>
#include <QStringList>

#include <algorithm>

namespace airmesh::wire {

// The typed records: one plain value per record type, each with the layout of its fields.
// `fields` walks them in order from the first body byte (16); a field's width is written there
// and nowhere else, and its offset follows from the fields before it. The same walk encodes
// and decodes. Texts decode exactly as stored, padding (and any U+0000) included: what a
// receiver trims or cuts is its own business. A field marked `sender` is the header's
// SenderSession; every other header field is 0 when encoded.

// The width of a pilot's handle wherever one travels.
inline constexpr int kHandleChars = 20;

// Client to server, over TCP, once the connection is up.
struct LogonRequest {
    static constexpr RecordType kType = RecordType::LogonRequest;
    static constexpr RecordCategory kCategory = RecordCategory::Control;
    qint32 pilotId = 0;
    qint32 password = 0;
    QString handle; // the user's handle in the simulator
    bool operator==(const LogonRequest&) const = default;
    static void fields(auto& io, auto& r) {
        io.i32(r.pilotId);
        io.i32(r.password);
        io.text(r.handle, kHandleChars);
    }
};

struct LogonAccepted {
    static constexpr RecordType kType = RecordType::LogonAccepted;
    static constexpr RecordCategory kCategory = RecordCategory::Control;
    static constexpr int kGreetingChars = 40;
    qint32 session = 0; // the session number the server gives this client
    QString greeting;
    bool operator==(const LogonAccepted&) const = default;
    static void fields(auto& io, auto& r) {
        io.i32(r.session);
        io.text(r.greeting, kGreetingChars);
    }
};

struct LogonRejected {
    static constexpr RecordType kType = RecordType::LogonRejected;
    static constexpr RecordCategory kCategory = RecordCategory::Control;
    bool operator==(const LogonRejected&) const = default;
    static void fields(auto& /*io*/, auto& /*r*/) {}
};

struct PlayerJoined {
    static constexpr RecordType kType = RecordType::PlayerJoined;
    static constexpr RecordCategory kCategory = RecordCategory::Control;
    qint32 session = 0; // the other pilot's
    QString handle;
    bool operator==(const PlayerJoined&) const = default;
    static void fields(auto& io, auto& r) {
        io.i32(r.session);
        io.text(r.handle, kHandleChars);
    }
};

struct PlayerLeft {
    static constexpr RecordType kType = RecordType::PlayerLeft;
    static constexpr RecordCategory kCategory = RecordCategory::Control;
    qint32 session = 0;
    QString handle; // sent by the server, never needed by a client
    bool operator==(const PlayerLeft&) const = default;
    static void fields(auto& io, auto& r) {
        io.i32(r.session);
        io.text(r.handle, kHandleChars);
    }
};

// A client's heartbeat (its own session number) and the server's acknowledgement (0).
struct HeartBeat {
    static constexpr RecordType kType = RecordType::HeartBeat;
    static constexpr RecordCategory kCategory = RecordCategory::Control;
    qint32 session = 0;
    bool operator==(const HeartBeat&) const = default;
    static void fields(auto& io, auto& r) { io.sender(r.session); }
};

// The aircraft of a pilot (`session`): the simulator's engine code (0 piston, 1 jet, 2 none,
// 3 helicopter turbine) and the aircraft's title.
struct AircraftDetails {
    static constexpr RecordType kType = RecordType::AircraftDetails;
    static constexpr RecordCategory kCategory = RecordCategory::Relay;
    static constexpr int kTitleChars = 30;
    qint32 session = 0;
    qint32 engineType = 0;
    QString title;
    bool operator==(const AircraftDetails&) const = default;
    static void fields(auto& io, auto& r) {
        io.sender(r.session);
        io.i32(r.engineType);
        io.text(r.title, kTitleChars);
    }
};

// A pilot (`session`) asks the others for their aircraft.
struct QueryPlane {
    static constexpr RecordType kType = RecordType::QueryPlane;
    static constexpr RecordCategory kCategory = RecordCategory::Relay;
    qint32 session = 0;
    bool operator==(const QueryPlane&) const = default;
    static void fields(auto& io, auto& r) { io.sender(r.session); }
};

// A client reports that its user crashed.
struct PlayerCrashed {
    static constexpr RecordType kType = RecordType::PlayerCrashed;
    static constexpr RecordCategory kCategory = RecordCategory::Relay;
    qint32 session = 0;
    bool operator==(const PlayerCrashed&) const = default;
    static void fields(auto& io, auto& r) { io.sender(r.session); }
};

// The server tells the others that a pilot (`session`) crashed: a control record of the same
// type, with a text the clients show after the pilot's handle.
struct CrashNotice {
    static constexpr RecordType kType = RecordType::PlayerCrashed;
    static constexpr RecordCategory kCategory = RecordCategory::Control;
    static constexpr int kTextChars = 50;
    qint32 session = 0;
    QString text;
    bool operator==(const CrashNotice&) const = default;
    static void fields(auto& io, auto& r) {
        io.sender(r.session);
        io.text(r.text, kTextChars);
    }
};

// A pilot's position block, as the simulator hands it over; never interpreted.
struct PositionUpdate {
    static constexpr RecordType kType = RecordType::PositionUpdate;
    static constexpr RecordCategory kCategory = RecordCategory::Relay;
    static constexpr int kBlockBytes = 52;
    qint32 session = 0;
    QByteArray block; // encoded cut or zero-padded to kBlockBytes
    bool operator==(const PositionUpdate&) const = default;
    static void fields(auto& io, auto& r) {
        io.sender(r.session);
        io.block(r.block, kBlockBytes);
    }
};

// One piece of a pilot's chat text; the piece kChatEndMark ends the chat.
struct ChatChunk {
    static constexpr RecordType kType = RecordType::ChatChunk;
    static constexpr RecordCategory kCategory = RecordCategory::Relay;
    static constexpr int kPieceChars = 56; // to the end of the record
    qint32 session = 0;
    QString piece;
    bool operator==(const ChatChunk&) const = default;
    static void fields(auto& io, auto& r) {
        io.sender(r.session);
        io.text(r.piece, kPieceChars);
    }
};

namespace detail {

// Writes fields into a zero-filled record.
class FieldWriter {
public:
    explicit FieldWriter(ServerRecord& r) : m_r(r), m_out(m_body) { m_body.reserve(kRecordBodyBytes); }
    FieldWriter(const FieldWriter&) = delete;
    FieldWriter& operator=(const FieldWriter&) = delete;
    void sender(qint32 v) { m_r.SenderSession = v; }
    void i32(qint32 v) { m_out.i32(v); }
    void text(const QString& s, int units) { m_out.utf16(s, units); }
    void block(const QByteArray& b, int n) {
        const qsizetype taken = std::min<qsizetype>(b.size(), n);
        m_out.bytes(QByteArrayView(b).first(taken));
        m_out.zeros(n - taken);
    }
    // Copies the fields into the body; bytes after the last field stay zero.
    void finish();

private:
    ServerRecord& m_r;
    QByteArray m_body;
    ByteWriter m_out;
};

// Reads fields from a record; a record is always whole, so no read can fail.
class FieldReader {
public:
    explicit FieldReader(const ServerRecord& r)
        : m_r(r), m_in(QByteArrayView(r.body.data(), static_cast<qsizetype>(r.body.size()))) {}
    void sender(qint32& v) const { v = m_r.SenderSession; }
    void i32(qint32& v) { v = m_in.i32(); }
    void text(QString& s, int units) { s = m_in.utf16(units); }
    void block(QByteArray& b, int n) { b = m_in.bytes(n); }

private:
    const ServerRecord& m_r;
    ByteReader m_in;
};

} // namespace detail

// The record of a typed value: its type, category and fields, every other byte zero.
template <typename T> ServerRecord encode(const T& value) {
    static_assert(inCatalogue(T::kType, T::kCategory), "a typed record of a type and category the table lacks");
    ServerRecord r;
    r.Category = static_cast<qint32>(T::kCategory);
    r.MsgType = static_cast<qint32>(T::kType);
    detail::FieldWriter out(r);
    T::fields(out, value);
    out.finish();
    return r;
}

// The fields of `r` read as a T lays them out, whatever type `r` says it is: the caller has
// already chosen T by the record's type.
template <typename T> T decode(const ServerRecord& r) {
    T value;
    detail::FieldReader in(r);
    T::fields(in, value);
    return value;
}

// The text of the last chat piece, which ends a chat message.
inline const QString kChatEndMark = QStringLiteral("ZZZENDZZZ");

// A chat text cut into pieces of ChatChunk::kPieceChars characters (the remainder last), then
// the end mark.
QStringList chatPieces(const QString& text);

// The records each side builds, by the name of the catalogue.
// Client to server.
namespace toServer {
ServerRecord logonRequest(qint32 pilotId, qint32 password, const QString& handle);
ServerRecord heartBeat(qint32 session);
// The title is followed by one U+0000 when `nulAfterTitle` (the sends prompted by the
// simulator and the post-connect sends); the reply to a query carries none.
ServerRecord aircraftDetails(qint32 session, qint32 engineType, const QString& title, bool nulAfterTitle);
ServerRecord queryPlane(qint32 session);
ServerRecord playerCrashed(qint32 session);
ServerRecord positionUpdate(qint32 session, const QByteArray& block);
ServerRecord chatChunk(qint32 session, const QString& piece);
} // namespace toServer

// Server to client.
namespace toClient {
ServerRecord logonAccepted(qint32 session, const QString& greeting);
ServerRecord logonRejected();
ServerRecord playerJoined(qint32 session, const QString& handle);
ServerRecord playerLeft(qint32 session, const QString& handle = {});
ServerRecord heartBeatAck();
ServerRecord playerCrashed(qint32 crashedSession, const QString& text);
ServerRecord aircraftDetails(qint32 session, qint32 engineType, const QString& title);
ServerRecord queryPlane(qint32 askingSession);
ServerRecord positionUpdate(qint32 session, const QByteArray& block);
ServerRecord chatChunk(qint32 session, const QString& piece);
} // namespace toClient

} // namespace airmesh::wire
