#include "engine_trace_points.h"
#include "os_stream_sources.h"

namespace {

constexpr LONG kTickPeriod = 10000;  // 1 ms in 100 ns units

VOID ArmTimer(PKTIMER timer, PKDPC dpc) {
  LARGE_INTEGER due;
  due.QuadPart = -kTickPeriod;
  KeSetTimer(timer, due, dpc);
}

}  // namespace

VOID COsPlaybackSource::Initialize(IOsStreamHost* host) {
  m_Host = host;
  KeInitializeTimerEx(&m_Timer, NotificationTimer);
  KeInitializeDpc(&m_TimerDpc, TimerTick, this);
}

ULONG COsPlaybackSource::Read(PVOID dst, ULONG frames) {
  const ULONG wanted = frames * FrameBytes();
  auto* out = static_cast<PUCHAR>(dst);
  PMINIPORTSTREAMCONTROL miniport = m_Host->ReferenceMiniport();
  ULONG done = 0;
  if (miniport != nullptr && miniport->BeginTransfer(FALSE)) {
    miniport->TransferData(FALSE, wanted);
    CChunkQueues& chunks = m_Host->Chunks();
    KIRQL irql;
    KeAcquireSpinLock(chunks.Lock(kDirectionPlayback), &irql);
    PLIST_ENTRY list = chunks.List(kDirectionPlayback);
    while (done < wanted && !IsListEmpty(list)) {
      ChunkEntry* entry = CONTAINING_RECORD(list->Flink, ChunkEntry, Link);
      const ULONG piece = entry->Bytes < wanted - done ? entry->Bytes : wanted - done;
      if (out != nullptr) RtlCopyMemory(out + done, entry->Current, piece);
      miniport->FillSilence(FALSE, entry->Current, piece);
      entry->Current = static_cast<PUCHAR>(entry->Current) + piece;
      entry->Bytes -= piece;
      done += piece;
      if (entry->Bytes == 0) chunks.Return(CONTAINING_RECORD(RemoveHeadList(list), ChunkEntry, Link));
    }
    KeReleaseSpinLock(chunks.Lock(kDirectionPlayback), irql);
    miniport->AdvancePosition(FALSE, done);
    miniport->EndTransfer(FALSE);
  }
  if (miniport != nullptr) miniport->Release();
  // What the stream could not give plays as silence rather than as whatever the buffer held.
  if (out != nullptr && done < wanted) RtlZeroMemory(out + done, wanted - done);
  return frames;
}

NTSTATUS COsPlaybackSource::StartClock() {
  if (m_Host->HasCaptureInterface()) return STATUS_SUCCESS;
  ExSetTimerResolution(kTickPeriod >= 10000 ? kTickPeriod / 10000 : 1, TRUE);
  InterlockedExchange(&m_TimerRunning, 1);
  ArmTimer(&m_Timer, &m_TimerDpc);
  return STATUS_SUCCESS;
}

VOID COsPlaybackSource::StopClock() {
  if (InterlockedExchange(&m_TimerRunning, 0) == 0) return;
  KeCancelTimer(&m_Timer);
  // A tick already running may have armed the timer once more.
  KeFlushQueuedDpcs();
  KeCancelTimer(&m_Timer);
  ExSetTimerResolution(0, FALSE);
}

VOID COsPlaybackSource::TimerTick(PKDPC, PVOID context, PVOID, PVOID) {
  auto* source = static_cast<COsPlaybackSource*>(context);
  if (source->m_TimerRunning == 0) return;
  // The position call is what keeps the stream's notifications going; its answer is not needed.
  if (PMINIPORTSTREAMCONTROL miniport = source->m_Host->ReferenceMiniport()) {
    KSAUDIO_POSITION position = {};
    miniport->GetStreamPosition(FALSE, &position);
    miniport->Release();
  }
  if (source->m_TimerRunning != 0) ArmTimer(&source->m_Timer, &source->m_TimerDpc);
}
