// Every converter pair, through the table and its fast paths, against the sample-at-a-time
// reference, over random and extreme inputs, channel layouts, block lengths and misalignments.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "reference_converter.h"
#include "sample_converter.h"

namespace {

struct Pair {
  ConverterFormatIndex source;
  ConverterFormatIndex destination;
  ArithmeticDomain domain;
};

Pair PairOf(uint32_t index) {
  return {static_cast<ConverterFormatIndex>(index % 4),
          static_cast<ConverterFormatIndex>(index / 4 % 4),
          static_cast<ArithmeticDomain>(index / 16)};
}

ConverterFormat Describe(ConverterFormatIndex f, uint32_t channels) {
  const uint16_t tag = f == ConverterFormatFloat ? ConverterTagIeeeFloat : ConverterTagPcm;
  return {ConverterStreamKindPcm, tag, static_cast<uint32_t>(8 * reference::Bytes(f)), channels};
}

// Float and integer extremes; a PCM16 or PCM24 slot takes the top bits of the word.
constexpr uint32_t kSpecialWords[] = {
    0x00000000, 0x80000000, 0x3F800000, 0xBF800000, 0x40000000, 0xC0000000, 0x3F000000,
    0x7FC00000, 0x7FA00001, 0xFFC00001, 0x7F800000, 0xFF800000, 0x00000001, 0x80000001,
    0x007FFFFF, 0x00800000, 0x3F7FFFFF, 0xBF7FFFFF, 0x3F800001, 0xBF800001, 0x30000000,
    0x2F800000, 0x7FFFFFFF, 0xFFFFFFFF, 0x7FFF0000, 0x00010000, 0x7FFFFF00, 0x00000100,
    0x7FFFFFC0, 0x7FFFFF80, 0x70000000, 0x4F000000, 0xCF000000, 0x4EFFFFFF, 0xCF000001,
};

class Inputs {
 public:
  explicit Inputs(uint32_t seed) : random_(seed) {}

  std::vector<uint8_t> Samples(ConverterFormatIndex f, size_t offset, size_t samples) {
    const size_t bytes = reference::Bytes(f);
    std::vector<uint8_t> buffer(offset + samples * bytes + kGuardBytes);
    for (auto& b : buffer) b = static_cast<uint8_t>(random_());
    for (size_t i = 0; i < samples; ++i) {
      const uint32_t word = Word() >> (32 - 8 * bytes);
      for (size_t k = 0; k < bytes; ++k) buffer[offset + i * bytes + k] = uint8_t(word >> (8 * k));
    }
    return buffer;
  }

  static constexpr size_t kGuardBytes = 16;

 private:
  uint32_t Word() {
    const uint32_t choice = random_() % 10;
    if (choice < 4) return kSpecialWords[random_() % std::size(kSpecialWords)];
    if (choice < 7) return static_cast<uint32_t>(random_());
    float f = std::uniform_real_distribution<float>(-2.0f, 2.0f)(random_);
    uint32_t word;
    std::memcpy(&word, &f, 4);
    return word;
  }

  std::mt19937 random_;
};

struct Layout {
  uint32_t dstChannels;
  uint32_t srcChannels;
};

constexpr Layout kLayouts[] = {{1, 1}, {2, 2}, {8, 8}, {6, 6}, {2, 6},
                               {6, 2}, {8, 2}, {2, 8}, {3, 5}};
constexpr uint32_t kFrameCounts[] = {0, 1, 3, 7, 64, 131};
constexpr size_t kOffsets[] = {0, 1};

// A float sum may yield a NaN whose payload depends on operand order, which no rule fixes; any
// NaN then matches any NaN. Everything else matches bit for bit.
void ExpectSameBytes(const std::vector<uint8_t>& actual, const std::vector<uint8_t>& expected,
                     size_t offset, bool anyNan) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    if (anyNan && i >= offset && (i - offset) % 4 == 0 && i + 4 <= actual.size()) {
      const float a = reference::ReadFloat(&actual[i]);
      const float e = reference::ReadFloat(&expected[i]);
      if (std::isnan(a) && std::isnan(e)) {
        i += 3;
        continue;
      }
    }
    ASSERT_EQ(actual[i], expected[i]) << "at byte " << i;
  }
}

class ConverterMatchesReference : public testing::TestWithParam<uint32_t> {};

TEST_P(ConverterMatchesReference, MixAndCopy) {
  const Pair pair = PairOf(GetParam());
  Inputs inputs(GetParam() * 7919 + 1);
  for (const bool mix : {false, true}) {
    for (const Layout layout : kLayouts) {
      const ConverterFormat src = Describe(pair.source, layout.srcChannels);
      const ConverterFormat dst = Describe(pair.destination, layout.dstChannels);
      SampleConverter converter;
      const uint16_t domainTag =
          pair.domain == ArithmeticDomainInteger ? ConverterTagPcm : ConverterTagIeeeFloat;
      ASSERT_EQ(SelectConverter(&converter, domainTag, &src, &dst), STATUS_SUCCESS);
      for (const uint32_t frames : kFrameCounts) {
        for (const size_t offset : kOffsets) {
          SCOPED_TRACE(testing::Message() << (mix ? "mix" : "copy") << " " << layout.srcChannels
                                          << "->" << layout.dstChannels << " channels, " << frames
                                          << " frames, offset " << offset);
          const auto source = inputs.Samples(pair.source, offset, frames * layout.srcChannels);
          auto actual = inputs.Samples(pair.destination, offset, frames * layout.dstChannels);
          auto expected = actual;
          if (mix) {
            Mix(&converter, actual.data() + offset, source.data() + offset, frames);
          } else {
            Copy(&converter, actual.data() + offset, source.data() + offset, frames);
          }
          reference::Convert(pair.source, pair.destination, pair.domain, mix,
                             expected.data() + offset, layout.dstChannels, source.data() + offset,
                             layout.srcChannels, frames);
          const bool anyNan = mix && pair.domain == ArithmeticDomainFloat &&
                              pair.destination == ConverterFormatFloat;
          ExpectSameBytes(actual, expected, offset, anyNan);
        }
      }
    }
  }
}

std::string PairName(const testing::TestParamInfo<uint32_t>& info) {
  static const char* const kNames[] = {"Pcm16", "Pcm24", "Pcm32", "Float"};
  const Pair pair = PairOf(info.param);
  return std::string(pair.domain == ArithmeticDomainInteger ? "Integer" : "Float") + "_" +
         kNames[pair.source] + "_to_" + kNames[pair.destination];
}

INSTANTIATE_TEST_SUITE_P(TARNLINK_CONVERT_VARIANT, ConverterMatchesReference,
                         testing::Range(0u, 32u), PairName);

}  // namespace
