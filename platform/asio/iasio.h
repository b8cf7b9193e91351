// IASIO, the interface an ASIO host calls on a driver: a COM interface whose slots follow
// IUnknown's in the published order. A host creates the driver with the driver's class id as
// both class id and interface id, so IASIO has no interface id of its own.
#pragma once

#include "asio/asio_types.h"

struct IASIO : public IUnknown {
  virtual ASIOBool init(void* sysHandle) = 0;
  virtual void getDriverName(char* name) = 0;  // at most 32 bytes with the terminator
  virtual LONG getDriverVersion() = 0;
  virtual void getErrorMessage(char* string) = 0;  // at most 124 bytes with the terminator
  virtual ASIOError start() = 0;
  virtual ASIOError stop() = 0;
  virtual ASIOError getChannels(LONG* numInputChannels, LONG* numOutputChannels) = 0;
  virtual ASIOError getLatencies(LONG* inputLatency, LONG* outputLatency) = 0;
  virtual ASIOError getBufferSize(LONG* minSize, LONG* maxSize, LONG* preferredSize,
                                  LONG* granularity) = 0;
  virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;
  virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
  virtual ASIOError getClockSources(ASIOClockSource* clocks, LONG* numSources) = 0;
  virtual ASIOError setClockSource(LONG reference) = 0;
  virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
  virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
  virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, LONG numChannels,
                                  LONG bufferSize, ASIOCallbacks* callbacks) = 0;
  virtual ASIOError disposeBuffers() = 0;
  virtual ASIOError controlPanel() = 0;
  virtual ASIOError future(LONG selector, void* opt) = 0;
  virtual ASIOError outputReady() = 0;

 protected:
  ~IASIO() = default;
};
