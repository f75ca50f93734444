#pragma once

// A process's CPU time as the kernel accounts it, for the benchmarks that start real programs.

#include <sys/types.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace procstat_detail {
// The sum of fields `first`..`last` of /proc/<pid>/stat (counted from 1, read after the command
// name, which may hold spaces); 0 when the process is gone or the file is not as expected.
inline long long statFields(pid_t pid, int first, int last) {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    const std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const auto close = s.rfind(')');
    if (close == std::string::npos || close + 2 > s.size()) {
        return 0;
    }
    std::istringstream rest(s.substr(close + 2));
    std::string field;
    long long ticks = 0;
    for (int i = 3; i <= last && rest >> field; ++i) {
        if (i >= first) {
            try {
                ticks += std::stoll(field);
            } catch (const std::exception&) {
                return 0;
            }
        }
    }
    return ticks;
}
} // namespace procstat_detail

// utime + stime of `pid` in clock ticks (fields 14 and 15).
inline long long processCpuTicks(pid_t pid) {
    return procstat_detail::statFields(pid, 14, 15);
}
// stime alone: the time spent in the kernel on the process's behalf.
inline long long processSystemTicks(pid_t pid) {
    return procstat_detail::statFields(pid, 15, 15);
}
