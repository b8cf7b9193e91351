// Jack descriptions: every bridge pin is one front stereo jack of the box, plugged in unless its
// terminal says otherwise.
#include "device_property_handlers.h"
#include "filter_descriptor.h"
#include "property_replies.h"
#include "wavert_trace_points.h"

namespace {

constexpr ULONG kGetBasicAccess = KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_BASICSUPPORT;

template <typename Description>
struct JackReply {
  KSMULTIPLE_ITEM Header;
  Description Jack;
};
static_assert(sizeof(JackReply<KSJACK_DESCRIPTION>) == 36);
static_assert(sizeof(JackReply<KSJACK_DESCRIPTION2>) == 16);

template <typename Description>
NTSTATUS Reply(PPCPROPERTY_REQUEST request, const Description& jack) {
  const JackReply<Description> reply = {{sizeof(JackReply<Description>), 1}, jack};
  RtlCopyMemory(request->Value, &reply, sizeof(reply));
  request->ValueSize = sizeof(reply);
  return STATUS_SUCCESS;
}

// The terminal's connector state; a pin without a terminal cannot say.
ULONG ConnectorState(const PinElement& pin) {
  CUSBAudioEntity* entity = pin.Link.Entity;
  if (entity == nullptr || !entity->IsTerminal()) return kConnectorStateUnknown;
  return static_cast<CUSBAudioTerminal*>(entity)->GetConnectorState();
}

NTSTATUS Refuse(PPCPROPERTY_REQUEST request, NTSTATUS status) {
  TRACE_POINT(kTracePropertyRefused, request->PropertyItem->Id, request->InstanceSize, status);
  request->ValueSize = 0;
  return status;
}

}  // namespace

NTSTATUS HandleJackRequest(const PCFILTER_DESCRIPTOR& filter, PPCPROPERTY_REQUEST request) {
  if (request == nullptr || request->PropertyItem == nullptr) return STATUS_INVALID_PARAMETER;
  const ULONG id = request->PropertyItem->Id;
  if (id != KSPROPERTY_JACK_DESCRIPTION && id != KSPROPERTY_JACK_DESCRIPTION2)
    return Refuse(request, STATUS_INVALID_DEVICE_REQUEST);
  if (request->Instance == nullptr || request->InstanceSize < sizeof(ULONG))
    return Refuse(request, STATUS_INVALID_DEVICE_REQUEST);
  ULONG pinId = 0;
  RtlCopyMemory(&pinId, request->Instance, sizeof(pinId));
  const PinElement* pin = FilterPin(filter, pinId);
  if (pin == nullptr) return Refuse(request, STATUS_INVALID_DEVICE_REQUEST);

  if ((request->Verb & KSPROPERTY_TYPE_BASICSUPPORT) != 0)
    return ReplyBasicSupport(request, kGetBasicAccess, kNoPropertyType);
  const bool second = id == KSPROPERTY_JACK_DESCRIPTION2;
  const ULONG size = second ? sizeof(JackReply<KSJACK_DESCRIPTION2>)
                            : sizeof(JackReply<KSJACK_DESCRIPTION>);
  NTSTATUS status = ValidateValueSize(request, size, 0);
  if (status != STATUS_SUCCESS) return status;
  if ((request->Verb & KSPROPERTY_TYPE_GET) == 0 || !IsBridgePin(pin->Descriptor))
    return Refuse(request, STATUS_INVALID_DEVICE_REQUEST);

  const ULONG state = ConnectorState(*pin);
  if (second) {
    KSJACK_DESCRIPTION2 jack = {};
    jack.JackCapabilities =
        state != kConnectorStateUnknown ? JACKDESC2_PRESENCE_DETECT_CAPABILITY : 0;
    return Reply(request, jack);
  }
  KSJACK_DESCRIPTION jack = {};
  jack.ChannelMapping = KSAUDIO_SPEAKER_STEREO;
  jack.ConnectionType = eConnTypeUnknown;
  jack.GeoLocation = eGeoLocFront;
  jack.GenLocation = eGenLocPrimaryBox;
  jack.PortConnection = ePortConnJack;
  // Only a terminal that says so is unplugged; one that cannot say counts as connected.
  jack.IsConnected = state != 0;
  return Reply(request, jack);
}
