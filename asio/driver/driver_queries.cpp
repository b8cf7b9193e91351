// The calls that tell the host about the driver and its channels.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "com/server_identity.h"
#include "devices/single_host_objects.h"
#include "formats/buffer_sizes.h"
#include "orv_asio_driver.h"
#include "settings/control_panel_launch.h"

namespace {

constexpr size_t kNameBytes = 32;
constexpr size_t kErrorBytes = 124;
constexpr size_t kShortenedNameUnits = 21;
constexpr double kTwoTo32 = 4294967296.0;

// "<driver name> In|Out <nn>", the driver name without leading digits, dashes and blanks and
// cut short when the whole would not fit.
void BuiltChannelName(bool input, ULONG number, char (&name)[kNameBytes]) {
  const char* text = kDriverNameText;
  while ((*text >= '0' && *text <= '9') || *text == '-' || *text == ' ') ++text;
  std::string built = text;
  if (built.size() + 7 >= kNameBytes) built = built.substr(0, kShortenedNameUnits) + "...";
  const std::string count = std::to_string(number + 1);
  built += input ? " In " : " Out ";
  built += (count.size() < 2 ? "0" : "") + count;
  const size_t length = std::min(built.size(), kNameBytes - 1);
  std::memcpy(name, built.data(), length);
  name[length] = 0;
}

}  // namespace

void COrvAsioDriver::getDriverName(char* name) {
  if (name != nullptr) std::snprintf(name, kNameBytes, "%s", kDriverNameText);
}

LONG COrvAsioDriver::getDriverVersion() { return 1; }

void COrvAsioDriver::getErrorMessage(char* string) {
  if (string == nullptr) return;
  // The host's field holds 124 bytes; longer texts are cut there.
  const size_t length = std::min(std::strlen(errorText_), kErrorBytes - 1);
  std::memcpy(string, errorText_, length);
  string[length] = 0;
}

ASIOError COrvAsioDriver::getChannels(LONG* numInputChannels, LONG* numOutputChannels) {
  if (state_ == LOADED) return ASE_NotPresent;
  if (numInputChannels == nullptr || numOutputChannels == nullptr) return ASE_InvalidParameter;
  InstanceLock lock(instanceMutex_);
  *numInputChannels = static_cast<LONG>(inputs_);
  *numOutputChannels = static_cast<LONG>(outputs_);
  return inputs_ > 0 || outputs_ > 0 ? ASE_OK : ASE_NotPresent;
}

ASIOError COrvAsioDriver::getLatencies(LONG* inputLatency, LONG* outputLatency) {
  if (state_ == LOADED) return ASE_NotPresent;
  if (inputLatency == nullptr || outputLatency == nullptr) return ASE_InvalidParameter;
  InstanceLock lock(instanceMutex_);
  const ULONG frames = state_ == PREPARED || state_ == RUNNING
                           ? periodFrames_
                           : BufferSizeFrames(bufferSizeIndex_, DeviceRateOf(asioRate_));
  ULONG input = 0;
  ULONG output = 0;
  if (!deviceGroup_.Latencies(frames, &input, &output)) return ASE_NotPresent;
  *inputLatency = static_cast<LONG>(input);
  *outputLatency = static_cast<LONG>(output);
  return ASE_OK;
}

ASIOError COrvAsioDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
  if (state_ == LOADED) return ASE_NotPresent;
  if (sPos == nullptr || tStamp == nullptr) return ASE_InvalidParameter;
  const double position = samplePosition_;
  const double hi = std::floor(position / kTwoTo32);
  sPos->hi = static_cast<ULONG>(hi);
  sPos->lo = static_cast<ULONG>(position - hi * kTwoTo32);
  *tStamp = timeStamp_;
  return ASE_OK;
}

ASIOError COrvAsioDriver::getChannelInfo(ASIOChannelInfo* info) {
  if (state_ == LOADED) return ASE_NotPresent;
  InstanceLock lock(instanceMutex_);
  if (info == nullptr) return ASE_InvalidParameter;
  const bool input = info->isInput != ASIOFalse;
  const ULONG count = input ? inputs_ : outputs_;
  if (info->channel < 0 || static_cast<ULONG>(info->channel) >= count) return ASE_InvalidParameter;
  const ULONG channel = static_cast<ULONG>(info->channel);
  info->type = sampleType_;
  info->channelGroup = 0;
  const HostChannels& host = input ? hostIn_ : hostOut_;
  info->isActive = state_ != INITIALIZED && channel < host.inUse.size() && host.inUse[channel] != 0
                       ? ASIOTrue
                       : ASIOFalse;
  ChannelLocation where = {};
  const DeviceProfile* profile = nullptr;
  if (deviceGroup_.MapChannel(input, channel, &where)) {
    profile = deviceGroup_.At(where.device)->Profile();
  }
  const char* const* names = profile == nullptr ? nullptr
                             : input           ? profile->inputNames
                                               : profile->outputNames;
  if (names != nullptr && where.channel < std::size(profile->inputNames) && names[where.channel] != nullptr) {
    std::snprintf(info->name, sizeof info->name, "%s", names[where.channel]);
  } else {
    BuiltChannelName(input, channel, info->name);
  }
  return ASE_OK;
}

ASIOError COrvAsioDriver::controlPanel() {
  LaunchControlPanel();
  return ASE_OK;
}
