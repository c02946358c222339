#pragma once

#include <cstdint>
#include <string>

namespace vadu::qdmstrip {

// Redraws one 50-cell progress line on standard output; a complete bar
// (current equal to total) ends the line.
void ShowProgressBar(const std::string &label, uint64_t current, uint64_t total);

}  // namespace vadu::qdmstrip
