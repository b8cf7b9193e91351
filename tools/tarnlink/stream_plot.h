// What a stream run looked like over time, and its plot: the device FIFO's level, the feedback
// value the device sent (as the rate it asks for) and the capture position's error, one panel
// each, drawn with GNU libplot as PNG or SVG.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarnlink::tool {

struct TraceSeries {
  std::string title;
  std::string unit;
  std::vector<double> values;  // one per StreamTrace::seconds, NaN where nothing was known
};

struct StreamTrace {
  std::vector<double> seconds;  // simulated time of each sample
  TraceSeries fifo{"device FIFO level", "frames", {}};
  TraceSeries feedback{"feedback value", "frames/s", {}};
  TraceSeries captureError{"capture position error", "frames", {}};
};

// "png" or "svg" from the file name's ending; unset for anything else.
std::optional<std::string> PlotFormat(const std::string& path);

// Draws the series that hold any value; false with *error for the user.
bool WritePlot(const std::string& path, const StreamTrace& trace, std::string* error);

}  // namespace tarnlink::tool
