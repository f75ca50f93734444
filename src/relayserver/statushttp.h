#pragma once

#include "relaycore.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>

namespace airmesh {
inline namespace relayserver {

// The operators' window on a running server, over HTTP on the relay's thread:
//   GET /             a page listing the pilots online, refreshed from /status.json
//   GET /status.json  the pilots (where their last position block puts them) and the server
//   GET /metrics      the relay counts in Prometheus' text format
// Anything else: 404, another method: 405, a request with a body: 400. Everything is built
// from the relay's state when asked, so the relay pays nothing for it between requests.
// Bounds: kMaxConnections at once (further ones closed at once), kMaxBytesPerConnection read
// per connection and kConnectionLifetimeMs per connection (then it is closed); Qt's parser
// refuses request heads over its own limit.
class StatusHttp final : public QAbstractHttpServer {
    Q_OBJECT
public:
    static constexpr int kMaxConnections = 32;
    static constexpr qint64 kMaxBytesPerConnection = qint64{64} * 1024;
    static constexpr int kConnectionLifetimeMs = 30'000;

    StatusHttp(const RelayCore& core, const Clock& clock, QString version, QObject* parent = nullptr);

    // False with `error` set when the port cannot be had.
    bool start(const QHostAddress& address, quint16 port, QString* error);
    quint16 port() const { return m_listener ? m_listener->serverPort() : 0; }

    QByteArray statusJson() const;
    QByteArray metricsText() const;
    static QByteArray pageHtml();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    class Listener;

    const RelayCore& m_core;
    const Clock& m_clock;
    QString m_version;
    QElapsedTimer m_uptime;
    QTcpServer* m_listener = nullptr; // our Listener, a child
};

} // namespace relayserver
} // namespace airmesh
