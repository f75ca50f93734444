#pragma once

#include <QObject>
#include <QTimer>

namespace airmesh {
inline namespace bot {

// SIGINT and SIGTERM as a Qt signal: the handler only sets a flag, which a timer on the
// owning thread looks at, so the stop runs as ordinary program code.
class StopSignals : public QObject {
    Q_OBJECT

public:
    static constexpr int kPollMs = 100;
    explicit StopSignals(QObject* parent = nullptr);

signals:
    void stopRequested();

private:
    QTimer m_poll;
};

} // namespace bot
} // namespace airmesh
