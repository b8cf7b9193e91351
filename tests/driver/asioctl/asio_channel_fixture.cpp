#include "asio_channel_fixture.h"

#include "kernel/ps_process.h"
#include "portcls/portcls.h"

namespace tarnlink::asioctl::testing {

void AsioChannelTest::RegisterWaveInterface() {
  InKernel([&] {
    UNICODE_STRING reference;
    RtlInitUnicodeString(&reference, WSTR("Wave"));
    UNICODE_STRING link = {};
    ASSERT_EQ(IoRegisterDeviceInterface(machine->PhysicalDevice(), &KSCATEGORY_AUDIO, &reference,
                                        &link),
              STATUS_SUCCESS);
    IoSetDeviceInterfaceState(&link, TRUE);
    wavePath_.assign(reinterpret_cast<const char16_t*>(link.Buffer), link.Length / 2);
    RtlFreeUnicodeString(&link);
  });
}

void AsioChannelTest::AsUser(const std::function<void()>& body) {
  PEPROCESS process = StartProcess();
  InProcess(process, body);
  EndProcess(process);
}

PEPROCESS AsioChannelTest::StartProcess() {
  PEPROCESS process = nullptr;
  EXPECT_EQ(PsHostCreateProcess("host.exe", &process), STATUS_SUCCESS);
  return process;
}

void AsioChannelTest::InProcess(PEPROCESS process, const std::function<void()>& body) {
  InKernel([&] {
    PEPROCESS previous = PsGetCurrentProcess();
    PsHostSetThreadProcess(KeGetCurrentThread(), process);
    body();
    PsHostSetThreadProcess(KeGetCurrentThread(), previous);
  });
}

void AsioChannelTest::EndProcess(PEPROCESS process) {
  // Its handles close in its own context, as when its last thread ends.
  InProcess(process, [&] { PsHostTerminateProcess(process); });
  ObDereferenceObject(process);
}

ULONG AsioChannelTest::StateOf(const AsioClient& client) {
  PVOID object = nullptr;
  if (!NT_SUCCESS(ObReferenceObjectByHandle(client.Handle(), 0, *IoFileObjectType, KernelMode,
                                            &object, nullptr)))
    return AsioHandleClosed;
  auto* handle = static_cast<AsioHandle*>(static_cast<PFILE_OBJECT>(object)->DriverContext);
  const ULONG state = handle != nullptr ? handle->State() : AsioHandleClosed;
  ObDereferenceObject(object);
  return state;
}

PrepareRequest AsioChannelTest::Duplex(ULONG periodFrames, const AsioClient& client) {
  PrepareRequest request = {};
  request.periodFrames = periodFrames;
  request.captureWanted = 1;
  request.playbackWanted = 1;
  request.latencyPercent = 50;
  request.formatTag = ASIO_FORMAT_PCM;
  request.periodEvent = client.PeriodEventHandle();
  request.outputEvent = client.OutputEventHandle();
  return request;
}

PrepareResult AsioChannelTest::StartStream(AsioClient& client, const PrepareRequest& request) {
  PrepareResult rings = {};
  EXPECT_EQ(client.Open(WavePath()), STATUS_SUCCESS);
  EXPECT_EQ(client.Status(IOCTL_ASIO_ACQUIRE), STATUS_SUCCESS);
  EXPECT_EQ(client.Send(IOCTL_ASIO_PREPARE, &request, sizeof request, &rings, sizeof rings).status,
            STATUS_SUCCESS);
  EXPECT_EQ(client.Status(IOCTL_ASIO_START), STATUS_SUCCESS);
  return rings;
}

void AsioChannelTest::BringTo(AsioClient& client, ULONG state, PrepareResult* rings) {
  ASSERT_EQ(client.Open(WavePath()), STATUS_SUCCESS);
  if (state >= AsioHandleAcquired) {
    ASSERT_EQ(client.Status(IOCTL_ASIO_ACQUIRE), STATUS_SUCCESS);
  }
  if (state >= AsioHandlePrepared) {
    client.CreateEvents();
    PrepareResult result = {};
    const PrepareRequest request = Duplex(64, client);
    ASSERT_EQ(client.Send(IOCTL_ASIO_PREPARE, &request, sizeof request, &result, sizeof result).status,
              STATUS_SUCCESS);
    if (rings != nullptr) *rings = result;
  }
  if (state >= AsioHandleRunning) {
    ASSERT_EQ(client.Status(IOCTL_ASIO_START), STATUS_SUCCESS);
  }
}

}  // namespace tarnlink::asioctl::testing
