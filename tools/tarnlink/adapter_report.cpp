// What the adapter decided when it started the device.
#include "device_report.h"
#include "subdevice_names.h"
#include "transfer_settings.h"

namespace tarnlink::tool {

AdapterReport DescribeAdapter(UsbAudioAdapter& adapter) {
  AdapterReport r;
  r.fixedRate = adapter.FixedRate();
  r.nativeDsd = adapter.GetDsdNative() != 0;
  r.nativeDsdFromRegistry = adapter.NativeDsdFromRegistry();
  r.playbackOnly = adapter.PlaybackOnly();
  r.amdWorkaround = adapter.AmdWorkaround();
  // Driver-wide, as the device's initialisation left them for its transfer workers.
  r.playbackTransferMs = g_TransferSettings.PlaybackTransferMs;
  r.captureTransferMs = g_TransferSettings.CaptureTransferMs;
  r.playbackTransfersInFlight = g_TransferSettings.PlaybackTransfersInFlight;
  if (PCWSTR name = SubdeviceNameForRate(r.fixedRate)) {
    std::string text;
    for (; *name != 0; ++name) text.push_back(static_cast<char>(*name));
    r.referenceString = std::move(text);
  }
  return r;
}

}  // namespace tarnlink::tool
