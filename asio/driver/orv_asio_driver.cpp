#include "orv_asio_driver.h"

#include <cstring>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "com/live_driver.h"
#include "com/server_identity.h"
#include "devices/single_host_objects.h"
#include "driver_texts.h"
#include "formats/buffer_sizes.h"
#include "formats/sample_rates.h"
#include "formats/sample_types.h"
#include "start_stop_lock.h"

COrvAsioDriver::COrvAsioDriver(IUnknown* outer) : CUnknown("COrvAsioDriver", outer) {
  ioFormat_.FormatType = kASIOPCMFormat;
  InitializeCriticalSection(&startStop_);
}

COrvAsioDriver::~COrvAsioDriver() {
  // A host may let the object go in any state: what runs is stopped and what is prepared is
  // given back before the threads and devices go.
  if ((state_ == RUNNING || state_ == SUSPENDED) && StopStreaming() != ASE_OK) {
    // The devices did not answer the power query (gone, or asleep): the thread must end all
    // the same before its buffers go.
    StartStopLock lock(&startStop_);
    EndThread();
    deviceGroup_.Stop();
    state_ = PREPARED;
  }
  if (state_ == PREPARED) disposeBuffers();
  if (state_ != LOADED) NormaliseStoredRate();
  StopDeviceWatch();
  StopSettingsWatch();
  settings_.CloseHandles();
  if (instanceMutex_ != nullptr) CloseHandle(instanceMutex_);
  if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
  FreeHostBuffers();
  deviceGroup_.CloseAll();
  DeleteCriticalSection(&startStop_);
  ForgetLiveDriver(this);
}

HRESULT COrvAsioDriver::QueryInterface(REFIID riid, PVOID* object) {
  return Owner()->QueryInterface(riid, object);
}

ULONG COrvAsioDriver::AddRef() { return Owner()->AddRef(); }

ULONG COrvAsioDriver::Release() { return Owner()->Release(); }

HRESULT COrvAsioDriver::NonDelegatingQueryInterface(REFIID riid, PVOID* object) {
  if (object != nullptr && IsEqualGUID(riid, kDriverClsid)) {
    *object = static_cast<IASIO*>(this);
    AddRef();
    return S_OK;
  }
  return CUnknown::NonDelegatingQueryInterface(riid, object);
}

void COrvAsioDriver::SetErrorText(const char* text) {
  std::strncpy(errorText_, text, sizeof errorText_ - 1);
  errorText_[sizeof errorText_ - 1] = 0;
}

bool COrvAsioDriver::OpenInstanceMutex() {
  instanceMutex_ = CreateInstanceMutex();
  if (instanceMutex_ != nullptr) return true;
  AsioTrace(kTraceAsioCallFailed, GetLastError());
  SetErrorText(kTextNoResources);
  return false;
}

bool COrvAsioDriver::CreateSettingsEvents() {
  if (settings_.CreateEvents()) return true;
  SetErrorText(kTextNoResources);
  return false;
}

LONG COrvAsioDriver::RequestHostReset(ULONG blocking) {
  InstanceLock lock(instanceMutex_);
  if (callbacks_ == nullptr || callbacks_->asioMessage == nullptr) return 0;
  resetPending_ = blocking;
  AsioTrace(kTraceHostResetRequested, blocking);
  return callbacks_->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
}

ULONG COrvAsioDriver::DeviceRateOf(ULONG asioRate) const {
  return DsdMode() ? asioRate / kDsdWordBits : asioRate;
}

ULONG COrvAsioDriver::PreferredBufferSize() const {
  const ULONG frames = BufferSizeFrames(bufferSizeIndex_, DeviceRateOf(asioRate_));
  return IsDsdSampleType(sampleType_) ? frames * kDsdWordBits : frames;
}

void COrvAsioDriver::RecomputeSampleType() {
  sampleType_ = ChooseSampleType(ioFormat_.FormatType, deviceBits_, allFloat_ != 0);
}

void COrvAsioDriver::RecomputeBytesPerHalf() { bytesPerChannelHalf_ = periodFrames_ * bytesPerSample_; }
