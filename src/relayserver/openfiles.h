#pragma once

namespace airmesh {
inline namespace relayserver {

// Every pilot holds a connection, and a connection is an open file: a thousand pilots do not fit
// the soft limit of 1024 open files that services and shells get by default. Raises the soft
// limit toward `wanted`, never past the hard limit, never lowering it. Returns the limit now in
// force, or -1 where there is no such limit.
long long raiseOpenFileLimit(long long wanted);

} // namespace relayserver
} // namespace airmesh
