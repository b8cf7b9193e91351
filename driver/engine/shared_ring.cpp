#include "shared_ring.h"

#include <cstddef>

#include "asio_ring_rules.h"
#include "driver_types.h"

VOID CSharedRing::Initialize(ULONG direction) {
  KeInitializeSpinLock(&m_Lock);
  m_Direction = direction;
}

volatile LONG* CSharedRing::HeaderWord(SIZE_T offset) const {
  return reinterpret_cast<volatile LONG*>(reinterpret_cast<PUCHAR>(m_Header) + offset);
}

NTSTATUS CSharedRing::Allocate(ULONG frameBytes, ULONG frames, UCHAR fillByte) {
  const ULONGLONG bytes = static_cast<ULONGLONG>(frameBytes) * frames;
  if (bytes == 0 || bytes > 0x7FFFFFFFull - sizeof(SharedRingHeader)) return STATUS_INVALID_PARAMETER;
  if (m_Header != nullptr) return STATUS_UNSUCCESSFUL;
  NTSTATUS status =
      AllocateSharedBlock(&m_Block, static_cast<ULONG>(bytes) + sizeof(SharedRingHeader));
  if (!NT_SUCCESS(status)) return status;
  m_Header = static_cast<SharedRingHeader*>(m_Block.Memory);
  m_Data = static_cast<PUCHAR>(m_Block.Memory) + sizeof(SharedRingHeader);
  m_RingBytes = static_cast<ULONG>(bytes);
  m_FrameBytes = frameBytes;
  m_FillByte = fillByte;
  m_Offset = 0;
  m_PrefillBytes = 0;
  m_Header->ringBytes = m_RingBytes;
  m_Header->frameBytes = m_FrameBytes;
  RtlFillMemory(m_Data, m_RingBytes, m_FillByte);
  return STATUS_SUCCESS;
}

VOID CSharedRing::Free() {
  FreeSharedBlock(&m_Block);
  m_Data = nullptr;
  m_Header = nullptr;
  m_RingBytes = 0;
  m_FrameBytes = 0;
  m_Offset = 0;
  m_PrefillBytes = 0;
  m_FillByte = 0;
  m_Started = 0;
  m_PendingFillFrames = 0;
}

VOID CSharedRing::ResetLocked() {
  m_Started = 0;
  m_PendingFillFrames = 0;
  if (m_Header == nullptr) return;
  // The producer's side starts after the prefill, the consumer's at 0.
  m_Offset = m_Direction == kDirectionCapture ? m_PrefillBytes : 0;
  if (m_Offset >= m_RingBytes) m_Offset = 0;
  InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, writeOffset)),
                      static_cast<LONG>(m_PrefillBytes));
  InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, fillBytes)),
                      static_cast<LONG>(m_PrefillBytes));
  InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, interrupted)), 0);
  InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, readOffset)), 0);
  InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, debt)), 0);
  RtlFillMemory(m_Data, m_RingBytes, m_FillByte);
}

VOID CSharedRing::Reset() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  ResetLocked();
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CSharedRing::PrefillReset(ULONG bytes, ULONG overrideFrames) {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  ULONGLONG prefill = bytes;
  if (overrideFrames != 0) prefill = static_cast<ULONGLONG>(overrideFrames) * m_FrameBytes;
  m_PrefillBytes = prefill < m_RingBytes ? static_cast<ULONG>(prefill) : m_RingBytes;
  ResetLocked();
  KeReleaseSpinLock(&m_Lock, irql);
}

VOID CSharedRing::SetInterrupted(ULONG value) {
  if (m_Header == nullptr) return;
  InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, interrupted)), value != 0 ? 1 : 0);
}

VOID CSharedRing::MarkStarted() {
  KIRQL irql;
  KeAcquireSpinLock(&m_Lock, &irql);
  m_Started = 1;
  KeReleaseSpinLock(&m_Lock, irql);
}

ULONG CSharedRing::FillBytes() const {
  if (m_Header == nullptr) return 0;
  return RingFill(*HeaderWord(offsetof(SharedRingHeader, fillBytes)), m_RingBytes);
}

VOID CSharedRing::CopyIn(ULONG offset, const UCHAR* src, ULONG bytes) {
  if (src != nullptr)
    RtlCopyMemory(m_Data + offset, src, bytes);
  else
    RtlFillMemory(m_Data + offset, bytes, m_FillByte);
}

VOID CSharedRing::WriteAt(ULONG offset, const UCHAR* src, ULONG n, BOOLEAN mayCut,
                          ULONG* nextOffset, ULONG* accounted) {
  const LONG debt = InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, debt)), 0);
  const LONG fill = *HeaderWord(offsetof(SharedRingHeader, fillBytes));
  const RingWritePlan plan =
      PlanRingWrite(m_RingBytes, m_FrameBytes, offset, n, debt, fill, mayCut != FALSE);
  InterlockedAdd(HeaderWord(offsetof(SharedRingHeader, debt)), plan.debtBack);
  CopyIn(plan.copy.offset, src, plan.copy.first);
  CopyIn(0, src != nullptr ? src + plan.copy.first : nullptr, plan.copy.second);
  const ULONG written = plan.copy.first + plan.copy.second;
  InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, writeOffset)),
                      static_cast<LONG>(plan.nextOffset));
  InterlockedAdd(HeaderWord(offsetof(SharedRingHeader, fillBytes)), static_cast<LONG>(written));
  *nextOffset = plan.nextOffset;
  // Dropped, written, and (when it may not be cut) the rest as overrun: the whole request.
  *accounted = mayCut ? plan.dropped + written : n;
}

ULONG CSharedRing::Write(const UCHAR* src, ULONG n, BOOLEAN mayCut) {
  if (m_Header == nullptr) return 0;
  if (m_Direction == kDirectionCapture && m_Started == 0) return 0;
  ULONG accounted = 0;
  WriteAt(m_Offset, src, n, mayCut, &m_Offset, &accounted);
  return accounted;
}

ULONG CSharedRing::Read(UCHAR* dst, ULONG n) {
  if (m_Header == nullptr) return 0;
  if (m_Direction == kDirectionPlayback && m_Started == 0) return 0;
  const LONG debt = InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, debt)), 0);
  const LONG fill = *HeaderWord(offsetof(SharedRingHeader, fillBytes));
  const RingReadPlan plan = PlanRingRead(m_RingBytes, m_FrameBytes, m_Offset, n, debt, fill, false);
  InterlockedAdd(HeaderWord(offsetof(SharedRingHeader, debt)), plan.debtBack);
  const ULONG read = plan.copy.first + plan.copy.second;
  if (dst != nullptr) {
    RtlFillMemory(dst, plan.leadingFill, m_FillByte);
    RtlCopyMemory(dst + plan.leadingFill, m_Data + plan.copy.offset, plan.copy.first);
    RtlCopyMemory(dst + plan.leadingFill + plan.copy.first, m_Data, plan.copy.second);
  }
  m_Offset = plan.nextOffset;
  InterlockedExchange(HeaderWord(offsetof(SharedRingHeader, readOffset)),
                      static_cast<LONG>(m_Offset));
  InterlockedAdd(HeaderWord(offsetof(SharedRingHeader, fillBytes)), -static_cast<LONG>(read));
  return plan.leadingFill + read;
}

ULONG CSharedRing::ReadWithPending(UCHAR* dst, ULONG n) {
  if (m_Header == nullptr) return 0;
  const ULONG frames = static_cast<ULONG>(InterlockedExchange(&m_PendingFillFrames, 0));
  if (frames != 0) {
    // The client owns the write offset; it is read once and kept inside the ring.
    const ULONG offset = WholeFrames(
        RingOffset(static_cast<ULONG>(*HeaderWord(offsetof(SharedRingHeader, writeOffset))),
                   m_RingBytes),
        m_FrameBytes);
    const ULONGLONG bytes = static_cast<ULONGLONG>(frames) * m_FrameBytes;
    const ULONG n32 = bytes < 0xFFFFFFFFull ? static_cast<ULONG>(bytes)
                                             : WholeFrames(0xFFFFFFFFu, m_FrameBytes);
    ULONG next = 0;
    ULONG accounted = 0;
    WriteAt(offset, nullptr, n32, FALSE, &next, &accounted);
  }
  return Read(dst, n);
}
