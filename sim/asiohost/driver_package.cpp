#include "sim/asiohost/driver_package.h"

#include "com/dll_exports.h"

namespace sim::asiohost {
namespace {

template <typename Function>
FARPROC Export(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

}  // namespace

tarnlink::win32::ModuleDefinition TarnlinkAsioModule() {
  return {u"",
          DllMain,
          {{"DllGetClassObject", Export(DllGetClassObject)},
           {"DllCanUnloadNow", Export(DllCanUnloadNow)},
           {"DllRegisterServer", Export(DllRegisterServer)},
           {"DllUnregisterServer", Export(DllUnregisterServer)}}};
}

}  // namespace sim::asiohost
