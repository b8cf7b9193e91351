#include "machine_test.h"

#include "kernel/pnp_host.h"
#include "portcls/portcls.h"

namespace sim::machine::testing {

void MachineTest::SetUp() {
  KernelTest::SetUp();
  machine = std::make_unique<Machine>(kernel(), Entry(), Options());
  BeforeLoad();
  ASSERT_EQ(machine->LoadDriver(), STATUS_SUCCESS);
}

void MachineTest::TearDown() {
  machine.reset();
  KernelTest::TearDown();
}

std::vector<std::u16string> MachineTest::AudioInterfaces() {
  std::vector<std::u16string> links;
  for (const auto& info : tarnlink::io::EnumerateDeviceInterfaces(KSCATEGORY_AUDIO, true))
    links.push_back(info.symbolicLink);
  return links;
}

NTSTATUS MachineTest::Open(const std::u16string& interfacePath, std::u16string_view suffix,
                           HANDLE* handle) {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  EXPECT_TRUE(machine->RunInKernelThread([&] {
    std::u16string path = interfacePath + std::u16string(suffix);
    UNICODE_STRING name = {static_cast<USHORT>(path.size() * 2),
                           static_cast<USHORT>(path.size() * 2), path.data()};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    IO_STATUS_BLOCK iosb = {};
    status = ZwCreateFile(handle, GENERIC_READ | GENERIC_WRITE, &attributes, &iosb, nullptr, 0, 0,
                          FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  }));
  return status;
}

NTSTATUS MachineTest::DeviceControl(HANDLE handle, ULONG code, std::vector<UCHAR> input,
                                    ULONG outputLength, ULONG_PTR* information) {
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  std::vector<UCHAR> output(outputLength);
  EXPECT_TRUE(machine->RunInKernelThread([&] {
    IO_STATUS_BLOCK iosb = {};
    status = ZwDeviceIoControlFile(handle, nullptr, nullptr, nullptr, &iosb, code, input.data(),
                                   static_cast<ULONG>(input.size()), output.data(), outputLength);
    if (information != nullptr) *information = iosb.Information;
  }));
  return status;
}

void MachineTest::Close(HANDLE handle) {
  EXPECT_TRUE(machine->RunInKernelThread([&] { EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS); }));
}

}  // namespace sim::machine::testing
