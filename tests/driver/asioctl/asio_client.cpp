#include "asio_client.h"

#include <gtest/gtest.h>

#include <cstring>

#include "asio_ring_rules.h"
#include "kernel/io_file_api.h"
#include "user_mode.h"

namespace tarnlink::asioctl::testing {

namespace {

volatile LONG* Word(SharedRingHeader* header, size_t offset) {
  return reinterpret_cast<volatile LONG*>(reinterpret_cast<uint8_t*>(header) + offset);
}

}  // namespace

NTSTATUS AsioClient::Open(const std::u16string& interfacePath) {
  std::u16string path = interfacePath + u"\\asio";
  UNICODE_STRING name = {static_cast<USHORT>(path.size() * 2),
                         static_cast<USHORT>(path.size() * 2), path.data()};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  IO_STATUS_BLOCK iosb = {};
  return NtCreateFile(&handle_, GENERIC_READ | GENERIC_WRITE, &attributes, &iosb, nullptr, 0,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                      FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

void AsioClient::Close() {
  if (handle_ != nullptr) {
    EXPECT_TRUE(CloseHandle(handle_));
  }
  handle_ = nullptr;
}

Reply AsioClient::Send(ULONG code, const void* in, ULONG inLength, void* out, ULONG outLength) {
  IO_STATUS_BLOCK iosb = {};
  const NTSTATUS status = NtDeviceIoControlFile(handle_, nullptr, nullptr, nullptr, &iosb, code,
                                                const_cast<void*>(in), inLength, out, outLength);
  return {status, static_cast<ULONG>(iosb.Information)};
}

ULONG AsioClient::Word(ULONG code) {
  ULONG value = 0xFFFFFFFF;
  EXPECT_EQ(Send(code, nullptr, 0, &value, sizeof value).status, STATUS_SUCCESS) << std::hex << code;
  return value;
}

void AsioClient::CreateEvents() {
  periodEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  outputEvent_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(periodEvent_, nullptr);
  ASSERT_NE(outputEvent_, nullptr);
}

void AsioClient::CloseEvents() {
  for (HANDLE* event : {&periodEvent_, &outputEvent_}) {
    if (*event != nullptr) CloseHandle(*event);
    *event = nullptr;
  }
}

ULONGLONG AsioClient::PeriodEventHandle() const {
  return reinterpret_cast<ULONG_PTR>(periodEvent_);
}

ULONGLONG AsioClient::OutputEventHandle() const {
  return reinterpret_cast<ULONG_PTR>(outputEvent_);
}

bool AsioClient::WaitPeriod(uint64_t ms) {
  return WaitForSingleObject(periodEvent_, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

void AsioClient::SignalOutput() {
  SetEvent(outputEvent_);
}

ClientRing::ClientRing(ULONGLONG address)
    : header_(reinterpret_cast<SharedRingHeader*>(static_cast<uintptr_t>(address))) {
  if (header_ == nullptr) return;
  data_ = reinterpret_cast<uint8_t*>(header_) + sizeof(SharedRingHeader);
  ringBytes_ = header_->ringBytes;
  frameBytes_ = header_->frameBytes;
}

void ClientRing::Restart(bool producer) {
  offset_ = producer ? RingOffset(header_->writeOffset, ringBytes_) : 0;
}

ULONG ClientRing::Fill() const {
  return RingFill(*Word(header_, offsetof(SharedRingHeader, fillBytes)), ringBytes_);
}

ULONG ClientRing::Write(const uint8_t* src, ULONG bytes) {
  const LONG debt = InterlockedExchange(Word(header_, offsetof(SharedRingHeader, debt)), 0);
  const RingWritePlan plan =
      PlanRingWrite(ringBytes_, frameBytes_, offset_, bytes, debt,
                    *Word(header_, offsetof(SharedRingHeader, fillBytes)), true);
  InterlockedAdd(Word(header_, offsetof(SharedRingHeader, debt)), plan.debtBack);
  std::memcpy(data_ + plan.copy.offset, src, plan.copy.first);
  std::memcpy(data_, src + plan.copy.first, plan.copy.second);
  offset_ = plan.nextOffset;
  header_->writeOffset = offset_;
  const ULONG written = plan.copy.first + plan.copy.second;
  InterlockedAdd(Word(header_, offsetof(SharedRingHeader, fillBytes)), static_cast<LONG>(written));
  return written;
}

ULONG ClientRing::Read(uint8_t* dst, ULONG bytes) {
  const LONG debt = InterlockedExchange(Word(header_, offsetof(SharedRingHeader, debt)), 0);
  const RingReadPlan plan =
      PlanRingRead(ringBytes_, frameBytes_, offset_, bytes, debt,
                   *Word(header_, offsetof(SharedRingHeader, fillBytes)), false);
  InterlockedAdd(Word(header_, offsetof(SharedRingHeader, debt)), plan.debtBack);
  // Capture the driver dropped comes out as fill first: the test sees it as a gap.
  std::memset(dst, 0, plan.leadingFill);
  std::memcpy(dst + plan.leadingFill, data_ + plan.copy.offset, plan.copy.first);
  std::memcpy(dst + plan.leadingFill + plan.copy.first, data_, plan.copy.second);
  offset_ = plan.nextOffset;
  header_->readOffset = offset_;
  const ULONG read = plan.copy.first + plan.copy.second;
  InterlockedAdd(Word(header_, offsetof(SharedRingHeader, fillBytes)), -static_cast<LONG>(read));
  return plan.leadingFill + read;
}

}  // namespace tarnlink::asioctl::testing
