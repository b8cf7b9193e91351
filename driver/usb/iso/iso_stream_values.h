// The streaming values of one direction's interface: what format selection stores when it picks
// an alternate setting, and what the transfer engine sizes, paces and checks its requests by.
// The device model's streaming interface record carries them; the engine sees only this part.
#pragma once

#include "kernel_mode.h"

struct IsoStreamValues {
  // The current alternate setting's pipes; null without one.
  PUSBD_PIPE_INFORMATION DataPipe;
  PUSBD_PIPE_INFORMATION FeedbackPipe;
  ULONG BytesPerFrame;      // F: channels times bytes per sample
  LONG NominalPacketBytes;  // N
  LONG MinimumPacketBytes;  // m
  LONG MaximumPacketBytes;  // M
  UCHAR IntegralRate;       // the rate fills whole packets, so a packet may run a frame short
  ULONG SampleRate;         // Hz; 0 without a format
  // Feedback of the playback stream, 16.16. Latest and in use are only touched under the lock;
  // the accumulator only by the thread that builds playback requests.
  ULONG FeedbackInUse;
  ULONG FeedbackLatest;
  KSPIN_LOCK FeedbackLock;
  ULONG FeedbackLastRaw;
  LONG FeedbackAccumulator;  // low 16 bits used
};
