// A device on the simulated machine and clients of its private \asio channel, each in a user
// process of its own. The wave interface the client opens is registered here as the subdevice
// registration would.
#pragma once

#include <functional>
#include <string>

#include "asio_client.h"
#include "asio_handle.h"
#include "stream_fixture.h"

namespace tarnlink::asioctl::testing {

class AsioChannelTest : public engine::testing::StreamTest {
 protected:
  // Registers and enables the plugged device's wave interface (outside any machine thread).
  void RegisterWaveInterface();
  // Its kernel link.
  const std::u16string& WavePath() const { return wavePath_; }
  // Runs body on a thread of a fresh user process, which ends (closing what it left open)
  // when body returns.
  void AsUser(const std::function<void()>& body);
  // The same in steps: a process that lives on between bodies, until EndProcess.
  PEPROCESS StartProcess();
  void InProcess(PEPROCESS process, const std::function<void()>& body);
  void EndProcess(PEPROCESS process);
  // The driver's state of the client's handle (0 once closed).
  ULONG StateOf(const AsioClient& client);
  // A prepare of both directions (or as the request says) in PCM, with the client's events.
  static PrepareRequest Duplex(ULONG periodFrames, const AsioClient& client);
  // Open, acquire, prepare as the request says and start; the rings the client got.
  PrepareResult StartStream(AsioClient& client, const PrepareRequest& request);
  // Opens a client and moves its handle up to the given state.
  void BringTo(AsioClient& client, ULONG state, PrepareResult* rings = nullptr);
  CAsioStream& Stream() { return Adapter()->AsioStream(); }

 private:
  std::u16string wavePath_;
};

}  // namespace tarnlink::asioctl::testing
