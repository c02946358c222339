#pragma once

#include <cstdint>

namespace vadu::qdmstrip {

// Header offset of a weight whose bytes were stripped from the model.
inline constexpr uint64_t STRIPPED_WEIGHT_OFFSET_MARKER = 0xFFFFFFFFFFFFFFFFull;

}  // namespace vadu::qdmstrip
