// The wave filter's description, built from the device model when the miniport starts: one pin
// per audio terminal, nodes for the converters and the feature-unit controls, the connections
// between them in signal-flow order, and each streaming pin's data ranges.
//
// Pins and nodes are 144-byte elements: the framework's record first, then what the builder
// and the property handlers need to find the device entity behind it. The framework steps over
// the tail because PinSize and NodeSize say 144.
#pragma once

#include "kernel_mode.h"
#include "usb_audio_model.h"

// A pin's data ranges: Count pointers (the last may be a KSATTRIBUTE_LIST when the range
// before it carries KSDATARANGE_ATTRIBUTES).
struct DataRangeList {
  ULONG Count;
  PKSDATARANGE* Ranges;
};

// What the miniport keeps of its filter: the descriptor the framework reads, then the data
// ranges of the capture and the render pins.
struct FilterDescriptorBlock {
  PCFILTER_DESCRIPTOR Filter;
  DataRangeList CaptureRanges;
  DataRangeList RenderRanges;
};
static_assert(sizeof(FilterDescriptorBlock) == 112);

// The builder's part of a pin or node element: the entity behind it and its place in a chain
// of elements that runs in signal-flow order.
struct TopologyLink {
  CUSBAudioEntity* Entity;  // the terminal or unit; null for the ADC and DAC nodes
  ULONG Index;              // pin or node id
  UCHAR IsPin;
  TopologyLink* Next;
  TopologyLink* Previous;
};

struct PinElement {
  PCPIN_DESCRIPTOR Descriptor;
  TopologyLink Link;
};

struct NodeElement {
  PCNODE_DESCRIPTOR Descriptor;
  TopologyLink Link;
  UCHAR Unused[80];
};

inline constexpr ULONG kFilterElementSize = 144;
static_assert(sizeof(PinElement) == kFilterElementSize);
static_assert(sizeof(NodeElement) == kFilterElementSize);

// The element of pin or node Index of a built filter; null when there is none.
const PinElement* FilterPin(const PCFILTER_DESCRIPTOR& filter, ULONG index);
const NodeElement* FilterNode(const PCFILTER_DESCRIPTOR& filter, ULONG index);
// Whether a pin is a bridge to the outside (a jack) rather than a stream's pin.
BOOLEAN IsBridgePin(const PCPIN_DESCRIPTOR& pin);

// One data range per usable alternate setting of the streaming interface, widest first.
// STATUS_INVALID_PARAMETER without an interface; an empty list is a success.
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
    BuildDataRanges(CUSBAudioCL* model, USBAudioStreamInterface* stream, DataRangeList* list);
VOID FreeDataRanges(DataRangeList* list);

// Builds the whole block (zero-filled by the caller); on failure nothing stays allocated.
_IRQL_requires_(PASSIVE_LEVEL) NTSTATUS
    BuildFilterDescriptor(CUSBAudioCL* model, FilterDescriptorBlock* block);
// Frees what BuildFilterDescriptor allocated and zeroes the counts; safe on a zeroed block.
VOID FreeFilterDescriptor(FilterDescriptorBlock* block);
