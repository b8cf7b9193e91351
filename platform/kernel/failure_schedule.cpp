// Injected failures.
#include "kernel/failure_schedule.h"

namespace tarnlink::kernel {

void FailureSchedule::FailNth(uint64_t nth, ULONG key) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (nth > 0) rules_.push_back(Rule{nth, key});
}

bool FailureSchedule::ShouldFail(ULONG key) {
  std::lock_guard<std::mutex> guard(mutex_);
  for (auto it = rules_.begin(); it != rules_.end(); ++it) {
    if (it->key != 0 && it->key != key) continue;
    if (--it->remaining == 0) {
      rules_.erase(it);
      return true;
    }
  }
  return false;
}

void FailureSchedule::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  rules_.clear();
}

}  // namespace tarnlink::kernel
