#include "stream_plot.h"

#include <plot.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarnlink::tool {
namespace {

// The page: 1000 x 1000 user units, one panel per series stacked from the top.
constexpr double kPage = 1000;
constexpr double kLeft = 130, kRight = 970, kTop = 960, kBottom = 60, kGap = 70;

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.6g", value);
  return text;
}

class Panel {
 public:
  Panel(plPlotter* plotter, double bottom, double top, double seconds)
      : p_(plotter), bottom_(bottom), top_(top), seconds_(seconds > 0 ? seconds : 1) {}

  void Draw(const std::vector<double>& times, const TraceSeries& series) {
    double low = INFINITY, high = -INFINITY;
    for (double v : series.values) {
      if (std::isnan(v)) continue;
      low = std::min(low, v);
      high = std::max(high, v);
    }
    if (high - low < 1e-9) {
      low -= 1;
      high += 1;
    }
    low_ = low;
    high_ = high;
    pl_pencolorname_r(p_, "black");
    pl_flinewidth_r(p_, 1);
    pl_fbox_r(p_, kLeft, bottom_, kRight, top_);
    Label(kLeft, top_ + 12, 'l', series.title + " (" + series.unit + ")");
    Label(kLeft - 8, top_ - 10, 'r', Number(high));
    Label(kLeft - 8, bottom_ + 10, 'r', Number(low));
    Label(kRight, bottom_ - 22, 'r', Number(seconds_) + " s");
    Label(kLeft, bottom_ - 22, 'l', "0 s");
    pl_pencolorname_r(p_, "blue");
    bool drawing = false;
    for (size_t k = 0; k < times.size() && k < series.values.size(); ++k) {
      const double v = series.values[k];
      if (std::isnan(v)) {
        if (drawing) pl_endpath_r(p_);
        drawing = false;
        continue;
      }
      if (drawing) {
        pl_fcont_r(p_, X(times[k]), Y(v));
      } else {
        pl_fmove_r(p_, X(times[k]), Y(v));
        drawing = true;
      }
    }
    if (drawing) pl_endpath_r(p_);
  }

 private:
  double X(double t) const { return kLeft + (kRight - kLeft) * t / seconds_; }
  double Y(double v) const { return bottom_ + (top_ - bottom_) * (v - low_) / (high_ - low_); }
  void Label(double x, double y, char justify, const std::string& text) {
    pl_fmove_r(p_, x, y);
    pl_alabel_r(p_, justify, 'c', text.c_str());
  }

  plPlotter* p_;
  double bottom_, top_, seconds_;
  double low_ = 0, high_ = 1;
};

bool HasValues(const TraceSeries& s) {
  return std::any_of(s.values.begin(), s.values.end(), [](double v) { return !std::isnan(v); });
}

}  // namespace

std::optional<std::string> PlotFormat(const std::string& path) {
  const auto ends = [&](const char* suffix) {
    const std::string s(suffix);
    return path.size() > s.size() && std::equal(s.rbegin(), s.rend(), path.rbegin(), [](char a, char b) {
             return a == std::tolower(static_cast<unsigned char>(b));
           });
  };
  if (ends(".png")) return "png";
  if (ends(".svg")) return "svg";
  return std::nullopt;
}

bool WritePlot(const std::string& path, const StreamTrace& trace, std::string* error) {
  const std::optional<std::string> format = PlotFormat(path);
  if (!format) {
    *error = path + ": a plot is a .png or .svg file";
    return false;
  }
  std::vector<const TraceSeries*> shown;
  for (const TraceSeries* s : {&trace.fifo, &trace.feedback, &trace.captureError}) {
    if (HasValues(*s)) shown.push_back(s);
  }
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    *error = path + ": cannot be written";
    return false;
  }
  plPlotterParams* params = pl_newplparams();
  pl_setplparam(params, "BITMAPSIZE", const_cast<char*>("900x900"));
  pl_setplparam(params, "PAGESIZE", const_cast<char*>("a4"));
  plPlotter* plotter = pl_newpl_r(format->c_str(), nullptr, out, nullptr, params);
  bool ok = plotter != nullptr && pl_openpl_r(plotter) >= 0;
  if (ok) {
    pl_fspace_r(plotter, 0, 0, kPage, kPage);
    pl_erase_r(plotter);
    pl_fontname_r(plotter, "HersheySans");
    pl_ffontsize_r(plotter, 18);
    const double seconds = trace.seconds.empty() ? 1 : trace.seconds.back();
    const double height =
        shown.empty() ? 0 : (kTop - kBottom - kGap * (shown.size() - 1)) / shown.size();
    for (size_t k = 0; k < shown.size(); ++k) {
      const double top = kTop - k * (height + kGap);
      Panel(plotter, top - height, top, seconds).Draw(trace.seconds, *shown[k]);
    }
    ok = pl_closepl_r(plotter) >= 0;
  }
  if (plotter != nullptr) pl_deletepl_r(plotter);
  pl_deleteplparams(params);
  ok = std::fclose(out) == 0 && ok;
  if (!ok) *error = path + ": the plot could not be drawn";
  return ok;
}

}  // namespace tarnlink::tool
