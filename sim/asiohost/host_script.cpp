#include "sim/asiohost/host_script.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace sim::asiohost {
namespace {

using Kind = HostStep::Kind;

struct StepWord {
  const char* word;
  Kind kind;
};
constexpr StepWord kSteps[] = {
    {"enumerate", Kind::Enumerate},
    {"load", Kind::Load},
    {"init", Kind::Init},
    {"query", Kind::Query},
    {"output-ready", Kind::OutputReady},
    {"create-buffers", Kind::CreateBuffers},
    {"start", Kind::Start},
    {"set-rate", Kind::SetRate},
    {"control-panel", Kind::ControlPanel},
    {"wait-switches", Kind::WaitSwitches},
    {"run", Kind::Run},
    {"stop", Kind::Stop},
    {"stop-in-switch", Kind::StopInSwitch},
    {"dispose", Kind::Dispose},
    {"release", Kind::Release},
};

struct ResultWord {
  const char* name;
  LONG value;
};
constexpr ResultWord kResults[] = {
    {"ASE_OK", ASE_OK},
    {"ASE_SUCCESS", ASE_SUCCESS},
    {"ASE_NotPresent", ASE_NotPresent},
    {"ASE_HWMalfunction", ASE_HWMalfunction},
    {"ASE_InvalidParameter", ASE_InvalidParameter},
    {"ASE_InvalidMode", ASE_InvalidMode},
    {"ASE_SPNotAdvancing", ASE_SPNotAdvancing},
    {"ASE_NoClock", ASE_NoClock},
    {"ASE_NoMemory", ASE_NoMemory},
};

bool ParseNumber(const std::string& word, double* value) {
  char* end = nullptr;
  *value = std::strtod(word.c_str(), &end);
  return !word.empty() && end == word.c_str() + word.size() && *value >= 0;
}

bool ParseResult(const std::string& word, LONG* value) {
  for (const ResultWord& r : kResults) {
    if (word == r.name) {
      *value = r.value;
      return true;
    }
  }
  char* end = nullptr;
  const long number = std::strtol(word.c_str(), &end, 0);
  *value = static_cast<LONG>(number);
  return !word.empty() && end == word.c_str() + word.size();
}

bool YesNo(const std::string& word, bool* value) {
  if (word != "yes" && word != "no") return false;
  *value = word == "yes";
  return true;
}

// One line's words, without a comment.
std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line.substr(0, line.find('#')));
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// A setting line; an empty text when it was one and is right, "-" when it is no setting.
std::string ParseSetting(const std::vector<std::string>& w, HostScript* script) {
  if (w[0] == "answer") {
    if (w.size() != 3) return "answer takes a message and a reply";
    if (w[1] == "engine-version") {
      double version = 0;
      if (!ParseNumber(w[2], &version)) return "engine-version takes a number";
      script->engineVersion = static_cast<LONG>(version);
      return {};
    }
    if (w[1] == "time-info") {
      return YesNo(w[2], &script->timeInfo) ? std::string() : "time-info takes yes or no";
    }
    return "answer engine-version or time-info, not " + w[1];
  }
  if (w[0] == "calls-output-ready") {
    if (w.size() != 2 || !YesNo(w[1], &script->callsOutputReady))
      return "calls-output-ready takes yes or no";
    return {};
  }
  if (w[0] == "on-reset") {
    if (w.size() == 2 && w[1] == "reopen") {
      script->onReset = ResetReaction::Reopen;
    } else if (w.size() == 2 && w[1] == "recreate") {
      script->onReset = ResetReaction::Recreate;
    } else if (w.size() == 2 && w[1] == "ignore") {
      script->onReset = ResetReaction::Ignore;
    } else {
      return "on-reset takes reopen, recreate or ignore";
    }
    return {};
  }
  return "-";
}

std::string ParseStep(std::vector<std::string> w, HostStep* step) {
  const StepWord* found = nullptr;
  for (const StepWord& s : kSteps)
    if (w[0] == s.word) found = &s;
  if (found == nullptr) return "unknown step " + w[0];
  step->kind = found->kind;
  if (w.size() >= 3 && w[w.size() - 2] == "expect") {
    LONG expected = 0;
    if (!ParseResult(w.back(), &expected)) return "expect takes a result code or a number";
    step->expected = expected;
    w.resize(w.size() - 2);
  }
  switch (step->kind) {
    case Kind::CreateBuffers:
      if (w.size() == 2 && w[1] == "dummy") {
        step->dummy = true;
        return {};
      }
      return w.size() == 1 ? std::string() : "create-buffers takes nothing or dummy";
    case Kind::SetRate:
      if (w.size() == 2 && w[1] == "current") return {};
      if (w.size() == 2 && ParseNumber(w[1], &step->number) && step->number > 0) return {};
      return "set-rate takes current or a rate in Hz";
    case Kind::WaitSwitches:
      if (w.size() == 2 && ParseNumber(w[1], &step->number) && step->number >= 1) return {};
      return "wait-switches takes a count";
    case Kind::Run:
      if (w.size() == 1) return {};
      if (w.size() == 2 && ParseNumber(w[1], &step->number) && step->number > 0) return {};
      return "run takes nothing or milliseconds";
    default:
      return w.size() == 1 ? std::string() : std::string(found->word) + " takes no argument";
  }
}

}  // namespace

bool ParseHostScript(std::string_view text, HostScript* script, std::string* error) {
  std::istringstream in{std::string(text)};
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    const std::vector<std::string> words = Words(line);
    if (words.empty()) continue;
    std::string problem = ParseSetting(words, script);
    if (problem == "-") {
      HostStep step{};
      step.line = number;
      problem = ParseStep(words, &step);
      if (problem.empty()) script->steps.push_back(step);
    }
    if (!problem.empty()) {
      *error = "line " + std::to_string(number) + ": " + problem;
      return false;
    }
  }
  if (script->steps.empty()) {
    *error = "the script has no steps";
    return false;
  }
  return true;
}

bool LoadHostScript(const std::string& nameOrPath, HostScript* script, std::string* error) {
  for (const ShippedScript& shipped : ShippedScripts()) {
    if (nameOrPath != shipped.name) continue;
    script->name = shipped.name;
    return ParseHostScript(shipped.text, script, error);
  }
  std::ifstream file(nameOrPath);
  if (!file) {
    *error = nameOrPath + ": neither a shipped host script nor a file that can be read";
    return false;
  }
  std::stringstream text;
  text << file.rdbuf();
  const size_t slash = nameOrPath.find_last_of('/');
  std::string name = nameOrPath.substr(slash == std::string::npos ? 0 : slash + 1);
  script->name = name.substr(0, name.rfind(".host"));
  if (ParseHostScript(text.str(), script, error)) return true;
  *error = nameOrPath + ": " + *error;
  return false;
}

const char* StepName(HostStep::Kind kind) {
  for (const StepWord& s : kSteps)
    if (s.kind == kind) return s.word;
  return "?";
}

std::string ResultName(LONG result) {
  for (const ResultWord& r : kResults)
    if (r.value == result) return r.name;
  // A failing HRESULT (creating the driver) reads best as Windows prints it.
  if (result < -0xFFFF) {
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(result));
    return hex;
  }
  return std::to_string(result);
}

}  // namespace sim::asiohost
