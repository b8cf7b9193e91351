// The device model's transfer engine on a simulated device: what each request looks like on the
// bus and reports back, that a refused request gives back everything it took and never calls
// back, and that every submitted request calls back exactly once, also when the device goes.
#include <gtest/gtest.h>

#include "engine_stand_in.h"
#include "kernel/irp_owned.h"

namespace tarnlink::iso::testing {
namespace {

using kernel::PoolTag;
using tarnlink::audio_model::testing::Uac2Device;

constexpr ULONG kUrbTag = PoolTag("USBA");  // the USBD handle allocates URBs with the driver's tag

// What a request's callback reported.
struct Report {
  int calls = 0;
  NTSTATUS status = STATUS_PENDING;
  ULONG bytes = 0;
  ULONG startFrame = 0;
  ULONG durationMs = 0;

  static VOID Record(NTSTATUS status, ULONG bytes, ULONG startFrame, PVOID context,
                     ULONG durationMs) {
    auto* report = static_cast<Report*>(context);
    ++report->calls;
    report->status = status;
    report->bytes = bytes;
    report->startFrame = startFrame;
    report->durationMs = durationMs;
  }
};

// Audio 2.0 at high speed (bcdUSB 0x0200): playback setting 1 is 16-bit without feedback,
// setting 2 is 32-bit with a 4-byte feedback endpoint at bInterval 4; capture is 24-bit in
// 4-byte subslots.
class TransferEngineTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    CheckLeaksAtTearDown();
  }
  void PlugTestDevice() {
    Plug(Uac2Device(true));
    ASSERT_TRUE(Run([&] { Start(); }));
  }
  ULONG PacketsOf(PURB urb) { return urb->UrbIsochronousTransfer.NumberOfPackets; }

  std::vector<UCHAR> buffer_ = std::vector<UCHAR>(4096);
};

TEST_F(TransferEngineTest, RequestsReachTheBusAsLaidOutAndReportTheirSpan) {
  PlugTestDevice();
  SelectFormat(0, 2, 32, 48000);
  SelectFormat(1, 2, 24, 48000);
  const ULONG captureMaxPacket = model_->CaptureInterface()->DataPipe->MaximumPacketSize;
  struct Case {
    const char* name;
    std::function<NTSTATUS(Report*)> submit;
    ULONG packets;
    ULONG durationMs;
    NTSTATUS status;
  } cases[] = {
      // The 5 packets added have no room in the buffer: they receive nothing, which is outside
      // the format's packet window.
      {"capture of 3 packets rounds up to a millisecond",
       [&](Report* r) {
         return model_->SubmitCapture(buffer_.data(), 3 * captureMaxPacket, Report::Record, r);
       },
       8, 1, STATUS_UNEXPECTED_IO_ERROR},
      {"a 4-byte feedback read is one packet",
       [&](Report* r) { return model_->RecvFeedback(buffer_.data(), 4, Report::Record, r); }, 1, 0,
       STATUS_SUCCESS},
      {"a millisecond of playback is 8 packets",
       [&](Report* r) {
         const ULONG bytes = model_->GetTransferBytes(1, model_->LatchPlaybackFeedback());
         EXPECT_EQ(bytes, 8u * 6 * 8);
         return model_->SubmitPlayback(buffer_.data(), nullptr, bytes, 1, Report::Record, r);
       },
       8, 1, STATUS_SUCCESS},
  };
  for (const Case& c : cases) {
    Report report;
    ULONG packetsSeen = 0;
    port_.onUrb = [&](PURB urb) { packetsSeen = PacketsOf(urb); };
    AtDispatch([&] { EXPECT_EQ(c.submit(&report), STATUS_SUCCESS) << c.name; });
    ASSERT_TRUE(kernel().RunUntil([&] { return report.calls != 0; })) << c.name;
    ASSERT_TRUE(kernel().RunFor(10 * kMs));
    EXPECT_EQ(report.calls, 1) << c.name;
    EXPECT_EQ(report.status, c.status) << c.name;
    EXPECT_NE(report.startFrame, 0u) << c.name;
    EXPECT_EQ(report.durationMs, c.durationMs) << c.name;
    EXPECT_EQ(packetsSeen, c.packets) << c.name;
  }
  port_.onUrb = nullptr;
}

// The stream engine sizes a transfer and lays it out from one pacing snapshot, whatever feedback
// it settled on: the packets carry exactly the bytes asked for, paced by that feedback.
TEST_F(TransferEngineTest, OnePacingSnapshotSizesAndLaysOutATransfer) {
  PlugTestDevice();
  SelectFormat(0, 2, 32, 48000);  // 8-byte frames, nominal feedback 6.0 frames per microframe
  Report report;
  std::vector<ULONG> lengths;
  port_.onUrb = [&](PURB urb) {
    const auto& iso = urb->UrbIsochronousTransfer;
    // Isochronous OUT packets take their length from consecutive offsets.
    for (ULONG k = 0; k < iso.NumberOfPackets; ++k) {
      const ULONG end =
          k + 1 < iso.NumberOfPackets ? iso.IsoPacket[k + 1].Offset : iso.TransferBufferLength;
      lengths.push_back(end - iso.IsoPacket[k].Offset);
    }
  };
  ULONG bytes = 0;
  AtDispatch([&] {
    PlaybackPacing pacing = model_->LatchPlaybackPacing();
    pacing.feedback = 0x64000;  // 6.25 frames: not the value in use
    bytes = model_->TransferBytes(pacing, 1);
    EXPECT_EQ(
        model_->SubmitPlayback(pacing, buffer_.data(), nullptr, bytes, 1, Report::Record, &report),
        STATUS_SUCCESS);
  });
  ASSERT_TRUE(kernel().RunUntil([&] { return report.calls != 0; }));
  port_.onUrb = nullptr;
  EXPECT_EQ(bytes, 50u * 8);
  EXPECT_EQ(report.status, STATUS_SUCCESS);
  EXPECT_EQ(report.bytes, bytes);
  ASSERT_EQ(lengths.size(), 8u) << "one packet per microframe, none added";
  ULONG total = 0;
  for (ULONG length : lengths) {
    EXPECT_TRUE(length == 6 * 8 || length == 7 * 8) << length;
    total += length;
  }
  EXPECT_EQ(total, bytes);
}

// Transfers sized ahead of their submission (filled before they go out) move the pacing as they
// are sized: reserved and then submitted in that order, followed by transfers sized as they are
// submitted, they carry the feedback's fractional frames exactly once.
TEST_F(TransferEngineTest, ReservedTransfersCarryThePacingOnceAndInOrder) {
  PlugTestDevice();
  SelectFormat(0, 2, 32, 48000);
  constexpr ULONG kFeedback = 0x6199A;  // 6.1 frames per microframe: 48.8 frames per transfer
  std::vector<ULONG> packetBytes;
  port_.onUrb = [&](PURB urb) {
    const auto& iso = urb->UrbIsochronousTransfer;
    ULONG sum = 0;
    for (ULONG k = 0; k < iso.NumberOfPackets; ++k) {
      const ULONG end =
          k + 1 < iso.NumberOfPackets ? iso.IsoPacket[k + 1].Offset : iso.TransferBufferLength;
      const ULONG length = end - iso.IsoPacket[k].Offset;
      EXPECT_TRUE(length == 6 * 8 || length == 7 * 8) << length;
      sum += length;
    }
    packetBytes.push_back(sum);
  };
  constexpr ULONG kEach = 5;
  Report reports[2 * kEach];
  std::vector<ULONG> sized;
  AtDispatch([&] {
    model_->StorePlaybackFeedback(kFeedback);
    PlaybackPacing reserved[kEach];
    for (PlaybackPacing& pacing : reserved) sized.push_back(model_->ReservePlayback(1, 0, &pacing));
    for (ULONG i = 0; i < kEach; ++i) {
      EXPECT_EQ(model_->SubmitPlayback(reserved[i], buffer_.data(), nullptr, sized[i], 1,
                                       Report::Record, &reports[i], TRUE),
                STATUS_SUCCESS);
    }
    for (ULONG i = kEach; i < 2 * kEach; ++i) {
      const PlaybackPacing pacing = model_->LatchPlaybackPacing();
      sized.push_back(model_->TransferBytes(pacing, 1));
      EXPECT_EQ(model_->SubmitPlayback(pacing, buffer_.data(), nullptr, sized[i], 1,
                                       Report::Record, &reports[i]),
                STATUS_SUCCESS);
    }
  });
  ASSERT_TRUE(kernel().RunUntil([&] { return reports[2 * kEach - 1].calls != 0; }));
  port_.onUrb = nullptr;
  EXPECT_EQ(packetBytes, sized) << "each transfer laid out with the bytes it was sized with";
  ULONG frames = 0;
  for (ULONG bytes : sized) frames += bytes / 8;
  // 488 frames in ten transfers; the accumulator may hold back at most one frame.
  EXPECT_GE(frames, 487u);
  EXPECT_LE(frames, 488u);
}

TEST_F(TransferEngineTest, CapturePacketsOutsideTheFormatsWindowFailTheRequest) {
  PlugTestDevice();
  SelectFormat(1, 2, 24, 48000);
  // Three 56-byte slots that received 48, 40 and 48 bytes.
  std::vector<ULONGLONG> words(GET_ISO_URB_SIZE(3) / 8 + 1);
  PURB urb = reinterpret_cast<PURB>(words.data());
  auto& iso = urb->UrbIsochronousTransfer;
  iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
  iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
  iso.NumberOfPackets = 3;
  const ULONG lengths[] = {48, 40, 48};
  for (ULONG k = 0; k < 3; ++k) iso.IsoPacket[k] = {k * 56, lengths[k], USBD_STATUS_SUCCESS};
  USBAudioStreamInterface* capture = model_->CaptureInterface();
  capture->MaximumPacketBytes = 56;
  struct Case {
    LONG minimum;
    NTSTATUS status;
  } cases[] = {{40, STATUS_SUCCESS}, {48, STATUS_UNEXPECTED_IO_ERROR}};
  for (const Case& c : cases) {
    capture->MinimumPacketBytes = c.minimum;
    EXPECT_EQ(model_->ValidateIsoCompletion(STATUS_SUCCESS, urb), c.status) << c.minimum;
  }
  EXPECT_EQ(model_->ValidateIsoCompletion(STATUS_CANCELLED, urb), STATUS_CANCELLED);
  iso.TransferFlags = USBD_START_ISO_TRANSFER_ASAP;  // playback is not checked
  EXPECT_EQ(model_->ValidateIsoCompletion(STATUS_SUCCESS, urb), STATUS_SUCCESS);
}

TEST_F(TransferEngineTest, AnEmptyIrpPoolGrowsByTheIrpOfTheRequest) {
  PlugTestDevice();
  const ULONG captureBytes = SelectFormat(1, 2, 24, 48000);
  const ULONG pooled = ULONG(kernel().PoolStats(io::kIrpTag).liveCount);
  std::vector<PIRP> taken(pooled);
  Report report;
  AtDispatch([&] {
    for (PIRP& irp : taken) irp = model_->GetIrp();
    EXPECT_EQ(kernel().PoolStats(io::kIrpTag).liveCount, pooled) << "the pool was emptied";
    EXPECT_EQ(model_->SubmitCapture(buffer_.data(), captureBytes, Report::Record, &report),
              STATUS_SUCCESS);
  });
  ASSERT_TRUE(kernel().RunUntil([&] { return report.calls != 0; }));
  EXPECT_EQ(report.status, STATUS_SUCCESS);
  EXPECT_EQ(kernel().PoolStats(io::kIrpTag).liveCount, pooled + 1);
  const uint64_t allocated = kernel().PoolStats(io::kIrpTag).totalCount;
  AtDispatch([&] {
    // The request's IRP is in the pool now: taking one allocates nothing.
    PIRP irp = model_->GetIrp();
    EXPECT_EQ(kernel().PoolStats(io::kIrpTag).totalCount, allocated);
    model_->ReturnIrp(irp);
    for (PIRP t : taken) model_->ReturnIrp(t);
  });
}

// A refused submission: its status, no callback, the scheduling state where it was, and (by
// the leak check at tear-down) nothing kept.
struct RefusedCase;

class RefusedSubmissionTest : public TransferEngineTest,
                              public ::testing::WithParamInterface<RefusedCase> {
 public:
  void Select(ULONG direction, ULONG channels, ULONG bits, ULONG rate) {
    SelectFormat(direction, channels, bits, rate);
  }
  void FailNextAllocation(ULONG tag) { FailAllocation(1, tag); }
  void FailAllocation(uint64_t nth, ULONG tag) { kernel().FailPoolAllocation(nth, tag); }
  void FailNextMapping() { kernel().FailMdlMapping(1); }

  NTSTATUS Playback(Report* r, ULONG bytes) {
    return model_->SubmitPlayback(buffer_.data(), nullptr, bytes, 1, Report::Record, r);
  }
  NTSTATUS PlaybackWithoutABuffer(Report* r) {
    return model_->SubmitPlayback(nullptr, nullptr, 192, 1, Report::Record, r);
  }
  NTSTATUS MillisecondOfPlayback(Report* r) {
    return Playback(r, model_->GetTransferBytes(1, model_->LatchPlaybackFeedback()));
  }
  // Every pooled IRP is busy, so the request needs a fresh one.
  NTSTATUS PlaybackWithEveryIrpBusy(Report* r) {
    std::vector<PIRP> taken(kernel().PoolStats(io::kIrpTag).liveCount);
    for (PIRP& irp : taken) irp = model_->GetIrp();
    const NTSTATUS status = MillisecondOfPlayback(r);
    for (PIRP irp : taken) model_->ReturnIrp(irp);
    return status;
  }
  // The length-header copy reads the audio through a mapping of the MDL.
  NTSTATUS PlaybackFromAnUnmappedMdl(Report* r) {
    const ULONG bytes = model_->GetTransferBytes(1, 0);
    PMDL mdl = IoAllocateMdl(buffer_.data(), bytes, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(mdl, KernelMode, IoReadAccess);
    const NTSTATUS status = model_->SubmitPlayback(nullptr, mdl, bytes, 1, Report::Record, r);
    // The copy is made at submission: the MDL is not needed afterwards.
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
    return status;
  }
  NTSTATUS Capture(Report* r) {
    return model_->SubmitCapture(buffer_.data(), 512, Report::Record, r);
  }
  NTSTATUS Feedback(Report* r) {
    return model_->RecvFeedback(buffer_.data(), 16, Report::Record, r);
  }
};

struct RefusedCase {
  const char* name;
  const char* device;  // catalogue name; null: the test device
  std::function<void(RefusedSubmissionTest&)> arrange;
  std::function<NTSTATUS(RefusedSubmissionTest&, Report*)> submit;
  NTSTATUS status;
};

void PrintTo(const RefusedCase& c, std::ostream* os) {
  *os << c.name;
}

using Test = RefusedSubmissionTest;
const auto kNothing = [](Test&) {};
const auto kPlayback44k = [](Test& t) { t.Select(0, 2, 16, 44100); };
const auto kMillisecondOfPlayback = [](Test& t, Report* r) { return t.MillisecondOfPlayback(r); };

const RefusedCase kRefusedCases[] = {
    {"PlaybackWithoutAFormat", nullptr, kNothing, kMillisecondOfPlayback, STATUS_NOT_SUPPORTED},
    {"CaptureWithoutAFormat", nullptr, kNothing, [](Test& t, Report* r) { return t.Capture(r); },
     STATUS_NOT_SUPPORTED},
    {"CaptureWithoutACaptureInterface", "uac2-playback-only", kNothing,
     [](Test& t, Report* r) { return t.Capture(r); }, STATUS_INVALID_PARAMETER},
    {"FeedbackWithoutAFeedbackPipe", nullptr, [](Test& t) { t.Select(0, 2, 16, 48000); },
     [](Test& t, Report* r) { return t.Feedback(r); }, STATUS_INVALID_PARAMETER},
    {"PlaybackWithoutABuffer", nullptr, kPlayback44k,
     [](Test& t, Report* r) { return t.PlaybackWithoutABuffer(r); }, STATUS_INVALID_PARAMETER},
    {"PlaybackOfNothing", nullptr, kPlayback44k,
     [](Test& t, Report* r) { return t.Playback(r, 0); }, STATUS_INVALID_PARAMETER},
    {"NoRequestContext", nullptr,
     [](Test& t) {
       t.Select(0, 2, 16, 44100);
       t.FailNextAllocation(kUrbTag);  // the look-aside list is still empty
     },
     kMillisecondOfPlayback, STATUS_INSUFFICIENT_RESOURCES},
    {"NoUrb", nullptr,
     [](Test& t) {
       t.Select(0, 2, 16, 44100);
       // With no URB cached yet, the request's context is the first allocation, its URB
       // the second.
       t.FailAllocation(2, kUrbTag);
     },
     kMillisecondOfPlayback, STATUS_INSUFFICIENT_RESOURCES},
    {"NoIrp", nullptr,
     [](Test& t) {
       t.Select(0, 2, 16, 44100);
       t.FailNextAllocation(io::kIrpTag);
     },
     [](Test& t, Report* r) { return t.PlaybackWithEveryIrpBusy(r); },
     STATUS_INSUFFICIENT_RESOURCES},
    {"NoLengthHeaderCopy", "quirk-length-header",
     [](Test& t) {
       t.Select(0, 2, 24, 48000);
       t.FailNextAllocation(PoolTag("BPMT"));
     },
     kMillisecondOfPlayback, STATUS_INSUFFICIENT_RESOURCES},
    {"NoMappingOfTheMdl", "quirk-length-header",
     [](Test& t) {
       t.Select(0, 2, 24, 48000);
       t.FailNextMapping();
     },
     [](Test& t, Report* r) { return t.PlaybackFromAnUnmappedMdl(r); },
     STATUS_INSUFFICIENT_RESOURCES},
};

TEST_P(RefusedSubmissionTest, GivesEverythingBackAndNeverCallsBack) {
  const RefusedCase& c = GetParam();
  if (c.device != nullptr) {
    PlugStarted(c.device);
  } else {
    PlugTestDevice();
  }
  c.arrange(*this);
  const ULONG position = model_->PatternPosition();
  Report report;
  AtDispatch([&] { EXPECT_EQ(c.submit(*this, &report), c.status); });
  ASSERT_TRUE(kernel().RunFor(20 * kMs));
  EXPECT_EQ(report.calls, 0);
  EXPECT_EQ(model_->PatternPosition(), position);
  kernel().ClearPoolFailures();

  // Nothing was left half-taken: the same request goes through once it can.
  if (c.status == STATUS_INSUFFICIENT_RESOURCES) {
    AtDispatch([&] { EXPECT_EQ(c.submit(*this, &report), STATUS_SUCCESS); });
    ASSERT_TRUE(kernel().RunUntil([&] { return report.calls != 0; }));
    EXPECT_EQ(report.status, STATUS_SUCCESS);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedSubmissionTest, ::testing::ValuesIn(kRefusedCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(TransferEngineTest, EveryRequestCallsBackOnceWhenTheDeviceGoes) {
  PlugTestDevice();
  PlaybackStream playback;
  playback.Setup(model_, 8, SelectFormat(0, 2, 32, 48000));
  FeedbackStream feedback;
  feedback.model = model_;
  feedback.nominal = model_->NominalFeedback(0);
  feedback.AddSlots(1, model_->GetFeedbackBufferSize());
  CaptureStream capture;
  capture.model = model_;
  capture.frameBytes = 8;
  capture.transferBytes = SelectFormat(1, 2, 24, 48000);
  capture.AddSlots(kInFlight, capture.transferBytes);
  // After the first failure every slot resubmits once more, into a device that is gone.
  for (Stream* s : std::initializer_list<Stream*>{&playback, &feedback, &capture}) {
    s->resubmitAfterFailure = true;
  }
  AtDispatch([&] {
    feedback.Start();
    playback.Start();
    capture.Start();
  });
  port_.controller().ScheduleUnplug(50 * kMs);
  ASSERT_TRUE(kernel().RunUntil([&] {
    return playback.counters.failedCompletions >= 2 * kInFlight &&
           capture.counters.failedCompletions >= 2 * kInFlight &&
           feedback.counters.failedCompletions >= 2;
  }));
  Drain({&playback, &feedback, &capture});

  for (const Stream* s : std::initializer_list<const Stream*>{&playback, &feedback, &capture}) {
    EXPECT_EQ(s->counters.completed, s->counters.submitted);
    EXPECT_EQ(s->counters.badReports, 0u);
    EXPECT_EQ(s->counters.lastFailure, STATUS_DEVICE_NOT_CONNECTED);
  }
}

}  // namespace
}  // namespace tarnlink::iso::testing
