// The private \asio channel as both ends see it: the request codes, the per-handle states, the
// request and reply records and the header of the two ring blocks the driver maps into the
// client. The kernel driver and the user-mode ASIO driver and control panel include this one
// header, so a record cannot drift between them; every layout is checked here at compile time.
#pragma once

#include <cstddef>

#ifdef _KERNEL_MODE
#include "kernel_mode.h"
#else
#include "user_mode.h"
#endif

// Buffered requests on the unknown device type: the I/O manager copies the input into one system
// buffer and copies back as many bytes as the driver reports, so no request needs access rights
// or a user-mode pointer checked by the driver.
#define ASIO_IOCTL(n) CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800 + (n), METHOD_BUFFERED, FILE_ANY_ACCESS)

#define IOCTL_ASIO_GET_RATE_RANGE ASIO_IOCTL(0x00)
#define IOCTL_ASIO_QUERY_FORMATS ASIO_IOCTL(0x01)
#define IOCTL_ASIO_GET_FIXED_RATE ASIO_IOCTL(0x02)
#define IOCTL_ASIO_SET_RATE ASIO_IOCTL(0x03)
#define IOCTL_ASIO_GET_DSD_NATIVE ASIO_IOCTL(0x04)
#define IOCTL_ASIO_GET_PRODUCT_STRING ASIO_IOCTL(0x05)
#define IOCTL_ASIO_GET_BUS_SPEED ASIO_IOCTL(0x06)
#define IOCTL_ASIO_ACQUIRE ASIO_IOCTL(0x10)
#define IOCTL_ASIO_PREPARE ASIO_IOCTL(0x11)
#define IOCTL_ASIO_START ASIO_IOCTL(0x12)
#define IOCTL_ASIO_STOP ASIO_IOCTL(0x13)
#define IOCTL_ASIO_UNPREPARE ASIO_IOCTL(0x14)
#define IOCTL_ASIO_RELEASE ASIO_IOCTL(0x15)
#define IOCTL_ASIO_GET_CAPTURE_PERIOD_MS ASIO_IOCTL(0x16)
#define IOCTL_ASIO_NOP ASIO_IOCTL(0x17)
#define IOCTL_ASIO_GET_INTERRUPTED ASIO_IOCTL(0x18)
#define IOCTL_ASIO_ARM ASIO_IOCTL(0x19)
#define IOCTL_ASIO_GET_START_TIME ASIO_IOCTL(0x1A)
#define IOCTL_ASIO_SET_START_TIME ASIO_IOCTL(0x1B)
#define IOCTL_ASIO_FAIL_NEXT_CAPTURE ASIO_IOCTL(0x1D)
#define IOCTL_ASIO_FAIL_NEXT_PLAYBACK ASIO_IOCTL(0x1E)
#define IOCTL_ASIO_SET_LATENCY_OVERRIDE ASIO_IOCTL(0x1F)
#define IOCTL_ASIO_SET_PREFILL_OVERRIDE ASIO_IOCTL(0x20)

static_assert(IOCTL_ASIO_GET_RATE_RANGE == 0x222000);
static_assert(IOCTL_ASIO_GET_BUS_SPEED == 0x222018);
static_assert(IOCTL_ASIO_ACQUIRE == 0x222040);
static_assert(IOCTL_ASIO_NOP == 0x22205C);
static_assert(IOCTL_ASIO_SET_START_TIME == 0x22206C);
static_assert(IOCTL_ASIO_FAIL_NEXT_CAPTURE == 0x222074);
static_assert(IOCTL_ASIO_SET_PREFILL_OVERRIDE == 0x222080);

// The state of one \asio handle; a request that needs another state is refused.
enum AsioHandleState : ULONG {
  AsioHandleClosed = 0,
  AsioHandleOpened = 1,
  AsioHandleAcquired = 2,
  AsioHandlePrepared = 3,
  AsioHandleRunning = 4,
};

// Format tags of the stream and of the format query.
constexpr USHORT ASIO_FORMAT_PCM = 1;
constexpr USHORT ASIO_FORMAT_FLOAT = 3;

// What a ring's data area holds where no audio has been written: DSD's idle pattern, or silence.
constexpr UCHAR ASIO_DSD_FILL_BYTE = 0x96;
constexpr UCHAR ASIO_PCM_FILL_BYTE = 0x00;

// Ring blocks are whole pages of non-paged memory, mapped into the client as they are.
constexpr ULONG ASIO_RING_PAGE_BYTES = 4096;

#pragma pack(push, 1)

// One (format tag, rate) pair of IOCTL_ASIO_QUERY_FORMATS; the client fills the first two
// fields, the driver the rest (0 channels and bits: the device cannot carry the pair).
struct FormatQueryRecord {
  USHORT formatTag;
  ULONG sampleRate;
  ULONG playbackChannels;
  ULONG playbackBits;
  ULONG captureChannels;
  ULONG captureBits;
};

// The input of IOCTL_ASIO_PREPARE. The event handles are 64 bits wide whatever the client's
// pointer size, so the record is the same for every client.
struct PrepareRequest {
  ULONG periodFrames;
  ULONG captureWanted;
  ULONG playbackWanted;
  ULONG latencyPercent;
  USHORT dsd;
  USHORT formatTag;
  ULONGLONG periodEvent;
  ULONGLONG outputEvent;
};

// The output of IOCTL_ASIO_PREPARE: where the ring blocks lie in the client (0: no such ring).
struct PrepareResult {
  ULONGLONG captureRing;
  ULONGLONG playbackRing;
};

// The output of IOCTL_ASIO_GET_RATE_RANGE.
struct RateRange {
  ULONG lowestRate;
  ULONG highestRate;
};

// The fixed part of the IOCTL_ASIO_GET_PRODUCT_STRING reply; as much UTF-16LE text as fits
// follows, then one NUL code unit.
struct ProductStringReply {
  ULONG length;  // of the whole string, in UTF-16 code units
  WCHAR text[1];
};

// The head of each ring block; the data area follows at once. Both processes can write it at
// any moment, so each side keeps what it relies on (sizes, its own offset) in its own memory and
// takes fill bytes and debt as hints.
struct SharedRingHeader {
  ULONG ringBytes;      // size of the data area: ring frames x frame bytes
  LONG fillBytes;       // written and not yet read; changed only by interlocked add
  ULONG frameBytes;     // channels x bytes per sample
  ULONG writeOffset;    // the producer's; ring bytes means 0
  ULONG readOffset;     // the consumer's
  LONG debt;            // > 0: the producer dropped bytes (overrun); < 0: the consumer ran dry
  ULONG interrupted;    // 1 once the driver broke the stream off
};

#pragma pack(pop)

static_assert(sizeof(FormatQueryRecord) == 22);
static_assert(offsetof(FormatQueryRecord, sampleRate) == 2);
static_assert(offsetof(FormatQueryRecord, playbackChannels) == 6);
static_assert(offsetof(FormatQueryRecord, playbackBits) == 10);
static_assert(offsetof(FormatQueryRecord, captureChannels) == 14);
static_assert(offsetof(FormatQueryRecord, captureBits) == 18);

static_assert(sizeof(PrepareRequest) == 36);
static_assert(offsetof(PrepareRequest, captureWanted) == 4);
static_assert(offsetof(PrepareRequest, playbackWanted) == 8);
static_assert(offsetof(PrepareRequest, latencyPercent) == 12);
static_assert(offsetof(PrepareRequest, dsd) == 16);
static_assert(offsetof(PrepareRequest, formatTag) == 18);
static_assert(offsetof(PrepareRequest, periodEvent) == 20);
static_assert(offsetof(PrepareRequest, outputEvent) == 28);

static_assert(sizeof(PrepareResult) == 16);
static_assert(offsetof(PrepareResult, playbackRing) == 8);

static_assert(sizeof(RateRange) == 8);
static_assert(offsetof(RateRange, highestRate) == 4);

static_assert(sizeof(WCHAR) == 2);
static_assert(offsetof(ProductStringReply, text) == 4);
// The reply that carries only the length and the NUL.
constexpr ULONG ASIO_PRODUCT_STRING_MIN_BYTES = offsetof(ProductStringReply, text) + sizeof(WCHAR);
static_assert(ASIO_PRODUCT_STRING_MIN_BYTES == 6);

static_assert(sizeof(SharedRingHeader) == 28);
static_assert(offsetof(SharedRingHeader, fillBytes) == 4);
static_assert(offsetof(SharedRingHeader, frameBytes) == 8);
static_assert(offsetof(SharedRingHeader, writeOffset) == 12);
static_assert(offsetof(SharedRingHeader, readOffset) == 16);
static_assert(offsetof(SharedRingHeader, debt) == 20);
static_assert(offsetof(SharedRingHeader, interrupted) == 24);
