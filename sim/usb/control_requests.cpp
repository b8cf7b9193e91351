// Requests on the default pipe: descriptors, class and vendor requests, configuration and
// alternate settings, and the pipe requests. Each takes one frame of bus time.
#include <cstring>

#include "sim/usb/host_controller.h"
#include "sim/usb/pending_urb.h"
#include "usb/usb_trace.h"
#include "usb/usbd_extent.h"
#include "usb/usbdlib.h"

namespace sim::usb {
namespace {

USB_DEFAULT_PIPE_SETUP_PACKET Setup(UCHAR type, UCHAR request, USHORT value, USHORT index,
                                    USHORT length) {
  USB_DEFAULT_PIPE_SETUP_PACKET setup{};
  setup.bmRequestType.B = type;
  setup.bRequest = request;
  setup.wValue.W = value;
  setup.wIndex.W = index;
  setup.wLength = length;
  return setup;
}

USHORT ClampLength(ULONG length) {
  return length > 0xFFFF ? 0xFFFF : static_cast<USHORT>(length);
}

}  // namespace

uint64_t HostController::ControlEndTick() const {
  return NowTick() + (speed_ == UsbSpeed::High ? 8 : 1);
}

USBD_STATUS HostController::Control(const USB_DEFAULT_PIPE_SETUP_PACKET& setup, UCHAR* buffer,
                                    ULONG* length) {
  const bool in = (setup.bmRequestType.B & 0x80) != 0;
  const bool toEndpoint = (setup.bmRequestType.B & 0x1F) == 2;
  if (faults_.stalledEndpoints.count(0) != 0 ||
      (toEndpoint && faults_.stalledEndpoints.count(setup.wIndex.LowByte) != 0)) {
    *length = 0;
    TRACE_POINT(kTraceUsbControlStalled, setup.bmRequestType.B, setup.bRequest, setup.wValue.W);
    return USBD_STATUS_STALL_PID;
  }
  // The device sees exactly the wLength bytes of the data stage; the caller's buffer may be
  // larger but is never read or written past what it declared.
  std::vector<uint8_t> data(setup.wLength);
  if (!in && buffer != nullptr)
    std::memcpy(data.data(), buffer, std::min<ULONG>(*length, setup.wLength));
  devices::ControlResult result = device_->Control(Time(NowTick()), setup, data);
  if (result.Stalled()) {
    *length = 0;
    TRACE_POINT(kTraceUsbControlStalled, setup.bmRequestType.B, setup.bRequest, setup.wValue.W);
    return USBD_STATUS_STALL_PID;
  }
  ULONG moved = static_cast<ULONG>(std::min<size_t>(result.length, setup.wLength));
  if (in) {
    moved = std::min(moved, *length);
    if (buffer != nullptr) std::memcpy(buffer, data.data(), moved);
  }
  *length = moved;
  return USBD_STATUS_SUCCESS;
}

NTSTATUS HostController::CompleteControl(PURB urb, UrbCompletion completion, void* context,
                                         USBD_STATUS usbd) {
  return Accept(urb, completion, context, nullptr, ControlEndTick(),
                USBD_SUCCESS(usbd) ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL, usbd);
}

NTSTATUS HostController::GetDescriptor(PURB urb, UrbCompletion completion, void* context) {
  auto& request = urb->UrbControlDescriptorRequest;
  if (urb->UrbHeader.Length < sizeof(request) || request.TransferBuffer == nullptr) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  const USHORT wanted = ClampLength(request.TransferBufferLength);
  ULONG length = wanted;
  USBD_STATUS usbd = Control(Setup(0x80, USB_REQUEST_GET_DESCRIPTOR,
                                   static_cast<USHORT>(request.DescriptorType << 8 | request.Index),
                                   request.LanguageId, wanted),
                             static_cast<UCHAR*>(request.TransferBuffer), &length);
  auto shortBy = faults_.shortDescriptor.find(request.DescriptorType);
  if (shortBy != faults_.shortDescriptor.end()) {
    length = length > shortBy->second ? length - shortBy->second : 0;
  }
  request.TransferBufferLength = length;
  return CompleteControl(urb, completion, context, usbd);
}

NTSTATUS HostController::ClassOrVendor(PURB urb, UrbCompletion completion, void* context) {
  auto& request = urb->UrbControlVendorClassRequest;
  if (urb->UrbHeader.Length < sizeof(request) ||
      (request.TransferBufferLength != 0 && request.TransferBuffer == nullptr)) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  UCHAR recipient = 0;
  UCHAR type = 0x20;
  switch (urb->UrbHeader.Function) {
    case URB_FUNCTION_VENDOR_DEVICE:
      type = 0x40;
      break;
    case URB_FUNCTION_VENDOR_INTERFACE:
      type = 0x40;
      recipient = 1;
      break;
    case URB_FUNCTION_VENDOR_ENDPOINT:
      type = 0x40;
      recipient = 2;
      break;
    case URB_FUNCTION_VENDOR_OTHER:
      type = 0x40;
      recipient = 3;
      break;
    case URB_FUNCTION_CLASS_INTERFACE:
      recipient = 1;
      break;
    case URB_FUNCTION_CLASS_ENDPOINT:
      recipient = 2;
      break;
    case URB_FUNCTION_CLASS_OTHER:
      recipient = 3;
      break;
    default:
      break;
  }
  const bool in = USBD_TRANSFER_DIRECTION_FLAG(request.TransferFlags) == USBD_TRANSFER_DIRECTION_IN;
  const UCHAR bmRequestType = static_cast<UCHAR>((in ? 0x80 : 0) | type | recipient |
                                                 (request.RequestTypeReservedBits & 0x1C));
  ULONG length = ClampLength(request.TransferBufferLength);
  USBD_STATUS usbd = Control(Setup(bmRequestType, request.Request, request.Value, request.Index,
                                   static_cast<USHORT>(length)),
                             static_cast<UCHAR*>(request.TransferBuffer), &length);
  request.TransferBufferLength = length;
  return CompleteControl(urb, completion, context, usbd);
}

// The interface a record names in a configuration, with its endpoints, when the record is
// whole and has room for them; changes nothing.
USBD_STATUS HostController::FindInterface(const std::vector<UCHAR>& configuration,
                                          const USBD_INTERFACE_INFORMATION* info, SIZE_T room,
                                          InterfaceEndpoints* found) const {
  auto* config =
      reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(const_cast<UCHAR*>(configuration.data()));
  if (room < GET_USBD_INTERFACE_SIZE(0) || info->Length < GET_USBD_INTERFACE_SIZE(0) ||
      info->Length > room) {
    return USBD_STATUS_INVALID_PARAMETER;
  }
  PUSB_INTERFACE_DESCRIPTOR iface = USBD_ParseConfigurationDescriptorEx(
      config, config, info->InterfaceNumber, info->AlternateSetting, -1, -1, -1);
  if (iface == nullptr) return USBD_STATUS_INTERFACE_NOT_FOUND;
  if (info->Length < GET_USBD_INTERFACE_SIZE(iface->bNumEndpoints)) {
    return USBD_STATUS_BUFFER_TOO_SMALL;
  }
  // The endpoints are the endpoint descriptors between this interface and the next one.
  found->iface = iface;
  found->endpoints.clear();
  const ULONG total = static_cast<ULONG>(configuration.size());
  PVOID position = reinterpret_cast<UCHAR*>(iface) + iface->bLength;
  while (found->endpoints.size() < iface->bNumEndpoints) {
    auto* common = USBD_ParseDescriptors(config, total, position, USB_ENDPOINT_DESCRIPTOR_TYPE);
    PUSB_COMMON_DESCRIPTOR nextInterface =
        USBD_ParseDescriptors(config, total, position, USB_INTERFACE_DESCRIPTOR_TYPE);
    if (common == nullptr || common->bLength < sizeof(USB_ENDPOINT_DESCRIPTOR) ||
        (nextInterface != nullptr && nextInterface < common)) {
      return USBD_STATUS_INAVLID_CONFIGURATION_DESCRIPTOR;
    }
    found->endpoints.push_back(reinterpret_cast<const USB_ENDPOINT_DESCRIPTOR*>(common));
    position = reinterpret_cast<UCHAR*>(common) + common->bLength;
  }
  return USBD_STATUS_SUCCESS;
}

// Fills one interface record for (number, alternate) from the kept configuration and opens
// its pipes. Returns a USBD status; the record is left as it was on failure.
USBD_STATUS HostController::OpenInterface(PUSBD_INTERFACE_INFORMATION info, SIZE_T room) {
  InterfaceEndpoints found;
  USBD_STATUS usbd = FindInterface(configuration_, info, room, &found);
  if (!USBD_SUCCESS(usbd)) return usbd;
  PUSB_INTERFACE_DESCRIPTOR iface = found.iface;
  const std::vector<const USB_ENDPOINT_DESCRIPTOR*>& endpoints = found.endpoints;
  pipes_.CloseInterface(info->InterfaceNumber);
  info->Class = iface->bInterfaceClass;
  info->SubClass = iface->bInterfaceSubClass;
  info->Protocol = iface->bInterfaceProtocol;
  info->InterfaceHandle = reinterpret_cast<USBD_INTERFACE_HANDLE>(
      static_cast<ULONG_PTR>(0x1F000 | info->InterfaceNumber << 4 | info->AlternateSetting));
  info->NumberOfPipes = iface->bNumEndpoints;
  for (ULONG i = 0; i < info->NumberOfPipes; ++i) {
    PipeState* pipe = pipes_.Open(info->InterfaceNumber, *endpoints[i], speed_);
    USBD_PIPE_INFORMATION& out = info->Pipes[i];
    out.MaximumPacketSize = static_cast<USHORT>(pipe->capacity);
    out.EndpointAddress = pipe->address;
    out.Interval = pipe->bInterval;
    out.PipeType = pipe->type;
    out.PipeHandle = pipe;
    if (out.MaximumTransferSize == 0) out.MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
    out.PipeFlags = 0;
  }
  return USBD_STATUS_SUCCESS;
}

NTSTATUS HostController::SelectConfiguration(PURB urb, UrbCompletion completion, void* context) {
  auto& request = urb->UrbSelectConfiguration;
  const SIZE_T fixed = sizeof(request) - sizeof(USBD_INTERFACE_INFORMATION);
  if (urb->UrbHeader.Length < fixed) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  ULONG length = 0;
  if (request.ConfigurationDescriptor == nullptr) {
    for (Pending* p : pending_) {
      if (p->pipe != nullptr) CancelPipe(p->pipe, STATUS_CANCELLED, USBD_STATUS_CANCELED);
    }
    pipes_.CloseAll();
    configurationHandle_ = nullptr;
    return CompleteControl(
        urb, completion, context,
        Control(Setup(0x00, USB_REQUEST_SET_CONFIGURATION, 0, 0, 0), nullptr, &length));
  }
  const auto* source = request.ConfigurationDescriptor;
  const ULONG extent = tarnlink::usb::ConfigurationExtent(source);
  if (extent < sizeof(USB_CONFIGURATION_DESCRIPTOR) ||
      source->bDescriptorType != USB_CONFIGURATION_DESCRIPTOR_TYPE) {
    return Refuse(urb, USBD_STATUS_INAVLID_CONFIGURATION_DESCRIPTOR, STATUS_INVALID_PARAMETER);
  }
  // The whole list is checked before the device hears of it: a refused request must leave the
  // device as it was, not configured behind the driver's back.
  std::vector<UCHAR> configuration(reinterpret_cast<const UCHAR*>(source),
                                   reinterpret_cast<const UCHAR*>(source) + extent);
  auto* first = reinterpret_cast<UCHAR*>(&request.Interface);
  const auto* end = reinterpret_cast<UCHAR*>(urb) + urb->UrbHeader.Length;
  USBD_STATUS usbd = USBD_STATUS_SUCCESS;
  UCHAR* cursor = first;
  for (UCHAR i = 0; i < source->bNumInterfaces && USBD_SUCCESS(usbd); ++i) {
    auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(cursor);
    const SIZE_T room = cursor <= end ? static_cast<SIZE_T>(end - cursor) : 0;
    InterfaceEndpoints found;
    usbd = room < GET_USBD_INTERFACE_SIZE(0) ? USBD_STATUS_INVALID_PARAMETER
                                             : FindInterface(configuration, info, room, &found);
    if (USBD_SUCCESS(usbd)) cursor += info->Length;
  }
  if (!USBD_SUCCESS(usbd)) return Refuse(urb, usbd, STATUS_INVALID_PARAMETER);

  usbd = Control(Setup(0x00, USB_REQUEST_SET_CONFIGURATION, source->bConfigurationValue, 0, 0),
                 nullptr, &length);
  if (!USBD_SUCCESS(usbd)) return CompleteControl(urb, completion, context, usbd);
  configuration_ = std::move(configuration);
  pipes_.CloseAll();
  // One record per interface of the configuration, each as long as its Length says.
  cursor = first;
  for (UCHAR i = 0; i < source->bNumInterfaces && USBD_SUCCESS(usbd); ++i) {
    auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(cursor);
    usbd = OpenInterface(info, static_cast<SIZE_T>(end - cursor));
    if (USBD_SUCCESS(usbd) && info->AlternateSetting != 0) {
      usbd = Control(
          Setup(0x01, USB_REQUEST_SET_INTERFACE, info->AlternateSetting, info->InterfaceNumber, 0),
          nullptr, &length);
    }
    if (USBD_SUCCESS(usbd)) cursor += info->Length;
  }
  if (!USBD_SUCCESS(usbd)) {
    pipes_.CloseAll();
    configurationHandle_ = nullptr;
    return Refuse(urb, usbd, STATUS_INVALID_PARAMETER);
  }
  configurationHandle_ = reinterpret_cast<USBD_CONFIGURATION_HANDLE>(
      static_cast<ULONG_PTR>(0xC0F00000u + ++configurationGeneration_));
  request.ConfigurationHandle = configurationHandle_;
  return CompleteControl(urb, completion, context, USBD_STATUS_SUCCESS);
}

NTSTATUS HostController::SelectInterface(PURB urb, UrbCompletion completion, void* context) {
  auto& request = urb->UrbSelectInterface;
  const SIZE_T fixed = sizeof(request) - sizeof(USBD_INTERFACE_INFORMATION);
  if (urb->UrbHeader.Length < fixed + GET_USBD_INTERFACE_SIZE(0)) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  if (configurationHandle_ == nullptr || request.ConfigurationHandle != configurationHandle_) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  PUSBD_INTERFACE_INFORMATION info = &request.Interface;
  auto* config = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration_.data());
  if (USBD_ParseConfigurationDescriptorEx(config, config, info->InterfaceNumber,
                                          info->AlternateSetting, -1, -1, -1) == nullptr) {
    return Refuse(urb, USBD_STATUS_INTERFACE_NOT_FOUND, STATUS_INVALID_PARAMETER);
  }
  ULONG length = 0;
  USBD_STATUS usbd = Control(
      Setup(0x01, USB_REQUEST_SET_INTERFACE, info->AlternateSetting, info->InterfaceNumber, 0),
      nullptr, &length);
  if (!USBD_SUCCESS(usbd)) return CompleteControl(urb, completion, context, usbd);
  // Transfers still queued on the interface's old pipes end with the old setting.
  for (Pending* p : pending_) {
    if (p->pipe != nullptr && p->pipe->interfaceNumber == info->InterfaceNumber) {
      CancelPipe(p->pipe, STATUS_CANCELLED, USBD_STATUS_CANCELED);
    }
  }
  usbd = OpenInterface(info, urb->UrbHeader.Length - fixed);
  if (!USBD_SUCCESS(usbd)) return Refuse(urb, usbd, STATUS_INVALID_PARAMETER);
  return CompleteControl(urb, completion, context, USBD_STATUS_SUCCESS);
}

NTSTATUS HostController::PipeRequest(PURB urb, UrbCompletion completion, void* context) {
  if (urb->UrbHeader.Length < sizeof(struct _URB_PIPE_REQUEST)) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  PipeState* pipe = pipes_.Find(urb->UrbPipeRequest.PipeHandle);
  if (pipe == nullptr) {
    return Refuse(urb, USBD_STATUS_INVALID_PIPE_HANDLE, STATUS_INVALID_PARAMETER);
  }
  if (urb->UrbHeader.Function == URB_FUNCTION_ABORT_PIPE) {
    CancelPipe(pipe, STATUS_CANCELLED, USBD_STATUS_CANCELED);
  } else {
    // Reset and clear-stall: the halt goes (CLEAR_FEATURE ENDPOINT_HALT to the device) and the
    // schedule starts afresh.
    ULONG length = 0;
    faults_.stalledEndpoints.erase(pipe->address);
    USBD_STATUS usbd = Control(
        Setup(0x02, USB_REQUEST_CLEAR_FEATURE, USB_FEATURE_ENDPOINT_STALL, pipe->address, 0),
        nullptr, &length);
    pipe->scheduled = false;
    if (!USBD_SUCCESS(usbd)) return CompleteControl(urb, completion, context, usbd);
  }
  return Accept(urb, completion, context, nullptr, ControlEndTick(), STATUS_SUCCESS,
                USBD_STATUS_SUCCESS);
}

}  // namespace sim::usb
