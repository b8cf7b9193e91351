// The wave filter's pins, nodes and connections from the device model's entities.
//
// Two chains of elements run in signal-flow order: the render chain from the streaming input
// terminals to the outputs, the capture chain from the inputs to the streaming output
// terminals. The feature units' nodes go in behind their sources, the ADC behind the inputs and
// the DAC before the outputs; each neighbouring pair of a chain becomes one connection.
#include "driver_pool.h"
#include "filter_constants.h"
#include "filter_descriptor.h"
#include "usb_audio_class.h"
#include "wavert_trace_points.h"

namespace {

constexpr USHORT kUsbStreamingTerminal = 0x0101;

// The terminal types with a published KS node type: Data1 of the GUID is a base plus the type.
struct CategoryTable {
  USHORT Types[47];
  GUID Guids[47];
};

constexpr CategoryTable MakeCategoryTable() {
  constexpr USHORT kBlocks[][2] = {{0x0201, 0x0206}, {0x0301, 0x0307}, {0x0401, 0x0405},
                                   {0x0501, 0x0503}, {0x0601, 0x0607}, {0x0701, 0x0713}};
  CategoryTable table = {};
  ULONG n = 0;
  for (const auto& block : kBlocks) {
    for (USHORT type = block[0]; type <= block[1]; ++type) {
      table.Types[n] = type;
      table.Guids[n] = KsNodeTypeOfUsbTerminal(type);
      ++n;
    }
  }
  return table;
}
constexpr CategoryTable kCategories = MakeCategoryTable();

const GUID* CategoryOf(USHORT terminalType) {
  for (ULONG k = 0; k < ARRAYSIZE(kCategories.Types); ++k) {
    if (kCategories.Types[k] == terminalType) return &kCategories.Guids[k];
  }
  return nullptr;
}

struct Chain {
  TopologyLink* Head;
  TopologyLink* Tail;
};

VOID LinkBetween(Chain* chain, TopologyLink* previous, TopologyLink* link, TopologyLink* next) {
  link->Previous = previous;
  link->Next = next;
  if (previous != nullptr) previous->Next = link; else chain->Head = link;
  if (next != nullptr) next->Previous = link; else chain->Tail = link;
}

VOID PushFront(Chain* chain, TopologyLink* link) { LinkBetween(chain, nullptr, link, chain->Head); }
VOID PushBack(Chain* chain, TopologyLink* link) { LinkBetween(chain, chain->Tail, link, nullptr); }

BOOLEAN Contains(const Chain& chain, const TopologyLink* link) {
  for (const TopologyLink* at = chain.Head; at != nullptr; at = at->Next)
    if (at == link) return TRUE;
  return FALSE;
}

// Takes the link out of whichever chain holds it.
VOID Unlink(Chain* chains, ULONG chainCount, TopologyLink* link) {
  for (ULONG c = 0; c < chainCount; ++c) {
    if (!Contains(chains[c], link)) continue;
    if (link->Previous != nullptr) link->Previous->Next = link->Next; else chains[c].Head = link->Next;
    if (link->Next != nullptr) link->Next->Previous = link->Previous; else chains[c].Tail = link->Previous;
    link->Next = link->Previous = nullptr;
    return;
  }
}

ULONG ChainLength(const Chain& chain) {
  ULONG length = 0;
  for (const TopologyLink* at = chain.Head; at != nullptr; at = at->Next) ++length;
  return length;
}

BOOLEAN IsStreaming(CUSBAudioEntity* terminal) {
  return terminal->TerminalType() == kUsbStreamingTerminal;
}

// Calls add(entity, type, automation) for every node the units yield, in node order.
template <typename Add>
VOID ForEachUnitNode(CUSBAudioCL* model, Add add) {
  // Feature unit controls as numbered by the model; TONE stands for bass, mid, treble and
  // bass boost together.
  constexpr ULONG kBass = 2, kMid = 3, kTreble = 4, kEqualizer = 5, kAgc = 6, kDelay = 7,
                  kBassBoost = 8, kLoudness = 9, kFirstDeviceSpecific = 10,
                  kLastDeviceSpecific = 14;
  for (CUSBAudioEntity* unit = model->FirstUnit(); unit != nullptr; unit = model->NextUnit(unit)) {
    if (unit->Subtype() != uac::ac::kFeatureUnit) {
      add(unit, &KSNODETYPE_DEV_SPECIFIC, nullptr);
      continue;
    }
    auto* feature = static_cast<CUSBAudioFeatureUnit*>(unit);
    auto has = [feature](ULONG control) { return feature->HasControlOnAnyChannel(control); };
    if (has(kFeatureControlMute)) add(unit, &KSNODETYPE_MUTE, &g_MuteNodeAutomation);
    if (has(kFeatureControlVolume)) add(unit, &KSNODETYPE_VOLUME, &g_VolumeNodeAutomation);
    if (has(kBass) || has(kMid) || has(kTreble) || has(kBassBoost))
      add(unit, &KSNODETYPE_TONE, nullptr);
    if (has(kEqualizer)) add(unit, &KSNODETYPE_EQUALIZER, nullptr);
    if (has(kAgc)) add(unit, &KSNODETYPE_AGC, nullptr);
    if (has(kDelay)) add(unit, &KSNODETYPE_DELAY, nullptr);
    if (has(kLoudness)) add(unit, &KSNODETYPE_LOUDNESS, nullptr);
    for (ULONG control = kFirstDeviceSpecific; control <= kLastDeviceSpecific; ++control)
      if (has(control)) add(unit, &KSNODETYPE_DEV_SPECIFIC, nullptr);
  }
}

class FilterBuilder {
 public:
  FilterBuilder(CUSBAudioCL* model, FilterDescriptorBlock* block) : m_Model(model), m_Block(block) {}

  NTSTATUS Build();

 private:
  NTSTATUS BuildPins();
  NTSTATUS BuildNodes();
  VOID PlaceUnitNodes();
  VOID PlaceConverterNodes();
  NTSTATUS BuildConnections();
  VOID TraceFilter();

  PinElement* Pin(ULONG index) { return const_cast<PinElement*>(FilterPin(m_Block->Filter, index)); }
  NodeElement* Node(ULONG index) {
    return const_cast<NodeElement*>(FilterNode(m_Block->Filter, index));
  }
  TopologyLink* FindSource(ULONG sourceId);

  CUSBAudioCL* m_Model;
  FilterDescriptorBlock* m_Block;
  Chain m_Chains[2] = {};  // capture, then render: the order of the connections
  Chain& Capture() { return m_Chains[0]; }
  Chain& Render() { return m_Chains[1]; }
  NodeElement* m_Adc = nullptr;
  NodeElement* m_Dac = nullptr;
};

NTSTATUS FilterBuilder::Build() {
  PCFILTER_DESCRIPTOR& filter = m_Block->Filter;
  RtlZeroMemory(&filter, sizeof(filter));
  filter.AutomationTable = &g_FilterAutomation;
  filter.PinSize = kFilterElementSize;
  filter.NodeSize = kFilterElementSize;
  NTSTATUS status = STATUS_SUCCESS;
  if (m_Model->PlaybackInterface() != nullptr)
    status = BuildDataRanges(m_Model, m_Model->PlaybackInterface(), &m_Block->RenderRanges);
  if (NT_SUCCESS(status) && m_Model->CaptureInterface() != nullptr)
    status = BuildDataRanges(m_Model, m_Model->CaptureInterface(), &m_Block->CaptureRanges);
  if (NT_SUCCESS(status)) status = BuildPins();
  if (NT_SUCCESS(status)) status = BuildNodes();
  if (NT_SUCCESS(status)) {
    PlaceUnitNodes();
    PlaceConverterNodes();
    status = BuildConnections();
  }
  if (NT_SUCCESS(status)) TraceFilter();
  return status;
}

NTSTATUS FilterBuilder::BuildPins() {
  const ULONG count = m_Model->TerminalCount();
  if (count == 0) {
    TRACE_POINT(kTraceFilterNoTerminals);
    return STATUS_SUCCESS;
  }
  auto* pins = static_cast<PinElement*>(AllocateDriverPool(count * sizeof(PinElement)));
  if (pins == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  m_Block->Filter.Pins = &pins->Descriptor;
  m_Block->Filter.PinCount = count;
  ULONG index = 0;
  for (CUSBAudioEntity* terminal = m_Model->FirstTerminal(); terminal != nullptr;
       terminal = m_Model->NextTerminal(terminal), ++index) {
    PinElement& pin = pins[index];
    KSPIN_DESCRIPTOR& ks = pin.Descriptor.KsPinDescriptor;
    const BOOLEAN input = terminal->IsInputTerminal();
    ks.DataFlow = input ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT;
    pin.Link = {terminal, index, 1, nullptr, nullptr};
    if (IsStreaming(terminal)) {
      pin.Descriptor.MaxGlobalInstanceCount = 1;
      pin.Descriptor.MaxFilterInstanceCount = 1;
      ks.Communication = KSPIN_COMMUNICATION_SINK;
      ks.Category = &KSCATEGORY_AUDIO;
      const DataRangeList& ranges = input ? m_Block->RenderRanges : m_Block->CaptureRanges;
      ks.DataRangesCount = ranges.Count;
      ks.DataRanges = ranges.Ranges;
      if (input) PushFront(&Render(), &pin.Link); else PushBack(&Capture(), &pin.Link);
    } else {
      static const PKSDATARANGE bridgeRanges[] = {const_cast<PKSDATARANGE>(&g_BridgeRange)};
      ks.Communication = KSPIN_COMMUNICATION_BRIDGE;
      ks.Category = CategoryOf(terminal->TerminalType());
      ks.DataRangesCount = 1;
      ks.DataRanges = bridgeRanges;
      if (input) PushFront(&Capture(), &pin.Link); else PushBack(&Render(), &pin.Link);
    }
  }
  return STATUS_SUCCESS;
}

NTSTATUS FilterBuilder::BuildNodes() {
  const BOOLEAN adc = Capture().Head != nullptr;
  const BOOLEAN dac = Render().Head != nullptr;
  ULONG count = (adc ? 1 : 0) + (dac ? 1 : 0);
  ForEachUnitNode(m_Model, [&count](CUSBAudioEntity*, const GUID*, const PCAUTOMATION_TABLE*) {
    ++count;
  });
  if (count == 0) return STATUS_SUCCESS;
  auto* nodes = static_cast<NodeElement*>(AllocateDriverPool(count * sizeof(NodeElement)));
  if (nodes == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  m_Block->Filter.Nodes = &nodes->Descriptor;
  m_Block->Filter.NodeCount = count;
  ULONG index = 0;
  auto add = [&index, nodes](CUSBAudioEntity* entity, const GUID* type,
                             const PCAUTOMATION_TABLE* automation) {
    nodes[index].Descriptor = {0, automation, type, nullptr};
    nodes[index].Link = {entity, index, 0, nullptr, nullptr};
    return &nodes[index++];
  };
  if (adc) m_Adc = add(nullptr, &KSNODETYPE_ADC, nullptr);
  if (dac) m_Dac = add(nullptr, &KSNODETYPE_DAC, nullptr);
  ForEachUnitNode(m_Model, add);
  return STATUS_SUCCESS;
}

TopologyLink* FilterBuilder::FindSource(ULONG sourceId) {
  for (Chain& chain : m_Chains) {
    for (TopologyLink* at = chain.Head; at != nullptr; at = at->Next) {
      if (at->Entity != nullptr && at->Entity->GetID() == sourceId) return at;
    }
  }
  return nullptr;
}

VOID FilterBuilder::PlaceUnitNodes() {
  // Capture chain first, as the connections are listed: a source found in both counts there.
  for (ULONG index = 0; index < m_Block->Filter.NodeCount; ++index) {
    TopologyLink* node = &Node(index)->Link;
    if (node->Entity == nullptr) continue;
    TopologyLink* source = FindSource(node->Entity->GetSourceID(0));
    if (source == nullptr) continue;  // stays outside every chain, without connections
    Chain* chain = Contains(Capture(), source) ? &Capture() : &Render();
    LinkBetween(chain, source, node, source->Next);
  }
}

VOID FilterBuilder::PlaceConverterNodes() {
  for (ULONG index = 0; index < m_Block->Filter.PinCount; ++index) {
    PinElement* pin = Pin(index);
    if (pin->Descriptor.KsPinDescriptor.Communication != KSPIN_COMMUNICATION_BRIDGE) continue;
    const BOOLEAN input = pin->Descriptor.KsPinDescriptor.DataFlow == KSPIN_DATAFLOW_IN;
    NodeElement* converter = input ? m_Adc : m_Dac;
    Chain* chain = input ? &Capture() : &Render();
    // A device with several inputs (or outputs) has one ADC (or DAC): it follows the last.
    Unlink(m_Chains, ARRAYSIZE(m_Chains), &converter->Link);
    if (input) {
      LinkBetween(chain, &pin->Link, &converter->Link, pin->Link.Next);
    } else {
      LinkBetween(chain, pin->Link.Previous, &converter->Link, &pin->Link);
    }
  }
}

NTSTATUS FilterBuilder::BuildConnections() {
  ULONG count = 0;
  for (const Chain& chain : m_Chains) {
    const ULONG length = ChainLength(chain);
    if (length > 1) count += length - 1;
  }
  if (count == 0) return STATUS_SUCCESS;
  auto* connections = static_cast<PCCONNECTION_DESCRIPTOR*>(
      AllocateDriverPool(count * sizeof(PCCONNECTION_DESCRIPTOR)));
  if (connections == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  m_Block->Filter.Connections = connections;
  m_Block->Filter.ConnectionCount = count;
  ULONG n = 0;
  for (const Chain& chain : m_Chains) {
    for (const TopologyLink* from = chain.Head; from != nullptr && from->Next != nullptr;
         from = from->Next) {
      const TopologyLink* to = from->Next;
      connections[n++] = {from->IsPin ? PCFILTER_NODE : from->Index, from->IsPin ? from->Index : 0,
                          to->IsPin ? PCFILTER_NODE : to->Index, to->IsPin ? to->Index : 1};
    }
  }
  return STATUS_SUCCESS;
}

VOID FilterBuilder::TraceFilter() {
  const PCFILTER_DESCRIPTOR& filter = m_Block->Filter;
  for (ULONG k = 0; k < filter.PinCount; ++k) {
    const KSPIN_DESCRIPTOR& ks = Pin(k)->Descriptor.KsPinDescriptor;
    TRACE_POINT(kTraceFilterPin, k, ks.DataFlow, ks.Communication, ks.DataRangesCount);
  }
  for (ULONG k = 0; k < filter.NodeCount; ++k) {
    TRACE_POINT(kTraceFilterNode, k, Node(k)->Descriptor.Type->Data1);
  }
  for (ULONG k = 0; k < filter.ConnectionCount; ++k) {
    const PCCONNECTION_DESCRIPTOR& c = filter.Connections[k];
    TRACE_POINT(kTraceFilterConnection, c.FromNode, c.FromNodePin, c.ToNode, c.ToNodePin);
  }
}

}  // namespace

const PinElement* FilterPin(const PCFILTER_DESCRIPTOR& filter, ULONG index) {
  if (filter.Pins == nullptr || index >= filter.PinCount) return nullptr;
  return reinterpret_cast<const PinElement*>(filter.Pins) + index;
}

const NodeElement* FilterNode(const PCFILTER_DESCRIPTOR& filter, ULONG index) {
  if (filter.Nodes == nullptr || index >= filter.NodeCount) return nullptr;
  return reinterpret_cast<const NodeElement*>(filter.Nodes) + index;
}

BOOLEAN IsBridgePin(const PCPIN_DESCRIPTOR& pin) {
  const KSPIN_COMMUNICATION communication = pin.KsPinDescriptor.Communication;
  return communication == KSPIN_COMMUNICATION_NONE || communication == KSPIN_COMMUNICATION_BRIDGE;
}

NTSTATUS BuildFilterDescriptor(CUSBAudioCL* model, FilterDescriptorBlock* block) {
  if (model == nullptr || block == nullptr) return STATUS_INVALID_PARAMETER;
  NTSTATUS status = FilterBuilder(model, block).Build();
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTraceFilterBuildFailed, status);
    FreeFilterDescriptor(block);
  }
  return status;
}

VOID FreeFilterDescriptor(FilterDescriptorBlock* block) {
  if (block == nullptr) return;
  PCFILTER_DESCRIPTOR& filter = block->Filter;
  FreeDriverPool(const_cast<PCPIN_DESCRIPTOR*>(filter.Pins));
  FreeDriverPool(const_cast<PCNODE_DESCRIPTOR*>(filter.Nodes));
  FreeDriverPool(const_cast<PCCONNECTION_DESCRIPTOR*>(filter.Connections));
  filter.Pins = nullptr;
  filter.Nodes = nullptr;
  filter.Connections = nullptr;
  filter.PinCount = filter.NodeCount = filter.ConnectionCount = 0;
  FreeDataRanges(&block->CaptureRanges);
  FreeDataRanges(&block->RenderRanges);
}
