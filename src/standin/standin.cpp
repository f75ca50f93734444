#include "standin.h"

#include "memorysession.h"

#include "wire/positionblock.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>

namespace airmesh {
inline namespace standin {

namespace {

constexpr qsizetype kHeaderBytes = 8;

// A stamped block carries its send time in the fields no reader of positions relies on: the
// low 32 bits of the microseconds in the application time, the high 32 bits in the reserved
// bytes.
QByteArray stamped(const QByteArray& block, qint64 micros) {
    std::optional<wire::PositionBlockFields> f = wire::PositionBlockFields::read(block);
    if (!f) {
        return block;
    }
    f->applicationTime = static_cast<quint32>(static_cast<quint64>(micros));
    f->reserved = static_cast<quint32>(static_cast<quint64>(micros) >> 32);
    return f->toBytes();
}

qint64 readStamp(QByteArrayView block) {
    const std::optional<wire::PositionBlockFields> f = wire::PositionBlockFields::read(block);
    return f ? static_cast<qint64>(f->applicationTime | (static_cast<quint64>(f->reserved) << 32)) : 0;
}

QString hexId(qint32 id) {
    return QStringLiteral("0x%1").arg(static_cast<quint32>(id), 8, 16, QLatin1Char('0'));
}

// "title words ENGINE", the title optionally in double quotes.
bool parseAircraft(const QString& args, QString& title, qint32& engine) {
    const QString t = args.trimmed();
    const qsizetype space = t.lastIndexOf(QLatin1Char(' '));
    if (space <= 0) {
        return false;
    }
    bool ok = false;
    engine = t.mid(space + 1).toInt(&ok);
    if (!ok) {
        return false;
    }
    title = t.left(space).trimmed();
    if (title.size() >= 2 && title.startsWith(QLatin1Char('"')) && title.endsWith(QLatin1Char('"'))) {
        title = title.mid(1, title.size() - 2);
    }
    return !title.isEmpty();
}

} // namespace

SimulatorStandin::SimulatorStandin(StandinPort& port, const Clock& clock, StandinOptions options, LineSink sink,
                                   QObject* parent)
    : QObject(parent), m_port(port), m_clock(clock), m_options(std::move(options)), m_sink(std::move(sink)) {
    m_startMs = m_clock.now().toMSecsSinceEpoch();
    m_nextReportMs = m_startMs + std::max(1, m_options.reportSeconds) * 1000LL;
    connect(&m_timer, &QTimer::timeout, this, &SimulatorStandin::tick);
}

void SimulatorStandin::start(int tickMs) {
    m_timer.start(std::max(1, tickMs));
}

void SimulatorStandin::stop() {
    m_timer.stop();
}

void SimulatorStandin::emitLine(const QString& line) const {
    if (m_sink) {
        m_sink(line);
    }
}

void SimulatorStandin::drop(const QString& reason) {
    // A peer that floods us with garbage must not flood the output as well.
    if (m_dropLines < kMaxDropLinesPerReport) {
        ++m_dropLines;
        emitLine(QStringLiteral("dropped: ") + reason);
    } else {
        ++m_dropsUnreported;
    }
}

SimulatorStandin::PlayerRec* SimulatorStandin::player(qint32 id, bool create) {
    const auto it = m_players.find(id);
    if (it != m_players.end()) {
        return &*it;
    }
    if (!create || id == 0 || id == m_port.ownPlayer()) {
        return nullptr;
    }
    if (m_players.size() >= kMaxPlayers) {
        if (!m_tableFullReported) {
            m_tableFullReported = true;
            emitLine(QStringLiteral("dropped: player table full (%1 players), %2 not tracked")
                         .arg(kMaxPlayers)
                         .arg(hexId(id)));
        }
        return nullptr;
    }
    PlayerRec rec;
    rec.id = id;
    rec.name = m_port.shortName(id);
    rec.order = m_nextOrder++;
    return &*m_players.insert(id, rec);
}

QString SimulatorStandin::nameOf(qint32 id) const {
    const auto it = m_players.constFind(id);
    if (it != m_players.constEnd() && !it->name.isEmpty()) {
        return it->name;
    }
    const QString name = m_port.shortName(id);
    return name.isEmpty() ? hexId(id) : name;
}

void SimulatorStandin::send(qint32 to, const SimMessage& m, const char* what) {
    try {
        m_port.sendFromOwn(to, m);
    } catch (const std::exception& e) {
        emitLine(QStringLiteral("error: sending %1 to %2 failed: %3")
                     .arg(QLatin1String(what), hexId(to), QString::fromLocal8Bit(e.what())));
    }
}

// ---- Events from the session ------------------------------------------------------------

void SimulatorStandin::playerCreated(qint32 id, const QString& shortName, const QString&) {
    if (PlayerRec* p = player(id, true)) {
        if (!shortName.isEmpty()) {
            p->name = shortName;
        }
    }
}

void SimulatorStandin::playerDestroyed(qint32 id) {
    const auto it = m_players.find(id);
    if (it == m_players.end()) {
        return;
    }
    const PlayerRec rec = *it;
    m_players.erase(it);
    if (id == m_observer) {
        m_observer = 0;
        emitLine(QStringLiteral("observer left: %1 (id %2)").arg(rec.name.isEmpty() ? hexId(id) : rec.name, hexId(id)));
    } else if (rec.remote) {
        emitLine(QStringLiteral("remote player removed: ") + (rec.name.isEmpty() ? hexId(id) : rec.name));
    }
}

void SimulatorStandin::messageReceived(qint32 from, qint32 to, const QByteArray& bytes) {
    if (to != 0 && to != m_port.ownPlayer()) {
        return; // for somebody else
    }
    if (from == 0 || from == m_port.ownPlayer()) {
        return; // the session layer's notices and our own echoes
    }
    if (bytes.size() < kHeaderBytes) {
        drop(QStringLiteral("short message from %1: %2 bytes").arg(nameOf(from)).arg(bytes.size()));
        return;
    }
    SimMessage m(bytes);
    const sim::Header h = sim::readHeader(m);
    // The declared payload must be there; bytes beyond it are tolerated (the client's plane
    // query on logon carries one zero byte after a header that declares none).
    if (h.payloadLength < 0 || h.payloadLength > bytes.size() - kHeaderBytes) {
        drop(QStringLiteral("message %1 from %2 declares %3 payload bytes, carries %4")
                 .arg(h.number)
                 .arg(nameOf(from))
                 .arg(h.payloadLength)
                 .arg(bytes.size() - kHeaderBytes));
        return;
    }
    // Reads go no further than the declared payload.
    SimMessage payload(bytes.left(kHeaderBytes + h.payloadLength));
    sim::readHeader(payload);

    try {
        switch (static_cast<SimMsg>(h.number)) {
        case SimMsg::ObserverJoinRequest:
        case SimMsg::ObserverJoinRetry:
            observerRequest(from);
            break;
        case SimMsg::QueryPlane:
            sendAircraft(from);
            break;
        case SimMsg::AddPlayerRequest:
            addPlayerRequest(from);
            break;
        case SimMsg::AircraftDetails:
            remoteAircraft(from, payload);
            break;
        case SimMsg::PositionUpdate:
            if (h.payloadLength != kPositionBlockBytes) {
                drop(QStringLiteral("position from %1 with %2 bytes, not %3")
                         .arg(nameOf(from))
                         .arg(h.payloadLength)
                         .arg(kPositionBlockBytes));
            } else if (PlayerRec* p = player(from, true)) {
                ++p->positions;
                if (m_options.stampMicros && m_options.positionLatency) {
                    const qint64 stamp = readStamp(QByteArrayView(bytes).sliced(kHeaderBytes));
                    m_options.positionLatency(p->name, m_options.stampMicros() - stamp);
                }
            }
            break;
        case SimMsg::ChatMessage:
        case SimMsg::ChatMessageAlt:
            remoteChat(from, payload, h.payloadLength);
            break;
        case SimMsg::PlayerCrashed:
            emitLine(QStringLiteral("crash from ") + nameOf(from));
            break;
        case SimMsg::Unnamed4096:
        case SimMsg::AddPlayerApproved: // a remote player's answer to a PlayerQuery
        case SimMsg::ObserverJoinAccepted:
        case SimMsg::AddPlayerRejected:
        case SimMsg::ObserverJoinRefused:
        case SimMsg::PlayerQuery:
        case SimMsg::Unnamed4119:
        case SimMsg::Unnamed4120:
            break;
        }
        // Numbers outside the table are not ours to read: ignored.
    } catch (const dp::DpError& e) {
        drop(
            QStringLiteral("message %1 from %2: %3").arg(h.number).arg(nameOf(from), QString::fromLocal8Bit(e.what())));
    }
}

void SimulatorStandin::observerRequest(qint32 from) {
    const QString name = nameOf(from);
    SimMessage answer;
    switch (m_options.observerAnswer) {
    case StandinOptions::ObserverAnswer::Accept:
        sim::writeHeaderOnly(answer, SimMsg::ObserverJoinAccepted);
        send(from, answer, "ObserverJoinAccepted");
        if (m_observer != from) {
            // A later observer takes over from an earlier one, as FS has only one to feed.
            player(from, true);
            m_observer = from;
            m_nextPositionMs = m_clock.now().toMSecsSinceEpoch();
            emitLine(QStringLiteral("observer joined: %1 (id %2)").arg(name, hexId(from)));
        }
        break;
    case StandinOptions::ObserverAnswer::Refuse:
        sim::writeHeaderOnly(answer, SimMsg::ObserverJoinRefused);
        send(from, answer, "ObserverJoinRefused");
        emitLine(QStringLiteral("observer refused: %1 (id %2)").arg(name, hexId(from)));
        break;
    case StandinOptions::ObserverAnswer::Silent:
        emitLine(QStringLiteral("observer ignored: %1 (id %2)").arg(name, hexId(from)));
        break;
    }
}

void SimulatorStandin::addPlayerRequest(qint32 from) {
    if (from == m_observer) {
        drop(QStringLiteral("add-player request from the observer %1").arg(nameOf(from)));
        return;
    }
    PlayerRec* p = player(from, true);
    if (!p) {
        return;
    }
    if (p->name.isEmpty()) {
        p->name = nameOf(from);
    }
    SimMessage answer;
    if (m_options.approvePlayers) {
        answer.WriteLong(simMsgNumber(SimMsg::AddPlayerApproved));
        answer.WriteLong(4);
        answer.WriteLong(from);
        // The approval names the player and goes to the observer, which keeps the registry.
        send(m_observer != 0 ? m_observer : 0, answer, "AddPlayerApproved");
        if (!p->remote) {
            p->remote = true;
            emitLine(QStringLiteral("remote player added: ") + p->name);
        }
    } else {
        // The client looks up the rejected player by the message's recipient.
        sim::writeHeaderOnly(answer, SimMsg::AddPlayerRejected);
        send(from, answer, "AddPlayerRejected");
        emitLine(QStringLiteral("remote player rejected: ") + p->name);
    }
}

void SimulatorStandin::remoteAircraft(qint32 from, SimMessage& m) {
    if (from == m_observer) {
        return;
    }
    const sim::AircraftDetails d = sim::readAircraftDetails(m); // throws when cut short
    PlayerRec* p = player(from, true);
    if (!p) {
        return;
    }
    if (p->hasAircraft && p->title == d.title && p->engineType == d.engineType) {
        return; // the same aircraft again (the client repeats it after a logon)
    }
    p->hasAircraft = true;
    p->title = d.title;
    p->engineType = d.engineType;
    emitLine(QStringLiteral("remote aircraft: %1 \"%2\" engine %3").arg(nameOf(from), d.title).arg(d.engineType));
}

void SimulatorStandin::remoteChat(qint32 from, SimMessage& m, qint32 payloadLength) {
    const QString text = sim::readChatText(m, payloadLength);
    if (text.isEmpty()) {
        return;
    }
    // The text may hold line breaks or the zero bytes of a sloppy sender: one event, one line.
    QString flat = text;
    for (QChar& c : flat) {
        if (c.unicode() < 0x20) {
            c = QLatin1Char(' ');
        }
    }
    // Texts relayed from the server come padded with spaces.
    emitLine(QStringLiteral("chat from %1: %2").arg(nameOf(from), flat.trimmed()));
}

// ---- Sending ----------------------------------------------------------------------------

void SimulatorStandin::sendAircraft(qint32 to) {
    SimMessage m;
    sim::writeAircraftDetails(m, m_options.engineType, m_options.title);
    send(to, m, "AircraftDetails");
}

void SimulatorStandin::sendPosition(qint64 nowMs) {
    const double seconds = static_cast<double>(nowMs - m_startMs) / 1000.0;
    SimMessage m;
    QByteArray block = m_options.circuit.block(seconds, m_sequence);
    if (m_options.stampMicros) {
        block = stamped(block, m_options.stampMicros());
    }
    sim::writePositionUpdate(m, block);
    ++m_sequence;
    send(m_observer, m, "PositionUpdate");
}

void SimulatorStandin::tick() {
    const qint64 now = m_clock.now().toMSecsSinceEpoch();
    if (m_observer != 0 && m_options.positionsPerSecond > 0) {
        const auto periodMs = std::max<qint64>(1, std::llround(1000.0 / m_options.positionsPerSecond));
        if (now - m_nextPositionMs > kMaxCatchUpMs) {
            m_nextPositionMs = now;
        }
        while (now >= m_nextPositionMs && m_observer != 0) {
            sendPosition(now);
            m_nextPositionMs += periodMs;
        }
    }
    if (now >= m_nextReportMs) {
        report(now);
    }
}

void SimulatorStandin::report(qint64 nowMs) {
    const int seconds = std::max(1, m_options.reportSeconds);
    QList<PlayerRec*> order;
    for (PlayerRec& p : m_players) {
        order.append(&p);
    }
    std::sort(order.begin(), order.end(), [](const PlayerRec* a, const PlayerRec* b) { return a->order < b->order; });
    for (PlayerRec* p : std::as_const(order)) {
        // A stream that stopped is reported once with 0, then no more until it resumes.
        if (p->positions > 0 || p->lastPositions > 0) {
            emitLine(QStringLiteral("positions: %1 %2 in %3 s (%4/s)")
                         .arg(p->name.isEmpty() ? nameOf(p->id) : p->name)
                         .arg(p->positions)
                         .arg(seconds)
                         .arg(static_cast<double>(p->positions) / seconds, 0, 'f', 1));
        }
        p->lastPositions = p->positions;
        p->positions = 0;
    }
    if (m_dropsUnreported > 0) {
        emitLine(QStringLiteral("dropped: %1 more malformed messages").arg(m_dropsUnreported));
    }
    m_dropLines = 0;
    m_dropsUnreported = 0;
    m_nextReportMs += seconds * 1000LL;
    if (m_nextReportMs <= nowMs) {
        m_nextReportMs = nowMs + seconds * 1000LL; // after a stall: no string of empty reports
    }
}

// ---- Commands ---------------------------------------------------------------------------

void SimulatorStandin::chat(const QString& text) {
    if (m_observer == 0) {
        emitLine(QStringLiteral("error: chat not sent, no observer"));
        return;
    }
    SimMessage m;
    sim::writeChat(m, m_options.chatNumber, text);
    send(m_observer, m, "ChatMessage");
    emitLine(QStringLiteral("sent chat: ") + text);
}

void SimulatorStandin::crash() {
    if (m_observer == 0) {
        emitLine(QStringLiteral("error: crash not sent, no observer"));
        return;
    }
    SimMessage m;
    sim::writeHeaderOnly(m, SimMsg::PlayerCrashed);
    send(m_observer, m, "PlayerCrashed");
    emitLine(QStringLiteral("sent crash"));
}

void SimulatorStandin::setAircraft(const QString& title, qint32 engineType) {
    m_options.title = title;
    m_options.engineType = engineType;
    emitLine(QStringLiteral("aircraft: \"%1\" engine %2").arg(title).arg(engineType));
    if (m_observer != 0) {
        sendAircraft(m_observer);
    }
}

bool SimulatorStandin::executeCommand(const QString& line) {
    const QString t = line.trimmed();
    if (t.isEmpty()) {
        return true;
    }
    const qsizetype space = t.indexOf(QLatin1Char(' '));
    const QString word = space < 0 ? t : t.left(space);
    const QString rest = space < 0 ? QString() : t.mid(space + 1).trimmed();
    if (word == QLatin1String("chat") && !rest.isEmpty()) {
        chat(rest);
        return true;
    }
    if (word == QLatin1String("crash") && rest.isEmpty()) {
        crash();
        return true;
    }
    if (word == QLatin1String("aircraft")) {
        QString title;
        qint32 engine = 0;
        if (parseAircraft(rest, title, engine)) {
            setAircraft(title, engine);
            return true;
        }
    }
    if (word == QLatin1String("quit") && rest.isEmpty()) {
        emitLine(QStringLiteral("quit"));
        emit quitRequested();
        return true;
    }
    emitLine(QStringLiteral("unknown command: ") + t);
    return false;
}

QStringList SimulatorStandin::remoteHandles() const {
    QList<const PlayerRec*> order;
    for (const PlayerRec& p : m_players) {
        if (p.remote) {
            order.append(&p);
        }
    }
    std::sort(order.begin(), order.end(), [](const PlayerRec* a, const PlayerRec* b) { return a->order < b->order; });
    QStringList out;
    for (const PlayerRec* p : std::as_const(order)) {
        out.append(p->name);
    }
    return out;
}

// ---- Over an in-memory world ------------------------------------------------------------

void MemoryStandinPort::sendFromOwn(qint32 to, const SimMessage& m) {
    m_world.sendFromHost(m_own, to, m);
}

QString MemoryStandinPort::shortName(qint32 player) const {
    return m_world.playerFriendlyName(player);
}

void attachStandin(MemoryWorld& world, SimulatorStandin& standin) {
    // Messages to the world's other simulator players are filtered out by the stand-in.
    world.onSendToHost = [&standin](const MemoryWorld::Sent& sent) {
        standin.messageReceived(sent.from, sent.to, sent.bytes);
    };
    world.onClientPlayerCreated = [&standin](qint32 id, const QString& shortName, const QString& longName) {
        standin.playerCreated(id, shortName, longName);
    };
    world.onClientPlayerDestroyed = [&standin](qint32 id) { standin.playerDestroyed(id); };
}

void detachStandin(MemoryWorld& world) {
    world.onSendToHost = nullptr;
    world.onClientPlayerCreated = nullptr;
    world.onClientPlayerDestroyed = nullptr;
}

} // namespace standin
} // namespace airmesh
