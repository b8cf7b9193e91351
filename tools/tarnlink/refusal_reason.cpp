// Why the driver refused a device: the failure trace points of the start, each with what it
// means for the device. The adapter names the step of its initialisation that failed; the USB
// function and the audio model name what they could not read or model.
#include <cstdio>

#include "adapter_trace_points.h"
#include "audio_trace_points.h"
#include "device_report.h"
#include "usb_trace_points.h"

namespace tarnlink::tool {
namespace {

struct RefusalPoint {
  uint32_t id;
  const char* reason;
};

constexpr const char* kFunctionDidNotStart =
    "the USB function did not start: a descriptor could not be read, or its length did not match "
    "what the device announced";
constexpr const char* kNoValidHeader = "the audio control interface has no valid HEADER";
constexpr const char* kNotModelled =
    "an entity or a streaming interface could not be modelled: a descriptor is missing or "
    "malformed, or a reference names no entity";

constexpr RefusalPoint kModelRefusalPoints[] = {
    {kTraceUsbdHandleFailed, kFunctionDidNotStart},
    {kTraceBusInterfaceFailed, kFunctionDidNotStart},
    {kTraceDescriptorReadFailed, kFunctionDidNotStart},
    {kTraceDescriptorLengthMismatch, kFunctionDidNotStart},
    {kTraceStartFunctionFailed, kFunctionDidNotStart},
    {kTraceAudioControlMissing, "the configuration has no audio control interface"},
    {kTraceAudioHeaderInvalid, kNoValidHeader},
    {kTraceEntityLinkFailed, kNotModelled},
    {kTraceStreamingInterfaceFailed, kNotModelled},
    {kTraceTerminalLinkMissing, kNotModelled},
};

const kernel::TraceEntry* LastOf(const std::vector<kernel::TraceEntry>& trace, uint32_t id) {
  for (auto entry = trace.rbegin(); entry != trace.rend(); ++entry) {
    if (entry->id == id) return &*entry;
  }
  return nullptr;
}

// The audio model could not be built: the reason of the last failure point it recorded.
std::string ModelRefusal(const std::vector<kernel::TraceEntry>& trace, NTSTATUS status) {
  if (status == STATUS_NOT_IMPLEMENTED) {
    return "the last audio control entity is a processing unit, which the driver does not model";
  }
  for (auto entry = trace.rbegin(); entry != trace.rend(); ++entry) {
    for (const RefusalPoint& point : kModelRefusalPoints) {
      if (point.id == entry->id) return point.reason;
    }
  }
  return kNotModelled;
}

// The configuration failed. A request the device stalled is the device's refusal; one that
// failed without reaching the device was refused by the host's USB stack, which checks the
// interface list against the configuration before it sends SET_CONFIGURATION.
std::string ConfigurationRefusal(const std::vector<kernel::TraceEntry>& trace) {
  const kernel::TraceEntry* urb = LastOf(trace, kTraceUrbFailed);
  if (urb == nullptr || (urb->arguments[0] != URB_FUNCTION_SELECT_CONFIGURATION &&
                         urb->arguments[0] != URB_FUNCTION_SELECT_INTERFACE)) {
    return "the configuration request could not be built or its pipes found (out of memory, or "
           "an endpoint the USB stack did not open)";
  }
  const bool configuration = urb->arguments[0] == URB_FUNCTION_SELECT_CONFIGURATION;
  const char* what = configuration ? "the configuration" : "alternate setting 0 of a streaming "
                                                           "interface";
  const auto usbd = static_cast<USBD_STATUS>(urb->arguments[2]);
  if (usbd == USBD_STATUS_STALL_PID) {
    return std::string("the device refused ") + what + ": it stalled " +
           (configuration ? "SET_CONFIGURATION" : "SET_INTERFACE");
  }
  if (usbd == USBD_STATUS_DEVICE_GONE) return std::string("the device left the bus during ") + what;
  char text[160];
  std::snprintf(text, sizeof(text),
                "the host's USB stack refused %s before asking the device (USBD status 0x%08X)",
                what, static_cast<unsigned>(usbd));
  return text;
}

}  // namespace

std::string RefusalReason(const StartOutcome& outcome) {
  const kernel::TraceEntry* step = LastOf(outcome.trace, kTraceInitStepFailed);
  if (step == nullptr) {
    return LastOf(outcome.trace, kTraceAdapterAllocFailed) != nullptr
               ? "the adapter could not be created (out of memory)"
               : "the start failed after the adapter's initialisation (power management "
                 "registration)";
  }
  const auto status = static_cast<NTSTATUS>(step->arguments[1]);
  switch (step->arguments[0]) {
    case 2:
      return "the device's hardware key could not be opened";
    case 3:
      return ModelRefusal(outcome.trace, status);
    case 4:
      return ConfigurationRefusal(outcome.trace);
    case 5:
      return "the device's product string could not be read";
    case 6:
      return "the request that asks the device for native DSD could not be sent";
    case 9:
      return "no fixed rate could be chosen: SampleRate could not be read, or the device could "
             "not be asked whether it runs the rate";
    default:
      return "the stream engine could not be set up";
  }
}

}  // namespace tarnlink::tool
