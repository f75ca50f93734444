#pragma once

#include "circuit.h"
#include "simlink/simcodec.h"

#include "core/clock.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>

namespace airmesh {
inline namespace standin {

class MemoryWorld;

// What the stand-in simulator needs of the session it hosts: its own player and a way to
// send from it. Implemented over the in-memory world for tests and bots, and over a real
// DirectPlay host for fs-standin.
class StandinPort {
public:
    virtual ~StandinPort() = default;
    // The simulator's own player: the user's aircraft.
    virtual qint32 ownPlayer() const = 0;
    // Sends from the own player to one player, or to every other player when `to` is 0.
    virtual void sendFromOwn(qint32 to, const SimMessage& m) = 0;
    // A player's short (friendly) name; empty when unknown.
    virtual QString shortName(qint32 player) const = 0;
};

// How the stand-in behaves; every field has a default that lets a client join and fly.
struct StandinOptions {
    enum class ObserverAnswer { Accept, Refuse, Silent };

    // The answer to an observer's join request (4098, 4105): 4100, 4102 or nothing.
    ObserverAnswer observerAnswer = ObserverAnswer::Accept;
    // The answer to a remote player's AddPlayerRequest (4097): 4099, or 4101 when false.
    bool approvePlayers = true;
    // The user's aircraft as AircraftDetails (4110) reports it.
    QString title = QStringLiteral("Cessna Skyhawk 172SP");
    qint32 engineType = 0;
    // PositionUpdates (4121) to the observer per second; 0 sends none.
    double positionsPerSecond = 5.0;
    // Positions received from each remote player are reported this often.
    int reportSeconds = 5;
    // The path the user's aircraft flies.
    Circuit circuit;
    // The number our own chat lines go out with: ChatMessage, or ChatMessageAlt for a session
    // under the second application identifier.
    SimMsg chatNumber = SimMsg::ChatMessage;
    // Latency measurement: when set, every own position block carries this clock's reading (in
    // microseconds, a clock all processes on the machine share) in the two fields a block's reader
    // takes for information only: the low 32 bits in the application time (+4), the high 32 bits
    // in the reserved bytes (+24), each little-endian; position, attitude and speeds stay as
    // flown. Each position received from a remote player is handed to `positionLatency` with that
    // player's name and the time it took since its block was stamped. The client and the server
    // carry the block through unchanged.
    std::function<qint64()> stampMicros;
    std::function<void(const QString& player, qint64 micros)> positionLatency;
};

// The simulator's side of the multiplayer session, as a behaviour: accepts the observer,
// answers its aircraft query, flies the user's aircraft along a circuit, approves the remote
// players the client places in the session, and reports in one readable line per event what
// it sees of them. Every message from the session is checked against its length before it is
// read; a malformed one is reported and dropped.
//
// Output lines (stable, one event each):
//   observer joined: <name> (id 0x<hex>)          observer refused: / observer ignored: / observer left:
//   remote player added: <handle>                 remote player rejected: <handle>
//   remote player removed: <handle>
//   remote aircraft: <handle> "<title>" engine <n>   (when first seen or changed)
//   positions: <handle> <n> in <s> s (<rate>/s)   (every reportSeconds, per sending player)
//   chat from <name>: <text>                      crash from <name>
//   sent chat: <text>   sent crash   aircraft: "<title>" engine <n>
//   dropped: <reason>                             error: <what>
//   unknown command: <line>                       quit
class SimulatorStandin : public QObject {
    Q_OBJECT

public:
    using LineSink = std::function<void(const QString&)>;

    // Players tracked at most; a session of the simulator holds far fewer.
    static constexpr int kMaxPlayers = 256;
    // Malformed messages reported one by one per report interval; the rest only counted.
    static constexpr int kMaxDropLinesPerReport = 10;
    // After a stall longer than this the position clock starts afresh instead of catching up
    // with a burst.
    static constexpr qint64 kMaxCatchUpMs = 1000;

    SimulatorStandin(StandinPort& port, const Clock& clock, StandinOptions options, LineSink sink,
                     QObject* parent = nullptr);

    // ---- Events from the session ----
    void playerCreated(qint32 id, const QString& shortName, const QString& longName);
    void playerDestroyed(qint32 id);
    // A message to the own player or to all (`to` 0): 8-byte header and payload.
    void messageReceived(qint32 from, qint32 to, const QByteArray& bytes);
    // Sends the positions that are due and reports the position counts when due.
    void tick();
    // Calls tick() every `tickMs` milliseconds from a timer of our own.
    void start(int tickMs = 50);
    void stop();

    // ---- Commands ----
    // A ChatMessage from the own player to the observer.
    void chat(const QString& text);
    // PlayerCrashed (4113) to the observer.
    void crash();
    // The user changes aircraft: AircraftDetails to the observer.
    void setAircraft(const QString& title, qint32 engineType);
    // "chat TEXT", "crash", "aircraft TITLE ENGINE" (the title may be quoted), "quit".
    // Returns false for a line that is not a command (reported as such).
    bool executeCommand(const QString& line);

    // ---- State ----
    qint32 observer() const { return m_observer; }
    // The remote players that asked to be added, in the order they asked.
    QStringList remoteHandles() const;
    const StandinOptions& options() const { return m_options; }
    quint32 positionsSent() const { return m_sequence; }

signals:
    // The "quit" command.
    void quitRequested();

private:
    struct PlayerRec {
        qint32 id = 0;
        QString name;
        bool remote = false; // asked to be added (4097)
        bool hasAircraft = false;
        QString title;
        qint32 engineType = 0;
        int positions = 0;     // this report interval
        int lastPositions = 0; // the interval before
        qint64 order = 0;
    };

    PlayerRec* player(qint32 id, bool create);
    QString nameOf(qint32 id) const;
    void emitLine(const QString& line) const;
    void drop(const QString& reason);
    void send(qint32 to, const SimMessage& m, const char* what);
    void observerRequest(qint32 from);
    void addPlayerRequest(qint32 from);
    void remoteAircraft(qint32 from, SimMessage& m);
    void remoteChat(qint32 from, SimMessage& m, qint32 payloadLength);
    void sendAircraft(qint32 to);
    void sendPosition(qint64 nowMs);
    void report(qint64 nowMs);

    StandinPort& m_port;
    const Clock& m_clock;
    StandinOptions m_options;
    LineSink m_sink;
    QTimer m_timer;

    QHash<qint32, PlayerRec> m_players;
    qint64 m_nextOrder = 0;
    bool m_tableFullReported = false;
    qint32 m_observer = 0;
    qint64 m_startMs = 0;
    qint64 m_nextPositionMs = 0;
    qint64 m_nextReportMs = 0;
    quint32 m_sequence = 0;
    int m_dropLines = 0;
    int m_dropsUnreported = 0;
};

// The stand-in over an in-memory world: it sends as one of the world's simulator players.
class MemoryStandinPort final : public StandinPort {
public:
    MemoryStandinPort(MemoryWorld& world, qint32 ownPlayer) : m_world(world), m_own(ownPlayer) {}
    qint32 ownPlayer() const override { return m_own; }
    void sendFromOwn(qint32 to, const SimMessage& m) override;
    QString shortName(qint32 player) const override;

private:
    MemoryWorld& m_world;
    qint32 m_own;
};

// Routes the world's events to the stand-in: the clients' players coming and going, and what
// they send to the own player or to all. Replaces the world's hooks; `detachStandin` clears
// them again (do so before the stand-in goes).
void attachStandin(MemoryWorld& world, SimulatorStandin& standin);
void detachStandin(MemoryWorld& world);

} // namespace standin
} // namespace airmesh
