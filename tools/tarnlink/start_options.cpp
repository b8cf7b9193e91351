#include "start_options.h"

#include <charconv>

#include "device_settings.h"

namespace tarnlink::tool {
namespace {

// Registry value names are not case-sensitive.
bool SameNameIgnoringCase(const std::u16string& a, PCWSTR b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != 0; ++i) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return i == a.size() && b[i] == 0;
}

}  // namespace

std::string ParseRegistryValue(const std::string& text, std::u16string* name, uint32_t* value) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return "is not NAME=VALUE";
  if (equals == 0) return "has an empty NAME";
  for (size_t i = 0; i < equals; ++i) {
    if (text[i] < 0x20 || text[i] > 0x7E) return "has a NAME that is not printable ASCII";
  }
  const char* digits = text.data() + equals + 1;
  const char* end = text.data() + text.size();
  int base = 10;
  if (end - digits > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    digits += 2;
    base = 16;
  }
  uint32_t number = 0;
  const auto [stop, error] = std::from_chars(digits, end, number, base);
  if (digits == end || error != std::errc() || stop != end) {
    return "has a VALUE that is not a 32-bit number (decimal or 0x hexadecimal)";
  }
  if (name != nullptr) name->assign(text.begin(), text.begin() + static_cast<ptrdiff_t>(equals));
  if (value != nullptr) *value = number;
  return "";
}

sim::usb::ControllerIdentity ControllerNamed(const std::string& name) {
  sim::usb::ControllerIdentity identity;
  if (name == "amd-ohci") {
    identity.pciVendorId = 0x1022;
    identity.flavor = OHCI_Generic;
  } else if (name == "ati") {
    identity.pciVendorId = 0x1002;
    identity.flavor = OHCI_Generic;
  }
  return identity;
}

std::vector<std::string> UnreadValueNotes(const StartSettings& start) {
  std::vector<std::string> notes;
  for (const auto& [name, value] : start.registry) {
    bool read = false;
    for (PCWSTR known : {kForceAmdChipsetValue, kDsdNativeModeValue, kDumpCaptureValue,
                         kSampleRateValue}) {
      read = read || SameNameIgnoringCase(name, known);
    }
    if (!read) {
      notes.push_back("the driver reads no hardware key value named " +
                      std::string(name.begin(), name.end()) +
                      " (it reads ForceAMDChipset, DSDNativeModeSupported, gDumpCapture, "
                      "SampleRate)");
    }
  }
  return notes;
}

}  // namespace tarnlink::tool
