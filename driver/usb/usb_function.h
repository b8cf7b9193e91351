// CUSBCL: the driver's generic USB function. It owns everything the driver knows from and sends
// to the USB stack below the device (descriptors, configuration, pipes, synchronous requests,
// the IRP pool and request contexts of the asynchronous transfers) and knows nothing of audio;
// the audio model derives from it.
//
// Everything from the device is untrusted: each descriptor read is checked against the length
// actually received, and the copies it keeps are only ever walked within those lengths.
#pragma once

#include "kernel_mode.h"
#include "usb_request_context.h"
#include "usb_string_descriptor.h"

class CUSBCL {
 public:
  CUSBCL();
  virtual ~CUSBCL();
  CUSBCL(const CUSBCL&) = delete;
  CUSBCL& operator=(const CUSBCL&) = delete;

  // At device start: records the device the requests go to, fills the IRP pool
  // (irpCount IRPs, 10 when 0), opens the USBD client handle for functionDevice, queries the bus
  // interface and the speed, and reads the device descriptor, the whole configuration
  // descriptor and the language list. Descriptor lengths that differ from what was asked for
  // fail with STATUS_NOT_SUPPORTED; any failure closes the USBD handle again.
  _IRQL_requires_(PASSIVE_LEVEL) _Must_inspect_result_ NTSTATUS
      StartFunction(_In_ PDEVICE_OBJECT targetDevice, _In_ PDEVICE_OBJECT functionDevice,
                    ULONG irpCount);

  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS GetBusInterface();
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS QueryHighSpeed();

  // Alternate setting 0 of every interface of the configuration, in the order found, as a
  // null-terminated list for ConfigurationRequest; *count is the number of entries. The caller
  // frees the list with FreeDriverPool. Null when the configuration has no interface or memory
  // is short.
  _IRQL_requires_max_(DISPATCH_LEVEL) _Ret_maybenull_ PUSBD_INTERFACE_LIST_ENTRY
      CreateInterfaceList(_Out_opt_ PLONG count);
  // Selects the configuration with the list's interfaces and keeps the interface and pipe
  // information the stack returns.
  _IRQL_requires_(PASSIVE_LEVEL) _Must_inspect_result_ NTSTATUS
      ConfigurationRequest(_Inout_ PUSBD_INTERFACE_LIST_ENTRY list, LONG count);
  // Selects an alternate setting of a configured interface and replaces its table entry.
  _IRQL_requires_(PASSIVE_LEVEL) _Must_inspect_result_ NTSTATUS
      SelectAlternate(UCHAR interfaceNumber, UCHAR alternateSetting);
  // The pipe of the current settings with this endpoint address, or null. The pointer stays
  // valid until the next SelectAlternate of its interface.
  _IRQL_requires_(PASSIVE_LEVEL) _Ret_maybenull_ PUSBD_PIPE_INFORMATION
      FindPipe(UCHAR endpointAddress);

  // Sends one URB to the device and waits; the request's NTSTATUS.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS SubmitUrbSync(_Inout_ PURB urb);
  // A class or vendor request on the default pipe. Standard requests go through the dedicated
  // URB functions and are refused here, as are reserved types and recipients. *transferred (when
  // given) receives the data-stage bytes moved.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
      ControlRequest(UCHAR bmRequestType, UCHAR bRequest, USHORT wValue, USHORT wIndex,
                     USHORT wLength, _Inout_updates_bytes_opt_(wLength) PVOID buffer,
                     _Out_opt_ PULONG transferred = nullptr);

  // languageId 0 is the first language the device lists.
  _IRQL_requires_(PASSIVE_LEVEL) _Must_inspect_result_ NTSTATUS
      GetStringDescriptor(UCHAR index, USHORT languageId, _Out_ USBStringDescriptor* record);
  _IRQL_requires_(PASSIVE_LEVEL) _Must_inspect_result_ NTSTATUS
      GetSerialNumberString(_Out_ USBStringDescriptor* record, USHORT languageId);

  // They wait, so above PASSIVE_LEVEL they are refused (traced) rather than sent.
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS AbortPipe(_In_opt_ PUSBD_PIPE_INFORMATION pipe);
  _IRQL_requires_max_(DISPATCH_LEVEL) NTSTATUS ResetPipe(_In_opt_ PUSBD_PIPE_INFORMATION pipe);

  // The PCI identity of the host controller the device hangs off.
  _IRQL_requires_(PASSIVE_LEVEL) _Must_inspect_result_ NTSTATUS
      GetHostControllerInfo(_Out_ PUSB_CONTROLLER_INFO_0 info);

  // An IRP for one asynchronous request: from the pool when it has one, else a fresh one. Null
  // only when memory is short.
  _IRQL_requires_max_(DISPATCH_LEVEL) _Ret_maybenull_ PIRP GetIrp();
  // Puts an IRP back at the tail of the pool (completion routines).
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID ReturnIrp(_In_ PIRP irp);

  // Request contexts of the asynchronous transfers (zero-filled), and their return.
  _IRQL_requires_max_(DISPATCH_LEVEL) _Ret_maybenull_ USBRequestContext* AllocateRequestContext();
  _IRQL_requires_max_(DISPATCH_LEVEL) VOID FreeRequestContext(_In_ USBRequestContext* context);

  USBD_HANDLE UsbdHandle() const { return m_UsbdHandle; }
  BOOLEAN IsHighSpeed() const { return m_HighSpeed != 0; }
  const USB_DEVICE_DESCRIPTOR& DeviceDescriptor() const { return m_DeviceDescriptor; }
  PDEVICE_OBJECT TargetDevice() const { return m_TargetDevice; }
  // The configuration copy: exactly wTotalLength bytes, as its header says.
  PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor() const {
    return m_ConfigurationDescriptor;
  }
  ULONG RemoteWakeup() const { return m_RemoteWakeup; }
  USBD_CONFIGURATION_HANDLE ConfigurationHandle() const { return m_ConfigurationHandle; }
  const USB_BUS_INTERFACE_USBDI_V1& BusInterface() const { return m_BusInterface; }
  LONG InterfaceCount() const { return m_InterfaceCount; }
  // LANGIDs the device lists.
  ULONG LanguageCount() const;

 private:
  NTSTATUS QueryBusInterface(PUSB_BUS_INTERFACE_USBDI_V1 busInterface);
  // GET_DESCRIPTOR from the device into buffer; *received is the bytes it actually sent and
  // *usbd, when given, the request's USBD status.
  NTSTATUS ReadDescriptor(UCHAR type, UCHAR index, USHORT languageId, PVOID buffer, ULONG length,
                          PULONG received, USBD_STATUS* usbd = nullptr);
  NTSTATUS ReadDeviceDescriptor();
  NTSTATUS ReadConfigurationDescriptor();
  NTSTATUS ReadLanguageList();
  BOOLEAN ListsLanguage(USHORT languageId) const;
  NTSTATUS SubmitPipeRequest(USHORT function, PUSBD_PIPE_INFORMATION pipe);
  VOID FillIrpPool(ULONG count);
  // Frees the table with its copies; the table mutex must be held.
  VOID FreeInterfaceTable();
  VOID ReleaseStartResources();

 protected:
  USBD_HANDLE m_UsbdHandle = nullptr;
  UCHAR m_HighSpeed = 0;
  USB_DEVICE_DESCRIPTOR m_DeviceDescriptor = {};
  PDEVICE_OBJECT m_TargetDevice = nullptr;
  PUSB_CONFIGURATION_DESCRIPTOR m_ConfigurationDescriptor = nullptr;
  ULONG m_RemoteWakeup = 0;
  USBD_CONFIGURATION_HANDLE m_ConfigurationHandle = nullptr;
  LONG m_InterfaceCount = 0;
  PUSBD_INTERFACE_INFORMATION* m_InterfaceTable = nullptr;
  KMUTEX m_TableMutex;
  // String descriptor 0 as received; m_LanguageListBytes bounds every look at it.
  PUCHAR m_LanguageList = nullptr;
  ULONG m_LanguageListBytes = 0;
  USB_BUS_INTERFACE_USBDI_V1 m_BusInterface = {};
  LOOKASIDE_LIST_EX m_RequestContexts = {};
  BOOLEAN m_RequestContextsReady = FALSE;
  LIST_ENTRY m_IrpFreeList;
  KSPIN_LOCK m_IrpFreeListLock;
};
