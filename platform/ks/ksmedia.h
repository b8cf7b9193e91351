// The audio part of kernel streaming: wave formats, audio data ranges, node types, the audio
// and real-time audio property sets, with the published names, values and 64-bit Windows
// layouts.
#pragma once

#include "ks/ks.h"

#define WAVE_FORMAT_PCM 0x0001
#define WAVE_FORMAT_IEEE_FLOAT 0x0003
#define WAVE_FORMAT_ALAW 0x0006
#define WAVE_FORMAT_MULAW 0x0007
#define WAVE_FORMAT_EXTENSIBLE 0xFFFE

#pragma pack(push, 1)
typedef struct tWAVEFORMATEX {
  USHORT wFormatTag;
  USHORT nChannels;
  ULONG nSamplesPerSec;
  ULONG nAvgBytesPerSec;
  USHORT nBlockAlign;
  USHORT wBitsPerSample;
  USHORT cbSize;
} WAVEFORMATEX, *PWAVEFORMATEX;

typedef struct {
  WAVEFORMATEX Format;
  union {
    USHORT wValidBitsPerSample;
    USHORT wSamplesPerBlock;
    USHORT wReserved;
  } Samples;
  ULONG dwChannelMask;
  GUID SubFormat;
} WAVEFORMATEXTENSIBLE, *PWAVEFORMATEXTENSIBLE;
#pragma pack(pop)

typedef struct {
  KSDATAFORMAT DataFormat;
  WAVEFORMATEX WaveFormatEx;
} KSDATAFORMAT_WAVEFORMATEX, *PKSDATAFORMAT_WAVEFORMATEX;

typedef struct {
  KSDATAFORMAT DataFormat;
  WAVEFORMATEXTENSIBLE WaveFormatExt;
} KSDATAFORMAT_WAVEFORMATEXTENSIBLE, *PKSDATAFORMAT_WAVEFORMATEXTENSIBLE;

// A DirectSound format: the buffer description comes before the wave format.
typedef struct {
  ULONG Flags;
  ULONG Control;
  WAVEFORMATEX WaveFormatEx;
} KSDSOUND_BUFFERDESC;

typedef struct {
  KSDATARANGE DataRange;
  ULONG MaximumChannels;
  ULONG MinimumBitsPerSample;
  ULONG MaximumBitsPerSample;
  ULONG MinimumSampleFrequency;
  ULONG MaximumSampleFrequency;
} KSDATARANGE_AUDIO, *PKSDATARANGE_AUDIO;

typedef struct {
  KSATTRIBUTE AttributeHeader;
  GUID SignalProcessingMode;
} KSATTRIBUTE_AUDIOSIGNALPROCESSING_MODE, *PKSATTRIBUTE_AUDIOSIGNALPROCESSING_MODE;

// A node property addressed to one channel; -1 names the master channel.
typedef struct {
  KSNODEPROPERTY NodeProperty;
  LONG Channel;
  ULONG Reserved;
} KSNODEPROPERTY_AUDIO_CHANNEL, *PKSNODEPROPERTY_AUDIO_CHANNEL;

typedef enum {
  eConnTypeUnknown,
  eConnType3Point5mm,
  eConnTypeQuarter,
  eConnTypeAtapiInternal,
  eConnTypeRCA,
  eConnTypeOptical,
  eConnTypeOtherDigital,
  eConnTypeOtherAnalog,
  eConnTypeMultichannelAnalogDIN,
  eConnTypeXlrProfessional,
  eConnTypeRJ11Modem,
  eConnTypeCombination,
} EPcxConnectionType;

typedef enum {
  eGeoLocRear = 1,
  eGeoLocFront,
  eGeoLocLeft,
  eGeoLocRight,
  eGeoLocTop,
  eGeoLocBottom,
} EPcxGeoLocation;

typedef enum {
  eGenLocPrimaryBox,
  eGenLocInternal,
  eGenLocSeparate,
  eGenLocOther,
} EPcxGenLocation;

typedef enum {
  ePortConnJack,
  ePortConnIntegratedDevice,
  ePortConnBothIntegratedAndJack,
  ePortConnUnknown,
} EPxcPortConnection;

// What a bridge pin's jack looks like and whether something is plugged into it.
typedef struct {
  ULONG ChannelMapping;
  ULONG Color;  // COLORREF
  EPcxConnectionType ConnectionType;
  EPcxGeoLocation GeoLocation;
  EPcxGenLocation GenLocation;
  EPxcPortConnection PortConnection;
  BOOL IsConnected;
} KSJACK_DESCRIPTION, *PKSJACK_DESCRIPTION;

#define JACKDESC2_PRESENCE_DETECT_CAPABILITY 0x00000001
#define JACKDESC2_DYNAMIC_FORMAT_CHANGE_CAPABILITY 0x00000002

typedef struct {
  ULONG DeviceStateInfo;
  ULONG JackCapabilities;
} KSJACK_DESCRIPTION2, *PKSJACK_DESCRIPTION2;

// The position a WaveRT stream reports, in bytes of its cyclic buffer.
typedef struct {
  ULONGLONG PlayOffset;
  ULONGLONG WriteOffset;
} KSAUDIO_POSITION, *PKSAUDIO_POSITION;

typedef struct {
  ULONG FifoSize;
  ULONG ChipsetDelay;
  ULONG CodecDelay;
} KSRTAUDIO_HWLATENCY, *PKSRTAUDIO_HWLATENCY;

typedef struct {
  KSPROPERTY Property;
  PVOID BaseAddress;
  ULONG RequestedBufferSize;
  ULONG NotificationCount;
} KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION, *PKSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION;

typedef struct {
  PVOID BufferAddress;
  ULONG ActualBufferSize;
  BOOL CallMemoryBarrier;
} KSRTAUDIO_BUFFER, *PKSRTAUDIO_BUFFER;

typedef struct {
  KSPROPERTY Property;
  HANDLE NotificationEvent;
} KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY, *PKSRTAUDIO_NOTIFICATION_EVENT_PROPERTY;

typedef enum {
  KSPROPERTY_RTAUDIO_GETPOSITIONFUNCTION,
  KSPROPERTY_RTAUDIO_BUFFER,
  KSPROPERTY_RTAUDIO_HWLATENCY,
  KSPROPERTY_RTAUDIO_POSITIONREGISTER,
  KSPROPERTY_RTAUDIO_CLOCKREGISTER,
  KSPROPERTY_RTAUDIO_BUFFER_WITH_NOTIFICATION,
  KSPROPERTY_RTAUDIO_REGISTER_NOTIFICATION_EVENT,
  KSPROPERTY_RTAUDIO_UNREGISTER_NOTIFICATION_EVENT,
} KSPROPERTY_RTAUDIO;

#define KSPROPERTY_AUDIO_VOLUMELEVEL 4
#define KSPROPERTY_AUDIO_POSITION 5
#define KSPROPERTY_AUDIO_MUTE 13
#define KSPROPERTY_GENERAL_COMPONENTID 0
#define KSPROPERTY_JACK_DESCRIPTION 1
#define KSPROPERTY_JACK_DESCRIPTION2 2
#define KSPROPERTY_AUDIOSIGNALPROCESSING_MODES 0

#define KSAUDIO_SPEAKER_STEREO 0x00000003

#define KSNODETYPE_GUID(data1) {data1, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}}

// {73647561-0000-0010-8000-00AA00389B71}
inline constexpr GUID KSDATAFORMAT_TYPE_AUDIO = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000001-0000-0010-8000-00AA00389B71}
inline constexpr GUID KSDATAFORMAT_SUBTYPE_PCM = {
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000003-0000-0010-8000-00AA00389B71}
inline constexpr GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000006-0000-0010-8000-00AA00389B71}
inline constexpr GUID KSDATAFORMAT_SUBTYPE_ALAW = {
    0x00000006, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {00000007-0000-0010-8000-00AA00389B71}
inline constexpr GUID KSDATAFORMAT_SUBTYPE_MULAW = {
    0x00000007, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// {6DBA3190-67BD-11CF-A0F7-0020AFD156E4}
inline constexpr GUID KSDATAFORMAT_SUBTYPE_ANALOG = {
    0x6DBA3190, 0x67BD, 0x11CF, {0xA0, 0xF7, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};
// {05589F81-C356-11CE-BF01-00AA0055595A}
inline constexpr GUID KSDATAFORMAT_SPECIFIER_WAVEFORMATEX = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
// {518590A2-A184-11D0-8522-00C04FD9BAF3}
inline constexpr GUID KSDATAFORMAT_SPECIFIER_DSOUND = {
    0x518590A2, 0xA184, 0x11D0, {0x85, 0x22, 0x00, 0xC0, 0x4F, 0xD9, 0xBA, 0xF3}};

// {4D837FE0-C555-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_ADC = {
    0x4D837FE0, 0xC555, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
// {507AE360-C554-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_DAC = {
    0x507AE360, 0xC554, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
// {02B223C0-C557-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_MUTE = KSNODETYPE_GUID(0x02B223C0);
// {3A5ACC00-C557-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_VOLUME = KSNODETYPE_GUID(0x3A5ACC00);
// {7607E580-C557-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_TONE = KSNODETYPE_GUID(0x7607E580);
// {9D41B4A0-C557-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_EQUALIZER = KSNODETYPE_GUID(0x9D41B4A0);
// {E88C9BA0-C557-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_AGC = KSNODETYPE_GUID(0xE88C9BA0);
// {144981E0-C558-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_DELAY = {
    0x144981E0, 0xC558, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
// {41887440-C558-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_LOUDNESS = {
    0x41887440, 0xC558, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
// {941C7AC0-C559-11D0-8A2B-00A0C9255AC1}
inline constexpr GUID KSNODETYPE_DEV_SPECIFIC = {
    0x941C7AC0, 0xC559, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
#undef KSNODETYPE_GUID

// The node types of the USB terminal types share one pattern: Data1 is 0xDFF219E0 plus the
// terminal type.
inline constexpr GUID KsNodeTypeOfUsbTerminal(USHORT terminalType) {
  return {0xDFF219E0u + terminalType, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
}
// {DFF21CE2-F70F-11D0-B917-00A0C9223196}
inline constexpr GUID KSNODETYPE_HEADPHONES = KsNodeTypeOfUsbTerminal(0x0302);
// {DFF21CE1-F70F-11D0-B917-00A0C9223196}
inline constexpr GUID KSNODETYPE_SPEAKER = KsNodeTypeOfUsbTerminal(0x0301);

// {45FFAAA0-6E1B-11D0-BCF2-444553540000}
inline constexpr GUID KSPROPSETID_Audio = {
    0x45FFAAA0, 0x6E1B, 0x11D0, {0xBC, 0xF2, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
// {1464EDA5-6A8F-11D1-9AA7-00A0C9223196}
inline constexpr GUID KSPROPSETID_General = {
    0x1464EDA5, 0x6A8F, 0x11D1, {0x9A, 0xA7, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
// {4509F757-2D46-4637-8E62-CE7DB944F57B}
inline constexpr GUID KSPROPSETID_Jack = {
    0x4509F757, 0x2D46, 0x4637, {0x8E, 0x62, 0xCE, 0x7D, 0xB9, 0x44, 0xF5, 0x7B}};
// {A855A48C-2F78-4729-9051-1968746B9EEF}
inline constexpr GUID KSPROPSETID_RtAudio = {
    0xA855A48C, 0x2F78, 0x4729, {0x90, 0x51, 0x19, 0x68, 0x74, 0x6B, 0x9E, 0xEF}};
// {4F67B528-30C9-40DE-B2FB-859DDD1F3470}
inline constexpr GUID KSPROPSETID_AudioSignalProcessing = {
    0x4F67B528, 0x30C9, 0x40DE, {0xB2, 0xFB, 0x85, 0x9D, 0xDD, 0x1F, 0x34, 0x70}};
// {E1F89EB5-5F46-419B-967B-FF6770B98401}
inline constexpr GUID KSATTRIBUTEID_AUDIOSIGNALPROCESSING_MODE = {
    0xE1F89EB5, 0x5F46, 0x419B, {0x96, 0x7B, 0xFF, 0x67, 0x70, 0xB9, 0x84, 0x01}};
// {9E90EA20-B493-4FD1-A1A8-7E1361A956CF}
inline constexpr GUID AUDIO_SIGNALPROCESSINGMODE_RAW = {
    0x9E90EA20, 0xB493, 0x4FD1, {0xA1, 0xA8, 0x7E, 0x13, 0x61, 0xA9, 0x56, 0xCF}};

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(WAVEFORMATEXTENSIBLE) == 40 && offsetof(WAVEFORMATEXTENSIBLE, SubFormat) == 24);
static_assert(sizeof(KSDATAFORMAT_WAVEFORMATEXTENSIBLE) == 104);
static_assert(offsetof(KSDATAFORMAT_WAVEFORMATEX, WaveFormatEx) == 64);
static_assert(sizeof(KSDATARANGE_AUDIO) == 88 &&
              offsetof(KSDATARANGE_AUDIO, MaximumSampleFrequency) == 80);
static_assert(sizeof(KSATTRIBUTE_AUDIOSIGNALPROCESSING_MODE) == 40);
static_assert(sizeof(KSNODEPROPERTY_AUDIO_CHANNEL) == 40 &&
              offsetof(KSNODEPROPERTY_AUDIO_CHANNEL, Channel) == 32);
static_assert(sizeof(KSJACK_DESCRIPTION) == 28 && sizeof(KSJACK_DESCRIPTION2) == 8);
static_assert(sizeof(KSAUDIO_POSITION) == 16 && sizeof(KSRTAUDIO_HWLATENCY) == 12);
static_assert(sizeof(KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION) == 40 &&
              offsetof(KSRTAUDIO_BUFFER_PROPERTY_WITH_NOTIFICATION, NotificationCount) == 36);
static_assert(sizeof(KSRTAUDIO_BUFFER) == 16);
static_assert(sizeof(KSRTAUDIO_NOTIFICATION_EVENT_PROPERTY) == 32);
