// CUSBAudioCL: the driver's model of the device's USB Audio Class function, built once at start
// from the configuration copy CUSBCL keeps: the class version, the entity graph of the audio
// control interface, the streaming interfaces with their alternate settings, and which of them
// plays and which captures. After Configure only the current alternate settings, the pipes and
// the streaming values change.
//
// The configuration comes from the device and is untrusted. Every descriptor the model keeps a
// pointer to lies wholly inside the copy and is long enough for the fields read from it; a
// descriptor that is not is treated as absent, so a malformed device either starts with less
// modelled or is refused with STATUS_NOT_SUPPORTED.
#pragma once

#include "audio_entities.h"
#include "kernel_mode.h"
#include "playback_pacing.h"
#include "rate_pattern_table.h"
#include "usb_audio_quirks.h"
#include "usb_function.h"

inline constexpr ULONG kDirectionPlaybackModel = 0;
inline constexpr ULONG kDirectionCaptureModel = 1;

// Pointers into the configuration copy; null where the setting has no such descriptor.
struct USBAudioAltSetting {
  PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor;
  PUSB_ENDPOINT_DESCRIPTOR DataEndpoint;
  const UCHAR* GeneralDescriptor;          // AS_GENERAL
  const UCHAR* FormatDescriptor;           // FORMAT_TYPE
  const UCHAR* EndpointGeneralDescriptor;  // class-specific EP_GENERAL after the data endpoint
  PUSB_ENDPOINT_DESCRIPTOR FeedbackEndpoint;
};

// One audio streaming interface. Allocated zero-filled.
struct USBAudioStreamInterface {
  USBAudioStreamInterface* Next;
  UCHAR InterfaceNumber;
  UCHAR Direction;  // 0 playback (OUT), 1 capture (IN)
  ULONG AltSettingCount;
  ULONG CurrentAltSetting;
  USBAudioAltSetting* AltSettings;
  CUSBAudioEntity* Terminal;  // named by bTerminalLink of alternate setting 1
  PUSBD_PIPE_INFORMATION DataPipe;
  ULONG BytesPerFrame;
  LONG NominalPacketBytes;
  LONG MinimumPacketBytes;
  LONG MaximumPacketBytes;
  UCHAR IntegralRate;
  PUSBD_PIPE_INFORMATION FeedbackPipe;
  ULONG FeedbackInUse;   // 16.16
  ULONG FeedbackLatest;  // 16.16
  KSPIN_LOCK FeedbackLock;
  ULONG FeedbackLastRaw;     // 16.16
  LONG FeedbackAccumulator;  // low 16 bits used
  ULONG SampleRate;
  USHORT StreamKind;  // 0 PCM, 1 native DSD
};

class CUSBAudioCL : public CUSBCL {
 public:
  CUSBAudioCL();
  ~CUSBAudioCL() override;

  static void* operator new(SIZE_T bytes) noexcept;
  static void operator delete(void* memory) noexcept;

  // Starts the USB function on the physical device object and builds the model.
  virtual NTSTATUS Initialize(PDEVICE_OBJECT physicalDevice, PDEVICE_OBJECT functionDevice,
                              ULONG irpCount);
  // Selects the configuration and alternate setting 0 of every streaming interface.
  virtual NTSTATUS Configure();
  virtual NTSTATUS EnumerateStreamingInterfaces();
  virtual NTSTATUS ParseStreamingInterface(USBAudioStreamInterface* record);

  // Points every streaming interface's data and feedback pipe at the pipes of its current
  // alternate setting. STATUS_NOT_SUPPORTED when an endpoint has no pipe; the others are still
  // linked.
  NTSTATUS LinkPipes();
  // Names the direction's data pipe for content protection, which forwards to the USB stack.
  NTSTATUS GetStreamPipe(ULONG direction, PDRMFORWARD forward) const;

  // --- class requests -----------------------------------------------------------------------
  // A class request to an entity of the audio control interface: wValue = selector, channel;
  // wIndex = entity, control interface. Reads use bmRequestType 0xA1, writes 0x21.
  NTSTATUS EntityRequest(ControlAccess access, UCHAR request, UCHAR selector, UCHAR channel,
                         ULONG entityId, USHORT length, PVOID buffer, PULONG transferred = nullptr);
  NTSTATUS GetMute(CUSBAudioFeatureUnit* unit, ULONG channel, PUCHAR mute);
  NTSTATUS SetMute(CUSBAudioFeatureUnit* unit, ULONG channel, UCHAR mute);
  NTSTATUS GetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* volume);
  NTSTATUS SetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT volume);
  NTSTATUS GetVolumeRange(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* minimum, SHORT* maximum,
                          PUSHORT resolution);
  // Sets the rate of both directions' clocks and records it as the fixed rate either way.
  NTSTATUS SetDeviceSampleRate(ULONG rate);
  NTSTATUS IsRateSupported(ULONG rate);
  // *minimum and *maximum carry the caller's bounds in and the range found out.
  NTSTATUS GetRateRange(ULONG direction, PULONG minimum, PULONG maximum);
  BOOLEAN IsClockStable(ULONG direction);
  NTSTATUS SendStreamKind(USHORT value);
  NTSTATUS ReplayStreamKind();
  USHORT GetStreamKind() const;
  // Audio 1.0 endpoint sampling frequency (3 bytes on the wire).
  NTSTATUS SetEndpointSampleRate(UCHAR endpointAddress, ULONG rate);
  NTSTATUS GetEndpointSampleRate(UCHAR endpointAddress, PULONG rate);

  // --- format selection -------------------------------------------------------------------
  // Picks and selects the alternate setting for a format (channels, bits or rate 0: setting 0,
  // no bandwidth), sets the rate and stores the packet bounds. The standard variant also makes
  // the rate's pattern row current and restarts the playback feedback from nominal.
  NTSTATUS SelectStreamingFormat(ULONG direction, USHORT formatTag, ULONG channels, ULONG bits,
                                 ULONG rate, ULONG periodMs, PULONG outChannels,
                                 PULONG outContainerBits, PULONG outMaxBytesPerPeriod);
  // The variant for playback paced by the capture stream: the per-period nominal size and how
  // many frames a period may run short (negative) or long. A slack pointer may be null.
  NTSTATUS SelectStreamingFormat(ULONG direction, USHORT formatTag, ULONG channels, ULONG bits,
                                 ULONG rate, ULONG periodMs, PULONG outChannels,
                                 PULONG outContainerBits, PULONG outNominalBytesPerPeriod,
                                 PLONG outNegativeSlack, PLONG outPositiveSlack,
                                 PULONG outMaxBytesPerPeriod);
  NTSTATUS FindAltSetting(USBAudioStreamInterface* record, USHORT formatTag, ULONG channels,
                          ULONG bits, ULONG rate, PULONG outChannels, PULONG outContainerBits,
                          PULONG outAltSetting);
  // The most channels and largest container for a tag (1 PCM, 3 IEEE float) at a rate.
  NTSTATUS GetMaxFormat(ULONG direction, USHORT formatTag, ULONG rate, PULONG outChannels,
                        PULONG outContainerBits);
  NTSTATUS GetFormatLimits(ULONG direction, PULONG outChannels, PULONG outMinContainerBits,
                           PULONG outMaxContainerBits, PULONG outMinRate, PULONG outMaxRate);
  ULONG GetCurrentAltSetting(ULONG direction) const;
  const RatePatternRow* CurrentRatePatternRow() const { return m_RatePatternRow; }
  ULONG PatternPosition() const { return m_PatternPosition; }
  ULONG ServiceInterval() const { return m_ServiceInterval; }

  // --- isochronous playback scheduling ------------------------------------------------------
  // The 16.16 feedback value of a device running exactly at the direction's rate; 0 without
  // the interface.
  ULONG NominalFeedback(ULONG direction) const;
  // The bytes the next playback transfer of `milliseconds` carries at `feedback` (with a
  // feedback pipe) or along the rate pattern. Changes no scheduling state.
  ULONG GetTransferBytes(ULONG milliseconds, ULONG feedback) const;
  // Is playback paced by the capture stream of this device?
  BOOLEAN IsImplicitFeedbackMode() const;
  // The feedback the stream engine accepted becomes the latest value, and each playback
  // transfer latches the latest into the value in use; both under the feedback lock.
  VOID StorePlaybackFeedback(ULONG feedback);
  ULONG LatchPlaybackFeedback();

  // --- isochronous transfers --------------------------------------------------------------
  // Each submission is independent. Success means the callback will run exactly once (at
  // DISPATCH_LEVEL, possibly before the call returns); failure means it will not run and
  // everything the request took has been released. Callers serialise the playback
  // submissions, which advance the packet scheduling state.
  //
  // A playback transfer of `bytes` spanning `milliseconds`, from a mapped buffer or an MDL.
  NTSTATUS SubmitPlayback(PVOID buffer, PMDL mdl, ULONG bytes, ULONG milliseconds,
                          PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext);
  NTSTATUS SubmitCapture(PVOID buffer, ULONG bytes, PUSB_TRANSFER_CALLBACK callback,
                         PVOID callbackContext);
  // A read of the playback feedback endpoint; the callback's byte count is the average value
  // the read carried (0 when it failed).
  NTSTATUS RecvFeedback(PVOID buffer, ULONG bytes, PUSB_TRANSFER_CALLBACK callback,
                        PVOID callbackContext);
  // Bytes for one feedback read (4 ms of packets); 0 without a feedback pipe.
  ULONG GetFeedbackBufferSize() const;
  // A transfer on any pipe: isochronous with packets of MaximumPacketSize, else bulk or
  // interrupt. Only the low byte of transferFlags is used for isochronous pipes.
  NTSTATUS TransferPipe(PUSBD_PIPE_INFORMATION pipe, PVOID buffer, ULONG bytes, ULONG transferFlags,
                        PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext, ULONG startFrame);
  // The status a completed request reports: a successful capture request whose packets lie
  // outside the capture stream's packet window fails with STATUS_UNEXPECTED_IO_ERROR.
  NTSTATUS ValidateIsoCompletion(NTSTATUS status, PURB urb) const;

  // The model from the configuration copy alone (the part of Initialize after the start).
  NTSTATUS BuildModel();

  CUSBAudioEntity* FindEntity(ULONG id) const;
  CUSBAudioEntity* FirstEntity() const { return m_Entities; }
  // Terminals only (subtypes INPUT_TERMINAL and OUTPUT_TERMINAL); null after the last.
  CUSBAudioEntity* FirstTerminal() const;
  CUSBAudioEntity* NextTerminal(CUSBAudioEntity* after) const;
  ULONG TerminalCount() const;
  // Units only: every entity that is neither a terminal nor a 2.0 clock.
  CUSBAudioEntity* FirstUnit() const;
  CUSBAudioEntity* NextUnit(CUSBAudioEntity* after) const;

  BOOLEAN IsUAC2() const { return m_Uac2; }
  // The audio control interface and each modelled streaming interface's setting 0, ended by a
  // null pair; free with FreeDriverPool. Null when memory is short.
  PUSBD_INTERFACE_LIST_ENTRY CreateAudioInterfaceList(PLONG count);

  USBAudioStreamInterface* PlaybackInterface() const { return m_PlaybackInterface; }
  USBAudioStreamInterface* CaptureInterface() const { return m_CaptureInterface; }
  // 0 playback, 1 capture; null for any other direction.
  USBAudioStreamInterface* StreamInterface(ULONG direction) const;
  USBAudioStreamInterface* FirstStreamInterface() const { return m_StreamInterfaces; }
  LONG StreamInterfaceCount() const { return m_StreamInterfaceCount; }
  PUSB_INTERFACE_DESCRIPTOR AudioControlInterface() const { return m_AudioControlInterface; }
  // The class-specific HEADER; null until it was found whole and within its interface.
  const UCHAR* AudioControlHeader() const { return m_AudioControlHeader; }
  UCHAR AudioControlInterfaceNumber() const;
  BOOLEAN ImplicitFeedbackPairing() const { return m_ImplicitFeedbackPairing; }
  BOOLEAN UnusableFeedbackSeen() const { return m_UnusableFeedbackSeen; }
  BOOLEAN WidePacketWindow() const { return m_WidePacketWindow; }
  const UsbAudioQuirks& Quirks() const { return m_Quirks; }
  ULONG FixedSampleRate() const { return m_FixedSampleRate; }
  // Do both directions exist and run from one clock?
  BOOLEAN SharesOneClock() const;
  // The clock of the terminal a streaming interface is linked to; null without one.
  CUSBAudioClock* TerminalClock(const USBAudioStreamInterface* record) const;

 protected:
  // Walks [first, end) of the audio control block into the entity list.
  VOID WalkEntities(const UCHAR* end);
  NTSTATUS LinkEntities();
  NTSTATUS LinkTerminals();
  VOID ChoosePlaybackAndCapture();
  VOID ClassifyEndpoints(USBAudioAltSetting* setting, const UCHAR* end);
  VOID ClassifyUac2Endpoints(USBAudioAltSetting* setting, const UCHAR* end);
  VOID ClassifyUac1Endpoints(USBAudioAltSetting* setting, const UCHAR* end);
  BOOLEAN IsServiceable(const USB_ENDPOINT_DESCRIPTOR* endpoint) const;
  VOID FindStreamingDescriptors(USBAudioAltSetting* setting, const UCHAR* end);
  struct EndpointCursor {
    const UCHAR* at = nullptr;
    ULONG seen = 0;
  };
  const USB_ENDPOINT_DESCRIPTOR* NextEndpoint(const USBAudioAltSetting* setting, const UCHAR* end,
                                              EndpointCursor* cursor) const;
  VOID NoteUnusableFeedback(const USB_ENDPOINT_DESCRIPTOR* endpoint);
  const UCHAR* FindClassDescriptor(const VOID* from, const UCHAR* end, UCHAR type,
                                   UCHAR subtype) const;
  // Long enough for what format selection reads of its format type.
  BOOLEAN IsFormatComplete(const UCHAR* format) const;
  PUSBD_PIPE_INFORMATION LinkPipe(const USB_ENDPOINT_DESCRIPTOR* endpoint, NTSTATUS* status);
  // The shared core of both SelectStreamingFormat variants: steps up to the packet values.
  NTSTATUS ApplyFormat(USBAudioStreamInterface* record, ULONG direction, USHORT formatTag,
                       ULONG channels, ULONG bits, ULONG rate, BOOLEAN useRateTable,
                       PULONG outChannels, PULONG outContainerBits, ULONG* outAlt);
  BOOLEAN AltSettingPasses(USBAudioStreamInterface* record, ULONG alt, USHORT formatTag,
                           ULONG rate);
  BOOLEAN Uac1RateVerified(USBAudioStreamInterface* record, ULONG alt, ULONG rate);
  VOID ClearFeedback(USBAudioStreamInterface* record);
  // Checks a feature unit request against the unit's descriptor and sends it.
  NTSTATUS FeatureRequest(CUSBAudioFeatureUnit* unit, ULONG channel, ULONG control, UCHAR request,
                          ControlAccess access, USHORT length, PVOID buffer);
  NTSTATUS SendStreamKindTo(USBAudioStreamInterface* record, USHORT value);
  // Packet scheduling of the playback stream as the scheduler's records, and the state a laid
  // out transfer leaves behind.
  IsoStreamShape PlaybackShape() const;
  // Paced by the capture stream, else by feedback or the rate pattern.
  PlaybackPacing CurrentPlaybackPacing() const;
  PlaybackPacing FeedbackOrPatternPacing() const;
  VOID CommitPlaybackPacing(const PlaybackPacing& pacing);
  // The request context every submission starts from; null when the list is empty.
  USBRequestContext* TakeRequestContext(PUSBD_PIPE_INFORMATION pipe, ULONG bytes,
                                        PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext);
  // Releases what a request took: its URB (through the USBD library when isochronous), its
  // separate buffer and the context itself.
  VOID ReleaseRequest(USBRequestContext* context);
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
  static NTSTATUS TransferCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp, PVOID context);
  static NTSTATUS _RecvFeedbackCompletionRoutine(PDEVICE_OBJECT deviceObject, PIRP irp,
                                                 PVOID context);
  VOID CompleteTransfer(PIRP irp, USBRequestContext* context);
  VOID CompleteFeedbackRead(PIRP irp, USBRequestContext* context);
  VOID TraceCurrentBusFrame(PURB urb);

  VOID FreeStreamInterfaces();
  VOID FreeEntities();

  // The configuration copy's bounds.
  const UCHAR* ConfigBegin() const;
  const UCHAR* ConfigEnd() const;
  // The next interface descriptor after `from`, or the end of the configuration.
  const UCHAR* EndOfInterface(const VOID* from) const;
  PUSB_INTERFACE_DESCRIPTOR FindAudioInterface(const VOID* start, LONG number, LONG setting,
                                               UCHAR subclass) const;
  // The next descriptor of `type` after `from` and before `end`, or null.
  const UCHAR* NextDescriptor(const VOID* from, const UCHAR* end, UCHAR type) const;

  PUSB_INTERFACE_DESCRIPTOR m_AudioControlInterface = nullptr;
  const UCHAR* m_AudioControlHeader = nullptr;
  BOOLEAN m_Uac2 = FALSE;
  CUSBAudioEntity* m_Entities = nullptr;
  LONG m_StreamInterfaceCount = 0;
  USBAudioStreamInterface* m_StreamInterfaces = nullptr;
  USBAudioStreamInterface* m_PlaybackInterface = nullptr;
  USBAudioStreamInterface* m_CaptureInterface = nullptr;
  BOOLEAN m_ImplicitFeedbackPairing = FALSE;
  BOOLEAN m_UnusableFeedbackSeen = FALSE;
  BOOLEAN m_WidePacketWindow = FALSE;
  UsbAudioQuirks m_Quirks = {};
  ULONG m_FixedSampleRate = 0;
  // Packet scheduling of the playback stream.
  const RatePatternRow* m_RatePatternRow = nullptr;
  ULONG m_PatternPosition = 0;
  ULONG m_ServiceInterval = 1;
};
