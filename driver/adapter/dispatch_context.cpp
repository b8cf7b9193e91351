#include "dispatch_context.h"

DispatchContext* GetDispatchContext(PDEVICE_OBJECT DeviceObject) {
  return reinterpret_cast<DispatchContext*>(static_cast<PUCHAR>(DeviceObject->DeviceExtension) +
                                            PORT_CLASS_DEVICE_EXTENSION_SIZE);
}

VOID ResetDispatchContext(DispatchContext* Context) {
  Context->Adapter = nullptr;
  KeInitializeMutex(&Context->DispatchMutex, 0);
  Context->Removing = 0;
  Context->DeviceGone = 0;
}
