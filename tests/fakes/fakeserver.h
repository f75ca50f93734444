#pragma once

#include "wire/records.h"

#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <vector>

namespace airmesh {

// A scripted multiplayer server on real loopback sockets, for as many clients as a test
// connects: it records every record each TCP connection and the UDP socket receive, and sends
// what the test tells it to.
class FakeServer {
public:
    struct UdpIn {
        wire::ServerRecord record;
        quint16 port = 0;
    };
    static constexpr int kWaitMs = 5000; // bound on every wait for a loopback event

    struct Conn {
        QTcpSocket* socket = nullptr;
        QByteArray in;
        QList<wire::ServerRecord> records() const {
            QList<wire::ServerRecord> out;
            for (qsizetype at = 0; at + wire::kRecordBytes <= in.size(); at += wire::kRecordBytes) {
                out.append(wire::ServerRecord::fromBytes(in.mid(at, wire::kRecordBytes)));
            }
            return out;
        }
        bool closed = false;
    };

    FakeServer() {
        udp.bind(QHostAddress::LocalHost, 0);
        tcp.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&udp, &QUdpSocket::readyRead, [this] {
            while (udp.hasPendingDatagrams()) {
                const QNetworkDatagram d = udp.receiveDatagram();
                udpIn.append({wire::ServerRecord::fromBytes(d.data()), static_cast<quint16>(d.senderPort())});
            }
        });
        QObject::connect(&tcp, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = tcp.nextPendingConnection()) {
                auto c = std::make_shared<Conn>();
                c->socket = s;
                conns.push_back(c);
                QObject::connect(s, &QTcpSocket::readyRead, [c] { c->in.append(c->socket->readAll()); });
                QObject::connect(s, &QTcpSocket::disconnected, [c] { c->closed = true; });
            }
        });
    }

    quint16 udpPort() const { return udp.localPort(); }
    // The connection that came last; nullptr before the first.
    std::shared_ptr<Conn> latest() const { return conns.empty() ? nullptr : conns.back(); }
    quint16 tcpPort() const { return tcp.serverPort(); }

    // The connection whose logon names this pilot ID; nullptr when none has come.
    std::shared_ptr<Conn> logonFrom(qint32 pilotId) const {
        for (const auto& c : conns) {
            for (const wire::ServerRecord& r : c->records()) {
                if (r.type() == wire::RecordType::LogonRequest &&
                    wire::decode<wire::LogonRequest>(r).pilotId == pilotId) {
                    return c;
                }
            }
        }
        return nullptr;
    }
    bool waitForLogon(qint32 pilotId) {
        return QTest::qWaitFor([&] { return logonFrom(pilotId) != nullptr; }, kWaitMs);
    }
    void toTcp(const std::shared_ptr<Conn>& c, const wire::ServerRecord& r) {
        c->socket->write(r.toBytes());
        c->socket->flush();
    }
    void toUdp(quint16 port, const wire::ServerRecord& r) {
        udp.writeDatagram(r.toBytes(), QHostAddress::LocalHost, port);
    }

    // UDP records of one type from one client port.
    QList<wire::ServerRecord> udpOf(wire::RecordType t, quint16 port) const {
        QList<wire::ServerRecord> out;
        for (const UdpIn& u : udpIn) {
            if (u.record.type() == t && u.port == port) {
                out.append(u.record);
            }
        }
        return out;
    }

    QUdpSocket udp;
    QTcpServer tcp;
    std::vector<std::shared_ptr<Conn>> conns;
    QList<UdpIn> udpIn;
};

} // namespace airmesh
