// Choosing and opening the device, keeping its handles usable, and following the settings the
// control panel changes.
#include <algorithm>
#include <cstring>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "devices/discovery.h"
#include "devices/single_host_objects.h"
#include "driver_texts.h"
#include "formats/sample_rates.h"
#include "formats/sample_types.h"
#include "orv_asio_driver.h"
#include "wide_text.h"

namespace {

constexpr DWORD kPowerPollMs = 100;

}  // namespace

void COrvAsioDriver::SelectAndOpen() {
  InstanceLock lock(instanceMutex_);
  SharedSettings stored;
  settings_.ReadAll(&stored);
  deviceGroup_.CloseAll();
  DiscoverDevices(&deviceList_);
  if (deviceList_.empty()) {
    bufferSizeIndex_ = 63;
    inputs_ = outputs_ = 0;
    lowestRate_ = highestRate_ = 0;
    selectedDevice_[0] = 0;
    deviceBits_ = 32;
    allFloat_ = 0;
  } else {
    bufferSizeIndex_ = stored.bufferSizeIndex;
    asioRate_ = pendingRate_ = stored.samplingRate;
    const auto found = std::find_if(deviceList_.begin(), deviceList_.end(), [&](const auto& e) {
      return SameTextIgnoringCase(e->instanceId, stored.selected);
    });
    if (found != deviceList_.end()) {
      CopyText(selectedDevice_, (*found)->instanceId, kSelectedCodeUnits);
    } else {
      // The device chosen before is gone (or none was): the first one takes its place.
      CopyText(selectedDevice_, deviceList_.front()->instanceId, kSelectedCodeUnits);
      settings_.WriteSelected(selectedDevice_);
    }
    OpenSelected();
  }
  bytesPerSample_ = deviceBits_ / 8;
  RecomputeSampleType();
}

bool COrvAsioDriver::OpenSelected() {
  deviceGroup_.CloseAll();
  const auto entry = std::find_if(deviceList_.begin(), deviceList_.end(), [&](const auto& e) {
    return SameTextIgnoringCase(e->instanceId, selectedDevice_);
  });
  bool opened = entry != deviceList_.end() &&
                deviceGroup_.Open((*entry)->privatePath, (*entry)->instanceId,
                                  (*entry)->description);
  const DeviceAggregates all = deviceGroup_.Aggregates();
  const ULONG lowest = all.range.lowestRate;
  const ULONG highest = all.range.highestRate;
  opened = opened && lowest != 0 && highest != 0;
  // In DSD mode the device runs at the bit rate / 32, and only with a DSD sample type.
  const ULONG divisor = DsdMode() ? kDsdWordBits : 1;
  opened = opened && (!DsdMode() || IsDsdSampleType(sampleType_));
  const ULONG wanted = asioRate_ / divisor;
  const ULONG rate = wanted < lowest ? lowest : std::min(highest, wanted);
  opened = opened && deviceGroup_.SetRate(rate);
  if (!opened) {
    AsioTrace(kTraceSelectionFailed, lowest, highest);
    deviceGroup_.CloseAll();
    inputs_ = outputs_ = 0;
    return false;
  }
  asioRate_ = divisor * rate;
  const DeviceAggregates now = deviceGroup_.Aggregates();
  inputs_ = now.inputs;
  outputs_ = now.outputs;
  deviceBits_ = now.bits;
  allFloat_ = now.allFloat ? 1 : 0;
  dsdCapable_ = now.allDsdNative ? 1 : 0;
  lowestRate_ = now.range.lowestRate;
  highestRate_ = now.range.highestRate;
  return true;
}

bool COrvAsioDriver::CheckHandles() {
  if (deviceGroup_.Check()) return true;
  // Without buffers nothing of the host depends on the old handles: open again in place.
  if (state_ == INITIALIZED) return OpenSelected();
  RequestHostReset(1);
  return false;
}

bool COrvAsioDriver::WaitForPower(DWORD timeout) {
  for (DWORD waited = 0;; waited += kPowerPollMs) {
    bool on = false;
    if (!deviceGroup_.Power(&on)) return false;
    if (on) return true;
    if (waited >= timeout) {
      AsioTrace(kTracePowerWaitFailed, waited);
      return false;
    }
    Sleep(kPowerPollMs);
  }
}

void COrvAsioDriver::OnSettingsChanged() {
  InstanceLock lock(instanceMutex_);
  SharedSettings stored;
  settings_.ReadAll(&stored);
  const bool indexChanged = stored.bufferSizeIndex != bufferSizeIndex_;
  const bool rateChanged = stored.samplingRate != asioRate_;
  const bool deviceChanged = !SameText(stored.selected, selectedDevice_);
  if (!indexChanged && !rateChanged && !deviceChanged) return;
  if (callbacks_ == nullptr) {
    SelectAndOpen();
    return;
  }
  // The host holds buffers of the old geometry: it must reset to take the change over, and
  // must not start again before it has when the rate changed.
  if (indexChanged) bufferSizeIndex_ = stored.bufferSizeIndex;
  if (rateChanged) pendingRate_ = stored.samplingRate;
  RequestHostReset(rateChanged ? 1 : 0);
}

bool COrvAsioDriver::StartSettingsWatch() {
  settingsWatch_ = {&settings_, this};
  settingsThread_ = CreateThread(nullptr, 0, SettingsWatchThread, &settingsWatch_, 0, nullptr);
  if (settingsThread_ != nullptr) return true;
  AsioTrace(kTraceAsioCallFailed, GetLastError());
  return false;
}

void COrvAsioDriver::StopSettingsWatch() {
  if (settingsThread_ == nullptr) return;
  if (settings_.QuitEvent() != nullptr) {
    SetEvent(settings_.QuitEvent());
    WaitForSingleObject(settingsThread_, INFINITE);
  } else {
    TerminateThread(settingsThread_, 0);
  }
  CloseHandle(settingsThread_);
  settingsThread_ = nullptr;
}
