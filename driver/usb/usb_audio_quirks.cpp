#include "usb_audio_quirks.h"

namespace {

struct QuirkRow {
  USHORT idVendor;
  USHORT idProduct;
  UsbAudioQuirks quirks;
};

// Two of these hide their audio interfaces behind the vendor class; the others need their
// remaining interfaces (HID, DFU, vendor controls) configured too or they stop answering.
constexpr QuirkRow kQuirkRows[] = {
    {0x1686,
     0x00DD,
     {.audioClass = uac::kInterfaceClassVendor,
      .configureAllInterfaces = TRUE,
      .playbackLengthHeader = TRUE}},
    {0x0499, 0x1504, {.audioClass = uac::kInterfaceClassVendor, .configureAllInterfaces = TRUE}},
    {0x20B1, 0x0002, {.configureAllInterfaces = TRUE}},
    {0x054C, 0x09D5, {.configureAllInterfaces = TRUE}},
    {0x0944, 0x020A, {.widePacketWindow = TRUE}},
};

}  // namespace

UsbAudioQuirks LookupAudioQuirks(USHORT idVendor, USHORT idProduct) {
  for (const QuirkRow& row : kQuirkRows) {
    if (row.idVendor == idVendor && row.idProduct == idProduct) return row.quirks;
  }
  return {};
}
