// Names a person reads in place of the codes USB and its audio class put in descriptors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnlink::tool {

// "Headphones" for 0x0302; the group's name ("output, undefined") for a code the table lacks.
std::string TerminalTypeName(uint16_t terminalType);

// The channels a channel configuration bitmap names, in bit order ("FL", "FR", ...). Audio 1.0
// and 2.0 share the first bits; bits without a name appear as "bitN".
std::vector<std::string> ChannelNames(uint32_t config, bool uac2);

// Feature unit controls as the driver numbers them (the class's control selector minus 1).
std::string FeatureControlName(uint32_t control);

// A clock source's kind from bits 0..1 of its bmAttributes: "external", "internal_fixed",
// "internal_variable" or "internal_programmable".
std::string ClockKindName(uint8_t attributes);

// The class of an interface: "audio control", "HID", "device firmware upgrade", ...
std::string InterfaceClassName(uint8_t interfaceClass, uint8_t subclass);

}  // namespace tarnlink::tool
