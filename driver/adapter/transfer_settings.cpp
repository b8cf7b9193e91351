#include "transfer_settings.h"

namespace {

constexpr TransferSettings kInitialTransferSettings = {1, 1, 8, 8, 0};

}  // namespace

TransferSettings g_TransferSettings = kInitialTransferSettings;

VOID ResetTransferSettings() {
  g_TransferSettings = kInitialTransferSettings;
}
