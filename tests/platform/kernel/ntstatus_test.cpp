#include <gtest/gtest.h>

#include "kernel_mode.h"

TEST(NtStatus, SeverityClasses) {
  struct Case {
    NTSTATUS status;
    bool success, information, warning, error;
  };
  const Case cases[] = {
      {STATUS_SUCCESS, true, false, false, false},
      {STATUS_PENDING, true, false, false, false},
      {STATUS_OBJECT_NAME_EXISTS, true, true, false, false},
      {STATUS_BUFFER_OVERFLOW, false, false, true, false},
      {STATUS_DEVICE_BUSY, false, false, true, false},
      {STATUS_INVALID_PARAMETER, false, false, false, true},
      {STATUS_DELETE_PENDING, false, false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << static_cast<ULONG>(c.status));
    EXPECT_EQ(NT_SUCCESS(c.status), c.success);
    EXPECT_EQ(NT_INFORMATION(c.status), c.information);
    EXPECT_EQ(NT_WARNING(c.status), c.warning);
    EXPECT_EQ(NT_ERROR(c.status), c.error);
  }
}

TEST(NtTypes, WindowsWidths) {
  static_assert(sizeof(LONG) == 4 && sizeof(ULONG) == 4, "LONG and ULONG are 32 bits");
  static_assert(sizeof(WCHAR) == 2, "WCHAR is UTF-16");
  static_assert(sizeof(LARGE_INTEGER) == 8 && sizeof(GUID) == 16);
  const WCHAR text[] = WSTR("\\asio");
  EXPECT_EQ(RTL_NUMBER_OF(text), 6u);
}
