// A block of host or device memory.
//
// A Buffer is a handle: copies share one memory block, which lives until its
// last handle is gone. Simulated device memory is host memory tagged with the
// device, so Data() is always addressable by the host. Buffers made from a
// caller's pointer wrap that memory without owning it.
//
// Every operation checks its byte range against the buffer and returns
// OUT_OF_RANGE (or INVALID_ARGUMENT) instead of touching memory outside it.
// A buffer that could not be made reports why in GetInitStatus; all other
// operations on it return UNINITIALIZED or an empty result.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "vadu/runtime/enums.h"

namespace vadu {

class Buffer {
 public:
  // An empty buffer: GetInitStatus is UNINITIALIZED.
  Buffer();

  // Allocates zeroed device memory. An empty backend name means the default
  // backend; an unknown one gives UNSUPPORTED. device_id must be below the
  // backend's device count. dev_type_name is "" or "HDPL" (a single device) or
  // "COMPND" (a compound device); anything else gives INVALID_ARGUMENT.
  static Buffer CreateDeviceBuffer(uint64_t size, int32_t device_id = 0,
                                   const std::string& backend_name = "",
                                   const std::string& dev_type_name = "");
  // Wraps size bytes of caller memory at ptr as memory of an HDPL device.
  static Buffer CreateDeviceBuffer(void* ptr, uint64_t size, int32_t device_id,
                                   const std::string& backend_name);
  // Wraps size bytes at ptr, or allocates zeroed host memory when ptr is null.
  static Buffer CreateHostBuffer(uint64_t size, void* ptr = nullptr);

  // Copies size bytes from src into this buffer at offset.
  Status CopyFromHost(const void* src, uint64_t size, uint64_t offset = 0);
  // Copies size bytes of this buffer from offset into dst.
  Status CopyToHost(void* dst, uint64_t size, uint64_t offset = 0) const;
  // Copies size bytes from this buffer at src_offset into dst at dst_offset.
  Status CopyTo(Buffer& dst, uint64_t size, uint64_t src_offset, uint64_t dst_offset) const;
  // Sets size bytes from offset to value; size 0 means up to the end.
  Status MemSet(int8_t value, uint64_t size = 0, uint64_t offset = 0);

  // A new buffer of the same size on the same device, with this buffer's bytes
  // when auto_copy is set, zeroed otherwise.
  Buffer Clone(bool auto_copy = true) const;
  // size bytes from offset, sharing this buffer's memory.
  Buffer GetSubBuffer(uint64_t size, uint64_t offset = 0) const;

  void* Data() const;
  uint64_t Size() const;
  vadu::Device Device() const;
  int32_t DeviceId() const;
  Status GetInitStatus() const;

 private:
  struct Block;
  static std::shared_ptr<const Block> AllocateBlock(uint64_t size, vadu::Device device,
                                                    int32_t device_id);
  explicit Buffer(Status failure);
  explicit Buffer(std::shared_ptr<const Block> block);

  std::shared_ptr<const Block> block_;
  Status status_;
};

}  // namespace vadu
