// The registry's file format: a magic word and the key tree, depth first. Every count and length
// is little-endian u32; names are UTF-16LE. Values of a key precede its subkeys.
//   file  := "TLREG\x01\0\0" key
//   key   := name valueCount value* subkeyCount key*
//   value := name type dataLength data
//   name  := charCount char16*
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/registry_node.h"

namespace host {

class RegistryFileWriter {
 public:
  void WriteTree(const RegistryKeyNode& root);
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  void WriteKey(const RegistryKeyNode& key);
  void WriteU32(uint32_t v);
  void WriteName(const std::u16string& name);
  std::vector<uint8_t> bytes_;
};

// Reads what a writer wrote; anything else (truncation, excess bytes, bad or duplicate names,
// counts the remaining bytes cannot hold, nesting deeper than Windows allows) is refused.
class RegistryFileReader {
 public:
  RegistryFileReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ReadTree(const RegistryKeyRef& root);

 private:
  bool ReadKey(RegistryKeyNode& key, unsigned depth);
  bool ReadU32(uint32_t* v);
  bool ReadName(std::u16string* name, size_t max_chars);
  size_t Remaining() const { return size_ - pos_; }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace host
