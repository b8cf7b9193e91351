// Devices that answer the private \asio channel from a script: each has its own device node,
// service, audio interfaces and answers, so discovery, selection and opening can meet what a
// faulty or foreign driver could report. One function driver serves them all.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "asio_protocol.h"
#include "kernel/device_object.h"
#include "kernel/driver_object_host.h"
#include "kernel/file_object.h"

namespace asio_test {

inline constexpr char16_t kWaveReference[] = u"{DEAB6FBE-9E20-4E51-AB91-60063C698DCD}";

struct FakeDevice {
  std::u16string instanceId = u"USB\\VID_1234&PID_0001\\1";
  std::u16string service = u"Velmor_USBDAC_AUDIO";
  std::u16string description = u"Velmor USB DAC";
  std::vector<std::u16string> references = {kWaveReference};
  std::u16string product = u"Velmor DAC";
  RateRange range = {44100, 768000};
  ULONG fixedRate = 0;
  ULONG dsdNative = 1;
  ULONG busSpeed = 2;
  ULONG capturePeriodMs = 1;
  // Fills the driver fields of one format-query record; by default two channels of 32 bits
  // each way for float and PCM at every rate within the range.
  std::function<void(FormatQueryRecord&)> formats;
  std::set<ULONG> failing;  // request codes refused with STATUS_UNSUCCESSFUL
  std::set<ULONG> pending;  // request codes left pending until cancelled
  ULONG claimedLength = 0;   // nonzero: the product string length the device claims

  // What the device saw.
  std::vector<ULONG> requests;
  ULONG rate = 0;
  PFILE_OBJECT owner = nullptr;  // the handle that acquired it
  bool removed = false;
  ULONG cancelled = 0;
  PDEVICE_OBJECT pdo = nullptr;
  PDEVICE_OBJECT fdo = nullptr;
};

class FakeChannel {
 public:
  // Builds the devices' stacks and interfaces. Call on a kernel thread; devices must not move
  // afterwards.
  void Build(std::vector<FakeDevice>* devices);
  // Removes one device from the machine (as an unplug would); its open handles stay.
  void Remove(FakeDevice& device);
  void TearDown();

 private:
  PDRIVER_OBJECT bus_ = nullptr;
  PDRIVER_OBJECT function_ = nullptr;
  std::vector<FakeDevice>* devices_ = nullptr;
};

}  // namespace asio_test
