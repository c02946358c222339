// Reads the parts of a single-model (.qdm) file that the module needs: the
// model is verified with the project's verifier before anything is read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "vadu/status.h"

namespace vadu::detail {

struct ModelTensor {
  std::string name;
  int32_t format = 5;  // the file's TensorFmt value
  bool has_dtype = false;
  uint8_t type_code = 0;  // the file's TypeCode value
  uint8_t type_bits = 0;
  std::vector<int64_t> shape;
};

struct ModelDescription {
  std::string name;
  std::string version;  // the version number in decimal, empty without a version record
  std::string custom_msg;
  int64_t core_num = 0;
  std::vector<ModelTensor> inputs;
  std::vector<ModelTensor> outputs;
};

// Reads `size` bytes from `offset` of the file (size 0: to the end) and
// describes the model they hold. UNAVAILABLE when the file cannot be read,
// OUT_OF_RANGE when the range lies outside it, INVALID_ARGUMENT when the bytes
// are not a verified model or its tensors lack distinct names or have negative
// dimensions; `error` then says why.
Status ReadModelFile(const std::string &path, uint64_t offset, uint64_t size, ModelDescription *model,
                     std::string *error);

}  // namespace vadu::detail
