// The two forms of a device report: lines for a person, one JSON object for a program.
#pragma once

#include <string>

#include "device_report.h"

namespace tarnlink::tool {

std::string ReportText(const DeviceReport& report);
std::string ReportJson(const DeviceReport& report);

}  // namespace tarnlink::tool
