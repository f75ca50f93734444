#pragma once

#include "standin/circuit.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

namespace airmesh {
inline namespace bot {

// A field the bots circle over. All lie within 40 nm of Seattle-Tacoma, where fs-standin flies
// the user's aircraft by default, so that a simulator there sees the bots around it.
struct BotAirport {
    const char* icao;
    const char* name;
    double latitude;
    double longitude;
};
inline constexpr std::array<BotAirport, 5> kBotAirports{{
    {"KBFI", "Boeing Field", 47.5300, -122.3019},
    {"KPAE", "Paine Field", 47.9063, -122.2816},
    {"KTIW", "Tacoma Narrows", 47.2679, -122.5781},
    {"KOLM", "Olympia", 46.9694, -122.9025},
    {"KPWT", "Bremerton", 47.4902, -122.7648},
}};

// The circuit of the bot with this pilot ID: over the airport at index `airport` of
// kBotAirports, or with -1 over the one the pilot ID picks (pilot IDs 1, 6, 11, ... and 1001,
// 2001 over KBFI, the next ID over the next field), so bots with IDs counting up go round the
// table. Altitude (1500 to 4500 ft), radius (2 to 3 nm) and speed (90 to 160 kt) vary with the
// ID too: no two of 100 consecutive IDs fly the same circle at the same altitude.
Circuit botCircuit(qint32 pilotId, int airport = -1);
// The same circuit for this pilot ID around a point of the user's choice: its centre a few nm
// from the point (1 to 4 nm, in a bearing of its own) unless `spread` is false.
Circuit botCircuitAt(qint32 pilotId, double latitude, double longitude, bool spread = true);

// One headless pilot: where its server is, who it is, what it flies and how it behaves.
struct BotConfig {
    QString host = QStringLiteral("127.0.0.1");
    int serverUdpPort = 1500;
    int serverTcpPort = 1502;
    int clientUdpPort = 0; // 0: any free port
    qint32 pilotId = 1001;
    QString password = QStringLiteral("0");
    QString handle = QStringLiteral("Bot1");
    QString title = QStringLiteral("Cessna Skyhawk 172SP");
    qint32 engineType = 0;
    double positionsPerSecond = 5.0;
    int reportSeconds = 5;
    // A chat line this often once logged on; 0: never. "{handle}" and "{n}" (a running count
    // from 1) are replaced in the text.
    int chatIntervalSeconds = 0;
    QString chatText = QStringLiteral("Hello from {handle} #{n}");
    // A crash this long after the logon; 0: never.
    int crashAfterSeconds = 0;
    // The bot's own folder: its settings file and its activity log.
    QString folder;
    // The activity log's two flags.
    bool activityLog = false;
    // Where its simulator flies.
    Circuit circuit = botCircuit(1001);
};

// What the command line asks for: the bots and how long to run.
struct BotRun {
    QList<BotConfig> bots;
    int runSeconds = 0; // 0: until stopped
    QString folder;     // empty: a temporary folder removed at exit
    bool help = false;
};

// Longest handle the server record carries.
inline constexpr int kMaxHandleChars = 20;
inline constexpr int kMaxBots = 100;

// Parses the program's arguments (without the program name). On failure returns false with
// `error` saying why; `usage` always receives the help text.
bool parseBotArguments(const QStringList& args, BotRun& run, QString& error, QString* usage = nullptr);

} // namespace bot
} // namespace airmesh
