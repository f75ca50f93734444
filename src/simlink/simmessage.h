#pragma once

#include "dperr.h"

#include <QByteArray>

namespace airmesh {
inline namespace simlink {

// One message of the simulator's session: written by appending, read strictly from its start
// forward (through a ByteReader). A read past the end throws dp::DpError and never touches
// bytes outside the buffer.
class SimMessage {
public:
    SimMessage() = default;
    explicit SimMessage(QByteArray bytes) : m_data(std::move(bytes)) {}

    void WriteLong(qint32 v);
    void WriteByte(quint8 v);
    void writeBytes(const QByteArray& bytes);
    qint32 ReadLong();
    quint8 ReadByte();
    // The next `n` bytes; throws when fewer remain.
    QByteArray readBytes(qsizetype n);
    // Empties the message, ready for writing.
    void Clear();

    const QByteArray& bytes() const { return m_data; }
    qsizetype size() const { return m_data.size(); }
    qsizetype readPosition() const { return m_read; }
    qsizetype remaining() const { return m_data.size() - m_read; }

    bool operator==(const SimMessage& o) const { return m_data == o.m_data; }

private:
    // Runs `readField` on a reader at the read position; advances past what it read, or throws
    // dp::DpError when it ran past the end.
    template <typename Read> auto read(Read readField);

    QByteArray m_data;
    qsizetype m_read = 0;
};

} // namespace simlink
} // namespace airmesh
