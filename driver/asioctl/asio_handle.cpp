#include "asio_handle.h"

#include "asio_device_requests.h"
#include "asio_request_table.h"
#include "driver_pool.h"

void* AsioHandle::operator new(SIZE_T bytes) noexcept {
  return AllocateDriverPool(bytes);
}

void AsioHandle::operator delete(void* memory) noexcept {
  FreeDriverPool(memory);
}

VOID AsioHandle::Destroy() {
  delete this;
}

NTSTATUS AsioHandle::Open() {
  m_State = AsioHandleOpened;
  return STATUS_SUCCESS;
}

NTSTATUS AsioHandle::Close() {
  m_State = AsioHandleClosed;
  return STATUS_SUCCESS;
}

NTSTATUS AsioHandle::CleanUp() {
  KeWaitForSingleObject(m_Device->ControlMutex(), Executive, KernelMode, FALSE, nullptr);
  // Each state falls through to the one below it.
  if (m_State == AsioHandleRunning) Stop();
  if (m_State == AsioHandlePrepared) Unprepare();
  if (m_State == AsioHandleAcquired) Release();
  KeReleaseMutex(m_Device->ControlMutex(), FALSE);
  return STATUS_SUCCESS;
}

NTSTATUS AsioHandle::DeviceControl(AsioRequest* request) {
  request->Information = 0;
  KeWaitForSingleObject(m_Device->ControlMutex(), Executive, KernelMode, FALSE, nullptr);
  NTSTATUS status =
      CheckAsioRequest(request->Code, m_State, request->InputLength, request->OutputLength);
  if (NT_SUCCESS(status)) status = Serve(request);
  KeReleaseMutex(m_Device->ControlMutex(), FALSE);
  // A failed request returns nothing; a cut product string still returns what fitted.
  if (!NT_SUCCESS(status) && status != STATUS_BUFFER_OVERFLOW) request->Information = 0;
  return status;
}

NTSTATUS AsioHandle::Serve(AsioRequest* request) {
  switch (request->Code) {
    case IOCTL_ASIO_ACQUIRE:
      return Acquire();
    case IOCTL_ASIO_PREPARE:
      return Prepare(request);
    case IOCTL_ASIO_START:
      return Start();
    case IOCTL_ASIO_STOP:
      return Stop();
    case IOCTL_ASIO_UNPREPARE:
      return Unprepare();
    case IOCTL_ASIO_RELEASE:
      return Release();
    case IOCTL_ASIO_ARM:
      m_Device->AsioStream().Arm();
      return STATUS_SUCCESS;
    case IOCTL_ASIO_GET_START_TIME:
      return GetStartTime(request);
    case IOCTL_ASIO_SET_START_TIME:
      return SetStartTime(request);
    default:
      return ServeDeviceRequest(*m_Device, request);
  }
}
