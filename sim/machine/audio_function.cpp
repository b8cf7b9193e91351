#include "sim/machine/audio_function.h"

#include <algorithm>

#include "sim/devices/byte_writer.h"
#include "usb/usbspec.h"

namespace sim::machine {
namespace {

constexpr uint8_t kAudioClass = 1;
constexpr uint8_t kAudioControl = 1;
constexpr uint8_t kCsInterface = 0x24;
constexpr uint8_t kAcHeader = 1;
constexpr size_t kConfigHeaderBytes = 9;

struct Descriptor {
  size_t offset = 0;
  uint8_t length = 0;
  uint8_t type = 0;
};

// Every descriptor after the configuration header; nothing when one runs past the end or is
// shorter than its own header.
std::optional<std::vector<Descriptor>> Walk(std::span<const uint8_t> config) {
  std::vector<Descriptor> list;
  for (size_t at = kConfigHeaderBytes; at < config.size();) {
    if (config.size() - at < 2 || config[at] < 2 || config[at] > config.size() - at)
      return std::nullopt;
    list.push_back({at, config[at], config[at + 1]});
    at += config[at];
  }
  return list;
}

bool IsInterface(const Descriptor& d) {
  return d.type == USB_INTERFACE_DESCRIPTOR_TYPE && d.length >= 9;
}

}  // namespace

bool AudioFunctionLayout::Holds(uint8_t number) const {
  return std::find(interfaces.begin(), interfaces.end(), number) != interfaces.end();
}

std::optional<AudioFunctionLayout> FindAudioFunction(std::span<const uint8_t> config) {
  if (config.size() < kConfigHeaderBytes) return std::nullopt;
  std::optional<std::vector<Descriptor>> walked = Walk(config);
  if (!walked) return std::nullopt;
  const std::vector<Descriptor>& list = *walked;
  const auto byte = [&](const Descriptor& d, size_t i) { return config[d.offset + i]; };

  AudioFunctionLayout layout;
  std::optional<size_t> control;
  for (size_t i = 0; i < list.size(); ++i) {
    const Descriptor& d = list[i];
    if (!IsInterface(d) || byte(d, 3) != 0) continue;
    layout.allInterfaces.push_back({byte(d, 2), byte(d, 5), byte(d, 6)});
    if (!control && byte(d, 5) == kAudioClass && byte(d, 6) == kAudioControl) control = i;
  }
  if (!control) return std::nullopt;
  const uint8_t controlNumber = byte(list[*control], 2);

  for (const Descriptor& d : list) {
    if (d.type != USB_INTERFACE_ASSOCIATION_DESCRIPTOR_TYPE || d.length < 8) continue;
    const uint8_t first = byte(d, 2);
    const uint8_t count = byte(d, 3);
    if (controlNumber < first || controlNumber - first >= count) continue;
    layout.interfaces.push_back(controlNumber);
    for (uint32_t n = first; n < uint32_t{first} + count && n < 256; ++n)
      if (n != controlNumber) layout.interfaces.push_back(static_cast<uint8_t>(n));
    break;
  }
  if (layout.interfaces.empty()) {
    layout.interfaces.push_back(controlNumber);
    const bool hasHeader = *control + 1 < list.size();
    const Descriptor* header = hasHeader ? &list[*control + 1] : nullptr;
    const bool listed = header != nullptr && header->type == kCsInterface && header->length >= 8 &&
                        byte(*header, 2) == kAcHeader &&
                        devices::ReadLe(&config[header->offset + 3], 2) == 0x0100;
    if (listed) {
      const uint8_t count = byte(*header, 7);
      for (uint8_t k = 0; k < count && 8u + k < header->length; ++k)
        layout.interfaces.push_back(byte(*header, 8 + k));
    } else {
      // The audio interfaces right after the control interface, up to the next other one.
      for (size_t i = *control + 1; i < list.size(); ++i) {
        const Descriptor& d = list[i];
        if (!IsInterface(d)) continue;
        if (byte(d, 5) != kAudioClass || byte(d, 6) == kAudioControl) break;
        if (!layout.Holds(byte(d, 2))) layout.interfaces.push_back(byte(d, 2));
      }
    }
  }

  // The configuration header, then every descriptor of the function's interfaces.
  layout.configuration.assign(config.begin(), config.begin() + kConfigHeaderBytes);
  bool keep = true;  // descriptors ahead of the first interface belong to the configuration
  uint8_t kept = 0;
  for (const Descriptor& d : list) {
    bool take = keep;
    if (d.type == USB_INTERFACE_ASSOCIATION_DESCRIPTOR_TYPE && d.length >= 8) {
      take = layout.Holds(byte(d, 2));
    } else if (IsInterface(d)) {
      keep = take = layout.Holds(byte(d, 2));
      if (take && byte(d, 3) == 0) ++kept;
    }
    if (take)
      layout.configuration.insert(layout.configuration.end(), config.begin() + d.offset,
                                  config.begin() + d.offset + d.length);
  }
  const size_t total = std::min<size_t>(layout.configuration.size(), 0xFFFF);
  layout.configuration.resize(total);
  layout.configuration[2] = static_cast<uint8_t>(total);
  layout.configuration[3] = static_cast<uint8_t>(total >> 8);
  layout.configuration[4] = kept;
  return layout;
}

}  // namespace sim::machine
