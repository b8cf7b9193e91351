// The settings events: how a control panel that wrote a setting tells every running ASIO
// driver object. Each driver object creates (or opens) the two named events and keeps an unnamed
// one to end its settings-watch thread.
#pragma once

#include <cstddef>

#include "reg_util.h"

// The listener event exists while some ASIO driver object can hear; a writer sets the change
// event after it wrote. Local names: the control panel and the hosts share one session.
inline constexpr LPCWSTR kSettingsListenerEventName =
    WSTR("{2B6C82FD-C9FB-4D70-8140-BE912B2A0F27}0");
inline constexpr LPCWSTR kSettingsChangeEventName = WSTR("{2B6C82FD-C9FB-4D70-8140-BE912B2A0F27}1");

// Holds handles and closes them when it goes.
class SYNCOBJ {
 public:
  SYNCOBJ() = default;
  SYNCOBJ(const SYNCOBJ&) = delete;
  SYNCOBJ& operator=(const SYNCOBJ&) = delete;
  virtual ~SYNCOBJ();

  // Closes every handle held; the slots are empty afterwards.
  void CloseHandles();

 protected:
  static constexpr size_t kSlots = 3;
  HANDLE handles_[kSlots] = {};
};

class SYNCOBJ_ASIO : public SYNCOBJ {
 public:
  // Creates or opens the listener (manual reset) and change (auto-reset) events, both not
  // signalled when new, and creates the unnamed auto-reset quit event. 1 when all three exist;
  // on failure none is held.
  int CreateEvents();

  HANDLE ListenerEvent() const { return handles_[0]; }
  HANDLE ChangeEvent() const { return handles_[1]; }
  HANDLE QuitEvent() const { return handles_[2]; }
};

// The ASIO driver object's settings access: the table's reads and writes and the three events.
class CRegUtil2 : public CmnRegUtil, public SYNCOBJ_ASIO {};
