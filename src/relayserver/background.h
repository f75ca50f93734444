#pragma once

namespace airmesh {
inline namespace relayserver {

// Makes the calling thread background work: it yields to the relay whenever both want the
// processor, yet is never starved outright by other busy programs on the machine (so a logon
// being checked still ends while the machine is loaded).
void makeThisThreadBackground();

} // namespace relayserver
} // namespace airmesh
