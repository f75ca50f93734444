#pragma once

#include <QObject>

class QSocketNotifier;

namespace airmesh {
inline namespace relayserver {

// Turns the operator's signals into Qt signals on the event loop: a summary request (SIGUSR1)
// and a stop request (SIGINT, SIGTERM). The handlers only write one byte into a pipe, which
// is all a signal handler may safely do; the rest happens on the event loop. One at a time.
class SignalWatch final : public QObject {
    Q_OBJECT
public:
    explicit SignalWatch(QObject* parent = nullptr);
    ~SignalWatch() override;
    // False where the handlers could not be installed (or the platform has none of these).
    bool isActive() const { return m_active; }

signals:
    void summaryRequested();
    void stopRequested();

private:
    void drain();
    bool m_active = false;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace relayserver
} // namespace airmesh
