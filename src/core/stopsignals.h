#pragma once

#include <QObject>
#include <QTimer>

namespace airmesh {
inline namespace core {

// The console's stop requests as a Qt signal: SIGINT and SIGTERM on Linux; Ctrl+C, Ctrl+Break
// and the console window closing on Windows. The handler only sets a flag, which a timer on the
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

} // namespace core
} // namespace airmesh
