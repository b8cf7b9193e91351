// The object an ASIO host talks to: its state, the host's buffers and callbacks, the choice and
// opening of the devices, the streaming thread and the two watch threads.
#pragma once

#include <vector>

#include "asio_interface.h"
#include "com/unknown.h"
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

// The device-watch window's timers: the resume check's retries and the idle buffer switches.
inline constexpr UINT_PTR kResumeTimer = 1;
inline constexpr UINT_PTR kIdleTimer = 2;

// The host's buffers of one direction, in createBuffers order.
struct HostChannels {
  std::vector<ULONG> inUse;             // per channel of the direction
  std::vector<ChannelLocation> map;     // per buffer: its device and channel there
  std::vector<std::vector<BYTE>> halves[2];  // per buffer, for each half
};

class COrvAsioDriver : public IASIO, public CUnknown, private ISettingsChangeSink {
 public:
  // outer: the aggregating object, or null.
  explicit COrvAsioDriver(IUnknown* outer = nullptr);
  ~COrvAsioDriver() override;
  COrvAsioDriver(const COrvAsioDriver&) = delete;
  COrvAsioDriver& operator=(const COrvAsioDriver&) = delete;

  // IUnknown: the owner's.
  STDMETHODIMP QueryInterface(REFIID riid, PVOID* object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // The driver's class id is IASIO's interface id.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, PVOID* object) override;

  ASIOBool init(void* sysHandle) override;
  void getDriverName(char* name) override;
  LONG getDriverVersion() override;
  void getErrorMessage(char* string) override;
  ASIOError start() override;
  ASIOError stop() override;
  ASIOError getChannels(LONG* numInputChannels, LONG* numOutputChannels) override;
  ASIOError getLatencies(LONG* inputLatency, LONG* outputLatency) override;
  ASIOError getBufferSize(LONG* minSize, LONG* maxSize, LONG* preferredSize,
                          LONG* granularity) override;
  ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
  ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getClockSources(ASIOClockSource* clocks, LONG* numSources) override;
  ASIOError setClockSource(LONG reference) override;
  ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
  ASIOError getChannelInfo(ASIOChannelInfo* info) override;
  ASIOError createBuffers(ASIOBufferInfo* bufferInfos, LONG numChannels, LONG bufferSize,
                          ASIOCallbacks* callbacks) override;
  ASIOError disposeBuffers() override;
  ASIOError controlPanel() override;
  ASIOError future(LONG selector, void* opt) override;
  ASIOError outputReady() override;

 protected:
  // The steps the object's start is made of. Each returns true on success and otherwise leaves
  // the error text set.
  bool OpenInstanceMutex();
  bool StartDeviceWatch();
  void StopDeviceWatch();
  bool CreateSettingsEvents();
  bool StartSettingsWatch();
  void StopSettingsWatch();
  // Undoes what a failed init made, in the order it must go.
  void CleanUpInit();
  // Puts a stored rate the control panel cannot show back to one it can, as the object goes.
  void NormaliseStoredRate();

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
  // setSampleRate while streaming: stop, change the devices' rate, start again.
  ASIOError ChangeRateWhileRunning(ULONG rate);
  // Asks the host to reset the driver; blocking means start fails until the buffers go.
  LONG RequestHostReset(ULONG blocking);

  bool DsdMode() const { return ioFormat_.FormatType == kASIODSDFormat; }
  // The device rate of the ASIO rate, and the preferred buffer size in host samples.
  ULONG DeviceRateOf(ULONG asioRate) const;
  ULONG PreferredBufferSize() const;
  void RecomputeSampleType();
  void RecomputeBytesPerHalf();
  void SetErrorText(const char* text);

  // Buffers (createBuffers, disposeBuffers).
  ASIOError AllocateHostBuffers(ASIOBufferInfo* infos, LONG count);
  void FreeHostBuffers();
  PrepareRequest PrepareFor() const;
  void TakeCallbacks(ASIOCallbacks* callbacks);

  // Streaming: the start and stop procedures, the thread, one host period and the output path.
  ASIOError StartStreaming(bool resetPositions);
  ASIOError StopStreaming();
  static DWORD WINAPI StreamingThread(LPVOID parameter);
  void RunWithInputs();
  // One run of the capture-driven loop, from arming to what ended it.
  RingWait RunCapturePass();
  void RunOutputOnly();
  // After the loop broke off: restarts the devices in place (true) or asks the host to reset.
  bool RestartInPlace(bool interrupted);
  void EndThread();
  bool BufferSwitch(bool idle);
  void CopyCapture(ULONG period);
  void WriteOutput();
  void TakeTimeStamp();
  void FillPeriodBuffers();

  // Suspend and resume (device-watch window).
  void OnSuspend();
  void OnResumeCheck();
  void OnIdleTick();

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
  ULONG asioBufferSize_ = 0;
  ULONG queueDepth_ = 0;
  ULONG bytesPerChannelHalf_ = 0;
  HostChannels hostIn_;
  HostChannels hostOut_;

  ULONG resetPending_ = 0;
  ASIOCallbacks* callbacks_ = nullptr;
  ULONG timeInfoMode_ = 0;
  ULONG timeCodeEnabled_ = 0;
  ASIOTime timeInfo_ = {};
  double samplePosition_ = 0;
  ASIOTimeStamp timeStamp_ = {};

  // Streaming state: the half the next buffer switch hands over, the capture period read next,
  // the playback period being filled and how far.
  ULONG currentHalf_ = 0;
  ULONG captureIndex_ = 0;
  ULONG outputIndex_ = 0;
  ULONG outputFrameOffset_ = 0;
  HANDLE streamThread_ = nullptr;
  DWORD streamThreadId_ = 0;
  HANDLE stopEvent_ = nullptr;
  volatile LONG stopFlag_ = 0;
  volatile LONG stoppedFlag_ = 0;
  volatile LONG hostUsesOutputReady_ = 0;
  volatile LONG outputWritten_ = 0;
  ULONG suspendRetries_ = 0;
  CRITICAL_SECTION startStop_;

  HANDLE watchThread_ = nullptr;
  HANDLE windowReady_ = nullptr;
  HWND window_ = nullptr;
  HANDLE settingsThread_ = nullptr;
  SettingsWatch settingsWatch_ = {};
};
