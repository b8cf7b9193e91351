// The property-requests fuzz run replayed in the suite: its seeds (what the endpoint builder and
// the volume control send) and scripts of random bytes.
#include <gtest/gtest.h>

#include <random>

#include "property_requests.h"

namespace {

unsigned ExpectRuns(const std::vector<uint8_t>& input) {
  std::string failure;
  tarnlink::fuzz::PropertyRequestsOutcome outcome;
  EXPECT_TRUE(tarnlink::fuzz::RunPropertyRequests(input, &failure, &outcome)) << failure;
  return outcome.succeeded;
}

TEST(PropertyRequestsReplay, TheSeedsAreAnswered) {
  const auto seeds = tarnlink::fuzz::PropertyRequestSeeds();
  ASSERT_EQ(seeds.size(), 2u);
  // velmor-dac: the component id, two jacks twice, four pins' modes, the unreadable jack, and
  // basic support, GET and SET of mute and volume. The playback-only DAC has one jack and two
  // pins.
  EXPECT_EQ(ExpectRuns(seeds[0]), 16u);
  EXPECT_EQ(ExpectRuns(seeds[1]), 12u);
}

TEST(PropertyRequestsReplay, RandomScriptsEndCleanly) {
  std::mt19937 random(20);
  for (int run = 0; run < 20; ++run) {
    std::vector<uint8_t> input(1 + random() % 600);
    for (uint8_t& byte : input) byte = static_cast<uint8_t>(random());
    ExpectRuns(input);
  }
}

}  // namespace
