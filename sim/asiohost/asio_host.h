// An ASIO host application on the simulated machine. It runs in a user process of its own: its
// main thread finds the driver as hosts do (HKEY_LOCAL_MACHINE\SOFTWARE\ASIO, the class id, COM
// creation with the class id as interface id) and makes the calls of its script; the driver's
// threads call it back (buffer switches, messages). It plays the position signal on every output
// channel it opened and checks every input channel it opened, sample by sample.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "asio_interface.h"
#include "kernel/host_kernel.h"
#include "sim/asiohost/host_script.h"
#include "sim/asiohost/host_signal.h"

namespace sim::asiohost {

// What the run asks of every script.
struct HostSettings {
  std::u16string driverName;  // the ASIO key's subkey; empty: the first listed driver
  double rate = 0;            // set after init when nonzero (a DSD bit rate in DSD)
  bool dsd = false;           // asks for the DSD I/O format after init
  // What create-buffers asks for until the driver asks for a reset; 0, and every opening after
  // a reset: the driver's preferred size.
  LONG bufferFrames = 0;
  double runMs = 1000;        // a `run` step without its own length
  bool openInputs = true;     // which channels create-buffers opens (a dummy opening: one)
  bool openOutputs = true;
  // The bits of a sample the device keeps (input: of what it sends), when fewer than the sample
  // type carries; asked at the first buffer switch of each opening, once the stream runs. The
  // signal is written and expected in that many bits. Unset: all the type carries.
  std::function<unsigned(bool input)> keptBits;
};

// One opening of the buffers: what its inputs saw.
struct BufferSegment {
  LONG bufferSize = 0;
  uint64_t firstOutputFrame = 0;  // of the signal, written at this opening's first switch
  devices::SampleLayout outputLayout;  // the signal as written, once the first switch came
  std::vector<devices::Continuity> inputs;  // per input channel opened
  std::vector<uint64_t> firstInputFrames;   // the signal's frame each input's first sample held
};

struct HostReport {
  std::vector<std::string> log;       // "line 7: start ASE_OK", one per call
  std::vector<std::string> failures;  // calls that gave another result than expected
  std::vector<std::string> enumerated;  // driver names, from the enumerate step
  std::string driverName;
  LONG inputs = 0, outputs = 0;
  LONG minSize = 0, maxSize = 0, preferredSize = 0, granularity = 0;
  double sampleRate = 0;
  LONG inputLatency = 0, outputLatency = 0;  // as the driver reported them with buffers
  ASIOSampleType sampleType = -1;
  uint64_t switches = 0;
  uint64_t timeInfoSwitches = 0;
  uint64_t halfOrderErrors = 0;     // a switch handing the half just handed
  uint64_t positionErrors = 0;      // time info whose sample position did not advance by one buffer
  uint64_t resetRequests = 0;
  uint64_t resyncRequests = 0;
  uint64_t latencyChanges = 0;
  uint64_t rateChanges = 0;         // sampleRateDidChange
  uint64_t framesPlayed = 0;        // per output channel, into the output halves
  // Buffer switches that did not come: over each run from start, the periods the clock says
  // passed between its first and last switch, less the switches between them.
  uint64_t missedPeriods = 0;
  std::vector<BufferSegment> segments;
  bool finished = false;
};

class AsioHost {
 public:
  AsioHost(HostScript script, HostSettings settings);
  ~AsioHost();
  AsioHost(const AsioHost&) = delete;
  AsioHost& operator=(const AsioHost&) = delete;

  // Starts the host's process and its main thread on the machine; returns the thread.
  PKTHREAD Start(tarnlink::kernel::HostKernel& kernel);
  bool Finished() const { return report_.finished; }
  // The user quits the application: the run in progress ends, and any later one at once, and
  // the script goes on with its closing steps. Call from a thread of a user process.
  void Quit();
  // Read once the host finished (or from the machine's side between runs).
  const HostReport& Report() const { return report_; }

  // The host's side of the callbacks; public for the callback table.
  void OnBufferSwitch(LONG half, ASIOTime* time);
  LONG OnMessage(LONG selector, LONG value);
  void OnRateChange(ASIOSampleRate rate);

 private:
  void Main();
  bool Perform(const HostStep& step);
  // Each returns the call's result as the script may expect it.
  LONG Load();
  LONG Init();
  LONG Query();
  LONG CreateBuffers(bool dummy);
  LONG Start();
  LONG Dispose();
  LONG Release();
  void Enumerate();
  LONG WaitSwitches(uint64_t count);
  LONG StopInSwitch();
  void RunFor(double ms);
  // The named event Quit sets, one per host.
  std::u16string QuitEventName() const;
  void ServeReset();
  void Record(const HostStep& step, LONG result);
  // The buffers go away: their inputs' findings go to their segment.
  void CloseSegment();
  // At the first switch of an opening: the signal's bits in each direction.
  void ResolveLayouts();
  // At a stop (or before a start): the run's missed periods into the report.
  void CountMissedPeriods();
  void Note(int line, const std::string& what, LONG result);

  HostScript script_;
  HostSettings settings_;
  HostReport report_;
  IASIO* driver_ = nullptr;
  HANDLE resetEvent_ = nullptr;
  HANDLE quitEvent_ = nullptr;
  PEPROCESS process_ = nullptr;

  // The buffers the host created; empty without.
  std::vector<ASIOBufferInfo> buffers_;
  ASIOSampleType bufferType_ = -1;
  LONG bufferSize_ = 0;
  devices::SampleLayout typeLayout_ = {};
  devices::SampleLayout outputLayout_ = {};
  bool layoutsPending_ = false;
  std::vector<InputCheck> inputChecks_;
  std::atomic<bool> buffersReady_{false};
  LONG lastHalf_ = -1;
  bool positionKnown_ = false;
  uint64_t lastPosition_ = 0;
  // This run's first and last switch, on the performance counter, and the switches between.
  LONGLONG runFirstSwitch_ = 0;
  LONGLONG runLastSwitch_ = 0;
  uint64_t runSwitches_ = 0;
  std::atomic<bool> stopInSwitch_{false};
  std::atomic<bool> stoppedInSwitch_{false};
  LONG stopInSwitchResult_ = 0;
};

}  // namespace sim::asiohost
