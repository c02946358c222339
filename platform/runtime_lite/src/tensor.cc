#include "vadu/runtime/tensor.h"

#include <cstring>
#include <vector>

#include "byte_range.h"
#include "element_ops.h"
#include "sim_devices.h"

namespace vadu {
namespace {

uint8_t* Bytes(const vadu::Buffer& buffer) { return static_cast<uint8_t*>(buffer.Data()); }

uint64_t DataExtent(const TensorInfo& info) { return info.MemSize() - info.SpanSize(); }

// What an element walk reads source's elements from, and their strides there.
struct SourceElements {
  const uint8_t* bytes;
  std::vector<int64_t> strides;
};

// source's own memory, or a copy of it in storage when target's elements share
// bytes with it: a walk writes target while it still reads source, so it must
// read the source as it was before. The copy holds just the elements, packed
// in row-major order, unless the span between them is smaller (strides of 0
// read one element many times).
SourceElements ElementsToRead(const Tensor& source, const Tensor& target,
                              std::vector<uint8_t>& storage) {
  const uint8_t* bytes = Bytes(source.Buffer());
  const TensorInfo& info = source.Info();
  const uint64_t extent = DataExtent(info);
  if (!sim::RangesOverlap(bytes, extent, Bytes(target.Buffer()), DataExtent(target.Info()))) {
    return {bytes, info.EffectiveStrides()};
  }
  const TensorInfo packed = info.AsContiguous();
  if (packed.GetInitStatus() != OK || DataExtent(packed) >= extent) {
    storage.assign(bytes, bytes + extent);
    return {storage.data(), info.EffectiveStrides()};
  }
  storage.resize(DataExtent(packed));
  const uint64_t element_size = info.DataTypeSize();
  sim::ForEachElementPair(info.Shape(), info.EffectiveStrides(), packed.EffectiveStrides(),
                          [&](int64_t from, int64_t into) {
                            std::memcpy(storage.data() + into, bytes + from, element_size);
                          });
  return {storage.data(), packed.EffectiveStrides()};
}

// A tensor for info in new zeroed memory on the device that holds `like`.
Tensor AllocateLike(const vadu::Buffer& like, const TensorInfo& info) {
  if (like.Device() == CPU) return Tensor::CreateHostTensor(info);
  return Tensor(info, vadu::Buffer::CreateDeviceBuffer(info.MemSize(), like.DeviceId(), "",
                                                        sim::DeviceTypeName(like.Device())));
}

// A view of source's memory: shape with source's strides, starting offset
// bytes into its buffer.
Tensor MakeView(const Tensor& source, const std::vector<int64_t>& shape, uint64_t offset) {
  const TensorInfo& info = source.Info();
  const TensorInfo view = TensorInfo::CreateNDInfo(shape, info.DataType(), info.EffectiveStrides());
  if (view.GetInitStatus() != OK) return Tensor(view, vadu::Buffer());
  if (view.MemSize() == 0) offset = 0;  // an empty box has no first element
  return Tensor(view, source.Buffer().GetSubBuffer(view.MemSize(), offset));
}

}  // namespace

Tensor::Tensor() : status_(UNINITIALIZED) {}

Tensor::Tensor(Status failure) : status_(failure) {}

Tensor::Tensor(const TensorInfo& info, const vadu::Buffer& buffer)
    : info_(info), buffer_(buffer), status_(OK) {
  if (info.GetInitStatus() != OK) {
    status_ = info.GetInitStatus();
  } else if (buffer.GetInitStatus() != OK) {
    status_ = buffer.GetInitStatus();
  } else if (buffer.Size() < info.MemSize()) {
    status_ = OUT_OF_RANGE;
  }
}

Tensor Tensor::CreateHostTensor(const TensorInfo& info, uint64_t size, void* ptr) {
  if (info.GetInitStatus() != OK) return Tensor(info.GetInitStatus());
  return Tensor(info, vadu::Buffer::CreateHostBuffer(size == 0 ? info.MemSize() : size, ptr));
}

Tensor Tensor::CreateDeviceTensor(const TensorInfo& info, uint64_t size, int32_t device_id,
                                  const std::string& backend_name) {
  if (info.GetInitStatus() != OK) return Tensor(info.GetInitStatus());
  return Tensor(info, vadu::Buffer::CreateDeviceBuffer(size == 0 ? info.MemSize() : size,
                                                        device_id, backend_name));
}

Status Tensor::SplitYUV(Tensor& y, Tensor& uv) const {
  if (status_ != OK) return UNINITIALIZED;
  const DataFmt format = info_.Format();
  if (format == ND) return INVALID_ARGUMENT;
  const int64_t height = info_.Shape()[0];
  const int64_t width = info_.Shape()[1];
  std::vector<int64_t> uv_shape{height, width, 2};
  if (format == YUV420SP) uv_shape = {height / 2, width / 2, 2};
  if (format == YUV422SP) uv_shape = {height, width / 2, 2};
  const TensorInfo y_info = TensorInfo::CreateNDInfo({height, width}, UINT8);
  const TensorInfo uv_info = TensorInfo::CreateNDInfo(uv_shape, UINT8);
  Tensor y_plane(y_info, buffer_.GetSubBuffer(y_info.MemSize(), 0));
  Tensor uv_plane(uv_info, buffer_.GetSubBuffer(uv_info.MemSize(), y_info.MemSize()));
  if (y_plane.GetInitStatus() != OK) return y_plane.GetInitStatus();
  if (uv_plane.GetInitStatus() != OK) return uv_plane.GetInitStatus();
  y = std::move(y_plane);
  uv = std::move(uv_plane);
  return OK;
}

Tensor Tensor::AsType(vadu::DataType dtype, bool copy) const {
  if (status_ != OK) return Tensor(status_);
  if (dtype == info_.DataType() && !copy) return *this;
  const TensorInfo converted_info = info_.AsType(dtype);
  if (converted_info.GetInitStatus() != OK) return Tensor(converted_info.GetInitStatus());
  Tensor converted = AllocateLike(buffer_, converted_info);
  if (converted.GetInitStatus() != OK) return converted;
  const Status cast = CastTo(converted);
  return cast == OK ? converted : Tensor(cast);
}

Status Tensor::CastTo(Tensor& dst) const {
  if (status_ != OK || dst.status_ != OK) return UNINITIALIZED;
  const TensorInfo& to = dst.info_;
  if (info_.Format() != to.Format() || info_.Shape() != to.Shape()) return INVALID_ARGUMENT;
  if (info_.DataType() == to.DataType()) return CopyTo(dst);
  if (info_.Format() != ND) return UNSUPPORTED;
  std::vector<uint8_t> copy;
  const SourceElements source = ElementsToRead(*this, dst, copy);
  uint8_t* target = Bytes(dst.buffer_);
  const DataType from_type = info_.DataType();
  const DataType to_type = to.DataType();
  sim::ForEachElementPair(info_.Shape(), source.strides, to.EffectiveStrides(),
                          [&](int64_t from, int64_t into) {
                            sim::StoreElement(target + into, to_type,
                                              sim::LoadElement(source.bytes + from, from_type));
                          });
  return OK;
}

Status Tensor::CopyTo(Tensor& dst) const {
  if (status_ != OK || dst.status_ != OK) return UNINITIALIZED;
  if (!info_.IsMatch(dst.info_)) return INVALID_ARGUMENT;
  if (info_.IsContiguous() && dst.info_.IsContiguous()) {
    vadu::Buffer target = dst.buffer_;
    return buffer_.CopyTo(target, DataExtent(info_), 0, 0);
  }
  std::vector<uint8_t> copy;
  const SourceElements source = ElementsToRead(*this, dst, copy);
  uint8_t* target = Bytes(dst.buffer_);
  const uint64_t element_size = info_.DataTypeSize();
  sim::ForEachElementPair(info_.Shape(), source.strides, dst.info_.EffectiveStrides(),
                          [&](int64_t from, int64_t into) {
                            std::memmove(target + into, source.bytes + from, element_size);
                          });
  return OK;
}

Tensor Tensor::ToHost(bool copy) const {
  if (status_ != OK) return Tensor(status_);
  if (buffer_.Device() == CPU && !copy) return *this;
  Tensor host = CreateHostTensor(info_.AsContiguous());
  if (host.GetInitStatus() != OK) return host;
  const Status copied = CopyTo(host);
  return copied == OK ? host : Tensor(copied);
}

Tensor Tensor::Clone(bool copy_data) const {
  if (status_ != OK) return Tensor(status_);
  Tensor clone = AllocateLike(buffer_, info_.Clone());
  if (clone.GetInitStatus() != OK || !copy_data) return clone;
  const Status copied = CopyTo(clone);
  return copied == OK ? clone : Tensor(copied);
}

Status Tensor::SetZero() {
  if (status_ != OK) return UNINITIALIZED;
  if (info_.IsContiguous()) {
    const uint64_t extent = DataExtent(info_);
    return extent == 0 ? OK : buffer_.MemSet(0, extent, 0);
  }
  uint8_t* target = Bytes(buffer_);
  const uint64_t element_size = info_.DataTypeSize();
  const std::vector<int64_t> strides = info_.EffectiveStrides();
  sim::ForEachElementPair(info_.Shape(), strides, strides, [&](int64_t offset, int64_t) {
    std::memset(target + offset, 0, element_size);
  });
  return OK;
}

Tensor Tensor::SelectBatch(const std::vector<int64_t>& batch) const {
  if (status_ != OK) return Tensor(status_);
  if (info_.Format() != ND || info_.Shape().empty()) return Tensor(UNSUPPORTED);
  if (batch.empty() || batch.size() > 2) return Tensor(INVALID_ARGUMENT);
  std::vector<int64_t> shape = info_.Shape();
  const int64_t begin = batch[0];
  // Checked first so that begin + 1 cannot overflow.
  if (begin < 0 || begin >= shape[0]) return Tensor(OUT_OF_RANGE);
  const int64_t end = batch.size() == 2 ? batch[1] : begin + 1;
  if (end <= begin || end > shape[0]) return Tensor(OUT_OF_RANGE);
  shape[0] = end - begin;
  return MakeView(*this, shape, static_cast<uint64_t>(begin * info_.EffectiveStrides()[0]));
}

Tensor Tensor::SelectROI(const std::vector<int64_t>& starts,
                         const std::vector<int64_t>& sizes) const {
  if (status_ != OK) return Tensor(status_);
  if (info_.Format() != ND) return Tensor(UNSUPPORTED);
  const std::vector<int64_t>& shape = info_.Shape();
  if (starts.size() != shape.size() || sizes.size() != shape.size()) {
    return Tensor(INVALID_ARGUMENT);
  }
  const std::vector<int64_t> strides = info_.EffectiveStrides();
  uint64_t offset = 0;
  for (size_t i = 0; i < shape.size(); ++i) {
    if (starts[i] < 0 || sizes[i] < 0 || starts[i] > shape[i] || sizes[i] > shape[i] - starts[i]) {
      return Tensor(OUT_OF_RANGE);
    }
    if (starts[i] < shape[i]) offset += static_cast<uint64_t>(starts[i] * strides[i]);
  }
  return MakeView(*this, sizes, offset);
}

Tensor Tensor::AsFormular() const {
  if (status_ != OK) return Tensor(status_);
  return Tensor(info_.AsFormular(), buffer_);
}

const vadu::Buffer& Tensor::Buffer() const { return buffer_; }
const TensorInfo& Tensor::Info() const { return info_; }
vadu::Device Tensor::Device() const { return buffer_.Device(); }
int32_t Tensor::DeviceId() const { return buffer_.DeviceId(); }
uint64_t Tensor::MemSize() const { return info_.MemSize(); }
Status Tensor::GetInitStatus() const { return status_; }

}  // namespace vadu
