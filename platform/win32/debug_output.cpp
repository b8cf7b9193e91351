// Debug output: kept as text for tests and the command-line program, and marked in the trace
// ring (which carries numbers only) with the text's length.
#include <string>

#include "kernel/trace.h"
#include "win32/debugapi.h"
#include "win32/win32_state.h"

namespace {
constexpr ULONG kDebugOutputTracePoint = 0x32000001;
}

VOID WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  std::u16string text(lpOutputString);
  TRACE_POINT(kDebugOutputTracePoint, text.size());
  tarnlink::win32::State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  state.debugOutput.push_back(std::move(text));
}

VOID WINAPI OutputDebugStringA(LPCSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  std::u16string text;
  for (const char* c = lpOutputString; *c != 0; ++c)
    text.push_back(static_cast<unsigned char>(*c));
  OutputDebugStringW(text.c_str());
}

namespace tarnlink::win32 {

std::vector<std::u16string> DebugOutput() {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  return state.debugOutput;
}

}  // namespace tarnlink::win32
