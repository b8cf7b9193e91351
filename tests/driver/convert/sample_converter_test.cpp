#include "sample_converter.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Le(uint32_t value, size_t count) {
  Bytes b;
  for (size_t i = 0; i < count; ++i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
  return b;
}
Bytes S16(uint16_t v) {
  return Le(v, 2);
}
Bytes S24(uint32_t v) {
  return Le(v, 3);
}
Bytes S32(uint32_t v) {
  return Le(v, 4);
}
Bytes F32(float f) {
  uint32_t w;
  std::memcpy(&w, &f, 4);
  return Le(w, 4);
}
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

constexpr ConverterFormat Pcm(uint32_t bits, uint32_t channels = 1) {
  return {ConverterStreamKindPcm, ConverterTagPcm, bits, channels};
}
constexpr ConverterFormat Float(uint32_t channels = 1) {
  return {ConverterStreamKindPcm, ConverterTagIeeeFloat, 32, channels};
}
constexpr ConverterFormat Dsd(uint16_t tag, uint32_t bits) {
  return {ConverterStreamKindDsd, tag, bits, 2};
}
constexpr ConverterFormat Tagged(uint16_t tag, uint32_t bits) {
  return {ConverterStreamKindPcm, tag, bits, 2};
}

enum class Op { Copy, Mix };
constexpr uint16_t kInteger = ConverterTagPcm;
constexpr uint16_t kFloat = ConverterTagIeeeFloat;

struct EdgeCase {
  const char* name;
  uint16_t domainTag;
  ConverterFormat source;
  ConverterFormat destination;
  Op op;
  uint32_t frames;
  Bytes src;
  Bytes dstBefore;
  Bytes dstAfter;
};

const float kNan = __builtin_nanf("");

const EdgeCase kEdgeCases[] = {
    {"pcm16 half scale to pcm24",
     kInteger,
     Pcm(16),
     Pcm(24),
     Op::Copy,
     1,
     S16(0x4000),
     S24(0xAAAAAA),
     {0x00, 0x00, 0x40}},
    {"pcm16 half scale to pcm32", kInteger, Pcm(16), Pcm(32), Op::Copy, 1, S16(0x4000),
     S32(0xAAAAAAAA), S32(0x40000000)},
    {"pcm16 half scale to float", kInteger, Pcm(16), Float(), Op::Copy, 1, S16(0x4000), F32(9.0f),
     F32(0.5f)},
    {"float plus 1.0 to pcm16", kInteger, Float(), Pcm(16), Op::Copy, 1, F32(1.0f), S16(0),
     S16(0x7FFF)},
    {"float minus 1.0 to pcm16", kInteger, Float(), Pcm(16), Op::Copy, 1, F32(-1.0f), S16(0),
     S16(0x8000)},
    {"float 2.0 to pcm16", kFloat, Float(), Pcm(16), Op::Copy, 1, F32(2.0f), S16(0), S16(0x7FFF)},
    {"float NaN to pcm16", kInteger, Float(), Pcm(16), Op::Copy, 1, F32(kNan), S16(0x1234), S16(0)},
    {"float minus 1.0 to pcm32 is exactly minus 2^31", kInteger, Float(), Pcm(32), Op::Copy, 1,
     F32(-1.0f), S32(0), S32(0x80000000)},
    {"float minus Inf to pcm32", kFloat, Float(), Pcm(32), Op::Copy, 1, F32(-__builtin_inff()),
     S32(0), S32(0x80000000)},
    {"integer mix saturates instead of wrapping", kInteger, Pcm(16), Pcm(16), Op::Mix, 1,
     S16(0x7000), S16(0x7000), S16(0x7FFF)},
    {"integer mix saturates negative", kInteger, Pcm(32), Pcm(32), Op::Mix, 1, S32(0x80000000),
     S32(0xFFFFFFFF), S32(0x80000000)},
    {"pcm24 minus 1 narrows to pcm16 minus 1", kInteger, Pcm(24), Pcm(16), Op::Copy, 1,
     S24(0xFFFFFF), S16(0), S16(0xFFFF)},
    {"float domain keeps pcm32 full scale", kFloat, Pcm(32), Pcm(32), Op::Copy, 1, S32(0x7FFFFFFF),
     S32(0), S32(0x7FFFFFFF)},
    {"float domain keeps pcm32 one", kFloat, Pcm(32), Pcm(32), Op::Copy, 1, S32(0x00000001), S32(0),
     S32(0x00000001)},
    {"float domain pcm32 keeps 24 significant bits", kFloat, Pcm(32), Pcm(32), Op::Copy, 1,
     S32(0x12345679), S32(0), S32(0x12345680)},
    {"integer domain float copy clips", kInteger, Float(), Float(), Op::Copy, 1, F32(2.0f),
     F32(0.0f), F32(1.0f)},
    {"integer domain float mix clips", kInteger, Float(), Float(), Op::Mix, 1, F32(0.75f),
     F32(0.75f), F32(1.0f)},
    {"float domain float mix does not clip", kFloat, Float(), Float(), Op::Mix, 1, F32(0.75f),
     F32(0.75f), F32(1.5f)},
    {"float domain mix saturates at a pcm store", kFloat, Float(), Pcm(24), Op::Mix, 1, F32(0.75f),
     S24(0x600000), S24(0x7FFFFF)},
    {"float domain float copy keeps NaN bits", kFloat, Float(), Float(), Op::Copy, 1,
     S32(0x7FA00001), S32(0), S32(0x7FA00001)},
    {"2 into 6 channels leaves 2 to 5", kInteger, Pcm(16, 2), Pcm(16, 6), Op::Copy, 2,
     Cat({S16(0x0101), S16(0x0202), S16(0x0303), S16(0x0404)}), Bytes(24, 0xEE),
     Cat({S16(0x0101), S16(0x0202), Bytes(8, 0xEE), S16(0x0303), S16(0x0404), Bytes(8, 0xEE)})},
    {"6 into 2 channels skips 2 to 5", kInteger, Pcm(16, 6), Pcm(32, 2), Op::Copy, 2,
     Cat({S16(1), S16(2), Bytes(8, 0x55), S16(3), S16(4), Bytes(8, 0x55)}), Bytes(16, 0xEE),
     Cat({S32(0x10000), S32(0x20000), S32(0x30000), S32(0x40000)})},
    {"no frames touch nothing", kInteger, Pcm(16), Pcm(16), Op::Copy, 0, S16(0x1234), S16(0x5678),
     S16(0x5678)},
    {"native DSD mix overwrites the words", kInteger, Dsd(1, 32), Dsd(1, 32), Op::Mix, 1,
     Cat({S32(0x12345678), S32(0x9ABCDEF0)}), Bytes(8, 0x96),
     Cat({S32(0x12345678), S32(0x9ABCDEF0)})},
};

class SampleConverterEdges : public testing::TestWithParam<EdgeCase> {};

TEST_P(SampleConverterEdges, ConvertsAsTheRulesSay) {
  const EdgeCase& c = GetParam();
  SampleConverter converter;
  ASSERT_EQ(SelectConverter(&converter, c.domainTag, &c.source, &c.destination), STATUS_SUCCESS);
  Bytes dst = c.dstBefore;
  if (c.op == Op::Mix) {
    Mix(&converter, dst.data(), c.src.data(), c.frames);
  } else {
    Copy(&converter, dst.data(), c.src.data(), c.frames);
  }
  EXPECT_THAT(dst, testing::ElementsAreArray(c.dstAfter));
}

std::string CaseName(const testing::TestParamInfo<EdgeCase>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) name += std::isalnum(*p) ? *p : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Table, SampleConverterEdges, testing::ValuesIn(kEdgeCases), CaseName);

struct SelectionCase {
  const char* name;
  uint16_t domainTag;
  ConverterFormat source;
  ConverterFormat destination;
  NTSTATUS expected;
};

const SelectionCase kSelectionCases[] = {
    {"pcm8 source", kInteger, Tagged(1, 8), Pcm(24), STATUS_NOT_SUPPORTED},
    {"pcm8 destination", kInteger, Pcm(24), Tagged(1, 8), STATUS_NOT_SUPPORTED},
    {"pcm20 source", kInteger, Tagged(1, 20), Pcm(24), STATUS_NOT_SUPPORTED},
    {"pcm20 destination", kFloat, Float(), Tagged(1, 20), STATUS_NOT_SUPPORTED},
    {"alaw source", kInteger, Tagged(6, 8), Pcm(16), STATUS_NOT_SUPPORTED},
    {"alaw destination", kInteger, Pcm(16), Tagged(6, 8), STATUS_NOT_SUPPORTED},
    {"mulaw source", kInteger, Tagged(7, 8), Pcm(16), STATUS_NOT_SUPPORTED},
    {"mulaw destination", kInteger, Pcm(16), Tagged(7, 8), STATUS_NOT_SUPPORTED},
    {"float of 64 bits", kFloat, Tagged(3, 64), Float(), STATUS_NOT_SUPPORTED},
    {"domain tag other than 1 or 3", 2, Pcm(16), Pcm(24), STATUS_NOT_SUPPORTED},
    {"stream kinds differ", kInteger, Dsd(1, 32), Pcm(32), STATUS_NOT_SUPPORTED},
    {"unknown stream kind", kInteger, {2, 1, 32, 2}, {2, 1, 32, 2}, STATUS_NOT_SUPPORTED},
    {"dsd with pcm16 source", kInteger, Dsd(1, 16), Dsd(1, 32), STATUS_NOT_SUPPORTED},
    {"dsd with pcm16 destination", kInteger, Dsd(1, 32), Dsd(1, 16), STATUS_NOT_SUPPORTED},
    {"dsd in the float domain", kFloat, Dsd(1, 32), Dsd(1, 32), STATUS_NOT_SUPPORTED},
    {"dsd as float words", kInteger, Dsd(3, 32), Dsd(1, 32), STATUS_NOT_SUPPORTED},
    {"dsd words", kInteger, Dsd(1, 32), Dsd(1, 32), STATUS_SUCCESS},
    {"pcm into float in the float domain", kFloat, Pcm(24), Float(), STATUS_SUCCESS},
};

class SelectConverterResults : public testing::TestWithParam<SelectionCase> {};

TEST_P(SelectConverterResults, ReturnsStatusAndClearsOnFailure) {
  const SelectionCase& c = GetParam();
  SampleConverter converter{};
  const ConverterFormat previous = Pcm(16);
  ASSERT_EQ(SelectConverter(&converter, kInteger, &previous, &previous), STATUS_SUCCESS);
  EXPECT_EQ(SelectConverter(&converter, c.domainTag, &c.source, &c.destination), c.expected);
  if (NT_SUCCESS(c.expected)) {
    EXPECT_NE(converter.mix, nullptr);
    EXPECT_NE(converter.copy, nullptr);
    EXPECT_EQ(converter.srcChannels, c.source.channels);
    EXPECT_EQ(converter.dstChannels, c.destination.channels);
  } else {
    EXPECT_EQ(converter.mix, nullptr);
    EXPECT_EQ(converter.copy, nullptr);
  }
}

std::string SelectionName(const testing::TestParamInfo<SelectionCase>& info) {
  std::string name;
  for (const char* p = info.param.name; *p; ++p) name += std::isalnum(*p) ? *p : '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Table, SelectConverterResults, testing::ValuesIn(kSelectionCases),
                         SelectionName);

TEST(SelectConverterArguments, MissingRecordOrFormatIsInvalidParameter) {
  SampleConverter converter;
  const ConverterFormat format = Pcm(16);
  EXPECT_EQ(SelectConverter(nullptr, kInteger, &format, &format), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(SelectConverter(&converter, kInteger, nullptr, &format), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(SelectConverter(&converter, kInteger, &format, nullptr), STATUS_INVALID_PARAMETER);
}

TEST(SelectConverterArguments, ClearedConverterLeavesTheDestinationAlone) {
  SampleConverter converter{};
  uint8_t dst[4] = {1, 2, 3, 4};
  const uint8_t src[4] = {9, 9, 9, 9};
  Mix(&converter, dst, src, 1);
  Copy(&converter, dst, src, 1);
  Mix(nullptr, dst, src, 1);
  EXPECT_THAT(dst, testing::ElementsAre(1, 2, 3, 4));
}

TEST(ConverterFormatIndexOf, MapsTagAndBits) {
  ConverterFormatIndex index;
  ASSERT_EQ(GetConverterFormatIndex(1, 24, &index), STATUS_SUCCESS);
  EXPECT_EQ(index, ConverterFormatPcm24);
  ASSERT_EQ(GetConverterFormatIndex(3, 32, &index), STATUS_SUCCESS);
  EXPECT_EQ(index, ConverterFormatFloat);
  EXPECT_EQ(GetConverterFormatIndex(3, 16, &index), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(GetConverterFormatIndex(1, 32, nullptr), STATUS_INVALID_PARAMETER);
}

}  // namespace
