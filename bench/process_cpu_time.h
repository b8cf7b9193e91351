// The CPU time the whole process has used, in seconds: what the benchmarks compare, since wall
// time on a shared machine says more about the neighbours than about the code.
#pragma once

#include <ctime>

namespace tarnlink::bench {

inline double ProcessCpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

}  // namespace tarnlink::bench
