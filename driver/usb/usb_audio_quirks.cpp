#include "usb_audio_quirks.h"

#include "audio_descriptors.h"

namespace {

struct QuirkRow {
  USHORT idVendor;
  USHORT idProduct;
  UsbAudioQuirks quirks;
};

// Two of these hide their audio interfaces behind the vendor class; the others need their
// remaining interfaces (HID, DFU, vendor controls) configured too or they stop answering.
constexpr QuirkRow kQuirkRows[] = {
    {0x1686, 0x00DD, {kVendorInterfaceClass, TRUE, TRUE, FALSE}},
    {0x0499, 0x1504, {kVendorInterfaceClass, TRUE, FALSE, FALSE}},
    {0x20B1, 0x0002, {kAudioInterfaceClass, TRUE, FALSE, FALSE}},
    {0x054C, 0x09D5, {kAudioInterfaceClass, TRUE, FALSE, FALSE}},
    {0x0944, 0x020A, {kAudioInterfaceClass, FALSE, FALSE, TRUE}},
};

}  // namespace

UsbAudioQuirks LookupAudioQuirks(USHORT idVendor, USHORT idProduct) {
  for (const QuirkRow& row : kQuirkRows) {
    if (row.idVendor == idVendor && row.idProduct == idProduct) return row.quirks;
  }
  return {kAudioInterfaceClass, FALSE, FALSE, FALSE};
}
