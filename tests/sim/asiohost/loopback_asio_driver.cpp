#include "loopback_asio_driver.h"

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "asio_interface.h"

namespace sim::asiohost::testing {
namespace {

constexpr CLSID kClsid = {0x6A0C2F11, 0x3B5E, 0x4E27, {0x9A, 0x41, 0x0D, 0x8E, 0x5B, 0x77, 0x21, 0x6C}};

std::atomic<int> g_alive{0};
std::atomic<int> g_created{0};
std::atomic<bool> g_resetWanted{false};

class LoopbackDriver final : public IASIO {
 public:
  LoopbackDriver() {
    ++g_alive;
    ++g_created;
  }
  STDMETHODIMP QueryInterface(REFIID riid, PVOID* out) override {
    if (!(riid == kClsid) && !(riid == IID_IUnknown)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      stop();
      disposeBuffers();
      --g_alive;
      delete this;
    }
    return left;
  }
  ASIOBool init(void*) override { return ASIOTrue; }
  void getDriverName(char* name) override { std::strcpy(name, "Loopback Test Driver"); }
  LONG getDriverVersion() override { return 1; }
  void getErrorMessage(char* text) override { text[0] = 0; }
  ASIOError start() override {
    if (callbacks_ == nullptr || thread_ != nullptr) return ASE_NotPresent;
    stopping_ = false;
    thread_ = CreateThread(nullptr, 0, Stream, this, 0, nullptr);
    return ASE_OK;
  }
  ASIOError stop() override {
    if (thread_ == nullptr) return ASE_OK;
    stopping_ = true;
    // From inside a buffer switch the thread ends by itself once the switch returns.
    if (GetCurrentThreadId() != threadId_) WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
    return ASE_OK;
  }
  ASIOError getChannels(LONG* in, LONG* out) override {
    *in = *out = kLoopbackChannels;
    return ASE_OK;
  }
  ASIOError getLatencies(LONG* in, LONG* out) override {
    *in = *out = kLoopbackBufferSize;
    return ASE_OK;
  }
  ASIOError getBufferSize(LONG* min, LONG* max, LONG* preferred, LONG* granularity) override {
    *min = *max = *preferred = kLoopbackBufferSize;
    *granularity = 0;
    return ASE_OK;
  }
  ASIOError canSampleRate(ASIOSampleRate rate) override {
    return rate == 48000 ? ASE_OK : ASE_NoClock;
  }
  ASIOError getSampleRate(ASIOSampleRate* rate) override {
    *rate = 48000;
    return ASE_OK;
  }
  ASIOError setSampleRate(ASIOSampleRate rate) override { return canSampleRate(rate); }
  ASIOError getClockSources(ASIOClockSource*, LONG* count) override {
    *count = 0;
    return ASE_OK;
  }
  ASIOError setClockSource(LONG) override { return ASE_OK; }
  ASIOError getSamplePosition(ASIOSamples* position, ASIOTimeStamp* stamp) override {
    position->hi = 0;
    position->lo = static_cast<ULONG>(position_);
    stamp->hi = stamp->lo = 0;
    return ASE_OK;
  }
  ASIOError getChannelInfo(ASIOChannelInfo* info) override {
    info->type = ASIOSTInt32LSB;
    return ASE_OK;
  }
  ASIOError createBuffers(ASIOBufferInfo* infos, LONG count, LONG size,
                          ASIOCallbacks* callbacks) override {
    if (size != kLoopbackBufferSize || callbacks_ != nullptr) return ASE_InvalidMode;
    halves_.assign(static_cast<size_t>(count) * 2, std::vector<LONG>(size));
    for (LONG k = 0; k < count; ++k) {
      infos[k].buffers[0] = halves_[2 * k].data();
      infos[k].buffers[1] = halves_[2 * k + 1].data();
    }
    infos_.assign(infos, infos + count);
    callbacks_ = callbacks;
    timeInfo_ = callbacks_->asioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr) != 0;
    return ASE_OK;
  }
  ASIOError disposeBuffers() override {
    callbacks_ = nullptr;
    infos_.clear();
    halves_.clear();
    return ASE_OK;
  }
  ASIOError controlPanel() override { return ASE_OK; }
  ASIOError future(LONG, void*) override { return ASE_InvalidParameter; }
  ASIOError outputReady() override { return ASE_OK; }

 private:
  static DWORD WINAPI Stream(LPVOID self) {
    static_cast<LoopbackDriver*>(self)->Run();
    return 0;
  }
  // The half the host filled last period comes back on the inputs of the same number.
  void LoopBack(LONG half) {
    for (const ASIOBufferInfo& out : infos_) {
      if (out.isInput) continue;
      for (const ASIOBufferInfo& in : infos_) {
        if (in.isInput && in.channelNum == out.channelNum)
          std::memcpy(in.buffers[half], out.buffers[half ^ 1], kLoopbackBufferSize * 4);
      }
    }
  }
  void Run() {
    threadId_ = GetCurrentThreadId();
    position_ = 0;
    for (LONG half = 0; !stopping_; half ^= 1) {
      Sleep(1);
      if (stopping_) break;
      if (g_resetWanted.exchange(false))
        callbacks_->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
      LoopBack(half);
      position_ += kLoopbackBufferSize;
      if (timeInfo_) {
        ASIOTime time = {};
        time.timeInfo.flags = kSamplePositionValid | kSampleRateValid;
        time.timeInfo.samplePosition.lo = static_cast<ULONG>(position_);
        time.timeInfo.sampleRate = 48000;
        callbacks_->bufferSwitchTimeInfo(&time, half, ASIOTrue);
      } else {
        callbacks_->bufferSwitch(half, ASIOTrue);
      }
    }
    threadId_ = 0;
  }

  std::atomic<ULONG> references_{0};
  ASIOCallbacks* callbacks_ = nullptr;
  bool timeInfo_ = false;
  std::vector<ASIOBufferInfo> infos_;
  std::vector<std::vector<LONG>> halves_;
  HANDLE thread_ = nullptr;
  std::atomic<DWORD> threadId_{0};
  std::atomic<bool> stopping_{false};
  uint64_t position_ = 0;
};

struct Factory final : IClassFactory {
  STDMETHODIMP QueryInterface(REFIID, PVOID* out) override {
    *out = this;
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 1; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, PVOID* out) override {
    auto* driver = new LoopbackDriver;
    const HRESULT result = driver->QueryInterface(riid, out);
    if (FAILED(result)) delete driver;
    return result;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};
Factory g_factory;

HRESULT STDAPICALLTYPE GetClassObject(REFCLSID clsid, REFIID, LPVOID* out) {
  *out = nullptr;
  if (!(clsid == kClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  *out = &g_factory;
  return S_OK;
}

void SetText(HKEY key, LPCWSTR name, const std::u16string& text) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() * sizeof(WCHAR)));
}

HRESULT STDAPICALLTYPE RegisterServer() {
  WCHAR path[MAX_PATH] = {};
  if (GetModuleFileNameW(GetModuleHandleW(WSTR("Tarnlink_asio.dll")), path, MAX_PATH) == 0)
    return E_FAIL;
  WCHAR clsid[40] = {};
  StringFromGUID2(kClsid, clsid, 40);
  HKEY key = nullptr;
  RegCreateKeyW(HKEY_CLASSES_ROOT, (u"CLSID\\" + std::u16string(clsid) + u"\\InprocServer32").c_str(),
                &key);
  SetText(key, nullptr, path);
  RegCloseKey(key);
  RegCreateKeyW(HKEY_LOCAL_MACHINE, (u"SOFTWARE\\ASIO\\" + std::u16string(kLoopbackName)).c_str(),
                &key);
  SetText(key, WSTR("CLSID"), clsid);
  SetText(key, WSTR("Description"), kLoopbackName);
  RegCloseKey(key);
  return S_OK;
}

template <typename Function>
FARPROC Export(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

tarnlink::win32::ModuleDefinition LoopbackModule() {
  return {u"", nullptr,
          {{"DllGetClassObject", Export(GetClassObject)}, {"DllRegisterServer", Export(RegisterServer)}}};
}

void RequestLoopbackReset() { g_resetWanted = true; }
int LoopbackObjectsAlive() { return g_alive; }
int LoopbackObjectsCreated() { return g_created; }

}  // namespace sim::asiohost::testing
