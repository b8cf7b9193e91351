// What the private channel reaches of its device: the adapter's locks, ownership word and
// settings, the stream engine and the ASIO stream. The adapter implements it; the channel's
// handles and requests see the device only through it.
#pragma once

#include "asio_stream.h"
#include "kernel_mode.h"
#include "rundown_guard.h"
#include "stream_engine.h"
#include "usb_audio_model.h"
#include "usb_string_descriptor.h"

class IAsioDevice {
 public:
  // Serialises every private device-control and clean-up of the device.
  virtual PKMUTEX ControlMutex() = 0;
  // Held around each handle operation; refused once the device is shutting its requests out.
  virtual RundownGuard& RequestGuard() = 0;
  // 0 free, 1 held by a handle; changed only by compare-exchange.
  virtual volatile LONG* AsioOwnerWord() = 0;
  virtual CStreamEngine& Engine() = 0;
  virtual CAsioStream& AsioStream() = 0;
  virtual CUSBAudioCL& Model() = 0;
  virtual const USBStringDescriptor& ProductString() const = 0;
  virtual ULONG DsdNative() const = 0;
  // The rate range of the playback interface, or of capture on a device without playback.
  virtual NTSTATUS AsioRateRange(PULONG minimum, PULONG maximum) = 0;
  // The device-wide rate change of fixed-rate mode.
  virtual NTSTATUS ChangeFixedRate(ULONG rate) = 0;

 protected:
  ~IAsioDevice() = default;
};
