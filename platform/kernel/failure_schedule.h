// Injected failures of one kind of request: each rule makes the nth matching request from now
// fail, once. A request carries a key (the pool tag of an allocation, say); a rule with key 0
// matches any request.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "kernel/ntdef.h"

namespace tarnlink::kernel {

class FailureSchedule {
 public:
  void FailNth(uint64_t nth, ULONG key = 0);
  // Counts the request against every matching rule; true when it is one to fail.
  bool ShouldFail(ULONG key = 0);
  void Clear();

 private:
  struct Rule {
    uint64_t remaining;
    ULONG key;
  };
  std::mutex mutex_;
  std::vector<Rule> rules_;
};

}  // namespace tarnlink::kernel
