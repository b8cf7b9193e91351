// What each private request asks of the handle and of its buffers before it may run: the state
// it needs and the least input and output it needs. Request buffers come from the client, so
// every length is checked here, once, against this table, before any handler looks at a byte.
#pragma once

#include "asio_protocol.h"
#include "kernel_mode.h"

struct AsioRequestRule {
  ULONG code;
  AsioHandleState state;       // AsioHandleClosed: served in any state
  ULONG minInput;              // shorter input: STATUS_INVALID_PARAMETER
  ULONG minOutput;             // shorter output: shortOutputStatus
  NTSTATUS shortOutputStatus;
  ULONG recordBytes;           // nonzero: the output must hold as many records as the input
};

// The rule of a request code, or nullptr for a code the channel does not serve.
const AsioRequestRule* FindAsioRequestRule(ULONG code);

// The status a request gets before its handler runs; STATUS_SUCCESS when it may run. Checked in
// this order: the code, the handle's state, the input, the output. A refused request returns no
// bytes.
NTSTATUS CheckAsioRequest(ULONG code, ULONG state, ULONG inputLength, ULONG outputLength);
