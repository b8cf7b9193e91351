// The driver object with its fields in reach of a test, and a host whose asioMessage records
// the reset requests it receives.
#pragma once

#include <vector>

#include "driver/orv_asio_driver.h"

namespace asio_test {

class TestableDriver : public COrvAsioDriver {
 public:
  using COrvAsioDriver::asioRate_;
  using COrvAsioDriver::bufferSizeIndex_;
  using COrvAsioDriver::callbacks_;
  using COrvAsioDriver::CheckHandles;
  using COrvAsioDriver::CreateSettingsEvents;
  using COrvAsioDriver::deviceBits_;
  using COrvAsioDriver::deviceGroup_;
  using COrvAsioDriver::deviceList_;
  using COrvAsioDriver::dsdCapable_;
  using COrvAsioDriver::errorText_;
  using COrvAsioDriver::highestRate_;
  using COrvAsioDriver::inputs_;
  using COrvAsioDriver::ioFormat_;
  using COrvAsioDriver::lowestRate_;
  using COrvAsioDriver::allFloat_;
  using COrvAsioDriver::asioBufferSize_;
  using COrvAsioDriver::stopFlag_;
  using COrvAsioDriver::streamThread_;
  using COrvAsioDriver::periodFrames_;
  using COrvAsioDriver::TakeTimeStamp;
  using COrvAsioDriver::timeStamp_;
  using COrvAsioDriver::bytesPerSample_;
  using COrvAsioDriver::queueDepth_;
  using COrvAsioDriver::OpenInstanceMutex;
  using COrvAsioDriver::OpenSelected;
  using COrvAsioDriver::outputs_;
  using COrvAsioDriver::pendingRate_;
  using COrvAsioDriver::RecomputeSampleType;
  using COrvAsioDriver::resetPending_;
  using COrvAsioDriver::sampleType_;
  using COrvAsioDriver::SelectAndOpen;
  using COrvAsioDriver::selectedDevice_;
  using COrvAsioDriver::StartDeviceWatch;
  using COrvAsioDriver::StartSettingsWatch;
  using COrvAsioDriver::state_;
  using COrvAsioDriver::StopDeviceWatch;
  using COrvAsioDriver::StopSettingsWatch;
  using COrvAsioDriver::WaitForPower;
  using COrvAsioDriver::window_;
  using COrvAsioDriver::timeInfo_;
  using COrvAsioDriver::timeCodeEnabled_;
};

// The host side of reset requests: what it was asked, in order.
struct RecordingHost {
  static std::vector<LONG>& Messages() {
    static std::vector<LONG> messages;
    return messages;
  }
  static LONG AsioMessage(LONG selector, LONG, void*, double*) {
    Messages().push_back(selector);
    return 1;
  }
  static ASIOCallbacks Callbacks() {
    ASIOCallbacks callbacks = {};
    callbacks.asioMessage = AsioMessage;
    return callbacks;
  }
};

}  // namespace asio_test
