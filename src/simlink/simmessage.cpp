#include "simmessage.h"

#include <QtEndian>

namespace airmesh {

void SimMessage::WriteLong(qint32 v) {
    char b[4];
    qToLittleEndian(v, b);
    m_data.append(b, 4);
}

void SimMessage::WriteByte(quint8 v) {
    m_data.append(static_cast<char>(v));
}

void SimMessage::writeBytes(const QByteArray& bytes) {
    m_data.append(bytes);
}

void SimMessage::need(qsizetype n) const {
    if (n < 0 || remaining() < n) {
        throw dp::DpError(dp::DPERR_GENERIC, "read past the end of a session message");
    }
}

qint32 SimMessage::ReadLong() {
    need(4);
    const qint32 v = qFromLittleEndian<qint32>(m_data.constData() + m_read);
    m_read += 4;
    return v;
}

quint8 SimMessage::ReadByte() {
    need(1);
    return static_cast<quint8>(m_data[m_read++]);
}

QByteArray SimMessage::readBytes(qsizetype n) {
    need(n);
    QByteArray out = m_data.mid(m_read, n);
    m_read += n;
    return out;
}

void SimMessage::Clear() {
    m_data.clear();
    m_read = 0;
}

} // namespace airmesh
