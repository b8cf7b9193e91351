// The settings-watch thread of an ASIO driver object: it listens for the control panel's change
// event until its quit event ends it, and hands each change to the driver object.
#pragma once

#include "sync_objects.h"

class ISettingsChangeSink {
 public:
  // Called on the watch thread after each change event.
  virtual void OnSettingsChanged() = 0;

 protected:
  ~ISettingsChangeSink() = default;
};

struct SettingsWatch {
  CRegUtil2* settings;
  ISettingsChangeSink* sink;
};

// The thread's body; the parameter is a SettingsWatch that outlives the thread. Ends with -1 at
// once when the three events are missing, with 0 at the quit event.
DWORD WINAPI SettingsWatchThread(LPVOID parameter);
