#include "device_group.h"

#include <algorithm>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "device_latency.h"

class DeviceGroup::Lock {
 public:
  explicit Lock(DeviceGroup& group) : section_(&group.lock_) { EnterCriticalSection(section_); }
  ~Lock() { LeaveCriticalSection(section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION* section_;
};

namespace {

constexpr size_t kUsualDevices = 5;

}  // namespace

DeviceGroup::DeviceGroup() {
  InitializeCriticalSection(&lock_);
  devices_.reserve(kUsualDevices);
}

DeviceGroup::~DeviceGroup() {
  CloseAll();
  DeleteCriticalSection(&lock_);
}

bool DeviceGroup::Open(const WCHAR* path, const WCHAR* instanceId, const WCHAR* description) {
  Lock lock(*this);
  auto device = std::make_unique<DeviceStream>();
  if (!device->Open(path, instanceId, description)) return false;
  if (!device->Request(IOCTL_ASIO_ACQUIRE, nullptr, 0, nullptr, 0)) {
    AsioTrace(kTraceDeviceOpenFailed, 2);
    return false;
  }
  if (!device->LoadInfo()) return false;
  devices_.push_back(std::move(device));
  return true;
}

void DeviceGroup::CloseAll() {
  Lock lock(*this);
  devices_.clear();
}

bool DeviceGroup::SetRate(ULONG rate) {
  Lock lock(*this);
  for (auto& device : devices_) {
    if (!device->SetRate(rate)) return false;
  }
  return true;
}

bool DeviceGroup::Prepare(const PrepareRequest& request, const PeriodGeometry& geometry) {
  Lock lock(*this);
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i]->Prepare(request, geometry)) continue;
    while (i-- > 0) {
      devices_[i]->Request(IOCTL_ASIO_UNPREPARE, nullptr, 0, nullptr, 0);
      devices_[i]->ForgetRings();
    }
    return false;
  }
  return true;
}

void DeviceGroup::Unprepare() {
  Lock lock(*this);
  for (auto& device : devices_) {
    device->Request(IOCTL_ASIO_UNPREPARE, nullptr, 0, nullptr, 0);
    device->ForgetRings();
  }
}

bool DeviceGroup::Start() {
  Lock lock(*this);
  for (size_t i = 0; i < devices_.size(); ++i) {
    if (devices_[i]->Request(IOCTL_ASIO_START, nullptr, 0, nullptr, 0)) continue;
    while (i-- > 0) devices_[i]->Request(IOCTL_ASIO_STOP, nullptr, 0, nullptr, 0);
    return false;
  }
  return true;
}

void DeviceGroup::Stop() {
  Lock lock(*this);
  for (auto& device : devices_) device->Request(IOCTL_ASIO_STOP, nullptr, 0, nullptr, 0);
}

bool DeviceGroup::Arm() {
  Lock lock(*this);
  for (auto& device : devices_) {
    if (!device->Request(IOCTL_ASIO_ARM, nullptr, 0, nullptr, 0)) return false;
  }
  return true;
}

bool DeviceGroup::Interrupted() {
  Lock lock(*this);
  bool interrupted = false;
  for (auto& device : devices_) {
    ULONG value = 0;
    if (!device->RequestFixed(IOCTL_ASIO_GET_INTERRUPTED, &value, sizeof value)) return false;
    interrupted = interrupted || value != 0;
  }
  return interrupted;
}

bool DeviceGroup::SyncStartTimes() {
  Lock lock(*this);
  ULONGLONG latest = 0;
  for (auto& device : devices_) {
    ULONGLONG time = 0;
    if (!device->RequestFixed(IOCTL_ASIO_GET_START_TIME, &time, sizeof time)) return false;
    latest = std::max(latest, time);
  }
  for (auto& device : devices_) {
    if (!device->Request(IOCTL_ASIO_SET_START_TIME, &latest, sizeof latest, nullptr, 0))
      return false;
  }
  return true;
}

bool DeviceGroup::Check() {
  Lock lock(*this);
  for (auto& device : devices_) {
    if (!device->Request(IOCTL_ASIO_NOP, nullptr, 0, nullptr, 0)) return false;
  }
  return true;
}

void DeviceGroup::Cancel() {
  Lock lock(*this);
  for (auto& device : devices_) CancelIo(device->Handle());
}

bool DeviceGroup::Power(bool* on) {
  Lock lock(*this);
  *on = true;
  for (auto& device : devices_) {
    BOOL deviceOn = FALSE;
    if (!GetDevicePowerState(device->Handle(), &deviceOn)) {
      AsioTrace(kTracePowerWaitFailed, GetLastError());
      return false;
    }
    if (!deviceOn) {
      *on = false;
      return true;
    }
  }
  return true;
}

DeviceAggregates DeviceGroup::Aggregates() {
  Lock lock(*this);
  // No device can take float or DSD.
  DeviceAggregates all = {0, 0, 32, !devices_.empty(), !devices_.empty(), {0, 0}};
  bool first = true;
  for (auto& device : devices_) {
    all.inputs += device->InputChannels();
    all.outputs += device->OutputChannels();
    all.bits = first ? device->BitsPerSample() : std::min(all.bits, device->BitsPerSample());
    all.allFloat = all.allFloat && device->Float();
    all.allDsdNative = all.allDsdNative && device->DsdNative();
    // The range is a packed wire record: its fields are compared as copies.
    const RateRange range = device->Range();
    const ULONG lowest = range.lowestRate;
    const ULONG highest = range.highestRate;
    const ULONG sharedLowest = all.range.lowestRate;
    const ULONG sharedHighest = all.range.highestRate;
    all.range.lowestRate = first ? lowest : std::max(sharedLowest, lowest);
    all.range.highestRate = first ? highest : std::min(sharedHighest, highest);
    first = false;
  }
  if (all.range.highestRate < all.range.lowestRate) all.range = {0, 0};
  return all;
}

bool DeviceGroup::Latencies(ULONG bufferFrames, ULONG* input, ULONG* output) {
  Lock lock(*this);
  *input = *output = 0;
  for (auto& device : devices_) {
    ULONG in = 0;
    ULONG out = 0;
    if (!DeviceLatency({device->Profile(), device->DeviceRate(), device->InputChannels(),
                        device->OutputChannels(), device->CapturePeriodMs(), bufferFrames},
                       &in, &out)) {
      AsioTrace(kTraceNoLatency, device->DeviceRate());
      return false;
    }
    *input = std::max(*input, in);
    *output = std::max(*output, out);
  }
  return true;
}

bool DeviceGroup::MapChannel(bool input, ULONG n, ChannelLocation* location) {
  Lock lock(*this);
  for (size_t i = 0; i < devices_.size(); ++i) {
    const ULONG channels = input ? devices_[i]->InputChannels() : devices_[i]->OutputChannels();
    if (n < channels) {
      *location = {i, n};
      return true;
    }
    n -= channels;
  }
  return false;
}

size_t DeviceGroup::Count() {
  Lock lock(*this);
  return devices_.size();
}

DeviceStream* DeviceGroup::At(size_t index) {
  Lock lock(*this);
  return index < devices_.size() ? devices_[index].get() : nullptr;
}
