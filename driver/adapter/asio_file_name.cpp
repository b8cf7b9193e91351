#include "asio_file_name.h"

namespace {

// Built on first use and kept for the life of the driver.
UNICODE_STRING g_AsioName;

PCUNICODE_STRING AsioName() {
  if (g_AsioName.Buffer == nullptr) RtlInitUnicodeString(&g_AsioName, WSTR("\\asio"));
  return &g_AsioName;
}

}  // namespace

BOOLEAN IsAsioFileObject(PFILE_OBJECT FileObject) {
  if (FileObject == nullptr) return FALSE;
  return RtlEqualUnicodeString(&FileObject->FileName, AsioName(), TRUE);
}
