// CAsioStream: the kernel half of the low-latency path, one per device. It owns the two ring
// blocks shared with the ASIO client, the references to the client's two events (the period
// event it sets, the output event it waits on in its output thread), the period signalling and
// the start, stop and unprepare of the stream on the engine's directions. The private channel's
// requests call it under the adapter's control mutex; the engine's completion paths call its
// source and sink.
#pragma once

#include "asio_stream_sources.h"
#include "kernel_mode.h"
#include "shared_ring.h"
#include "staging_buffer.h"

class CStreamEngine;

// What a prepare stores of the stream.
struct AsioStreamFormat {
  ULONG PeriodFrames;
  USHORT Kind;
  USHORT FormatTag;
  ULONG CaptureChannels;
  ULONG CaptureBits;
  ULONG PlaybackChannels;
  ULONG PlaybackBits;
};

class CAsioStream {
 public:
  // At adapter construction: locks and events, and the engine's ASIO users wired to the
  // stream's source and sink.
  VOID Initialize(CStreamEngine* engine);

  // --- prepare and unprepare (control mutex held) ------------------------------------------
  // The rings (0 frames: no such ring), mapped into the calling process. On failure neither
  // ring is left.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      AllocateRings(const AsioStreamFormat& format, ULONG captureFrames, ULONG playbackFrames);
  PVOID CaptureRingAddress() const { return m_CaptureRing.UserAddress(); }
  PVOID PlaybackRingAddress() const { return m_PlaybackRing.UserAddress(); }
  // References the client's events by their handles in the calling process (0: no event). A
  // slot referenced already: STATUS_UNSUCCESSFUL. On failure what this call referenced is let go.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS ReferenceEvents(ULONGLONG periodEvent, ULONGLONG outputEvent);
  // Events, then rings, then the stored format; the stream kind goes back to PCM and the
  // directions whose ring existed are released.
  _IRQL_requires_(PASSIVE_LEVEL) VOID Unprepare();
  // Both rings and the stored format only (a prepare that failed after allocating them).
  _IRQL_requires_(PASSIVE_LEVEL) VOID FreeRings();
  BOOLEAN HasCaptureRing() const { return m_CaptureRing.Exists(); }
  BOOLEAN HasPlaybackRing() const { return m_PlaybackRing.Exists(); }

  // --- running (control mutex held) --------------------------------------------------------
  // Idempotent; a failure leaves the stream stopped with its directions closed.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Start();
  _IRQL_requires_(PASSIVE_LEVEL) VOID Stop();
  BOOLEAN IsStarted() const { return m_Started; }
  VOID Arm();
  LONGLONG StartTime() const { return m_StartTime; }
  VOID SetStartTime(ULONGLONG time);
  // 1 once the engine broke the stream off since the last start or stop.
  ULONG Interrupted();
  VOID SetPrefillOverride(ULONG frames) { m_PrefillOverride = frames; }

  // --- the engine's side (up to DISPATCH_LEVEL) ----------------------------------------------
  ULONG ReadPlayback(PVOID dst, ULONG frames);
  ULONG PlaybackFramesAvailable() const;
  BOOLEAN PlaybackRingStarted();
  VOID CaptureWrite(PCVOID src, ULONG frames);
  VOID PlaybackServiced();
  // The engine broke the stream off: the flag and both rings' interrupted words.
  VOID MarkInterrupted();
  const AsioStreamFormat& Format() const { return m_Format; }
  ULONG SampleRate() const { return m_SampleRate; }

 private:
  NTSTATUS StartCore(ULONG rate, ULONG stagingExtra);
  VOID StopCore();
  NTSTATUS StartOutputThread();
  VOID StopOutputThread();
  static KSTART_ROUTINE OutputThreadEntry;
  VOID OutputThread();
  VOID SignalPeriod(ULONG frames);
  VOID SetEvent(PKEVENT event, KPRIORITY increment);
  // The engine noticed a break since the last look: the stream takes it over.
  VOID CollectEngineBreak();
  NTSTATUS ReferenceEvent(ULONGLONG handle, PKEVENT* slot);

  CStreamEngine* m_Engine = nullptr;
  CSharedRing m_CaptureRing;
  CSharedRing m_PlaybackRing;
  KSPIN_LOCK m_StreamLock = 0;
  AsioStreamFormat m_Format = {};
  ULONG m_SampleRate = 0;
  volatile LONG m_Interrupted = 0;
  ULONG m_FirstSignalPending = 1;
  LONGLONG m_StartTime = 0;
  ULONG m_PeriodCounter = 0;
  ULONG m_PrefillOverride = 0;
  BOOLEAN m_Started = FALSE;
  PKEVENT m_PeriodEvent = nullptr;
  PKEVENT m_OutputEvent = nullptr;
  PKTHREAD m_OutputThread = nullptr;
  KEVENT m_OutputStop;
  StagingBuffer m_Staging = {};
  CAsioPlaybackSource m_PlaybackSource;
  CAsioCaptureSink m_CaptureSink;
};
