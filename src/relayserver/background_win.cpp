#include "background.h"

#include <windows.h>

namespace airmesh {
inline namespace relayserver {

void makeThisThreadBackground() {
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

} // namespace relayserver
} // namespace airmesh
