#include "fake_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "kernel/pnp_device_interface.h"
#include "kernel/pnp_host.h"

namespace asio_test {
namespace {

constexpr GUID kAudioClass = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

void DefaultFormats(const FakeDevice& device, FormatQueryRecord& record) {
  if (record.sampleRate < device.range.lowestRate || record.sampleRate > device.range.highestRate)
    return;
  record.playbackChannels = record.captureChannels = 2;
  record.playbackBits = record.captureBits = 32;
}

VOID CancelPending(PDEVICE_OBJECT deviceObject, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  ++(*static_cast<FakeDevice**>(deviceObject->DeviceExtension))->cancelled;
  Complete(irp, STATUS_CANCELLED);
}

NTSTATUS Answer(FakeDevice& device, PIRP irp, PIO_STACK_LOCATION stack) {
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  auto* buffer = static_cast<BYTE*>(irp->AssociatedIrp.SystemBuffer);
  device.requests.push_back(code);
  if (device.failing.count(code) != 0) return Complete(irp, STATUS_UNSUCCESSFUL);
  if (device.pending.count(code) != 0) {
    IoMarkIrpPending(irp);
    IoSetCancelRoutine(irp, CancelPending);
    return STATUS_PENDING;
  }
  auto reply = [&](const void* data, ULONG bytes) {
    if (out < bytes) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
    std::memcpy(buffer, data, bytes);
    return Complete(irp, STATUS_SUCCESS, bytes);
  };
  switch (code) {
    case IOCTL_ASIO_GET_RATE_RANGE:
      return reply(&device.range, sizeof device.range);
    case IOCTL_ASIO_GET_FIXED_RATE:
      return reply(&device.fixedRate, sizeof(ULONG));
    case IOCTL_ASIO_GET_DSD_NATIVE:
      return reply(&device.dsdNative, sizeof(ULONG));
    case IOCTL_ASIO_GET_BUS_SPEED:
      return reply(&device.busSpeed, sizeof(ULONG));
    case IOCTL_ASIO_GET_CAPTURE_PERIOD_MS:
      return reply(&device.capturePeriodMs, sizeof(ULONG));
    case IOCTL_ASIO_GET_PRODUCT_STRING: {
      if (out < ASIO_PRODUCT_STRING_MIN_BYTES) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
      const ULONG length = device.claimedLength != 0 ? device.claimedLength
                                                     : static_cast<ULONG>(device.product.size());
      const ULONG text = static_cast<ULONG>(device.product.size() * 2);
      const ULONG copied = std::min<ULONG>(text, (out - ASIO_PRODUCT_STRING_MIN_BYTES) & ~1u);
      std::memcpy(buffer, &length, sizeof length);
      std::memcpy(buffer + 4, device.product.data(), copied);
      std::memset(buffer + 4 + copied, 0, 2);
      return Complete(irp, copied < text || length * 2 > text ? STATUS_BUFFER_OVERFLOW
                                                               : STATUS_SUCCESS,
                      copied + ASIO_PRODUCT_STRING_MIN_BYTES);
    }
    case IOCTL_ASIO_QUERY_FORMATS: {
      const ULONG n = in / sizeof(FormatQueryRecord);
      if (out / sizeof(FormatQueryRecord) < n) return Complete(irp, STATUS_BUFFER_TOO_SMALL);
      for (ULONG i = 0; i < n; ++i) {
        FormatQueryRecord record;
        std::memcpy(&record, buffer + i * sizeof record, sizeof record);
        record.playbackChannels = record.playbackBits = 0;
        record.captureChannels = record.captureBits = 0;
        if (device.formats) {
          device.formats(record);
        } else {
          DefaultFormats(device, record);
        }
        std::memcpy(buffer + i * sizeof record, &record, sizeof record);
      }
      return Complete(irp, STATUS_SUCCESS, n * sizeof(FormatQueryRecord));
    }
    case IOCTL_ASIO_ACQUIRE:
      if (device.owner != nullptr && device.owner != stack->FileObject)
        return Complete(irp, STATUS_DEVICE_BUSY);
      device.owner = stack->FileObject;
      return Complete(irp, STATUS_SUCCESS);
    case IOCTL_ASIO_SET_RATE: {
      if (in < sizeof(ULONG)) return Complete(irp, STATUS_INVALID_PARAMETER);
      ULONG rate = 0;
      std::memcpy(&rate, buffer, sizeof rate);
      if (rate < device.range.lowestRate || rate > device.range.highestRate)
        return Complete(irp, STATUS_INVALID_PARAMETER);
      device.rate = rate;
      return Complete(irp, STATUS_SUCCESS);
    }
    case IOCTL_ASIO_NOP:
      return Complete(irp, STATUS_SUCCESS);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
  }
}

NTSTATUS Dispatch(PDEVICE_OBJECT deviceObject, PIRP irp) {
  auto& device = **static_cast<FakeDevice**>(deviceObject->DeviceExtension);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MajorFunction) {
    case IRP_MJ_DEVICE_CONTROL:
      return Answer(device, irp, stack);
    case IRP_MJ_CLEANUP:
      // Closing the owner's handle gives the device up, as the kernel driver does.
      if (device.owner == stack->FileObject) device.owner = nullptr;
      return Complete(irp, STATUS_SUCCESS);
    default:
      return Complete(irp, STATUS_SUCCESS);
  }
}

NTSTATUS BusDispatch(PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_NOT_SUPPORTED); }

}  // namespace

void FakeChannel::Build(std::vector<FakeDevice>* devices) {
  devices_ = devices;
  ASSERT_EQ(IoHostCreateDriver(u"fakebus", &bus_), STATUS_SUCCESS);
  ASSERT_EQ(IoHostCreateDriver(u"Velmor_USBDAC_AUDIO", &function_), STATUS_SUCCESS);
  for (auto& entry : bus_->MajorFunction) entry = BusDispatch;
  for (auto& entry : function_->MajorFunction) entry = Dispatch;
  for (FakeDevice& device : *devices) {
    ASSERT_EQ(IoCreateDevice(bus_, 0, nullptr, FILE_DEVICE_BUS_EXTENDER,
                             FILE_AUTOGENERATED_DEVICE_NAME, FALSE, &device.pdo),
              STATUS_SUCCESS);
    ASSERT_EQ(tarnlink::io::CreateDeviceNode(
                  device.pdo, {device.instanceId, device.service, device.description}),
              STATUS_SUCCESS);
    ASSERT_EQ(IoCreateDevice(function_, sizeof(FakeDevice*), nullptr, FILE_DEVICE_KS, 0, FALSE,
                             &device.fdo),
              STATUS_SUCCESS);
    *static_cast<FakeDevice**>(device.fdo->DeviceExtension) = &device;
    ASSERT_EQ(IoAttachDeviceToDeviceStack(device.fdo, device.pdo), device.pdo);
    device.fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    for (std::u16string reference : device.references) {
      UNICODE_STRING name = {static_cast<USHORT>(reference.size() * 2),
                             static_cast<USHORT>(reference.size() * 2), reference.data()};
      UNICODE_STRING link = {};
      ASSERT_EQ(IoRegisterDeviceInterface(device.pdo, &kAudioClass, &name, &link),
                STATUS_SUCCESS);
      ASSERT_EQ(IoSetDeviceInterfaceState(&link, TRUE), STATUS_SUCCESS);
      RtlFreeUnicodeString(&link);
    }
  }
}

void FakeChannel::Remove(FakeDevice& device) {
  if (device.pdo == nullptr || device.removed) return;
  tarnlink::io::RemoveDeviceNode(device.pdo);
  device.removed = true;
}

void FakeChannel::TearDown() {
  if (devices_ != nullptr) {
    for (FakeDevice& device : *devices_) {
      if (device.fdo != nullptr) {
        IoDetachDevice(device.pdo);
        IoDeleteDevice(device.fdo);
      }
      if (device.pdo != nullptr) {
        if (!device.removed) tarnlink::io::RemoveDeviceNode(device.pdo);
        IoDeleteDevice(device.pdo);
      }
      device.fdo = device.pdo = nullptr;
    }
  }
  if (function_ != nullptr) IoHostUnloadDriver(function_);
  if (bus_ != nullptr) IoHostUnloadDriver(bus_);
  function_ = bus_ = nullptr;
}

}  // namespace asio_test
