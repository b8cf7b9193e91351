// The entities of the audio control interface: terminals, units, clock sources and clock
// selectors, one object per descriptor the entity walk recognises. They reference each other by
// ID, resolved by Link once the whole list exists, and send their class requests through the
// owning function.
//
// Every entity is created only for a descriptor whose bLength covers the fields its class reads
// (the walk checks it against the descriptor rules), so no accessor reads past it.
#pragma once

#include "audio_descriptors.h"
#include "kernel_mode.h"
#include "usb_audio_class.h"

class CUSBAudioCL;

inline constexpr ULONG kNoEntityId = 0xFFFFFFFF;
inline constexpr ULONG kConnectorStateUnknown = 0xFFFFFFFF;

class CUSBAudioEntity {
 public:
  CUSBAudioEntity(CUSBAudioCL* owner, const UCHAR* descriptor)
      : m_Owner(owner), m_Descriptor(descriptor) {}
  virtual ~CUSBAudioEntity() = default;
  CUSBAudioEntity(const CUSBAudioEntity&) = delete;
  CUSBAudioEntity& operator=(const CUSBAudioEntity&) = delete;

  // Entities live in the driver's pool; a failed allocation yields null, never an exception.
  static void* operator new(SIZE_T bytes) noexcept;
  static void operator delete(void* memory) noexcept;

  virtual NTSTATUS Link() = 0;
  virtual VOID Dump();
  virtual ULONG GetID();
  // Writes the display name, always terminated; STATUS_BUFFER_TOO_SMALL when it was cut.
  virtual NTSTATUS GetName(PCHAR buffer, ULONG size) = 0;
  virtual ULONG GetSourceID(ULONG position);

  CUSBAudioEntity* Next() const { return m_Next; }
  VOID SetNext(CUSBAudioEntity* next) { m_Next = next; }
  const UCHAR* Descriptor() const { return m_Descriptor; }
  UCHAR Subtype() const { return m_Descriptor != nullptr ? m_Descriptor[2] : 0; }
  // wTerminalType, or USB streaming for an entity without a descriptor.
  USHORT TerminalType() const;
  BOOLEAN IsInputTerminal() const { return Subtype() == uac::ac::kInputTerminal; }
  BOOLEAN IsTerminal() const;
  BOOLEAN IsClock() const;
  BOOLEAN IsUnit() const;

 protected:
  NTSTATUS FormatName(const char* prefix, PCHAR buffer, ULONG size);

  CUSBAudioEntity* m_Next = nullptr;
  CUSBAudioCL* m_Owner;
  const UCHAR* m_Descriptor;
};

class CUSBAudioDummyEntity : public CUSBAudioEntity {
 public:
  using CUSBAudioEntity::CUSBAudioEntity;
  NTSTATUS Link() override { return STATUS_SUCCESS; }
  NTSTATUS GetName(PCHAR buffer, ULONG size) override { return FormatName("Dummy", buffer, size); }
};

class CUSBAudioProcessingUnit : public CUSBAudioEntity {
 public:
  using CUSBAudioEntity::CUSBAudioEntity;
  // Processing units are not modelled: a function that ends with one cannot be driven.
  NTSTATUS Link() override { return STATUS_NOT_IMPLEMENTED; }
  NTSTATUS GetName(PCHAR buffer, ULONG size) override {
    return FormatName("Processing", buffer, size);
  }
};

class CUSBAudioClock : public CUSBAudioEntity {
 public:
  using CUSBAudioEntity::CUSBAudioEntity;
  // The clock operations send class requests: PASSIVE_LEVEL.
  _IRQL_requires_(PASSIVE_LEVEL) virtual NTSTATUS GetSampleRate(_Out_ PULONG rate) = 0;
  // The lowest dMIN and highest dMAX that lie within [lower, upper]; 0 when none does.
  _IRQL_requires_(PASSIVE_LEVEL) virtual NTSTATUS
      GetSampleRateRange(_Out_ PULONG minimum, _Out_ PULONG maximum, ULONG lower, ULONG upper) = 0;
  _IRQL_requires_(PASSIVE_LEVEL) virtual NTSTATUS IsSampleRateSupported(ULONG rate) = 0;
  _IRQL_requires_(PASSIVE_LEVEL) virtual NTSTATUS SetSampleRate(ULONG rate) = 0;
  _IRQL_requires_(PASSIVE_LEVEL) virtual BOOLEAN IsValid() = 0;

 protected:
  // Clocks exist only in Audio 2.0 functions.
  NTSTATUS LinkClock();
};

class CUSBAudioClockSource : public CUSBAudioClock {
 public:
  using CUSBAudioClock::CUSBAudioClock;
  NTSTATUS Link() override { return LinkClock(); }
  NTSTATUS GetName(PCHAR buffer, ULONG size) override {
    return FormatName("ClockSource", buffer, size);
  }
  NTSTATUS GetSampleRate(PULONG rate) override;
  NTSTATUS GetSampleRateRange(PULONG minimum, PULONG maximum, ULONG lower, ULONG upper) override;
  NTSTATUS IsSampleRateSupported(ULONG rate) override;
  NTSTATUS SetSampleRate(ULONG rate) override;
  BOOLEAN IsValid() override;

 private:
  const ClockSource2* Source() const { return reinterpret_cast<const ClockSource2*>(m_Descriptor); }
  // The RANGE answer in pool memory (freed by the caller with FreeDriverPool) and its subrange
  // count.
  NTSTATUS ReadRanges(PUCHAR* ranges, PULONG count);
};

class CUSBAudioClockSelector : public CUSBAudioClock {
 public:
  using CUSBAudioClock::CUSBAudioClock;
  NTSTATUS Link() override { return LinkClock(); }
  NTSTATUS GetName(PCHAR buffer, ULONG size) override {
    return FormatName("ClockSelector", buffer, size);
  }
  ULONG GetSourceID(ULONG position) override;
  NTSTATUS GetSampleRate(PULONG rate) override;
  NTSTATUS GetSampleRateRange(PULONG minimum, PULONG maximum, ULONG lower, ULONG upper) override;
  NTSTATUS IsSampleRateSupported(ULONG rate) override;
  NTSTATUS SetSampleRate(ULONG rate) override;
  BOOLEAN IsValid() override;

  ULONG InputCount() const { return Selector()->bNrInPins; }
  // The input position the selector uses: 0-based.
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS GetSelectedInput(_Out_ PULONG position);
  // Selects input `position` (sent as pin position + 1).
  _IRQL_requires_(PASSIVE_LEVEL) NTSTATUS SelectInput(ULONG position);

 private:
  const ClockSelector2* Selector() const {
    return reinterpret_cast<const ClockSelector2*>(m_Descriptor);
  }
  // The clock of input `position`, or null when its ID names no clock.
  CUSBAudioClock* InputClock(ULONG position);
  // Tries attempt(position, clock) on the inputs in order until one succeeds; the last status.
  template <typename Attempt>
  NTSTATUS FirstInputThat(Attempt attempt);

  BOOLEAN m_Busy = FALSE;  // inside one of the clock operations: see ReentryGuard
};

// What the two terminal classes share: the clock they run from under Audio 2.0.
class CUSBAudioTerminal : public CUSBAudioEntity {
 public:
  using CUSBAudioEntity::CUSBAudioEntity;
  virtual ULONG GetClockSourceID() = 0;
  virtual ULONG GetControls() = 0;
  virtual BOOLEAN HasControl(ULONG position) = 0;
  // 1 connected, 0 not connected, kConnectorStateUnknown when it cannot be read.
  _IRQL_requires_(PASSIVE_LEVEL) virtual ULONG GetConnectorState();

  // The terminal's clock; null under Audio 1.0 or when it names something that is no clock.
  CUSBAudioEntity* ClockEntity() const { return m_Clock; }
  CUSBAudioClock* Clock() const;

 protected:
  // Resolves bCSourceID under 2.0; a terminal of a 1.0 function has no clock.
  NTSTATUS LinkClockEntity();
  BOOLEAN HasControlBelow(ULONG position, ULONG limit);

  CUSBAudioEntity* m_Clock = nullptr;
};

class CUSBAudioInputTerminal : public CUSBAudioTerminal {
 public:
  using CUSBAudioTerminal::CUSBAudioTerminal;
  NTSTATUS Link() override { return LinkClockEntity(); }
  NTSTATUS GetName(PCHAR buffer, ULONG size) override { return FormatName("IT", buffer, size); }
  ULONG GetClockSourceID() override;
  ULONG GetControls() override;
  BOOLEAN HasControl(ULONG position) override { return HasControlBelow(position, 6); }
};

class CUSBAudioOutputTerminal : public CUSBAudioTerminal {
 public:
  using CUSBAudioTerminal::CUSBAudioTerminal;
  NTSTATUS Link() override;
  NTSTATUS GetName(PCHAR buffer, ULONG size) override { return FormatName("OT", buffer, size); }
  ULONG GetSourceID(ULONG position) override;
  ULONG GetClockSourceID() override;
  ULONG GetControls() override;
  BOOLEAN HasControl(ULONG position) override { return HasControlBelow(position, 5); }

  CUSBAudioEntity* SourceEntity() const { return m_Source; }

 private:
  CUSBAudioEntity* m_Source = nullptr;
};

enum class ControlAccess { Read, Write };

// Feature unit controls as the driver numbers them: the class's control selector minus 1.
inline constexpr ULONG kFeatureControlMute = uac::feature_control::kMute - 1u;
inline constexpr ULONG kFeatureControlVolume = uac::feature_control::kVolume - 1u;

class CUSBAudioFeatureUnit : public CUSBAudioEntity {
 public:
  using CUSBAudioEntity::CUSBAudioEntity;
  NTSTATUS Link() override;
  NTSTATUS GetName(PCHAR buffer, ULONG size) override {
    return FormatName("Feature", buffer, size);
  }
  ULONG GetSourceID(ULONG position) override;

  CUSBAudioEntity* SourceEntity() const { return m_Source; }
  // bmaControls entries, master channel 0 included.
  ULONG ChannelCount() const;
  BOOLEAN HasChannelControl(ULONG channel, ULONG control, ControlAccess access) const;
  BOOLEAN HasControlOnAnyChannel(ULONG control) const;

 private:
  const FeatureUnitHead* Head() const {
    return reinterpret_cast<const FeatureUnitHead*>(m_Descriptor);
  }
  BOOLEAN Uac2() const;
  CUSBAudioEntity* m_Source = nullptr;
};

// Creates the entity for one audio control descriptor; null for a subtype that ends the walk
// (*stop set) or when memory is short (*stop set too).
CUSBAudioEntity* CreateAudioEntity(CUSBAudioCL* owner, const UCHAR* descriptor, BOOLEAN uac2,
                                   BOOLEAN* stop);
