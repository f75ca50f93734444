#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtEndian>

namespace airmesh {
inline namespace core {

// Reads a byte buffer from its start forward, for every codec of outside bytes. A read that
// does not fit in what is left fails the reader: `ok()` turns false for good, the read gives
// 0 (or an empty value) and the position stays where it was; every later read fails too. So a
// codec reads all its fields and checks `ok()` once, and can never touch a byte outside the
// buffer. Every multi-byte read names its byte order. The reader does not own the bytes: they
// must outlive it and stay unchanged.
class ByteReader {
public:
    explicit ByteReader(QByteArrayView bytes) : m_b(bytes) {}

    // Inline: the busiest codecs read a dozen of these per message.
    quint8 u8() { return need(1) ? static_cast<quint8>(m_b[m_pos++]) : 0; }
    quint16 u16() { return fixed<quint16>(false); }     // little-endian
    quint32 u32() { return fixed<quint32>(false); }     // little-endian
    qint32 i32() { return static_cast<qint32>(u32()); } // little-endian, two's complement
    quint16 u16be() { return fixed<quint16>(true); }
    quint32 u32be() { return fixed<quint32>(true); }
    // The next `n` bytes, copied.
    QByteArray bytes(qsizetype n);
    // The next `n` bytes, in place.
    QByteArrayView view(qsizetype n);
    // A fixed-width text field of `units` UTF-16LE code units, exactly as stored: padding, NULs
    // and unpaired surrogates included, no byte-order mark read into it.
    QString utf16(qsizetype units);
    // UTF-16LE code units up to a U+0000 at an even distance from here; both are consumed and
    // the terminator is not kept. Fails when no terminator follows.
    QString utf16z();

    // Moves to `pos` bytes from the start; a position outside the buffer fails the reader.
    void seek(qsizetype pos);
    void skip(qsizetype n) { (void)view(n); }
    // Fails the reader on a value its caller finds malformed.
    void fail() { m_ok = false; }

    [[nodiscard]] bool ok() const { return m_ok; }
    [[nodiscard]] qsizetype pos() const { return m_pos; }
    [[nodiscard]] qsizetype remaining() const { return m_b.size() - m_pos; }

private:
    bool need(qsizetype n) {
        if (!m_ok || n < 0 || n > remaining()) {
            m_ok = false;
            return false;
        }
        return true;
    }
    template <typename T> T fixed(bool bigEndian) {
        if (!need(sizeof(T))) {
            return 0;
        }
        const char* at = m_b.data() + m_pos;
        m_pos += static_cast<qsizetype>(sizeof(T));
        return bigEndian ? qFromBigEndian<T>(at) : qFromLittleEndian<T>(at);
    }

    QByteArrayView m_b;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

// Appends to a byte buffer that the caller owns; the counterpart of ByteReader.
class ByteWriter {
public:
    explicit ByteWriter(QByteArray& out) : m_b(out) {}

    void u8(quint8 v);
    void u16(quint16 v); // little-endian
    void u32(quint32 v); // little-endian
    void i32(qint32 v);  // little-endian, two's complement
    void u16be(quint16 v);
    void u32be(quint32 v);
    void bytes(QByteArrayView b) { m_b.append(b); }
    void zeros(qsizetype n) { m_b.append(n, '\0'); }
    // A fixed-width field of `units` UTF-16LE code units: `text` cut to the width, or padded
    // with `pad` to it.
    void utf16(const QString& text, qsizetype units, char16_t pad = u' ');
    // `text` as UTF-16LE code units and a U+0000 terminator.
    void utf16z(const QString& text);
    // Overwrites four bytes already written at `pos` (little-endian); nothing outside them.
    void patchU32(qsizetype pos, quint32 v);

    [[nodiscard]] qsizetype size() const { return m_b.size(); }
    [[nodiscard]] const QByteArray& bytes() const { return m_b; }

private:
    QByteArray& m_b;
};

} // namespace core
} // namespace airmesh
