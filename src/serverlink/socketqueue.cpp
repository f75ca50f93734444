#include "socketqueue.h"

namespace airmesh {
inline namespace serverlink {

QByteArray SocketReceiveQueue::GetData() {
    if (m_socket.protocol() != Socket::Protocol::Udp || m_allowed.isNull()) {
        return m_socket.GetData();
    }
    // Skip datagrams from anyone else; an empty result ends the caller's read loop only when
    // nothing from the allowed sender is left.
    while (m_socket.BytesReceived() != 0) {
        QHostAddress sender;
        quint16 port = 0;
        QByteArray d = m_socket.GetData(&sender, &port);
        if (port == m_allowedPort && sender.isEqual(m_allowed, QHostAddress::TolerantConversion)) {
            return d;
        }
        ++m_refused;
    }
    return {};
}

} // namespace serverlink
} // namespace airmesh
