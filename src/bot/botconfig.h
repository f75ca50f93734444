#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace airmesh {
inline namespace bot {

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
