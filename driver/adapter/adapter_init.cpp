// UsbAudioAdapter::Init: the device model, the controller workaround, the product string,
// native DSD, the transfer settings and the fixed rate, in the order the steps depend on.
#include "adapter_trace_points.h"
#include "device_settings.h"
#include "driver_settings.h"
#include "transfer_settings.h"
#include "usb_audio_adapter.h"
#include "usb_support.h"

namespace {

// The IRPs the USB function keeps for its asynchronous transfers.
constexpr ULONG kFunctionIrpCount = 16;

constexpr ULONG kPciVendorAmd = 0x1022;
constexpr ULONG kPciVendorAti = 0x1002;

// Both directions through one AMD OHCI or ATI controller lose packets with short transfers.
constexpr ULONG kAmdPlaybackTransferMs = 2;
constexpr ULONG kAmdPlaybackTransfersInFlight = 3;
// Longer playback transfers would keep a playback-only device's OS stream waiting.
constexpr ULONG kPlaybackOnlyMaxTransferMs = 4;

constexpr ULONG kDefaultFixedRate = 44100;

NTSTATUS Failed(ULONG step, NTSTATUS status) {
  TRACE_POINT(kTraceInitStepFailed, step, status);
  return status;
}

// A rate the model refuses as one the device lacks (1.0 settings answer
// STATUS_INVALID_PARAMETER, a 2.0 clock STATUS_NOT_SUPPORTED), rather than one it could not ask.
BOOLEAN RateRefused(NTSTATUS status) {
  return status == STATUS_INVALID_PARAMETER || status == STATUS_NOT_SUPPORTED;
}

}  // namespace

STDMETHODIMP UsbAudioAdapter::Init(PDEVICE_OBJECT PhysicalDeviceObject,
                                   PDEVICE_OBJECT DeviceObject) {
  m_PhysicalDeviceObject = PhysicalDeviceObject;
  m_DeviceObject = DeviceObject;
  m_PowerState = PowerDeviceD0;
  InitializeDirectionState();
  m_RequestGuard.Reopen();

  NTSTATUS status = m_RegistryKey.Open(PhysicalDeviceObject);
  if (!NT_SUCCESS(status)) return Failed(2, status);

  status = m_Model.Initialize(PhysicalDeviceObject, DeviceObject, kFunctionIrpCount);
  if (!NT_SUCCESS(status)) return Failed(3, status);
  DecideAmdWorkaround();

  status = m_Model.Configure();
  if (!NT_SUCCESS(status)) return Failed(4, status);

  status = ReadProductString();
  if (!NT_SUCCESS(status)) return Failed(5, status);

  status = DecideNativeDsd();
  if (!NT_SUCCESS(status)) return Failed(6, status);
  ReadDumpCapture();
  ApplyDirectionSettings();

  status = ChooseFixedRate();
  if (!NT_SUCCESS(status)) return Failed(9, status);

  status = InitializeStreamObjects();
  if (!NT_SUCCESS(status)) return Failed(10, status);
  return STATUS_SUCCESS;
}

VOID UsbAudioAdapter::InitializeDirectionState() {
  m_Engine.InitializeObjects();
  m_AsioOwner = 0;
  KeInitializeEvent(&m_RemovalEvent, NotificationEvent, FALSE);
  m_Initialized = TRUE;
}

VOID UsbAudioAdapter::DecideAmdWorkaround() {
  ULONG forced = 0;
  NTSTATUS status = ReadDwordSetting(m_RegistryKey, kForceAmdChipsetValue, &forced);
  if (!NT_SUCCESS(status) && status != STATUS_OBJECT_NAME_NOT_FOUND) {
    TRACE_POINT(kTraceSettingReadFailed, 3u, status);
  }
  BOOLEAN amdChipset = FALSE;
  USB_CONTROLLER_INFO_0 info = {};
  status = m_Model.GetHostControllerInfo(&info);
  if (NT_SUCCESS(status)) {
    amdChipset = (info.PciVendorId == kPciVendorAmd && info.ControllerFlavor == OHCI_Generic) ||
                 info.PciVendorId == kPciVendorAti;
  } else {
    TRACE_POINT(kTraceControllerInfoSkipped, status);
  }
  const BOOLEAN bothDirections =
      m_Model.PlaybackInterface() != nullptr && m_Model.CaptureInterface() != nullptr;
  m_AmdWorkaround = (forced != 0 || amdChipset) && bothDirections;
  TRACE_POINT(kTraceAmdWorkaround, m_AmdWorkaround, forced, info.PciVendorId,
              static_cast<ULONG>(info.ControllerFlavor));
}

NTSTATUS UsbAudioAdapter::ReadProductString() {
  NTSTATUS status =
      m_Model.GetStringDescriptor(m_Model.DeviceDescriptor().iProduct, 0, &m_ProductString);
  // A device without a product string (or without languages) simply has none.
  return status == STATUS_INVALID_DEVICE_REQUEST ? STATUS_SUCCESS : status;
}

NTSTATUS UsbAudioAdapter::DecideNativeDsd() {
  ULONG value = 0;
  NTSTATUS status = ReadDwordSetting(m_RegistryKey, kDsdNativeModeValue, &value);
  // A value that is there but could not be read may be the one that turns a device's broken DSD
  // off: probing instead would turn it back on.
  if (!NT_SUCCESS(status) && status != STATUS_OBJECT_NAME_NOT_FOUND) return status;
  m_NativeDsdFromRegistry = NT_SUCCESS(status);
  if (m_NativeDsdFromRegistry) {
    m_NativeDsd = value != 0 ? 1 : 0;
  } else {
    // A device that takes the request to play PCM knows the stream kinds. A request that could
    // not be sent asked nothing: deciding "no DSD" from it would lose the device's DSD for good.
    status = m_Model.SendStreamKind(kStreamKindPcm);
    if (status == STATUS_INSUFFICIENT_RESOURCES) return status;
    m_NativeDsd = NT_SUCCESS(status) ? 1 : 0;
  }
  TRACE_POINT(kTraceNativeDsd, m_NativeDsd, m_NativeDsdFromRegistry);
  return STATUS_SUCCESS;
}

VOID UsbAudioAdapter::ReadDumpCapture() {
  ReadDwordSetting(m_RegistryKey, kDumpCaptureValue, &g_TransferSettings.DumpCapture);
}

VOID UsbAudioAdapter::ApplyDirectionSettings() {
  const BOOLEAN playback = m_Model.PlaybackInterface() != nullptr;
  const BOOLEAN capture = m_Model.CaptureInterface() != nullptr;
  if (playback && capture) {
    m_PlaybackOnly = FALSE;
    if (m_AmdWorkaround) {
      g_TransferSettings.PlaybackTransferMs = kAmdPlaybackTransferMs;
      g_TransferSettings.PlaybackTransfersInFlight = kAmdPlaybackTransfersInFlight;
    }
  } else if (playback) {
    m_PlaybackOnly = TRUE;
    if (g_TransferSettings.PlaybackTransferMs > kPlaybackOnlyMaxTransferMs)
      g_TransferSettings.PlaybackTransferMs = kPlaybackOnlyMaxTransferMs;
  }
}

NTSTATUS UsbAudioAdapter::ChooseFixedRate() {
  m_Engine.SetInitialFixedRate(0);
  if (m_PlaybackOnly) return STATUS_SUCCESS;

  ULONG rate = 0;
  NTSTATUS status = ReadDwordSetting(m_RegistryKey, kSampleRateValue, &rate);
  BOOLEAN writeBack = FALSE;
  if (status == STATUS_OBJECT_NAME_NOT_FOUND) {
    rate = kDefaultFixedRate;
    writeBack = TRUE;
  } else if (!NT_SUCCESS(status)) {
    return status;
  }
  status = m_Model.IsRateSupported(rate);
  if (RateRefused(status)) {
    rate = LowestDeviceRate();
    writeBack = TRUE;
  } else if (!NT_SUCCESS(status)) {
    return status;
  }
  if (writeBack) WriteDwordSetting(m_RegistryKey, kSampleRateValue, rate);
  m_Engine.SetInitialFixedRate(rate);
  status = m_Model.SetDeviceSampleRate(rate);
  if (!NT_SUCCESS(status)) TRACE_POINT(kTraceSetDeviceRateFailed, rate, status);
  TRACE_POINT(kTraceFixedRate, rate, writeBack);
  return STATUS_SUCCESS;
}

ULONG UsbAudioAdapter::LowestDeviceRate() {
  ULONG minimum = 0;
  ULONG maximum = 0;
  NTSTATUS status = GetRateRange(&minimum, &maximum);
  if (!NT_SUCCESS(status) || minimum == 0 || minimum > maximum) return kDefaultFixedRate;
  return minimum;
}

NTSTATUS UsbAudioAdapter::InitializeStreamObjects() {
  KeInitializeMutex(&m_ControlMutex, 0);
  EngineDevice device = {};
  device.Model = &m_Model;
  device.DeviceObject = m_DeviceObject;
  device.RemovalEvent = &m_RemovalEvent;
  device.PlaybackOnly = m_PlaybackOnly;
  device.AmdWorkaround = m_AmdWorkaround;
  device.NativeDsd = m_NativeDsd;
  m_AsioStream.Initialize(&m_Engine);
  return m_Engine.Start(device);
}
