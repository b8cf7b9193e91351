// Hostile device answers, replayed through the device-answers fuzz run: every catalogue device
// whose class, vendor and string requests and capture packets are answered with stalls, garbage
// or nothing must start or be refused cleanly, stream or fail cleanly, and leave nothing behind.
#include <gtest/gtest.h>

#include "device_answers.h"
#include "sim/devices/catalogue.h"

namespace {

std::vector<uint8_t> Repeat(std::vector<uint8_t> unit, size_t times) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

TEST(DeviceAnswersTest, EveryDeviceSurvivesHostileAnswers) {
  std::vector<uint8_t> garbage = {2, 255};
  garbage.insert(garbage.end(), 255, 0xFF);
  struct Script {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Script scripts[] = {
      {"honest", {}},
      {"every request stalled, no capture packet", Repeat({1}, 2000)},
      {"every answer all ones and overlong", Repeat(garbage, 200)},
      {"every answer a single zero byte", Repeat({2, 1, 0}, 2000)},
      {"every answer empty", Repeat({3, 0}, 2000)},
      {"honest and stalled by turns", Repeat({0, 1}, 2000)},
  };
  for (size_t device = 0; device < sim::devices::Catalogue().size(); ++device) {
    for (const Script& s : scripts) {
      SCOPED_TRACE(testing::Message() << sim::devices::Catalogue()[device].name << ": " << s.what);
      std::vector<uint8_t> input = tarnlink::fuzz::EncodeDeviceAnswersSeed(device);
      input.insert(input.end(), s.bytes.begin(), s.bytes.end());
      std::string failure;
      tarnlink::fuzz::DeviceAnswersOutcome outcome;
      EXPECT_TRUE(tarnlink::fuzz::RunDeviceAnswers(input, &failure, &outcome)) << failure;
      if (s.bytes.empty()) {
        // The harness reaches what it means to test: an honest device starts and streams.
        EXPECT_TRUE(outcome.started);
        EXPECT_GE(outcome.transfers, 2u);
      }
    }
  }
}

}  // namespace
