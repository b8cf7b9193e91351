// The records through which a miniport describes its filter to the framework (pins, nodes,
// connections, automation tables) and the property request the framework hands to a handler,
// with the published names and 64-bit Windows layouts.
#pragma once

#include <cstddef>

#include "kernel/irp.h"
#include "ks/ksmedia.h"
#include "portcls/unknown.h"

struct _PCPROPERTY_REQUEST;
typedef struct _PCPROPERTY_REQUEST PCPROPERTY_REQUEST, *PPCPROPERTY_REQUEST;
typedef NTSTATUS (*PCPFNPROPERTY_HANDLER)(PPCPROPERTY_REQUEST PropertyRequest);

#define PCPROPERTY_ITEM_FLAG_GET KSPROPERTY_TYPE_GET
#define PCPROPERTY_ITEM_FLAG_SET KSPROPERTY_TYPE_SET
#define PCPROPERTY_ITEM_FLAG_BASICSUPPORT KSPROPERTY_TYPE_BASICSUPPORT

typedef struct {
  const GUID* Set;
  ULONG Id;
  ULONG Flags;
  PCPFNPROPERTY_HANDLER Handler;
} PCPROPERTY_ITEM, *PPCPROPERTY_ITEM;

typedef struct _PCMETHOD_ITEM PCMETHOD_ITEM;
typedef struct _PCEVENT_ITEM PCEVENT_ITEM;

typedef struct {
  ULONG PropertyItemSize;
  ULONG PropertyCount;
  const PCPROPERTY_ITEM* Properties;
  ULONG MethodItemSize;
  ULONG MethodCount;
  const PCMETHOD_ITEM* Methods;
  ULONG EventItemSize;
  ULONG EventCount;
  const PCEVENT_ITEM* Events;
  ULONG Reserved;
} PCAUTOMATION_TABLE, *PPCAUTOMATION_TABLE;

struct _PCPROPERTY_REQUEST {
  PUNKNOWN MajorTarget;
  PUNKNOWN MinorTarget;
  ULONG Node;  // ULONG(-1) for a filter or pin property
  const PCPROPERTY_ITEM* PropertyItem;
  ULONG Verb;
  ULONG InstanceSize;
  PVOID Instance;
  ULONG ValueSize;
  PVOID Value;
  PIRP Irp;
};

typedef struct {
  ULONG MaxGlobalInstanceCount;
  ULONG MaxFilterInstanceCount;
  ULONG MinFilterInstanceCount;
  const PCAUTOMATION_TABLE* AutomationTable;
  KSPIN_DESCRIPTOR KsPinDescriptor;
} PCPIN_DESCRIPTOR, *PPCPIN_DESCRIPTOR;

typedef struct {
  ULONG Flags;
  const PCAUTOMATION_TABLE* AutomationTable;
  const GUID* Type;
  const GUID* Name;
} PCNODE_DESCRIPTOR, *PPCNODE_DESCRIPTOR;

// A connection's end is a pin of the filter (FromNode or ToNode PCFILTER_NODE) or a node's pin.
#define PCFILTER_NODE KSFILTER_NODE
#define KSFILTER_NODE ((ULONG)-1)

typedef struct {
  ULONG FromNode;
  ULONG FromNodePin;
  ULONG ToNode;
  ULONG ToNodePin;
} PCCONNECTION_DESCRIPTOR, *PPCCONNECTION_DESCRIPTOR;

struct _PCFILTER_DESCRIPTOR {
  ULONG Version;
  const PCAUTOMATION_TABLE* AutomationTable;
  ULONG PinSize;
  ULONG PinCount;
  const PCPIN_DESCRIPTOR* Pins;
  ULONG NodeSize;
  ULONG NodeCount;
  const PCNODE_DESCRIPTOR* Nodes;
  ULONG ConnectionCount;
  const PCCONNECTION_DESCRIPTOR* Connections;
  ULONG CategoryCount;
  const GUID* Categories;
};
typedef struct _PCFILTER_DESCRIPTOR PCFILTER_DESCRIPTOR, *PPCFILTER_DESCRIPTOR;

typedef enum _INTERFACE_TYPE {
  InterfaceTypeUndefined = -1,
  Internal = 0,
  Isa,
  Eisa,
  MicroChannel,
  TurboChannel,
  PCIBus,
} INTERFACE_TYPE;

typedef LARGE_INTEGER PHYSICAL_ADDRESS, *PPHYSICAL_ADDRESS;

// What a miniport says of its DMA needs.
typedef struct _DEVICE_DESCRIPTION {
  ULONG Version;
  BOOLEAN Master;
  BOOLEAN ScatterGather;
  BOOLEAN DemandMode;
  BOOLEAN AutoInitialize;
  BOOLEAN Dma32BitAddresses;
  BOOLEAN IgnoreCount;
  BOOLEAN Reserved1;
  BOOLEAN Dma64BitAddresses;
  ULONG BusNumber;
  ULONG DmaChannel;
  INTERFACE_TYPE InterfaceType;
  ULONG DmaWidth;
  ULONG DmaSpeed;
  ULONG MaximumLength;
  ULONG DmaPort;
  ULONG DmaAddressWidth;
  ULONG DmaControllerInstance;
  ULONG DmaRequestLine;
  PHYSICAL_ADDRESS DeviceAddress;
} DEVICE_DESCRIPTION, *PDEVICE_DESCRIPTION;

static_assert(sizeof(PCPROPERTY_ITEM) == 24);
static_assert(sizeof(PCAUTOMATION_TABLE) == 56);
static_assert(sizeof(PCPROPERTY_REQUEST) == 72 && offsetof(PCPROPERTY_REQUEST, Value) == 56);
static_assert(sizeof(PCPIN_DESCRIPTOR) == 112 && offsetof(PCPIN_DESCRIPTOR, KsPinDescriptor) == 24);
static_assert(sizeof(PCNODE_DESCRIPTOR) == 32);
static_assert(sizeof(PCCONNECTION_DESCRIPTOR) == 16);
static_assert(sizeof(PCFILTER_DESCRIPTOR) == 80 && offsetof(PCFILTER_DESCRIPTOR, Pins) == 24 &&
              offsetof(PCFILTER_DESCRIPTOR, Nodes) == 40 &&
              offsetof(PCFILTER_DESCRIPTOR, Connections) == 56 &&
              offsetof(PCFILTER_DESCRIPTOR, Categories) == 72);
static_assert(sizeof(DEVICE_DESCRIPTION) == 64 && offsetof(DEVICE_DESCRIPTION, MaximumLength) == 32);
