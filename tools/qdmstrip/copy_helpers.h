// Small pieces shared by the table copy: strings and scalar vectors are
// rewritten byte for byte, and an absent one stays absent.
#pragma once

#include <flatbuffers/flatbuffers.h>

#include "tool_builder.h"

namespace vadu::qdmstrip::copy_detail {

// Length-based, so embedded zero bytes survive.
inline flatbuffers::Offset<flatbuffers::String> CopyString(ToolBuilder &builder, const flatbuffers::String *text) {
  if (text == nullptr) return 0;
  return builder.CreateString(text->c_str(), text->size());
}

// A present vector is copied even when empty.
template <typename T>
flatbuffers::Offset<flatbuffers::Vector<T>> CopyVector(ToolBuilder &builder, const flatbuffers::Vector<T> *values) {
  if (values == nullptr) return 0;
  return builder.CreateVector(values->data(), values->size());
}

// Vectors of tables are written only when they hold an element.
template <typename T>
flatbuffers::Offset<flatbuffers::Vector<flatbuffers::Offset<T>>> VectorOrNull(
    ToolBuilder &builder, const std::vector<flatbuffers::Offset<T>> &offsets) {
  if (offsets.empty()) return 0;
  return builder.CreateVector(offsets);
}

}  // namespace vadu::qdmstrip::copy_detail
