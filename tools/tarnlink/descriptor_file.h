// The Linux sysfs `descriptors` file format: the device descriptor followed by the active
// configuration descriptor with everything it announces, as raw bytes. `tarnlink info` reads one
// to plug a device in and writes one to hand a catalogue device to a device maker.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnlink::tool {

// Far more than a device descriptor and the largest configuration (wTotalLength is 16 bits).
inline constexpr size_t kMaxDescriptorFileBytes = 1u << 20;

// The file's bytes; false with *error set (a message naming the path) when it cannot be read,
// is a directory, or is larger than kMaxDescriptorFileBytes.
bool ReadDescriptorFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);
// False with *error set when the file cannot be written whole.
bool WriteDescriptorFile(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string* error);

}  // namespace tarnlink::tool
