#pragma once

#include "bot.h"

#include <QObject>

#include <memory>
#include <vector>

namespace airmesh {
inline namespace bot {

// Several bots in one process, each with its own folder below a common one, and the routing
// of command lines: "command" goes to every bot, "@Handle command" to one, "quit" ends the run.
class BotFleet : public QObject {
    Q_OBJECT

public:
    using LineSink = Bot::LineSink;

    // Creates `<folder>/<handle>` for each bot.
    BotFleet(QList<BotConfig> configs, const QString& folder, const Clock& clock, LineSink out,
             QObject* parent = nullptr);
    ~BotFleet() override;

    // Starts every bot; false if one could not be set up or join (the rest still run).
    bool start();
    void stop();
    void execute(const QString& line);

    int size() const { return static_cast<int>(m_bots.size()); }
    Bot& bot(int i) { return *m_bots.at(static_cast<size_t>(i)); }

signals:
    void quitRequested();

private:
    LineSink m_out;
    std::vector<std::unique_ptr<Bot>> m_bots;
    bool m_setUpFailed = false;
};

} // namespace bot
} // namespace airmesh
