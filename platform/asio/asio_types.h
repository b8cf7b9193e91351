// The ASIO driver interface's values and records: result codes, sample types, the records a
// host and a driver exchange, the future() and asioMessage() selectors.
//
// Every integer the published interface declares as `long` is 32 bits on 64-bit Windows, so it
// is LONG (or ULONG) here, which is 32 bits on every platform. The records are packed to 4 bytes
// as the published interface packs them on Windows; without that, a compiler that aligns
// doubles to 8 (MinGW among them) pads ASIOTimeCode and ASIOTime, and a host built with the
// published layout would read every field after the padding from the wrong place.
#pragma once

#include "user_mode.h"

typedef LONG ASIOError;
enum {
  ASE_OK = 0,
  ASE_SUCCESS = 0x3f4847a0,  // future(): the selector is supported and was carried out
  ASE_NotPresent = -1000,    // hardware input or output is not present or available
  ASE_HWMalfunction,         // hardware is malfunctioning
  ASE_InvalidParameter,      // input parameter invalid
  ASE_InvalidMode,           // hardware is in a bad mode or used in a bad mode
  ASE_SPNotAdvancing,        // hardware is not running when sample position is inquired
  ASE_NoClock,               // sample clock or rate cannot be determined or is not present
  ASE_NoMemory               // not enough memory to complete the request
};

typedef LONG ASIOBool;
enum { ASIOFalse = 0, ASIOTrue = 1 };

typedef double ASIOSampleRate;

// 64-bit quantities as two 32-bit halves, most significant first.
typedef struct ASIOSamples {
  ULONG hi;
  ULONG lo;
} ASIOSamples;
typedef struct ASIOTimeStamp {
  ULONG hi;
  ULONG lo;
} ASIOTimeStamp;

typedef LONG ASIOSampleType;
enum {
  ASIOSTInt16MSB = 0,
  ASIOSTInt24MSB = 1,  // packed 3 bytes
  ASIOSTInt32MSB = 2,
  ASIOSTFloat32MSB = 3,
  ASIOSTFloat64MSB = 4,
  // 32-bit containers holding fewer significant bits, right-aligned.
  ASIOSTInt32MSB16 = 8,
  ASIOSTInt32MSB18 = 9,
  ASIOSTInt32MSB20 = 10,
  ASIOSTInt32MSB24 = 11,
  ASIOSTInt16LSB = 16,
  ASIOSTInt24LSB = 17,  // packed 3 bytes
  ASIOSTInt32LSB = 18,
  ASIOSTFloat32LSB = 19,
  ASIOSTFloat64LSB = 20,
  ASIOSTInt32LSB16 = 24,
  ASIOSTInt32LSB18 = 25,
  ASIOSTInt32LSB20 = 26,
  ASIOSTInt32LSB24 = 27,
  // One-bit DSD: 8 samples per byte, first sample in the least or most significant bit, or
  // 8-bit samples holding one DSD bit each.
  ASIOSTDSDInt8LSB1 = 32,
  ASIOSTDSDInt8MSB1 = 33,
  ASIOSTDSDInt8NER8 = 40,
  ASIOSTLastEntry
};

// AsioTimeInfo::flags.
enum AsioTimeInfoFlags {
  kSystemTimeValid = 1,
  kSamplePositionValid = 1 << 1,
  kSampleRateValid = 1 << 2,
  kSpeedValid = 1 << 3,
  kSampleRateChanged = 1 << 4,
  kClockSourceChanged = 1 << 5
};

// ASIOTimeCode::flags.
enum ASIOTimeCodeFlags {
  kTcValid = 1,
  kTcRunning = 1 << 1,
  kTcReverse = 1 << 2,
  kTcOnspeed = 1 << 3,
  kTcStill = 1 << 4,
  kTcSpeedValid = 1 << 8
};

// future() selectors.
enum {
  kAsioEnableTimeCodeRead = 1,
  kAsioDisableTimeCodeRead,
  kAsioSetInputMonitor,
  kAsioTransport,
  kAsioSetInputGain,
  kAsioGetInputMeter,
  kAsioSetOutputGain,
  kAsioGetOutputMeter,
  kAsioCanInputMonitor,
  kAsioCanTimeInfo,
  kAsioCanTimeCode,
  kAsioCanTransport,
  kAsioCanInputGain,
  kAsioCanInputMeter,
  kAsioCanOutputGain,
  kAsioCanOutputMeter,
  kAsioOptionalOne,
  kAsioSetIoFormat = 0x23111961,
  kAsioGetIoFormat = 0x23111983,
  kAsioCanDoIoFormat = 0x23112004,
  kAsioCanReportOverload = 0x24042012,
  kAsioGetInternalBufferSamples = 0x25042012,
  kAsioSupportsInputResampling = 0x26092017
};

// asioMessage() selectors.
enum {
  kAsioSelectorSupported = 1,
  kAsioEngineVersion,
  kAsioResetRequest,
  kAsioBufferSizeChange,
  kAsioResyncRequest,
  kAsioLatenciesChanged,
  kAsioSupportsTimeInfo,
  kAsioSupportsTimeCode,
  kAsioMMCCommand,
  kAsioSupportsInputMonitor,
  kAsioSupportsInputGain,
  kAsioSupportsInputMeter,
  kAsioSupportsOutputGain,
  kAsioSupportsOutputMeter,
  kAsioOverload,
  kAsioNumMessageSelectors
};

// Transport commands (kAsioTransport).
enum {
  kTransStart = 1,
  kTransStop,
  kTransLocate,
  kTransPunchIn,
  kTransPunchOut,
  kTransArmOn,
  kTransArmOff,
  kTransMonitorOn,
  kTransMonitorOff,
  kTransArm,
  kTransMonitor
};

// The sample format family of kAsioSetIoFormat, kAsioGetIoFormat and kAsioCanDoIoFormat.
typedef enum ASIOIoFormatType_e {
  kASIOFormatInvalid = -1,
  kASIOPCMFormat = 0,
  kASIODSDFormat = 1
} ASIOIoFormatType;

#pragma pack(push, 4)

typedef struct AsioTimeInfo {
  double speed;  // absolute speed, 1.0 = nominal
  ASIOTimeStamp systemTime;  // nanoseconds, of the buffer switch
  ASIOSamples samplePosition;
  ASIOSampleRate sampleRate;
  ULONG flags;  // AsioTimeInfoFlags
  char reserved[12];
} AsioTimeInfo;

typedef struct ASIOTimeCode {
  double speed;
  ASIOSamples timeCodeSamples;  // time in samples
  ULONG flags;                  // ASIOTimeCodeFlags
  char future[64];
} ASIOTimeCode;

typedef struct ASIOTime {
  LONG reserved[4];
  struct AsioTimeInfo timeInfo;
  struct ASIOTimeCode timeCode;
} ASIOTime;

typedef struct ASIOCallbacks {
  void (*bufferSwitch)(LONG doubleBufferIndex, ASIOBool directProcess);
  void (*sampleRateDidChange)(ASIOSampleRate sRate);
  LONG (*asioMessage)(LONG selector, LONG value, void* message, double* opt);
  ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, LONG doubleBufferIndex,
                                    ASIOBool directProcess);
} ASIOCallbacks;

typedef struct ASIOClockSource {
  LONG index;
  LONG associatedChannel;  // -1: not tied to a channel
  LONG associatedGroup;    // -1: not tied to a group
  ASIOBool isCurrentSource;
  char name[32];
} ASIOClockSource;

typedef struct ASIODriverInfo {
  LONG asioVersion;    // set by the host
  LONG driverVersion;  // set by the driver
  char name[32];
  char errorMessage[124];
  void* sysRef;  // the host's window handle on Windows
} ASIODriverInfo;

typedef struct ASIOBufferInfo {
  ASIOBool isInput;
  LONG channelNum;
  void* buffers[2];  // the two halves, filled in by createBuffers
} ASIOBufferInfo;

typedef struct ASIOChannelInfo {
  LONG channel;  // set by the host
  ASIOBool isInput;  // set by the host
  ASIOBool isActive;
  LONG channelGroup;
  ASIOSampleType type;
  char name[32];
} ASIOChannelInfo;

typedef struct ASIOInputMonitor {
  LONG input;  // -1: all
  LONG output;
  LONG gain;  // 0 .. 0x7fffffff, 0x20000000 = 0 dB
  ASIOBool state;
  LONG pan;  // 0 = left, 0x7fffffff = right
} ASIOInputMonitor;

typedef struct ASIOChannelControls {
  LONG channel;
  ASIOBool isInput;
  LONG gain;
  LONG meter;
  char future[32];
} ASIOChannelControls;

typedef struct ASIOTransportParameters {
  LONG command;
  ASIOSamples samplePosition;
  LONG track;
  LONG trackSwitches[16];
  char future[64];
} ASIOTransportParameters;

typedef struct ASIOIoFormat_s {
  ASIOIoFormatType FormatType;
  char future[512 - sizeof(ASIOIoFormatType)];
} ASIOIoFormat;

typedef struct ASIOInternalBufferInfo {
  LONG inputSamples;
  LONG outputSamples;
} ASIOInternalBufferInfo;

#pragma pack(pop)

// The 64-bit Windows layout, which hosts compiled against the published interface expect.
#if defined(_WIN64) || defined(__x86_64__)
static_assert(sizeof(ASIOSamples) == 8 && sizeof(ASIOTimeStamp) == 8);
static_assert(offsetof(ASIOSamples, hi) == 0 && offsetof(ASIOSamples, lo) == 4);
static_assert(offsetof(ASIOTimeStamp, hi) == 0 && offsetof(ASIOTimeStamp, lo) == 4);
static_assert(sizeof(ASIOBufferInfo) == 24 && offsetof(ASIOBufferInfo, buffers) == 8);
static_assert(sizeof(ASIOChannelInfo) == 52 && offsetof(ASIOChannelInfo, name) == 20);
static_assert(sizeof(ASIOClockSource) == 48 && offsetof(ASIOClockSource, name) == 16);
static_assert(sizeof(ASIOCallbacks) == 32);
static_assert(sizeof(AsioTimeInfo) == 48 && offsetof(AsioTimeInfo, flags) == 32);
static_assert(sizeof(ASIOTimeCode) == 84 && offsetof(ASIOTimeCode, future) == 20);
static_assert(sizeof(ASIOTime) == 148 && offsetof(ASIOTime, timeInfo) == 16 &&
              offsetof(ASIOTime, timeCode) == 64);
static_assert(sizeof(ASIOIoFormat) == 512);
static_assert(sizeof(ASIODriverInfo) == 172 && offsetof(ASIODriverInfo, errorMessage) == 40 &&
              offsetof(ASIODriverInfo, sysRef) == 164);
static_assert(sizeof(ASIOTransportParameters) == 144);
static_assert(sizeof(ASIOInputMonitor) == 20 && sizeof(ASIOChannelControls) == 48);
#endif
