// init, with the clean-up of a failed one, and what the object does to the stored rate as it
// goes.
#include <algorithm>
#include <iterator>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "devices/single_host_objects.h"
#include "driver_texts.h"
#include "formats/sample_rates.h"
#include "formats/sample_types.h"
#include "orv_asio_driver.h"

namespace {

// The rates the control panel has names for; a stored DSD rate stands for its device rate.
constexpr ULONG kNamedPcmRates[] = {32000,  44100,  48000,  88200,  96000, 176400,
                                    192000, 352800, 384000, 705600, 768000};
constexpr ULONG kNamedDsdRates[] = {2822400,  3072000,  5644800, 6144000,
                                    11289600, 12288000, 22579200};
constexpr ULONG kFallbackRate = 44100;

template <size_t N>
bool OneOf(const ULONG (&rates)[N], ULONG rate) {
  return std::find(std::begin(rates), std::end(rates), rate) != std::end(rates);
}

}  // namespace

ASIOBool COrvAsioDriver::init(void*) {
  if (state_ != LOADED) {
    // The object already runs for its host; a second init changes nothing of it.
    SetErrorText(kTextInitializedBefore);
    return ASIOFalse;
  }
  if (!OpenInstanceMutex()) return ASIOFalse;
  if (!StartDeviceWatch() || !CreateSettingsEvents()) {
    CleanUpInit();
    return ASIOFalse;
  }
  SelectAndOpen();
  const char* refusal = nullptr;
  if (deviceList_.empty()) {
    refusal = kTextNoDevice;
  } else if (inputs_ == 0 && outputs_ == 0) {
    refusal = kTextNoChannel;
  } else if (sampleType_ == kUnsupportedSampleType) {
    refusal = kTextUnsupportedBits;
  }
  if (refusal != nullptr) {
    AsioTrace(kTraceInitRefused, inputs_, outputs_, deviceBits_);
    SetErrorText(refusal);
    CleanUpInit();
    return ASIOFalse;
  }
  if (!StartSettingsWatch() ||
      (stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr)) == nullptr) {
    AsioTrace(kTraceAsioCallFailed, GetLastError());
    SetErrorText(kTextNoResources);
    CleanUpInit();
    return ASIOFalse;
  }
  state_ = INITIALIZED;
  ioFormat_.FormatType = kASIOPCMFormat;
  dsdCapable_ = deviceGroup_.Aggregates().allDsdNative ? 1 : 0;
  return ASIOTrue;
}

void COrvAsioDriver::CleanUpInit() {
  StopDeviceWatch();
  if (stopEvent_ != nullptr) CloseHandle(stopEvent_);
  stopEvent_ = nullptr;
  StopSettingsWatch();
  settings_.CloseHandles();
  if (instanceMutex_ != nullptr) CloseHandle(instanceMutex_);
  instanceMutex_ = nullptr;
  // A refused init does not keep the devices acquired from other hosts.
  deviceGroup_.CloseAll();
  inputs_ = outputs_ = 0;
}

void COrvAsioDriver::NormaliseStoredRate() {
  InstanceLock lock(instanceMutex_);
  const ULONG stored = settings_.ReadNumber(kSettingSamplingRate);
  ULONG rate = stored;
  if (OneOf(kNamedDsdRates, stored)) {
    rate = stored / kDsdWordBits;
  } else if (!OneOf(kNamedPcmRates, stored)) {
    rate = kFallbackRate;
  }
  if (rate == stored) return;
  settings_.WriteNumber(kSettingSamplingRate, rate);
  asioRate_ = pendingRate_ = rate;
}
