// The ASIO driver's side of one ring the kernel driver mapped into the process: the sizes read
// from the header once at prepare and the one offset this side owns, kept in the process's own
// memory, so that whatever the shared header holds later no copy leaves the data area.
#pragma once

#include "asio_ring_rules.h"
#include "user_mode.h"

class ClientRing {
 public:
  ClientRing() = default;
  // address: the ring block from PrepareResult, or 0 for none.
  explicit ClientRing(ULONGLONG address);

  bool Mapped() const { return header_ != nullptr; }
  ULONG RingBytes() const { return ringBytes_; }
  // The fill count as the header says it, bounded to the ring.
  ULONG Fill() const;
  // Exchanges the interrupted word with 0; nonzero when the driver broke the stream off.
  bool TakeInterrupted();

  // Producer (playback): rule W, the bytes that do not fit becoming debt.
  void Write(const BYTE* src, ULONG n);
  // The driver moved the producer's offset (a start's prefill, fill frames it inserted): carry
  // on from where the header says.
  void FollowWriteOffset();

  // Consumer (capture): delivers up to n bytes into dst, first zero bytes for what the driver
  // dropped, then data; returns the bytes delivered.
  ULONG Read(BYTE* dst, ULONG n);
  // The driver reset the ring: the consumer starts from 0.
  void RestartReading() { offset_ = 0; }

 private:
  volatile LONG* Word(size_t offset) const;

  SharedRingHeader* header_ = nullptr;
  BYTE* data_ = nullptr;
  ULONG ringBytes_ = 0;
  ULONG frameBytes_ = 0;
  ULONG offset_ = 0;
};
