// The USB function as the transfer engine's port: its IRP pool and request contexts, the device
// the requests go to, and the bus it sits on.
#pragma once

#include "iso_transfer_port.h"
#include "kernel_mode.h"
#include "usb_function.h"

class CUSBTransferPort final : public IIsoTransferPort {
 public:
  explicit CUSBTransferPort(CUSBCL& function) : m_Function(function) {}

  PIRP GetIrp() override { return m_Function.GetIrp(); }
  VOID ReturnIrp(PIRP irp) override { m_Function.ReturnIrp(irp); }
  USBRequestContext* AllocateRequestContext() override {
    return m_Function.AllocateRequestContext();
  }
  VOID FreeRequestContext(USBRequestContext* context) override {
    m_Function.FreeRequestContext(context);
  }
  USBD_HANDLE UsbdHandle() const override { return m_Function.UsbdHandle(); }
  PDEVICE_OBJECT TargetDevice() const override { return m_Function.TargetDevice(); }
  BOOLEAN IsHighSpeed() const override { return m_Function.IsHighSpeed(); }
  USHORT UsbVersion() const override { return m_Function.DeviceDescriptor().bcdUSB; }
  BOOLEAN QueryBusFrame(PULONG frame) const override {
    const USB_BUS_INTERFACE_USBDI_V1& bus = m_Function.BusInterface();
    if (bus.QueryBusTime == nullptr) return FALSE;
    bus.QueryBusTime(bus.BusContext, frame);
    return TRUE;
  }

 private:
  CUSBCL& m_Function;
};
