// Faults a test (or the command line) injects into the bus. Times are bus ticks: 1 ms frames
// at full speed, 125 us microframes at high speed.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace sim::usb {

struct TickWindow {
  uint64_t begin = 0;
  uint64_t end = 0;  // exclusive
  bool Contains(uint64_t tick) const { return tick >= begin && tick < end; }
};

struct BusFaults {
  std::set<uint8_t> stalledEndpoints;           // endpoint addresses answering STALL (0: control)
  std::vector<TickWindow> lostTime;             // the bus sends nothing in these windows
  std::map<uint8_t, uint32_t> dropEveryNth;     // endpoint: every nth isochronous packet is lost
  std::map<uint8_t, uint32_t> shortenBy;        // endpoint: IN packets arrive this many bytes short
  // OUT endpoint: each transfer reports this many bytes fewer than it carried, as a controller
  // does that could not fetch all of a request's bytes in time.
  std::map<uint8_t, uint32_t> shortOutTransfers;
  std::map<uint8_t, int32_t> feedbackOffset;    // feedback endpoint: added to the value read
  std::map<uint8_t, uint32_t> shortDescriptor;  // descriptor type: answered this many bytes short
  // The controller's completions are held back (its interrupt is masked): the bus runs on, but
  // nothing completes inside these windows; what fell due completes, in order, at the window's
  // end.
  std::vector<TickWindow> heldCompletions;

  bool BusLost(uint64_t tick) const {
    for (const TickWindow& w : lostTime) {
      if (w.Contains(tick)) return true;
    }
    return false;
  }
  // The tick at which a completion due at `tick` can happen.
  uint64_t CompletionTick(uint64_t tick) const {
    uint64_t released = tick;
    for (const TickWindow& w : heldCompletions) {
      if (w.Contains(tick) && w.end > released) released = w.end;
    }
    return released;
  }
};

}  // namespace sim::usb
