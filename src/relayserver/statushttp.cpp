#include "statushttp.h"

#include "wire/positionblock.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

#include <cmath>
#include <memory>

namespace airmesh {
inline namespace relayserver {

using Status = QHttpServerResponder::StatusCode;

// Hands the HTTP server its connections, a bounded number of them, each for a bounded time and
// a bounded number of bytes.
class StatusHttp::Listener final : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (m_open >= kMaxConnections) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // Connected before the HTTP server's own slot, so it sees each chunk before it is read.
        auto received = std::make_shared<qint64>(0);
        connect(socket, &QTcpSocket::readyRead, socket, [socket, received] {
            *received += socket->bytesAvailable();
            if (*received > kMaxBytesPerConnection) {
                socket->abort();
            }
        });
        QTimer::singleShot(kConnectionLifetimeMs, socket, [socket] { socket->abort(); });
        addPendingConnection(socket);
    }

private:
    int m_open = 0;
};

namespace {

double rounded(double v, double scale) {
    return std::round(v * scale) / scale;
}

QString trimmedRight(QString s) {
    while (!s.isEmpty() && s.back() == u' ') {
        s.chop(1);
    }
    return s;
}

// Prometheus text exposition: one metric with its help and type, then its samples.
void metric(QByteArray& out, const char* name, const char* type, const char* help) {
    out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
}
void sample(QByteArray& out, const char* name, quint64 value, const QByteArray& labels = {}) {
    out += name + (labels.isEmpty() ? QByteArray() : '{' + labels + '}') + ' ' + QByteArray::number(value) + '\n';
}

// The map's grid: the world as longitude and latitude drawn straight (equirectangular: x is the
// longitude + 180, y is 90 - the latitude), a line every 30 degrees with its degrees, the equator
// and the prime meridian a little darker.
QByteArray mapGrid() {
    QByteArray g = "<g>";
    for (int lon = -180; lon <= 180; lon += 30) {
        const QByteArray x = QByteArray::number(lon + 180);
        g += "<line class='grid" + QByteArray(lon == 0 ? " equator" : "") + "' x1='" + x + "' y1='0' x2='" + x +
             "' y2='180'/>";
        if (lon < 180) {
            g += "<text x='" + QByteArray::number(lon + 181) + "' y='178'>" + QByteArray::number(std::abs(lon)) +
                 (lon < 0   ? "W"
                  : lon > 0 ? "E"
                            : "") +
                 "</text>";
        }
    }
    for (int lat = -90; lat <= 90; lat += 30) {
        const QByteArray y = QByteArray::number(90 - lat);
        g += "<line class='grid" + QByteArray(lat == 0 ? " equator" : "") + "' x1='0' y1='" + y + "' x2='360' y2='" +
             y + "'/>";
        if (lat > -90 && lat < 90) {
            g += "<text x='1' y='" + QByteArray::number(89 - lat) + "'>" + QByteArray::number(std::abs(lat)) +
                 (lat < 0   ? "S"
                  : lat > 0 ? "N"
                            : "") +
                 "</text>";
        }
    }
    return g + "</g>";
}

} // namespace

StatusHttp::StatusHttp(const RelayCore& core, const Clock& clock, QString version, QObject* parent)
    : QAbstractHttpServer(parent), m_core(core), m_clock(clock), m_version(std::move(version)) {
    m_uptime.start();
}

bool StatusHttp::start(const QHostAddress& address, quint16 port, QString* error) {
    auto* listener = new Listener(this);
    if (!listener->listen(address, port)) {
        *error = QStringLiteral("HTTP port %1: %2").arg(port).arg(listener->errorString());
        delete listener;
        return false;
    }
    m_listener = listener;
    bind(listener);
    return true;
}

bool StatusHttp::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    QHttpServerResponder responder = makeResponder(request, socket);
    const QString path = request.url().path();
    const auto text = [](const char* s) { return QByteArray(s); };
    if (path != u"/" && path != u"/status.json" && path != u"/metrics") {
        responder.write(text("not found\n"), "text/plain", Status::NotFound);
        return true;
    }
    if (request.method() != QHttpServerRequest::Method::Get) {
        responder.write(text("only GET\n"), {{"Content-Type", "text/plain"}, {"Allow", "GET"}},
                        Status::MethodNotAllowed);
        return true;
    }
    if (!request.body().isEmpty()) {
        responder.write(text("a GET has no body\n"), "text/plain", Status::BadRequest);
        return true;
    }
    if (path == u"/status.json") {
        responder.write(statusJson(), "application/json");
    } else if (path == u"/metrics") {
        responder.write(metricsText(), "text/plain; version=0.0.4; charset=utf-8");
    } else {
        responder.write(pageHtml(), "text/html; charset=utf-8");
    }
    return true;
}

void StatusHttp::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
    makeResponder(request, socket).write(QByteArray("not found\n"), "text/plain", Status::NotFound);
}

QByteArray StatusHttp::statusJson() const {
    const qint64 nowMs = m_clock.steadyMs();
    QJsonArray pilots;
    for (const PilotView& p : m_core.pilots()) {
        QJsonObject o{{QStringLiteral("pilot_id"), p.pilotId},
                      {QStringLiteral("session"), p.session},
                      {QStringLiteral("handle"), p.handle},
                      {QStringLiteral("title"), p.title ? QJsonValue(trimmedRight(*p.title)) : QJsonValue()},
                      {QStringLiteral("engine"), p.title ? QJsonValue(p.engine) : QJsonValue()}};
        const std::optional<wire::AircraftPosition> pos = wire::decodePosition(p.lastPosition);
        const auto put = [&](const char* key, const QJsonValue& v) {
            o.insert(QLatin1String(key), pos ? v : QJsonValue());
        };
        put("lat", pos ? rounded(pos->latitudeDeg, 1e6) : 0);
        put("lon", pos ? rounded(pos->longitudeDeg, 1e6) : 0);
        put("alt_ft", pos ? rounded(pos->altitudeFt, 10) : 0);
        put("heading", pos ? rounded(pos->headingDeg, 10) : 0);
        put("pitch", pos ? rounded(pos->pitchDeg, 10) : 0);
        put("bank", pos ? rounded(pos->bankDeg, 10) : 0);
        put("on_ground", pos ? pos->onGround : false);
        put("ground_speed_kt", pos ? rounded(pos->groundSpeedKt, 10) : 0);
        put("last_position_s", pos ? rounded(double(nowMs - p.lastPositionMs) / 1000.0, 10) : 0);
        pilots.append(o);
    }
    const QJsonObject server{{QStringLiteral("uptime_s"), rounded(double(m_uptime.elapsed()) / 1000.0, 1)},
                             {QStringLiteral("pilots_online"), m_core.pilotCount()},
                             {QStringLiteral("version"), m_version}};
    return QJsonDocument(QJsonObject{{QStringLiteral("pilots"), pilots}, {QStringLiteral("server"), server}})
        .toJson(QJsonDocument::Compact);
}

QByteArray StatusHttp::metricsText() const {
    const RelayStats& s = m_core.stats();
    QByteArray out;
    metric(out, "airmesh_pilots_online", "gauge", "Pilots logged on now.");
    sample(out, "airmesh_pilots_online", static_cast<quint64>(m_core.pilotCount()));
    metric(out, "airmesh_uptime_seconds", "gauge", "Seconds since the server started.");
    sample(out, "airmesh_uptime_seconds", static_cast<quint64>(m_uptime.elapsed() / 1000));
    metric(out, "airmesh_records_relayed_total", "counter",
           "Records from pilots passed on to the others (positions, plane queries, crashes, aircraft, chat).");
    sample(out, "airmesh_records_relayed_total", s.positions + s.queries + s.crashes + s.aircraft + s.chatChunks);
    metric(out, "airmesh_heartbeats_total", "counter", "Heartbeats answered.");
    sample(out, "airmesh_heartbeats_total", s.heartBeats);
    metric(out, "airmesh_datagrams_sent_total", "counter", "Records sent over UDP.");
    sample(out, "airmesh_datagrams_sent_total", s.udpRecordsSent);
    metric(out, "airmesh_stream_records_sent_total", "counter", "Records sent over TCP.");
    sample(out, "airmesh_stream_records_sent_total", s.tcpRecordsSent);
    metric(out, "airmesh_logons_accepted_total", "counter", "Logons accepted.");
    sample(out, "airmesh_logons_accepted_total", s.logons);
    metric(out, "airmesh_logons_rejected_total", "counter",
           "Logons checked and rejected (wrong ID or password, server full or busy).");
    sample(out, "airmesh_logons_rejected_total", s.rejectedLogons);
    metric(out, "airmesh_logons_refused_blocked_total", "counter", "Logons refused unchecked from blocked addresses.");
    sample(out, "airmesh_logons_refused_blocked_total", s.blockedLogons);
    metric(out, "airmesh_logon_blocks_total", "counter", "Times an address was blocked for guessing.");
    sample(out, "airmesh_logon_blocks_total", s.logonBlocks);
    metric(out, "airmesh_pilots_dropped_total", "counter", "Connections the server gave up on, by reason.");
    static constexpr const char* kReasons[kDropReasons] = {"silent", "not_reading", "rejected_logons",
                                                           "logged_on_again", "other"};
    for (int i = 0; i < kDropReasons; ++i) {
        sample(out, "airmesh_pilots_dropped_total", s.droppedBy[static_cast<std::size_t>(i)],
               QByteArray("reason=\"") + kReasons[i] + '"');
    }
    metric(out, "airmesh_input_dropped_total", "counter", "Input thrown away, by kind.");
    sample(out, "airmesh_input_dropped_total", s.badSizeDatagrams, "kind=\"wrong_size\"");
    sample(out, "airmesh_input_dropped_total", s.badRecords, "kind=\"bad_record\"");
    sample(out, "airmesh_input_dropped_total", s.unknownSenders, "kind=\"unknown_sender\"");
    sample(out, "airmesh_input_dropped_total", s.wrongSourceDatagrams, "kind=\"wrong_source\"");
    return out;
}

QByteArray StatusHttp::pageHtml() {
    // Self-contained: no fetches but /status.json, every pilot's text set as text, never as HTML.
    static const QByteArray page = QByteArrayLiteral(R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>airmesh-server</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>
body{font-family:sans-serif;margin:1em}table{border-collapse:collapse}
th,td{padding:.2em .6em;border-bottom:1px solid #ccc;text-align:left}td.n{text-align:right}
#state{color:#666}
#map{width:100%;max-width:900px;height:auto;background:#dbe9f6;border:1px solid #9bb;display:block;margin:.5em 0}
#map .grid{stroke:#9ab;stroke-width:.3;fill:none}#map .equator{stroke:#79a;stroke-width:.5}
#map circle{fill:#c22;stroke:#fff;stroke-width:.4}#map text{font-size:6px;fill:#567}
#maplist{columns:3;max-width:900px;padding-left:1.2em}
</style></head><body>
<h1>airmesh-server</h1>
<p id="state">Loading&hellip;</p>
<svg id="map" viewBox="0 0 360 180" role="img" aria-label="Pilots online by latitude and longitude">
<defs><circle id="dot" r="2.2"><title></title></circle></defs>
)HTML") + mapGrid() + QByteArrayLiteral(R"HTML(<g id="dots"></g></svg>
<ul id="maplist"></ul>
<table><thead><tr><th>Pilot</th><th>Handle</th><th>Aircraft</th><th>Position</th><th>Altitude ft</th>
<th>Heading</th><th>Speed kt</th><th>Last position</th></tr></thead><tbody id="pilots"></tbody></table>
<noscript><p>This page needs JavaScript; <a href="/status.json">/status.json</a> has the same.</p></noscript>
<script>
"use strict";
function fix(v, d) { return v === null ? "" : v.toFixed(d); }
function where(p) {
  if (p.lat === null) return "position unknown";
  return Math.abs(p.lat).toFixed(4) + (p.lat < 0 ? " S " : " N ") + Math.abs(p.lon).toFixed(4) + (p.lon < 0 ? " W" : " E") +
    (p.on_ground ? " on the ground" : "");
}
function show(s) {
  const body = document.getElementById("pilots");
  body.replaceChildren();
  for (const p of s.pilots) {
    const row = body.insertRow();
    const cells = [[String(p.pilot_id)], [p.handle], [p.title === null ? "" : p.title], [where(p)],
      [fix(p.alt_ft, 0), 1], [p.heading === null ? "" : Math.round(p.heading) % 360, 1], [fix(p.ground_speed_kt, 0), 1],
      [p.last_position_s === null ? "" : p.last_position_s.toFixed(1) + " s ago", 1]];
    for (const [text, numeric] of cells) {
      const cell = row.insertCell();
      cell.textContent = String(text);
      if (numeric) cell.className = "n";
    }
  }
  document.getElementById("state").textContent = s.server.pilots_online + " pilots online, up " +
    s.server.uptime_s + " s, version " + s.server.version;
}
// The map's dot and its hover text are copies of the ones the page holds, so that nothing of
// a pilot's is ever read as markup.
function dotFor(p) {
  const dot = document.getElementById("dot").cloneNode(true);
  dot.removeAttribute("id");
  dot.setAttribute("cx", (p.lon + 180).toFixed(3));
  dot.setAttribute("cy", (90 - p.lat).toFixed(3));
  dot.dataset.handle = p.handle;
  dot.firstElementChild.textContent = p.handle + (p.title === null ? "" : " (" + p.title + ")");
  return dot;
}
function showMap(s) {
  const dots = document.getElementById("dots");
  const list = document.getElementById("maplist");
  dots.replaceChildren();
  list.replaceChildren();
  let unknown = 0;
  for (const p of s.pilots) {
    if (p.lat === null) { ++unknown; continue; }
    dots.appendChild(dotFor(p));
    const item = document.createElement("li");
    item.textContent = p.handle + ": " + where(p);
    list.appendChild(item);
  }
  if (unknown > 0) {
    const item = document.createElement("li");
    item.textContent = unknown + (unknown === 1 ? " pilot" : " pilots") + " without a position";
    list.appendChild(item);
  }
}
function refresh() {
  fetch("/status.json", {cache: "no-store"}).then(r => r.json()).then(s => { show(s); showMap(s); })
    .catch(() => { document.getElementById("state").textContent = "The server does not answer."; });
}
refresh();
setInterval(refresh, 3000);
</script></body></html>
)HTML");
    return page;
}

} // namespace relayserver
} // namespace airmesh
