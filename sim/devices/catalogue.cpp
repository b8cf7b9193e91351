#include "sim/devices/catalogue.h"

#include "sim/devices/byte_writer.h"
#include "sim/devices/descriptor_builder.h"
#include "sim/devices/extra_interfaces.h"
#include "sim/devices/uac_constants.h"

namespace sim::devices {
namespace {

constexpr uint8_t kIsoAsync =
    USB_ENDPOINT_TYPE_ISOCHRONOUS | USB_ENDPOINT_TYPE_ISOCHRONOUS_SYNCHRONIZATION_ASYNCHRONOUS;
constexpr uint8_t kIsoAdaptive =
    USB_ENDPOINT_TYPE_ISOCHRONOUS | USB_ENDPOINT_TYPE_ISOCHRONOUS_SYNCHRONIZATION_ADAPTIVE;
constexpr uint8_t kIsoSynchronous =
    USB_ENDPOINT_TYPE_ISOCHRONOUS | USB_ENDPOINT_TYPE_ISOCHRONOUS_SYNCHRONIZATION_SYNCHRONOUS;
constexpr uint8_t kIsoFeedback =
    USB_ENDPOINT_TYPE_ISOCHRONOUS | USB_ENDPOINT_TYPE_ISOCHRONOUS_USAGE_FEEDBACK_ENDPOINT;
constexpr uint8_t kIsoImplicitCapture =
    kIsoAsync | USB_ENDPOINT_TYPE_ISOCHRONOUS_USAGE_IMPLICIT_FEEDBACK_DATA_ENDPOINT;

const std::vector<uint32_t> k44Family = {44100, 88200, 176400, 352800, 705600};
const std::vector<uint32_t> k48Family = {48000, 96000, 192000, 384000, 768000};
const std::vector<uint32_t> kUpTo192 = {44100, 48000, 88200, 96000, 176400, 192000};

struct Depth {
  uint8_t subslot, bits;
};

// Alternate settings of one Audio 2.0 streaming interface, one per sample depth.
std::vector<AltSettingSpec> Uac2Alts(uint8_t channels, std::initializer_list<Depth> depths,
                                     uint32_t maxRate, EndpointSpec data,
                                     std::optional<EndpointSpec> feedback,
                                     uint32_t headerBytes = 0) {
  std::vector<AltSettingSpec> alts;
  for (Depth d : depths) {
    AltSettingSpec a{};
    a.bNrChannels = channels;
    a.bSubslotSize = d.subslot;
    a.bBitResolution = d.bits;
    a.bmFormats = uac::kFormatPcm;
    a.bmChannelConfig = channels == 2 ? 3 : 0;
    a.data = data;
    a.data.wMaxPacketSize = static_cast<uint16_t>(
        PacketSizeFor(maxRate, UsbSpeed::High, data.bInterval, a.FrameBytes()) + headerBytes);
    a.feedback = feedback;
    alts.push_back(a);
  }
  return alts;
}

AltSettingSpec Uac1Alt(uint8_t channels, std::vector<uint32_t> rates, EndpointSpec data,
                       std::optional<EndpointSpec> feedback) {
  AltSettingSpec a{};
  a.bNrChannels = channels;
  a.bSubslotSize = 2;
  a.bBitResolution = 16;
  a.wFormatTag = uac::kFormatTagPcm;
  a.tSamFreq = std::move(rates);
  a.endpointAttributes = 0x01;  // sampling frequency control
  a.data = data;
  a.data.wMaxPacketSize = PacketSizeFor(a.tSamFreq.back(), UsbSpeed::Full, 1, a.FrameBytes());
  a.feedback = feedback;
  return a;
}

EndpointSpec Iso(uint8_t address, uint8_t attributes, uint8_t interval = 1, uint16_t size = 0) {
  EndpointSpec ep{};
  ep.bEndpointAddress = address;
  ep.bmAttributes = attributes;
  ep.bInterval = interval;
  ep.wMaxPacketSize = size;
  return ep;
}

ClockSourceSpec Clock(uint8_t id, std::vector<uint32_t> rates) {
  ClockSourceSpec c{};
  c.bClockID = id;
  c.rates = std::move(rates);
  return c;
}

InputTerminalSpec InputTerminal(uint8_t id, uint16_t type, uint8_t clock, uint8_t channels) {
  InputTerminalSpec t{};
  t.bTerminalID = id;
  t.wTerminalType = type;
  t.bCSourceID = clock;
  t.bNrChannels = channels;
  t.bmChannelConfig = channels == 2 ? 3 : 0;
  return t;
}

OutputTerminalSpec OutputTerminal(uint8_t id, uint16_t type, uint8_t source, uint8_t clock,
                                  uint16_t controls = 0) {
  OutputTerminalSpec t{};
  t.bTerminalID = id;
  t.wTerminalType = type;
  t.bSourceID = source;
  t.bCSourceID = clock;
  t.bmControls = controls;
  return t;
}

FeatureUnitSpec Feature(uint8_t id, uint8_t source, std::vector<uint32_t> controls) {
  FeatureUnitSpec f{};
  f.bUnitID = id;
  f.bSourceID = source;
  f.bmaControls = std::move(controls);
  return f;
}

StreamingInterfaceSpec Streaming(uint8_t number, uint8_t terminal,
                                 std::vector<AltSettingSpec> alts) {
  StreamingInterfaceSpec s{};
  s.bInterfaceNumber = number;
  s.bTerminalLink = terminal;
  s.alts = std::move(alts);
  return s;
}

AudioFunctionSpec Uac2Function(uint16_t vendor, uint16_t product, std::string name) {
  AudioFunctionSpec f{};
  f.version = UacVersion::Uac2;
  f.speed = UsbSpeed::High;
  f.idVendor = vendor;
  f.idProduct = product;
  f.manufacturer = "Simulated Audio";
  f.product = std::move(name);
  return f;
}

// A stereo Audio 2.0 DAC with one clock, asynchronous playback and a feedback endpoint, and
// optionally capture on the same clock.
AudioFunctionSpec SimpleUac2(uint16_t vendor, uint16_t product, std::string name, bool capture,
                             uint8_t audioClass = USB_DEVICE_CLASS_AUDIO) {
  AudioFunctionSpec f = Uac2Function(vendor, product, std::move(name));
  f.audioClass = audioClass;
  f.entities = {Clock(1, kUpTo192), InputTerminal(10, uac::kTerminalUsbStreaming, 1, 2),
                OutputTerminal(12, uac::kTerminalSpeaker, 10, 1)};
  f.streams = {Streaming(1, 10,
                         Uac2Alts(2, {{3, 24}, {4, 32}}, 192000, Iso(0x01, kIsoAsync),
                                  Iso(0x81, kIsoFeedback, 4, 4)))};
  if (capture) {
    f.entities.push_back(InputTerminal(20, uac::kTerminalLineConnector, 1, 2));
    f.entities.push_back(OutputTerminal(22, uac::kTerminalUsbStreaming, 20, 1));
    f.streams.push_back(
        Streaming(2, 22, Uac2Alts(2, {{4, 24}}, 192000, Iso(0x82, kIsoAsync), std::nullopt)));
  }
  return f;
}

CatalogueEntry VelmorDac() {
  AudioFunctionSpec f = Uac2Function(0x7A31, 0x0C5E, "Velmor USB Audio Tarn");
  f.manufacturer = "Velmor";
  f.serialNumber = "VT0001";
  ClockSelectorSpec selector{};
  selector.bClockID = 3;
  selector.baCSourceID = {1, 2};
  f.entities = {Clock(1, k44Family), Clock(2, k48Family), selector,
                InputTerminal(10, uac::kTerminalUsbStreaming, 3, 2), Feature(11, 10, {0x0F, 0, 0}),
                // Connector control readable: the headphone jack reports insertion.
                OutputTerminal(12, uac::kTerminalHeadphones, 11, 3, 0x0004),
                InputTerminal(20, uac::kTerminalLineConnector, 3, 2),
                OutputTerminal(22, uac::kTerminalUsbStreaming, 20, 3)};
  const std::initializer_list<Depth> depths = {{2, 16}, {3, 24}, {4, 32}};
  f.streams = {
      Streaming(1, 10,
                Uac2Alts(2, depths, 768000, Iso(0x01, kIsoAsync), Iso(0x81, kIsoFeedback, 4, 4))),
      Streaming(2, 22, Uac2Alts(2, depths, 768000, Iso(0x82, kIsoAsync), std::nullopt))};
  DeviceBehaviour b{};
  b.crystalPpm = 35;
  b.validityLagUs = 3000;
  b.nativeDsd = true;
  return {"velmor-dac",
          "the default device: Audio 2.0 at high speed, asynchronous playback with explicit "
          "16.16 feedback, stereo capture, 16/24/32-bit PCM from 44.1 to 768 kHz through two "
          "clock sources behind a selector with a lagging validity flag, master mute and volume, "
          "a headphone connector, native DSD through the stream-kind request",
          f, b};
}

AudioFunctionSpec Uac1Function(uint16_t product, std::string name) {
  AudioFunctionSpec f = Uac2Function(0x1209, product, std::move(name));
  f.version = UacVersion::Uac1;
  f.speed = UsbSpeed::Full;
  return f;
}

CatalogueEntry Uac1Speaker() {
  AudioFunctionSpec f = Uac1Function(0x5A01, "UAC1 Speaker");
  f.bcdUSB = 0x0110;
  f.entities = {InputTerminal(1, uac::kTerminalUsbStreaming, 0, 2), Feature(2, 1, {0x03, 0, 0}),
                OutputTerminal(3, uac::kTerminalSpeaker, 2, 0)};
  f.streams = {
      Streaming(1, 1, {Uac1Alt(2, {44100, 48000}, Iso(0x01, kIsoAdaptive), std::nullopt)})};
  return {"uac1-speaker",
          "Audio 1.0 at full speed with an adaptive endpoint: rate-pattern packet sizing, the "
          "endpoint sampling-frequency request, GET_CUR/MIN/MAX/RES volume",
          f, DeviceBehaviour{}};
}

CatalogueEntry Uac1Headset() {
  AudioFunctionSpec f = Uac1Function(0x5A02, "UAC1 Headset");
  f.entities = {InputTerminal(1, uac::kTerminalUsbStreaming, 0, 2),
                Feature(2, 1, {0x03, 0, 0}),
                OutputTerminal(3, uac::kTerminalHeadphones, 2, 0),
                InputTerminal(4, uac::kTerminalMicrophone, 0, 1),
                Feature(5, 4, {0x03, 0}),
                OutputTerminal(6, uac::kTerminalUsbStreaming, 5, 0)};
  EndpointSpec data = Iso(0x01, kIsoAsync);
  data.bSynchAddress = 0x81;
  EndpointSpec sync = Iso(0x81, USB_ENDPOINT_TYPE_ISOCHRONOUS, 1, 3);
  sync.bRefresh = 1;
  f.streams = {Streaming(1, 1, {Uac1Alt(2, {44100, 48000}, data, sync)}),
               Streaming(2, 6, {Uac1Alt(1, {44100, 48000}, Iso(0x82, kIsoAsync), std::nullopt)})};
  DeviceBehaviour b{};
  b.crystalPpm = -60;
  return {"uac1-headset",
          "Audio 1.0 at full speed: asynchronous playback whose 10.14 feedback endpoint is named "
          "by bSynchAddress, mono capture on the device clock",
          f, b};
}

CatalogueEntry Uac2Implicit() {
  AudioFunctionSpec f = Uac2Function(0x1209, 0x5A03, "UAC2 Implicit Interface");
  f.entities = {Clock(1, kUpTo192), InputTerminal(10, uac::kTerminalUsbStreaming, 1, 2),
                OutputTerminal(12, uac::kTerminalLineConnector, 10, 1),
                InputTerminal(20, uac::kTerminalLineConnector, 1, 2),
                OutputTerminal(22, uac::kTerminalUsbStreaming, 20, 1)};
  f.streams = {
      Streaming(1, 10, Uac2Alts(2, {{4, 24}}, 192000, Iso(0x01, kIsoAsync), std::nullopt)),
      Streaming(2, 22,
                Uac2Alts(2, {{4, 24}}, 192000, Iso(0x81, kIsoImplicitCapture), std::nullopt))};
  DeviceBehaviour b{};
  b.crystalPpm = 120;
  return {"uac2-implicit",
          "Audio 2.0 at high speed whose asynchronous playback has no feedback endpoint and "
          "follows the capture stream (implicit feedback data endpoint); capture packet sizes "
          "follow a clock 120 ppm fast",
          f, b};
}

CatalogueEntry Uac2PlaybackOnly() {
  AudioFunctionSpec f = SimpleUac2(0x1209, 0x5A04, "UAC2 Playback DAC", false);
  f.entities.insert(f.entities.begin() + 2, Feature(11, 10, {0x0F, 0x0C, 0x0C}));
  std::get<OutputTerminalSpec>(f.entities.back()).bSourceID = 11;
  DeviceBehaviour b{};
  b.crystalPpm = -20;
  return {"uac2-playback-only",
          "Audio 2.0 at high speed without capture: the capture side stays absent, feedback "
          "alone paces playback, per-channel volume",
          f, b};
}

CatalogueEntry Uac2SlowFeedback() {
  AudioFunctionSpec f = SimpleUac2(0x1209, 0x5A05, "UAC2 Slow Feedback DAC", true);
  for (AltSettingSpec& a : f.streams[0].alts) a.feedback->bInterval = 8;
  DeviceBehaviour b{};
  b.crystalPpm = 80;
  return {"uac2-slow-feedback",
          "Audio 2.0 at high speed whose feedback endpoint is polled only every 16 ms "
          "(bInterval 8) while capture shares the playback clock: a host that cannot serve such "
          "feedback must pace playback by the capture stream",
          f, b};
}

std::vector<CatalogueEntry> QuirkDevices() {
  std::vector<CatalogueEntry> out;
  {
    AudioFunctionSpec f = SimpleUac2(0x1686, 0x00DD, "Length Header Interface", false,
                                     USB_DEVICE_CLASS_VENDOR_SPECIFIC);
    f.streams[0].alts = Uac2Alts(2, {{3, 24}}, 96000, Iso(0x01, kIsoSynchronous), std::nullopt, 4);
    std::get<ClockSourceSpec>(f.entities[0]).rates = {44100, 48000, 96000};
    AddVendorInterface(f, USB_DEVICE_CLASS_VENDOR_SPECIFIC, 0, 0, {}, 0x83);
    DeviceBehaviour b{};
    b.playbackLengthHeader = true;
    out.push_back({"quirk-length-header",
                   "vendor 0x1686 product 0x00DD: audio interfaces with class 0xFF, every "
                   "interface configured, synchronous playback whose packets start with a "
                   "32-bit length",
                   f, b, true});
  }
  // Devices whose every interface is configured: a plain Audio 2.0 DAC beside another interface.
  struct Companion {
    const char* name;
    uint16_t vendor, product;
    const char* productName;
    bool capture;
    uint8_t audioClass, cls, subclass, protocol;
    std::vector<uint8_t> functional;
    uint8_t interruptEndpoint;
    const char* exercises;
  };
  const Companion companions[] = {
      {"quirk-vendor-class",
       0x0499,
       0x1504,
       "Vendor Class Interface",
       true,
       USB_DEVICE_CLASS_VENDOR_SPECIFIC,
       USB_DEVICE_CLASS_VENDOR_SPECIFIC,
       0,
       0,
       {},
       0x84,
       "vendor 0x0499 product 0x1504: audio interfaces with class 0xFF and every interface "
       "configured"},
      {"quirk-dfu-interface",
       0x20B1,
       0x0002,
       "DFU Companion DAC",
       true,
       USB_DEVICE_CLASS_AUDIO,
       USB_DEVICE_CLASS_APPLICATION_SPECIFIC,
       0x01,
       0x01,
       {9, 0x21, 0x07, 0xFA, 0x00, 0x40, 0x00, 0x10, 0x01},
       0,
       "vendor 0x20B1 product 0x0002: every interface configured, including a firmware-upgrade "
       "interface (with its functional descriptor) outside the audio function"},
      {"quirk-hid-interface",
       0x054C,
       0x09D5,
       "HID Companion DAC",
       false,
       USB_DEVICE_CLASS_AUDIO,
       USB_DEVICE_CLASS_HUMAN_INTERFACE,
       0,
       0,
       {9, 0x21, 0x11, 0x01, 0x00, 0x01, 0x22, 0x20, 0x00},
       0x83,
       "vendor 0x054C product 0x09D5: every interface configured, including a HID interface "
       "with an interrupt endpoint"},
  };
  for (const Companion& c : companions) {
    AudioFunctionSpec f = SimpleUac2(c.vendor, c.product, c.productName, c.capture, c.audioClass);
    AddVendorInterface(f, c.cls, c.subclass, c.protocol, c.functional, c.interruptEndpoint);
    out.push_back({c.name, c.exercises, f, DeviceBehaviour{}, true});
  }
  {
    CatalogueEntry implicit = Uac2Implicit();
    implicit.spec.idVendor = 0x0944;
    implicit.spec.idProduct = 0x020A;
    implicit.spec.product = "Wide Window Interface";
    implicit.behaviour.crystalPpm = 0;  // keeps the lumps exactly two frames either side
    implicit.behaviour.captureHoldbackFrames = 2;
    implicit.behaviour.packetToleranceFrames = 2;
    out.push_back({"quirk-wide-window",
                   "vendor 0x0944 product 0x020A: implicit feedback whose capture packets vary "
                   "by two frames around the nominal size, needing the wide packet window",
                   implicit.spec, implicit.behaviour});
  }
  return out;
}

std::vector<CatalogueEntry> BuildCatalogue() {
  std::vector<CatalogueEntry> all = {VelmorDac(),    Uac1Speaker(),      Uac1Headset(),
                                     Uac2Implicit(), Uac2PlaybackOnly(), Uac2SlowFeedback()};
  for (CatalogueEntry& quirk : QuirkDevices()) all.push_back(std::move(quirk));
  return all;
}

}  // namespace

const std::vector<CatalogueEntry>& Catalogue() {
  static const std::vector<CatalogueEntry> catalogue = BuildCatalogue();
  return catalogue;
}

const CatalogueEntry* FindCatalogueEntry(std::string_view name) {
  for (const CatalogueEntry& e : Catalogue())
    if (e.name == name) return &e;
  return nullptr;
}

std::unique_ptr<UacDevice> MakeCatalogueDevice(std::string_view name) {
  const CatalogueEntry* e = FindCatalogueEntry(name);
  return e ? std::make_unique<UacDevice>(e->spec, e->behaviour) : nullptr;
}

}  // namespace sim::devices
