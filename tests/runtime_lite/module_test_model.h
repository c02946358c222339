// The model that the module tests load: two inputs of different element types
// and two outputs, so the run function's mixing of inputs and its output index
// both show.
#pragma once

#include "model_factory.h"

namespace vadu::testing {

inline TensorSpec ModuleTestTensor(const std::string &name, uint8_t code, uint8_t bits, std::vector<int64_t> shape) {
  TensorSpec tensor;
  tensor.name = name;
  tensor.dtype = DataTypeSpec{code, bits, 1};
  tensor.shape = std::move(shape);
  return tensor;
}

// inputs "a" FLOAT32 {2, 3}, "b" UINT8 {4}; outputs "sum" FLOAT32 {2, 3},
// "tag" INT16 {5}; version 3, custom message "hello", 2 cores.
inline ModelSpec ModuleTestModel() {
  ModelSpec spec;
  spec.name = "flow";
  spec.version = 3;
  spec.custom_msg = "hello";
  spec.config->core_num = 2;
  spec.inputs = {ModuleTestTensor("a", 2, 32, {2, 3}), ModuleTestTensor("b", 1, 8, {4})};
  spec.outputs = {ModuleTestTensor("sum", 2, 32, {2, 3}), ModuleTestTensor("tag", 0, 16, {5})};
  return spec;
}

}  // namespace vadu::testing
