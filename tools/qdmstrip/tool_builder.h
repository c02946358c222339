// The one kind of FlatBuffers builder that qdmstrip writes with.
#pragma once

#include <cstddef>

#include <flatbuffers/flatbuffers.h>

namespace vadu::qdmstrip {

// 64-bit capable so that raw_data and model_data may exceed 2 GiB.
using ToolBuilder = flatbuffers::FlatBufferBuilder64;

inline constexpr size_t kBuilderInitialSize = 1024;

// A builder of 1024 bytes to start, 64-bit maximum size and alignment 8, that
// writes every scalar even when it equals its default and gives every table
// its own vtable.
ToolBuilder MakeToolBuilder();
// The same, taking its memory from `allocator` (not owned; must outlive the builder).
ToolBuilder MakeToolBuilder(flatbuffers::Allocator *allocator);

}  // namespace vadu::qdmstrip
