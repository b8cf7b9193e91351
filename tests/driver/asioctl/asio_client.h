// A client of the private \asio channel as the ASIO driver is one: a user process that opens the
// device's wave interface path with \asio appended, sends buffered requests with the native
// calls, creates the period and output events, and moves audio through the two mapped rings by
// the client's side of the ring rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "asio_protocol.h"
#include "kernel_mode.h"

namespace tarnlink::asioctl::testing {

struct Reply {
  NTSTATUS status;
  ULONG bytes;
};

class AsioClient {
 public:
  // Opens interfacePath + "\asio" in the calling thread's process.
  NTSTATUS Open(const std::u16string& interfacePath);
  // Closing the handle sends clean-up and close.
  void Close();
  bool IsOpen() const { return handle_ != nullptr; }
  HANDLE Handle() const { return handle_; }

  Reply Send(ULONG code, const void* in = nullptr, ULONG inLength = 0, void* out = nullptr,
             ULONG outLength = 0);
  NTSTATUS Status(ULONG code) { return Send(code).status; }
  template <typename Record>
  Reply SendRecord(ULONG code, const Record& in) {
    return Send(code, &in, sizeof in);
  }
  ULONG Word(ULONG code);

  // Creates the two events in the calling process; their handles go into PrepareRequest.
  void CreateEvents();
  void CloseEvents();
  ULONGLONG PeriodEventHandle() const;
  ULONGLONG OutputEventHandle() const;
  // Waits for the period event (auto-reset); false when it does not come within `ms`.
  bool WaitPeriod(uint64_t ms);
  void SignalOutput();

 private:
  HANDLE handle_ = nullptr;
  HANDLE periodEvent_ = nullptr;
  HANDLE outputEvent_ = nullptr;
};

// The client's side of one ring: its own copies of the sizes (read from the header once) and of
// its offset.
class ClientRing {
 public:
  ClientRing() = default;
  explicit ClientRing(ULONGLONG address);
  bool Mapped() const { return header_ != nullptr; }
  SharedRingHeader* Header() const { return header_; }
  ULONG RingBytes() const { return ringBytes_; }
  ULONG FrameBytes() const { return frameBytes_; }
  ULONG Fill() const;
  // The producer's write (rule W): what does not fit is not written.
  ULONG Write(const uint8_t* src, ULONG bytes);
  // The consumer's read (rule R) of what is there, at most `bytes`.
  ULONG Read(uint8_t* dst, ULONG bytes);
  // After a start or a stop the driver has reset the ring: the producer carries on after the
  // prefill, the consumer from 0.
  void Restart(bool producer);

 private:
  SharedRingHeader* header_ = nullptr;
  uint8_t* data_ = nullptr;
  ULONG ringBytes_ = 0;
  ULONG frameBytes_ = 0;
  ULONG offset_ = 0;
};

}  // namespace tarnlink::asioctl::testing
