#include "botfleet.h"

#include <QDir>

namespace airmesh {
inline namespace bot {

BotFleet::BotFleet(QList<BotConfig> configs, const QString& folder, const Clock& clock, LineSink out, QObject* parent)
    : QObject(parent), m_out(std::move(out)) {
    for (BotConfig& c : configs) {
        c.folder = QDir(folder).filePath(c.handle);
        if (!QDir().mkpath(c.folder)) {
            m_out(c.handle + QStringLiteral(": error: cannot create folder ") + c.folder);
            m_setUpFailed = true;
            continue;
        }
        m_bots.push_back(std::make_unique<Bot>(c, clock, m_out));
        connect(m_bots.back().get(), &Bot::quitRequested, this, &BotFleet::quitRequested);
    }
}

BotFleet::~BotFleet() {
    stop();
}

bool BotFleet::start() {
    bool ok = !m_setUpFailed;
    for (const auto& b : m_bots) {
        ok = b->start() && ok;
    }
    return ok;
}

void BotFleet::stop() {
    for (const auto& b : m_bots) {
        b->stop();
    }
}

void BotFleet::execute(const QString& line) {
    const QString t = line.trimmed();
    if (t.isEmpty()) {
        return;
    }
    if (t == QLatin1String("quit")) {
        emit quitRequested();
        return;
    }
    if (t.startsWith(QLatin1Char('@'))) {
        const qsizetype space = t.indexOf(QLatin1Char(' '));
        const QString handle = t.mid(1, space < 0 ? -1 : space - 1);
        const QString command = space < 0 ? QString() : t.mid(space + 1);
        for (const auto& b : m_bots) {
            if (b->config().handle == handle) {
                b->execute(command);
                return;
            }
        }
        m_out(QStringLiteral("error: no bot named ") + handle);
        return;
    }
    for (const auto& b : m_bots) {
        b->execute(t);
    }
}

} // namespace bot
} // namespace airmesh
