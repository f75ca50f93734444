#include "openfiles.h"

#include <sys/resource.h>

#include <algorithm>

namespace airmesh {
inline namespace relayserver {

long long raiseOpenFileLimit(long long wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return -1;
    }
    const auto want = static_cast<rlim_t>(std::max(wanted, 0LL));
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < want) {
        const rlim_t before = limit.rlim_cur;
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? want : std::min(want, limit.rlim_max);
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            limit.rlim_cur = before;
        }
    }
    return limit.rlim_cur == RLIM_INFINITY ? -1 : static_cast<long long>(limit.rlim_cur);
}

} // namespace relayserver
} // namespace airmesh
