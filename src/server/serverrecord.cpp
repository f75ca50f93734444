#include "serverrecord.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace airmesh {

namespace {

// Clamp a body field to the record so a wrong offset can never write outside it.
struct Span {
    int start = 0; // index into body
    int length = 0;
};
Span span(int offset, int length) {
    const int start = std::clamp(offset - kRecordHeaderBytes, 0, kRecordBodyBytes);
    return {start, std::clamp(length, 0, kRecordBodyBytes - start)};
}

ServerRecord make(RecordCategory c, RecordType t, qint32 session) {
    ServerRecord r;
    r.Category = static_cast<qint32>(c);
    r.MsgType = static_cast<qint32>(t);
    r.SenderSession = session;
    return r;
}

} // namespace

QByteArray ServerRecord::toBytes() const {
    QByteArray out(kRecordBytes, '\0');
    char* p = out.data();
    qToLittleEndian(Category, p);
    qToLittleEndian(MsgType, p + 4);
    qToLittleEndian(SenderSession, p + 8);
    qToLittleEndian(Reserved, p + 12);
    std::memcpy(p + kRecordHeaderBytes, body.data(), body.size());
    return out;
}

ServerRecord ServerRecord::fromBytes(const QByteArray& bytes) {
    char buf[kRecordBytes] = {};
    std::memcpy(buf, bytes.constData(), static_cast<std::size_t>(std::min<qsizetype>(bytes.size(), kRecordBytes)));
    ServerRecord r;
    r.Category = qFromLittleEndian<qint32>(buf);
    r.MsgType = qFromLittleEndian<qint32>(buf + 4);
    r.SenderSession = qFromLittleEndian<qint32>(buf + 8);
    r.Reserved = qFromLittleEndian<qint32>(buf + 12);
    std::memcpy(r.body.data(), buf + kRecordHeaderBytes, r.body.size());
    return r;
}

qint32 ServerRecord::longAt(int offset) const {
    const Span s = span(offset, 4);
    char b[4] = {};
    std::memcpy(b, body.data() + s.start, static_cast<std::size_t>(s.length));
    return qFromLittleEndian<qint32>(b);
}

void ServerRecord::setLongAt(int offset, qint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    const Span s = span(offset, 4);
    std::memcpy(body.data() + s.start, b, static_cast<std::size_t>(s.length));
}

QByteArray ServerRecord::bytesAt(int offset, int length) const {
    const Span s = span(offset, length);
    return QByteArray(body.data() + s.start, s.length);
}

void ServerRecord::setBytesAt(int offset, const QByteArray& bytes, int length) {
    const Span s = span(offset, length);
    std::memset(body.data() + s.start, 0, static_cast<std::size_t>(s.length));
    std::memcpy(body.data() + s.start, bytes.constData(),
                static_cast<std::size_t>(std::min<qsizetype>(bytes.size(), s.length)));
}

QString ServerRecord::textAt(int offset, int chars) const {
    const Span s = span(offset, chars * 2);
    QString out(s.length / 2, Qt::Uninitialized);
    for (int i = 0; i < s.length / 2; ++i) {
        out[i] = QChar(qFromLittleEndian<quint16>(body.data() + s.start + 2 * i));
    }
    return out;
}

void ServerRecord::setTextAt(int offset, int chars, const QString& text) {
    const Span s = span(offset, chars * 2);
    for (int i = 0; i < s.length / 2; ++i) {
        const char16_t u = i < text.size() ? text[i].unicode() : u' ';
        qToLittleEndian<quint16>(u, body.data() + s.start + 2 * i);
    }
}

namespace toServer {

ServerRecord logonRequest(qint32 pilotId, qint32 password, const QString& handle) {
    ServerRecord r = make(RecordCategory::Control, RecordType::LogonRequest, 0);
    r.setLongAt(recfield::LogonPilotId, pilotId);
    r.setLongAt(recfield::LogonPassword, password);
    r.setTextAt(recfield::LogonHandle, recfield::HandleChars, handle);
    return r;
}

ServerRecord heartBeat(qint32 session) {
    return make(RecordCategory::Control, RecordType::HeartBeat, session);
}

ServerRecord aircraftDetails(qint32 session, qint32 engineType, const QString& title, bool nulAfterTitle) {
    ServerRecord r = make(RecordCategory::Relay, RecordType::AircraftDetails, session);
    r.setLongAt(recfield::EngineType, engineType);
    r.setTextAt(recfield::AircraftTitle, recfield::TitleChars, nulAfterTitle ? title + QChar(u'\0') : title);
    return r;
}

ServerRecord queryPlane(qint32 session) {
    return make(RecordCategory::Relay, RecordType::QueryPlane, session);
}

ServerRecord playerCrashed(qint32 session) {
    return make(RecordCategory::Relay, RecordType::PlayerCrashed, session);
}

ServerRecord positionUpdate(qint32 session, const QByteArray& block) {
    ServerRecord r = make(RecordCategory::Relay, RecordType::PositionUpdate, session);
    r.setBytesAt(recfield::PositionBlock, block, recfield::PositionBlockBytes);
    return r;
}

ServerRecord chatChunk(qint32 session, const QString& piece) {
    ServerRecord r = make(RecordCategory::Relay, RecordType::ChatChunk, session);
    r.setTextAt(recfield::ChatPiece, recfield::ChatPieceChars, piece);
    return r;
}

} // namespace toServer

namespace toClient {

ServerRecord logonAccepted(qint32 session, const QString& greeting) {
    ServerRecord r = make(RecordCategory::Control, RecordType::LogonAccepted, 0);
    r.setLongAt(recfield::AcceptedSession, session);
    r.setTextAt(recfield::AcceptedGreeting, recfield::GreetingChars, greeting);
    return r;
}

ServerRecord logonRejected() {
    return make(RecordCategory::Control, RecordType::LogonRejected, 0);
}

ServerRecord playerJoined(qint32 session, const QString& handle) {
    ServerRecord r = make(RecordCategory::Control, RecordType::PlayerJoined, 0);
    r.setLongAt(recfield::JoinedSession, session);
    r.setTextAt(recfield::JoinedHandle, recfield::HandleChars, handle);
    return r;
}

ServerRecord playerLeft(qint32 session, const QString& handle) {
    ServerRecord r = make(RecordCategory::Control, RecordType::PlayerLeft, 0);
    r.setLongAt(recfield::LeftSession, session);
    r.setTextAt(recfield::JoinedHandle, recfield::HandleChars, handle);
    return r;
}

ServerRecord heartBeatAck() {
    return make(RecordCategory::Control, RecordType::HeartBeat, 0);
}

ServerRecord playerCrashed(qint32 crashedSession, const QString& text) {
    ServerRecord r = make(RecordCategory::Control, RecordType::PlayerCrashed, crashedSession);
    r.setTextAt(recfield::CrashText, recfield::CrashTextChars, text);
    return r;
}

ServerRecord aircraftDetails(qint32 session, qint32 engineType, const QString& title) {
    ServerRecord r = make(RecordCategory::Relay, RecordType::AircraftDetails, session);
    r.setLongAt(recfield::EngineType, engineType);
    r.setTextAt(recfield::AircraftTitle, recfield::TitleChars, title);
    return r;
}

ServerRecord queryPlane(qint32 askingSession) {
    return make(RecordCategory::Relay, RecordType::QueryPlane, askingSession);
}

ServerRecord positionUpdate(qint32 session, const QByteArray& block) {
    return toServer::positionUpdate(session, block);
}

ServerRecord chatChunk(qint32 session, const QString& piece) {
    return toServer::chatChunk(session, piece);
}

} // namespace toClient

bool acceptedFromServer(const ServerRecord& r, Transport t) {
    const bool udp = t == Transport::Udp;
    if (r.Category == static_cast<qint32>(RecordCategory::Control)) {
        switch (r.MsgType) {
        case static_cast<qint32>(RecordType::LogonAccepted):
        case static_cast<qint32>(RecordType::PlayerJoined):
        case static_cast<qint32>(RecordType::PlayerLeft):
            return true;
        case static_cast<qint32>(RecordType::LogonRejected):
        case static_cast<qint32>(RecordType::HeartBeat):
        case static_cast<qint32>(RecordType::PlayerCrashed):
            return udp;
        default:
            return false;
        }
    }
    if (r.Category == static_cast<qint32>(RecordCategory::Relay)) {
        switch (r.MsgType) {
        case static_cast<qint32>(RecordType::AircraftDetails):
        case static_cast<qint32>(RecordType::ChatChunk):
            return !udp;
        case static_cast<qint32>(RecordType::QueryPlane):
        case static_cast<qint32>(RecordType::PositionUpdate):
            return udp;
        default:
            return false;
        }
    }
    return false;
}

bool acceptedFromClient(const ServerRecord& r, Transport t) {
    const bool udp = t == Transport::Udp;
    if (r.Category == static_cast<qint32>(RecordCategory::Control)) {
        switch (r.MsgType) {
        case static_cast<qint32>(RecordType::LogonRequest):
            return !udp;
        case static_cast<qint32>(RecordType::HeartBeat):
            return udp;
        default:
            return false;
        }
    }
    if (r.Category == static_cast<qint32>(RecordCategory::Relay)) {
        switch (r.MsgType) {
        case static_cast<qint32>(RecordType::AircraftDetails):
            return true; // over UDP when reported or asked for, over TCP after logon
        case static_cast<qint32>(RecordType::QueryPlane):
        case static_cast<qint32>(RecordType::PlayerCrashed):
        case static_cast<qint32>(RecordType::PositionUpdate):
            return udp;
        case static_cast<qint32>(RecordType::ChatChunk):
            return !udp;
        default:
            return false;
        }
    }
    return false;
}

QStringList chatPieces(const QString& text) {
    QStringList pieces;
    for (qsizetype i = 0; i < text.size(); i += recfield::ChatPieceChars) {
        pieces.append(text.mid(i, recfield::ChatPieceChars));
    }
    pieces.append(kChatEndMark);
    return pieces;
}

} // namespace airmesh
