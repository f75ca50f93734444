// Linux: the thread's own nice value (setpriority on its thread ID) to the lowest, 19. Not
// SCHED_IDLE, which runs only on a processor nobody else wants: on a machine busy with other
// programs, logons were never checked.
#include "background.h"

#include <sys/resource.h>
#include <unistd.h>

namespace airmesh {
inline namespace relayserver {

void makeThisThreadBackground() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
}

} // namespace relayserver
} // namespace airmesh
