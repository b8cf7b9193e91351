// A small device stack for I/O manager tests: a bus driver's physical device object with a
// function driver's device on top. The function driver records every request it sees and
// answers device controls with whatever the test scripts.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "kernel/device_object.h"
#include "kernel/driver_object_host.h"
#include "kernel/file_object.h"
#include "kernel/io_state.h"
#include "kernel/pnp_host.h"

namespace tarnlink::io::test {

struct SeenRequest {
  UCHAR major;
  std::u16string fileName;
  PFILE_OBJECT file;
};

// A cancel routine that completes its IRP with STATUS_CANCELLED.
inline VOID CompleteCancelled(PDEVICE_OBJECT, PIRP irp) {
  IoReleaseCancelSpinLock(irp->CancelIrql);
  irp->IoStatus.Status = STATUS_CANCELLED;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
}

class TestStack {
 public:
  // Creates both drivers and devices, the device node and the stack. Call on a kernel thread.
  void Build(std::u16string_view instanceId = u"USB\\VID_1234&PID_5678\\0001");
  // Deletes the devices and drivers again.
  void TearDown();
  // Registers and enables an interface of the class on the physical device object; returns
  // its link name (\??\...).
  std::u16string EnableInterface(const GUID& interfaceClass, std::u16string_view reference);

  PDEVICE_OBJECT pdo = nullptr;
  PDEVICE_OBJECT fdo = nullptr;
  PDRIVER_OBJECT busDriver = nullptr;
  PDRIVER_OBJECT functionDriver = nullptr;
  std::vector<SeenRequest> seen;
  // The major function of each request seen, in order.
  std::vector<UCHAR> Majors() const {
    std::vector<UCHAR> majors;
    for (const SeenRequest& r : seen) majors.push_back(r.major);
    return majors;
  }
  // The function driver's device-control handler; completes with STATUS_INVALID_DEVICE_REQUEST
  // when unset. It must complete (or pend) the IRP and return its status.
  std::function<NTSTATUS(PIRP)> onDeviceControl;

  static TestStack* current;
};

}  // namespace tarnlink::io::test
