// AsioHandle: the driver's object behind one \asio file handle. It keeps the handle's state in
// the request protocol and serves the handle's requests; clean-up unwinds whatever the handle
// still holds of the device (the stream, its rings, the ownership), from any state.
#pragma once

#include "asio_device.h"
#include "asio_protocol.h"
#include "kernel_mode.h"

// One device-control request as the handle sees it: the system buffer of a buffered request,
// its lengths, and the byte count to report.
struct AsioRequest {
  ULONG Code;
  PVOID Buffer;
  ULONG InputLength;
  ULONG OutputLength;
  ULONG_PTR Information;
};

class AsioHandle {
 public:
  explicit AsioHandle(IAsioDevice* device) : m_Device(device) {}
  AsioHandle(const AsioHandle&) = delete;
  AsioHandle& operator=(const AsioHandle&) = delete;

  // Handles live in the driver's pool; a failed allocation yields null.
  static void* operator new(SIZE_T bytes) noexcept;
  static void operator delete(void* memory) noexcept;

  // Operations in slot order.
  virtual VOID Destroy();
  virtual NTSTATUS Open();
  // Under the control mutex: stops, unprepares and releases as the state requires. Never fails.
  virtual NTSTATUS CleanUp();
  virtual NTSTATUS Close();
  // Under the control mutex: the request table's checks, then the request.
  virtual NTSTATUS DeviceControl(AsioRequest* request);

  ULONG State() const { return m_State; }
  IAsioDevice* Device() const { return m_Device; }

 protected:
  virtual ~AsioHandle() = default;

 private:
  NTSTATUS Serve(AsioRequest* request);
  // Stream and ownership requests (asio_stream_requests.cpp).
  NTSTATUS Acquire();
  NTSTATUS Prepare(AsioRequest* request);
  NTSTATUS Start();
  NTSTATUS Stop();
  NTSTATUS Unprepare();
  NTSTATUS Release();
  NTSTATUS GetStartTime(AsioRequest* request);
  NTSTATUS SetStartTime(AsioRequest* request);

  IAsioDevice* m_Device;
  ULONG m_State = AsioHandleClosed;
};
