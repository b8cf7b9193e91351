// CUSBAudioDescriptorModel: the device model's reading of the configuration copy CUSBCL keeps:
// the class version, the entity graph of the audio control interface, the streaming interfaces
// with their alternate settings, and which of them plays and which captures. It is built once
// at start and read-only afterwards, apart from the streaming values its records carry.
//
// The configuration comes from the device and is untrusted. Every descriptor the model keeps a
// pointer to lies wholly inside the copy and is long enough for the fields read from it; a
// descriptor that is not is treated as absent, so a malformed device either starts with less
// modelled or is refused with STATUS_NOT_SUPPORTED.
#pragma once

#include "audio_entities.h"
#include "audio_stream_records.h"
#include "kernel_mode.h"
#include "usb_audio_quirks.h"
#include "usb_function.h"

class CUSBAudioCL;

class CUSBAudioDescriptorModel {
 public:
  // Entities are created with `owner` as the function they send their requests through.
  CUSBAudioDescriptorModel(CUSBCL& function, CUSBAudioCL& owner)
      : m_Function(function), m_Owner(owner) {}
  ~CUSBAudioDescriptorModel();
  CUSBAudioDescriptorModel(const CUSBAudioDescriptorModel&) = delete;
  CUSBAudioDescriptorModel& operator=(const CUSBAudioDescriptorModel&) = delete;

  // The model from the configuration copy, replacing any earlier one.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS Build();
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS EnumerateStreamingInterfaces();
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS ParseStreamingInterface(USBAudioStreamInterface* record);

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
  PUSBD_INTERFACE_LIST_ENTRY CreateAudioInterfaceList(PLONG count) const;

  USBAudioStreamInterface* PlaybackInterface() const { return m_PlaybackInterface; }
  USBAudioStreamInterface* CaptureInterface() const { return m_CaptureInterface; }
  // Playback or capture by the direction's value; null for any other.
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
  // Do both directions exist and run from one clock?
  BOOLEAN SharesOneClock() const;
  // The clock of the terminal a streaming interface is linked to; null without one.
  CUSBAudioClock* TerminalClock(const USBAudioStreamInterface* record) const;
  // Is playback paced by the capture stream: by the pairing, or because the capture data
  // endpoint declares itself an implicit feedback data endpoint?
  BOOLEAN IsImplicitFeedbackMode() const;

 private:
  // The first entity after `after` (from the start when null) for which `is` holds.
  CUSBAudioEntity* NextEntity(CUSBAudioEntity* after, BOOLEAN (CUSBAudioEntity::*is)() const) const;
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

  CUSBCL& m_Function;
  CUSBAudioCL& m_Owner;
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
};
