// The format, rate, buffer-size and clock calls of the driver object.
#include <cstring>

#include "asio_trace.h"
#include "asio_trace_points.h"
#include "devices/single_host_objects.h"
#include "formats/sample_rates.h"
#include "formats/sample_types.h"
#include "orv_asio_driver.h"

namespace {

constexpr DWORD kPowerWaitMs = 3000;

// The FormatType a host put in an ASIOIoFormat record, as the number it is: a host may send any
// value, and only 0 and 1 are values of the enumeration.
LONG FormatTypeIn(const void* record) {
  LONG type = 0;
  std::memcpy(&type, record, sizeof type);
  return type;
}

}  // namespace

ASIOError COrvAsioDriver::getBufferSize(LONG* minSize, LONG* maxSize, LONG* preferredSize,
                                        LONG* granularity) {
  if (state_ == LOADED) return ASE_NotPresent;
  if (minSize == nullptr || maxSize == nullptr || preferredSize == nullptr ||
      granularity == nullptr)
    return ASE_InvalidParameter;
  InstanceLock lock(instanceMutex_);
  // The host gets the one size the user chose in the control panel, nothing to pick from.
  *minSize = *maxSize = *preferredSize = static_cast<LONG>(PreferredBufferSize());
  *granularity = 0;
  return ASE_OK;
}

ASIOError COrvAsioDriver::canSampleRate(ASIOSampleRate sampleRate) {
  if (state_ == LOADED) return ASE_NotPresent;
  InstanceLock lock(instanceMutex_);
  ULONG rate = 0;
  ULONG deviceRate = 0;
  return WholeRate(sampleRate, &rate) &&
                 AcceptRate(rate, DsdMode(), lowestRate_, highestRate_, &deviceRate)
             ? ASE_OK
             : ASE_NoClock;
}

ASIOError COrvAsioDriver::getSampleRate(ASIOSampleRate* sampleRate) {
  if (state_ == LOADED) return ASE_NotPresent;
  if (sampleRate == nullptr) return ASE_InvalidParameter;
  *sampleRate = rateOverride_ > 0 && rateOverride_ != asioRate_ ? rateOverride_
                                                                : static_cast<double>(asioRate_);
  return ASE_OK;
}

bool COrvAsioDriver::SetDeviceRate(ULONG rate) {
  if (DsdMode()) {
    if (!IsDsdSampleType(sampleType_)) return false;
    rate /= kDsdWordBits;
  }
  if (!CheckHandles()) return false;
  if (deviceGroup_.SetRate(rate)) return true;
  AsioTrace(kTraceRateRefused, rate);
  return false;
}

ASIOError COrvAsioDriver::setSampleRate(ASIOSampleRate sampleRate) {
  if (state_ == LOADED) return ASE_NotPresent;
  if (sampleRate == 0) return ASE_InvalidMode;  // an external clock: there is none
  if (!WaitForPower(kPowerWaitMs)) return ASE_NotPresent;
  InstanceLock lock(instanceMutex_);
  ULONG rate = 0;
  ULONG deviceRate = 0;
  if (!WholeRate(sampleRate, &rate) ||
      !AcceptRate(rate, DsdMode(), lowestRate_, highestRate_, &deviceRate))
    return ASE_NoClock;
  // The control panel may have stored another rate meanwhile; then the current one is applied
  // again, to the device and the setting alike.
  if (rate == asioRate_ && pendingRate_ == asioRate_) return ASE_OK;
  if (state_ == RUNNING) return ChangeRateWhileRunning(rate);
  if (!SetDeviceRate(rate)) return ASE_HWMalfunction;
  if (state_ == PREPARED) RequestHostReset(1);
  settings_.WriteNumber(kSettingSamplingRate, rate);
  pendingRate_ = asioRate_ = rate;
  RecomputeBytesPerHalf();
  return ASE_OK;
}

ASIOError COrvAsioDriver::ChangeRateWhileRunning(ULONG rate) {
  // The host keeps its buffers: the stream stops, the devices change rate, and the stream
  // starts again from position 0; getSampleRate reports the new rate meanwhile.
  const ULONG previous = asioRate_;
  settings_.WriteNumber(kSettingSamplingRate, rate);
  pendingRate_ = rate;
  rateOverride_ = rate;
  StopStreaming();
  if (!SetDeviceRate(rate)) {
    RequestHostReset(1);
    settings_.WriteNumber(kSettingSamplingRate, previous);
    pendingRate_ = previous;
    rateOverride_ = 0;
    return ASE_NotPresent;
  }
  asioRate_ = rate;
  timeInfo_.timeInfo.sampleRate = rate;
  if (timeInfoMode_ != 0) timeInfo_.timeInfo.flags |= kSampleRateChanged;
  return StartStreaming(true);
}

ASIOError COrvAsioDriver::getClockSources(ASIOClockSource* clocks, LONG* numSources) {
  if (state_ == LOADED) return ASE_NotPresent;
  if (clocks == nullptr || numSources == nullptr) return ASE_InvalidParameter;
  clocks[0] = {};
  clocks[0].index = 0;
  clocks[0].associatedChannel = -1;
  clocks[0].associatedGroup = -1;
  clocks[0].isCurrentSource = ASIOTrue;
  std::strcpy(clocks[0].name, "Internal");
  *numSources = 1;
  return ASE_OK;
}

ASIOError COrvAsioDriver::setClockSource(LONG reference) {
  if (state_ == LOADED) return ASE_NotPresent;
  if (reference != 0) return ASE_NotPresent;
  // The next buffer switch with time info reports it once.
  timeInfo_.timeInfo.flags |= kClockSourceChanged;
  return ASE_OK;
}

ASIOError COrvAsioDriver::future(LONG selector, void* opt) {
  if (state_ == LOADED) return ASE_NotPresent;
  switch (selector) {
    case kAsioEnableTimeCodeRead:
      timeCodeEnabled_ = 1;
      return ASE_SUCCESS;
    case kAsioDisableTimeCodeRead:
      timeCodeEnabled_ = 0;
      return ASE_SUCCESS;
    case kAsioSetInputMonitor:
    case kAsioCanInputMonitor:
      return ASE_NotPresent;
    case kAsioCanTimeInfo:
    case kAsioCanTimeCode:
      return ASE_SUCCESS;
    case kAsioSetIoFormat: {
      if (opt == nullptr) return ASE_InvalidParameter;
      InstanceLock lock(instanceMutex_);
      const LONG type = FormatTypeIn(opt);
      const bool pcm = type == kASIOPCMFormat;
      const bool dsd = type == kASIODSDFormat && dsdCapable_ != 0;
      if (!pcm && !dsd) return ASE_InvalidParameter;
      const ASIOIoFormatType previous = ioFormat_.FormatType;
      // The record is kept as the host gave it even when no sample type fits it.
      std::memcpy(&ioFormat_, opt, sizeof ioFormat_);
      RecomputeSampleType();
      if (sampleType_ == kUnsupportedSampleType) return ASE_InvalidParameter;
      RecomputeBytesPerHalf();
      if (state_ == PREPARED && previous != ioFormat_.FormatType) RequestHostReset(1);
      return ASE_SUCCESS;
    }
    case kAsioGetIoFormat: {
      if (opt == nullptr) return ASE_InvalidParameter;
      InstanceLock lock(instanceMutex_);
      std::memcpy(opt, &ioFormat_, sizeof ioFormat_);
      return ASE_SUCCESS;
    }
    case kAsioCanDoIoFormat: {
      if (opt == nullptr) return ASE_InvalidParameter;
      const LONG type = FormatTypeIn(opt);
      if (type == kASIOPCMFormat) return ASE_SUCCESS;
      return type == kASIODSDFormat && dsdCapable_ != 0 ? ASE_SUCCESS : ASE_InvalidParameter;
    }
    default:
      return ASE_InvalidParameter;
  }
}
