#include "framing.h"

namespace airmesh {
inline namespace serverlink {

void RecordGate::deliver(QList<QByteArray> records) {
    for (QByteArray& r : records) {
        if (static_cast<int>(m_waiting.size()) >= kMaxWaitingRecords) {
            ++m_dropped;
            continue;
        }
        m_waiting.push_back(std::move(r));
    }
    if (m_busy) {
        return; // the running batch takes them in turn
    }
    m_busy = true;
    const quint64 generation = m_generation;
    // Open the gate again however the batch ends, unless a reset already handed it to a new link.
    struct Reopen {
        RecordGate& gate;
        quint64 generation;
        ~Reopen() {
            if (generation == gate.m_generation) {
                gate.m_busy = false;
            }
        }
    } reopen{*this, generation};
    while (!m_waiting.empty() && generation == m_generation) {
        const QByteArray record = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_handler(record);
    }
}

void RecordGate::reset() {
    m_dropped += static_cast<int>(m_waiting.size());
    m_waiting.clear();
    m_busy = false;
    ++m_generation;
}

void UdpDataArrival(qint64 bytesTotal, ReceiveQueue& socket, RecordGate& gate) {
    if (bytesTotal % wire::kRecordBytes != 0) {
        return;
    }
    QList<QByteArray> batch;
    while (socket.BytesReceived() != 0) {
        QByteArray datagram = socket.GetData();
        if (datagram.isEmpty()) {
            break; // nothing more can be read now
        }
        if (datagram.size() >= wire::kRecordBytes) {
            batch.append(std::move(datagram));
        }
    }
    if (!batch.isEmpty()) {
        gate.deliver(std::move(batch));
    }
}

void TcpFramer::DataArrival(qint64 bytesTotal, ReceiveQueue& socket, RecordGate& gate) {
    if ((m_stream.carried() + bytesTotal) % wire::kRecordBytes != 0) {
        return; // the bytes stay queued; a later notification reports the grown total
    }
    QList<QByteArray> batch;
    while (socket.BytesReceived() != 0) {
        const QByteArray chunk = socket.GetData();
        if (chunk.isEmpty()) {
            break;
        }
        m_stream.push(chunk, [&batch](const QByteArray& record) {
            batch.append(record);
            return true;
        });
    }
    if (!batch.isEmpty()) {
        gate.deliver(std::move(batch));
    }
}

} // namespace serverlink
} // namespace airmesh
