// CSharedRing: the kernel's side of one ring block shared with the ASIO client: a header the
// client can write at any moment, then the data area. What the kernel relies on (ring bytes,
// frame bytes and its own offset) it keeps here, in its own memory; the header's fill bytes and
// debt are only hints, clamped by the ring rules, so no value the client writes can move a copy
// outside the data area. The data paths are lock-free (interlocked operations on the header);
// resets and flag changes take the ring's lock.
#pragma once

#include "asio_protocol.h"
#include "kernel_mode.h"
#include "shared_block.h"

class CSharedRing {
 public:
  VOID Initialize(ULONG direction);

  // A ring of frames x frameBytes data bytes, every one the fill byte, mapped into the calling
  // process. 0 bytes: STATUS_INVALID_PARAMETER; a ring held already: STATUS_UNSUCCESSFUL.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Allocate(ULONG frameBytes, ULONG frames, UCHAR fillByte);
  _IRQL_requires_(PASSIVE_LEVEL) VOID Free();
  BOOLEAN Exists() const { return m_Header != nullptr && m_RingBytes != 0; }
  PVOID UserAddress() const { return m_Block.UserAddress; }
  ULONG RingBytes() const { return m_RingBytes; }
  ULONG FrameBytes() const { return m_FrameBytes; }

  // Empty again: offsets, fill and debt back to the last prefill, flags cleared, the data area
  // rewritten with the fill byte.
  VOID Reset();
  // As Reset, holding `bytes` of fill (or overrideFrames frames when nonzero), at most the ring.
  VOID PrefillReset(ULONG bytes, ULONG overrideFrames);
  VOID SetInterrupted(ULONG value);
  VOID MarkStarted();
  BOOLEAN IsStarted() const { return m_Started != 0; }
  VOID SetPendingFill(ULONG frames) { InterlockedExchange(&m_PendingFillFrames, static_cast<LONG>(frames)); }

  // The producer's write of n bytes (src null: fill bytes); mayCut: what does not fit is left
  // out, otherwise it becomes debt. Nothing on a capture ring not yet started. The bytes
  // accounted: dropped for debt, written, and overrun.
  _IRQL_requires_max_(DISPATCH_LEVEL) ULONG Write(const UCHAR* src, ULONG n, BOOLEAN mayCut);
  // The consumer's read of up to n bytes into dst (null: dropped), only what is there. Nothing
  // on a playback ring not yet started. The bytes delivered.
  _IRQL_requires_max_(DISPATCH_LEVEL) ULONG Read(UCHAR* dst, ULONG n);
  // First the fill frames SetPendingFill asked for, written as a producer would; then Read.
  _IRQL_requires_max_(DISPATCH_LEVEL) ULONG ReadWithPending(UCHAR* dst, ULONG n);
  // Fill bytes as the header says them, within the ring.
  ULONG FillBytes() const;

 private:
  VOID ResetLocked();
  volatile LONG* HeaderWord(SIZE_T offset) const;
  VOID CopyIn(ULONG offset, const UCHAR* src, ULONG bytes);
  VOID WriteAt(ULONG offset, const UCHAR* src, ULONG n, BOOLEAN mayCut, ULONG* nextOffset,
               ULONG* accounted);

  KSPIN_LOCK m_Lock = 0;
  ULONG m_PrefillBytes = 0;
  volatile LONG m_Started = 0;
  UCHAR m_FillByte = 0;
  ULONG m_Direction = 0;
  volatile LONG m_PendingFillFrames = 0;
  SharedBlock m_Block = {};
  PUCHAR m_Data = nullptr;
  SharedRingHeader* m_Header = nullptr;
  // The kernel's own copies; the header's are for the client to read.
  ULONG m_RingBytes = 0;
  ULONG m_FrameBytes = 0;
  ULONG m_Offset = 0;  // the write offset on a capture ring, the read offset on a playback ring
};
