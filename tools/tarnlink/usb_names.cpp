#include "usb_names.h"

#include <cstdio>

namespace tarnlink::tool {
namespace {

struct Named {
  uint16_t code;
  const char* name;
};

// Terminal types of the USB audio terminal types document.
constexpr Named kTerminalTypes[] = {
    {0x0100, "USB undefined"},
    {0x0101, "USB streaming"},
    {0x01FF, "USB vendor specific"},
    {0x0200, "input undefined"},
    {0x0201, "Microphone"},
    {0x0202, "Desktop microphone"},
    {0x0203, "Personal microphone"},
    {0x0204, "Omni-directional microphone"},
    {0x0205, "Microphone array"},
    {0x0206, "Processing microphone array"},
    {0x0300, "output undefined"},
    {0x0301, "Speaker"},
    {0x0302, "Headphones"},
    {0x0303, "Head mounted display audio"},
    {0x0304, "Desktop speaker"},
    {0x0305, "Room speaker"},
    {0x0306, "Communication speaker"},
    {0x0307, "Low frequency effects speaker"},
    {0x0400, "bidirectional undefined"},
    {0x0401, "Handset"},
    {0x0402, "Headset"},
    {0x0403, "Speakerphone"},
    {0x0404, "Echo-suppressing speakerphone"},
    {0x0405, "Echo-cancelling speakerphone"},
    {0x0500, "telephony undefined"},
    {0x0501, "Phone line"},
    {0x0502, "Telephone"},
    {0x0503, "Down line phone"},
    {0x0600, "external undefined"},
    {0x0601, "Analog connector"},
    {0x0602, "Digital audio interface"},
    {0x0603, "Line connector"},
    {0x0604, "Legacy audio connector"},
    {0x0605, "S/PDIF interface"},
    {0x0606, "1394 DA stream"},
    {0x0607, "1394 DV stream soundtrack"},
    {0x0608, "ADAT Lightpipe"},
    {0x0609, "TDIF"},
    {0x060A, "MADI"},
    {0x0700, "embedded undefined"},
    {0x0701, "Level calibration noise source"},
    {0x0702, "Equalization noise"},
    {0x0703, "CD player"},
    {0x0704, "DAT"},
    {0x0705, "DCC"},
    {0x0706, "MiniDisc"},
    {0x0707, "Analog tape"},
    {0x0708, "Phonograph"},
    {0x0709, "VCR audio"},
    {0x070A, "Video disc audio"},
    {0x070B, "DVD audio"},
    {0x070C, "TV tuner audio"},
    {0x070D, "Satellite receiver audio"},
    {0x070E, "Cable tuner audio"},
    {0x070F, "DSS audio"},
    {0x0710, "Radio receiver"},
    {0x0711, "Radio transmitter"},
    {0x0712, "Multi-track recorder"},
    {0x0713, "Synthesizer"},
};

// Spatial positions of the channel configuration bits.
constexpr const char* kUac1Channels[] = {"L",  "R",  "C",  "LFE", "Ls", "Rs",
                                         "Lc", "Rc", "S",  "Sl",  "Sr", "T"};
constexpr const char* kUac2Channels[] = {"FL",  "FR",  "FC",  "LFE", "BL",   "BR",  "FLC",
                                         "FRC", "BC",  "SL",  "SR",  "TC",   "TFL", "TFC",
                                         "TFR", "TBL", "TBC", "TBR", "TFLC", "TFRC", "LLFE",
                                         "RLFE", "TSL", "TSR", "BtC", "BLC", "BRC"};

constexpr const char* kFeatureControls[] = {
    "mute",      "volume",    "bass",       "mid",        "treble",
    "graphic_equalizer", "automatic_gain", "delay", "bass_boost", "loudness",
    "input_gain", "input_gain_pad", "phase_inverter", "underflow", "overflow"};

std::string Hex(const char* format, unsigned value) {
  char text[32];
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

}  // namespace

std::string TerminalTypeName(uint16_t terminalType) {
  for (const Named& n : kTerminalTypes) {
    if (n.code == terminalType) return n.name;
  }
  for (const Named& n : kTerminalTypes) {
    if (n.code == (terminalType & 0xFF00)) return n.name;
  }
  return Hex("type 0x%04X", terminalType);
}

std::vector<std::string> ChannelNames(uint32_t config, bool uac2) {
  std::vector<std::string> names;
  const size_t known = uac2 ? std::size(kUac2Channels) : std::size(kUac1Channels);
  for (uint32_t bit = 0; bit < 32; ++bit) {
    if ((config & (1u << bit)) == 0) continue;
    if (bit < known) {
      names.push_back(uac2 ? kUac2Channels[bit] : kUac1Channels[bit]);
    } else {
      names.push_back("bit" + std::to_string(bit));
    }
  }
  return names;
}

std::string FeatureControlName(uint32_t control) {
  return control < std::size(kFeatureControls) ? kFeatureControls[control]
                                                : "control" + std::to_string(control + 1);
}

std::string ClockKindName(uint8_t attributes) {
  static const char* const kKinds[] = {"external", "internal_fixed", "internal_variable",
                                       "internal_programmable"};
  return kKinds[attributes & 3];
}

std::string InterfaceClassName(uint8_t interfaceClass, uint8_t subclass) {
  switch (interfaceClass) {
    case 0x01:
      return subclass == 1   ? "audio control"
             : subclass == 2 ? "audio streaming"
             : subclass == 3 ? "MIDI streaming"
                             : "audio";
    case 0x02:
      return "communications";
    case 0x03:
      return "HID";
    case 0x08:
      return "mass storage";
    case 0x0A:
      return "CDC data";
    case 0xFE:
      return subclass == 1 ? "device firmware upgrade" : "application specific";
    case 0xFF:
      return "vendor specific";
    default:
      return Hex("class 0x%02X", interfaceClass);
  }
}

}  // namespace tarnlink::tool
