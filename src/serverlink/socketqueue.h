#pragma once

#include "framing.h"
#include "socket.h"

namespace airmesh {
inline namespace serverlink {

// A socket seen by the receive framing. For UDP, datagrams from anyone but the allowed sender
// (an address and port, when set) are read and thrown away before they reach the framing: only
// the server may speak on the client's UDP port, and only from the port it is addressed at.
class SocketReceiveQueue final : public ReceiveQueue {
public:
    explicit SocketReceiveQueue(Socket& socket) : m_socket(socket) {}

    void setAllowedSender(const QHostAddress& address, quint16 port) {
        m_allowed = address;
        m_allowedPort = port;
    }

    qint64 BytesReceived() const override { return m_socket.BytesReceived(); }
    QByteArray GetData() override;

    int refusedDatagrams() const { return m_refused; }

private:
    Socket& m_socket;
    QHostAddress m_allowed;
    quint16 m_allowedPort = 0;
    int m_refused = 0;
};

} // namespace serverlink
} // namespace airmesh
