#include "sim/devices/descriptor_parser.h"

#include <set>
#include <sstream>

#include "sim/devices/byte_writer.h"
#include "sim/devices/uac_constants.h"

namespace sim::devices {
namespace {

struct Descriptor {
  size_t offset = 0;
  std::span<const uint8_t> bytes;
  uint8_t Type() const { return bytes[1]; }
  uint8_t Subtype() const { return bytes.size() > 2 ? bytes[2] : 0; }
  uint32_t At(size_t i, size_t n = 1) const { return ReadLe(bytes.data() + i, n); }
};

class DumpParser {
 public:
  DumpParser(std::span<const uint8_t> config, const DumpDefaults& defaults)
      : config_(config), defaults_(defaults) {}

  bool Parse(std::span<const uint8_t> device, AudioFunctionSpec& spec);
  const std::string& Error() const { return error_; }

 private:
  bool Fail(size_t offset, const std::string& what) {
    std::ostringstream out;
    out << "offset " << offset << ": " << what;
    error_ = out.str();
    return false;
  }
  bool Split();
  bool Short(const Descriptor& d, size_t need, const char* what) {
    if (d.bytes.size() >= need) return false;
    std::ostringstream out;
    out << what << " is " << d.bytes.size() << " bytes, needs " << need;
    Fail(d.offset, out.str());
    return true;
  }
  bool Interface(const Descriptor& d) const { return d.Type() == USB_INTERFACE_DESCRIPTOR_TYPE; }
  bool AudioInterface(const Descriptor& d, uint8_t subclass) const {
    return Interface(d) && d.At(5) == audioClass_ && d.At(6) == subclass;
  }
  bool Entities(size_t header, AudioFunctionSpec& spec);
  bool Entity(const Descriptor& d, AudioFunctionSpec& spec);
  bool Streaming(size_t& i, AudioFunctionSpec& spec);
  bool AltSetting(size_t& i, AltSettingSpec& alt, StreamingInterfaceSpec& s);

  std::span<const uint8_t> config_;
  const DumpDefaults& defaults_;
  std::vector<Descriptor> list_;
  std::string error_;
  uint8_t audioClass_ = USB_DEVICE_CLASS_AUDIO;
  bool uac2_ = false;
};

bool DumpParser::Split() {
  if (config_.size() < sizeof(USB_CONFIGURATION_DESCRIPTOR))
    return Fail(0, "configuration descriptor truncated");
  if (config_[1] != USB_CONFIGURATION_DESCRIPTOR_TYPE || config_[0] < 9)
    return Fail(0, "not a configuration descriptor");
  const size_t total = ReadLe(config_.data() + 2, 2);
  if (total > config_.size()) {
    std::ostringstream out;
    out << "wTotalLength " << total << " exceeds the " << config_.size() << " bytes present";
    return Fail(2, out.str());
  }
  config_ = config_.first(total);
  for (size_t at = 0; at < config_.size();) {
    if (config_.size() - at < 2) return Fail(at, "descriptor header truncated");
    const size_t length = config_[at];
    if (length < 2) return Fail(at, "bLength below 2");
    if (length > config_.size() - at) return Fail(at, "descriptor runs past wTotalLength");
    list_.push_back({at, config_.subspan(at, length)});
    at += length;
  }
  return true;
}

bool DumpParser::Entity(const Descriptor& d, AudioFunctionSpec& spec) {
  switch (d.Subtype()) {
    case uac::kAcInputTerminal: {
      if (Short(d, uac2_ ? 17 : 12, "input terminal")) return false;
      InputTerminalSpec t{};
      t.bTerminalID = d.bytes[3];
      t.wTerminalType = static_cast<uint16_t>(d.At(4, 2));
      t.bAssocTerminal = d.bytes[6];
      if (uac2_) {
        t.bCSourceID = d.bytes[7];
        t.bNrChannels = d.bytes[8];
        t.bmChannelConfig = d.At(9, 4);
        t.bmControls = static_cast<uint16_t>(d.At(14, 2));
      } else {
        t.bNrChannels = d.bytes[7];
        t.bmChannelConfig = d.At(8, 2);
      }
      spec.entities.push_back(t);
      return true;
    }
    case uac::kAcOutputTerminal: {
      if (Short(d, uac2_ ? 12 : 9, "output terminal")) return false;
      OutputTerminalSpec t{};
      t.bTerminalID = d.bytes[3];
      t.wTerminalType = static_cast<uint16_t>(d.At(4, 2));
      t.bAssocTerminal = d.bytes[6];
      t.bSourceID = d.bytes[7];
      if (uac2_) {
        t.bCSourceID = d.bytes[8];
        t.bmControls = static_cast<uint16_t>(d.At(9, 2));
      }
      spec.entities.push_back(t);
      return true;
    }
    case uac::kAcFeatureUnit: {
      FeatureUnitSpec f{};
      size_t first = 5, width = 4;
      if (!uac2_) {
        if (Short(d, 8, "feature unit")) return false;
        f.bControlSize = d.bytes[5];
        if (f.bControlSize == 0) return Fail(d.offset, "feature unit with bControlSize 0");
        first = 6;
        width = f.bControlSize;
      } else if (Short(d, 10, "feature unit")) {
        return false;
      }
      // The controls run up to the trailing iFeature byte.
      const size_t channels = (d.bytes.size() - first - 1) / width;
      if (channels == 0) return Fail(d.offset, "feature unit without a master channel");
      f.bUnitID = d.bytes[3];
      f.bSourceID = d.bytes[4];
      for (size_t c = 0; c < channels; ++c)
        f.bmaControls.push_back(d.At(first + c * width, width < 4 ? width : 4));
      spec.entities.push_back(f);
      return true;
    }
    case uac::kAc2ClockSource:
      if (!uac2_) break;
      {
        if (Short(d, 8, "clock source")) return false;
        ClockSourceSpec c{};
        c.bClockID = d.bytes[3];
        c.bmAttributes = d.bytes[4];
        c.bmControls = d.bytes[5];
        c.bAssocTerminal = d.bytes[6];
        const auto own = defaults_.clockRatesById.find(c.bClockID);
        c.rates = own != defaults_.clockRatesById.end() ? own->second : defaults_.clockRates;
        spec.entities.push_back(c);
        return true;
      }
    case uac::kAc2ClockSelector:
      if (!uac2_) break;
      {
        if (Short(d, 7, "clock selector") || Short(d, 7u + d.bytes[4], "clock selector"))
          return false;
        ClockSelectorSpec c{};
        c.bClockID = d.bytes[3];
        c.baCSourceID.assign(d.bytes.begin() + 5, d.bytes.begin() + 5 + d.bytes[4]);
        c.bmControls = d.bytes[5 + d.bytes[4]];
        spec.entities.push_back(c);
        return true;
      }
    default:
      break;
  }
  spec.entities.push_back(RawEntitySpec{{d.bytes.begin(), d.bytes.end()}});
  return true;
}

bool DumpParser::Entities(size_t header, AudioFunctionSpec& spec) {
  const Descriptor& h = list_[header];
  const size_t lengthAt = uac2_ ? 6 : 5;
  if (Short(h, lengthAt + 2, "audio control header")) return false;
  const size_t end = h.offset + h.At(lengthAt, 2);
  size_t i = header + 1;
  for (; i < list_.size() && list_[i].offset < end && !Interface(list_[i]); ++i) {
    if (list_[i].Type() != uac::kCsInterface) continue;
    if (list_[i].bytes.size() < 4) return Fail(list_[i].offset, "entity descriptor truncated");
    if (!Entity(list_[i], spec)) return false;
  }
  // Firmware that overstates the block is reproduced as it is, as long as the claim stays
  // within the configuration.
  const size_t interfaceEnd = i < list_.size() ? list_[i].offset : config_.size();
  if (end > config_.size())
    return Fail(h.offset, "audio control wTotalLength runs past its interface");
  if (end > interfaceEnd) spec.acTotalLengthExcess = static_cast<uint16_t>(end - interfaceEnd);
  return true;
}

bool DumpParser::AltSetting(size_t& i, AltSettingSpec& alt, StreamingInterfaceSpec& s) {
  const Descriptor& iface = list_[i];
  bool general = false, format = false;
  std::vector<EndpointSpec> endpoints;
  for (++i; i < list_.size() && !Interface(list_[i]) &&
            list_[i].Type() != USB_INTERFACE_ASSOCIATION_DESCRIPTOR_TYPE;
       ++i) {
    const Descriptor& d = list_[i];
    if (d.Type() == uac::kCsInterface && d.Subtype() == uac::kAsGeneral && !general) {
      if (Short(d, uac2_ ? 16 : 7, "streaming general descriptor")) return false;
      general = true;
      s.bTerminalLink = d.bytes[3];
      if (uac2_) {
        alt.bFormatType = d.bytes[5];
        alt.bmFormats = d.At(6, 4);
        alt.bNrChannels = d.bytes[10];
        alt.bmChannelConfig = d.At(11, 4);
      } else {
        s.bDelay = d.bytes[4];
        alt.wFormatTag = static_cast<uint16_t>(d.At(5, 2));
      }
    } else if (d.Type() == uac::kCsInterface && d.Subtype() == uac::kAsFormatType && !format) {
      format = true;
      if (uac2_) {
        if (Short(d, 6, "format type descriptor")) return false;
        alt.bFormatType = d.bytes[3];
        alt.bSubslotSize = d.bytes[4];
        alt.bBitResolution = d.bytes[5];
        continue;
      }
      if (Short(d, 8, "format type descriptor")) return false;
      alt.bFormatType = d.bytes[3];
      alt.bNrChannels = d.bytes[4];
      alt.bSubslotSize = d.bytes[5];
      alt.bBitResolution = d.bytes[6];
      const size_t rates = d.bytes[7];
      if (Short(d, 8 + 3 * (rates == 0 ? 2 : rates), "format type descriptor")) return false;
      if (rates == 0) {
        alt.tLowerSamFreq = d.At(8, 3);
        alt.tUpperSamFreq = d.At(11, 3);
      }
      for (size_t r = 0; r < rates; ++r) alt.tSamFreq.push_back(d.At(8 + 3 * r, 3));
    } else if (d.Type() == USB_ENDPOINT_DESCRIPTOR_TYPE) {
      if (Short(d, 7, "endpoint descriptor")) return false;
      EndpointSpec ep{};
      ep.bEndpointAddress = d.bytes[2];
      ep.bmAttributes = d.bytes[3];
      ep.wMaxPacketSize = static_cast<uint16_t>(d.At(4, 2));
      ep.bInterval = d.bytes[6];
      if (d.bytes.size() >= 9) {
        ep.bRefresh = d.bytes[7];
        ep.bSynchAddress = d.bytes[8];
      }
      endpoints.push_back(ep);
    } else if (d.Type() == uac::kCsEndpoint && d.Subtype() == uac::kEpGeneral) {
      if (Short(d, 4, "class-specific endpoint descriptor")) return false;
      if (endpoints.size() == 1) alt.endpointAttributes = d.bytes[3];
    }
  }
  if (!general || !format)
    return Fail(iface.offset, "streaming alternate setting lacks its general or format descriptor");
  // The data endpoint is the one no other endpoint names as its synchronisation endpoint and
  // that is not itself a feedback endpoint; the feedback endpoint is the isochronous other one.
  std::optional<size_t> data;
  for (size_t e = 0; e < endpoints.size() && !data; ++e) {
    bool named = false;
    for (const EndpointSpec& other : endpoints)
      named = named ||
              (other.bSynchAddress != 0 && other.bSynchAddress == endpoints[e].bEndpointAddress);
    if (!named && endpoints[e].Usage() != USB_ENDPOINT_TYPE_ISOCHRONOUS_USAGE_FEEDBACK_ENDPOINT)
      data = e;
  }
  if (!data) return Fail(iface.offset, "streaming alternate setting without a data endpoint");
  alt.data = endpoints[*data];
  for (size_t e = 0; e < endpoints.size(); ++e)
    if (e != *data &&
        (endpoints[e].bmAttributes & USB_ENDPOINT_TYPE_MASK) == USB_ENDPOINT_TYPE_ISOCHRONOUS &&
        !alt.feedback)
      alt.feedback = endpoints[e];
  return true;
}

bool DumpParser::Streaming(size_t& i, AudioFunctionSpec& spec) {
  const uint8_t number = list_[i].bytes[2];
  StreamingInterfaceSpec* s = nullptr;
  for (StreamingInterfaceSpec& known : spec.streams)
    if (known.bInterfaceNumber == number) s = &known;
  if (!s) {
    spec.streams.push_back({});
    s = &spec.streams.back();
    s->bInterfaceNumber = number;
  }
  const uint8_t altNumber = list_[i].bytes[3];
  if (altNumber == 0 || list_[i].bytes[4] == 0) {
    ++i;
    return true;
  }
  AltSettingSpec alt{};
  alt.bAlternateSetting = altNumber;
  if (!AltSetting(i, alt, *s)) return false;
  s->alts.push_back(alt);
  return true;
}

bool DumpParser::Parse(std::span<const uint8_t> device, AudioFunctionSpec& spec) {
  if (device.size() < sizeof(USB_DEVICE_DESCRIPTOR) || device[0] != 18 ||
      device[1] != USB_DEVICE_DESCRIPTOR_TYPE)
    return Fail(0, "not a device descriptor");
  spec.bcdUSB = static_cast<uint16_t>(ReadLe(device.data() + 2, 2));
  spec.idVendor = static_cast<uint16_t>(ReadLe(device.data() + 8, 2));
  spec.idProduct = static_cast<uint16_t>(ReadLe(device.data() + 10, 2));
  spec.bcdDevice = static_cast<uint16_t>(ReadLe(device.data() + 12, 2));
  if (!Split()) return false;
  spec.bmAttributes = config_[7];
  spec.MaxPower = config_[8];

  size_t control = list_.size();
  for (size_t i = 0; i < list_.size() && control == list_.size(); ++i) {
    const Descriptor& d = list_[i];
    if (Interface(d) && d.bytes.size() >= 9 && d.At(3) == 0 &&
        d.At(6) == uac::kSubclassAudioControl &&
        (d.At(5) == USB_DEVICE_CLASS_AUDIO || d.At(5) == USB_DEVICE_CLASS_VENDOR_SPECIFIC))
      control = i;
  }
  if (control == list_.size()) return Fail(0, "no audio control interface");
  audioClass_ = list_[control].bytes[5];
  spec.audioClass = audioClass_;
  spec.controlInterface = list_[control].bytes[2];
  if (control + 1 >= list_.size() || list_[control + 1].Type() != uac::kCsInterface ||
      list_[control + 1].Subtype() != uac::kAcHeader || list_[control + 1].bytes.size() < 5)
    return Fail(list_[control].offset, "audio control interface not followed by its header");
  const uint32_t bcdADC = list_[control + 1].At(3, 2);
  uac2_ = bcdADC == 0x0200;
  spec.version = uac2_ ? UacVersion::Uac2 : UacVersion::Uac1;
  spec.speed = defaults_.speed.value_or(uac2_ ? UsbSpeed::High : UsbSpeed::Full);
  if (uac2_ && list_[control + 1].bytes.size() >= 6) spec.bCategory = list_[control + 1].bytes[5];
  if (!Entities(control + 1, spec)) return false;

  spec.interfaceAssociation = false;
  std::set<uint8_t> extra;
  for (size_t i = 1; i < list_.size();) {
    const Descriptor& d = list_[i];
    if (d.Type() == USB_INTERFACE_ASSOCIATION_DESCRIPTOR_TYPE) spec.interfaceAssociation = true;
    if (Interface(d) && d.bytes.size() < 9) return Fail(d.offset, "interface descriptor truncated");
    if (AudioInterface(d, uac::kSubclassAudioStreaming)) {
      if (!Streaming(i, spec)) return false;
      continue;
    }
    if (Interface(d) && d.At(2) != spec.controlInterface) {
      extra.insert(d.bytes[2]);
      do {
        spec.extraInterfaces.insert(spec.extraInterfaces.end(), list_[i].bytes.begin(),
                                    list_[i].bytes.end());
      } while (++i < list_.size() && !Interface(list_[i]));
      continue;
    }
    ++i;
  }
  spec.extraInterfaceCount = static_cast<uint8_t>(extra.size());
  spec.manufacturer = device[14] ? defaults_.manufacturer : "";
  spec.product = device[15] ? defaults_.product : "";
  spec.serialNumber = device[16] ? defaults_.serialNumber : "";
  return true;
}

}  // namespace

ParsedDump ParseConfiguration(std::span<const uint8_t> device, std::span<const uint8_t> config,
                              const DumpDefaults& defaults) {
  ParsedDump out;
  DumpParser parser(config, defaults);
  AudioFunctionSpec spec;
  if (!parser.Parse(device, spec)) {
    out.error = parser.Error();
    return out;
  }
  out.deviceDescriptor.assign(device.begin(), device.begin() + sizeof(USB_DEVICE_DESCRIPTOR));
  out.configurationDescriptor.assign(config.begin(), config.begin() + ReadLe(config.data() + 2, 2));
  out.spec = std::move(spec);
  return out;
}

ParsedDump ParseDescriptorDump(std::span<const uint8_t> bytes, const DumpDefaults& defaults) {
  if (bytes.size() < sizeof(USB_DEVICE_DESCRIPTOR)) {
    ParsedDump out;
    out.error = "offset 0: dump shorter than a device descriptor";
    return out;
  }
  return ParseConfiguration(bytes.first(sizeof(USB_DEVICE_DESCRIPTOR)),
                            bytes.subspan(sizeof(USB_DEVICE_DESCRIPTOR)), defaults);
}

}  // namespace sim::devices
