#include "records.h"

#include <cstring>

namespace airmesh::wire {

void detail::FieldWriter::finish() {
    // A layout longer than the body is a fault of ours, caught by the golden tests; it is cut
    // rather than written past the record.
    Q_ASSERT(m_body.size() <= kRecordBodyBytes);
    std::memcpy(m_r.body.data(), m_body.constData(),
                static_cast<std::size_t>(std::min<qsizetype>(m_body.size(), kRecordBodyBytes)));
}

QStringList chatPieces(const QString& text) {
    QStringList pieces;
    for (qsizetype i = 0; i < text.size(); i += ChatChunk::kPieceChars) {
        pieces.append(text.mid(i, ChatChunk::kPieceChars));
    }
    pieces.append(kChatEndMark);
    return pieces;
}

namespace toServer {

ServerRecord logonRequest(qint32 pilotId, qint32 password, const QString& handle) {
    return encode(LogonRequest{pilotId, password, handle});
}

ServerRecord heartBeat(qint32 session) {
    return encode(HeartBeat{session});
}

ServerRecord aircraftDetails(qint32 session, qint32 engineType, const QString& title, bool nulAfterTitle) {
    return encode(AircraftDetails{session, engineType, nulAfterTitle ? title + QChar(u'\0') : title});
}

ServerRecord queryPlane(qint32 session) {
    return encode(QueryPlane{session});
}

ServerRecord playerCrashed(qint32 session) {
    return encode(PlayerCrashed{session});
}

ServerRecord positionUpdate(qint32 session, const QByteArray& block) {
    return encode(PositionUpdate{session, block});
}

ServerRecord chatChunk(qint32 session, const QString& piece) {
    return encode(ChatChunk{session, piece});
}

} // namespace toServer

namespace toClient {

ServerRecord logonAccepted(qint32 session, const QString& greeting) {
    return encode(LogonAccepted{session, greeting});
}

ServerRecord logonRejected() {
    return encode(LogonRejected{});
}

ServerRecord playerJoined(qint32 session, const QString& handle) {
    return encode(PlayerJoined{session, handle});
}

ServerRecord playerLeft(qint32 session, const QString& handle) {
    return encode(PlayerLeft{session, handle});
}

ServerRecord heartBeatAck() {
    return encode(HeartBeat{0});
}

ServerRecord playerCrashed(qint32 crashedSession, const QString& text) {
    return encode(CrashNotice{crashedSession, text});
}

ServerRecord aircraftDetails(qint32 session, qint32 engineType, const QString& title) {
    return encode(AircraftDetails{session, engineType, title});
}

ServerRecord queryPlane(qint32 askingSession) {
    return encode(QueryPlane{askingSession});
}

ServerRecord positionUpdate(qint32 session, const QByteArray& block) {
    return encode(PositionUpdate{session, block});
}

ServerRecord chatChunk(qint32 session, const QString& piece) {
    return encode(ChatChunk{session, piece});
}

} // namespace toClient

} // namespace airmesh::wire
