#pragma once

#include "framing.h"
#include "socket.h"

namespace airmesh {

// A socket seen by the receive framing. For UDP, datagrams whose sender is not `allowed`
// (when set) are read and thrown away before they reach the framing: only the server may
// speak on the client's UDP port.
class SocketReceiveQueue final : public ReceiveQueue {
public:
    explicit SocketReceiveQueue(Socket& socket) : m_socket(socket) {}

    void setAllowedSender(const QHostAddress& address) { m_allowed = address; }

    qint64 BytesReceived() const override { return m_socket.BytesReceived(); }
    QByteArray GetData() override;

    int refusedDatagrams() const { return m_refused; }

private:
    Socket& m_socket;
    QHostAddress m_allowed;
    int m_refused = 0;
};

} // namespace airmesh
