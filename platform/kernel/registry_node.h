// The store's key record, shared by the store and its file format; nothing else sees it.
#pragma once

#include <map>
#include <string>

#include "kernel/registry_store.h"

namespace host {

struct RegistryKeyNode {
  std::u16string name;
  RegistryKeyNode* parent = nullptr;                 // the parent owns its children
  std::map<std::u16string, RegistryKeyRef> subkeys;  // by folded name
  std::map<std::u16string, RegistryValue> values;    // by folded name
  bool deleted = false;
};

}  // namespace host
