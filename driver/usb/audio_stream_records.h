// The records of the device model's audio streaming interfaces. They are built once from the
// configuration copy; afterwards only the current alternate setting, the stream kind and the
// streaming values (which the record carries for the transfer engine) change.
#pragma once

#include "iso_stream_values.h"
#include "kernel_mode.h"

class CUSBAudioEntity;

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
struct USBAudioStreamInterface : IsoStreamValues {
  USBAudioStreamInterface* Next;
  UCHAR InterfaceNumber;
  UCHAR Direction;  // Value(Direction::Playback) for OUT, Value(Direction::Capture) for IN
  ULONG AltSettingCount;
  ULONG CurrentAltSetting;
  USBAudioAltSetting* AltSettings;
  CUSBAudioEntity* Terminal;  // named by bTerminalLink of alternate setting 1
  USHORT StreamKind;          // a StreamKind value
};
