#include "stopsignals.h"

#include <csignal>

namespace airmesh {
inline namespace core {

namespace {
volatile std::sig_atomic_t g_stop = 0;

extern "C" void onStopSignal(int) {
    g_stop = 1;
}
} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (g_stop) {
            g_stop = 0;
            emit stopRequested();
        }
    });
    m_poll.start(kPollMs);
}

} // namespace core
} // namespace airmesh
