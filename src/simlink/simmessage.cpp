#include "simmessage.h"

#include "core/bytes.h"

namespace airmesh {
inline namespace simlink {

void SimMessage::WriteLong(qint32 v) {
    ByteWriter(m_data).i32(v);
}

void SimMessage::WriteByte(quint8 v) {
    ByteWriter(m_data).u8(v);
}

void SimMessage::writeBytes(const QByteArray& bytes) {
    ByteWriter(m_data).bytes(bytes);
}

template <typename Read> auto SimMessage::read(Read readField) {
    ByteReader in(m_data);
    in.seek(m_read);
    auto value = readField(in);
    // The session's callers take a short message for a failed session call: the record
    // handlers log it with the session's result code and drop the message.
    if (!in.ok()) {
        throw dp::DpError(dp::DPERR_GENERIC, "read past the end of a session message");
    }
    m_read = in.pos();
    return value;
}

qint32 SimMessage::ReadLong() {
    return read([](ByteReader& in) { return in.i32(); });
}

quint8 SimMessage::ReadByte() {
    return read([](ByteReader& in) { return in.u8(); });
}

QByteArray SimMessage::readBytes(qsizetype n) {
    return read([n](ByteReader& in) { return in.bytes(n); });
}

void SimMessage::Clear() {
    m_data.clear();
    m_read = 0;
}

} // namespace simlink
} // namespace airmesh
