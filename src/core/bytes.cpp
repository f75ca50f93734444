#include "bytes.h"

#include <QtEndian>

#include <array>

namespace airmesh {
inline namespace core {

QByteArrayView ByteReader::view(qsizetype n) {
    if (!need(n)) {
        return {};
    }
    const QByteArrayView v = m_b.sliced(m_pos, n);
    m_pos += n;
    return v;
}

QByteArray ByteReader::bytes(qsizetype n) {
    return view(n).toByteArray();
}

QString ByteReader::utf16(qsizetype units) {
    // Unit by unit rather than through a UTF-16 decoder: a decoder would take a leading U+FEFF
    // for a byte-order mark, and the field may sit at an odd address.
    const QByteArrayView raw = view(units < 0 ? -1 : units * 2);
    QString out(raw.size() / 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < out.size(); ++i) {
        out[i] = QChar(qFromLittleEndian<quint16>(raw.data() + 2 * i));
    }
    return out;
}

QString ByteReader::utf16z() {
    if (!m_ok) {
        return {};
    }
    for (qsizetype i = m_pos; i + 1 < m_b.size(); i += 2) {
        if (m_b[i] == 0 && m_b[i + 1] == 0) {
            QString s = utf16((i - m_pos) / 2);
            m_pos += 2;
            return s;
        }
    }
    m_ok = false;
    return {};
}

void ByteReader::seek(qsizetype pos) {
    if (pos < 0 || pos > m_b.size()) {
        m_ok = false;
        return;
    }
    m_pos = pos;
}

void ByteWriter::u8(quint8 v) {
    m_b.append(static_cast<char>(v));
}

void ByteWriter::u16(quint16 v) {
    std::array<char, 2> b{};
    qToLittleEndian(v, b.data());
    m_b.append(b.data(), b.size());
}

void ByteWriter::u32(quint32 v) {
    std::array<char, 4> b{};
    qToLittleEndian(v, b.data());
    m_b.append(b.data(), b.size());
}

void ByteWriter::i32(qint32 v) {
    u32(static_cast<quint32>(v));
}

void ByteWriter::u16be(quint16 v) {
    std::array<char, 2> b{};
    qToBigEndian(v, b.data());
    m_b.append(b.data(), b.size());
}

void ByteWriter::u32be(quint32 v) {
    std::array<char, 4> b{};
    qToBigEndian(v, b.data());
    m_b.append(b.data(), b.size());
}

void ByteWriter::utf16(const QString& text, qsizetype units, char16_t pad) {
    for (qsizetype i = 0; i < units; ++i) {
        u16(i < text.size() ? text[i].unicode() : pad);
    }
}

void ByteWriter::utf16z(const QString& text) {
    utf16(text, text.size());
    u16(0);
}

void ByteWriter::patchU32(qsizetype pos, quint32 v) {
    if (pos >= 0 && pos + 4 <= m_b.size()) {
        qToLittleEndian(v, m_b.data() + pos);
    }
}

} // namespace core
} // namespace airmesh
