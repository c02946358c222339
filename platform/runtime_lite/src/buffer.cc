#include "vadu/runtime/buffer.h"

#include <cstdlib>
#include <cstring>

#include "byte_range.h"
#include "sim_devices.h"

namespace vadu {

// One view of a memory block: owner keeps allocated memory alive (it is empty
// for wrapped caller memory); sub-buffers share the owner of their parent.
struct Buffer::Block {
  std::shared_ptr<void> owner;
  uint8_t* data = nullptr;
  uint64_t size = 0;
  vadu::Device device = CPU;
  int32_t device_id = 0;
};

namespace {

// Zeroed memory; at least one byte so an empty buffer still has an address.
std::shared_ptr<void> AllocateZeroed(uint64_t size) {
  void* memory = std::calloc(size == 0 ? 1 : size, 1);
  if (memory == nullptr) return nullptr;
  return std::shared_ptr<void>(memory, &std::free);
}

}  // namespace

std::shared_ptr<const Buffer::Block> Buffer::AllocateBlock(uint64_t size, vadu::Device device,
                                                           int32_t device_id) {
  auto owner = AllocateZeroed(size);
  if (!owner) return nullptr;
  auto data = static_cast<uint8_t*>(owner.get());
  return std::make_shared<const Block>(Block{std::move(owner), data, size, device, device_id});
}

Buffer::Buffer() : status_(UNINITIALIZED) {}

Buffer::Buffer(Status failure) : status_(failure) {}

Buffer::Buffer(std::shared_ptr<const Block> block) : block_(std::move(block)), status_(OK) {}

Buffer Buffer::CreateDeviceBuffer(uint64_t size, int32_t device_id, const std::string& backend_name,
                                  const std::string& dev_type_name) {
  const Status checked = sim::CheckDevice(backend_name, device_id);
  if (checked != OK) return Buffer(checked);
  vadu::Device device;
  if (!sim::ParseDeviceType(dev_type_name, device)) return Buffer(INVALID_ARGUMENT);
  auto block = AllocateBlock(size, device, device_id);
  return block ? Buffer(std::move(block)) : Buffer(RESOURCE_EXHAUSTED);
}

Buffer Buffer::CreateDeviceBuffer(void* ptr, uint64_t size, int32_t device_id,
                                  const std::string& backend_name) {
  const Status checked = sim::CheckDevice(backend_name, device_id);
  if (checked != OK) return Buffer(checked);
  if (ptr == nullptr) {
    if (size != 0) return Buffer(INVALID_ARGUMENT);
    auto block = AllocateBlock(0, HDPL, device_id);
    return block ? Buffer(std::move(block)) : Buffer(RESOURCE_EXHAUSTED);
  }
  return Buffer(std::make_shared<const Block>(
      Block{nullptr, static_cast<uint8_t*>(ptr), size, HDPL, device_id}));
}

Buffer Buffer::CreateHostBuffer(uint64_t size, void* ptr) {
  if (ptr != nullptr) {
    return Buffer(std::make_shared<const Block>(
        Block{nullptr, static_cast<uint8_t*>(ptr), size, CPU, 0}));
  }
  auto block = AllocateBlock(size, CPU, 0);
  return block ? Buffer(std::move(block)) : Buffer(RESOURCE_EXHAUSTED);
}

Status Buffer::CopyFromHost(const void* src, uint64_t size, uint64_t offset) {
  if (status_ != OK) return UNINITIALIZED;
  if (!sim::RangeFits(offset, size, block_->size)) return OUT_OF_RANGE;
  if (size == 0) return OK;
  if (src == nullptr) return INVALID_ARGUMENT;
  std::memmove(block_->data + offset, src, size);
  return OK;
}

Status Buffer::CopyToHost(void* dst, uint64_t size, uint64_t offset) const {
  if (status_ != OK) return UNINITIALIZED;
  if (!sim::RangeFits(offset, size, block_->size)) return OUT_OF_RANGE;
  if (size == 0) return OK;
  if (dst == nullptr) return INVALID_ARGUMENT;
  std::memmove(dst, block_->data + offset, size);
  return OK;
}

Status Buffer::CopyTo(Buffer& dst, uint64_t size, uint64_t src_offset, uint64_t dst_offset) const {
  if (status_ != OK || dst.status_ != OK) return UNINITIALIZED;
  if (!sim::RangeFits(src_offset, size, block_->size) ||
      !sim::RangeFits(dst_offset, size, dst.block_->size)) {
    return OUT_OF_RANGE;
  }
  if (size != 0) std::memmove(dst.block_->data + dst_offset, block_->data + src_offset, size);
  return OK;
}

Status Buffer::MemSet(int8_t value, uint64_t size, uint64_t offset) {
  if (status_ != OK) return UNINITIALIZED;
  if (offset > block_->size) return OUT_OF_RANGE;
  if (size == 0) size = block_->size - offset;
  if (!sim::RangeFits(offset, size, block_->size)) return OUT_OF_RANGE;
  if (size != 0) std::memset(block_->data + offset, static_cast<uint8_t>(value), size);
  return OK;
}

Buffer Buffer::Clone(bool auto_copy) const {
  if (status_ != OK) return Buffer(status_);
  auto block = AllocateBlock(block_->size, block_->device, block_->device_id);
  if (!block) return Buffer(RESOURCE_EXHAUSTED);
  if (auto_copy && block_->size != 0) std::memcpy(block->data, block_->data, block_->size);
  return Buffer(std::move(block));
}

Buffer Buffer::GetSubBuffer(uint64_t size, uint64_t offset) const {
  if (status_ != OK) return Buffer(status_);
  if (!sim::RangeFits(offset, size, block_->size)) return Buffer(OUT_OF_RANGE);
  return Buffer(std::make_shared<const Block>(
      Block{block_->owner, block_->data + offset, size, block_->device, block_->device_id}));
}

void* Buffer::Data() const { return status_ == OK ? block_->data : nullptr; }
uint64_t Buffer::Size() const { return status_ == OK ? block_->size : 0; }
vadu::Device Buffer::Device() const { return status_ == OK ? block_->device : CPU; }
int32_t Buffer::DeviceId() const { return status_ == OK ? block_->device_id : 0; }
Status Buffer::GetInitStatus() const { return status_; }

}  // namespace vadu
