#include "sim/audioengine/audio_engine.h"

#include <cstring>

#include "kernel/ob_host.h"
#include "sim/audioengine/ks_client.h"

namespace sim::audioengine {
namespace {

constexpr LONGLONG kMs = 10000;  // 100 ns units

KSDATARANGE_AUDIO ClientRange(const WishedFormat& wished) {
  KSDATARANGE_AUDIO range = {};
  range.DataRange.FormatSize = sizeof(range);
  range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
  range.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
  range.MaximumChannels = wished.channels;
  range.MinimumBitsPerSample = range.MaximumBitsPerSample = wished.bits;
  range.MinimumSampleFrequency = range.MaximumSampleFrequency = wished.rate;
  return range;
}

PinFormat ReadFormat(const std::vector<uint8_t>& bytes) {
  PinFormat format;
  if (bytes.size() < sizeof(KSDATAFORMAT_WAVEFORMATEXTENSIBLE)) return format;
  KSDATAFORMAT_WAVEFORMATEXTENSIBLE record = {};
  std::memcpy(&record, bytes.data(), sizeof(record));
  const WAVEFORMATEXTENSIBLE& wave = record.WaveFormatExt;
  format.rate = wave.Format.nSamplesPerSec;
  format.channels = wave.Format.nChannels;
  format.bits = wave.Format.wBitsPerSample;
  format.blockAlign = wave.Format.nBlockAlign;
  format.ieeeFloat = wave.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
  return format;
}

}  // namespace

EngineStream::~EngineStream() {
  Close();
}

NTSTATUS EngineStream::Prepare(HANDLE filter, ULONG pinId, const WishedFormat& wished,
                               ULONG periodMs) {
  std::vector<uint8_t> format;
  NTSTATUS status = Intersect(filter, pinId, ClientRange(wished), &format);
  if (!NT_SUCCESS(status)) return status;
  format_ = ReadFormat(format);
  if (format_.blockAlign == 0) return STATUS_NO_MATCH;
  status = CreatePin(filter, pinId, format, &pin_);
  if (!NT_SUCCESS(status)) return status;

  PVOID event = nullptr;
  status = ObHostCreateObject(*ExEventObjectType, sizeof(KEVENT), 0, &event);
  if (!NT_SUCCESS(status)) return status;
  notification_ = static_cast<PKEVENT>(event);
  KeInitializeEvent(notification_, SynchronizationEvent, FALSE);
  status = ObHostInsertHandle(PsGetCurrentProcess(), event, EVENT_ALL_ACCESS, OBJ_KERNEL_HANDLE,
                              &eventHandle_);
  ObDereferenceObject(event);  // the handle keeps the event
  if (!NT_SUCCESS(status)) {
    notification_ = nullptr;
    return status;
  }
  KeInitializeEvent(&stop_, NotificationEvent, FALSE);

  periodFrames_ = format_.rate * periodMs / 1000;
  KSRTAUDIO_BUFFER buffer = {};
  status = AllocateBuffer(pin_, 2 * periodFrames_ * format_.blockAlign, 2, &buffer);
  if (!NT_SUCCESS(status)) return status;
  buffer_ = static_cast<uint8_t*>(buffer.BufferAddress);
  bufferBytes_ = buffer.ActualBufferSize;
  status = RegisterEvent(pin_, eventHandle_);
  if (NT_SUCCESS(status)) status = SetState(pin_, KSSTATE_PAUSE);
  return status;
}

NTSTATUS EngineStream::Start() {
  if (!capture_) {
    fill_(buffer_, 2 * periodFrames_, format_);
    counters_.framesMoved += 2 * periodFrames_;
  }
  lastHalf_ = 1;
  thread_ = kernel_.StartThread([this] { Run(); }, capture_ ? "audio engine capture" : "audio engine render");
  const NTSTATUS status = SetState(pin_, KSSTATE_RUN);
  runSince_ = KeQueryInterruptTime();
  return status;
}

NTSTATUS EngineStream::Pause() {
  return SetState(pin_, KSSTATE_PAUSE);
}

NTSTATUS EngineStream::Resume() {
  return SetState(pin_, KSSTATE_RUN);
}

void EngineStream::Close() {
  if (thread_ != nullptr) {
    stopping_ = true;
    KeSetEvent(&stop_, 0, FALSE);
    KeWaitForSingleObject(thread_, Executive, KernelMode, FALSE, nullptr);
    thread_ = nullptr;
  }
  if (pin_ != nullptr) {
    // Closing the pin stops it, unregisters the event and frees the buffer.
    ZwClose(pin_);
    pin_ = nullptr;
  }
  if (eventHandle_ != nullptr) {
    ZwClose(eventHandle_);
    eventHandle_ = nullptr;
    notification_ = nullptr;
  }
}

StreamCounters EngineStream::Counters() const {
  return counters_;
}

void EngineStream::Run() {
  PVOID objects[2] = {notification_, &stop_};
  LARGE_INTEGER timeout;
  // Two periods without a notification: the device stopped taking (or giving) audio.
  timeout.QuadPart = -static_cast<LONGLONG>(2 * periodFrames_) * 1000 * kMs / format_.rate;
  while (!stopping_) {
    NTSTATUS status = KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE,
                                               &timeout, nullptr);
    if (stopping_) break;
    KSSTATE state = KSSTATE_STOP;
    if (status == STATUS_TIMEOUT) {
      // A paused stream is quiet by design.
      if (NT_SUCCESS(KsProperty(pin_, PropertyRequest(KSPROPSETID_Connection,
                                                      KSPROPERTY_CONNECTION_STATE,
                                                      KSPROPERTY_TYPE_GET),
                                &state, sizeof(state))) &&
          state == KSSTATE_RUN)
        ++counters_.glitches;
      continue;
    }
    ++counters_.notifications;
    KSAUDIO_POSITION position = {};
    if (!NT_SUCCESS(Position(pin_, &position))) {
      ++counters_.failedRequests;
      continue;
    }
    // The device works in one half; the other is the engine's.
    const ULONG current = position.PlayOffset < bufferBytes_ / 2 ? 0 : 1;
    const ULONG ready = 1 - current;
    if (ready == lastHalf_) continue;
    MoveHalf(ready);
    lastHalf_ = ready;
  }
}

void EngineStream::MoveHalf(ULONG half) {
  uint8_t* at = buffer_ + half * (bufferBytes_ / 2);
  if (capture_) {
    take_(at, periodFrames_, format_);
  } else {
    fill_(at, periodFrames_, format_);
  }
  counters_.framesMoved += periodFrames_;
}

AudioEngine::~AudioEngine() {
  Close();
}

NTSTATUS AudioEngine::Open(const std::u16string& interfacePath) {
  NTSTATUS status = OpenFilter(interfacePath, &filter_);
  if (!NT_SUCCESS(status)) return status;
  ULONG count = 0;
  status = PinCount(filter_, &count);
  if (!NT_SUCCESS(status)) return status;
  for (ULONG pin = 0; pin < count; ++pin) {
    KSPIN_COMMUNICATION communication = KSPIN_COMMUNICATION_NONE;
    KSPIN_DATAFLOW flow = KSPIN_DATAFLOW_IN;
    if (!NT_SUCCESS(PinValue(filter_, KSPROPERTY_PIN_COMMUNICATION, pin, &communication)) ||
        !NT_SUCCESS(PinValue(filter_, KSPROPERTY_PIN_DATAFLOW, pin, &flow)) ||
        communication != KSPIN_COMMUNICATION_SINK)
      continue;
    ULONG& slot = flow == KSPIN_DATAFLOW_IN ? renderPin_ : capturePin_;
    if (slot == kNoPin) slot = pin;
  }
  return ReadEndpointControls(filter_, &controls_);
}

NTSTATUS AudioEngine::SetNodeValue(ULONG node, LONG channel, LONG value) {
  for (NodeControl& control : controls_.nodes) {
    if (control.node != node) continue;
    NTSTATUS status = sim::audioengine::SetNodeValue(filter_, node, control.property, channel, value);
    ReadNodeControl(filter_, node, control.property, &control);
    return status;
  }
  return STATUS_NOT_FOUND;
}

void AudioEngine::Close() {
  if (filter_ != nullptr) ZwClose(filter_);
  filter_ = nullptr;
}

NTSTATUS AudioEngine::OpenStream(bool capture, const WishedFormat& wished, ULONG periodMs,
                                 FrameFill fill, FrameTake take,
                                 std::unique_ptr<EngineStream>* stream) {
  const ULONG pin = capture ? capturePin_ : renderPin_;
  if (pin == kNoPin) return STATUS_NOT_FOUND;
  std::unique_ptr<EngineStream> opened(new EngineStream(kernel_, capture));
  opened->fill_ = std::move(fill);
  opened->take_ = std::move(take);
  NTSTATUS status = opened->Prepare(filter_, pin, wished, periodMs);
  if (NT_SUCCESS(status)) *stream = std::move(opened);
  return status;
}

}  // namespace sim::audioengine
