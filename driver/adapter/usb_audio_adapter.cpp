// UsbAudioAdapter: creation, interfaces, the miniport registration, the removal notice and
// destruction.
#include "usb_audio_adapter.h"

#include "adapter_trace_points.h"
#include "dispatch_context.h"
#include "usb_support.h"

UsbAudioAdapter::UsbAudioAdapter(PUNKNOWN outerUnknown) : CUnknown(outerUnknown) {}

NTSTATUS UsbAudioAdapter::Create(PUSBAUDIOADAPTER* adapter) {
  *adapter = nullptr;
  auto* object = new (DriverPoolType(), kDriverPoolTag) UsbAudioAdapter(nullptr);
  if (object == nullptr) {
    TRACE_POINT(kTraceAdapterAllocFailed);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  object->NonDelegatingAddRef();
  PVOID face = nullptr;
  NTSTATUS status = object->NonDelegatingQueryInterface(IID_IUsbAudioAdapter, &face);
  object->NonDelegatingRelease();
  if (NT_SUCCESS(status)) *adapter = static_cast<PUSBAUDIOADAPTER>(face);
  return status;
}

STDMETHODIMP UsbAudioAdapter::NonDelegatingQueryInterface(REFIID interfaceId, PVOID* object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  *object = nullptr;
  if (IsEqualGUID(interfaceId, IID_IUnknown) || IsEqualGUID(interfaceId, IID_IUsbAudioAdapter)) {
    *object = static_cast<IUsbAudioAdapter*>(this);
  } else if (IsEqualGUID(interfaceId, IID_IAdapterPowerManagement)) {
    *object = static_cast<IAdapterPowerManagement*>(this);
  } else if (IsEqualGUID(interfaceId, IID_IAdapterDsd) && m_NativeDsd != 0) {
    *object = static_cast<IAdapterDsd*>(this);
  } else {
    return STATUS_INVALID_PARAMETER;
  }
  NonDelegatingAddRef();
  return STATUS_SUCCESS;
}

UsbAudioAdapter::~UsbAudioAdapter() {
  if (m_Initialized) m_Engine.Shutdown();
  ForgetInDispatchContext();
  // The product string, the device model and the registry key follow as members, in that
  // order.
}

VOID UsbAudioAdapter::ForgetInDispatchContext() {
  if (m_DeviceObject == nullptr) return;
  DispatchContext* context = GetDispatchContext(m_DeviceObject);
  if (context->Adapter == static_cast<IUsbAudioAdapter*>(this)) context->Adapter = nullptr;
}

STDMETHODIMP UsbAudioAdapter::RegisterMiniport(PMINIPORTSTREAMCONTROL Miniport) {
  if (Miniport == nullptr) return STATUS_INVALID_PARAMETER;
  m_Engine.RegisterMiniport(Miniport);
  return STATUS_SUCCESS;
}

STDMETHODIMP UsbAudioAdapter::UnregisterMiniport(PMINIPORTSTREAMCONTROL Miniport) {
  m_Engine.UnregisterMiniport(Miniport);
  return STATUS_SUCCESS;
}

STDMETHODIMP UsbAudioAdapter::NotifyRemoval() {
  KeSetEvent(&m_RemovalEvent, IO_NO_INCREMENT, FALSE);
  return STATUS_SUCCESS;
}

STDMETHODIMP UsbAudioAdapter::GetPipeInfo(ULONG Direction, PDRMFORWARD Record) {
  return m_Model.GetStreamPipe(Direction, Record);
}
