#pragma once

#include "botconfig.h"

#include "core/clientservices.h"
#include "registry/players.h"
#include "relay/clientwiring.h"
#include "simlink/simlink.h"
#include "standin/memorysession.h"
#include "standin/standin.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

namespace airmesh {
inline namespace bot {

// One headless pilot: the client's own engine (simulator link, server link, Timer1) whose
// simulator is a stand-in on an in-memory session hosted under the first application
// identifier, its own player named with the bot's handle. Everything the stand-in sees, and
// the logon's outcome, goes out as lines prefixed with the handle.
class Bot : public QObject {
    Q_OBJECT

public:
    using LineSink = std::function<void(const QString&)>;
    static constexpr int kTickMs = 50;

    // `config.folder` must exist; the settings file and the log go there.
    Bot(BotConfig config, const Clock& clock, LineSink out, QObject* parent = nullptr);
    ~Bot() override;

    // Joins the stand-in's session, loads the engine as the main window would and presses
    // Connect. False when the join failed (the reason has been printed).
    bool start();
    // The quit sequence of the client, then the TCP connection closed so the server sees the
    // pilot go at once. Safe to call twice.
    void stop();
    // A command for this bot's simulator ("chat TEXT", "crash", "aircraft TITLE ENGINE").
    bool execute(const QString& command);
    // The stand-in's positions and reports, and the bot's own chat and crash when due; run by
    // a timer every kTickMs, callable directly.
    void tick();

    const BotConfig& config() const { return m_config; }
    bool loggedOn() const { return m_wiring.link().blnConnected(); }
    SimulatorStandin& standin() { return m_standin; }
    ServerLink& link() { return m_wiring.link(); }
    ClientEngine& engine() { return m_wiring.engine(); }
    SimLink& sim() { return m_sim; }
    Relay& relay() { return m_wiring.relay(); }
    int chatsSent() const { return m_chatCount; }

signals:
    // The stand-in's "quit" command.
    void quitRequested();

private:
    class PrintedMessages;

    void print(const QString& line) const;
    void onLinkState(const QString& statusText);

    BotConfig m_config;
    const Clock& m_clock;
    LineSink m_out;

    INIFiles m_ini;
    ActivityLog m_log;
    SilentSoundOutput m_soundOut;
    SoundCues m_sound;
    std::unique_ptr<MessageBoxService> m_boxes;
    ClientServices m_services;

    // Declared before the simulator link: the session object it holds refers to the world.
    MemoryWorld m_world;
    QByteArray m_fs;
    qint32 m_own = 0;
    MemoryStandinPort m_port;
    SimulatorStandin m_standin;

    Players m_players;
    NoWindowSystem m_windows;
    SimLink m_sim;
    ClientWiring m_wiring;

    QTimer m_timer;
    bool m_started = false;
    bool m_stopped = false;
    QString m_lastStatus;
    qint64 m_logonMs = -1; // clock time of the logon, -1 while not logged on
    qint64 m_nextChatMs = 0;
    bool m_crashDone = false;
    int m_chatCount = 0;
};

} // namespace bot
} // namespace airmesh
