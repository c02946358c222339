// Read-only, private memory mapping of one whole file.
//
// Init maps a file for lazy loading: the range is registered so that
// IsLazyMemory answers for any address in it, and random access is advised.
// InitOpt maps without registering and, for files above 1 GiB, touches one word
// per page on a background thread so the file is faulted in ahead of use.
//
// What a failed open reports depends on the library variant a program links:
// vadu_common_qdmstrip writes the error-level failed-open line, vadu_common_readqdm
// writes nothing. Link exactly one of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vadu {

class ReadOnlyMMapFile {
 public:
  ReadOnlyMMapFile();
  ~ReadOnlyMMapFile();
  ReadOnlyMMapFile(ReadOnlyMMapFile&& other) noexcept;
  ReadOnlyMMapFile& operator=(ReadOnlyMMapFile&& other) noexcept;
  ReadOnlyMMapFile(const ReadOnlyMMapFile&) = delete;
  ReadOnlyMMapFile& operator=(const ReadOnlyMMapFile&) = delete;

  // Both release any earlier mapping first and return false when the file
  // cannot be opened, examined or mapped; the object is then empty. An empty
  // file gives a valid mapping with null data and size 0.
  bool Init(const std::string& path);
  bool InitOpt(const std::string& path);

  const void* data() const;
  const char* char_data() const;
  uint64_t size() const;
  // True unless a non-empty size has no data.
  bool valid() const;

  // True when the address lies inside a mapping made by Init that is still alive.
  static bool IsLazyMemory(const void* address);
  // Access hints over exactly [address, address + length); results are ignored.
  static void MarkDontNeed(const void* address, uint64_t length);
  static void MarkSequential(const void* address, uint64_t length);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vadu
