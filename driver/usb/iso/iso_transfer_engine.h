// CIsoTransferEngine: the isochronous transfer engine of one device. It owns the playback
// stream's pacing state (the rate pattern row and position, the service interval), reads and
// writes the streams' feedback values under their lock, and builds, sends and completes the
// asynchronous requests of the streams. It knows the device model only as the streaming values
// of each direction and the USB function only as its transfer port.
//
// Each submission is independent. Success means the callback will run exactly once (at
// DISPATCH_LEVEL, possibly before the call returns); failure means it will not run and
// everything the request took has been released. Callers serialise the playback submissions,
// which advance the pacing state.
#pragma once

#include "iso_stream_values.h"
#include "iso_transfer_port.h"
#include "iso_urb_cache.h"
#include "kernel_mode.h"
#include "playback_pacing.h"
#include "rate_pattern_table.h"
#include "usb_request_context.h"

// The streams the engine serves, as the device model chose them once it was built.
struct IsoEngineStreams {
  IsoStreamValues* playback;
  IsoStreamValues* capture;
  BOOLEAN implicitFeedback;  // playback is paced by the capture stream
  BOOLEAN lengthHeader;      // every playback packet starts with its 4-byte length
};

class CIsoTransferEngine {
 public:
  explicit CIsoTransferEngine(IIsoTransferPort& port) : m_Port(port) {}
  ~CIsoTransferEngine() { m_UrbCache.Flush(m_Port.UsbdHandle()); }
  CIsoTransferEngine(const CIsoTransferEngine&) = delete;
  CIsoTransferEngine& operator=(const CIsoTransferEngine&) = delete;

  VOID Bind(const IsoEngineStreams& streams) { m_Streams = streams; }

  // --- pacing, as format selection sets it up -----------------------------------------------
  // Makes the rate's pattern row current; FALSE (nothing changed) when the table has none.
  BOOLEAN UseRatePattern(ULONG rate);
  // Zeroes the playback feedback values when the playback stream reads feedback.
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID ClearPlaybackFeedback();
  // A new playback format: the pattern starts over at `serviceInterval` (micro)frames per
  // packet and the feedback restarts from nominal.
  VOID RestartPlaybackPacing(ULONG serviceInterval);
  const RatePatternRow* CurrentRatePatternRow() const { return m_RatePatternRow; }
  ULONG PatternPosition() const { return m_PatternPosition; }
  ULONG ServiceInterval() const { return m_ServiceInterval; }
  BOOLEAN IsImplicitFeedbackMode() const { return m_Streams.implicitFeedback; }

  // --- feedback and the size of the next playback transfer --------------------------------
  // The 16.16 value of a device running exactly at the direction's rate; 0 without the stream.
  ULONG NominalFeedback(ULONG direction) const;
  // The feedback the stream engine accepted becomes the latest value.
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID StorePlaybackFeedback(ULONG feedback);
  // Latches the latest feedback into the value in use and returns it.
  _IRQL_requires_max_(DISPATCH_LEVEL) ULONG LatchPlaybackFeedback();
  // One transfer's pacing: latches the feedback and takes the accumulator or pattern position
  // the transfer starts from. The byte count and the packet layout of that transfer are both
  // computed from this snapshot, so they cannot disagree.
  _IRQL_requires_max_(DISPATCH_LEVEL) PlaybackPacing LatchPlaybackPacing();
  ULONG TransferBytes(const PlaybackPacing& pacing, ULONG milliseconds) const;
  // The bytes the next transfer of `milliseconds` carries at `feedback` from the current state,
  // without latching; changes nothing.
  ULONG GetTransferBytes(ULONG milliseconds, ULONG feedback) const;
  // Sizes a playback transfer ahead of its submission, for a client that fills its transfers
  // before they go out: latches the pacing into `snapshot` and moves the stream's pacing state
  // past a transfer of `bytes` (0: the bytes the pacing gives for `milliseconds`) at once.
  // Returns the transfer's bytes, 0 when it cannot be laid out. Reserved transfers must be
  // submitted in the order they were reserved, as reserved.
  _IRQL_requires_max_(DISPATCH_LEVEL) ULONG
      ReservePlayback(ULONG milliseconds, ULONG bytes, PlaybackPacing* snapshot);

  // --- requests ------------------------------------------------------------------------------
  // A playback transfer of `bytes` spanning `milliseconds`, from a mapped buffer or an MDL, laid
  // out from `pacing`; the pacing state the layout leaves behind is committed, unless the
  // transfer was `reserved` (ReservePlayback already moved the state past it).
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      SubmitPlayback(const PlaybackPacing& pacing, PVOID buffer, PMDL mdl, ULONG bytes,
                     ULONG milliseconds, PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext,
                     BOOLEAN reserved = FALSE);
  // The same from the current state with the feedback in use.
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      SubmitPlayback(PVOID buffer, PMDL mdl, ULONG bytes, ULONG milliseconds,
                     PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext);
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      SubmitCapture(PVOID buffer, ULONG bytes, PUSB_TRANSFER_CALLBACK callback,
                    PVOID callbackContext);
  // A read of the playback feedback endpoint; the callback's byte count is the average value
  // the read carried (0 when it failed).
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      RecvFeedback(PVOID buffer, ULONG bytes, PUSB_TRANSFER_CALLBACK callback,
                   PVOID callbackContext);
  // Bytes for one feedback read (4 ms of packets); 0 without a feedback pipe.
  ULONG GetFeedbackBufferSize() const;
  // A transfer on any pipe: isochronous with packets of MaximumPacketSize, else bulk or
  // interrupt. Only the low byte of transferFlags is used for isochronous pipes.
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      TransferPipe(PUSBD_PIPE_INFORMATION pipe, PVOID buffer, ULONG bytes, ULONG transferFlags,
                   PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext, ULONG startFrame);
  // The status a completed request reports: a successful capture request whose packets lie
  // outside the capture stream's packet window fails with STATUS_UNEXPECTED_IO_ERROR.
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      ValidateIsoCompletion(NTSTATUS status, PURB urb) const;

 private:
  IsoStreamShape PlaybackShape() const;
  // Paced by the capture stream, else by feedback or the rate pattern.
  PlaybackPacing CurrentPlaybackPacing() const;
  PlaybackPacing FeedbackOrPatternPacing() const;
  VOID CommitPlaybackPacing(const PlaybackPacing& pacing);
  USBRequestContext* TakeRequestContext(PUSBD_PIPE_INFORMATION pipe, ULONG bytes,
                                        PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext);
  // Releases what a request took: its URB (through the USBD library when isochronous), its
  // separate buffer and the context itself.
  VOID ReleaseRequest(USBRequestContext* context);
  // The request's isochronous URB for `packets` packets, from the cache when it has one.
  NTSTATUS TakeIsoUrb(USBRequestContext* context, ULONG packets);
  // Allocates and fills the isochronous URB of a request on its pipe: packets of
  // MaximumPacketSize over the context's byte count. 0 packets is refused.
  NTSTATUS BuildPipeIsochRequest(USBRequestContext* context, ULONG packets, PVOID buffer,
                                 ULONG transferFlags, ULONG startFrame);
  // The shared last step: an IRP from the pool carries the URB to the device, and `routine`
  // reports the outcome. Fails only when no IRP can be had.
  NTSTATUS Submit(USBRequestContext* context, PIO_COMPLETION_ROUTINE routine);
  // Lays out the length-header copy of a playback transfer in the context's separate buffer.
  NTSTATUS FillLengthHeaderRequest(USBRequestContext* context, PVOID buffer, PMDL mdl, ULONG bytes,
                                   PlaybackPacing& pacing);
  _Function_class_(IO_COMPLETION_ROUTINE) _IRQL_requires_max_(DISPATCH_LEVEL) static NTSTATUS
      TransferCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
  _Function_class_(IO_COMPLETION_ROUTINE) _IRQL_requires_max_(DISPATCH_LEVEL) static NTSTATUS
      _RecvFeedbackCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID CompleteTransfer(PIRP irp, USBRequestContext* context);
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID
      CompleteFeedbackRead(PIRP irp, USBRequestContext* context);
  VOID TraceCurrentBusFrame(PURB urb);

  IIsoTransferPort& m_Port;
  CIsoUrbCache m_UrbCache;
  IsoEngineStreams m_Streams = {};
  const RatePatternRow* m_RatePatternRow = nullptr;
  ULONG m_PatternPosition = 0;
  ULONG m_ServiceInterval = 1;
  // Where ReservePlayback lays a transfer out to advance the pacing: a transfer of at most
  // 4 ms at high speed has 32 packets.
  USBD_ISO_PACKET_DESCRIPTOR m_ReservedLayout[64] = {};
};
