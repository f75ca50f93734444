#include "botconfig.h"

#include <QCommandLineParser>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace airmesh {
inline namespace bot {

namespace {

// A whole decimal number within [min, max], or an error naming the option.
bool readInt(const QCommandLineParser& p, const QCommandLineOption& o, qint64 min, qint64 max, qint64& out,
             QString& error) {
    if (!p.isSet(o)) {
        return true;
    }
    bool ok = false;
    const qint64 v = p.value(o).trimmed().toLongLong(&ok);
    if (!ok || v < min || v > max) {
        error = QStringLiteral("--%1 wants a whole number from %2 to %3, not \"%4\"")
                    .arg(o.names().constFirst())
                    .arg(min)
                    .arg(max)
                    .arg(p.value(o));
        return false;
    }
    out = v;
    return true;
}

bool validText(const QString& s) {
    return std::none_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

// The non-negative remainder of `v` by `n`, for pilot IDs of either sign.
int slot(qint64 v, int n) {
    return static_cast<int>(((v % n) + n) % n);
}

QString airportList() {
    QStringList out;
    for (const BotAirport& a : kBotAirports) {
        out << QStringLiteral("%1 (%2)").arg(QLatin1String(a.icao), QLatin1String(a.name));
    }
    return out.join(QStringLiteral(", "));
}

} // namespace

Circuit botCircuit(qint32 pilotId, int airport) {
    constexpr int kFields = static_cast<int>(kBotAirports.size());
    const qint64 k = qint64{pilotId} - 1;
    const BotAirport& field =
        kBotAirports.at(static_cast<size_t>(airport >= 0 && airport < kFields ? airport : slot(k, kFields)));
    return botCircuitAt(pilotId, field.latitude, field.longitude, false);
}

Circuit botCircuitAt(qint32 pilotId, double latitude, double longitude, bool spread) {
    constexpr int kFields = static_cast<int>(kBotAirports.size());
    const qint64 k = qint64{pilotId} - 1;
    Circuit c;
    c.centreLatitude = latitude;
    c.centreLongitude = longitude;
    if (spread) {
        // Round the point on a spiral, each ID turned by the golden angle from the one before:
        // no two of a run share a centre, and all stay within a few miles of the point.
        constexpr double kGoldenAngleDeg = 137.50776;
        constexpr double kPi = 3.14159265358979323846;
        const double bearing = std::fmod(static_cast<double>(slot(k, 1000)) * kGoldenAngleDeg, 360.0) * kPi / 180.0;
        const double nm = 1.0 + 0.75 * slot(k, 5);
        c.centreLatitude = std::clamp(latitude + nm * std::cos(bearing) / 60.0, -89.0, 89.0);
        c.centreLongitude = longitude + nm * std::sin(bearing) / (60.0 * std::cos(c.centreLatitude * kPi / 180.0));
        c.centreLongitude = std::remainder(c.centreLongitude, 360.0);
    }
    // Each a cycle of its own length, so they combine differently from one ID to the next.
    c.altitudeFt = 1500.0 + 500.0 * slot(k, 7);
    c.radiusNm = 2.0 + 0.5 * slot((k - slot(k, kFields)) / kFields, 3); // by each round of the table
    c.speedKt = 90.0 + 10.0 * slot(k, 8);
    return c;
}

bool parseBotArguments(const QStringList& args, BotRun& run, QString& error, QString* usage) {
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("A headless Airmesh pilot: the client's own server link with a stand-in simulator.\n"
                       "Commands on standard input: chat TEXT, crash, aircraft TITLE ENGINE, quit;\n"
                       "\"@HANDLE command\" sends one to a single bot."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("This help."));
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("Server address (127.0.0.1)."),
                                    QStringLiteral("host"));
    const QCommandLineOption udpPort(QStringLiteral("udp-port"), QStringLiteral("Server UDP port (1500)."),
                                     QStringLiteral("port"));
    const QCommandLineOption tcpPort(QStringLiteral("tcp-port"), QStringLiteral("Server TCP port (1502)."),
                                     QStringLiteral("port"));
    const QCommandLineOption clientPort(
        QStringLiteral("client-udp-port"),
        QStringLiteral("Local UDP port of the first bot, the next bots counting up (0: any free port; default)."),
        QStringLiteral("port"));
    const QCommandLineOption pilotId(QStringLiteral("pilot-id"),
                                     QStringLiteral("Pilot ID of the first bot, the next counting up (1001)."),
                                     QStringLiteral("id"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("Password, a number (0)."),
                                      QStringLiteral("number"));
    const QCommandLineOption handle(
        QStringLiteral("handle"),
        QStringLiteral("Handle; with --count above 1 each bot appends its number (Bot1, Bot2, ...)."),
        QStringLiteral("name"));
    const QCommandLineOption title(QStringLiteral("title"), QStringLiteral("Aircraft title (Cessna Skyhawk 172SP)."),
                                   QStringLiteral("title"));
    const QCommandLineOption engine(QStringLiteral("engine"),
                                    QStringLiteral("Engine type: 0 piston, 1 jet, 2 none, 3 helo turbine (0)."),
                                    QStringLiteral("code"));
    const QCommandLineOption rate(QStringLiteral("rate"), QStringLiteral("Positions per second, 0 to 50 (5)."),
                                  QStringLiteral("n"));
    const QCommandLineOption report(QStringLiteral("report"),
                                    QStringLiteral("Seconds between reports of received positions (5)."),
                                    QStringLiteral("s"));
    const QCommandLineOption chatInterval(QStringLiteral("chat-interval"),
                                          QStringLiteral("Seconds between chat lines, 0 for none (0)."),
                                          QStringLiteral("s"));
    const QCommandLineOption chatText(QStringLiteral("chat-text"),
                                      QStringLiteral("Chat text; {handle} and {n} are replaced."),
                                      QStringLiteral("text"));
    const QCommandLineOption crashAfter(QStringLiteral("crash-after"),
                                        QStringLiteral("Crash this many seconds after logon, 0 for never (0)."),
                                        QStringLiteral("s"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Number of bots, 1 to 100 (1)."),
                                   QStringLiteral("n"));
    const QCommandLineOption runTime(QStringLiteral("run-time"),
                                     QStringLiteral("Stop after this many seconds, 0 for never (0)."),
                                     QStringLiteral("s"));
    const QCommandLineOption folder(QStringLiteral("folder"),
                                    QStringLiteral("Folder for each bot's settings and log (a temporary one)."),
                                    QStringLiteral("dir"));
    const QCommandLineOption log(QStringLiteral("log"), QStringLiteral("Write each bot's activity log."));
    const QCommandLineOption airport(
        QStringLiteral("airport"),
        QStringLiteral("The field every bot circles over: %1 (default: one after another by pilot ID).")
            .arg(airportList()),
        QStringLiteral("icao"));
    const QCommandLineOption at(QStringLiteral("at"),
                                QStringLiteral("Every bot circles within a few nm of this point instead, in degrees "
                                               "(north and east positive), e.g. 51.47,-0.46."),
                                QStringLiteral("lat,lon"));
    p.addOptions({help,       server, udpPort, tcpPort, clientPort, pilotId,      password,
                  handle,     title,  engine,  rate,    report,     chatInterval, chatText,
                  crashAfter, count,  runTime, folder,  log,        airport,      at});
    if (usage) {
        *usage = p.helpText();
    }

    if (!p.parse(QStringList{QStringLiteral("airmesh-bot")} + args)) {
        error = p.errorText();
        return false;
    }
    if (!p.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument \"%1\"").arg(p.positionalArguments().constFirst());
        return false;
    }
    run = BotRun{};
    run.help = p.isSet(help);

    BotConfig base;
    qint64 v = 0;
    constexpr qint64 i32min = std::numeric_limits<qint32>::min();
    constexpr qint64 i32max = std::numeric_limits<qint32>::max();
    qint64 n = 1;
    if (!readInt(p, count, 1, kMaxBots, n, error)) {
        return false;
    }
    if (p.isSet(server)) {
        base.host = p.value(server).trimmed();
        if (base.host.isEmpty()) {
            error = QStringLiteral("--server wants an address");
            return false;
        }
    }
    v = base.serverUdpPort;
    if (!readInt(p, udpPort, 1, 65535, v, error)) {
        return false;
    }
    base.serverUdpPort = static_cast<int>(v);
    v = base.serverTcpPort;
    if (!readInt(p, tcpPort, 1, 65535, v, error)) {
        return false;
    }
    base.serverTcpPort = static_cast<int>(v);
    v = base.clientUdpPort;
    if (!readInt(p, clientPort, 0, 65535, v, error)) {
        return false;
    }
    if (v != 0 && v + n - 1 > 65535) {
        error = QStringLiteral("--client-udp-port leaves no room for %1 bots").arg(n);
        return false;
    }
    base.clientUdpPort = static_cast<int>(v);
    v = base.pilotId;
    if (!readInt(p, pilotId, i32min, i32max, v, error)) {
        return false;
    }
    if (v + n - 1 > i32max) {
        error = QStringLiteral("--pilot-id leaves no room for %1 bots").arg(n);
        return false;
    }
    base.pilotId = static_cast<qint32>(v);
    v = 0;
    if (p.isSet(password)) {
        if (!readInt(p, password, i32min, i32max, v, error)) {
            return false;
        }
        base.password = QString::number(v);
    }
    if (p.isSet(title)) {
        base.title = p.value(title);
        if (base.title.trimmed().isEmpty() || !validText(base.title)) {
            error = QStringLiteral("--title wants a printable aircraft title");
            return false;
        }
    }
    v = base.engineType;
    if (!readInt(p, engine, i32min, i32max, v, error)) {
        return false;
    }
    base.engineType = static_cast<qint32>(v);
    if (p.isSet(rate)) {
        bool ok = false;
        const double r = p.value(rate).toDouble(&ok);
        if (!ok || !(r >= 0 && r <= 50)) {
            error = QStringLiteral("--rate wants a number from 0 to 50, not \"%1\"").arg(p.value(rate));
            return false;
        }
        base.positionsPerSecond = r;
    }
    v = base.reportSeconds;
    if (!readInt(p, report, 1, 3600, v, error)) {
        return false;
    }
    base.reportSeconds = static_cast<int>(v);
    v = 0;
    if (!readInt(p, chatInterval, 0, 86400, v, error)) {
        return false;
    }
    base.chatIntervalSeconds = static_cast<int>(v);
    if (p.isSet(chatText)) {
        base.chatText = p.value(chatText);
        if (base.chatText.trimmed().isEmpty() || !validText(base.chatText)) {
            error = QStringLiteral("--chat-text wants printable text");
            return false;
        }
    }
    v = 0;
    if (!readInt(p, crashAfter, 0, 86400, v, error)) {
        return false;
    }
    base.crashAfterSeconds = static_cast<int>(v);
    v = 0;
    if (!readInt(p, runTime, 0, qint64{7} * 86400, v, error)) {
        return false;
    }
    run.runSeconds = static_cast<int>(v);
    run.folder = p.value(folder);
    base.activityLog = p.isSet(log);
    int field = -1;
    if (p.isSet(airport)) {
        const QString icao = p.value(airport).trimmed();
        const auto* const found = std::find_if(kBotAirports.begin(), kBotAirports.end(), [&icao](const BotAirport& a) {
            return icao.compare(QLatin1String(a.icao), Qt::CaseInsensitive) == 0;
        });
        if (found == kBotAirports.end()) {
            error = QStringLiteral("--airport wants one of %1, not \"%2\"").arg(airportList(), p.value(airport));
            return false;
        }
        field = static_cast<int>(found - kBotAirports.begin());
    }
    std::optional<std::pair<double, double>> point;
    if (p.isSet(at)) {
        if (p.isSet(airport)) {
            error = QStringLiteral("--at and --airport are two answers to one question: give one");
            return false;
        }
        const QStringList parts = p.value(at).split(QLatin1Char(','));
        bool okLat = false;
        bool okLon = false;
        const double lat = parts.size() == 2 ? parts[0].trimmed().toDouble(&okLat) : 0;
        const double lon = parts.size() == 2 ? parts[1].trimmed().toDouble(&okLon) : 0;
        if (!okLat || !okLon || !(lat >= -89 && lat <= 89) || !(lon >= -180 && lon <= 180)) {
            error = QStringLiteral("--at wants LAT,LON in degrees (latitude -89 to 89, longitude -180 to 180), not "
                                   "\"%1\"")
                        .arg(p.value(at));
            return false;
        }
        point = std::pair{lat, lon};
    }

    const bool handleGiven = p.isSet(handle);
    const QString handleBase = handleGiven ? p.value(handle).trimmed() : QStringLiteral("Bot");
    if (handleBase.isEmpty() || !validText(handleBase) || handleBase.contains(QLatin1Char(' ')) ||
        handleBase.startsWith(QLatin1Char('@'))) {
        error = QStringLiteral("--handle wants a name without spaces or control characters");
        return false;
    }
    for (int i = 0; i < n; ++i) {
        BotConfig c = base;
        c.handle = (n == 1 && handleGiven) ? handleBase : handleBase + QString::number(i + 1);
        if (c.handle.size() > kMaxHandleChars) {
            error = QStringLiteral("handle \"%1\" is longer than %2 characters").arg(c.handle).arg(kMaxHandleChars);
            return false;
        }
        c.pilotId = static_cast<qint32>(base.pilotId + i);
        c.clientUdpPort = base.clientUdpPort == 0 ? 0 : base.clientUdpPort + i;
        c.circuit = point ? botCircuitAt(c.pilotId, point->first, point->second) : botCircuit(c.pilotId, field);
        run.bots.append(c);
    }
    return true;
}

} // namespace bot
} // namespace airmesh
