#include "vadu/runtime/imageops/image_operator.h"

namespace vadu::ImageOps {

ImageOperator::~ImageOperator() = default;

Status ImageOperator::SetStream(Stream& stream) {
  stream_ = stream;
  return OK;
}

Stream& ImageOperator::GetStream() { return stream_; }

Status ImageOperator::Sync() { return stream_.Sync(); }

uint64_t ImageOperator::GetInputNum() const { return 1; }

uint64_t ImageOperator::GetOutputNum() const { return 1; }

Tensor& ImageOperator::GetInputTensor(uint64_t index) { return TensorAt(input_, index); }

Tensor& ImageOperator::GetOutputTensor(uint64_t index) { return TensorAt(output_, index); }

void ImageOperator::RememberRun(const Tensor& input, const Tensor& output) {
  input_ = input;
  output_ = output;
}

Tensor& ImageOperator::TensorAt(Tensor& tensor, uint64_t index) {
  if (index == 0) return tensor;
  // A caller may have assigned through an earlier reference: hand out a fresh
  // empty tensor every time.
  unbound_ = Tensor();
  return unbound_;
}

}  // namespace vadu::ImageOps
