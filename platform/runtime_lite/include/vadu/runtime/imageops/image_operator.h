// The common base of the image operations (Resizer, ColorConverter).
//
// The virtual operations keep this order, which callers may rely on: SetStream,
// GetStream, Sync, GetInputNum, GetOutputNum, GetInputTensor, GetOutputTensor,
// then the destructor; a derived class's own virtual operations follow.
//
// Every operation takes one input and gives one output tensor. After a
// successful Run, input tensor 0 and output tensor 0 are handles on the
// tensors of that run; before, they are empty tensors. An index past the last
// tensor gives an empty tensor (GetInitStatus UNINITIALIZED) rather than
// touching anything outside the operation.
#pragma once

#include <cstdint>

#include "vadu/runtime/stream.h"
#include "vadu/runtime/tensor.h"

namespace vadu::ImageOps {

class ImageOperator {
 public:
  // Keeps a copy of the stream; the caller's object may go away afterwards.
  virtual Status SetStream(Stream& stream);
  // The operation's own stream (a blocking one until SetStream).
  virtual Stream& GetStream();
  // Waits for the work queued on the operation's stream.
  virtual Status Sync();
  virtual uint64_t GetInputNum() const;
  virtual uint64_t GetOutputNum() const;
  virtual Tensor& GetInputTensor(uint64_t index);
  virtual Tensor& GetOutputTensor(uint64_t index);
  virtual ~ImageOperator();

 protected:
  ImageOperator() = default;
  ImageOperator(const ImageOperator&) = default;
  ImageOperator& operator=(const ImageOperator&) = default;

  // Records the tensors of a successful run.
  void RememberRun(const Tensor& input, const Tensor& output);

 private:
  Tensor& TensorAt(Tensor& tensor, uint64_t index);

  Stream stream_;
  Tensor input_;
  Tensor output_;
  // Handed out for indexes past the last tensor; emptied on every such call.
  Tensor unbound_;
};

}  // namespace vadu::ImageOps
