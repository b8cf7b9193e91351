// The private-requests fuzz run replayed in the suite: its seeds (clients that stream), a seed
// whose client scribbles over every header field, and scripts of random bytes.
#include <gtest/gtest.h>

#include <random>

#include "private_requests.h"

namespace {

tarnlink::fuzz::PrivateRequestsOutcome ExpectRuns(const std::vector<uint8_t>& input) {
  std::string failure;
  tarnlink::fuzz::PrivateRequestsOutcome outcome;
  EXPECT_TRUE(tarnlink::fuzz::RunPrivateRequests(input, &failure, &outcome)) << failure;
  return outcome;
}

TEST(PrivateRequestsReplay, TheSeedsStreamAndEndCleanly) {
  for (const auto& seed : tarnlink::fuzz::PrivateRequestSeeds()) {
    const auto outcome = ExpectRuns(seed);
    EXPECT_EQ(outcome.prepared, 1u);
    EXPECT_EQ(outcome.started, 1u);
  }
}

TEST(PrivateRequestsReplay, EveryHeaderFieldScribbledWhileStreaming) {
  for (auto seed : tarnlink::fuzz::PrivateRequestSeeds()) {
    for (uint8_t ring = 0; ring < 2; ++ring) {
      for (uint8_t field = 0; field < 7; ++field) {
        for (uint32_t value : {0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu, 3u}) {
          seed.insert(seed.end(), {7, ring, field, static_cast<uint8_t>(value),
                                   static_cast<uint8_t>(value >> 8),
                                   static_cast<uint8_t>(value >> 16),
                                   static_cast<uint8_t>(value >> 24)});
        }
      }
      seed.insert(seed.end(), {6, 5});
    }
    EXPECT_EQ(ExpectRuns(seed).started, 1u);
  }
}

TEST(PrivateRequestsReplay, ScriptsOfRandomBytes) {
  std::mt19937 random(19);
  for (int run = 0; run < 20; ++run) {
    std::vector<uint8_t> input(512);
    for (uint8_t& byte : input) byte = static_cast<uint8_t>(random());
    ExpectRuns(input);
  }
}

}  // namespace
