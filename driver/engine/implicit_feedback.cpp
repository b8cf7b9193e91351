// CStreamEngine: playback paced by the capture stream (implicit feedback). Before the first
// playback transfer, the worker sizes its transfers from what capture delivers; once playback
// runs, every transfer carries the nominal period and corrects by the frames capture delivered
// above or below its own nominal period, within the format's slack.
#include "engine_trace_points.h"
#include "stream_engine.h"

VOID CStreamEngine::RunImplicitStart() {
  KIRQL irql;
  KeAcquireSpinLock(&m_ImplicitLock, &irql);
  for (ULONG index = 0; index < m_PlaybackContextCount; ++index) {
    m_PlaybackContexts[index]->RequestedBytes = 0;
  }
  m_SizingIndex = 0;
  m_SizingCompletions = 0;
  m_ImplicitFrames = 0;
  m_Sizing = m_PlaybackContextCount != 0;
  KeClearEvent(&m_SizingDone);
  KeReleaseSpinLock(&m_ImplicitLock, irql);

  PVOID objects[3] = {&m_SizingDone, &m_Events[kDirectionCapture].Stop,
                      &m_Events[kDirectionPlayback].Stop};
  const NTSTATUS status =
      KeWaitForMultipleObjects(3, objects, WaitAny, Executive, KernelMode, FALSE, nullptr, nullptr);
  // A stop ends the wait: the worker's loop sees the playback stop next, and without capture
  // there is nothing to size by.
  if (status != STATUS_WAIT_0) TRACE_POINT(kTraceImplicitStartEnded, status);
  KeAcquireSpinLock(&m_ImplicitLock, &irql);
  m_Sizing = FALSE;
  m_SizingIndex = 0;
  m_SizingCompletions = 0;
  KeReleaseSpinLock(&m_ImplicitLock, irql);
}

VOID CStreamEngine::SizeFromCapture(ULONG bytes) {
  const ULONG captureFrameBytes = m_UsbFormat[kDirectionCapture].FrameBytes;
  const ULONG playbackFrameBytes = m_UsbFormat[kDirectionPlayback].FrameBytes;
  if (captureFrameBytes == 0 || playbackFrameBytes == 0) return;
  KeAcquireSpinLockAtDpcLevel(&m_ImplicitLock);
  if (m_Sizing) {
    TransferContext* context = m_PlaybackContexts[m_SizingIndex];
    context->RequestedBytes += bytes / captureFrameBytes * playbackFrameBytes;
    const ULONG perTransfer =
        m_CaptureTransferMs != 0 && m_PlaybackTransferMs > m_CaptureTransferMs
            ? m_PlaybackTransferMs / m_CaptureTransferMs
            : 1;
    if (++m_SizingCompletions >= perTransfer) {
      m_SizingCompletions = 0;
      if (++m_SizingIndex == m_PlaybackContextCount) {
        m_ImplicitFrames = (static_cast<LONG>(context->RequestedBytes) -
                            static_cast<LONG>(m_ImplicitNominal[kDirectionPlayback])) /
                           static_cast<LONG>(playbackFrameBytes);
        m_Sizing = FALSE;
        KeSetEvent(&m_SizingDone, IO_NO_INCREMENT, FALSE);
      }
    }
  } else if (KeReadStateEvent(&m_Events[kDirectionPlayback].Running) != 0) {
    const LONG frames = (static_cast<LONG>(bytes) -
                         static_cast<LONG>(m_ImplicitNominal[kDirectionCapture])) /
                        static_cast<LONG>(captureFrameBytes);
    if (frames >= m_ImplicitNegativeSlack[kDirectionCapture] &&
        frames <= m_ImplicitPositiveSlack[kDirectionCapture]) {
      m_ImplicitFrames += frames;
    }
  }
  KeReleaseSpinLockFromDpcLevel(&m_ImplicitLock);
}

ULONG CStreamEngine::ImplicitLength(const TransferContext* context) {
  if (KeReadStateEvent(&m_Events[kDirectionPlayback].Running) == 0) return context->RequestedBytes;
  const ULONG nominal = m_ImplicitNominal[kDirectionPlayback];
  if (nominal == 0) return 0;
  KIRQL irql;
  KeAcquireSpinLock(&m_ImplicitLock, &irql);
  LONG n = m_ImplicitFrames;
  if (n < m_ImplicitNegativeSlack[kDirectionPlayback]) n = m_ImplicitNegativeSlack[kDirectionPlayback];
  if (n > m_ImplicitPositiveSlack[kDirectionPlayback]) n = m_ImplicitPositiveSlack[kDirectionPlayback];
  m_ImplicitFrames -= n;
  KeReleaseSpinLock(&m_ImplicitLock, irql);
  return static_cast<ULONG>(static_cast<LONG>(nominal) +
                            n * static_cast<LONG>(m_UsbFormat[kDirectionPlayback].FrameBytes));
}
