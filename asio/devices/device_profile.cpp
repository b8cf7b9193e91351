#include "device_profile.h"

#include <iterator>

#include "wide_text.h"

namespace {

constexpr LatencyPoint kTarnLatencies[] = {
    {44100, 22, 64, 346, 2048, 4972},         {48000, 24, 64, 366, 2048, 5036},
    {88200, 44, 128, 642, 4096, 9897},        {96000, 48, 128, 686, 4096, 10032},
    {176400, 88, 256, 1234, 8192, 19747},     {192000, 96, 256, 1510, 8192, 20024},
    {352800, 176, 1024, 2418, 16384, 39447},  {384000, 192, 1024, 2974, 16384, 40008},
    {705600, 352, 2048, 4804, 32768, 78874},  {768000, 384, 2048, 5926, 32768, 80002},
};

constexpr DeviceProfile kProfiles[] = {
    {WSTR("USB\\VID_7A31&PID_0C5E&MI_00"),
     {"Velmor USB Audio Tarn In 1", "Velmor USB Audio Tarn In 2"},
     {"Velmor USB Audio Tarn Out 1", "Velmor USB Audio Tarn Out 2"},
     kTarnLatencies,
     std::size(kTarnLatencies)},
};

}  // namespace

const LatencyPoint* DeviceProfile::LatencyAt(ULONG rate) const {
  for (size_t i = 0; i < latencyCount; ++i) {
    if (latencies[i].rate == rate) return &latencies[i];
  }
  return nullptr;
}

const DeviceProfile* FindDeviceProfile(const WCHAR* instanceId) {
  for (const DeviceProfile& profile : kProfiles) {
    if (FindText(instanceId, profile.hardwareId) != nullptr) return &profile;
  }
  return nullptr;
}
