// Reading and writing the shared settings by the table's rules. Every read and write opens the
// key anew, so a value another process wrote a moment ago is what the next read sees.
#pragma once

#include "settings_table.h"

// The three values the programs share, as one read gives them.
struct SharedSettings {
  DWORD bufferSizeIndex;
  DWORD samplingRate;
  WCHAR selected[kSelectedCodeUnits + 1];
};

class CmnRegUtil {
 public:
  CmnRegUtil() = default;
  CmnRegUtil(const CmnRegUtil&) = delete;
  CmnRegUtil& operator=(const CmnRegUtil&) = delete;
  virtual ~CmnRegUtil();

  // Writes length bytes of data as the value of id, with the table's type; 1 on success. The
  // control panel's version also tells the running ASIO drivers.
  virtual int WriteValue(int id, const void* data, DWORD length);

  // Reads the value of id into buffer, which must hold at least the table's size; 1 on success.
  // A value of another type, a longer one, or (for a number) a shorter one fails, and a failure
  // leaves the buffer as it was. A missing key is created with its defaults first. An id the
  // table does not know reads nothing and succeeds.
  int ReadValue(int id, void* buffer, DWORD length);

  // Creates the per-user key; only a key that did not exist gets the default values. 1 when the
  // key exists afterwards.
  int CreateDefaults();

  // The shapes the programs use: a number (0 when it cannot be read), and the selected device
  // (empty when it cannot be read), always terminated.
  DWORD ReadNumber(int id);
  void ReadSelected(WCHAR (&text)[kSelectedCodeUnits + 1]);
  void ReadAll(SharedSettings* settings);
  int WriteNumber(int id, DWORD value);
  int WriteSelected(const WCHAR* text);
};
