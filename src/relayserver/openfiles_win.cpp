#include "openfiles.h"

namespace airmesh {
inline namespace relayserver {

// Winsock sockets are not counted against a per-process file limit.
long long raiseOpenFileLimit(long long /*wanted*/) {
    return -1;
}

} // namespace relayserver
} // namespace airmesh
