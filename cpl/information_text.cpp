#include "information_text.h"

#include <cstdio>
#include <cstring>

WideString InformationText(const char* version, const char* buildDate) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  int month = 0;
  for (int i = 0; i < 12; ++i)
    if (std::strncmp(buildDate, kMonths[i], 3) == 0) month = i + 1;
  int day = 0;
  int year = 0;
  std::sscanf(buildDate + 3, "%d %d", &day, &year);
  char line[96];
  std::snprintf(line, sizeof line, "Version %s  built %02d/%02d/%04d", version, month, day, year);
  std::string text = "Velmor USB Audio Tarn\r\n";
  text += line;
  text += "\r\n";
  text += "Copyright (C) Velmor. All rights reserved.\r\n";
  text += "ASIO is a trademark of Steinberg Media Technologies.\r\n";
  return WideString(text.begin(), text.end());
}
