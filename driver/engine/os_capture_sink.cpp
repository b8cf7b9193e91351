#include "engine_trace_points.h"
#include "os_stream_sources.h"

NTSTATUS COsCaptureSink::Prepare(const UsbFormat& usb, ULONG) {
  const OsFormat& os = m_Host->OsFormatOf(kDirectionCapture);
  const ConverterFormat source = {kStreamKindPcm, usb.FormatTag, usb.Bits, usb.Channels};
  const ConverterFormat destination = {kStreamKindPcm, os.FormatTag, os.Bits, os.Channels};
  m_UsbFrameBytes = usb.FrameBytes;
  return SelectConverter(&m_Converter, usb.FormatTag, &source, &destination);
}

VOID COsCaptureSink::Write(PCVOID src, ULONG frames) {
  const ULONG frameBytes = FrameBytes();
  if (src == nullptr || frames == 0 || frameBytes == 0) return;
  PMINIPORTSTREAMCONTROL miniport = m_Host->ReferenceMiniport();
  if (miniport == nullptr) return;
  if (miniport->BeginTransfer(TRUE)) {
    miniport->TransferData(TRUE, frames * frameBytes);
    CChunkQueues& chunks = m_Host->Chunks();
    const auto* in = static_cast<const UCHAR*>(src);
    ULONG done = 0;
    KIRQL irql;
    KeAcquireSpinLock(chunks.Lock(kDirectionCapture), &irql);
    PLIST_ENTRY list = chunks.List(kDirectionCapture);
    if (IsListEmpty(list)) TRACE_POINT(kTraceCaptureChunksEmpty, frames);
    while (done < frames && !IsListEmpty(list)) {
      ChunkEntry* entry = CONTAINING_RECORD(list->Flink, ChunkEntry, Link);
      ULONG piece = entry->Bytes / frameBytes;
      if (piece > frames - done) piece = frames - done;
      Copy(&m_Converter, entry->Current, in + done * m_UsbFrameBytes, piece);
      entry->Current = static_cast<PUCHAR>(entry->Current) + piece * frameBytes;
      entry->Bytes -= piece * frameBytes;
      done += piece;
      // A piece smaller than a frame cannot take one; it is as good as used.
      if (entry->Bytes < frameBytes) {
        chunks.Return(CONTAINING_RECORD(RemoveHeadList(list), ChunkEntry, Link));
      }
    }
    KeReleaseSpinLock(chunks.Lock(kDirectionCapture), irql);
    miniport->AdvancePosition(TRUE, done * frameBytes);
    miniport->EndTransfer(TRUE);
  }
  miniport->Release();
}
