// The filter's component identity: who made it and what it is, as the endpoint builder reads it.
#include "filter_property_handlers.h"
#include "property_replies.h"

namespace {

// {D5A47FA8-6D98-11D1-A21A-00A0C9223196}
constexpr GUID kManufacturer = {
    0xD5A47FA8, 0x6D98, 0x11D1, {0xA2, 0x1A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// {8E1D244B-AE53-4E6C-81B4-873E39773377}
constexpr GUID kProduct = {
    0x8E1D244B, 0xAE53, 0x4E6C, {0x81, 0xB4, 0x87, 0x3E, 0x39, 0x77, 0x33, 0x77}};
// {7D898192-D8F8-45E7-A889-D84F7B5B8E07}
constexpr GUID kName = {
    0x7D898192, 0xD8F8, 0x45E7, {0xA8, 0x89, 0xD8, 0x4F, 0x7B, 0x5B, 0x8E, 0x07}};

constexpr ULONG kGetBasicAccess = KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_BASICSUPPORT;

}  // namespace

NTSTATUS ComponentIdHandler(PPCPROPERTY_REQUEST Request) {
  if (Request == nullptr || Request->PropertyItem == nullptr) return STATUS_INVALID_PARAMETER;
  if (Request->PropertyItem->Id != KSPROPERTY_GENERAL_COMPONENTID)
    return STATUS_INVALID_DEVICE_REQUEST;
  if ((Request->Verb & KSPROPERTY_TYPE_BASICSUPPORT) != 0)
    return ReplyBasicSupport(Request, kGetBasicAccess, kNoPropertyType);
  // The identity has one size; a size query is refused like any other mismatch.
  if (ValidateValueSize(Request, sizeof(KSCOMPONENTID), 0) != STATUS_SUCCESS) {
    Request->ValueSize = 0;
    return STATUS_INVALID_PARAMETER;
  }
  if ((Request->Verb & KSPROPERTY_TYPE_GET) != 0) {
    KSCOMPONENTID id = {};
    id.Manufacturer = kManufacturer;
    id.Product = kProduct;
    id.Name = kName;
    id.Version = 1;
    RtlCopyMemory(Request->Value, &id, sizeof(id));
    Request->ValueSize = sizeof(id);
  }
  return STATUS_SUCCESS;
}
