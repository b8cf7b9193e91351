#include "orv_asio_driver.h"

#include <cstring>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "devices/single_host_objects.h"
#include "driver_texts.h"
#include "formats/buffer_sizes.h"
#include "formats/sample_rates.h"
#include "formats/sample_types.h"

COrvAsioDriver::COrvAsioDriver() { ioFormat_.FormatType = kASIOPCMFormat; }

COrvAsioDriver::~COrvAsioDriver() {
  StopSettingsWatch();
  StopDeviceWatch();
  deviceGroup_.CloseAll();
  settings_.CloseHandles();
  if (instanceMutex_ != nullptr) CloseHandle(instanceMutex_);
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
  if (callbacks_ == nullptr) return 0;
  resetPending_ = blocking;
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
