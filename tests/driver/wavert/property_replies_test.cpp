// The size check and the basic-support reply every property handler of the filter shares.
#include <gtest/gtest.h>

#include "property_replies.h"

namespace {

PCPROPERTY_REQUEST Request(ULONG valueSize, PVOID value, ULONG instanceSize, PVOID instance) {
  PCPROPERTY_REQUEST request = {};
  request.ValueSize = valueSize;
  request.Value = value;
  request.InstanceSize = instanceSize;
  request.Instance = instance;
  return request;
}

TEST(ValidateValueSize, EverySizeCase) {
  ULONG value[4] = {};
  ULONG instance = 0;
  struct Case {
    const char* what;
    ULONG valueSize;
    bool value;
    ULONG instanceSize;
    NTSTATUS status;
    ULONG valueSizeAfter;
  };
  const Case cases[] = {
      {"size query", 0, true, 4, STATUS_BUFFER_OVERFLOW, 8},
      {"size query without instance", 0, false, 0, STATUS_BUFFER_OVERFLOW, 8},
      {"value too short", 7, true, 4, STATUS_BUFFER_TOO_SMALL, 0},
      {"instance too short", 8, true, 3, STATUS_BUFFER_TOO_SMALL, 0},
      {"exact", 8, true, 4, STATUS_SUCCESS, 8},
      {"longer instance", 8, true, 12, STATUS_SUCCESS, 8},
      {"value too long", 9, true, 4, STATUS_UNSUCCESSFUL, 0},
      {"null value", 8, false, 4, STATUS_UNSUCCESSFUL, 0},
  };
  for (const Case& c : cases) {
    PCPROPERTY_REQUEST request =
        Request(c.valueSize, c.value ? value : nullptr, c.instanceSize, &instance);
    EXPECT_EQ(ValidateValueSize(&request, 8, 4), c.status) << c.what;
    EXPECT_EQ(request.ValueSize, c.valueSizeAfter) << c.what;
  }
  PCPROPERTY_REQUEST request = Request(8, value, 4, nullptr);  // a size but no instance
  EXPECT_EQ(ValidateValueSize(&request, 8, 4), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(ValidateValueSize(nullptr, 8, 4), STATUS_INVALID_PARAMETER);
  request = Request(8, value, 4, &instance);
  EXPECT_EQ(ValidateValueSize(&request, 0, 0), STATUS_INVALID_PARAMETER);
}

// Its sizes are proved through the filter's items; a value the framework did not pass is
// too small however large its size.
TEST(ReplyBasicSupport, WritesNothingWithoutAValue) {
  PCPROPERTY_REQUEST request = Request(40, nullptr, 0, nullptr);
  EXPECT_EQ(ReplyBasicSupport(&request, 0x203, VT_I4), STATUS_BUFFER_TOO_SMALL);
  EXPECT_EQ(request.ValueSize, 0u);
}

}  // namespace
