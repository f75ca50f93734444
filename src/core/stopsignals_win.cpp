#include "stopsignals.h"

#include <atomic>
#include <windows.h>

namespace airmesh {
inline namespace core {

namespace {
std::atomic<bool> g_stop{false};

// Runs on a thread of its own that the console starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        g_stop = true;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this returns: give the program's own stop a few polls to run
        // (a pilot leaves the server cleanly) before it does.
        g_stop = true;
        Sleep(static_cast<DWORD>(5 * StopSignals::kPollMs));
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

StopSignals::StopSignals(QObject* parent) : QObject(parent) {
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        if (g_stop.exchange(false)) {
            emit stopRequested();
        }
    });
    m_poll.start(kPollMs);
}

} // namespace core
} // namespace airmesh
