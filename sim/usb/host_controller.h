// The simulated host controller and its bus: one root port with one device, the (micro)frame
// clock on the machine clock, and every URB function the USB stack hands down. Work happens
// per URB, not per idle microframe: each accepted URB arms one kernel timer for the end of its
// last (micro)frame, and the timer's DPC first plays every transaction due before that instant
// to the device in bus-time order, then completes what has ended. Completions therefore run at
// DISPATCH_LEVEL, as a real controller's completion DPC does.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "kernel_mode.h"
#include "sim/devices/usb_device.h"
#include "sim/usb/bus_faults.h"
#include "sim/usb/pipe_state.h"
#include "usb/usb.h"
#include "usb/usb_port.h"
#include "usb/usbuser.h"

namespace sim::usb {

using devices::UsbSpeed;

struct ControllerIdentity {
  ULONG pciVendorId = 0x8086;
  ULONG pciDeviceId = 0x1E2D;
  ULONG pciRevision = 4;
  ULONG rootPorts = 2;
  USB_CONTROLLER_FLAVOR flavor = EHCI_Generic;
};

// Called once per accepted URB, at DISPATCH_LEVEL, with the request's NTSTATUS.
using UrbCompletion = tarnlink::usb::PortUrbCompletion;

class HostController : public tarnlink::usb::UsbPortBackend {
 public:
  HostController(UsbSpeed busSpeed, ControllerIdentity identity = {});
  ~HostController() override;
  HostController(const HostController&) = delete;
  HostController& operator=(const HostController&) = delete;

  // Plugs the device into the root port and resets it at min(bus, device) speed.
  void Attach(devices::UsbDevice* device);
  // Surprise removal now: pending URBs fail, new ones are refused.
  void Unplug();
  // Surprise removal after delay100ns of machine time.
  void ScheduleUnplug(uint64_t delay100ns);
  bool Connected() const { return device_ != nullptr && !gone_; }

  // STATUS_PENDING: completion runs later. Anything else: the URB was refused and its
  // Hdr.Status says why; completion does not run.
  NTSTATUS SubmitUrb(PURB urb, UrbCompletion completion, void* context) override;

  UsbSpeed DeviceSpeed() const { return speed_; }
  // The current 1 ms frame number (high-speed microframes share their frame's number).
  ULONG CurrentFrame() const override;
  bool DeviceHighSpeed() const override { return speed_ == UsbSpeed::High; }
  USB_CONTROLLER_INFO_0 ControllerInfo() const override;
  const ControllerIdentity& Identity() const { return identity_; }
  BusFaults& Faults() { return faults_; }

 private:
  struct Pending;
  friend struct Pending;

  uint64_t NowTick() const;
  uint64_t TickUnits() const;
  devices::BusTime Time(uint64_t tick) const { return {tick, speed_}; }

  NTSTATUS Dispatch(PURB urb, UrbCompletion completion, void* context);
  NTSTATUS Refuse(PURB urb, USBD_STATUS usbd, NTSTATUS status);
  NTSTATUS Accept(PURB urb, UrbCompletion completion, void* context, PipeState* pipe,
                  uint64_t endTick, NTSTATUS status, USBD_STATUS usbd);
  // Sets a timer for the start of `tick`.
  void ArmAt(PKTIMER timer, PKDPC dpc, uint64_t tick);
  // Under the lock: completions are held back now (the release is armed for the window's end).
  bool HoldsCompletions();
  // Under the lock, which it releases: plays what the URB spans, finishes and completes it.
  void ConcludeAndUnlock(Pending* p);
  // Control transfer on endpoint 0 at the current tick; returns the USBD status.
  USBD_STATUS Control(const USB_DEFAULT_PIPE_SETUP_PACKET& setup, UCHAR* buffer, ULONG* length);

  NTSTATUS GetDescriptor(PURB urb, UrbCompletion completion, void* context);
  NTSTATUS ClassOrVendor(PURB urb, UrbCompletion completion, void* context);
  NTSTATUS SelectConfiguration(PURB urb, UrbCompletion completion, void* context);
  NTSTATUS SelectInterface(PURB urb, UrbCompletion completion, void* context);
  NTSTATUS PipeRequest(PURB urb, UrbCompletion completion, void* context);
  NTSTATUS Isochronous(PURB urb, UrbCompletion completion, void* context);
  NTSTATUS CompleteControl(PURB urb, UrbCompletion completion, void* context, USBD_STATUS usbd);
  uint64_t ControlEndTick() const;
  struct InterfaceEndpoints {
    PUSB_INTERFACE_DESCRIPTOR iface = nullptr;
    std::vector<const USB_ENDPOINT_DESCRIPTOR*> endpoints;
  };
  USBD_STATUS FindInterface(const std::vector<UCHAR>& configuration,
                            const USBD_INTERFACE_INFORMATION* info, SIZE_T room,
                            InterfaceEndpoints* found) const;
  USBD_STATUS OpenInterface(PUSBD_INTERFACE_INFORMATION info, SIZE_T room);

  // Plays every isochronous transaction due before tick to the device, in time order.
  void PlayUntil(uint64_t tick);
  void PlayPacket(Pending& p, ULONG index, uint64_t tick);
  // Final packet and URB statuses of a finished isochronous URB.
  void Finish(Pending* p);
  void CancelPipe(PipeState* pipe, NTSTATUS status, USBD_STATUS usbd);
  static KDEFERRED_ROUTINE TimerDpc;
  static KDEFERRED_ROUTINE UnplugDpc;
  // Completes the held URBs in the order they were accepted.
  static KDEFERRED_ROUTINE ReleaseDpc;

  UsbSpeed busSpeed_;
  UsbSpeed speed_;
  ControllerIdentity identity_;
  devices::UsbDevice* device_ = nullptr;
  bool gone_ = false;
  uint64_t attachTime_ = 0;
  uint64_t playedTick_ = 0;  // every (micro)frame before this one has been played
  PipeTable pipes_;
  std::vector<UCHAR> configuration_;  // the selected configuration, as the client passed it
  USBD_CONFIGURATION_HANDLE configurationHandle_ = nullptr;
  ULONG configurationGeneration_ = 0;
  std::vector<Pending*> pending_;
  BusFaults faults_;
  std::map<uint8_t, uint64_t> droppedCounter_;
  std::vector<uint8_t> inScratch_;
  KSPIN_LOCK lock_ = 0;
  KTIMER unplugTimer_;
  KDPC unplugDpc_;
  size_t held_ = 0;  // URBs due while completions were held back
  KTIMER releaseTimer_;
  KDPC releaseDpc_;
};

}  // namespace sim::usb
