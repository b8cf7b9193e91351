// UsbAudioAdapter: the wave filter's description, built from the device model for the miniport.
#include "filter_descriptor.h"
#include "usb_audio_adapter.h"

STDMETHODIMP UsbAudioAdapter::BuildFilterDescriptor(FilterDescriptorBlock* Descriptor) {
  if (Descriptor == nullptr) return STATUS_INVALID_PARAMETER;
  return ::BuildFilterDescriptor(&m_Model, Descriptor);
}

STDMETHODIMP UsbAudioAdapter::FreeFilterDescriptor(FilterDescriptorBlock* Descriptor) {
  ::FreeFilterDescriptor(Descriptor);
  return STATUS_SUCCESS;
}
