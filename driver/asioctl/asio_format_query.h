// The device's answer to one (format tag, rate) pair: channels and bits per direction, 0 for a
// direction the device lacks or cannot carry the pair on.
#pragma once

#include "asio_protocol.h"
#include "kernel_mode.h"
#include "usb_audio_model.h"

// STATUS_NO_MATCH from the model zeroes the record's four answers and succeeds; any other
// failure is returned.
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS QueryAsioFormat(CUSBAudioCL& model, FormatQueryRecord* record);
