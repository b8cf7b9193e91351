#include "property_requests.h"

#include <algorithm>
#include <cstring>

#include "client_run.h"
#include "kernel/pnp_host.h"
#include "sim/audioengine/ks_client.h"
#include "sim/devices/uac_device.h"

namespace tarnlink::fuzz {
namespace {

constexpr const char* kDevices[] = {"velmor-dac", "uac2-playback-only"};

const GUID* const kSets[] = {&KSPROPSETID_General, &KSPROPSETID_Jack, &KSPROPSETID_Audio,
                             &KSPROPSETID_AudioSignalProcessing, &KSPROPSETID_Pin,
                             &KSPROPSETID_Topology};

constexpr ULONG kLongestRequest = 512;
constexpr ULONG kLongestValue = 1024;
constexpr ULONG kGuardBytes = 64;
constexpr uint8_t kGuard = 0xA5;
constexpr uint8_t kMostMilliseconds = 20;

class Client {
 public:
  Client(HANDLE filter, sim::devices::UacDevice* device, ClientScript* script,
         PropertyRequestsOutcome* outcome)
      : filter_(filter), device_(device), script_(script), outcome_(outcome) {}

  // False when the filter wrote outside the value it was given.
  bool Step(std::string* failure) {
    const uint8_t op = script_->Byte();
    switch (op & 7) {
      case 6:
        Jacks(script_->Byte() % 3);
        return true;
      case 7: {
        LARGE_INTEGER interval;
        interval.QuadPart = -10000LL * (script_->Byte() % kMostMilliseconds + 1);
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
        return true;
      }
      default:
        return Request(failure);
    }
  }

 private:
  bool Request(std::string* failure) {
    const uint8_t set = script_->Byte();
    KSNODEPROPERTY_AUDIO_CHANNEL property = {};
    property.NodeProperty.Property.Set = set < std::size(kSets) ? *kSets[set]
                                         : set == 0xFF          ? AnyGuid()
                                                                : *kSets[set % std::size(kSets)];
    property.NodeProperty.Property.Id = script_->Word();
    property.NodeProperty.Property.Flags = script_->Word();
    property.NodeProperty.NodeId = script_->Word();
    property.Channel = static_cast<LONG>(script_->Word());
    const ULONG requestLength = script_->Half() % (kLongestRequest + 1);
    const ULONG valueLength = script_->Half() % (kLongestValue + 1);
    // The request as given, its tail (beyond the channel record) zero.
    std::vector<uint8_t> request(requestLength, 0);
    if (requestLength != 0)
      std::memcpy(request.data(), &property, std::min<size_t>(requestLength, sizeof(property)));
    // The value with guards on both sides: anything written there is a write past the value.
    std::vector<uint8_t> value(kGuardBytes + valueLength + kGuardBytes, kGuard);
    if ((property.NodeProperty.Property.Flags & KSPROPERTY_TYPE_SET) != 0) {
      for (ULONG k = 0; k < valueLength; ++k) value[kGuardBytes + k] = script_->Byte();
    }
    ULONG_PTR returned = 0;
    const NTSTATUS status = sim::audioengine::KsProperty(
        filter_, request, valueLength != 0 ? value.data() + kGuardBytes : nullptr, valueLength,
        &returned);
    if (NT_SUCCESS(status)) ++outcome_->succeeded;
    const auto guardBroken = [](auto begin, auto end) {
      return std::any_of(begin, end, [](uint8_t b) { return b != kGuard; });
    };
    if (guardBroken(value.begin(), value.begin() + kGuardBytes) ||
        guardBroken(value.end() - kGuardBytes, value.end()) ||
        (NT_SUCCESS(status) && returned > valueLength)) {
      *failure = "a property request of id " + std::to_string(property.NodeProperty.Property.Id) +
                 " wrote or claimed more than its " + std::to_string(valueLength) + "-byte value";
      return false;
    }
    return true;
  }

  GUID AnyGuid() {
    GUID guid = {};
    for (size_t k = 0; k < sizeof(guid); ++k) reinterpret_cast<uint8_t*>(&guid)[k] = script_->Byte();
    return guid;
  }

  void Jacks(uint8_t state) {
    if (device_ == nullptr) return;
    for (const auto& entity : device_->Spec().entities) {
      std::visit(
          [&](const auto& e) {
            if constexpr (requires { e.bTerminalID; })
              device_->Controls().SetConnector(e.bTerminalID,
                                               static_cast<sim::devices::ConnectorState>(state));
          },
          entity);
    }
  }

  HANDLE filter_;
  sim::devices::UacDevice* device_;
  ClientScript* script_;
  PropertyRequestsOutcome* outcome_;
};

}  // namespace

bool RunPropertyRequests(std::span<const uint8_t> input, std::string* failure,
                         PropertyRequestsOutcome* outcome) {
  PropertyRequestsOutcome ignored;
  if (outcome == nullptr) outcome = &ignored;
  if (input.empty()) return true;
  ClientScript script(input.subspan(1));
  kernel::HostKernel kernel;
  sim::machine::Machine machine(kernel, DriverEntry, {});
  if (!StartCatalogueDevice(machine, kDevices[input[0] % std::size(kDevices)], failure))
    return false;
  // Every device of the list is a catalogue model.
  auto* device = static_cast<sim::devices::UacDevice*>(machine.Device());
  std::string overrun;
  const bool ran = machine.RunInKernelThread([&] {
    const auto interfaces = io::EnumerateDeviceInterfaces(KSCATEGORY_AUDIO, true);
    HANDLE filter = nullptr;
    if (interfaces.empty() ||
        !NT_SUCCESS(sim::audioengine::OpenFilter(interfaces[0].symbolicLink, &filter))) {
      overrun = "the wave filter did not open";
      return;
    }
    Client client(filter, device, &script, outcome);
    while (!script.Done() && client.Step(&overrun)) {
    }
    ZwClose(filter);
  }, "client");
  if (!ran || kernel.Stopped() || !NT_SUCCESS(machine.UnplugDevice()) || !machine.UnloadDriver()) {
    *failure = StopReport(kernel);
    return false;
  }
  if (!overrun.empty()) {
    *failure = overrun;
    return false;
  }
  return true;
}

std::vector<std::vector<uint8_t>> PropertyRequestSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  const auto word = [](std::vector<uint8_t>& seed, uint32_t value) {
    for (int k = 0; k < 4; ++k) seed.push_back(static_cast<uint8_t>(value >> (8 * k)));
  };
  // One request: set index, id, flags, node or pin, channel, request and value lengths, value.
  const auto request = [&](std::vector<uint8_t>& seed, uint8_t set, uint32_t id, uint32_t flags,
                           uint32_t target, uint32_t channel, uint16_t requestLength,
                           uint16_t valueLength, std::vector<uint8_t> value = {}) {
    seed.push_back(0);
    seed.push_back(set);
    word(seed, id);
    word(seed, flags);
    word(seed, target);
    word(seed, channel);
    seed.insert(seed.end(), {static_cast<uint8_t>(requestLength), static_cast<uint8_t>(requestLength >> 8),
                             static_cast<uint8_t>(valueLength), static_cast<uint8_t>(valueLength >> 8)});
    if (flags & KSPROPERTY_TYPE_SET) {
      value.resize(valueLength);
      seed.insert(seed.end(), value.begin(), value.end());
    }
  };
  constexpr uint32_t kGet = KSPROPERTY_TYPE_GET;
  constexpr uint32_t kSet = KSPROPERTY_TYPE_SET;
  constexpr uint32_t kBasic = KSPROPERTY_TYPE_BASICSUPPORT;
  constexpr uint32_t kNode = KSPROPERTY_TYPE_TOPOLOGY;
  constexpr uint16_t kPin = sizeof(KSP_PIN);
  constexpr uint16_t kChannel = sizeof(KSNODEPROPERTY_AUDIO_CHANNEL);
  // Node ids of the mute and volume nodes: after ADC and DAC on the velmor-dac, after the DAC
  // on the playback-only device.
  const uint32_t mute[] = {2, 1};
  for (uint8_t device = 0; device < std::size(kDevices); ++device) {
    std::vector<uint8_t> seed = {device};
    request(seed, 0, KSPROPERTY_GENERAL_COMPONENTID, kGet, 0, 0, sizeof(KSPROPERTY), 72);
    for (uint32_t pin = 0; pin < 4; ++pin) {
      request(seed, 1, KSPROPERTY_JACK_DESCRIPTION, kGet, pin, 0, kPin, 36);
      request(seed, 1, KSPROPERTY_JACK_DESCRIPTION2, kGet, pin, 0, kPin, 16);
      request(seed, 3, KSPROPERTY_AUDIOSIGNALPROCESSING_MODES, kGet, pin, 0, kPin, 24);
    }
    seed.insert(seed.end(), {6, 2});  // the jacks cannot be read
    request(seed, 1, KSPROPERTY_JACK_DESCRIPTION, kGet, 1, 0, kPin, 36);
    for (const uint32_t node : {mute[device], mute[device] + 1}) {
      const uint32_t id = node == mute[device] ? KSPROPERTY_AUDIO_MUTE : KSPROPERTY_AUDIO_VOLUMELEVEL;
      request(seed, 2, id, kBasic | kNode, node, 0xFFFFFFFF, kChannel, 88);
      request(seed, 2, id, kGet | kNode, node, 0, kChannel, 4);
      request(seed, 2, id, kSet | kNode, node, 1, kChannel, 4, {0x33, 0xB3, 0xF5, 0xFF});
    }
    seed.insert(seed.end(), {7, 5});
    seeds.push_back(seed);
  }
  return seeds;
}

}  // namespace tarnlink::fuzz
