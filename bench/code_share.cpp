#include "code_share.h"

#include <link.h>
#include <signal.h>
#include <sys/time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

namespace tarnlink::bench {

namespace {

constexpr size_t kCapacity = size_t{1} << 20;
constexpr long kPeriodUs = 500;  // the kernel rounds it up to its tick

uintptr_t* volatile g_buffer = nullptr;
std::atomic<size_t> g_used{0};

uintptr_t InterruptedAddress(void* context) {
  const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  return static_cast<uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return static_cast<uintptr_t>(uc->uc_mcontext.pc);
#else
  (void)uc;
  return 0;
#endif
}

void OnProfilingTick(int, siginfo_t*, void* context) {
  uintptr_t* buffer = g_buffer;
  if (buffer == nullptr) return;
  const size_t at = g_used.fetch_add(1, std::memory_order_relaxed);
  if (at < kCapacity) buffer[at] = InterruptedAddress(context);
}

void SetTimer(long periodUs) {
  itimerval timer = {};
  timer.it_interval.tv_usec = periodUs;
  timer.it_value.tv_usec = periodUs;
  setitimer(ITIMER_PROF, &timer, nullptr);
}

// The executable's own code: its load bias and the ranges of its executable segments.
struct Executable {
  uintptr_t bias = 0;
  std::vector<std::pair<uintptr_t, uintptr_t>> code;
  bool Contains(uintptr_t address) const {
    for (const auto& [begin, end] : code) {
      if (address >= begin && address < end) return true;
    }
    return false;
  }
};

Executable FindExecutable() {
  Executable exe;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* data) {
        auto* found = static_cast<Executable*>(data);
        found->bias = info->dlpi_addr;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr)& segment = info->dlpi_phdr[i];
          if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
          const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
          found->code.emplace_back(begin, begin + segment.p_memsz);
        }
        return 1;  // the first object is the program itself
      },
      &exe);
  return exe;
}

CodeArea AreaOfSource(const std::string& line, const std::filesystem::path& root) {
  const std::string file = line.substr(0, line.rfind(':'));
  if (file.empty() || file[0] == '?') return CodeArea::Unknown;
  std::filesystem::path path = std::filesystem::path(file).lexically_normal();
  if (path.is_absolute()) {
    path = path.lexically_relative(root);
    if (path.empty() || *path.begin() == "..") return CodeArea::Libraries;
  }
  // A path the compiler recorded relative to its build folder climbs out of it first.
  auto part = path.begin();
  while (part != path.end() && *part == "..") ++part;
  if (part == path.end()) return CodeArea::Unknown;
  const std::string top = part->string();
  if (top == "driver") return CodeArea::Product;
  if (top == "platform") return CodeArea::Platform;
  if (top == "sim") return CodeArea::Simulation;
  if (top == "bench" || top == "tests") return CodeArea::Harness;
  return CodeArea::Libraries;
}

}  // namespace

const char* CodeAreaName(CodeArea area) {
  switch (area) {
    case CodeArea::Product: return "product";
    case CodeArea::Platform: return "platform";
    case CodeArea::Simulation: return "simulation";
    case CodeArea::Harness: return "harness";
    case CodeArea::Libraries: return "libraries";
    case CodeArea::Unknown: return "unknown";
    case CodeArea::Count: break;
  }
  return "?";
}

CodeSampler::CodeSampler() {
  samples_.assign(kCapacity, 0);
  g_used = 0;
  struct sigaction action = {};
  action.sa_sigaction = OnProfilingTick;
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGPROF, &action, nullptr);
}

CodeSampler::~CodeSampler() {
  Pause();
  SetTimer(0);
  signal(SIGPROF, SIG_DFL);
}

void CodeSampler::Resume() {
  // The timer runs on from the first resume: restarted each time, it would be disarmed again
  // before the kernel's next tick whenever the stretch between is shorter than a tick.
  if (!armed_) SetTimer(kPeriodUs);
  armed_ = true;
  g_buffer = samples_.data();
}

void CodeSampler::Pause() { g_buffer = nullptr; }

CodeShares CodeSampler::Shares(const std::string& sourceRoot) const {
  CodeShares shares;
  const size_t used = std::min(g_used.load(), kCapacity);
  if (used == 0) return shares;
  const Executable exe = FindExecutable();
  uint64_t counts[static_cast<int>(CodeArea::Count)] = {};
  std::map<uintptr_t, uint64_t> inProgram;  // offset in the executable: samples
  for (size_t i = 0; i < used; ++i) {
    if (exe.Contains(samples_[i])) {
      ++inProgram[samples_[i] - exe.bias];
    } else {
      ++counts[static_cast<int>(CodeArea::Libraries)];
    }
  }

  // One addr2line run answers every address, a line each, in the order asked.
  char program[4096] = {};
  const ssize_t length = readlink("/proc/self/exe", program, sizeof(program) - 1);
  const std::string addresses = std::filesystem::temp_directory_path() /
                                ("code_share_" + std::to_string(getpid()));
  {
    std::ofstream out(addresses);
    for (const auto& [offset, count] : inProgram) out << std::hex << "0x" << offset << '\n';
  }
  const std::string command = "addr2line -e '" + std::string(program, length > 0 ? length : 0) +
                              "' < '" + addresses + "'";
  FILE* answers = popen(command.c_str(), "r");
  const std::filesystem::path root = std::filesystem::path(sourceRoot).lexically_normal();
  char line[8192];
  for (const auto& [offset, count] : inProgram) {
    const bool answered = answers != nullptr && std::fgets(line, sizeof(line), answers) != nullptr;
    std::string source = answered ? line : "?";
    if (!source.empty() && source.back() == '\n') source.pop_back();
    counts[static_cast<int>(AreaOfSource(source, root))] += count;
  }
  if (answers != nullptr) pclose(answers);
  std::filesystem::remove(addresses);

  shares.samples = used;
  for (int area = 0; area < static_cast<int>(CodeArea::Count); ++area) {
    shares.share[area] = static_cast<double>(counts[area]) / static_cast<double>(used);
  }
  return shares;
}

}  // namespace tarnlink::bench
