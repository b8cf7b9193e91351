// What `tarnlink info` reports: how the driver's audio model sees one device, gathered on the
// machine's kernel thread and printed afterwards as text or JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device_probe.h"

namespace tarnlink::tool {

struct EndpointReport {
  uint8_t address = 0;
  std::string sync;   // none, async, adaptive, sync
  std::string usage;  // data, feedback, implicit_feedback
  uint16_t maxPacket = 0;
  uint8_t interval = 0;
};

struct AltSettingReport {
  uint32_t alt = 0;
  uint32_t channels = 0;
  uint32_t subslotBytes = 0;
  uint32_t bitResolution = 0;
  std::vector<std::string> formats;
  std::optional<std::vector<uint32_t>> rates;  // Audio 1.0 only
  bool continuousRates = false;                // rates holds the lower and upper bound
  std::optional<EndpointReport> data;
  std::optional<EndpointReport> feedback;
};

struct StreamingReport {
  uint32_t number = 0;
  bool capture = false;
  uint32_t terminalId = 0;
  std::optional<std::pair<uint32_t, uint32_t>> clockRange;  // Audio 2.0: the terminal clock's
  std::vector<AltSettingReport> alts;
};

struct EntityReport {
  uint32_t id = 0;
  std::string name;
  std::string kind;
  std::optional<uint32_t> terminalType;
  std::vector<uint32_t> sourceIds;
  std::optional<uint32_t> clockId;
};

struct MaxFormatReport {
  uint32_t rate = 0;
  uint32_t tag = 0;
  uint32_t channels = 0;
  uint32_t containerBits = 0;
  // The alternate setting format selection picks, the largest packet the format needs and what
  // that setting's data endpoint carries per service interval; the rate is not usable when the
  // packet does not fit.
  uint32_t alt = 0;
  uint32_t largestPacket = 0;
  uint32_t endpointCapacity = 0;
  bool Fits() const { return largestPacket <= endpointCapacity; }
};

struct DeviceReport {
  bool refused = false;
  NTSTATUS status = 0;
  std::string reason;

  bool uac2 = false;
  bool highSpeed = false;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::optional<std::string> product;  // null when the device has no product string
  uint32_t controlInterface = 0;
  std::vector<std::string> quirks;
  std::optional<uint32_t> playbackInterface;
  std::optional<uint32_t> captureInterface;
  bool sharedClock = false;
  bool implicitFeedback = false;  // playback is paced by the capture stream
  std::vector<EntityReport> entities;
  std::vector<StreamingReport> streams;
  std::vector<MaxFormatReport> maxFormats[2];  // playback, capture
  // How the device was plugged in, where the user did not get what they asked for.
  std::vector<std::string> notes;
};

// Runs on the machine's kernel thread: reads the model and asks the device what the report
// needs (strings, clock ranges, the largest formats).
DeviceReport CollectReport(CUSBAudioCL& model, const ProbeStatus& status);

// "STATUS_NOT_SUPPORTED (0xC00000BB)" and the like.
std::string StatusText(NTSTATUS status);

// The PCM rates the largest formats are reported at.
const std::vector<uint32_t>& ReportedPcmRates();

}  // namespace tarnlink::tool
