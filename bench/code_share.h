// Where the process's CPU time goes, by the part of the source tree whose code ran: a profiling
// timer samples the interrupted instruction while a measurement runs, and afterwards every
// sampled address is looked up in the executable's line table (with binutils' addr2line) and
// counted for the folder its source line lives in. Code inlined from a header counts for the
// header: the platform's list and lock helpers inlined into the driver are the platform's time.
// Needs the line table (the default preset builds with it); without one every sample is unknown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnlink::bench {

enum class CodeArea { Product, Platform, Simulation, Harness, Libraries, Unknown, Count };

const char* CodeAreaName(CodeArea area);

struct CodeShares {
  uint64_t samples = 0;
  double share[static_cast<int>(CodeArea::Count)] = {};
  double Of(CodeArea area) const { return share[static_cast<int>(area)]; }
};

// Samples one stretch of work at a time; sampling is process-wide, so only one may run.
class CodeSampler {
 public:
  CodeSampler();
  ~CodeSampler();
  CodeSampler(const CodeSampler&) = delete;
  CodeSampler& operator=(const CodeSampler&) = delete;

  // Sampling runs only between Resume and Pause, so set-up and reports are left out.
  void Resume();
  void Pause();
  // Looks the samples up; sourceRoot is the project's source folder.
  CodeShares Shares(const std::string& sourceRoot) const;

 private:
  std::vector<uintptr_t> samples_;
  bool armed_ = false;
};

}  // namespace tarnlink::bench
