// CMiniportWaveRT: creation, identity, Init, streams, power and the processing modes.
#include "miniport_wavert.h"

#include "driver_pool.h"
#include "wavert_stream.h"
#include "wavert_trace_points.h"

namespace {

constexpr ULONG kMiniportTag = 0x72436350;  // "PcCr"
constexpr ULONG kPowerStateFirst = PowerDeviceD0;
constexpr ULONG kPowerStateLast = PowerDeviceD3;

}  // namespace

NTSTATUS CreateMiniportWaveRT(PUNKNOWN* Unknown, REFCLSID, PUNKNOWN UnknownOuter,
                              POOL_TYPE PoolType) {
  if (Unknown == nullptr) return STATUS_INVALID_PARAMETER;
  *Unknown = nullptr;
  auto* miniport = new (PoolType, kMiniportTag) CMiniportWaveRT(UnknownOuter);
  if (miniport == nullptr) {
    TRACE_POINT(kTraceMiniportInitFailed, 0u, STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  miniport->NonDelegatingAddRef();
  *Unknown = reinterpret_cast<PUNKNOWN>(static_cast<PNONDELEGATINGUNKNOWN>(miniport));
  return STATUS_SUCCESS;
}

CMiniportWaveRT::CMiniportWaveRT(PUNKNOWN outerUnknown) : CUnknown(outerUnknown) {}

CMiniportWaveRT::~CMiniportWaveRT() {
  ReleaseBindings();
}

VOID CMiniportWaveRT::ReleaseBindings() {
  if (m_Adapter != nullptr) {
    m_Adapter->UnregisterMiniport(this);
    m_Adapter->FreeFilterDescriptor(&m_Filter);
    m_Adapter->Release();
    m_Adapter = nullptr;
  }
  if (m_DrmPort != nullptr) {
    m_DrmPort->Release();
    m_DrmPort = nullptr;
  }
  if (m_Port != nullptr) {
    m_Port->Release();
    m_Port = nullptr;
  }
}

STDMETHODIMP CMiniportWaveRT::NonDelegatingQueryInterface(REFIID interfaceId, PVOID* object) {
  if (object == nullptr) return STATUS_INVALID_PARAMETER;
  *object = nullptr;
  if (interfaceId == IID_IUnknown || interfaceId == IID_IMiniport ||
      interfaceId == IID_IMiniportWaveRT || interfaceId == IID_IMiniportStreamControl) {
    *object = static_cast<IMiniportStreamControl*>(this);
  } else if (interfaceId == IID_IPowerNotify) {
    *object = static_cast<IPowerNotify*>(this);
  } else if (interfaceId == IID_IMiniportAudioSignalProcessing) {
    *object = static_cast<IMiniportAudioSignalProcessing*>(this);
  } else {
    return STATUS_INVALID_PARAMETER;
  }
  NonDelegatingAddRef();
  return STATUS_SUCCESS;
}

STDMETHODIMP CMiniportWaveRT::Init(PUNKNOWN UnknownAdapter, PRESOURCELIST, PPORTWAVERT Port) {
  m_Port = Port;
  if (m_Port != nullptr) m_Port->AddRef();
  PVOID adapter = nullptr;
  NTSTATUS status = UnknownAdapter != nullptr
                        ? UnknownAdapter->QueryInterface(IID_IUsbAudioAdapter, &adapter)
                        : STATUS_INVALID_PARAMETER;
  if (NT_SUCCESS(status)) {
    m_Adapter = static_cast<PUSBAUDIOADAPTER>(adapter);
    m_CaptureStream = m_RenderStream = nullptr;
    m_PowerState = PowerDeviceD0;
    status = m_Adapter->BuildFilterDescriptor(&m_Filter);
    if (NT_SUCCESS(status)) status = m_Adapter->GetFixedRate(&m_FixedRate);
    if (NT_SUCCESS(status)) status = m_Adapter->RegisterMiniport(this);
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceMiniportInitFailed, 1u, status);
    ReleaseBindings();
    return status;
  }
  PVOID drm = nullptr;
  if (m_Port != nullptr && NT_SUCCESS(m_Port->QueryInterface(IID_IDrmPort2, &drm)))
    m_DrmPort = static_cast<PDRMPORT2>(drm);
  m_Link.Register(m_Adapter);
  return STATUS_SUCCESS;
}

STDMETHODIMP CMiniportWaveRT::GetDescription(PPCFILTER_DESCRIPTOR* Description) {
  *Description = &m_Filter.Filter;
  return STATUS_SUCCESS;
}

STDMETHODIMP CMiniportWaveRT::GetDeviceDescription(PDEVICE_DESCRIPTION DeviceDescription) {
  if (DeviceDescription == nullptr) {
    TRACE_POINT(kTraceMiniportNoDeviceDescription);
    return STATUS_SUCCESS;
  }
  RtlZeroMemory(DeviceDescription, sizeof(DEVICE_DESCRIPTION));
  DeviceDescription->Master = TRUE;
  DeviceDescription->ScatterGather = TRUE;
  DeviceDescription->Dma32BitAddresses = TRUE;
  DeviceDescription->InterfaceType = PCIBus;
  DeviceDescription->MaximumLength = 0xFFFFFFFF;
  return STATUS_SUCCESS;
}

STDMETHODIMP CMiniportWaveRT::NewStream(PMINIPORTWAVERTSTREAM* Stream,
                                        PPORTWAVERTSTREAM PortStream, ULONG Pin, BOOLEAN Capture,
                                        PKSDATAFORMAT DataFormat) {
  if (Stream == nullptr) return STATUS_INVALID_PARAMETER;
  *Stream = nullptr;
  if (AcquireStream(Capture) != nullptr) {
    GuardOf(Capture).Release();
    TRACE_POINT(kTraceMiniportStreamRefused, 1u, Capture);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = m_Link.Open(Capture);
  if (!NT_SUCCESS(status)) return status;
  auto* stream = new (DriverPoolType(), kDriverPoolTag) CMiniportWaveRTStream(nullptr);
  if (stream == nullptr) {
    TRACE_POINT(kTraceMiniportStreamRefused, 2u, Capture);
    m_Link.Close(Capture);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  stream->NonDelegatingAddRef();
  status = stream->Init(this, PortStream, Pin, Capture, DataFormat);
  if (!NT_SUCCESS(status)) {
    stream->NonDelegatingRelease();
    return status;
  }
  Slot(Capture) = stream;
  GuardOf(Capture).Reopen();
  stream->NonDelegatingAddRef();
  *Stream = static_cast<IMiniportWaveRTStreamNotification*>(stream);
  stream->NonDelegatingRelease();
  return STATUS_SUCCESS;
}

CMiniportWaveRTStream* CMiniportWaveRT::AcquireStream(BOOLEAN capture) {
  RundownGuard& guard = GuardOf(capture);
  if (!guard.Acquire()) return nullptr;
  CMiniportWaveRTStream* stream = Slot(capture);
  if (stream == nullptr) guard.Release();
  return stream;
}

VOID CMiniportWaveRT::CloseSlot(BOOLEAN capture) {
  GuardOf(capture).Close();
  Slot(capture) = nullptr;
}

STDMETHODIMP_(void) CMiniportWaveRT::PowerChangeNotify(POWER_STATE PowerState) {
  const ULONG state = PowerState.DeviceState;
  if (state == m_PowerState) return;
  if (state < kPowerStateFirst || state > kPowerStateLast) {
    TRACE_POINT(kTraceMiniportPowerIgnored, state);
    return;
  }
  // Open streams keep running: the adapter restores the device on its return to D0.
  m_PowerState = state;
}

STDMETHODIMP CMiniportWaveRT::GetModes(ULONG Pin, GUID* SignalProcessingMode,
                                       ULONG* NumSignalProcessingModes) {
  if (m_Adapter == nullptr) return STATUS_INVALID_DEVICE_STATE;
  return m_Adapter->GetSignalProcessingModes(Pin, SignalProcessingMode, NumSignalProcessingModes);
}
