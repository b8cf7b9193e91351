// The WaveRT port: binds a miniport to an adapter device and is what a subdevice registers.
#pragma once

#include "kernel/interlocked.h"
#include "portcls/portcls.h"

namespace tarnlink::portcls {

// {6C1A9AE1-3F0B-4E2D-9C55-7D1B2E6F40A3}: asked of an unknown to learn whether it is one of the
// framework's own ports; never answered by driver objects.
inline constexpr GUID IID_IFrameworkPort = {
    0x6C1A9AE1, 0x3F0B, 0x4E2D, {0x9C, 0x55, 0x7D, 0x1B, 0x2E, 0x6F, 0x40, 0xA3}};

class CPortWaveRT final : public IPortWaveRT, public IUnregisterSubdevice, public IDrmPort2 {
 public:
  static NTSTATUS Create(PPORT* OutPort);
  // The framework port behind Unknown, referenced, or null when Unknown is not one.
  static CPortWaveRT* FromUnknown(PUNKNOWN Unknown);

  STDMETHODIMP QueryInterface(REFIID InterfaceId, PVOID* Interface) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP Init(PDEVICE_OBJECT DeviceObject, PIRP Irp, PUNKNOWN UnknownMiniport,
                    PUNKNOWN UnknownAdapter, PRESOURCELIST ResourceList) override;
  STDMETHODIMP GetDeviceProperty(DEVICE_REGISTRY_PROPERTY DeviceProperty, ULONG BufferLength,
                                 PVOID PropertyBuffer, PULONG ResultLength) override;
  STDMETHODIMP NewRegistryKey(PREGISTRYKEY* OutRegistryKey, PUNKNOWN OuterUnknown,
                              ULONG RegistryKeyType, ACCESS_MASK DesiredAccess,
                              POBJECT_ATTRIBUTES ObjectAttributes, ULONG CreateOptions,
                              PULONG Disposition) override;

  STDMETHODIMP UnregisterSubdevice(PDEVICE_OBJECT DeviceObject, PUNKNOWN Unknown) override;

  // Protected content: the machine has no content system, so the port accepts forwarding to a
  // device and offers nothing else.
  STDMETHODIMP CreateContentMixed(PULONG paContentId, ULONG cContentId,
                                  PULONG pMixedContentId) override;
  STDMETHODIMP DestroyContent(ULONG ContentId) override;
  STDMETHODIMP ForwardContentToFileObject(ULONG ContentId, PFILE_OBJECT FileObject) override;
  STDMETHODIMP ForwardContentToInterface(ULONG ContentId, PUNKNOWN pUnknown,
                                         ULONG NumMethods) override;
  STDMETHODIMP GetContentRights(ULONG ContentId, PDRMRIGHTS DrmRights) override;
  STDMETHODIMP AddContentHandlers(ULONG ContentId, PVOID* paHandlers, ULONG NumHandlers) override;
  STDMETHODIMP ForwardContentToDeviceObject(ULONG ContentId, PVOID Reserved,
                                            PCDRMFORWARD DrmForward) override;

  // Open pins of pin factory Id across the port's filters; a factory past the counted ones
  // reads as full.
  ULONG PinInstances(ULONG Id) const {
    return Id < kCountedPins ? static_cast<ULONG>(pinInstances_[Id]) : 0xFFFFFFFF;
  }
  void CountPinInstance(ULONG Id, LONG Delta) {
    if (Id < kCountedPins) InterlockedExchangeAdd(&pinInstances_[Id], Delta);
  }
  // The miniport bound by Init, or null.
  PMINIPORTWAVERT Miniport() const { return miniport_; }
  // The device the port was initialised for; null before a successful Init.
  PDEVICE_OBJECT Device() const { return device_; }
  // Drops the miniport, which usually holds a reference back to the port, and the binding to
  // the device: called when the registration ends (or fails) so that the pair can go away.
  void ReleaseChildren();

 private:
  CPortWaveRT() = default;
  ~CPortWaveRT() = default;

  static constexpr ULONG kCountedPins = 32;

  LONG references_ = 1;
  LONG pinInstances_[kCountedPins] = {};
  PDEVICE_OBJECT device_ = nullptr;
  PMINIPORTWAVERT miniport_ = nullptr;
};

}  // namespace tarnlink::portcls
