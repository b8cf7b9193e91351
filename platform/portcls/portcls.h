// The Port Class framework as an adapter driver sees it: the adapter set-up calls, the WaveRT
// port, subdevice registration, adapter power management and the request dispatcher, with the
// framework's names, slot orders and values.
#pragma once

#include "kernel/device_object.h"
#include "kernel/io_power.h"
#include "kernel/pnp_types.h"
#include "portcls/drmk.h"
#include "portcls/unknown.h"

// Records of kernel streaming and the HAL that some slots carry; the filter and stream work
// defines them.
union _KSDATAFORMAT;
typedef union _KSDATAFORMAT KSDATAFORMAT, *PKSDATAFORMAT, KSDATARANGE, *PKSDATARANGE;
struct _PCFILTER_DESCRIPTOR;
typedef struct _PCFILTER_DESCRIPTOR PCFILTER_DESCRIPTOR, *PPCFILTER_DESCRIPTOR;
struct _DEVICE_DESCRIPTION;
typedef struct _DEVICE_DESCRIPTION DEVICE_DESCRIPTION, *PDEVICE_DESCRIPTION;
struct _CM_PARTIAL_RESOURCE_DESCRIPTOR;
typedef struct _CM_PARTIAL_RESOURCE_DESCRIPTOR* PCM_PARTIAL_RESOURCE_DESCRIPTOR;
typedef UCHAR CM_RESOURCE_TYPE;
struct _PCPROPERTY_REQUEST;
typedef struct _PCPROPERTY_REQUEST PCPROPERTY_REQUEST, *PPCPROPERTY_REQUEST;
struct IRegistryKey;
typedef IRegistryKey* PREGISTRYKEY;
// The position a WaveRT stream reports, in bytes of its cyclic buffer.
typedef struct {
  ULONGLONG PlayOffset;
  ULONGLONG WriteOffset;
} KSAUDIO_POSITION, *PKSAUDIO_POSITION;
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
