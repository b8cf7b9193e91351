#include "portcls/pc_port_wavert.h"

#include <new>

#include "kernel_mode.h"
#include "portcls/pc_device_context.h"
#include "portcls/pc_pool_tags.h"
#include "portcls/pc_subdevice.h"
#include "portcls/pc_trace_points.h"

namespace tarnlink::portcls {

NTSTATUS CPortWaveRT::Create(PPORT* OutPort) {
  PVOID memory = ExAllocatePoolZero(NonPagedPoolNx, sizeof(CPortWaveRT), kPortTag);
  if (memory == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  *OutPort = static_cast<IPortWaveRT*>(new (memory) CPortWaveRT());
  return STATUS_SUCCESS;
}

CPortWaveRT* CPortWaveRT::FromUnknown(PUNKNOWN Unknown) {
  if (Unknown == nullptr) return nullptr;
  PVOID port = nullptr;
  if (!NT_SUCCESS(Unknown->QueryInterface(IID_IFrameworkPort, &port))) return nullptr;
  return static_cast<CPortWaveRT*>(port);
}

STDMETHODIMP CPortWaveRT::QueryInterface(REFIID InterfaceId, PVOID* Interface) {
  if (Interface == nullptr) return STATUS_INVALID_PARAMETER;
  if (InterfaceId == IID_IUnknown || InterfaceId == IID_IPort || InterfaceId == IID_IPortWaveRT) {
    *Interface = static_cast<IPortWaveRT*>(this);
  } else if (InterfaceId == IID_IUnregisterSubdevice) {
    *Interface = static_cast<IUnregisterSubdevice*>(this);
  } else if (InterfaceId == IID_IDrmPort2) {
    *Interface = static_cast<IDrmPort2*>(this);
  } else if (InterfaceId == IID_IFrameworkPort) {
    *Interface = this;
  } else {
    *Interface = nullptr;
    return STATUS_INVALID_PARAMETER;
  }
  AddRef();
  return STATUS_SUCCESS;
}

STDMETHODIMP_(ULONG) CPortWaveRT::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

STDMETHODIMP_(ULONG) CPortWaveRT::Release() {
  LONG left = InterlockedDecrement(&references_);
  if (left == 0) {
    ReleaseChildren();
    this->~CPortWaveRT();
    ExFreePoolWithTag(this, kPortTag);
  }
  return static_cast<ULONG>(left);
}

STDMETHODIMP CPortWaveRT::Init(PDEVICE_OBJECT DeviceObject, PIRP Irp, PUNKNOWN UnknownMiniport,
                               PUNKNOWN UnknownAdapter, PRESOURCELIST ResourceList) {
  UNREFERENCED_PARAMETER(Irp);
  if (device_ != nullptr) {
    TRACE_POINT(kTracePcPortInitRefused, 1u);
    return STATUS_INVALID_DEVICE_STATE;
  }
  if (ContextOf(DeviceObject) == nullptr || UnknownMiniport == nullptr) {
    TRACE_POINT(kTracePcPortInitRefused, 2u);
    return STATUS_INVALID_PARAMETER;
  }
  PVOID miniport = nullptr;
  if (!NT_SUCCESS(UnknownMiniport->QueryInterface(IID_IMiniportWaveRT, &miniport))) {
    TRACE_POINT(kTracePcPortInitRefused, 3u);
    return STATUS_INVALID_PARAMETER;
  }
  auto* waveRt = static_cast<PMINIPORTWAVERT>(miniport);
  NTSTATUS status = waveRt->Init(UnknownAdapter, ResourceList, this);
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTracePcPortInitFailed, status);
    waveRt->Release();
    return status;
  }
  miniport_ = waveRt;
  device_ = DeviceObject;
  return STATUS_SUCCESS;
}

STDMETHODIMP CPortWaveRT::GetDeviceProperty(DEVICE_REGISTRY_PROPERTY, ULONG, PVOID, PULONG) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CPortWaveRT::NewRegistryKey(PREGISTRYKEY*, PUNKNOWN, ULONG, ACCESS_MASK,
                                         POBJECT_ATTRIBUTES, ULONG, PULONG) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CPortWaveRT::UnregisterSubdevice(PDEVICE_OBJECT DeviceObject, PUNKNOWN Unknown) {
  CPortWaveRT* port = FromUnknown(Unknown);
  if (port == nullptr) {
    TRACE_POINT(kTracePcUnregisterRefused, 1u);
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status = RemoveSubdevice(ContextOf(DeviceObject), port);
  port->Release();
  return status;
}

STDMETHODIMP CPortWaveRT::CreateContentMixed(PULONG, ULONG, PULONG) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CPortWaveRT::DestroyContent(ULONG) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CPortWaveRT::ForwardContentToFileObject(ULONG, PFILE_OBJECT) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CPortWaveRT::ForwardContentToInterface(ULONG, PUNKNOWN, ULONG) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CPortWaveRT::GetContentRights(ULONG, PDRMRIGHTS) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CPortWaveRT::AddContentHandlers(ULONG, PVOID*, ULONG) {
  return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP CPortWaveRT::ForwardContentToDeviceObject(ULONG, PVOID, PCDRMFORWARD DrmForward) {
  if (DrmForward == nullptr || DrmForward->DeviceObject == nullptr) return STATUS_INVALID_PARAMETER;
  return STATUS_SUCCESS;
}

void CPortWaveRT::ReleaseChildren() {
  PMINIPORTWAVERT miniport = miniport_;
  miniport_ = nullptr;
  device_ = nullptr;
  if (miniport != nullptr) miniport->Release();
}

}  // namespace tarnlink::portcls

NTSTATUS PcNewPort(PPORT* OutPort, REFCLSID ClassId) {
  using namespace tarnlink::portcls;
  if (OutPort == nullptr) {
    TRACE_POINT(kTracePcNewPortRefused, 1u);
    return STATUS_INVALID_PARAMETER;
  }
  *OutPort = nullptr;
  if (ClassId != CLSID_PortWaveRT) {
    TRACE_POINT(kTracePcNewPortRefused, 2u);
    return STATUS_NOT_SUPPORTED;
  }
  return CPortWaveRT::Create(OutPort);
}
