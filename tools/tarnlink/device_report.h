// What `tarnlink info` reports: how the driver's audio model sees one device and what the adapter
// decided when it started, gathered on the machine's kernel thread and printed afterwards as text
// or JSON.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "adapter_start.h"

namespace tarnlink::tool {

struct EndpointReport {
  uint8_t address = 0;
  std::string sync;   // none, async, adaptive, sync
  std::string usage;  // data, feedback, implicit_feedback
  uint16_t maxPacket = 0;
  uint8_t interval = 0;
  uint32_t intervalUs = 0;    // between two packets
  uint32_t transactions = 1;  // per microframe (wMaxPacketSize bits 11..12, plus one)
  uint32_t capacity = 0;      // bytes per packet: transactions x packet size
  // Feedback endpoints: "10.14" (3 bytes) or "16.16" (4 bytes) as the driver decodes them, and
  // how often the device refreshes the value.
  std::optional<std::string> feedbackFormat;
  std::optional<uint32_t> feedbackPeriodUs;
};

// An endpoint the descriptors have and the driver does not use, and why.
struct IgnoredEndpointReport {
  uint8_t address = 0;
  std::string usage;
  std::string reason;
};

// A subrange of a clock's RANGE answer that is a span rather than a list of rates.
struct RateSpan {
  uint32_t minimum = 0;
  uint32_t maximum = 0;
  uint32_t resolution = 0;  // 0: any rate in between
};

// The rates a clock source offers: its RANGE answer, discrete rates listed one by one.
struct ClockRates {
  std::vector<uint32_t> rates;
  std::vector<RateSpan> spans;
};

struct AltSettingReport {
  uint32_t alt = 0;
  uint32_t channels = 0;
  uint32_t subslotBytes = 0;
  uint32_t bitResolution = 0;
  std::vector<std::string> formats;
  // Audio 1.0: the setting's rates. Audio 2.0: the rates of the interface's clock.
  std::optional<std::vector<uint32_t>> rates;
  bool continuousRates = false;  // Audio 1.0: rates holds the lower and upper bound
  std::vector<RateSpan> rateSpans;  // Audio 2.0: continuous spans of the clock
  std::vector<std::string> channelConfig;  // Audio 2.0: the setting's spatial positions
  std::optional<EndpointReport> data;
  std::optional<EndpointReport> feedback;
  std::vector<IgnoredEndpointReport> ignoredEndpoints;
  // Why format selection never picks this setting; unset when it may.
  std::optional<std::string> skipped;
};

struct StreamingReport {
  uint32_t number = 0;
  bool capture = false;
  uint32_t terminalId = 0;
  std::optional<std::pair<uint32_t, uint32_t>> clockRange;  // Audio 2.0: the terminal clock's
  std::vector<AltSettingReport> alts;
  // Whether the driver streams through this interface, and why not.
  bool used = false;
  std::optional<std::string> unusedReason;
};

struct VolumeRangeDb {
  double minimum = 0;
  double maximum = 0;
  double resolution = 0;
};

struct FeatureChannelReport {
  uint32_t channel = 0;  // 0 master
  std::vector<std::string> controls;
  std::optional<VolumeRangeDb> volume;
};

struct EntityReport {
  uint32_t id = 0;
  std::string name;
  std::string kind;
  std::optional<uint32_t> terminalType;
  std::optional<std::string> terminalTypeName;
  std::vector<uint32_t> sourceIds;
  std::optional<uint32_t> clockId;
  // Input terminals: the channel count and spatial positions of the cluster they start.
  std::optional<uint32_t> channels;
  std::vector<std::string> channelConfig;
  // Clock sources.
  std::optional<std::string> clockKind;
  std::optional<ClockRates> clockRates;
  // Feature units.
  std::vector<FeatureChannelReport> featureChannels;
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

// An interface of the configuration the driver does not stream through or control.
struct IgnoredInterfaceReport {
  uint32_t number = 0;
  std::string kind;  // its class, by name
  uint32_t subclass = 0;
  std::string reason;
};

// What the adapter decided at the start, from the device, its hardware key and the controller.
struct AdapterReport {
  uint32_t fixedRate = 0;  // 0: free-rate mode
  bool nativeDsd = false;
  bool nativeDsdFromRegistry = false;  // otherwise the device was probed
  bool playbackOnly = false;
  bool amdWorkaround = false;
  uint32_t playbackTransferMs = 0;
  uint32_t captureTransferMs = 0;
  uint32_t playbackTransfersInFlight = 0;
  // The name the wave subdevice registers under; unset for a fixed rate the table has no name
  // for (the device then starts without one).
  std::optional<std::string> referenceString;
};

// A data range of a pin as the filter lists it: an audio range, or the analogue range of a
// bridge pin (kind "analog", no numbers).
struct DataRangeReport {
  std::string kind;       // "audio" or "analog" (or "other")
  std::string subFormat;  // PCM, IEEE_FLOAT, ALAW, MULAW, any
  uint32_t channels = 0;
  uint32_t minBits = 0;
  uint32_t maxBits = 0;
  uint32_t minRate = 0;
  uint32_t maxRate = 0;
  bool attributes = false;  // an attribute list follows the range
};

struct FilterPinReport {
  uint32_t id = 0;
  std::string dataFlow;       // in, out
  std::string communication;  // sink, bridge, ...
  std::string category;       // AUDIO, or the terminal type's name; unset without a category
  std::vector<DataRangeReport> ranges;
};

// A connection's end: a pin of the filter (no node) or a node's pin.
struct FilterEnd {
  std::optional<uint32_t> node;
  uint32_t pin = 0;
};

// The wave filter as the operating system sees it through kernel-streaming requests.
struct FilterReport {
  std::vector<FilterPinReport> pins;
  std::vector<std::string> nodes;  // type names, by node id
  std::vector<std::pair<FilterEnd, FilterEnd>> connections;
};

struct DeviceReport {
  bool refused = false;
  NTSTATUS status = 0;
  std::string reason;

  bool uac2 = false;
  bool highSpeed = false;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  // Null when the device has no such string.
  std::optional<std::string> manufacturer;
  std::optional<std::string> product;
  std::optional<std::string> serialNumber;
  uint32_t controlInterface = 0;
  std::vector<std::string> quirks;
  std::optional<uint32_t> playbackInterface;
  std::optional<uint32_t> captureInterface;
  bool sharedClock = false;
  bool implicitFeedback = false;  // playback is paced by the capture stream
  std::vector<EntityReport> entities;
  std::vector<StreamingReport> streams;
  std::vector<IgnoredInterfaceReport> ignoredInterfaces;
  std::vector<MaxFormatReport> maxFormats[2];  // playback, capture
  AdapterReport adapter;
  // Unset when the device started without a subdevice.
  std::optional<FilterReport> filter;
  // How the device was plugged in, where the user did not get what they asked for.
  std::vector<std::string> notes;
};

// Runs on the machine's kernel thread: reads the started adapter and its model and asks the
// device what the report needs (strings, clock ranges, volume ranges, the largest formats). A
// null adapter gives the refusal with its reason.
DeviceReport CollectReport(UsbAudioAdapter* adapter, const StartOutcome& outcome);

// The parts of the report, each from its own file.
AdapterReport DescribeAdapter(UsbAudioAdapter& adapter);
// Opens the registered wave filter as the audio engine does and reads its pins, ranges, nodes and
// connections; unset when no filter is registered.
std::optional<FilterReport> DescribeFilter();
// A pin's category by name: AUDIO, or for a bridge pin the name of its USB terminal type.
std::string CategoryName(const GUID& category);
// Why the start failed, from the driver's trace points.
std::string RefusalReason(const StartOutcome& outcome);
EntityReport DescribeEntity(CUSBAudioCL& model, CUSBAudioEntity& entity);
StreamingReport DescribeStream(CUSBAudioCL& model, USBAudioStreamInterface& stream);
// The clock sources a terminal's clock can run from: itself, or every input of a selector.
std::vector<CUSBAudioEntity*> ClockSourcesOf(CUSBAudioCL& model, CUSBAudioEntity* clock);
// The clock source's RANGE answer; unset when the device does not give one.
std::optional<ClockRates> ReadClockRates(CUSBAudioCL& model, CUSBAudioEntity& source);

// "STATUS_NOT_SUPPORTED (0xC00000BB)" and the like.
std::string StatusText(NTSTATUS status);

// The PCM rates the largest formats are reported at.
const std::vector<uint32_t>& ReportedPcmRates();

}  // namespace tarnlink::tool
