// The ASIO umbrella: the interface between ASIO hosts and an ASIO driver, written in this
// project's own words with the published layout, slot order and values. The same header serves
// the Windows build, where it stands on the system's COM headers.
#pragma once

#include "asio/asio_types.h"
#include "asio/iasio.h"
