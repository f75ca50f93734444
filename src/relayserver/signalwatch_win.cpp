#include "signalwatch.h"

namespace airmesh {
inline namespace relayserver {

// No SIGUSR1 on Windows, and Ctrl+C ends the console program at once: nothing to watch yet.
SignalWatch::SignalWatch(QObject* parent) : QObject(parent) {}
SignalWatch::~SignalWatch() = default;
void SignalWatch::drain() {}

} // namespace relayserver
} // namespace airmesh
