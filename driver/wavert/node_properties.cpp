// Volume and mute of a feature unit's nodes. The operating system speaks 16.16 fixed-point
// decibels, the device 8.8; both have a value for silence (minus infinity) that is no level.
// Volume requests name a logical channel (0 = the unit's first channel, device channel 1); mute
// is the master channel's whatever channel is named.
#include "device_property_handlers.h"
#include "filter_descriptor.h"
#include "property_replies.h"
#include "wavert_trace_points.h"

namespace {

constexpr ULONG kGetSetBasicAccess =
    KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_BASICSUPPORT;
constexpr LONG kKsSilence = static_cast<LONG>(0x80000000);
constexpr SHORT kDeviceSilence = static_cast<SHORT>(0x8000);
constexpr ULONG kDeviceToKs = 256;
constexpr ULONG kMasterChannel = 0;

struct VolumeRange {
  LONG minimum;  // 16.16 dB
  LONG maximum;
  LONG step;
};

struct NodeRequest {
  PPCPROPERTY_REQUEST request;
  CUSBAudioCL& model;
  CUSBAudioFeatureUnit* unit;
  ULONG channels;  // logical channels: the master channel is not one of them
  bool volume;
};

NTSTATUS Refuse(PPCPROPERTY_REQUEST request, NTSTATUS status) {
  TRACE_POINT(kTracePropertyRefused, request->Node, request->Verb, status);
  request->ValueSize = 0;
  return status;
}

// The device channel that carries logical channel `channel`'s volume. A unit whose volume sits
// on the master channel alone serves every logical channel from there: without it, the volume
// of such a device could be neither read nor set.
ULONG VolumeChannel(const NodeRequest& node, ULONG channel) {
  const ULONG device = channel + 1;
  if (!node.unit->HasChannelControl(device, kFeatureControlVolume, ControlAccess::Read) &&
      node.unit->HasChannelControl(kMasterChannel, kFeatureControlVolume, ControlAccess::Read)) {
    TRACE_POINT(kTraceVolumeMasterChannel, node.unit->GetID(), channel);
    return kMasterChannel;
  }
  return device;
}

NTSTATUS ReadVolumeRange(const NodeRequest& node, ULONG channel, VolumeRange* range) {
  SHORT minimum = 0;
  SHORT maximum = 0;
  USHORT resolution = 0;
  NTSTATUS status = node.model.GetVolumeRange(node.unit, VolumeChannel(node, channel), &minimum,
                                              &maximum, &resolution);
  if (!NT_SUCCESS(status)) return status;
  range->minimum = static_cast<LONG>(minimum) * static_cast<LONG>(kDeviceToKs);
  range->maximum = static_cast<LONG>(maximum) * static_cast<LONG>(kDeviceToKs);
  range->step = static_cast<LONG>(resolution) * static_cast<LONG>(kDeviceToKs);
  return STATUS_SUCCESS;
}

NTSTATUS BasicSupport(const NodeRequest& node) {
  PPCPROPERTY_REQUEST request = node.request;
  const ULONG full = sizeof(KSPROPERTY_DESCRIPTION) + sizeof(KSPROPERTY_MEMBERSHEADER) +
                     node.channels * sizeof(KSPROPERTY_STEPPING_LONG);
  if (request->ValueSize < sizeof(ULONG) || request->Value == nullptr)
    return Refuse(request, STATUS_BUFFER_TOO_SMALL);
  if (request->ValueSize < sizeof(KSPROPERTY_DESCRIPTION)) {
    RtlCopyMemory(request->Value, &kGetSetBasicAccess, sizeof(ULONG));
    request->ValueSize = sizeof(ULONG);
    return STATUS_SUCCESS;
  }
  auto* out = static_cast<PUCHAR>(request->Value);
  KSPROPERTY_DESCRIPTION description = {};
  description.AccessFlags = kGetSetBasicAccess;
  description.DescriptionSize = full;
  description.PropTypeSet.Set = KSPROPTYPESETID_General;
  description.PropTypeSet.Id = node.volume ? VT_I4 : VT_BOOL;
  description.MembersListCount = 1;
  if (request->ValueSize < full) {
    RtlCopyMemory(out, &description, sizeof(description));
    request->ValueSize = sizeof(description);
    return STATUS_SUCCESS;
  }
  // The ranges first, so that a device that cannot say leaves the value as it was.
  const KSPROPERTY_MEMBERSHEADER header = {KSPROPERTY_MEMBER_STEPPEDRANGES,
                                           sizeof(KSPROPERTY_STEPPING_LONG), node.channels,
                                           KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL};
  PUCHAR records = out + sizeof(description) + sizeof(header);
  for (ULONG channel = 0; channel < node.channels; ++channel) {
    KSPROPERTY_STEPPING_LONG stepping = {};
    if (node.volume) {
      VolumeRange range = {};
      NTSTATUS status = ReadVolumeRange(node, channel, &range);
      if (!NT_SUCCESS(status)) return Refuse(request, status);
      stepping.SteppingDelta = static_cast<ULONG>(range.step);
      stepping.Bounds.SignedMinimum = range.minimum;
      stepping.Bounds.SignedMaximum = range.maximum;
    } else {
      stepping.SteppingDelta = 1;
      stepping.Bounds.SignedMinimum = 0;
      stepping.Bounds.SignedMaximum = 1;
    }
    RtlCopyMemory(records + channel * sizeof(stepping), &stepping, sizeof(stepping));
  }
  RtlCopyMemory(out, &description, sizeof(description));
  RtlCopyMemory(out + sizeof(description), &header, sizeof(header));
  request->ValueSize = full;
  return STATUS_SUCCESS;
}

LONG ReadValue(PPCPROPERTY_REQUEST request) {
  LONG value = 0;
  RtlCopyMemory(&value, request->Value, sizeof(value));
  return value;
}

VOID WriteValue(PPCPROPERTY_REQUEST request, LONG value) {
  RtlCopyMemory(request->Value, &value, sizeof(value));
  request->ValueSize = sizeof(value);
}

NTSTATUS Mute(const NodeRequest& node, LONG channel) {
  PPCPROPERTY_REQUEST request = node.request;
  if (channel < -1 || channel >= static_cast<LONG>(node.channels))
    return Refuse(request, STATUS_INVALID_PARAMETER);
  if ((request->Verb & KSPROPERTY_TYPE_GET) != 0) {
    UCHAR mute = 0;
    NTSTATUS status = node.model.GetMute(node.unit, kMasterChannel, &mute);
    if (!NT_SUCCESS(status)) return Refuse(request, status);
    WriteValue(request, mute != 0 ? 1 : 0);
    return STATUS_SUCCESS;
  }
  const UCHAR mute = ReadValue(request) != 0 ? 1 : 0;
  NTSTATUS status = node.model.SetMute(node.unit, kMasterChannel, mute);
  return NT_SUCCESS(status) ? status : Refuse(request, status);
}

// The level nearest a wished one that the device can take: on its step grid (halves away from
// zero) and within its range. Silence stays silence.
LONG DeviceLevel(LONG wished, const VolumeRange& range) {
  if (wished == kKsSilence) return wished;
  LONGLONG level = kKsSilence;
  if (range.step == 0) {
    TRACE_POINT(kTraceVolumeZeroStep, wished);
  } else {
    const LONGLONG half = range.step / 2;
    const LONGLONG shifted = wished >= 0 ? LONGLONG{wished} + half : LONGLONG{wished} - half;
    level = range.step * (shifted / range.step);
  }
  if (level < range.minimum) level = range.minimum;
  if (level > range.maximum) level = range.maximum;
  return static_cast<LONG>(level);
}

NTSTATUS Volume(const NodeRequest& node, LONG channel) {
  PPCPROPERTY_REQUEST request = node.request;
  if (channel < 0 || channel >= static_cast<LONG>(node.channels))
    return Refuse(request, STATUS_INVALID_PARAMETER);
  VolumeRange range = {};
  NTSTATUS status = ReadVolumeRange(node, static_cast<ULONG>(channel), &range);
  if (!NT_SUCCESS(status)) return Refuse(request, status);
  const ULONG deviceChannel = VolumeChannel(node, static_cast<ULONG>(channel));
  if ((request->Verb & KSPROPERTY_TYPE_GET) != 0) {
    SHORT level = 0;
    status = node.model.GetVolume(node.unit, deviceChannel, &level);
    if (!NT_SUCCESS(status)) return Refuse(request, status);
    const LONG value = level == kDeviceSilence
                           ? kKsSilence
                           : static_cast<LONG>(level) * static_cast<LONG>(kDeviceToKs);
    if (value != kKsSilence &&
        (value < range.minimum || value > range.maximum ||
         (range.step != 0 && value % range.step != 0)))
      TRACE_POINT(kTraceVolumeOffRange, value, range.minimum, range.maximum, range.step);
    WriteValue(request, value);
    return STATUS_SUCCESS;
  }
  const LONG level = DeviceLevel(ReadValue(request), range);
  const SHORT written = level == kKsSilence
                            ? kDeviceSilence
                            : static_cast<SHORT>(level / static_cast<LONG>(kDeviceToKs));
  status = node.model.SetVolume(node.unit, deviceChannel, written);
  return NT_SUCCESS(status) ? status : Refuse(request, status);
}

}  // namespace

NTSTATUS HandleNodeRequest(CUSBAudioCL& model, const PCFILTER_DESCRIPTOR& filter,
                           PPCPROPERTY_REQUEST request) {
  if (request == nullptr || request->PropertyItem == nullptr) return STATUS_INVALID_PARAMETER;
  const ULONG id = request->PropertyItem->Id;
  if (request->Node == ULONG(-1) ||
      (id != KSPROPERTY_AUDIO_VOLUMELEVEL && id != KSPROPERTY_AUDIO_MUTE))
    return Refuse(request, STATUS_UNSUCCESSFUL);
  const bool basicSupport = (request->Verb & KSPROPERTY_TYPE_BASICSUPPORT) != 0;
  const NodeElement* element = FilterNode(filter, request->Node);
  CUSBAudioEntity* entity = element != nullptr ? element->Link.Entity : nullptr;
  if (entity == nullptr || entity->Subtype() != uac::ac::kFeatureUnit)
    return Refuse(request, basicSupport ? STATUS_UNSUCCESSFUL : STATUS_INVALID_PARAMETER);
  auto* unit = static_cast<CUSBAudioFeatureUnit*>(entity);
  const ULONG count = unit->ChannelCount();
  const NodeRequest node = {request, model, unit, count != 0 ? count - 1 : 0,
                            id == KSPROPERTY_AUDIO_VOLUMELEVEL};
  if (basicSupport) return BasicSupport(node);

  NTSTATUS status = ValidateValueSize(request, sizeof(LONG), sizeof(LONG));
  if (status != STATUS_SUCCESS) return status;
  if ((request->Verb & (KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET)) == 0)
    return Refuse(request, STATUS_INVALID_DEVICE_REQUEST);
  LONG channel = 0;
  RtlCopyMemory(&channel, request->Instance, sizeof(channel));
  return node.volume ? Volume(node, channel) : Mute(node, channel);
}
