// The object an ASIO host talks to. This holds its state and the calls that set formats, rates
// and buffer sizes, the choice and opening of the devices, and the two watch threads; streaming
// and the buffers come on top of it.
#pragma once

#include "asio_interface.h"
#include "devices/device_group.h"
#include "devices/device_list_entry.h"
#include "settings/settings_watch.h"
#include "settings/sync_objects.h"

enum AsioDriverState : LONG {
  LOADED = 0,
  INITIALIZED = 1,
  PREPARED = 2,
  RUNNING = 3,
  SUSPENDED = 4,
};

class COrvAsioDriver : private ISettingsChangeSink {
 public:
  COrvAsioDriver();
  virtual ~COrvAsioDriver();
  COrvAsioDriver(const COrvAsioDriver&) = delete;
  COrvAsioDriver& operator=(const COrvAsioDriver&) = delete;

  // Formats, rates, buffer sizes and clock (IASIO).
  ASIOError getBufferSize(LONG* minSize, LONG* maxSize, LONG* preferredSize, LONG* granularity);
  ASIOError canSampleRate(ASIOSampleRate sampleRate);
  ASIOError getSampleRate(ASIOSampleRate* sampleRate);
  ASIOError setSampleRate(ASIOSampleRate sampleRate);
  ASIOError getClockSources(ASIOClockSource* clocks, LONG* numSources);
  ASIOError setClockSource(LONG reference);
  ASIOError future(LONG selector, void* opt);

 protected:
  // The steps the object's start is made of. Each returns true on success and otherwise leaves
  // the error text set.
  bool OpenInstanceMutex();
  bool StartDeviceWatch();
  void StopDeviceWatch();
  bool CreateSettingsEvents();
  bool StartSettingsWatch();
  void StopSettingsWatch();

  // Reads the settings, discovers the devices and opens the selected one (or the first).
  void SelectAndOpen();
  // Opens the selected device and brings it to the rate nearest the ASIO rate it can run.
  bool OpenSelected();
  // Whether the device handles still work; re-opens them while no buffers exist.
  bool CheckHandles();
  // Waits up to timeout ms for every device to be on.
  bool WaitForPower(DWORD timeout);
  // Sets every device to rate (a DSD bit rate in DSD mode).
  bool SetDeviceRate(ULONG rate);
  // Asks the host to reset the driver; blocking means start fails until the buffers go.
  LONG RequestHostReset(ULONG blocking);

  bool DsdMode() const { return ioFormat_.FormatType == kASIODSDFormat; }
  // The device rate of the ASIO rate, and the preferred buffer size in host samples.
  ULONG DeviceRateOf(ULONG asioRate) const;
  ULONG PreferredBufferSize() const;
  void RecomputeSampleType();
  void RecomputeBytesPerHalf();
  void SetErrorText(const char* text);

  // Settings-watch thread: the control panel changed a setting.
  void OnSettingsChanged() override;
  // Device-watch thread body and its window procedure.
  static DWORD WINAPI DeviceWatchThread(LPVOID parameter);
  DWORD RunDeviceWatch();
  static LRESULT CALLBACK WatchWindowProc(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam);

  LONG state_ = LOADED;
  char errorText_[128] = {};
  ASIOIoFormat ioFormat_ = {};
  ULONG dsdCapable_ = 0;
  ULONG bufferSizeIndex_ = 63;
  ULONG asioRate_ = 0;
  ULONG pendingRate_ = 0;
  double rateOverride_ = 0;  // nonzero while a rate change made while running is under way

  WCHAR selectedDevice_[kSelectedCodeUnits + 1] = {};
  DeviceList deviceList_;
  DeviceGroup deviceGroup_;
  CRegUtil2 settings_;
  HANDLE instanceMutex_ = nullptr;

  ULONG lowestRate_ = 0;
  ULONG highestRate_ = 0;
  ULONG inputs_ = 0;
  ULONG outputs_ = 0;
  ULONG deviceBits_ = 32;
  ULONG allFloat_ = 0;
  ULONG bytesPerSample_ = 4;
  ASIOSampleType sampleType_ = ASIOSTInt32LSB;
  ULONG periodFrames_ = 0;
  ULONG bytesPerChannelHalf_ = 0;

  ULONG resetPending_ = 0;
  ASIOCallbacks* callbacks_ = nullptr;
  ULONG timeCodeEnabled_ = 0;
  ASIOTime timeInfo_ = {};

  HANDLE watchThread_ = nullptr;
  HANDLE windowReady_ = nullptr;
  HWND window_ = nullptr;
  HANDLE settingsThread_ = nullptr;
  SettingsWatch settingsWatch_ = {};
};
