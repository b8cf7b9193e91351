// Writes the control panel's dialog template (dialog_template.cpp) as the bytes of its dialog
// resource, for the Windows build's resource compiler.
//   write_cpl_dialog FILE
#include <cstdio>
#include <fstream>

#include "dialog_template.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: write_cpl_dialog FILE\n");
    return 2;
  }
  const std::vector<DWORD>& words = MainDialogTemplate();
  std::ofstream file(argv[1], std::ios::binary);
  file.write(reinterpret_cast<const char*>(words.data()),
             static_cast<std::streamsize>(words.size() * sizeof(DWORD)));
  return file ? 0 : 1;
}
