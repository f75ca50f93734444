#pragma once

#include "serverrecord.h"

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <utility>

namespace airmesh::wire {

// A TCP byte stream cut into 128-byte records: bytes are pushed in as they come, in pieces of
// any size, and each record is handed on as soon as its last byte is in. A boundary falls every
// 128 bytes from the start of the stream (or of the last reset). Never holds more than the
// start of one record.
class RecordStream {
public:
    // Hands each record that `bytes` completes to `onRecord`, in order. `onRecord` returns
    // whether to go on; false stops at once without touching the stream again (the record may
    // have ended the connection and the stream with it), and the rest of `bytes` is dropped.
    template <typename OnRecord> void push(QByteArrayView bytes, OnRecord&& onRecord) {
        while (!bytes.isEmpty()) {
            QByteArray record;
            if (!m_carry.isEmpty() || bytes.size() < kRecordBytes) {
                const qsizetype take = std::min<qsizetype>(kRecordBytes - m_carry.size(), bytes.size());
                m_carry.append(bytes.first(take));
                bytes = bytes.sliced(take);
                if (m_carry.size() < kRecordBytes) {
                    return;
                }
                record = std::exchange(m_carry, QByteArray());
            } else {
                record = bytes.first(kRecordBytes).toByteArray();
                bytes = bytes.sliced(kRecordBytes);
            }
            if (!onRecord(record)) {
                return;
            }
        }
    }
    // A new stream starts at a record boundary.
    void reset() { m_carry.clear(); }
    // Bytes of a record whose rest has not arrived; always fewer than one record.
    qsizetype carried() const { return m_carry.size(); }

private:
    QByteArray m_carry;
};

} // namespace airmesh::wire
