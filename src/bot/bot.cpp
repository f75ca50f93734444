#include "bot.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <algorithm>

namespace airmesh {
inline namespace bot {

namespace {
// The join polls for the simulator's answer; the stand-in answers at once, so this bounds
// only the wait on a stand-in that stays silent.
constexpr int kMaxJoinWaitMs = 20;
} // namespace

// Message boxes of a program without windows: printed, and nothing to press.
class Bot::PrintedMessages final : public MessageBoxService {
public:
    explicit PrintedMessages(const Bot& bot) : m_bot(bot) {}
    void showMessage(const QString& text, const QString& title) override {
        m_bot.print(QStringLiteral("message: ") + (title.isEmpty() ? QString() : title + QStringLiteral(": ")) + text);
    }

private:
    const Bot& m_bot;
};

namespace {
StandinOptions standinOptions(const BotConfig& c) {
    StandinOptions o;
    o.title = c.title;
    o.engineType = c.engineType;
    o.positionsPerSecond = c.positionsPerSecond;
    o.reportSeconds = c.reportSeconds;
    o.circuit = c.circuit;
    return o;
}
} // namespace

Bot::Bot(BotConfig config, const Clock& clock, LineSink out, QObject* parent)
    : QObject(parent), m_config(std::move(config)), m_clock(clock), m_out(std::move(out)),
      m_ini(QDir(m_config.folder).filePath(QStringLiteral("AirmeshClient.ini"))),
      m_log(m_clock, QDir(m_config.folder).filePath(QStringLiteral("log.txt"))), m_sound(m_config.folder, m_soundOut),
      m_boxes(std::make_unique<PrintedMessages>(*this)),
      m_services{m_ini, m_log, m_clock, m_sound, *m_boxes, m_config.activityLog, m_config.activityLog},
      m_fs(m_world.hostSession(SimLink::kFirstAppGuid)),
      m_own(m_world.addHostPlayer(m_fs, m_config.handle, m_config.handle)), m_port(m_world, m_own),
      m_standin(m_port, m_clock, standinOptions(m_config), [this](const QString& l) { print(l); }),
      m_sim(m_services, m_players, m_windows), m_wiring(m_services, m_sim, m_players) {
    m_world.addGroup(m_fs, QStringLiteral("FS61_REQUEST_PARAMS"));
    m_world.addGroup(m_fs, QStringLiteral("FS61_REFUSE_PARAMS"));
    attachStandin(m_world, m_standin);
    m_world.onWait = [](int ms) { QThread::msleep(static_cast<unsigned long>(std::clamp(ms, 0, kMaxJoinWaitMs))); };
    connect(&m_standin, &SimulatorStandin::quitRequested, this, &Bot::quitRequested);
    m_lastStatus = link().statusText();
    connect(&link(), &ServerLink::stateChanged, this, [this](LinkState, const QString& text) { onLinkState(text); });
    connect(&m_timer, &QTimer::timeout, this, &Bot::tick);
    // A bot whose simulator session has ended has nothing left to fly.
    m_wiring.setOnEnded([this] { stop(); });
}

Bot::~Bot() {
    m_timer.stop();
    // The session goes with the simulator link after this body; the stand-in has nothing
    // more to say about it.
    detachStandin(m_world);
}

void Bot::print(const QString& line) const {
    if (m_out) {
        m_out(m_config.handle + QStringLiteral(": ") + line);
    }
}

bool Bot::start() {
    if (m_started) {
        return true;
    }
    m_started = true;
    MemorySessionFactory factory(m_world);
    if (!m_sim.Join_Session(factory)) {
        print(QStringLiteral("join failed"));
        return false;
    }
    engine().windowLoaded();
    m_timer.start(kTickMs);
    ServerSettings server;
    server.host = m_config.host;
    server.serverUdpPort = m_config.serverUdpPort;
    server.clientUdpPort = m_config.clientUdpPort;
    server.serverTcpPort = m_config.serverTcpPort;
    server.pilotId = QString::number(m_config.pilotId);
    server.password = m_config.password;
    link().Connect(server);
    return true;
}

void Bot::stop() {
    if (m_stopped) {
        return;
    }
    m_stopped = true;
    m_timer.stop();
    if (!m_started) {
        return;
    }
    // Our own quitting takes the observer and the remote players out of the session; that is
    // not news about the other pilots, so the stand-in no longer listens.
    detachStandin(m_world);
    engine().quit();
    // Nothing of the quit sequence tells the server; a closed connection does, at once.
    link().hangUp();
    print(QStringLiteral("stopped"));
}

bool Bot::execute(const QString& command) {
    if (command.trimmed() == QLatin1String("quit")) {
        emit quitRequested();
        return true;
    }
    return m_standin.executeCommand(command);
}

void Bot::tick() {
    m_standin.tick();
    if (m_logonMs < 0 || !link().blnConnected()) {
        return;
    }
    const qint64 now = m_clock.now().toMSecsSinceEpoch();
    if (m_config.chatIntervalSeconds > 0 && now >= m_nextChatMs) {
        ++m_chatCount;
        QString text = m_config.chatText;
        text.replace(QStringLiteral("{handle}"), m_config.handle);
        text.replace(QStringLiteral("{n}"), QString::number(m_chatCount));
        m_standin.chat(text);
        m_nextChatMs = now + m_config.chatIntervalSeconds * 1000LL;
    }
    if (m_config.crashAfterSeconds > 0 && !m_crashDone && now >= m_logonMs + m_config.crashAfterSeconds * 1000LL) {
        m_crashDone = true;
        m_standin.crash();
    }
}

void Bot::onLinkState(const QString& statusText) {
    // A line for each new status text, as a user reads the window's status line.
    if (statusText == m_lastStatus) {
        return;
    }
    m_lastStatus = statusText;
    if (link().blnConnected() && m_logonMs < 0) {
        m_logonMs = m_clock.now().toMSecsSinceEpoch();
        m_nextChatMs = m_logonMs + m_config.chatIntervalSeconds * 1000LL;
        print(QStringLiteral("logon accepted: session %1").arg(link().lngSessionID()));
        return;
    }
    if (!link().blnConnected()) {
        m_logonMs = -1;
    }
    print(QStringLiteral("status: ") + statusText);
}

} // namespace bot
} // namespace airmesh
