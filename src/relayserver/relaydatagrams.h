#pragma once

#include "relaycore.h"

#include <QByteArrayView>
#include <QHostAddress>
#include <QObject>

#include <functional>
#include <memory>

namespace airmesh {
inline namespace relayserver {

// The server's UDP socket. Reads in batches and hands each datagram on; sends what is queued
// between flushes together. Linux: recvmmsg and sendmmsg, one system call for many datagrams;
// elsewhere: QUdpSocket, one call each. A full send buffer loses datagrams, as UDP may.
class RelayDatagrams final : public QObject {
public:
    // One datagram, whole. What it causes is queued and flushed before the next is handed on.
    using Receive = std::function<void(QByteArrayView bytes, const QHostAddress& from, quint16 port)>;
    // Datagrams handled per batch, so a flood cannot starve the TCP connections.
    static constexpr int kDatagramsPerBatch = 1024;
    // The socket's buffers each way: at a thousand pilots, 10,000 positions a second come in, and
    // a relay that loses the processor for 20 ms must still find them there (the kernel caps the
    // sizes at net.core.rmem_max and wmem_max).
    static constexpr int kBufferBytes = 4 * 1024 * 1024;

    // `afterBatch` runs after every batch of reads; `busy` says whether the relay carries so many
    // connections that waking for every datagram costs more than waiting a moment for several.
    RelayDatagrams(Receive receive, std::function<void()> afterBatch, std::function<bool()> busy,
                   QObject* parent = nullptr);
    ~RelayDatagrams() override;

    // False with `error` set when the port cannot be had.
    bool bind(const QHostAddress& address, quint16 port, QString* error);
    quint16 localPort() const;
    void close();

    void queue(const QByteArray& record, const UdpEndpoint& to);
    // Sends everything queued.
    void flush();

    // A TCP socket (a connection or the listener) of the same relay: while the relay is busy,
    // input on one of them gives the event loop its turn at once. Watched until it is closed.
    void watchStream(qintptr descriptor);

private:
    struct Backend;
    std::unique_ptr<Backend> m_backend;
};

} // namespace relayserver
} // namespace airmesh
