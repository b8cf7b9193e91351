// The Port Class framework as an adapter driver sees it: the adapter set-up calls, the WaveRT
// port, subdevice registration, adapter power management and the request dispatcher, with the
// framework's names, slot orders and values.
#pragma once

#include "kernel/device_object.h"
#include "kernel/io_power.h"
#include "kernel/ke_types.h"
#include "kernel/mm_mdl.h"
#include "kernel/pnp_types.h"
#include "ks/ksmedia.h"
#include "portcls/drmk.h"
#include "portcls/pc_descriptors.h"
#include "portcls/unknown.h"

struct _CM_PARTIAL_RESOURCE_DESCRIPTOR;
typedef struct _CM_PARTIAL_RESOURCE_DESCRIPTOR* PCM_PARTIAL_RESOURCE_DESCRIPTOR;
typedef UCHAR CM_RESOURCE_TYPE;
struct IRegistryKey;
typedef IRegistryKey* PREGISTRYKEY;
struct IMiniportWaveRTStream;
typedef IMiniportWaveRTStream* PMINIPORTWAVERTSTREAM;
struct IPortWaveRTStream;
typedef IPortWaveRTStream* PPORTWAVERTSTREAM;

typedef enum _DEVICE_REGISTRY_PROPERTY {
  DevicePropertyDeviceDescription = 0,
  DevicePropertyHardwareID = 1,
  DevicePropertyCompatibleIDs = 2,
  DevicePropertyBootConfiguration = 3,
  DevicePropertyBootConfigurationTranslated = 4,
  DevicePropertyClassName = 5,
  DevicePropertyClassGuid = 6,
  DevicePropertyDriverKeyName = 7,
  DevicePropertyManufacturer = 8,
  DevicePropertyFriendlyName = 9,
} DEVICE_REGISTRY_PROPERTY;

typedef enum {
  GeneralRegistryKey,
  DeviceRegistryKey,
  DriverRegistryKey,
  HwProfileRegistryKey,
  DeviceInterfaceRegistryKey
} REGISTRY_KEY_TYPE;

// The framework keeps its own data in the first part of the device extension; the adapter
// driver's part starts right after it.
#define PORT_CLASS_DEVICE_EXTENSION_SIZE (64 * sizeof(ULONG_PTR))

// {22C6AC60-851B-11D0-9A7F-00AA0038ACFE}
inline constexpr GUID IID_IResourceList = {
    0x22C6AC60, 0x851B, 0x11D0, {0x9A, 0x7F, 0x00, 0xAA, 0x00, 0x38, 0xAC, 0xFE}};
// {B4C90A25-5791-11D0-86F9-00A0C911B544}
inline constexpr GUID IID_IPort = {
    0xB4C90A25, 0x5791, 0x11D0, {0x86, 0xF9, 0x00, 0xA0, 0xC9, 0x11, 0xB5, 0x44}};
// {339FF909-68A9-4310-B09B-274E96EE4CBD}
inline constexpr GUID IID_IPortWaveRT = {
    0x339FF909, 0x68A9, 0x4310, {0xB0, 0x9B, 0x27, 0x4E, 0x96, 0xEE, 0x4C, 0xBD}};
// {B4C90A24-5791-11D0-86F9-00A0C911B544}
inline constexpr GUID IID_IMiniport = {
    0xB4C90A24, 0x5791, 0x11D0, {0x86, 0xF9, 0x00, 0xA0, 0xC9, 0x11, 0xB5, 0x44}};
// {0F9FC4D6-6061-4F3C-B1FC-075E35F7960A}
inline constexpr GUID IID_IMiniportWaveRT = {
    0x0F9FC4D6, 0x6061, 0x4F3C, {0xB1, 0xFC, 0x07, 0x5E, 0x35, 0xF7, 0x96, 0x0A}};
// {16738177-E199-41F9-9A87-ABB2A5432F21}
inline constexpr GUID IID_IUnregisterSubdevice = {
    0x16738177, 0xE199, 0x41F9, {0x9A, 0x87, 0xAB, 0xB2, 0xA5, 0x43, 0x2F, 0x21}};
// {793417D0-35FE-11D1-AD08-00A0C90AB1B0}
inline constexpr GUID IID_IAdapterPowerManagement = {
    0x793417D0, 0x35FE, 0x11D1, {0xAD, 0x08, 0x00, 0xA0, 0xC9, 0x0A, 0xB1, 0xB0}};
// {CC9BE57A-EB9E-42B4-94FC-0CAD3DBCE7FA}
inline constexpr GUID CLSID_PortWaveRT = {
    0xCC9BE57A, 0xEB9E, 0x42B4, {0x94, 0xFC, 0x0C, 0xAD, 0x3D, 0xBC, 0xE7, 0xFA}};
// {6994AD04-93EF-11D0-A3CC-00A0C9223196}: the interface class of every audio filter.
inline constexpr GUID KSCATEGORY_AUDIO = {
    0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

struct IResourceList : IUnknown {
  STDMETHOD_(ULONG, NumberOfEntries)() PURE;
  STDMETHOD_(ULONG, NumberOfEntriesOfType)(CM_RESOURCE_TYPE Type) PURE;
  STDMETHOD_(PCM_PARTIAL_RESOURCE_DESCRIPTOR, FindTranslatedEntry)
  (CM_RESOURCE_TYPE Type, ULONG Index) PURE;
  STDMETHOD_(PCM_PARTIAL_RESOURCE_DESCRIPTOR, FindUntranslatedEntry)
  (CM_RESOURCE_TYPE Type, ULONG Index) PURE;
  STDMETHOD(AddEntry)
  (PCM_PARTIAL_RESOURCE_DESCRIPTOR Translated, PCM_PARTIAL_RESOURCE_DESCRIPTOR Untranslated) PURE;
  STDMETHOD(AddEntryFromParent)(IResourceList* Parent, CM_RESOURCE_TYPE Type, ULONG Index) PURE;
  STDMETHOD_(PCM_RESOURCE_LIST, TranslatedList)() PURE;
  STDMETHOD_(PCM_RESOURCE_LIST, UntranslatedList)() PURE;

 protected:
  ~IResourceList() = default;
};
typedef IResourceList* PRESOURCELIST;

struct IPort : IUnknown {
  STDMETHOD(Init)
  (PDEVICE_OBJECT DeviceObject, PIRP Irp, PUNKNOWN UnknownMiniport, PUNKNOWN UnknownAdapter,
   PRESOURCELIST ResourceList) PURE;
  STDMETHOD(GetDeviceProperty)
  (DEVICE_REGISTRY_PROPERTY DeviceProperty, ULONG BufferLength, PVOID PropertyBuffer,
   PULONG ResultLength) PURE;
  STDMETHOD(NewRegistryKey)
  (PREGISTRYKEY* OutRegistryKey, PUNKNOWN OuterUnknown, ULONG RegistryKeyType,
   ACCESS_MASK DesiredAccess, POBJECT_ATTRIBUTES ObjectAttributes, ULONG CreateOptions,
   PULONG Disposition) PURE;

 protected:
  ~IPort() = default;
};
typedef IPort* PPORT;

struct IPortWaveRT : IPort {
 protected:
  ~IPortWaveRT() = default;
};
typedef IPortWaveRT* PPORTWAVERT;

struct IMiniport : IUnknown {
  STDMETHOD(GetDescription)(PPCFILTER_DESCRIPTOR* Description) PURE;
  STDMETHOD(DataRangeIntersection)
  (ULONG PinId, PKSDATARANGE DataRange, PKSDATARANGE MatchingDataRange, ULONG OutputBufferLength,
   PVOID ResultantFormat, PULONG ResultantFormatLength) PURE;

 protected:
  ~IMiniport() = default;
};
typedef IMiniport* PMINIPORT;

struct IMiniportWaveRT : IMiniport {
  STDMETHOD(Init)(PUNKNOWN UnknownAdapter, PRESOURCELIST ResourceList, PPORTWAVERT Port) PURE;
  STDMETHOD(NewStream)
  (PMINIPORTWAVERTSTREAM* Stream, PPORTWAVERTSTREAM PortStream, ULONG Pin, BOOLEAN Capture,
   PKSDATAFORMAT DataFormat) PURE;
  STDMETHOD(GetDeviceDescription)(PDEVICE_DESCRIPTION DeviceDescription) PURE;

 protected:
  ~IMiniportWaveRT() = default;
};
typedef IMiniportWaveRT* PMINIPORTWAVERT;

// {1809CE5A-64BC-4E62-BD7D-95BCE43DE393}
inline constexpr GUID IID_IPortWaveRTStream = {
    0x1809CE5A, 0x64BC, 0x4E62, {0xBD, 0x7D, 0x95, 0xBC, 0xE4, 0x3D, 0xE3, 0x93}};
// {000AC9AB-FAAB-4F3D-9455-6FF8306A74A0}
inline constexpr GUID IID_IMiniportWaveRTStream = {
    0x000AC9AB, 0xFAAB, 0x4F3D, {0x94, 0x55, 0x6F, 0xF8, 0x30, 0x6A, 0x74, 0xA0}};
// {23759128-96F1-423B-AB4D-81635BCF8CA1}
inline constexpr GUID IID_IMiniportWaveRTStreamNotification = {
    0x23759128, 0x96F1, 0x423B, {0xAB, 0x4D, 0x81, 0x63, 0x5B, 0xCF, 0x8C, 0xA1}};
// {3DD648B8-969F-11D1-95A9-00C04FB925D3}
inline constexpr GUID IID_IPowerNotify = {
    0x3DD648B8, 0x969F, 0x11D1, {0x95, 0xA9, 0x00, 0xC0, 0x4F, 0xB9, 0x25, 0xD3}};
// {B532678C-BE50-472D-9973-8A6F16594989}
inline constexpr GUID IID_IMiniportAudioSignalProcessing = {
    0xB532678C, 0xBE50, 0x472D, {0x99, 0x73, 0x8A, 0x6F, 0x16, 0x59, 0x49, 0x89}};

// Pages for a cyclic buffer, given by the port to a stream, and their mapping.
struct IPortWaveRTStream : IUnknown {
  STDMETHOD_(PMDL, AllocatePagesForMdl)(PHYSICAL_ADDRESS HighAddress, SIZE_T TotalBytes) PURE;
  STDMETHOD_(PMDL, AllocateContiguousPagesForMdl)
  (PHYSICAL_ADDRESS LowAddress, PHYSICAL_ADDRESS HighAddress, SIZE_T TotalBytes) PURE;
  STDMETHOD_(PVOID, MapAllocatedPages)(PMDL MemoryDescriptorList, MEMORY_CACHING_TYPE CacheType) PURE;
  STDMETHOD_(VOID, UnmapAllocatedPages)(PVOID BaseAddress, PMDL MemoryDescriptorList) PURE;
  STDMETHOD_(VOID, FreePagesFromMdl)(PMDL MemoryDescriptorList) PURE;
  STDMETHOD_(ULONG, GetPhysicalPagesCount)(PMDL MemoryDescriptorList) PURE;
  STDMETHOD_(PHYSICAL_ADDRESS, GetPhysicalPageAddress)(PMDL MemoryDescriptorList, ULONG Index) PURE;

 protected:
  ~IPortWaveRTStream() = default;
};

typedef struct {
  PVOID Register;
  ULONG Width;
  ULONGLONG Numerator;
  ULONGLONG Denominator;
  ULONG Accuracy;
} KSRTAUDIO_HWREGISTER, *PKSRTAUDIO_HWREGISTER;

struct IMiniportWaveRTStream : IUnknown {
  STDMETHOD(SetFormat)(PKSDATAFORMAT DataFormat) PURE;
  STDMETHOD(SetState)(KSSTATE State) PURE;
  STDMETHOD(GetPosition)(PKSAUDIO_POSITION Position) PURE;
  STDMETHOD(AllocateAudioBuffer)
  (ULONG RequestedSize, PMDL* AudioBufferMdl, ULONG* ActualSize, ULONG* OffsetFromFirstPage,
   MEMORY_CACHING_TYPE* CacheType) PURE;
  STDMETHOD_(VOID, FreeAudioBuffer)(PMDL AudioBufferMdl, ULONG BufferSize) PURE;
  STDMETHOD_(VOID, GetHWLatency)(PKSRTAUDIO_HWLATENCY HwLatency) PURE;
  STDMETHOD(GetPositionRegister)(PKSRTAUDIO_HWREGISTER Register) PURE;
  STDMETHOD(GetClockRegister)(PKSRTAUDIO_HWREGISTER Register) PURE;

 protected:
  ~IMiniportWaveRTStream() = default;
};

struct IMiniportWaveRTStreamNotification : IMiniportWaveRTStream {
  STDMETHOD(AllocateBufferWithNotification)
  (ULONG NotificationCount, ULONG RequestedSize, PMDL* AudioBufferMdl, ULONG* ActualSize,
   ULONG* OffsetFromFirstPage, MEMORY_CACHING_TYPE* CacheType) PURE;
  STDMETHOD_(VOID, FreeBufferWithNotification)(PMDL AudioBufferMdl, ULONG BufferSize) PURE;
  STDMETHOD(RegisterNotificationEvent)(PKEVENT NotificationEvent) PURE;
  STDMETHOD(UnregisterNotificationEvent)(PKEVENT NotificationEvent) PURE;

 protected:
  ~IMiniportWaveRTStreamNotification() = default;
};
typedef IMiniportWaveRTStreamNotification* PMINIPORTWAVERTSTREAMNOTIFICATION;

struct IPowerNotify : IUnknown {
  STDMETHOD_(void, PowerChangeNotify)(POWER_STATE PowerState) PURE;

 protected:
  ~IPowerNotify() = default;
};

struct IMiniportAudioSignalProcessing : IUnknown {
  STDMETHOD(GetModes)(ULONG Pin, GUID* SignalProcessingMode, ULONG* NumSignalProcessingModes) PURE;

 protected:
  ~IMiniportAudioSignalProcessing() = default;
};

struct IUnregisterSubdevice : IUnknown {
  STDMETHOD(UnregisterSubdevice)(PDEVICE_OBJECT DeviceObject, PUNKNOWN Unknown) PURE;

 protected:
  ~IUnregisterSubdevice() = default;
};
typedef IUnregisterSubdevice* PUNREGISTERSUBDEVICE;

struct IAdapterPowerManagement : IUnknown {
  STDMETHOD_(void, PowerChangeState)(POWER_STATE NewState) PURE;
  STDMETHOD(QueryPowerChangeState)(POWER_STATE NewStateQuery) PURE;
  STDMETHOD(QueryDeviceCapabilities)(PDEVICE_CAPABILITIES PowerDeviceCaps) PURE;

 protected:
  ~IAdapterPowerManagement() = default;
};
typedef IAdapterPowerManagement* PADAPTERPOWERMANAGEMENT;

// The adapter's start routine, called on IRP_MN_START_DEVICE once the devices below have
// started; a failure fails the start.
typedef NTSTATUS (*PCPFNSTARTDEVICE)(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                     PRESOURCELIST ResourceList);

// Installs the framework's dispatch table, unload routine and the driver's add-device routine.
NTSTATUS PcInitializeAdapterDriver(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPathName,
                                   PDRIVER_ADD_DEVICE AddDevice);
// Creates the functional device over the physical device object. DeviceExtensionSize 0 asks for
// the framework's part only; anything else must include it.
NTSTATUS PcAddAdapterDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject,
                            PCPFNSTARTDEVICE StartDevice, ULONG MaxObjects,
                            ULONG DeviceExtensionSize);
// Serves a request the adapter driver does not serve itself, and completes it.
NTSTATUS PcDispatchIrp(PDEVICE_OBJECT DeviceObject, PIRP Irp);
// The framework keeps a reference to the adapter's IAdapterPowerManagement until the device
// is removed and calls it for device power changes and capability queries.
NTSTATUS PcRegisterAdapterPowerManagement(PUNKNOWN Unknown, PVOID pvContext1);
NTSTATUS PcNewPort(PPORT* OutPort, REFCLSID ClassId);
// Registers an initialised port as a subdevice: its filter's device interface is registered
// under the reference string Name and enabled. The registration holds a port reference.
NTSTATUS PcRegisterSubdevice(PDEVICE_OBJECT DeviceObject, PWSTR Name, PUNKNOWN Unknown);
