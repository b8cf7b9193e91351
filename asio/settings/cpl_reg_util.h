// The control panel's settings access: a write that succeeded is announced to the ASIO driver
// objects that listen, so a running host picks the new value up at once.
#pragma once

#include "reg_util.h"

class CCplRegUtil : public CmnRegUtil {
 public:
  int WriteValue(int id, const void* data, DWORD length) override;
};
