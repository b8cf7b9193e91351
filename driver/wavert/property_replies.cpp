#include "property_replies.h"

#include "wavert_trace_points.h"

NTSTATUS ValidateValueSize(PPCPROPERTY_REQUEST Request, ULONG RequiredValueSize,
                           ULONG RequiredInstanceSize) {
  if (Request == nullptr || RequiredValueSize == 0) return STATUS_INVALID_PARAMETER;
  if (Request->ValueSize == 0) {
    Request->ValueSize = RequiredValueSize;
    return STATUS_BUFFER_OVERFLOW;
  }
  NTSTATUS status = STATUS_SUCCESS;
  // An instance the framework did not pass is as short as none.
  const ULONG instanceSize = Request->Instance != nullptr ? Request->InstanceSize : 0;
  if (Request->ValueSize < RequiredValueSize || instanceSize < RequiredInstanceSize) {
    status = STATUS_BUFFER_TOO_SMALL;
  } else if (Request->ValueSize != RequiredValueSize || Request->Value == nullptr) {
    status = STATUS_UNSUCCESSFUL;
  }
  if (!NT_SUCCESS(status)) {
    TRACE_POINT(kTracePropertyRefused, Request->ValueSize, Request->InstanceSize, status);
    Request->ValueSize = 0;
  }
  return status;
}

NTSTATUS ReplyBasicSupport(PPCPROPERTY_REQUEST Request, ULONG AccessFlags, ULONG VtType) {
  if (Request == nullptr) return STATUS_INVALID_PARAMETER;
  if (Request->ValueSize < sizeof(ULONG) || Request->Value == nullptr) {
    TRACE_POINT(kTracePropertyRefused, Request->ValueSize, 0u, STATUS_BUFFER_TOO_SMALL);
    Request->ValueSize = 0;
    return STATUS_BUFFER_TOO_SMALL;
  }
  if (Request->ValueSize < sizeof(KSPROPERTY_DESCRIPTION)) {
    RtlCopyMemory(Request->Value, &AccessFlags, sizeof(ULONG));
    Request->ValueSize = sizeof(ULONG);
    return STATUS_SUCCESS;
  }
  KSPROPERTY_DESCRIPTION description = {};
  description.AccessFlags = AccessFlags;
  description.DescriptionSize = sizeof(KSPROPERTY_DESCRIPTION);
  if (VtType != kNoPropertyType) {
    description.PropTypeSet.Set = KSPROPTYPESETID_General;
    description.PropTypeSet.Id = VtType;
  }
  RtlCopyMemory(Request->Value, &description, sizeof(description));
  Request->ValueSize = sizeof(KSPROPERTY_DESCRIPTION);
  return STATUS_SUCCESS;
}
