// Checks of option values that more than one command takes.
#pragma once

#include <CLI/CLI.hpp>

namespace tarnlink::tool {

// The name of a device in the simulated machine's catalogue.
extern const CLI::Validator kCatalogueName;

}  // namespace tarnlink::tool
