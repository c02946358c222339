#include "vadu/runtime/tensor_info.h"

#include <algorithm>

#include "checked_math.h"

namespace vadu {

struct TensorInfo::Description {
  std::vector<int64_t> shape;
  std::vector<int64_t> strides;
  vadu::DataType dtype = INT8;
  DataFmt format = ND;
  uint64_t align = 0;
  uint64_t data_extent = 0;
  uint64_t mem_size = 0;
  Status status = UNINITIALIZED;
};

uint64_t DataTypeSize(vadu::DataType dtype) {
  switch (dtype) {
    case INT8:
    case UINT8:
      return 1;
    case INT16:
    case UINT16:
    case FLOAT16:
      return 2;
    case INT32:
    case UINT32:
    case FLOAT32:
      return 4;
  }
  return 0;
}

namespace {

bool IsYUV(DataFmt format) {
  return format == YUV420SP || format == YUV422SP || format == YUV444SP;
}

// Row-major byte strides; false when one of them does not fit.
bool RowMajorStrides(const std::vector<int64_t>& shape, uint64_t element_size,
                     std::vector<int64_t>& strides) {
  strides.assign(shape.size(), 0);
  uint64_t stride = element_size;
  for (size_t i = shape.size(); i-- > 0;) {
    strides[i] = static_cast<int64_t>(stride);
    if (i > 0 && !sim::CheckedMul(stride, static_cast<uint64_t>(shape[i]), stride)) return false;
  }
  return true;
}

// Bytes from the first element's first byte to one past the last element's
// last byte; false on overflow.
bool NDExtent(const std::vector<int64_t>& shape, const std::vector<int64_t>& strides,
              uint64_t element_size, uint64_t& extent) {
  if (std::find(shape.begin(), shape.end(), 0) != shape.end()) {
    extent = 0;
    return true;
  }
  extent = element_size;
  for (size_t i = 0; i < shape.size(); ++i) {
    uint64_t reach;
    if (!sim::CheckedMul(static_cast<uint64_t>(shape[i] - 1), static_cast<uint64_t>(strides[i]),
                         reach) ||
        !sim::CheckedAdd(extent, reach, extent)) {
      return false;
    }
  }
  return true;
}

// Y plane plus UV plane; false on overflow.
bool YUVExtent(int64_t height, int64_t width, DataFmt format, uint64_t& extent) {
  const auto h = static_cast<uint64_t>(height);
  const auto w = static_cast<uint64_t>(width);
  uint64_t y;
  if (!sim::CheckedMul(h, w, y)) return false;
  uint64_t uv = y;  // YUV422SP: half the columns, two bytes each
  if (format == YUV420SP) uv = y / 2;
  if (format == YUV444SP && !sim::CheckedMul(y, 2, uv)) return false;
  return sim::CheckedAdd(y, uv, extent);
}

std::vector<int64_t> EffectiveStridesOf(const std::vector<int64_t>& shape,
                                        const std::vector<int64_t>& strides, uint64_t element_size) {
  if (!strides.empty()) return strides;
  std::vector<int64_t> row_major;
  RowMajorStrides(shape, element_size, row_major);  // cannot overflow: checked at creation
  return row_major;
}

}  // namespace

TensorInfo TensorInfo::Failed(Status status) {
  Description failed;
  failed.status = status;
  return TensorInfo(std::make_shared<const Description>(std::move(failed)));
}

TensorInfo::TensorInfo() {
  static const std::shared_ptr<const Description> empty = std::make_shared<const Description>();
  description_ = empty;
}

TensorInfo::TensorInfo(std::shared_ptr<const Description> description)
    : description_(std::move(description)) {}

TensorInfo TensorInfo::CreateNDInfo(const std::vector<int64_t>& shape, vadu::DataType dtype,
                                    const std::vector<int64_t>& strides, uint64_t align) {
  auto fail = [] { return Failed(INVALID_ARGUMENT); };
  const uint64_t element_size = vadu::DataTypeSize(dtype);
  if (element_size == 0) return fail();
  if (!strides.empty() && strides.size() != shape.size()) return fail();
  auto negative = [](int64_t v) { return v < 0; };
  if (std::any_of(shape.begin(), shape.end(), negative) ||
      std::any_of(strides.begin(), strides.end(), negative)) {
    return fail();
  }
  std::vector<int64_t> row_major;
  if (!RowMajorStrides(shape, element_size, row_major)) return fail();
  Description d;
  d.shape = shape;
  d.strides = strides;
  d.dtype = dtype;
  d.format = ND;
  d.align = align;
  if (!NDExtent(shape, strides.empty() ? row_major : strides, element_size, d.data_extent) ||
      !sim::CheckedRoundUp(d.data_extent, align, d.mem_size)) {
    return fail();
  }
  d.status = OK;
  return TensorInfo(std::make_shared<const Description>(std::move(d)));
}

TensorInfo TensorInfo::CreateYUVInfo(int64_t height, int64_t width, int64_t align, DataFmt fmt) {
  auto fail = [] { return Failed(INVALID_ARGUMENT); };
  if (!IsYUV(fmt) || height < 0 || width < 0 || align < 0) return fail();
  if (fmt == YUV420SP && (height % 2 != 0 || width % 2 != 0)) return fail();
  if (fmt == YUV422SP && width % 2 != 0) return fail();
  Description d;
  d.shape = {height, width};
  d.dtype = UINT8;
  d.format = fmt;
  d.align = static_cast<uint64_t>(align);
  if (!YUVExtent(height, width, fmt, d.data_extent) ||
      !sim::CheckedRoundUp(d.data_extent, d.align, d.mem_size)) {
    return fail();
  }
  d.status = OK;
  return TensorInfo(std::make_shared<const Description>(std::move(d)));
}

TensorInfo TensorInfo::MergeYUV(const TensorInfo& y, const TensorInfo& uv) {
  auto is_plane = [](const TensorInfo& info, size_t rank) {
    return info.GetInitStatus() == OK && info.Format() == ND && info.DataType() == UINT8 &&
           info.Shape().size() == rank;
  };
  if (!is_plane(y, 2) || !is_plane(uv, 3) || uv.Shape()[2] != 2) {
    return Failed(INVALID_ARGUMENT);
  }
  const int64_t height = y.Shape()[0];
  const int64_t width = y.Shape()[1];
  const std::vector<int64_t> uv_shape = uv.Shape();
  if (uv_shape == std::vector<int64_t>{height / 2, width / 2, 2}) {
    return CreateYUVInfo(height, width, 0, YUV420SP);
  }
  if (uv_shape == std::vector<int64_t>{height, width / 2, 2}) {
    return CreateYUVInfo(height, width, 0, YUV422SP);
  }
  if (uv_shape == std::vector<int64_t>{height, width, 2}) {
    return CreateYUVInfo(height, width, 0, YUV444SP);
  }
  return Failed(INVALID_ARGUMENT);
}

bool TensorInfo::IsContiguous() const {
  const Description& d = *description_;
  if (d.format != ND || d.strides.empty()) return true;
  const std::vector<int64_t> row_major = EffectiveStridesOf(d.shape, {}, DataTypeSize());
  for (size_t i = 0; i < d.shape.size(); ++i) {
    if (d.shape[i] != 1 && d.strides[i] != row_major[i]) return false;
  }
  return true;
}

bool TensorInfo::IsMatch(const TensorInfo& other) const {
  return GetInitStatus() == OK && other.GetInitStatus() == OK && Format() == other.Format() &&
         DataType() == other.DataType() && Shape() == other.Shape();
}

TensorInfo TensorInfo::AsContiguous() const {
  const Description& d = *description_;
  if (d.status != OK || d.format != ND) return Clone();
  return CreateNDInfo(d.shape, d.dtype, {}, d.align);
}

TensorInfo TensorInfo::AsType(vadu::DataType dtype) const {
  const Description& d = *description_;
  if (d.status != OK) return Clone();
  if (d.format != ND) {
    if (dtype == UINT8) return Clone();
    return Failed(UNSUPPORTED);
  }
  return CreateNDInfo(d.shape, dtype, {}, d.align);
}

TensorInfo TensorInfo::AsFormular() const {
  const Description& d = *description_;
  if (d.status != OK || d.format != ND) return Clone();
  std::vector<int64_t> shape = d.shape.empty() ? std::vector<int64_t>{1} : d.shape;
  std::vector<int64_t> strides = d.strides.empty() ? EffectiveStridesOf(shape, {}, DataTypeSize())
                                                   : d.strides;
  return CreateNDInfo(shape, d.dtype, strides, d.align);
}

TensorInfo TensorInfo::Clone() const {
  return TensorInfo(std::make_shared<const Description>(*description_));
}

const std::vector<int64_t>& TensorInfo::Shape() const { return description_->shape; }
const std::vector<int64_t>& TensorInfo::Stride() const { return description_->strides; }
vadu::DataType TensorInfo::DataType() const { return description_->dtype; }
uint64_t TensorInfo::DataTypeSize() const { return vadu::DataTypeSize(description_->dtype); }
uint64_t TensorInfo::MemSize() const { return description_->mem_size; }
uint64_t TensorInfo::SpanSize() const { return description_->mem_size - description_->data_extent; }
DataFmt TensorInfo::Format() const { return description_->format; }
uint64_t TensorInfo::Alignment() const { return description_->align; }
Status TensorInfo::GetInitStatus() const { return description_->status; }

std::vector<int64_t> TensorInfo::EffectiveStrides() const {
  return EffectiveStridesOf(Shape(), Stride(), DataTypeSize());
}

}  // namespace vadu
