#pragma once

#include "wire/records.h"

#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <optional>

namespace airmesh {

// A pilot's client as the multiplayer server meets it, scripted by a test: it talks to the
// server over real loopback sockets the way the client does and keeps what it receives.
class FakePilot {
public:
    static constexpr int kWaitMs = 5000; // bound on every wait for a loopback event

    explicit FakePilot(quint16 tcpPort, quint16 udpPort, const QHostAddress& local = QHostAddress::LocalHost)
        : m_serverUdpPort(udpPort) {
        udp.bind(local, 0);
        QObject::connect(&udp, &QUdpSocket::readyRead, [this] {
            while (udp.hasPendingDatagrams()) {
                const QNetworkDatagram d = udp.receiveDatagram();
                udpIn.append(wire::ServerRecord::fromBytes(d.data()));
            }
        });
        QObject::connect(&tcp, &QTcpSocket::readyRead, [this] { tcpBytes.append(tcp.readAll()); });
        tcp.bind(local, 0);
        tcp.connectToHost(QHostAddress::LocalHost, tcpPort);
    }

    bool connected() { return tcp.state() == QAbstractSocket::ConnectedState || tcp.waitForConnected(kWaitMs); }
    quint16 udpPort() const { return udp.localPort(); }

    QList<wire::ServerRecord> tcpIn() const {
        QList<wire::ServerRecord> out;
        for (qsizetype at = 0; at + wire::kRecordBytes <= tcpBytes.size(); at += wire::kRecordBytes) {
            out.append(wire::ServerRecord::fromBytes(tcpBytes.mid(at, wire::kRecordBytes)));
        }
        return out;
    }
    void toServerTcp(const wire::ServerRecord& r) { toServerTcpRaw(r.toBytes()); }
    void toServerTcpRaw(const QByteArray& bytes) {
        tcp.write(bytes);
        tcp.flush();
    }
    void toServerUdp(const wire::ServerRecord& r) { toServerUdpRaw(r.toBytes()); }
    void toServerUdpRaw(const QByteArray& bytes) { udp.writeDatagram(bytes, QHostAddress::LocalHost, m_serverUdpPort); }

    // Waits for the n-th record (1-based) on a transport.
    bool waitTcp(qsizetype n) {
        return QTest::qWaitFor([&] { return tcpIn().size() >= n; }, kWaitMs);
    }
    bool waitUdp(qsizetype n) {
        return QTest::qWaitFor([&] { return udpIn.size() >= n; }, kWaitMs);
    }
    // The next record of `type` on TCP after those already seen, or nothing. Reads only the
    // records not yet looked at, so a long stream of them costs no more than once.
    std::optional<wire::ServerRecord> waitTcpType(wire::RecordType type, int ms = kWaitMs) {
        std::optional<wire::ServerRecord> found;
        [[maybe_unused]] const bool seen = QTest::qWaitFor(
            [&] {
                for (; (m_tcpSeen + 1) * wire::kRecordBytes <= tcpBytes.size(); ++m_tcpSeen) {
                    const wire::ServerRecord r =
                        wire::ServerRecord::fromBytes(tcpBytes.mid(m_tcpSeen * wire::kRecordBytes, wire::kRecordBytes));
                    if (r.type() == type) {
                        ++m_tcpSeen;
                        found = r;
                        return true;
                    }
                }
                return false;
            },
            ms);
        return found;
    }

    // Logon over TCP, then one heartbeat over UDP so the server knows where we listen; true
    // once both the acceptance and the heartbeat's answer have arrived.
    bool logon(qint32 pilotId, qint32 password, const QString& handle = QStringLiteral("Pilot")) {
        if (!connected()) {
            return false;
        }
        toServerTcp(wire::toServer::logonRequest(pilotId, password, handle));
        const std::optional<wire::ServerRecord> accepted = waitTcpType(wire::RecordType::LogonAccepted);
        if (!accepted) {
            return false;
        }
        const auto fields = wire::decode<wire::LogonAccepted>(*accepted);
        session = fields.session;
        greeting = fields.greeting;
        return heartBeat();
    }
    bool heartBeat() {
        const qsizetype before = udpIn.size();
        toServerUdp(wire::toServer::heartBeat(session));
        return QTest::qWaitFor(
            [&] {
                for (qsizetype i = before; i < udpIn.size(); ++i) {
                    if (udpIn[i].type() == wire::RecordType::HeartBeat) {
                        return true;
                    }
                }
                return false;
            },
            kWaitMs);
    }
    QList<wire::ServerRecord> udpOfType(wire::RecordType type) const {
        QList<wire::ServerRecord> out;
        for (const wire::ServerRecord& r : udpIn) {
            if (r.type() == type) {
                out.append(r);
            }
        }
        return out;
    }
    QList<wire::ServerRecord> tcpOfType(wire::RecordType type) const {
        QList<wire::ServerRecord> out;
        for (const wire::ServerRecord& r : tcpIn()) {
            if (r.type() == type) {
                out.append(r);
            }
        }
        return out;
    }

    QTcpSocket tcp;
    QUdpSocket udp;
    QByteArray tcpBytes;
    QList<wire::ServerRecord> udpIn;
    qint32 session = 0;
    QString greeting;

private:
    quint16 m_serverUdpPort;
    qsizetype m_tcpSeen = 0;
};

} // namespace airmesh
