// The signal-processing modes of the filter's pins: the streaming pins carry the device's own
// signal untouched, which is the RAW mode their data ranges announce; bridge pins have none.
#include "device_property_handlers.h"
#include "filter_descriptor.h"
#include "wavert_trace_points.h"

NTSTATUS ListSignalProcessingModes(const PCFILTER_DESCRIPTOR& filter, ULONG pin, GUID* modes,
                                   PULONG count) {
  if (count == nullptr) return STATUS_INVALID_PARAMETER;
  const PinElement* element = FilterPin(filter, pin);
  NTSTATUS status = STATUS_SUCCESS;
  if (element == nullptr) {
    status = STATUS_INVALID_PARAMETER;
  } else if (IsBridgePin(element->Descriptor)) {
    status = STATUS_NOT_SUPPORTED;
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceModesRefused, pin, status);
    *count = 0;
    return status;
  }
  if (modes != nullptr) {
    if (*count == 0) {
      *count = 1;
      return STATUS_BUFFER_TOO_SMALL;
    }
    modes[0] = AUDIO_SIGNALPROCESSINGMODE_RAW;
  }
  *count = 1;
  return STATUS_SUCCESS;
}
