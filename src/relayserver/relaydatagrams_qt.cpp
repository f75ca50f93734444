// Elsewhere: QUdpSocket, one call per datagram each way.
#include "relaydatagrams.h"

#include <QUdpSocket>

#include <vector>

namespace airmesh {
inline namespace relayserver {

struct RelayDatagrams::Backend {
    Receive receive;
    std::function<void()> afterBatch;
    QUdpSocket socket;
    struct Outgoing {
        QByteArray record;
        UdpEndpoint to;
    };
    std::vector<Outgoing> outgoing; // not yet flushed

    void onReadyRead();
    void sendQueued();
};

// NOLINTNEXTLINE(performance-unnecessary-value-param): `busy` is unused here, the signature is shared
RelayDatagrams::RelayDatagrams(Receive receive, std::function<void()> afterBatch, std::function<bool()> /*busy*/,
                               QObject* parent)
    : QObject(parent), m_backend(std::make_unique<Backend>()) {
    m_backend->receive = std::move(receive);
    m_backend->afterBatch = std::move(afterBatch);
    connect(&m_backend->socket, &QUdpSocket::readyRead, this, [this] { m_backend->onReadyRead(); });
}

RelayDatagrams::~RelayDatagrams() = default;

bool RelayDatagrams::bind(const QHostAddress& address, quint16 port, QString* error) {
    QUdpSocket& s = m_backend->socket;
    if (!s.bind(address, port)) {
        *error = s.errorString();
        return false;
    }
    s.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, kBufferBytes);
    s.setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, kBufferBytes);
    return true;
}

quint16 RelayDatagrams::localPort() const {
    return m_backend->socket.localPort();
}

void RelayDatagrams::close() {
    m_backend->outgoing.clear();
    m_backend->socket.close();
}

void RelayDatagrams::queue(const QByteArray& record, const UdpEndpoint& to) {
    m_backend->outgoing.push_back({record, to});
}

void RelayDatagrams::flush() {
    m_backend->sendQueued();
}

void RelayDatagrams::Backend::sendQueued() {
    if (socket.state() == QAbstractSocket::BoundState) {
        for (const Outgoing& o : outgoing) {
            socket.writeDatagram(o.record, o.to.address, o.to.port);
        }
    }
    outgoing.clear();
}

void RelayDatagrams::Backend::onReadyRead() {
    // One byte more than a record: a longer datagram shows itself by filling the buffer.
    char buffer[wire::kRecordBytes + 1];
    QHostAddress from;
    quint16 port = 0;
    for (int i = 0; i < kDatagramsPerBatch && socket.hasPendingDatagrams(); ++i) {
        const qint64 n = socket.readDatagram(buffer, sizeof buffer, &from, &port);
        if (n < 0) {
            break;
        }
        receive(QByteArrayView(buffer, n), from, port);
        sendQueued(); // what one datagram caused goes out before the next is handled
    }
    afterBatch();
}

} // namespace relayserver
} // namespace airmesh
