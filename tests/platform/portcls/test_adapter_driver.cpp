#include "test_adapter_driver.h"

#include <gtest/gtest.h>

namespace tarnlink::portcls::testing {

TestDriverScript g_Script;
TestDriverLog g_Log;

namespace {

template <typename Interface>
class Counted : public Interface {
 public:
  explicit Counted(LONG* references) : references_(references) {}
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++*references_); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = --*references_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

 protected:
  virtual ~Counted() = default;
  LONG* references_;
};

class TestAdapter final : public Counted<IAdapterPowerManagement> {
 public:
  TestAdapter() : Counted(&g_Log.adapterReferences) { *references_ = 1; }
  STDMETHODIMP QueryInterface(REFIID id, PVOID* out) override {
    if (id != IID_IUnknown && id != IID_IAdapterPowerManagement) return STATUS_INVALID_PARAMETER;
    *out = static_cast<IAdapterPowerManagement*>(this);
    AddRef();
    return STATUS_SUCCESS;
  }
  STDMETHODIMP_(void) PowerChangeState(POWER_STATE state) override {
    g_Log.powerChanges.push_back(state.DeviceState);
  }
  STDMETHODIMP QueryPowerChangeState(POWER_STATE) override { return g_Script.queryPower; }
  STDMETHODIMP QueryDeviceCapabilities(PDEVICE_CAPABILITIES capabilities) override {
    ++g_Log.capabilityQueries;
    capabilities->SurpriseRemovalOK = 1;
    return STATUS_SUCCESS;
  }

 private:
  ~TestAdapter() override = default;
};

class TestMiniport final : public Counted<IMiniportWaveRT> {
 public:
  TestMiniport() : Counted(&g_Log.miniportReferences) { *references_ = 1; }
  STDMETHODIMP QueryInterface(REFIID id, PVOID* out) override {
    if (id != IID_IUnknown && id != IID_IMiniport && id != IID_IMiniportWaveRT)
      return STATUS_INVALID_PARAMETER;
    *out = static_cast<IMiniportWaveRT*>(this);
    AddRef();
    return STATUS_SUCCESS;
  }
  // A filter without pins or nodes.
  STDMETHODIMP GetDescription(PPCFILTER_DESCRIPTOR* description) override {
    static PCFILTER_DESCRIPTOR empty = {};
    *description = &empty;
    return STATUS_SUCCESS;
  }
  STDMETHODIMP DataRangeIntersection(ULONG, PKSDATARANGE, PKSDATARANGE, ULONG, PVOID,
                                     PULONG) override {
    return STATUS_NOT_IMPLEMENTED;
  }
  STDMETHODIMP Init(PUNKNOWN adapter, PRESOURCELIST, PPORTWAVERT port) override {
    g_Log.miniportSawAdapter = adapter;
    g_Log.miniportSawPort = port;
    // Like a real miniport, it keeps the port for its streams.
    if (NT_SUCCESS(g_Script.miniportInit)) {
      port->AddRef();
      port_ = port;
    }
    return g_Script.miniportInit;
  }
  STDMETHODIMP NewStream(PMINIPORTWAVERTSTREAM*, PPORTWAVERTSTREAM, ULONG, BOOLEAN,
                         PKSDATAFORMAT) override {
    return STATUS_NOT_IMPLEMENTED;
  }
  STDMETHODIMP GetDeviceDescription(PDEVICE_DESCRIPTION) override { return STATUS_NOT_IMPLEMENTED; }

 private:
  ~TestMiniport() override {
    if (port_ != nullptr) port_->Release();
  }
  PPORTWAVERT port_ = nullptr;
};

NTSTATUS Start(PDEVICE_OBJECT device, PIRP, PRESOURCELIST resources) {
  ++g_Log.starts;
  g_Log.startedDevice = device;
  EXPECT_NE(resources, nullptr);
  auto* adapter = new TestAdapter();
  if (g_Script.registerPower)
    g_Log.powerRegistration = PcRegisterAdapterPowerManagement(adapter, device);
  PPORT port = nullptr;
  EXPECT_EQ(PcNewPort(&port, CLSID_PortWaveRT), STATUS_SUCCESS);
  auto* miniport = new TestMiniport();
  g_Log.portInit = port->Init(device, nullptr, miniport, adapter, nullptr);
  std::u16string name = g_Script.subdeviceName;
  g_Log.subdeviceRegistration = PcRegisterSubdevice(device, name.data(), port);
  miniport->Release();
  adapter->Release();
  g_Log.port = port;
  return g_Script.startResult;
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo) {
  return PcAddAdapterDevice(driver, pdo, Start, g_Script.maxObjects, g_Script.extensionSize);
}

}  // namespace

NTSTATUS TestDriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
  return PcInitializeAdapterDriver(DriverObject, RegistryPath, AddDevice);
}

void ReleaseTestPort() {
  if (g_Log.port != nullptr) g_Log.port->Release();
  g_Log.port = nullptr;
}

}  // namespace tarnlink::portcls::testing
