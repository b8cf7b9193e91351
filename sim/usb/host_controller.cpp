#include "sim/usb/host_controller.h"

#include <algorithm>

#include "sim/usb/pending_urb.h"
#include "usb/usb_trace.h"

namespace sim::usb {

HostController::HostController(UsbSpeed busSpeed, ControllerIdentity identity)
    : busSpeed_(busSpeed), speed_(busSpeed), identity_(identity) {
  KeInitializeSpinLock(&lock_);
  KeInitializeTimer(&unplugTimer_);
  KeInitializeDpc(&unplugDpc_, UnplugDpc, this);
  KeInitializeTimer(&releaseTimer_);
  KeInitializeDpc(&releaseDpc_, ReleaseDpc, this);
}

HostController::~HostController() {
  KeCancelTimer(&unplugTimer_);
  KeRemoveQueueDpc(&unplugDpc_);
  KeCancelTimer(&releaseTimer_);
  KeRemoveQueueDpc(&releaseDpc_);
  for (Pending* p : pending_) {
    KeCancelTimer(&p->timer);
    KeRemoveQueueDpc(&p->dpc);
    delete p;
  }
}

void HostController::Attach(devices::UsbDevice* device) {
  device_ = device;
  gone_ = false;
  speed_ = device->MaximumSpeed() == UsbSpeed::High ? busSpeed_ : UsbSpeed::Full;
  attachTime_ = KeQueryInterruptTime();
  playedTick_ = 0;
  pipes_.CloseAll();
  device->Reset(speed_);
  // Enumeration leaves the device addressed and unconfigured; the client configures it.
  USB_DEFAULT_PIPE_SETUP_PACKET address{};
  address.bRequest = USB_REQUEST_SET_ADDRESS;
  address.wValue.W = 1;
  device->Control(Time(0), address, {});
}

uint64_t HostController::TickUnits() const {
  return speed_ == UsbSpeed::High ? 1250 : 10000;
}

uint64_t HostController::NowTick() const {
  return (KeQueryInterruptTime() - attachTime_) / TickUnits();
}

ULONG HostController::CurrentFrame() const {
  const uint64_t tick = NowTick();
  return static_cast<ULONG>(speed_ == UsbSpeed::High ? tick >> 3 : tick);
}

USB_CONTROLLER_INFO_0 HostController::ControllerInfo() const {
  USB_CONTROLLER_INFO_0 info{};
  info.PciVendorId = identity_.pciVendorId;
  info.PciDeviceId = identity_.pciDeviceId;
  info.PciRevision = identity_.pciRevision;
  info.NumberOfRootPorts = identity_.rootPorts;
  info.ControllerFlavor = identity_.flavor;
  return info;
}

void HostController::ScheduleUnplug(uint64_t delay100ns) {
  LARGE_INTEGER due;
  due.QuadPart = -static_cast<LONGLONG>(delay100ns == 0 ? 1 : delay100ns);
  KeSetTimer(&unplugTimer_, due, &unplugDpc_);
}

void HostController::UnplugDpc(PKDPC, PVOID context, PVOID, PVOID) {
  static_cast<HostController*>(context)->Unplug();
}

void HostController::Unplug() {
  KIRQL irql;
  KeAcquireSpinLock(&lock_, &irql);
  PlayUntil(NowTick());
  gone_ = true;
  for (Pending* p : pending_) {
    p->cancelled = true;
    p->status = STATUS_NO_SUCH_DEVICE;
    p->usbd = USBD_STATUS_DEVICE_GONE;
    LARGE_INTEGER due;
    due.QuadPart = -1;
    KeSetTimer(&p->timer, due, &p->dpc);
  }
  KeReleaseSpinLock(&lock_, irql);
}

NTSTATUS HostController::Refuse(PURB urb, USBD_STATUS usbd, NTSTATUS status) {
  urb->UrbHeader.Status = usbd;
  TRACE_POINT(kTraceUsbUrbRejected, urb->UrbHeader.Function, static_cast<ULONG>(usbd));
  return status;
}

NTSTATUS HostController::Accept(PURB urb, UrbCompletion completion, void* context, PipeState* pipe,
                                uint64_t endTick, NTSTATUS status, USBD_STATUS usbd) {
  auto* p = new Pending;
  p->owner = this;
  p->urb = urb;
  p->completion = completion;
  p->context = context;
  p->pipe = pipe;
  p->endTick = endTick;
  p->status = status;
  p->usbd = usbd;
  urb->UrbHeader.Status = USBD_STATUS_PENDING;
  KeInitializeTimer(&p->timer);
  KeInitializeDpc(&p->dpc, TimerDpc, p);
  if (pipe != nullptr) ++pipe->pendingCount;
  pending_.push_back(p);
  ArmAt(&p->timer, &p->dpc, endTick);
  return STATUS_PENDING;
}

void HostController::ArmAt(PKTIMER timer, PKDPC dpc, uint64_t tick) {
  const uint64_t due = attachTime_ + tick * TickUnits();
  const uint64_t now = KeQueryInterruptTime();
  LARGE_INTEGER relative;
  relative.QuadPart = -static_cast<LONGLONG>(due > now ? due - now : 1);
  KeSetTimer(timer, relative, dpc);
}

void HostController::TimerDpc(PKDPC, PVOID context, PVOID, PVOID) {
  auto* p = static_cast<Pending*>(context);
  HostController* self = p->owner;
  KeAcquireSpinLockAtDpcLevel(&self->lock_);
  // While completions are held back, whatever falls due waits with them, so that they still
  // complete in the order the controller took them.
  if (self->HoldsCompletions() || self->held_ != 0) {
    if (!p->held) {
      p->held = true;
      ++self->held_;
    }
    KeReleaseSpinLockFromDpcLevel(&self->lock_);
    return;
  }
  self->ConcludeAndUnlock(p);
}

bool HostController::HoldsCompletions() {
  const uint64_t now = NowTick();
  const uint64_t released = faults_.CompletionTick(now);
  if (released == now) return false;
  ArmAt(&releaseTimer_, &releaseDpc_, released);
  return true;
}

void HostController::ReleaseDpc(PKDPC, PVOID context, PVOID, PVOID) {
  auto* self = static_cast<HostController*>(context);
  for (;;) {
    KeAcquireSpinLockAtDpcLevel(&self->lock_);
    if (self->HoldsCompletions()) break;
    auto held = std::find_if(self->pending_.begin(), self->pending_.end(),
                             [](const Pending* p) { return p->held; });
    if (held == self->pending_.end()) break;
    Pending* p = *held;
    p->held = false;
    --self->held_;
    self->ConcludeAndUnlock(p);
  }
  KeReleaseSpinLockFromDpcLevel(&self->lock_);
}

void HostController::ConcludeAndUnlock(Pending* p) {
  if (!p->cancelled) PlayUntil(std::min(NowTick(), p->endTick));
  Finish(p);
  pending_.erase(std::find(pending_.begin(), pending_.end(), p));
  if (p->pipe != nullptr) --p->pipe->pendingCount;
  // A cancellation may have re-armed the timer after it had already queued this DPC.
  KeCancelTimer(&p->timer);
  KeRemoveQueueDpc(&p->dpc);
  KeReleaseSpinLockFromDpcLevel(&lock_);
  p->urb->UrbHeader.Status = p->usbd;
  p->completion(p->urb, p->status, p->context);
  delete p;
}

void HostController::CancelPipe(PipeState* pipe, NTSTATUS status, USBD_STATUS usbd) {
  for (Pending* p : pending_) {
    if (p->pipe != pipe || p->cancelled) continue;
    p->cancelled = true;
    p->status = status;
    p->usbd = usbd;
    LARGE_INTEGER due;
    due.QuadPart = -1;
    KeSetTimer(&p->timer, due, &p->dpc);
  }
  pipe->scheduled = false;
}

NTSTATUS HostController::SubmitUrb(PURB urb, UrbCompletion completion, void* context) {
  if (urb == nullptr || completion == nullptr) return STATUS_INVALID_PARAMETER;
  if (urb->UrbHeader.Length < sizeof(struct _URB_HEADER)) {
    return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
  }
  KIRQL irql;
  KeAcquireSpinLock(&lock_, &irql);
  NTSTATUS status;
  if (!Connected()) {
    TRACE_POINT(kTraceUsbDeviceGone, urb->UrbHeader.Function);
    status = Refuse(urb, USBD_STATUS_DEVICE_GONE, STATUS_DEVICE_NOT_CONNECTED);
  } else {
    PlayUntil(NowTick());
    status = Dispatch(urb, completion, context);
  }
  KeReleaseSpinLock(&lock_, irql);
  return status;
}

NTSTATUS HostController::Dispatch(PURB urb, UrbCompletion completion, void* context) {
  switch (urb->UrbHeader.Function) {
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
      return GetDescriptor(urb, completion, context);
    case URB_FUNCTION_CLASS_DEVICE:
    case URB_FUNCTION_CLASS_INTERFACE:
    case URB_FUNCTION_CLASS_ENDPOINT:
    case URB_FUNCTION_CLASS_OTHER:
    case URB_FUNCTION_VENDOR_DEVICE:
    case URB_FUNCTION_VENDOR_INTERFACE:
    case URB_FUNCTION_VENDOR_ENDPOINT:
    case URB_FUNCTION_VENDOR_OTHER:
      return ClassOrVendor(urb, completion, context);
    case URB_FUNCTION_SELECT_CONFIGURATION:
      return SelectConfiguration(urb, completion, context);
    case URB_FUNCTION_SELECT_INTERFACE:
      return SelectInterface(urb, completion, context);
    case URB_FUNCTION_ABORT_PIPE:
    case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
    case URB_FUNCTION_SYNC_RESET_PIPE:
    case URB_FUNCTION_SYNC_CLEAR_STALL:
      return PipeRequest(urb, completion, context);
    case URB_FUNCTION_ISOCH_TRANSFER:
      return Isochronous(urb, completion, context);
    case URB_FUNCTION_GET_CURRENT_FRAME_NUMBER:
      if (urb->UrbHeader.Length < sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER)) break;
      urb->UrbGetCurrentFrameNumber.FrameNumber = CurrentFrame();
      return Accept(urb, completion, context, nullptr, NowTick(), STATUS_SUCCESS,
                    USBD_STATUS_SUCCESS);
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
      // The attached devices expose control and isochronous endpoints only.
      return Refuse(urb, USBD_STATUS_NOT_SUPPORTED, STATUS_NOT_SUPPORTED);
    default:
      return Refuse(urb, USBD_STATUS_INVALID_URB_FUNCTION, STATUS_INVALID_PARAMETER);
  }
  return Refuse(urb, USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER);
}

}  // namespace sim::usb
