#pragma once

#include "simlink/dplay/dpwire.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <optional>
#include <vector>

namespace airmesh::dplay {

// A machine joining a DirectPlay host, played by a test: it sends on one connection of its own
// to the host and reads whole messages from whatever connections the host opens to its
// listener.
class FakeJoiningMachine {
public:
    explicit FakeJoiningMachine(quint16 hostTcp, const QHostAddress& address = QHostAddress::LocalHost)
        : m_hostTcp(hostTcp), m_address(address) {
        m_listener.listen(address, 0);
    }
    quint16 port() const { return m_listener.serverPort(); }

    void send(const QByteArray& message) {
        if (m_out.state() != QAbstractSocket::ConnectedState) {
            m_out.bind(m_address, 0);
            m_out.connectToHost(m_address, m_hostTcp);
            m_out.waitForConnected(3000);
        }
        m_out.write(message);
        m_out.waitForBytesWritten(3000);
    }
    void system(Command c, const QByteArray& body) { send(systemMessage(port(), c, body)); }

    QByteArray next(int ms = 3000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            for (size_t i = 0; i < m_in.size(); ++i) {
                m_rx[i] += m_in[i]->readAll();
                const quint32 size = announcedSize(m_rx[i].constData(), int(m_rx[i].size()));
                if (size >= quint32(kSpHeaderBytes) && m_rx[i].size() >= qsizetype(size)) {
                    const QByteArray m = m_rx[i].left(size);
                    m_rx[i].remove(0, size);
                    return m;
                }
            }
            if (m_listener.waitForNewConnection(5)) {
                while (m_listener.hasPendingConnections()) {
                    m_in.emplace_back(m_listener.nextPendingConnection());
                    m_rx.emplace_back();
                }
            }
            for (auto& s : m_in) {
                s->waitForReadyRead(5);
            }
        }
        return {};
    }
    // The body of the next system message of that command; others before it are passed over.
    std::optional<QByteArray> next(Command c) {
        for (QByteArray bytes; !(bytes = next()).isEmpty();) {
            if (const auto m = parseTcpMessage(bytes); m && m->system && m->command == commandNumber(c)) {
                return m->body;
            }
        }
        return std::nullopt;
    }
    // Every message sent before this one has been handled once the answer comes.
    bool handled() {
        system(Command::Ping, pingBody(1, 77));
        return next(Command::PingReply).has_value();
    }
    void close() {
        m_out.close();
        m_in.clear();
    }

    // Asks for a player id (flags 9: this machine's system player).
    std::optional<PlayerIdReply> askId(quint32 flags) {
        system(Command::RequestPlayerId, requestPlayerIdBody(flags));
        const auto body = next(Command::RequestPlayerReply);
        return body ? readRequestPlayerReply(*body) : std::nullopt;
    }
    PlayerRecord systemRecord(quint32 id) const {
        PlayerRecord p;
        p.flags = playerflag::SysPlayer | playerflag::Local;
        p.id = p.systemPlayer = id;
        p.hasSpData = true;
        p.stream = {port(), 0};
        p.datagram = {2390, 0};
        return p;
    }
    void createPlayer(quint32 id, quint32 machine, const QString& name) {
        PlayerRecord p = systemRecord(machine);
        p.flags = playerflag::Local;
        p.id = id;
        p.shortName = name;
        system(Command::CreatePlayer, createPlayerBody(p, true));
    }
    // Joins with a system player id of its own; the name table it was given.
    std::optional<NameTable> join(quint32& id) {
        const auto reply = askId(9);
        if (!reply || reply->result != 0) {
            return std::nullopt;
        }
        id = reply->id;
        system(Command::AddForwardRequest, addForwardRequestBody(systemRecord(id), {}, 0));
        const auto body = next(Command::SuperEnumPlayersReply);
        return body ? readSuperEnumPlayersReply(*body) : std::nullopt;
    }

private:
    quint16 m_hostTcp;
    QHostAddress m_address;
    QTcpServer m_listener;
    QTcpSocket m_out;
    std::vector<std::unique_ptr<QTcpSocket>> m_in;
    std::vector<QByteArray> m_rx;
};

} // namespace airmesh::dplay
