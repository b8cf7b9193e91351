// A stand-in for the stream engine on the simulated bus: it keeps a fixed number of transfers
// in flight and refills each from its completion, using only the scheduler's packet layouts,
// URB filling and feedback decoding. Completions run at DISPATCH_LEVEL, as on Windows.
#pragma once

#include <memory>
#include <vector>

#include "bus_fixture.h"
#include "capture_completion.h"
#include "feedback_value.h"
#include "iso_transfer_urb.h"
#include "playback_packets.h"

namespace tarnlink::iso::testing {

using sim::usb::HostController;
using sim::usb::UrbCompletion;

// One isochronous URB with room for kIsoMaxPackets packets and its own buffer.
struct Transfer {
  explicit Transfer(ULONG bufferBytes)
      : words(GET_ISO_URB_SIZE(kIsoMaxPackets) / 8 + 1), buffer(bufferBytes) {}
  PURB Urb() { return reinterpret_cast<PURB>(words.data()); }
  struct _URB_ISOCH_TRANSFER& Iso() {
    return Urb()->UrbIsochronousTransfer;
  }
  void SetHeader(ULONG packets) {
    Urb()->UrbHeader.Function = URB_FUNCTION_ISOCH_TRANSFER;
    Urb()->UrbHeader.Length = static_cast<USHORT>(GET_ISO_URB_SIZE(packets));
  }

  // An OUT request of `bytes` in `packets` already laid out in IsoPacket.
  void SetPlayback(USBD_PIPE_HANDLE pipe, ULONG bytes, ULONG packets) {
    SetHeader(packets);
    auto& iso = Iso();
    iso.PipeHandle = pipe;
    iso.TransferFlags = USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBuffer = buffer.data();
    iso.TransferBufferMDL = nullptr;
    iso.TransferBufferLength = bytes;
    iso.NumberOfPackets = packets;
    iso.StartFrame = 0;
    requested = bytes;
  }

  std::vector<ULONGLONG> words;
  std::vector<UCHAR> buffer;
  ULONG requested = 0;
};

struct StandIn {
  HostController* controller = nullptr;
  bool stopping = false;
  int running = 0;
  uint64_t errors = 0;

  bool Submit(Transfer& t, UrbCompletion completion) {
    if (stopping || controller->SubmitUrb(t.Urb(), completion, this) != STATUS_PENDING) {
      errors += stopping ? 0 : 1;
      --running;
      return false;
    }
    return true;
  }
  // Starts `transfers` at DISPATCH_LEVEL, as completions later resubmit them.
  template <typename Start>
  void StartAll(std::vector<std::unique_ptr<Transfer>>& transfers, Start start) {
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    for (auto& t : transfers) {
      ++running;
      start(*t);
    }
    KeLowerIrql(irql);
  }
};

// The bus fixture with a chosen catalogue device in place of the default one.
class IsoBusTest : public sim::usb::testing::BusTest {
 protected:
  void Plug(std::string_view name, sim::devices::UsbSpeed busSpeed,
            const double* crystalPpm = nullptr) {
    const sim::devices::CatalogueEntry* entry = sim::devices::FindCatalogueEntry(name);
    ASSERT_NE(entry, nullptr);
    sim::devices::DeviceBehaviour behaviour = entry->behaviour;
    if (crystalPpm != nullptr) behaviour.crystalPpm = *crystalPpm;
    controller_.reset();
    device_ = std::make_unique<sim::devices::UacDevice>(entry->spec, behaviour);
    controller_ = std::make_unique<HostController>(busSpeed);
    controller_->Attach(device_.get());
  }
};

}  // namespace tarnlink::iso::testing
