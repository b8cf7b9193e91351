// Content protection of the kernel DRM interface: the forwarding and rights records, the port's
// and the stream's interfaces.
#pragma once

#include "kernel/device_object.h"
#include "portcls/unknown.h"

typedef struct tagDRMFORWARD {
  DWORD Flags;
  PDEVICE_OBJECT DeviceObject;
  PFILE_OBJECT FileObject;
  PVOID Context;
} DRMFORWARD, *PDRMFORWARD;
typedef const DRMFORWARD* PCDRMFORWARD;

typedef struct tagDRMRIGHTS {
  BOOL CopyProtect;
  ULONG Reserved;
  BOOL DigitalOutputDisable;
} DRMRIGHTS, *PDRMRIGHTS;
typedef const DRMRIGHTS* PCDRMRIGHTS;

// {1ACCE59C-7311-4B6B-9FBA-CC3BA59ACDCE}
inline constexpr GUID IID_IDrmPort2 = {
    0x1ACCE59C, 0x7311, 0x4B6B, {0x9F, 0xBA, 0xCC, 0x3B, 0xA5, 0x9A, 0xCD, 0xCE}};
// {1915C967-3299-48CB-A3E4-69FD1D1B306E}
inline constexpr GUID IID_IDrmAudioStream = {
    0x1915C967, 0x3299, 0x48CB, {0xA3, 0xE4, 0x69, 0xFD, 0x1D, 0x1B, 0x30, 0x6E}};

// The port's side of protected content: where a stream's content may be forwarded.
struct IDrmPort : IUnknown {
  STDMETHOD(CreateContentMixed)(PULONG paContentId, ULONG cContentId, PULONG pMixedContentId) PURE;
  STDMETHOD(DestroyContent)(ULONG ContentId) PURE;
  STDMETHOD(ForwardContentToFileObject)(ULONG ContentId, PFILE_OBJECT FileObject) PURE;
  STDMETHOD(ForwardContentToInterface)(ULONG ContentId, PUNKNOWN pUnknown, ULONG NumMethods) PURE;
  STDMETHOD(GetContentRights)(ULONG ContentId, PDRMRIGHTS DrmRights) PURE;

 protected:
  ~IDrmPort() = default;
};

struct IDrmPort2 : IDrmPort {
  STDMETHOD(AddContentHandlers)(ULONG ContentId, PVOID* paHandlers, ULONG NumHandlers) PURE;
  STDMETHOD(ForwardContentToDeviceObject)
  (ULONG ContentId, PVOID Reserved, PCDRMFORWARD DrmForward) PURE;

 protected:
  ~IDrmPort2() = default;
};
typedef IDrmPort2* PDRMPORT2;

// A stream's side: the content id of what plays through it.
struct IDrmAudioStream : IUnknown {
  STDMETHOD(SetContentId)(ULONG contentId, PCDRMRIGHTS DrmRights) PURE;

 protected:
  ~IDrmAudioStream() = default;
};
