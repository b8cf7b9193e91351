// Chapter 9 standard requests of the simulated audio device.
#include <algorithm>

#include "sim/devices/descriptor_builder.h"
#include "sim/devices/uac_device.h"

namespace sim::devices {
namespace {

constexpr uint8_t kMaxAddress = 127;
constexpr uint16_t kEnglish = 0x0409;

bool DeviceToHost(const USB_DEFAULT_PIPE_SETUP_PACKET& setup) {
  return setup.bmRequestType.s.Dir;
}

}  // namespace

ControlResult UacDevice::Standard(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                  std::span<uint8_t> data) {
  const uint8_t recipient = setup.bmRequestType.s.Recipient;
  const bool in = DeviceToHost(setup);
  switch (setup.bRequest) {
    case USB_REQUEST_GET_DESCRIPTOR:
      return in && recipient == BMREQUEST_TO_DEVICE ? GetDescriptor(setup, data)
                                                    : ControlResult::Stall();
    case USB_REQUEST_GET_STATUS:
      return in ? Status(setup, data) : ControlResult::Stall();
    case USB_REQUEST_CLEAR_FEATURE:
    case USB_REQUEST_SET_FEATURE:
      return in ? ControlResult::Stall() : Feature(setup);
    case USB_REQUEST_SET_ADDRESS:
      if (in || recipient != BMREQUEST_TO_DEVICE || setup.wValue.W > kMaxAddress ||
          configuration_ != 0)
        return ControlResult::Stall();
      address_ = static_cast<uint8_t>(setup.wValue.W);
      return ControlResult::Ack();
    case USB_REQUEST_GET_CONFIGURATION:
      if (!in || data.empty()) return ControlResult::Stall();
      data[0] = configuration_;
      return ControlResult::Ack(1);
    case USB_REQUEST_SET_CONFIGURATION: {
      const uint8_t value = image_.configuration.size() > 5 ? image_.configuration[5] : 1;
      if (in || recipient != BMREQUEST_TO_DEVICE ||
          (setup.wValue.W != 0 && setup.wValue.W != value))
        return ControlResult::Stall();
      // Selecting a configuration, even the current one, puts every interface in setting 0.
      Deconfigure();
      configuration_ = static_cast<uint8_t>(setup.wValue.W);
      return ControlResult::Ack();
    }
    case USB_REQUEST_GET_INTERFACE: {
      if (!in || recipient != BMREQUEST_TO_INTERFACE || configuration_ == 0 || data.empty())
        return ControlResult::Stall();
      if (!InterfaceExists(setup.wIndex.LowByte)) return ControlResult::Stall();
      data[0] = AlternateSetting(setup.wIndex.LowByte);
      return ControlResult::Ack(1);
    }
    case USB_REQUEST_SET_INTERFACE:
      if (in || recipient != BMREQUEST_TO_INTERFACE || configuration_ == 0)
        return ControlResult::Stall();
      return SetInterface(time, setup.wIndex.LowByte, static_cast<uint8_t>(setup.wValue.W));
    default:
      // SYNCH_FRAME and SET_DESCRIPTOR are not supported.
      return ControlResult::Stall();
  }
}

ControlResult UacDevice::GetDescriptor(const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                       std::span<uint8_t> data) {
  const uint8_t type = setup.wValue.HiByte;
  const uint8_t index = setup.wValue.LowByte;
  switch (type) {
    case USB_DEVICE_DESCRIPTOR_TYPE:
      return index == 0 ? Answer(data, image_.device) : ControlResult::Stall();
    case USB_CONFIGURATION_DESCRIPTOR_TYPE:
      return index == 0 ? Answer(data, image_.configuration) : ControlResult::Stall();
    case USB_DEVICE_QUALIFIER_DESCRIPTOR_TYPE:
      // Only a device that can run at high speed has a qualifier.
      return spec_.speed == UsbSpeed::High ? Answer(data, BuildDeviceQualifier(spec_))
                                           : ControlResult::Stall();
    case USB_STRING_DESCRIPTOR_TYPE: {
      // A device without strings has no language list either.
      if (index == 0) {
        return image_.strings.empty() ? ControlResult::Stall() : Answer(data, BuildLanguageList());
      }
      auto text = image_.strings.find(index);
      if (text == image_.strings.end() || setup.wIndex.W != kEnglish) return ControlResult::Stall();
      return Answer(data, BuildStringDescriptor(text->second));
    }
    default:
      return ControlResult::Stall();
  }
}

ControlResult UacDevice::Status(const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                std::span<uint8_t> data) {
  if (setup.wValue.W != 0 || data.size() < 2) return ControlResult::Stall();
  uint8_t status = 0;
  switch (setup.bmRequestType.s.Recipient) {
    case BMREQUEST_TO_DEVICE:
      if (spec_.bmAttributes & USB_CONFIG_SELF_POWERED) status |= USB_GETSTATUS_SELF_POWERED;
      if (remoteWakeup_) status |= USB_GETSTATUS_REMOTE_WAKEUP_ENABLED;
      break;
    case BMREQUEST_TO_INTERFACE:
      if (configuration_ == 0 || !InterfaceExists(setup.wIndex.LowByte))
        return ControlResult::Stall();
      break;
    case BMREQUEST_TO_ENDPOINT:
      if (!EndpointExists(setup.wIndex.LowByte)) return ControlResult::Stall();
      status = halted_[setup.wIndex.LowByte] ? 1 : 0;
      break;
    default:
      return ControlResult::Stall();
  }
  data[0] = status;
  data[1] = 0;
  return ControlResult::Ack(2);
}

ControlResult UacDevice::Feature(const USB_DEFAULT_PIPE_SETUP_PACKET& setup) {
  const bool set = setup.bRequest == USB_REQUEST_SET_FEATURE;
  switch (setup.bmRequestType.s.Recipient) {
    case BMREQUEST_TO_DEVICE:
      if (setup.wValue.W != USB_FEATURE_REMOTE_WAKEUP ||
          !(spec_.bmAttributes & USB_CONFIG_REMOTE_WAKEUP))
        return ControlResult::Stall();
      remoteWakeup_ = set;
      return ControlResult::Ack();
    case BMREQUEST_TO_ENDPOINT:
      if (setup.wValue.W != USB_FEATURE_ENDPOINT_STALL || !EndpointExists(setup.wIndex.LowByte))
        return ControlResult::Stall();
      halted_[setup.wIndex.LowByte] = set;
      return ControlResult::Ack();
    default:
      return ControlResult::Stall();
  }
}

ControlResult UacDevice::SetInterface(const BusTime& time, uint8_t number, uint8_t alt) {
  Stream* s = StreamFor(number);
  if (!s) {
    auto other = otherSettings_.find(number);
    if (other == otherSettings_.end() ||
        std::find(other->second.begin(), other->second.end(), alt) == other->second.end())
      return ControlResult::Stall();
    otherAlt_[number] = alt;
    return ControlResult::Ack();
  }
  const uint8_t previous = s->alt;
  s->alt = alt;
  const AltSettingSpec* setting = Active(*s);
  if (alt != 0 && !setting) {
    s->alt = previous;
    return ControlResult::Stall();
  }
  // Every SET_INTERFACE restarts the interface's stream, as it resets its endpoints.
  s->started = false;
  s->sink.Stop();
  s->source.Stop();
  if (setting) {
    halted_[setting->data.bEndpointAddress] = false;
    if (StreamClockValid(*s, time.Nanoseconds())) StartStream(*s, *setting, time.Nanoseconds());
  }
  return ControlResult::Ack();
}

}  // namespace sim::devices
