// IMiniportStreamControl: what the WaveRT miniport offers the stream engine's operating-system
// source and sink. The engine moves the operating-system stream's audio through it: it brackets
// each block with BeginTransfer and EndTransfer (the stream cannot go away in between), asks the
// stream to queue the chunks of its cyclic buffer that cover the block, and reports the bytes it
// took or delivered. The direction argument is TRUE for capture.
#pragma once

#include "kernel_mode.h"

// {2CF48849-44E7-404A-9091-211AE3CE7195}
inline constexpr GUID IID_IMiniportStreamControl = {
    0x2CF48849, 0x44E7, 0x404A, {0x90, 0x91, 0x21, 0x1A, 0xE3, 0xCE, 0x71, 0x95}};

struct IMiniportStreamControl : IMiniportWaveRT {
  // Writes the stream format's silence over a piece of its buffer that was played.
  STDMETHOD_(VOID, FillSilence)(BOOLEAN Capture, PVOID Buffer, ULONG Bytes) PURE;
  STDMETHOD_(VOID, AdvancePosition)(BOOLEAN Capture, ULONG Bytes) PURE;
  // TRUE: a stream exists and stays until EndTransfer.
  STDMETHOD_(BOOLEAN, BeginTransfer)(BOOLEAN Capture) PURE;
  STDMETHOD_(VOID, EndTransfer)(BOOLEAN Capture) PURE;
  // Makes every later stream step fail and gives back what both directions hold.
  STDMETHOD_(VOID, DetachAll)() PURE;
  // Queues the chunks of the cyclic buffer that cover the next Bytes with the adapter.
  STDMETHOD_(VOID, TransferData)(BOOLEAN Capture, ULONG Bytes) PURE;
  // Ends the subdevice's registration on the device and drops the port.
  STDMETHOD(UnregisterFromDevice)(PDEVICE_OBJECT DeviceObject) PURE;
  STDMETHOD(GetStreamPosition)(BOOLEAN Capture, PKSAUDIO_POSITION Position) PURE;

 protected:
  ~IMiniportStreamControl() = default;
};
typedef IMiniportStreamControl* PMINIPORTSTREAMCONTROL;
