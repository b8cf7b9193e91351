// Resources of program and module images: found by type and name, "loaded" in place.
#include <string>

#include "kernel/registry_names.h"
#include "win32/errhandlingapi.h"
#include "win32/libloaderapi.h"
#include "win32/nt_error.h"
#include "win32/processthreadsapi.h"
#include "win32/win32_state.h"

using tarnlink::win32::ResourceDefinition;
using tarnlink::win32::State;

namespace tarnlink::win32 {

std::u16string ResourceKey(LPCWSTR typeOrName) {
  if (IS_INTRESOURCE(typeOrName)) {
    std::string number = std::to_string(reinterpret_cast<ULONG_PTR>(typeOrName));
    return u"#" + std::u16string(number.begin(), number.end());
  }
  return host::FoldRegistryName(typeOrName);
}

void RegisterResources(std::u16string path, std::vector<ResourceDefinition> resources) {
  State& state = MachineState();
  std::lock_guard guard(state.lock);
  auto& list = state.resources[host::FoldRegistryName(path)];
  for (ResourceDefinition& resource : resources) {
    resource.type = host::FoldRegistryName(resource.type);
    resource.name = host::FoldRegistryName(resource.name);
    list.push_back(std::make_unique<ResourceDefinition>(std::move(resource)));
  }
}

}  // namespace tarnlink::win32

HRSRC WINAPI FindResourceW(HMODULE hModule, LPCWSTR lpName, LPCWSTR lpType) {
  if (lpName == nullptr || lpType == nullptr) {
    tarnlink::win32::FailWithError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  WCHAR path[MAX_PATH + 1];
  if (GetModuleFileNameW(hModule, path, MAX_PATH + 1) == 0) return nullptr;
  const std::u16string type = tarnlink::win32::ResourceKey(lpType);
  const std::u16string name = tarnlink::win32::ResourceKey(lpName);
  State& state = tarnlink::win32::MachineState();
  std::lock_guard guard(state.lock);
  auto it = state.resources.find(host::FoldRegistryName(path));
  if (it != state.resources.end())
    for (const auto& resource : it->second)
      if (resource->type == type && resource->name == name)
        return reinterpret_cast<HRSRC>(resource.get());
  tarnlink::win32::FailWithError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC hResInfo) {
  if (hResInfo == nullptr) return nullptr;
  return reinterpret_cast<ResourceDefinition*>(hResInfo)->bytes.data();
}

LPVOID WINAPI LockResource(HGLOBAL hResData) { return hResData; }

DWORD WINAPI SizeofResource(HMODULE, HRSRC hResInfo) {
  if (hResInfo == nullptr) return 0;
  return static_cast<DWORD>(reinterpret_cast<ResourceDefinition*>(hResInfo)->bytes.size());
}
