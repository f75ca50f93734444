#include "simcodec.h"

#include "core/ansi.h"

namespace airmesh {
inline namespace simlink {

namespace sim {

Header readHeader(SimMessage& m) {
    Header h;
    h.number = m.ReadLong();
    h.payloadLength = m.ReadLong();
    return h;
}

void writeHeaderOnly(SimMessage& m, SimMsg number) {
    m.Clear();
    m.WriteLong(simMsgNumber(number));
    m.WriteLong(0);
}

void writeQueryPlaneOnLogon(SimMessage& m) {
    writeHeaderOnly(m, SimMsg::QueryPlane);
    m.WriteByte(0);
}

void writeAnsiZ(SimMessage& m, const QString& text) {
    m.writeBytes(toAnsi(text));
    m.WriteByte(0);
}

void writeAircraftDetails(SimMessage& m, qint32 engineType, const QString& title) {
    const QByteArray ansi = toAnsi(title);
    m.Clear();
    m.WriteLong(simMsgNumber(SimMsg::AircraftDetails));
    m.WriteLong(static_cast<qint32>(4 + ansi.size() + 1));
    m.WriteLong(engineType);
    m.writeBytes(ansi);
    m.WriteByte(0);
}

void writePositionUpdate(SimMessage& m, const QByteArray& block) {
    QByteArray b = block.left(kPositionBlockBytes);
    b.resize(kPositionBlockBytes, '\0');
    m.Clear();
    m.WriteLong(simMsgNumber(SimMsg::PositionUpdate));
    m.WriteLong(kPositionBlockBytes);
    m.writeBytes(b);
}

void writeChat(SimMessage& m, SimMsg number, const QString& text) {
    const QByteArray ansi = toAnsi(text);
    m.Clear();
    m.WriteLong(simMsgNumber(number));
    m.WriteLong(static_cast<qint32>(ansi.size() + 1));
    m.writeBytes(ansi);
    m.WriteByte(0);
}

QString readAnsiZ(SimMessage& m) {
    QByteArray bytes;
    for (;;) {
        const quint8 b = m.ReadByte();
        if (b == 0) {
            break;
        }
        bytes.append(static_cast<char>(b));
    }
    return fromAnsi(bytes);
}

AircraftDetails readAircraftDetails(SimMessage& m) {
    AircraftDetails d;
    d.engineType = m.ReadLong();
    d.title = readAnsiZ(m);
    return d;
}

qint32 readApprovedPlayerId(SimMessage& m) {
    return m.ReadLong();
}

QByteArray readPositionBlock(SimMessage& m) {
    return m.readBytes(kPositionBlockBytes);
}

QString readChatText(SimMessage& m, qint32 payloadLength) {
    if (payloadLength <= 1) {
        return {};
    }
    // The length comes from the sender: never trust it beyond the bytes actually there.
    return fromAnsi(m.readBytes(payloadLength - 1));
}

} // namespace sim
} // namespace simlink
} // namespace airmesh
