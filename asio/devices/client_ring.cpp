#include "client_ring.h"

#include <cstddef>
#include <cstring>

ClientRing::ClientRing(ULONGLONG address)
    : header_(reinterpret_cast<SharedRingHeader*>(static_cast<ULONG_PTR>(address))) {
  if (header_ == nullptr) return;
  data_ = reinterpret_cast<BYTE*>(header_) + sizeof(SharedRingHeader);
  ringBytes_ = header_->ringBytes;
  frameBytes_ = header_->frameBytes;
}

volatile LONG* ClientRing::Word(size_t offset) const {
  return reinterpret_cast<volatile LONG*>(reinterpret_cast<BYTE*>(header_) + offset);
}

ULONG ClientRing::Fill() const {
  return RingFill(*Word(offsetof(SharedRingHeader, fillBytes)), ringBytes_);
}

bool ClientRing::TakeInterrupted() {
  return InterlockedExchange(Word(offsetof(SharedRingHeader, interrupted)), 0) != 0;
}

void ClientRing::FollowWriteOffset() {
  offset_ = RingOffset(static_cast<ULONG>(*Word(offsetof(SharedRingHeader, writeOffset))),
                       ringBytes_);
}

void ClientRing::Write(const BYTE* src, ULONG n) {
  volatile LONG* debt = Word(offsetof(SharedRingHeader, debt));
  const RingWritePlan plan =
      PlanRingWrite(ringBytes_, frameBytes_, offset_, n, InterlockedExchange(debt, 0),
                    *Word(offsetof(SharedRingHeader, fillBytes)), false);
  InterlockedAdd(debt, plan.debtBack);
  std::memcpy(data_ + plan.copy.offset, src, plan.copy.first);
  std::memcpy(data_, src + plan.copy.first, plan.copy.second);
  offset_ = plan.nextOffset;
  *Word(offsetof(SharedRingHeader, writeOffset)) = static_cast<LONG>(offset_);
  InterlockedAdd(Word(offsetof(SharedRingHeader, fillBytes)),
                 static_cast<LONG>(plan.copy.first + plan.copy.second));
}

ULONG ClientRing::Read(BYTE* dst, ULONG n) {
  volatile LONG* debt = Word(offsetof(SharedRingHeader, debt));
  const RingReadPlan plan =
      PlanRingRead(ringBytes_, frameBytes_, offset_, n, InterlockedExchange(debt, 0),
                   *Word(offsetof(SharedRingHeader, fillBytes)), false);
  InterlockedAdd(debt, plan.debtBack);
  // Time the driver could not write is made up with silence, in DSD as well.
  std::memset(dst, 0, plan.leadingFill);
  std::memcpy(dst + plan.leadingFill, data_ + plan.copy.offset, plan.copy.first);
  std::memcpy(dst + plan.leadingFill + plan.copy.first, data_, plan.copy.second);
  offset_ = plan.nextOffset;
  *Word(offsetof(SharedRingHeader, readOffset)) = static_cast<LONG>(offset_);
  const ULONG read = plan.copy.first + plan.copy.second;
  InterlockedAdd(Word(offsetof(SharedRingHeader, fillBytes)), -static_cast<LONG>(read));
  return plan.leadingFill + read;
}
