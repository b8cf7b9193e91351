// The handlers of the filter's and the nodes' property items. The component identity is the
// filter's own; jack and node requests go to the adapter, reached through the miniport the
// request is addressed to.
#pragma once

#include "kernel_mode.h"

NTSTATUS ComponentIdHandler(PPCPROPERTY_REQUEST Request);
NTSTATUS JackPropertyHandler(PPCPROPERTY_REQUEST Request);
NTSTATUS NodePropertyHandler(PPCPROPERTY_REQUEST Request);
