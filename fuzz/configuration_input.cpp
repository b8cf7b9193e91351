#include "configuration_input.h"

#include "sim/devices/catalogue.h"

namespace tarnlink::fuzz {

namespace {
constexpr uint8_t kDeviceMask = 0x3F;
constexpr uint8_t kKeepTotalLength = 0x40;
constexpr uint8_t kFullSpeed = 0x80;
}  // namespace

ConfigurationInput DecodeConfigurationInput(std::span<const uint8_t> bytes) {
  ConfigurationInput input;
  if (bytes.empty()) return input;
  const auto& catalogue = sim::devices::Catalogue();
  const sim::devices::CatalogueEntry& entry =
      catalogue[(bytes[0] & kDeviceMask) % catalogue.size()];
  sim::devices::DescriptorImage image = sim::devices::BuildImage(entry.spec);
  image.configuration.assign(bytes.begin() + 1, bytes.end());
  if ((bytes[0] & kKeepTotalLength) == 0 && image.configuration.size() >= 4) {
    const size_t total = image.configuration.size() & 0xFFFF;
    image.configuration[2] = static_cast<uint8_t>(total);
    image.configuration[3] = static_cast<uint8_t>(total >> 8);
  }
  input.device = std::make_unique<sim::devices::UacDevice>(entry.spec, image, entry.behaviour);
  input.speed = (bytes[0] & kFullSpeed) != 0 ? sim::devices::UsbSpeed::Full : entry.spec.speed;
  return input;
}

std::vector<uint8_t> EncodeCatalogueDevice(size_t index) {
  const sim::devices::CatalogueEntry& entry = sim::devices::Catalogue().at(index);
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(
      index | (entry.spec.speed == sim::devices::UsbSpeed::Full ? kFullSpeed : 0))};
  const sim::devices::DescriptorImage image = sim::devices::BuildImage(entry.spec);
  bytes.insert(bytes.end(), image.configuration.begin(), image.configuration.end());
  return bytes;
}

}  // namespace tarnlink::fuzz
