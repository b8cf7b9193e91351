// The fixture of the audio model tests: a simulated device on the simulated bus behind the
// test hub PDO, a CUSBAudioCL started on it, small builders for function descriptions, and a
// device wrapper that records the class and vendor requests the driver sends and answers chosen
// ones itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "sim/devices/uac_device.h"
#include "support/kernel_test.h"
#include "usb_audio_model.h"
#include "usb_test_port.h"

namespace tarnlink::audio_model::testing {

using sim::devices::AltSettingSpec;
using sim::devices::AudioFunctionSpec;
using sim::devices::EndpointSpec;
using sim::devices::UsbSpeed;

struct SeenRequest {
  uint8_t bmRequestType;
  uint8_t bRequest;
  uint16_t wValue;
  uint16_t wIndex;
  uint16_t wLength;
  std::vector<uint8_t> data;  // what the host sent (host-to-device requests)
};

// What a scripted request answers: stall, or these bytes.
struct ScriptedAnswer {
  bool stall = false;
  std::vector<uint8_t> bytes;
};

// Forwards everything to a UacDevice except the requests a test scripts; records every
// non-standard request.
class RecordingDevice : public sim::devices::UsbDevice {
 public:
  explicit RecordingDevice(std::unique_ptr<sim::devices::UacDevice> inner)
      : inner_(std::move(inner)) {}
  sim::devices::UsbSpeed MaximumSpeed() const override { return inner_->MaximumSpeed(); }
  void Reset(sim::devices::UsbSpeed speed) override { inner_->Reset(speed); }
  void StartOfFrame(const sim::devices::BusTime& time) override { inner_->StartOfFrame(time); }
  sim::devices::ControlResult Control(const sim::devices::BusTime& time,
                                      const USB_DEFAULT_PIPE_SETUP_PACKET& setup,
                                      std::span<uint8_t> data) override;
  sim::devices::IsoStatus IsoOut(const sim::devices::BusTime& time, uint8_t endpoint,
                                 std::span<const uint8_t> packet) override {
    return inner_->IsoOut(time, endpoint, packet);
  }
  sim::devices::IsoInResult IsoIn(const sim::devices::BusTime& time, uint8_t endpoint,
                                  std::span<uint8_t> buffer) override {
    return inner_->IsoIn(time, endpoint, buffer);
  }

  // Answers (bmRequestType, bRequest, wValue, wIndex) with `answer` from now on.
  void Script(uint8_t type, uint8_t request, uint16_t value, uint16_t index, ScriptedAnswer answer);
  sim::devices::UacDevice& inner() { return *inner_; }
  std::vector<SeenRequest> seen;

 private:
  struct Scripted {
    uint8_t type, request;
    uint16_t value, index;
    ScriptedAnswer answer;
  };
  std::unique_ptr<sim::devices::UacDevice> inner_;
  std::vector<Scripted> scripted_;
};

class AudioModelTest : public tarnlink::kernel::testing::KernelTest {
 protected:
  void TearDown() override;

  // Plugs a device built from `spec` (or from `spec` answering with `configuration` instead of
  // the built descriptor) and creates the model, without starting it.
  void Plug(const AudioFunctionSpec& spec, std::optional<UsbSpeed> bus = std::nullopt,
            std::optional<std::vector<uint8_t>> configuration = std::nullopt,
            sim::devices::DeviceBehaviour behaviour = {});
  // A catalogue device with its own behaviour.
  void PlugCatalogue(const char* name);
  // Runs body on a kernel thread; false when the thread failed.
  bool Run(const std::function<void()>& body) { return RunInThread(body); }
  NTSTATUS Initialize() { return model_->Initialize(port_.pdo, port_.fdo, 16); }
  // Initialize and Configure; asserts both succeed.
  void Start();

  tarnlink::usb_function::testing::TestUsbPort port_;
  bool built_ = false;
  CUSBAudioCL* model_ = nullptr;
  RecordingDevice* device_ = nullptr;
};

// --- function descriptions -------------------------------------------------------------------

EndpointSpec IsoEndpoint(uint8_t address, uint8_t attributes, uint8_t interval = 1,
                         uint16_t maxPacket = 0);
AltSettingSpec Uac2Alt(uint8_t channels, uint8_t subslot, uint8_t bits, EndpointSpec data,
                       std::optional<EndpointSpec> feedback = std::nullopt);
AltSettingSpec Uac1Alt(uint8_t channels, uint8_t subframe, uint8_t bits,
                       std::vector<uint32_t> rates, EndpointSpec data,
                       std::optional<EndpointSpec> feedback = std::nullopt);
// Audio 2.0 at high speed: clock 1 (rates), IT 10 (USB streaming) -> OT 12 (speaker) on
// playback interface 1, and with capture IT 20 -> OT 22 (USB streaming) on interface 2.
AudioFunctionSpec Uac2Device(bool capture, std::vector<uint32_t> rates = {44100, 48000, 96000});
// Audio 1.0 at full speed: IT 1 -> FU 2 -> OT 3 on playback interface 1 and optionally
// IT 4 -> OT 5 on capture interface 2.
AudioFunctionSpec Uac1Device(bool capture);

inline constexpr uint8_t kIsoAsync = 0x05;
inline constexpr uint8_t kIsoAdaptive = 0x09;
inline constexpr uint8_t kIsoSync = 0x0D;
inline constexpr uint8_t kIsoNoSync = 0x01;
inline constexpr uint8_t kIsoFeedback = 0x11;
inline constexpr uint8_t kIsoImplicitData = 0x25;

}  // namespace tarnlink::audio_model::testing
