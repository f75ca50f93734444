#pragma once

#include "wire/recordstream.h"
#include "wire/serverrecord.h"

#include <QByteArray>
#include <QList>

#include <deque>
#include <functional>

namespace airmesh {
inline namespace serverlink {

// What the receive path needs of a socket: how much is queued, and the next piece of it
// (UDP: one whole datagram; TCP: every byte queued).
class ReceiveQueue {
public:
    virtual ~ReceiveQueue() = default;
    virtual qint64 BytesReceived() const = 0;
    virtual QByteArray GetData() = 0;
};

// The receive gate of one socket. Records are handed to the handler one at a time, in
// arrival order, and a second batch never starts inside the first: a batch that arrives
// while one is being handled (a handler let events run) waits in a bounded queue and the
// running batch hands it on after its own records, so the running one is never blocked.
class RecordGate {
public:
    using Handler = std::function<void(const QByteArray& record)>;
    // Records waiting behind a running batch beyond this are dropped.
    static constexpr int kMaxWaitingRecords = 4096;

    explicit RecordGate(Handler handler) : m_handler(std::move(handler)) {}

    void deliver(QList<QByteArray> records);
    // True when no batch is running (the gate is open).
    bool isReady() const { return !m_busy; }
    // Opens the gate afresh for a new link: records still waiting, and the rest of a batch
    // being handled, belonged to the old link and are dropped.
    void reset();
    int droppedRecords() const { return m_dropped; }

private:
    Handler m_handler;
    std::deque<QByteArray> m_waiting;
    bool m_busy = false;
    quint64 m_generation = 0;
    int m_dropped = 0;
};

// UDP: one record per datagram. A notification whose size is not a whole number of records
// reads nothing. Otherwise every queued datagram is read; a datagram shorter than a record
// is dropped, a longer one is handed on whole (only its first 128 bytes are ever decoded).
void UdpDataArrival(qint64 bytesTotal, ReceiveQueue& socket, RecordGate& gate);

// TCP: records back to back, a boundary every 128 bytes from the start of the connection.
class TcpFramer {
public:
    // Reads only when the queued bytes complete whole records, then hands each record on.
    void DataArrival(qint64 bytesTotal, ReceiveQueue& socket, RecordGate& gate);
    // A new connection starts at a record boundary.
    void reset() { m_stream.reset(); }
    qsizetype carried() const { return m_stream.carried(); }

private:
    // Holds the start of a record whose rest had not yet arrived when the socket was read (data
    // can arrive between the notification and the read).
    wire::RecordStream m_stream;
};

} // namespace serverlink
} // namespace airmesh
