// The adapter's private interfaces: IUsbAudioAdapter, through which the miniport, the private
// channel and the stream engine share the device, and IAdapterDsd for the stream kind. Slot
// order is part of the contract: callers reach the operations through the table.
#pragma once

#include "driver_types.h"
#include "kernel_mode.h"

// {0078EE32-7332-4BEB-926C-00D6728A4EC0}
inline constexpr GUID IID_IUsbAudioAdapter = {
    0x0078EE32, 0x7332, 0x4BEB, {0x92, 0x6C, 0x00, 0xD6, 0x72, 0x8A, 0x4E, 0xC0}};
// {5D7B2296-9433-4092-A76C-DC1C828D6EA4}
inline constexpr GUID IID_IAdapterDsd = {
    0x5D7B2296, 0x9433, 0x4092, {0xA7, 0x6C, 0xDC, 0x1C, 0x82, 0x8D, 0x6E, 0xA4}};

// The shared vocabulary as the numbers the interface operations take.
inline constexpr ULONG kDirectionPlayback = Value(Direction::Playback);
inline constexpr ULONG kDirectionCapture = Value(Direction::Capture);
inline constexpr ULONG kDirectionCount = 2;

inline constexpr USHORT kStreamKindPcm = Value(StreamKind::Pcm);
inline constexpr USHORT kStreamKindDsd = Value(StreamKind::NativeDsd);

// A direction's format: what the operating-system stream asked for (OsFormat), or what the USB
// alternate setting carries (UsbFormat).
struct StreamFormat {
  USHORT FormatTag;
  ULONG Channels;
  ULONG Bits;
  ULONG Rate;
  ULONG FrameBytes;  // Channels x Bits / 8
};
using OsFormat = StreamFormat;
using UsbFormat = StreamFormat;

// The WaveRT miniport's stream-control interface and the miniport's filter descriptor block;
// both are defined with the miniport.
struct IMiniportStreamControl;
typedef IMiniportStreamControl* PMINIPORTSTREAMCONTROL;
struct FilterDescriptorBlock;

struct IUsbAudioAdapter : IUnknown {
  STDMETHOD(Init)(PDEVICE_OBJECT PhysicalDeviceObject, PDEVICE_OBJECT DeviceObject) PURE;
  STDMETHOD(ClaimDirections)(BOOLEAN Capture, BOOLEAN Playback, BOOLEAN Exclusive) PURE;
  STDMETHOD(ReleaseDirections)(BOOLEAN Capture, BOOLEAN Playback) PURE;
  STDMETHOD(RegisterMiniport)(PMINIPORTSTREAMCONTROL Miniport) PURE;
  STDMETHOD(UnregisterMiniport)(PMINIPORTSTREAMCONTROL Miniport) PURE;
  STDMETHOD(SetOsFormat)
  (ULONG Direction, USHORT FormatTag, ULONG Channels, ULONG Bits, ULONG Rate) PURE;
  STDMETHOD(ClearOsFormat)(ULONG Direction) PURE;
  STDMETHOD(QueuePlaybackChunk)(PVOID Address, ULONG Bytes) PURE;
  STDMETHOD(QueueCaptureChunk)(PVOID Address, ULONG Bytes) PURE;
  STDMETHOD(FlushPlaybackChunks)() PURE;
  STDMETHOD(FlushCaptureChunks)() PURE;
  STDMETHOD(NotifyRemoval)() PURE;
  STDMETHOD(HandleNodeProperty)(PPCPROPERTY_REQUEST Request) PURE;
  STDMETHOD(HandleJackProperty)(PPCPROPERTY_REQUEST Request) PURE;
  STDMETHOD(GetSignalProcessingModes)(ULONG Pin, GUID* Modes, PULONG Count) PURE;
  STDMETHOD(GetFixedRate)(PULONG Rate) PURE;
  STDMETHOD(SetFixedRate)(ULONG Rate) PURE;
  STDMETHOD(GetRateRange)(PULONG Minimum, PULONG Maximum) PURE;
  // The caller's bounds go in through Minimum and Maximum; the device's range inside them
  // comes out.
  STDMETHOD(GetDirectionRateRange)(ULONG Direction, PULONG Minimum, PULONG Maximum) PURE;
  STDMETHOD(BuildFilterDescriptor)(FilterDescriptorBlock* Descriptor) PURE;
  STDMETHOD(FreeFilterDescriptor)(FilterDescriptorBlock* Descriptor) PURE;
  STDMETHOD(StartOsDirection)(ULONG Direction, ULONG BufferBytes) PURE;
  STDMETHOD(StopOsDirection)(ULONG Direction) PURE;
  STDMETHOD(GetPipeInfo)(ULONG Direction, PDRMFORWARD Record) PURE;

 protected:
  ~IUsbAudioAdapter() = default;
};
typedef IUsbAudioAdapter* PUSBAUDIOADAPTER;

struct IAdapterDsd : IUnknown {
  STDMETHOD(SetStreamKind)(USHORT Kind) PURE;
  STDMETHOD_(ULONG, GetDsdNative)() PURE;

 protected:
  ~IAdapterDsd() = default;
};
typedef IAdapterDsd* PADAPTERDSD;
