#include "signalwatch.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace airmesh {
inline namespace relayserver {

namespace {

int g_pipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGUSR1, SIGINT, SIGTERM};
struct sigaction g_previous[3];

extern "C" void onSignal(int sig) {
    const int savedErrno = errno;
    const auto b = static_cast<unsigned char>(sig);
    // A full pipe loses the byte: the signals already waiting in it do the same job.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &b, 1);
    errno = savedErrno;
}

} // namespace

SignalWatch::SignalWatch(QObject* parent) : QObject(parent) {
    if (g_pipe[0] != -1 || ::pipe(g_pipe) != 0) {
        return;
    }
    for (const int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatch::drain);
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kSignals[i], &sa, &g_previous[i]);
    }
    m_active = true;
}

SignalWatch::~SignalWatch() {
    if (!m_active) {
        return;
    }
    for (int i = 0; i < 3; ++i) {
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void SignalWatch::drain() {
    unsigned char buffer[64];
    bool summary = false;
    bool stop = false;
    ssize_t n = 0;
    while ((n = ::read(g_pipe[0], buffer, sizeof buffer)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            (buffer[i] == SIGUSR1 ? summary : stop) = true;
        }
    }
    if (summary) {
        emit summaryRequested();
    }
    if (stop) {
        emit stopRequested();
    }
}

} // namespace relayserver
} // namespace airmesh
