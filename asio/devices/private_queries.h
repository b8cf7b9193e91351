// Short-lived queries over the private channel: open the device's \asio path, send one request,
// close. Discovery and the control panel ask devices they do not hold this way.
#pragma once

#include "asio_protocol.h"

// One request; true when DeviceIoControl succeeded. returned and error are always written.
bool QueryDevice(LPCWSTR path, DWORD code, const void* input, DWORD inputBytes, void* output,
                 DWORD outputBytes, DWORD* returned, DWORD* error);

// A request whose reply has a fixed size: true only when exactly that many bytes came back.
bool QueryFixed(LPCWSTR path, DWORD code, void* reply, DWORD replyBytes);

// The device's product string in two steps: its length, then the text; cut to units - 1 code
// units and terminated. False when either step fails or the replies disagree.
bool QueryProductString(LPCWSTR path, WCHAR* text, DWORD units);
