// The kernel-streaming objects the framework serves on a subdevice: a filter per open of the
// subdevice's interface, and a pin per open relative to a filter. Their records hang off the
// file objects' FsContext; requests on those files reach the framework through PcDispatchIrp.
#pragma once

#include "portcls/pc_device_context.h"
#include "portcls/pc_port_stream.h"
#include "portcls/pc_port_wavert.h"

namespace tarnlink::portcls {

inline constexpr ULONG kFilterSignature = 0x6C694650;  // "PFil"
inline constexpr ULONG kPinSignature = 0x6E695050;     // "PPin"

struct FilterInstance {
  ULONG signature;
  CPortWaveRT* port;                  // referenced
  PMINIPORTWAVERT miniport;           // referenced
  const PCFILTER_DESCRIPTOR* filter;  // the miniport's description
};

struct PinInstance {
  ULONG signature;
  FilterInstance* filter;  // kept alive by the pin file's RelatedFileObject
  ULONG pinId;
  PMINIPORTWAVERTSTREAMNOTIFICATION stream;  // referenced
  CPortWaveRTStream* portStream;             // referenced
  KSSTATE state;
  PMDL bufferMdl;
  ULONG bufferSize;
  PKEVENT event;  // the one registered notification event, referenced
};

// The record behind a file, or null when the file is not one of these objects.
FilterInstance* FilterOf(PFILE_OBJECT file);
PinInstance* PinOf(PFILE_OBJECT file);

// IRP_MJ_CREATE and IRP_MJ_CLOSE of filters and pins; both complete the request.
NTSTATUS CreateKsObject(DeviceContext* context, PIRP Irp);
NTSTATUS CloseKsObject(PIRP Irp);
// IOCTL_KS_PROPERTY on a filter or pin; completes the request.
NTSTATUS KsPropertyRequest(PIRP Irp);

// The pin element Id of a filter, or null.
const PCPIN_DESCRIPTOR* PinDescriptor(const PCFILTER_DESCRIPTOR* filter, ULONG id);
// Steps a pin's stream to the state through every state between, as the framework does.
NTSTATUS StepPinState(PinInstance* pin, KSSTATE target);

}  // namespace tarnlink::portcls
