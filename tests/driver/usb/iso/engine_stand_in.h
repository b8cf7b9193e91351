// A stand-in for the stream engine over the device model's transfer engine: it keeps a fixed
// number of transfers in flight per direction and refills each from its completion, the way the
// stream engine will. Callbacks arrive at DISPATCH_LEVEL from the simulated controller.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "audio_model_fixture.h"
#include "sim/devices/catalogue.h"

namespace tarnlink::iso::testing {

inline constexpr ULONG kInFlight = 8;
inline constexpr uint64_t kSecond = 10000000;  // machine time counts 100 ns units

struct StreamCounters {
  uint64_t submitted = 0;
  uint64_t completed = 0;
  uint64_t failedSubmissions = 0;
  uint64_t failedCompletions = 0;
  uint64_t badReports = 0;  // a failure that still reported bytes or a frame, or a short transfer
  NTSTATUS lastFailure = STATUS_SUCCESS;
  int inFlight = 0;
};

// One transfer's buffer; the callback context of its requests.
struct Slot {
  struct Stream* stream = nullptr;
  std::vector<UCHAR> buffer;
  PMDL mdl = nullptr;  // set: playback is sent from this MDL over the buffer
  ULONG requested = 0;
  bool retried = false;  // resubmitted once after a failure
};

struct Stream {
  CUSBAudioCL* model = nullptr;
  bool stopping = false;
  // Resubmit once after a failed completion? Off: a failure ends that slot.
  bool resubmitAfterFailure = false;
  StreamCounters counters;
  std::vector<std::unique_ptr<Slot>> slots;

  void AddSlots(ULONG count, ULONG bufferBytes) {
    for (ULONG k = 0; k < count; ++k) {
      auto slot = std::make_unique<Slot>();
      slot->stream = this;
      slot->buffer.assign(bufferBytes, 0);
      slots.push_back(std::move(slot));
    }
  }
  // Counts a submission's outcome; the callback may already have run.
  void Submitted(NTSTATUS status) {
    if (NT_SUCCESS(status)) {
      ++counters.submitted;
      ++counters.inFlight;
    } else {
      ++counters.failedSubmissions;
      counters.lastFailure = status;
    }
  }
  // Counts a completion; true when the slot should be refilled.
  bool Completed(Slot& slot, NTSTATUS status, ULONG bytes, ULONG startFrame, ULONG expectedBytes) {
    ++counters.completed;
    --counters.inFlight;
    if (!NT_SUCCESS(status)) {
      ++counters.failedCompletions;
      counters.lastFailure = status;
      if (bytes != 0 || startFrame != 0) ++counters.badReports;
      if (!resubmitAfterFailure || stopping || slot.retried) return false;
      slot.retried = true;
      return true;
    }
    if (expectedBytes != 0 && bytes != expectedBytes) ++counters.badReports;
    return !stopping;
  }
};

// Playback paced by explicit feedback or the rate pattern: each transfer carries what
// GetTransferBytes says for one millisecond.
struct PlaybackStream : Stream {
  ULONG frameBytes = 0;
  uint64_t framesSent = 0;
  uint64_t transferLimit = 0;  // 0: until stopped

  void Setup(CUSBAudioCL* m, ULONG frame, ULONG bufferBytes, uint64_t limit = 0) {
    model = m;
    frameBytes = frame;
    transferLimit = limit;
    AddSlots(kInFlight, bufferBytes);
  }

  void Send(Slot& slot) {
    if (stopping || (transferLimit != 0 && counters.submitted == transferLimit)) return;
    const ULONG feedback =
        model->PlaybackInterface()->FeedbackPipe != nullptr ? model->LatchPlaybackFeedback() : 0;
    slot.requested = model->GetTransferBytes(1, feedback);
    const NTSTATUS status =
        model->SubmitPlayback(slot.mdl != nullptr ? nullptr : slot.buffer.data(), slot.mdl,
                              slot.requested, 1, OnPlayback, &slot);
    if (NT_SUCCESS(status)) framesSent += slot.requested / frameBytes;
    Submitted(status);
  }
  static VOID OnPlayback(NTSTATUS status, ULONG bytes, ULONG startFrame, PVOID context, ULONG) {
    auto* slot = static_cast<Slot*>(context);
    auto* self = static_cast<PlaybackStream*>(slot->stream);
    if (self->Completed(*slot, status, bytes, startFrame, slot->requested)) self->Send(*slot);
  }
  void Start() {
    for (auto& slot : slots) Send(*slot);
  }
};

// The feedback endpoint, read continuously; each average is accepted as the stream engine
// accepts it (within one frame of nominal, else nominal) and stored as the latest value.
struct FeedbackStream : Stream {
  ULONG nominal = 0;
  uint64_t rejected = 0;

  void Send(Slot& slot) {
    if (stopping) return;
    slot.requested = model->GetFeedbackBufferSize();
    Submitted(model->RecvFeedback(slot.buffer.data(), slot.requested, OnFeedback, &slot));
  }
  static VOID OnFeedback(NTSTATUS status, ULONG average, ULONG startFrame, PVOID context, ULONG) {
    auto* slot = static_cast<Slot*>(context);
    auto* self = static_cast<FeedbackStream*>(slot->stream);
    const bool again =
        self->Completed(*slot, status, NT_SUCCESS(status) ? 0 : average, startFrame, 0);
    if (NT_SUCCESS(status)) {
      ULONG value = average;
      if (value < 0x10000 || value + 0x10000 < self->nominal || value > self->nominal + 0x10000) {
        value = self->nominal;
        ++self->rejected;
      }
      self->model->StorePlaybackFeedback(value);
    }
    if (again) self->Send(*slot);
  }
  void Start() {
    for (auto& slot : slots) Send(*slot);
  }
};

// Capture: every transfer asks for `transferBytes`; the data delivered is collected in order.
struct CaptureStream : Stream {
  ULONG transferBytes = 0;
  ULONG frameBytes = 0;
  uint64_t framesReceived = 0;
  std::vector<uint32_t> channel0;  // each frame's first 32-bit sample, in order of arrival
  // Called with each good transfer's byte count (implicit feedback follows it).
  std::function<void(ULONG)> onData;

  void Send(Slot& slot) {
    if (stopping) return;
    slot.requested = transferBytes;
    Submitted(model->SubmitCapture(slot.buffer.data(), transferBytes, OnCapture, &slot));
  }
  static VOID OnCapture(NTSTATUS status, ULONG bytes, ULONG startFrame, PVOID context, ULONG) {
    auto* slot = static_cast<Slot*>(context);
    auto* self = static_cast<CaptureStream*>(slot->stream);
    const bool again = self->Completed(*slot, status, bytes, startFrame, 0);
    if (NT_SUCCESS(status)) {
      for (ULONG offset = 0; offset + self->frameBytes <= bytes; offset += self->frameBytes) {
        uint32_t word;
        std::memcpy(&word, slot->buffer.data() + offset, 4);
        self->channel0.push_back(word);
      }
      self->framesReceived += bytes / self->frameBytes;
      if (self->onData) self->onData(bytes);
    }
    if (again) self->Send(*slot);
  }
  void Start() {
    for (auto& slot : slots) Send(*slot);
  }
};

// Playback paced by the capture stream: each transfer carries exactly what one capture
// transfer delivered, sent as soon as a slot is free.
struct FollowerStream : Stream {
  ULONG frameBytes = 0;
  uint64_t framesSent = 0;
  std::deque<ULONG> pending;
  std::vector<Slot*> idle;

  void Captured(ULONG bytes) {
    pending.push_back(bytes);
    Pump();
  }
  void Pump() {
    while (!stopping && !idle.empty() && !pending.empty()) {
      Slot& slot = *idle.back();
      idle.pop_back();
      slot.requested = pending.front();
      pending.pop_front();
      const NTSTATUS status =
          model->SubmitPlayback(slot.buffer.data(), nullptr, slot.requested, 1, OnPlayback, &slot);
      if (NT_SUCCESS(status)) framesSent += slot.requested / frameBytes;
      Submitted(status);
    }
  }
  static VOID OnPlayback(NTSTATUS status, ULONG bytes, ULONG startFrame, PVOID context, ULONG) {
    auto* slot = static_cast<Slot*>(context);
    auto* self = static_cast<FollowerStream*>(slot->stream);
    self->Completed(*slot, status, bytes, startFrame, slot->requested);
    self->idle.push_back(slot);
    self->Pump();
  }
  void Start() {
    for (auto& slot : slots) idle.push_back(slot.get());
  }
};

// The audio model fixture with streams: a device started and a format selected, then streams
// run at DISPATCH_LEVEL as the stream engine's would.
class EngineTest : public tarnlink::audio_model::testing::AudioModelTest {
 protected:
  // A catalogue device with the behaviour changed by `adjust`, started.
  void PlugStarted(const char* name,
                   const std::function<void(sim::devices::DeviceBehaviour&)>& adjust = {}) {
    const sim::devices::CatalogueEntry* entry = sim::devices::FindCatalogueEntry(name);
    ASSERT_NE(entry, nullptr) << name;
    sim::devices::DeviceBehaviour behaviour = entry->behaviour;
    if (adjust) adjust(behaviour);
    Plug(entry->spec, std::nullopt, std::nullopt, behaviour);
    ASSERT_TRUE(Run([&] { Start(); }));
  }
  // Selects a PCM format for a direction and waits for its clock; the bytes one millisecond
  // may carry at most.
  ULONG SelectFormat(ULONG direction, ULONG channels, ULONG bits, ULONG rate) {
    ULONG maxBytes = 0;
    EXPECT_TRUE(Run([&] {
      ULONG outChannels = 0, outBits = 0;
      ASSERT_EQ(model_->SelectStreamingFormat(direction, 1, channels, bits, rate, 1, &outChannels,
                                              &outBits, &maxBytes),
                STATUS_SUCCESS);
      for (int k = 0; k < 1000 && !model_->IsClockStable(direction); ++k) {
        LARGE_INTEGER delay;
        delay.QuadPart = -10000;  // 1 ms
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
      }
      ASSERT_TRUE(model_->IsClockStable(direction));
    }));
    return maxBytes;
  }
  // Runs body at DISPATCH_LEVEL on a kernel thread, as completions run.
  void AtDispatch(const std::function<void()>& body) {
    ASSERT_TRUE(Run([&] {
      KIRQL irql;
      KeRaiseIrql(DISPATCH_LEVEL, &irql);
      body();
      KeLowerIrql(irql);
    }));
  }
  // Gives every other slot of a stream an MDL over its buffer, with the pages locked but not
  // mapped, so whoever reads it must map it; and takes them away again.
  void LockMdls(Stream& stream) {
    ASSERT_TRUE(Run([&] {
      for (size_t k = 0; k < stream.slots.size(); k += 2) {
        Slot& slot = *stream.slots[k];
        slot.mdl =
            IoAllocateMdl(slot.buffer.data(), ULONG(slot.buffer.size()), FALSE, FALSE, nullptr);
        ASSERT_NE(slot.mdl, nullptr);
        MmProbeAndLockPages(slot.mdl, KernelMode, IoReadAccess);
      }
    }));
  }
  void FreeMdls(Stream& stream) {
    ASSERT_TRUE(Run([&] {
      for (auto& slot : stream.slots) {
        if (slot->mdl == nullptr) continue;
        MmUnlockPages(slot->mdl);
        IoFreeMdl(slot->mdl);
        slot->mdl = nullptr;
      }
    }));
  }
  // Stops streams and lets their transfers drain.
  void Drain(std::initializer_list<Stream*> streams) {
    for (Stream* s : streams) s->stopping = true;
    ASSERT_TRUE(kernel().RunUntil([&] {
      for (Stream* s : streams) {
        if (s->counters.inFlight != 0) return false;
      }
      return true;
    }));
  }
};

}  // namespace tarnlink::iso::testing
