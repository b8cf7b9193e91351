// CCaptureFeed: hands one user the captured data. The capture deferred procedure call delivers
// every completed capture transfer to both feeds; a feed passes it on to its sink while active.
#pragma once

#include "driver_types.h"
#include "kernel_mode.h"
#include "stream_sources.h"

class CCaptureFeed {
 public:
  VOID Initialize();
  // The sink is wired once; a null sink is refused.
  NTSTATUS SetTarget(ICaptureSink* target);
  VOID ClearTarget();
  ICaptureSink* Target() const { return m_Target; }

  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Start(const UsbFormat& capture, ULONG captureMaxBytes);
  _IRQL_requires_(PASSIVE_LEVEL) VOID Stop();
  BOOLEAN IsActive() const { return m_Active != 0; }

  // One capture transfer's frames in the USB capture format; null data and 0 frames report a
  // failed transfer.
  _IRQL_requires_(DISPATCH_LEVEL) VOID Deliver(PCVOID data, ULONG frames);

 private:
  KSPIN_LOCK m_Lock = 0;
  ULONG m_Active = 0;
  ICaptureSink* m_Target = nullptr;
  UsbFormat m_Capture = {};
};
