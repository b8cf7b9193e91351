// CUSBAudioCL: the driver's object for the device's USB Audio Class function. It is a facade
// over three parts, each call forwarded in one line:
// - the descriptor model (CUSBAudioDescriptorModel): class version, entities, streaming
//   interfaces, playback and capture; read-only after Initialize;
// - format and clock control (CUSBAudioControl): configuration, pipes, class requests, rates,
//   the stream kind and format selection;
// - the isochronous transfer engine (CIsoTransferEngine): playback pacing, the feedback values
//   and the streams' requests with their completions.
// Entities send their class requests through this object.
#pragma once

#include "audio_control.h"
#include "audio_descriptor_model.h"
#include "iso_transfer_engine.h"
#include "kernel_mode.h"
#include "usb_function.h"
#include "usb_transfer_port.h"

class CUSBAudioCL : public CUSBCL {
 public:
  CUSBAudioCL();
  ~CUSBAudioCL() override;

  static void* operator new(SIZE_T bytes) noexcept;
  static void operator delete(void* memory) noexcept;

  // The status a completed request reports: a successful capture request whose packets lie
  // outside the capture stream's packet window fails with STATUS_UNEXPECTED_IO_ERROR.
  virtual _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      ValidateIsoCompletion(NTSTATUS status, PURB urb) const {
    return m_Transfers.ValidateIsoCompletion(status, urb);
  }
  // Starts the USB function on the physical device object and builds the model.
  virtual _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      Initialize(PDEVICE_OBJECT physicalDevice, PDEVICE_OBJECT functionDevice, ULONG irpCount);
  // Selects the configuration and alternate setting 0 of every streaming interface.
  virtual _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Configure() { return m_Control.Configure(); }
  virtual _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS EnumerateStreamingInterfaces() {
    return m_Descriptors.EnumerateStreamingInterfaces();
  }
  virtual _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      ParseStreamingInterface(USBAudioStreamInterface* record) {
    return m_Descriptors.ParseStreamingInterface(record);
  }

  // The model from the configuration copy alone (the part of Initialize after the start).
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS BuildModel();

  // --- the descriptor model -----------------------------------------------------------------
  CUSBAudioEntity* FindEntity(ULONG id) const { return m_Descriptors.FindEntity(id); }
  CUSBAudioEntity* FirstEntity() const { return m_Descriptors.FirstEntity(); }
  CUSBAudioEntity* FirstTerminal() const { return m_Descriptors.FirstTerminal(); }
  CUSBAudioEntity* NextTerminal(CUSBAudioEntity* after) const {
    return m_Descriptors.NextTerminal(after);
  }
  ULONG TerminalCount() const { return m_Descriptors.TerminalCount(); }
  CUSBAudioEntity* FirstUnit() const { return m_Descriptors.FirstUnit(); }
  CUSBAudioEntity* NextUnit(CUSBAudioEntity* after) const { return m_Descriptors.NextUnit(after); }
  BOOLEAN IsUAC2() const { return m_Descriptors.IsUAC2(); }
  PUSBD_INTERFACE_LIST_ENTRY CreateAudioInterfaceList(PLONG count) const {
    return m_Descriptors.CreateAudioInterfaceList(count);
  }
  USBAudioStreamInterface* PlaybackInterface() const { return m_Descriptors.PlaybackInterface(); }
  USBAudioStreamInterface* CaptureInterface() const { return m_Descriptors.CaptureInterface(); }
  USBAudioStreamInterface* StreamInterface(ULONG direction) const {
    return m_Descriptors.StreamInterface(direction);
  }
  USBAudioStreamInterface* FirstStreamInterface() const {
    return m_Descriptors.FirstStreamInterface();
  }
  LONG StreamInterfaceCount() const { return m_Descriptors.StreamInterfaceCount(); }
  PUSB_INTERFACE_DESCRIPTOR AudioControlInterface() const {
    return m_Descriptors.AudioControlInterface();
  }
  const UCHAR* AudioControlHeader() const { return m_Descriptors.AudioControlHeader(); }
  UCHAR AudioControlInterfaceNumber() const { return m_Descriptors.AudioControlInterfaceNumber(); }
  BOOLEAN ImplicitFeedbackPairing() const { return m_Descriptors.ImplicitFeedbackPairing(); }
  BOOLEAN UnusableFeedbackSeen() const { return m_Descriptors.UnusableFeedbackSeen(); }
  BOOLEAN WidePacketWindow() const { return m_Descriptors.WidePacketWindow(); }
  const UsbAudioQuirks& Quirks() const { return m_Descriptors.Quirks(); }
  BOOLEAN SharesOneClock() const { return m_Descriptors.SharesOneClock(); }
  CUSBAudioClock* TerminalClock(const USBAudioStreamInterface* record) const {
    return m_Descriptors.TerminalClock(record);
  }
  BOOLEAN IsImplicitFeedbackMode() const { return m_Descriptors.IsImplicitFeedbackMode(); }

  // --- format and clock control --------------------------------------------------------------
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS LinkPipes() { return m_Control.LinkPipes(); }
  NTSTATUS GetStreamPipe(ULONG direction, PDRMFORWARD forward) const {
    return m_Control.GetStreamPipe(direction, forward);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      EntityRequest(ControlAccess access, UCHAR request, UCHAR selector, UCHAR channel,
                    ULONG entityId, USHORT length, PVOID buffer, PULONG transferred = nullptr) {
    return m_Control.EntityRequest(access, request, selector, channel, entityId, length, buffer,
                                   transferred);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetMute(CUSBAudioFeatureUnit* unit, ULONG channel, PUCHAR mute) {
    return m_Control.GetMute(unit, channel, mute);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SetMute(CUSBAudioFeatureUnit* unit, ULONG channel, UCHAR mute) {
    return m_Control.SetMute(unit, channel, mute);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* volume) {
    return m_Control.GetVolume(unit, channel, volume);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT volume) {
    return m_Control.SetVolume(unit, channel, volume);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetVolumeRange(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* minimum, SHORT* maximum,
                     PUSHORT resolution) {
    return m_Control.GetVolumeRange(unit, channel, minimum, maximum, resolution);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS SetDeviceSampleRate(ULONG rate) {
    return m_Control.SetDeviceSampleRate(rate);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS IsRateSupported(ULONG rate) {
    return m_Control.IsRateSupported(rate);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetRateRange(ULONG direction, PULONG minimum, PULONG maximum) {
    return m_Control.GetRateRange(direction, minimum, maximum);
  }
  _IRQL_requires_(PASSIVE_LEVEL) BOOLEAN IsClockStable(ULONG direction) {
    return m_Control.IsClockStable(direction);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS SendStreamKind(USHORT value) {
    return m_Control.SendStreamKind(value);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS ReplayStreamKind() {
    return m_Control.ReplayStreamKind();
  }
  USHORT GetStreamKind() const { return m_Control.GetStreamKind(); }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS SetEndpointSampleRate(UCHAR endpointAddress, ULONG rate) {
    return m_Control.SetEndpointSampleRate(endpointAddress, rate);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetEndpointSampleRate(UCHAR endpointAddress, PULONG rate) {
    return m_Control.GetEndpointSampleRate(endpointAddress, rate);
  }
  ULONG FixedSampleRate() const { return m_Control.FixedSampleRate(); }
  // Serialises and numbers the queries over the clock entities.
  CClockQueries& ClockQueries() { return m_Control.ClockQueries(); }
  // Picks and selects the alternate setting for a format (channels, bits or rate 0: setting 0,
  // no bandwidth), sets the rate and stores the packet bounds. The standard variant also makes
  // the rate's pattern row current and restarts the playback feedback from nominal.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SelectStreamingFormat(ULONG direction, USHORT formatTag, ULONG channels, ULONG bits,
                            ULONG rate, ULONG periodMs, PULONG outChannels, PULONG outContainerBits,
                            PULONG outMaxBytesPerPeriod) {
    return m_Control.SelectStreamingFormat(direction, formatTag, channels, bits, rate, periodMs,
                                           outChannels, outContainerBits, outMaxBytesPerPeriod);
  }
  // The variant for playback paced by the capture stream: the per-period nominal size and how
  // many frames a period may run short (negative) or long. A slack pointer may be null.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SelectStreamingFormat(ULONG direction, USHORT formatTag, ULONG channels, ULONG bits,
                            ULONG rate, ULONG periodMs, PULONG outChannels, PULONG outContainerBits,
                            PULONG outNominalBytesPerPeriod, PLONG outNegativeSlack,
                            PLONG outPositiveSlack, PULONG outMaxBytesPerPeriod) {
    return m_Control.SelectStreamingFormat(
        direction, formatTag, channels, bits, rate, periodMs, outChannels, outContainerBits,
        outNominalBytesPerPeriod, outNegativeSlack, outPositiveSlack, outMaxBytesPerPeriod);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      FindAltSetting(USBAudioStreamInterface* record, USHORT formatTag, ULONG channels, ULONG bits,
                     ULONG rate, PULONG outChannels, PULONG outContainerBits,
                     PULONG outAltSetting) {
    return m_Control.FindAltSetting(record, formatTag, channels, bits, rate, outChannels,
                                    outContainerBits, outAltSetting);
  }
  // The most channels and largest container for a tag (1 PCM, 3 IEEE float) at a rate.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetMaxFormat(ULONG direction, USHORT formatTag, ULONG rate, PULONG outChannels,
                   PULONG outContainerBits) {
    return m_Control.GetMaxFormat(direction, formatTag, rate, outChannels, outContainerBits);
  }
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetFormatLimits(ULONG direction, PULONG outChannels, PULONG outMinContainerBits,
                      PULONG outMaxContainerBits, PULONG outMinRate, PULONG outMaxRate) {
    return m_Control.GetFormatLimits(direction, outChannels, outMinContainerBits,
                                     outMaxContainerBits, outMinRate, outMaxRate);
  }
  ULONG GetCurrentAltSetting(ULONG direction) const {
    return m_Control.GetCurrentAltSetting(direction);
  }

  // --- the isochronous transfer engine -------------------------------------------------------
  const RatePatternRow* CurrentRatePatternRow() const {
    return m_Transfers.CurrentRatePatternRow();
  }
  ULONG PatternPosition() const { return m_Transfers.PatternPosition(); }
  ULONG ServiceInterval() const { return m_Transfers.ServiceInterval(); }
  ULONG NominalFeedback(ULONG direction) const { return m_Transfers.NominalFeedback(direction); }
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID StorePlaybackFeedback(ULONG feedback) {
    m_Transfers.StorePlaybackFeedback(feedback);
  }
  _IRQL_requires_max_(DISPATCH_LEVEL) ULONG LatchPlaybackFeedback() {
    return m_Transfers.LatchPlaybackFeedback();
  }
  _IRQL_requires_max_(DISPATCH_LEVEL) PlaybackPacing LatchPlaybackPacing() {
    return m_Transfers.LatchPlaybackPacing();
  }
  ULONG TransferBytes(const PlaybackPacing& pacing, ULONG milliseconds) const {
    return m_Transfers.TransferBytes(pacing, milliseconds);
  }
  ULONG GetTransferBytes(ULONG milliseconds, ULONG feedback) const {
    return m_Transfers.GetTransferBytes(milliseconds, feedback);
  }
  _IRQL_requires_max_(DISPATCH_LEVEL) ULONG
      ReservePlayback(ULONG milliseconds, ULONG bytes, PlaybackPacing* snapshot) {
    return m_Transfers.ReservePlayback(milliseconds, bytes, snapshot);
  }
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      SubmitPlayback(const PlaybackPacing& pacing, PVOID buffer, PMDL mdl, ULONG bytes,
                     ULONG milliseconds, PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext,
                     BOOLEAN reserved = FALSE) {
    return m_Transfers.SubmitPlayback(pacing, buffer, mdl, bytes, milliseconds, callback,
                                      callbackContext, reserved);
  }
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      SubmitPlayback(PVOID buffer, PMDL mdl, ULONG bytes, ULONG milliseconds,
                     PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext) {
    return m_Transfers.SubmitPlayback(buffer, mdl, bytes, milliseconds, callback, callbackContext);
  }
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      SubmitCapture(PVOID buffer, ULONG bytes, PUSB_TRANSFER_CALLBACK callback,
                    PVOID callbackContext) {
    return m_Transfers.SubmitCapture(buffer, bytes, callback, callbackContext);
  }
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      RecvFeedback(PVOID buffer, ULONG bytes, PUSB_TRANSFER_CALLBACK callback,
                   PVOID callbackContext) {
    return m_Transfers.RecvFeedback(buffer, bytes, callback, callbackContext);
  }
  ULONG GetFeedbackBufferSize() const { return m_Transfers.GetFeedbackBufferSize(); }
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS
      TransferPipe(PUSBD_PIPE_INFORMATION pipe, PVOID buffer, ULONG bytes, ULONG transferFlags,
                   PUSB_TRANSFER_CALLBACK callback, PVOID callbackContext, ULONG startFrame) {
    return m_Transfers.TransferPipe(pipe, buffer, bytes, transferFlags, callback, callbackContext,
                                    startFrame);
  }

 private:
  CUSBTransferPort m_TransferPort;
  CUSBAudioDescriptorModel m_Descriptors;
  CIsoTransferEngine m_Transfers;
  CUSBAudioControl m_Control;
};
