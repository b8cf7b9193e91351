#include "usb_audio_model.h"

#include "usb_support.h"

CUSBAudioCL::CUSBAudioCL()
    : m_TransferPort(*this),
      m_Descriptors(*this, *this),
      m_Transfers(m_TransferPort),
      m_Control(*this, m_Descriptors, m_Transfers) {}

// The parts go before the CUSBCL part: the streaming records and the entities first.
CUSBAudioCL::~CUSBAudioCL() = default;

void* CUSBAudioCL::operator new(SIZE_T bytes) noexcept {
  return AllocateDriverPool(bytes);
}

void CUSBAudioCL::operator delete(void* memory) noexcept {
  FreeDriverPool(memory);
}

NTSTATUS CUSBAudioCL::Initialize(PDEVICE_OBJECT physicalDevice, PDEVICE_OBJECT functionDevice,
                                 ULONG irpCount) {
  PAGED_CODE();
  NTSTATUS status = StartFunction(physicalDevice, functionDevice, irpCount);
  if (!NT_SUCCESS(status)) return status;
  return BuildModel();
}

NTSTATUS CUSBAudioCL::BuildModel() {
  PAGED_CODE();
  const NTSTATUS status = m_Descriptors.Build();
  // A failed build leaves no streams (or fewer); the engine must not keep the old records.
  m_Transfers.Bind({PlaybackInterface(), CaptureInterface(), IsImplicitFeedbackMode(),
                    Quirks().playbackLengthHeader});
  return status;
}
