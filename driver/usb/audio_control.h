// CUSBAudioControl: format and clock control of the device model, and the class requests it
// sends to do it: the configuration, the pipes of the current alternate settings, feature unit
// controls, device and endpoint sample rates, clock stability, the stream kind, and the choice
// of alternate setting for a stream format with the packet values it implies.
#pragma once

#include "audio_descriptor_model.h"
#include "iso_transfer_engine.h"
#include "kernel_mode.h"
#include "usb_function.h"

class CUSBAudioControl {
 public:
  CUSBAudioControl(CUSBCL& function, CUSBAudioDescriptorModel& model, CIsoTransferEngine& transfers)
      : m_Function(function), m_Model(model), m_Transfers(transfers) {}
  CUSBAudioControl(const CUSBAudioControl&) = delete;
  CUSBAudioControl& operator=(const CUSBAudioControl&) = delete;

  // Selects the configuration and alternate setting 0 of every streaming interface.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Configure();
  // Points every streaming interface's data and feedback pipe at the pipes of its current
  // alternate setting. STATUS_NOT_SUPPORTED when an endpoint has no pipe; the others are still
  // linked.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS LinkPipes();
  // Names the direction's data pipe for content protection, which forwards to the USB stack.
  NTSTATUS GetStreamPipe(ULONG direction, PDRMFORWARD forward) const;

  // --- class requests -----------------------------------------------------------------------
  // A class request to an entity of the audio control interface: wValue = selector, channel;
  // wIndex = entity, control interface.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      EntityRequest(ControlAccess access, UCHAR request, UCHAR selector, UCHAR channel,
                    ULONG entityId, USHORT length, PVOID buffer, PULONG transferred);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetMute(CUSBAudioFeatureUnit* unit, ULONG channel, PUCHAR mute);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SetMute(CUSBAudioFeatureUnit* unit, ULONG channel, UCHAR mute);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* volume);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SetVolume(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT volume);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetVolumeRange(CUSBAudioFeatureUnit* unit, ULONG channel, SHORT* minimum, SHORT* maximum,
                     PUSHORT resolution);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS SendStreamKind(USHORT value);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS ReplayStreamKind();
  USHORT GetStreamKind() const;
  // Audio 1.0 endpoint sampling frequency (3 bytes on the wire).
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS SetEndpointSampleRate(UCHAR endpointAddress, ULONG rate);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS GetEndpointSampleRate(UCHAR endpointAddress, PULONG rate);

  // --- clocks and rates ---------------------------------------------------------------------
  // Sets the rate of both directions' clocks and records it as the fixed rate either way.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS SetDeviceSampleRate(ULONG rate);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS IsRateSupported(ULONG rate);
  // *minimum and *maximum carry the caller's bounds in and the range found out.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetRateRange(ULONG direction, PULONG minimum, PULONG maximum);
  _IRQL_requires_(PASSIVE_LEVEL) BOOLEAN IsClockStable(ULONG direction);
  ULONG FixedSampleRate() const { return m_FixedSampleRate; }

  // --- format selection -------------------------------------------------------------------
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SelectStreamingFormat(ULONG direction, USHORT formatTag, ULONG channels, ULONG bits,
                            ULONG rate, ULONG periodMs, PULONG outChannels, PULONG outContainerBits,
                            PULONG outMaxBytesPerPeriod);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      SelectStreamingFormat(ULONG direction, USHORT formatTag, ULONG channels, ULONG bits,
                            ULONG rate, ULONG periodMs, PULONG outChannels, PULONG outContainerBits,
                            PULONG outNominalBytesPerPeriod, PLONG outNegativeSlack,
                            PLONG outPositiveSlack, PULONG outMaxBytesPerPeriod);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      FindAltSetting(USBAudioStreamInterface* record, USHORT formatTag, ULONG channels, ULONG bits,
                     ULONG rate, PULONG outChannels, PULONG outContainerBits, PULONG outAltSetting);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetMaxFormat(ULONG direction, USHORT formatTag, ULONG rate, PULONG outChannels,
                   PULONG outContainerBits);
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      GetFormatLimits(ULONG direction, PULONG outChannels, PULONG outMinContainerBits,
                      PULONG outMaxContainerBits, PULONG outMinRate, PULONG outMaxRate);
  ULONG GetCurrentAltSetting(ULONG direction) const;

 private:
  PUSBD_PIPE_INFORMATION LinkPipe(const USB_ENDPOINT_DESCRIPTOR* endpoint, NTSTATUS* status);
  // Checks a feature unit request against the unit's descriptor and sends it.
  NTSTATUS FeatureRequest(CUSBAudioFeatureUnit* unit, ULONG channel, ULONG control, UCHAR request,
                          ControlAccess access, USHORT length, PVOID buffer);
  NTSTATUS SendStreamKindTo(USBAudioStreamInterface* record, USHORT value);
  // The shared core of both SelectStreamingFormat variants: steps up to the packet values.
  NTSTATUS ApplyFormat(USBAudioStreamInterface* record, ULONG direction, USHORT formatTag,
                       ULONG channels, ULONG bits, ULONG rate, BOOLEAN useRateTable,
                       PULONG outChannels, PULONG outContainerBits, ULONG* outAlt);
  BOOLEAN AltSettingPasses(USBAudioStreamInterface* record, ULONG alt, USHORT formatTag,
                           ULONG rate);
  BOOLEAN Uac1RateVerified(USBAudioStreamInterface* record, ULONG alt, ULONG rate);

  CUSBCL& m_Function;
  CUSBAudioDescriptorModel& m_Model;
  CIsoTransferEngine& m_Transfers;
  ULONG m_FixedSampleRate = 0;
};
