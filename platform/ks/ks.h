// Kernel streaming as a filter driver and its clients see it: identifiers, data formats and
// ranges, pin descriptors and the connect request, property requests and their sets, with the
// published names, values and 64-bit Windows layouts.
#pragma once

#include <cstddef>

#include "kernel/ioctl_codes.h"
#include "kernel/ntdef.h"


// Windows declares these unions with unnamed members; __extension__ lets a pedantic build
// accept them.
typedef union {
  __extension__ struct {
    GUID Set;
    ULONG Id;
    ULONG Flags;
  };
  LONGLONG Alignment;
} KSIDENTIFIER, *PKSIDENTIFIER;
typedef KSIDENTIFIER KSPROPERTY, *PKSPROPERTY, KSMETHOD, KSEVENT;
typedef KSIDENTIFIER KSPIN_INTERFACE, *PKSPIN_INTERFACE;
typedef KSIDENTIFIER KSPIN_MEDIUM, *PKSPIN_MEDIUM;

#define KSPROPERTY_TYPE_GET 0x00000001
#define KSPROPERTY_TYPE_SET 0x00000002
#define KSPROPERTY_TYPE_BASICSUPPORT 0x00000200
#define KSPROPERTY_TYPE_TOPOLOGY 0x10000000

// A format or a range of formats: the header every data format and range starts with.
typedef union _KSDATAFORMAT {
  __extension__ struct {
    ULONG FormatSize;
    ULONG Flags;
    ULONG SampleSize;
    ULONG Reserved;
    GUID MajorFormat;
    GUID SubFormat;
    GUID Specifier;
  };
  LONGLONG Alignment;
} KSDATAFORMAT, *PKSDATAFORMAT, KSDATARANGE, *PKSDATARANGE;

#define KSDATAFORMAT_ATTRIBUTES 0x00000002
#define KSDATARANGE_ATTRIBUTES 0x00000002

typedef struct {
  ULONG Size;
  ULONG Flags;
  GUID Attribute;
} KSATTRIBUTE, *PKSATTRIBUTE;

// The attributes that follow a range flagged KSDATARANGE_ATTRIBUTES in a pin's range list.
typedef struct {
  ULONG Count;
  PKSATTRIBUTE* Attributes;
} KSATTRIBUTE_LIST, *PKSATTRIBUTE_LIST;

typedef struct {
  ULONG Size;
  ULONG Count;
} KSMULTIPLE_ITEM, *PKSMULTIPLE_ITEM;

typedef enum {
  KSPIN_DATAFLOW_IN = 1,
  KSPIN_DATAFLOW_OUT,
} KSPIN_DATAFLOW, *PKSPIN_DATAFLOW;

typedef enum {
  KSPIN_COMMUNICATION_NONE,
  KSPIN_COMMUNICATION_SINK,
  KSPIN_COMMUNICATION_SOURCE,
  KSPIN_COMMUNICATION_BOTH,
  KSPIN_COMMUNICATION_BRIDGE,
} KSPIN_COMMUNICATION, *PKSPIN_COMMUNICATION;

typedef enum {
  KSSTATE_STOP,
  KSSTATE_ACQUIRE,
  KSSTATE_PAUSE,
  KSSTATE_RUN,
} KSSTATE, *PKSSTATE;

typedef struct {
  ULONG InterfacesCount;
  const KSPIN_INTERFACE* Interfaces;
  ULONG MediumsCount;
  const KSPIN_MEDIUM* Mediums;
  ULONG DataRangesCount;
  const PKSDATARANGE* DataRanges;
  KSPIN_DATAFLOW DataFlow;
  KSPIN_COMMUNICATION Communication;
  const GUID* Category;
  const GUID* Name;
  union {
    LONGLONG Reserved;
    __extension__ struct {
      ULONG ConstrainedDataRangesCount;
      PKSDATARANGE* ConstrainedDataRanges;
    };
  };
} KSPIN_DESCRIPTOR, *PKSPIN_DESCRIPTOR;

typedef struct {
  ULONG PriorityClass;
  ULONG PrioritySubClass;
} KSPRIORITY, *PKSPRIORITY;

// The create request of a pin: followed by the KSDATAFORMAT the pin is to run.
typedef struct {
  KSPIN_INTERFACE Interface;
  KSPIN_MEDIUM Medium;
  ULONG PinId;
  HANDLE PinToHandle;
  KSPRIORITY Priority;
} KSPIN_CONNECT, *PKSPIN_CONNECT;

// Property requests addressed to a pin or a node of a filter.
typedef struct {
  KSPROPERTY Property;
  ULONG PinId;
  union {
    ULONG Reserved;
    ULONG Flags;
  };
} KSP_PIN, *PKSP_PIN;

typedef struct {
  KSPROPERTY Property;
  ULONG NodeId;
  ULONG Reserved;
} KSP_NODE, *PKSP_NODE;

// A node property: the node addressed within the filter.
typedef KSP_NODE KSNODEPROPERTY, *PKSNODEPROPERTY;

// The answer to a basic-support request: the access the property allows and the type of its
// value, then MembersListCount lists of members (a header and its records each).
typedef struct {
  ULONG AccessFlags;
  ULONG DescriptionSize;
  KSIDENTIFIER PropTypeSet;
  ULONG MembersListCount;
  ULONG Reserved;
} KSPROPERTY_DESCRIPTION, *PKSPROPERTY_DESCRIPTION;

typedef struct {
  ULONG MembersFlags;
  ULONG MembersSize;
  ULONG MembersCount;
  ULONG Flags;
} KSPROPERTY_MEMBERSHEADER, *PKSPROPERTY_MEMBERSHEADER;

#define KSPROPERTY_MEMBER_RANGES 0x00000001
#define KSPROPERTY_MEMBER_STEPPEDRANGES 0x00000002
#define KSPROPERTY_MEMBER_VALUES 0x00000003
#define KSPROPERTY_MEMBER_FLAG_DEFAULT 0x00000001
#define KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL 0x00000002
#define KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_UNIFORM 0x00000004

typedef union {
  __extension__ struct {
    LONG SignedMinimum;
    LONG SignedMaximum;
  };
  __extension__ struct {
    ULONG UnsignedMinimum;
    ULONG UnsignedMaximum;
  };
} KSPROPERTY_BOUNDS_LONG, *PKSPROPERTY_BOUNDS_LONG;

typedef struct {
  ULONG SteppingDelta;
  ULONG Reserved;
  KSPROPERTY_BOUNDS_LONG Bounds;
} KSPROPERTY_STEPPING_LONG, *PKSPROPERTY_STEPPING_LONG;

// The identity of a filter's component.
typedef struct {
  GUID Manufacturer;
  GUID Product;
  GUID Component;
  GUID Name;
  ULONG Version;
  ULONG Revision;
} KSCOMPONENTID, *PKSCOMPONENTID;

// The variant types a basic-support answer names for a property's value.
enum {
  VT_EMPTY = 0,
  VT_I4 = 3,
  VT_BOOL = 11,
};

typedef struct {
  ULONG FromNode;
  ULONG FromNodePin;
  ULONG ToNode;
  ULONG ToNodePin;
} KSTOPOLOGY_CONNECTION, *PKSTOPOLOGY_CONNECTION;

#define IOCTL_KS_PROPERTY CTL_CODE(FILE_DEVICE_KS, 0x000, METHOD_NEITHER, FILE_ANY_ACCESS)

// The object name of a pin create, relative to its filter's file: this string, a backslash,
// then the KSPIN_CONNECT and its data format as bytes.
#define KSSTRING_Pin u"{146F1A80-4791-11D0-A5D6-28DB04C10000}"

// {00000000-0000-0000-0000-000000000000}
inline constexpr GUID KSDATAFORMAT_SUBTYPE_WILDCARD = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
// {0F6417D6-C318-11D0-A43F-00A0C9223196}
inline constexpr GUID KSDATAFORMAT_SPECIFIER_NONE = {
    0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// {97E99BA0-BDEA-11CF-A5D6-28DB04C10000}
inline constexpr GUID KSPROPTYPESETID_General = {
    0x97E99BA0, 0xBDEA, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
// {8D2D71CB-243F-11CF-A5C8-00A0C9223196}
inline constexpr GUID KSPROPSETID_Pin = {
    0x8D2D71CB, 0x243F, 0x11CF, {0xA5, 0xC8, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// {1D58C920-AC9B-11CF-A5D6-28DB04C10000}
inline constexpr GUID KSPROPSETID_Connection = {
    0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
// {720D4AC0-7533-11D0-A5D6-28DB04C10000}
inline constexpr GUID KSPROPSETID_Topology = {
    0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};

typedef enum {
  KSPROPERTY_PIN_CINSTANCES,
  KSPROPERTY_PIN_CTYPES,
  KSPROPERTY_PIN_DATAFLOW,
  KSPROPERTY_PIN_DATARANGES,
  KSPROPERTY_PIN_DATAINTERSECTION,
  KSPROPERTY_PIN_INTERFACES,
  KSPROPERTY_PIN_MEDIUMS,
  KSPROPERTY_PIN_COMMUNICATION,
  KSPROPERTY_PIN_GLOBALCINSTANCES,
  KSPROPERTY_PIN_NECESSARYINSTANCES,
  KSPROPERTY_PIN_PHYSICALCONNECTION,
  KSPROPERTY_PIN_CATEGORY,
  KSPROPERTY_PIN_NAME,
  KSPROPERTY_PIN_CONSTRAINEDDATARANGES,
  KSPROPERTY_PIN_PROPOSEDATAFORMAT,
} KSPROPERTY_PIN;

typedef enum {
  KSPROPERTY_CONNECTION_STATE,
  KSPROPERTY_CONNECTION_PRIORITY,
  KSPROPERTY_CONNECTION_DATAFORMAT,
} KSPROPERTY_CONNECTION;

typedef enum {
  KSPROPERTY_TOPOLOGY_CATEGORIES,
  KSPROPERTY_TOPOLOGY_NODES,
  KSPROPERTY_TOPOLOGY_CONNECTIONS,
  KSPROPERTY_TOPOLOGY_NAME,
} KSPROPERTY_TOPOLOGY;

typedef struct {
  ULONG PossibleCount;
  ULONG CurrentCount;
} KSPIN_CINSTANCES, *PKSPIN_CINSTANCES;

static_assert(sizeof(KSIDENTIFIER) == 24);
static_assert(sizeof(KSDATAFORMAT) == 64 && offsetof(KSDATAFORMAT, Specifier) == 48);
static_assert(sizeof(KSATTRIBUTE) == 24);
static_assert(sizeof(KSATTRIBUTE_LIST) == 16);
static_assert(sizeof(KSPIN_DESCRIPTOR) == 88 && offsetof(KSPIN_DESCRIPTOR, DataFlow) == 48 &&
              offsetof(KSPIN_DESCRIPTOR, Category) == 56);
static_assert(sizeof(KSPIN_CONNECT) == 72 && offsetof(KSPIN_CONNECT, PinId) == 48 &&
              offsetof(KSPIN_CONNECT, PinToHandle) == 56);
static_assert(sizeof(KSP_PIN) == 32 && sizeof(KSP_NODE) == 32);
static_assert(sizeof(KSTOPOLOGY_CONNECTION) == 16);
static_assert(sizeof(KSPROPERTY_DESCRIPTION) == 40 &&
              offsetof(KSPROPERTY_DESCRIPTION, MembersListCount) == 32);
static_assert(sizeof(KSPROPERTY_MEMBERSHEADER) == 16 && sizeof(KSPROPERTY_STEPPING_LONG) == 16);
static_assert(sizeof(KSCOMPONENTID) == 72);
