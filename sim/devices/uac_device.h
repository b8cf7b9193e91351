// A USB Audio Class 1.0/2.0 device: answers standard, class and vendor requests from its
// descriptors and its audio controls, sinks playback streams, sources capture streams and
// serves explicit feedback. It checks the host as a strict device would: requests it does not
// support stall, and isochronous traffic that breaks the rules is recorded as a violation.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/devices/audio_controls.h"
#include "sim/devices/capture_source.h"
#include "sim/devices/descriptor_parser.h"
#include "sim/devices/function_spec.h"
#include "sim/devices/playback_sink.h"
#include "sim/devices/usb_device.h"

namespace sim::devices {

// How the device behaves where its descriptors do not say.
struct DeviceBehaviour {
  double crystalPpm = 0;               // error of the device's own clock (asynchronous endpoints)
  uint32_t validityLagUs = 0;          // clock reads invalid this long after a rate change
  bool nativeDsd = false;              // accepts the stream-kind vendor request
  uint32_t fifoMs = 16;                // playback FIFO capacity
  uint32_t targetMs = 4;               // level the converter starts at and feedback aims for
  uint32_t packetToleranceFrames = 1;  // allowed deviation of a packet from the nominal size
  uint32_t captureHoldbackFrames = 0;  // uneven capture packets (wide packet window devices)
  bool playbackLengthHeader = false;   // each OUT packet starts with its 32-bit payload length
  bool keepSamples = false;            // the playback sink keeps every sample it receives
  // A cable from the output back to the input: capture hears what playback plays, after the
  // converters' own delay, instead of sending the position signal.
  bool loopback = false;
  uint32_t loopbackDelayFrames = 37;
};

// The explicit feedback values a device sent, in frames per (micro)frame as 16.16; all 0 before
// the first.
struct FeedbackSeen {
  uint32_t last = 0;
  uint32_t lowest = 0;
  uint32_t highest = 0;
  uint32_t ticksPerSecond = 0;  // (micro)frames a second on the bus
  // A value as the rate it asks for, in frames per second.
  double Rate(uint32_t value16_16) const { return value16_16 / 65536.0 * ticksPerSecond; }
};

// The bytes a device answers GET_DESCRIPTOR with.
struct DescriptorImage {
  std::vector<uint8_t> device;
  std::vector<uint8_t> configuration;
  std::map<uint8_t, std::string> strings;
};

class UacDevice : public UsbDevice {
 public:
  UacDevice(AudioFunctionSpec spec, DeviceBehaviour behaviour);
  UacDevice(AudioFunctionSpec spec, DescriptorImage image, DeviceBehaviour behaviour);
  // A device that answers with the exact bytes of a parsed dump.
  static std::unique_ptr<UacDevice> FromDump(const ParsedDump& dump, DeviceBehaviour behaviour);
  UacDevice(const UacDevice&) = delete;
  UacDevice& operator=(const UacDevice&) = delete;

  UsbSpeed MaximumSpeed() const override { return spec_.speed; }
  void Reset(UsbSpeed busSpeed) override;
  void StartOfFrame(const BusTime& time) override;
  ControlResult Control(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                        std::span<uint8_t> data) override;
  IsoStatus IsoOut(const BusTime& time, uint8_t endpoint, std::span<const uint8_t> packet) override;
  IsoInResult IsoIn(const BusTime& time, uint8_t endpoint, std::span<uint8_t> buffer) override;

  // Inspection and manipulation for tests.
  const AudioFunctionSpec& Spec() const { return spec_; }
  const DescriptorImage& Image() const { return image_; }
  AudioControls& Controls() { return controls_; }
  const AudioControls& Controls() const { return controls_; }
  uint8_t Address() const { return address_; }
  uint8_t Configuration() const { return configuration_; }
  uint8_t AlternateSetting(uint8_t interfaceNumber) const;
  // How the samples of a streaming interface's current alternate setting sit in their subslots;
  // nothing while it is at setting 0.
  std::optional<SampleLayout> CurrentLayout(uint8_t interfaceNumber) const;
  uint16_t StreamKind(uint8_t interfaceNumber) const;
  uint32_t EndpointRate(uint8_t endpointAddress) const;  // Audio 1.0 sampling frequency
  const PlaybackSink* Sink(uint8_t interfaceNumber) const;
  const CaptureSource* Source(uint8_t interfaceNumber) const;
  uint64_t FeedbackPackets() const { return feedbackPackets_; }
  const FeedbackSeen& Feedback() const { return feedback_; }
  const std::vector<std::string>& Violations() const { return violations_; }
  uint64_t ViolationCount() const { return violationCount_; }

 private:
  struct Stream {
    const StreamingInterfaceSpec* spec = nullptr;
    uint8_t alt = 0;  // alternate setting number
    uint16_t kind = 0;
    bool started = false;
    std::map<uint8_t, uint32_t> endpointRates;  // Audio 1.0, by endpoint address
    PlaybackSink sink;
    CaptureSource source;
  };

  ControlResult Standard(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                         std::span<uint8_t> data);
  ControlResult GetDescriptor(const USB_DEFAULT_PIPE_SETUP_PACKET& setup, std::span<uint8_t> data);
  ControlResult Status(const USB_DEFAULT_PIPE_SETUP_PACKET& setup, std::span<uint8_t> data);
  ControlResult Feature(const USB_DEFAULT_PIPE_SETUP_PACKET& setup);
  ControlResult SetInterface(const BusTime& time, uint8_t number, uint8_t alt);
  ControlResult Class(const BusTime& time, const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                      std::span<uint8_t> data);
  ControlResult EndpointRequest(const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                std::span<uint8_t> data);
  ControlResult Vendor(const USB_DEFAULT_PIPE_SETUP_PACKET& setup, std::span<uint8_t> data);

  const AltSettingSpec* Active(const Stream& s) const;
  Stream* StreamFor(uint8_t interfaceNumber);
  const Stream* StreamFor(uint8_t interfaceNumber) const;
  Stream* StreamWithEndpoint(uint8_t address, const AltSettingSpec** alt);
  bool EndpointExists(uint8_t address) const;
  bool InterfaceExists(uint8_t interfaceNumber) const;
  uint32_t StreamRate(const Stream& s, const AltSettingSpec& alt) const;
  bool StreamClockValid(const Stream& s, uint64_t nowNs) const;
  void StartStream(Stream& s, const AltSettingSpec& alt, uint64_t nowNs);
  void Deconfigure();
  void Violation(const std::string& what);
  uint64_t IntervalTicks(const EndpointSpec& ep) const;

  AudioFunctionSpec spec_;
  DescriptorImage image_;
  DeviceBehaviour behaviour_;
  AudioControls controls_;
  UsbSpeed speed_;
  uint8_t address_ = 0;
  uint8_t configuration_ = 0;
  bool remoteWakeup_ = false;
  std::map<uint8_t, bool> halted_;
  // Interfaces outside the audio streams (control, HID, DFU...): the settings they offer and
  // the one selected.
  std::map<uint8_t, std::vector<uint8_t>> otherSettings_;
  std::map<uint8_t, uint8_t> otherAlt_;
  std::vector<Stream> streams_;
  uint64_t feedbackPackets_ = 0;
  FeedbackSeen feedback_;
  std::unique_ptr<LoopbackLine> line_;  // with a loopback cable
  std::vector<std::string> violations_;
  uint64_t violationCount_ = 0;
};

// The descriptor bytes and string table of a function built from its description.
DescriptorImage BuildImage(const AudioFunctionSpec& spec);

}  // namespace sim::devices
