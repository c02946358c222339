// Case-blind suffix test used to tell single models (.qdm) from containers (.qdms).
#pragma once

#include <string_view>

namespace vadu::qdmstrip {

inline constexpr std::string_view kModelSuffix = ".qdm";
inline constexpr std::string_view kContainerSuffix = ".qdms";

// True when `text` is at least as long as `suffix` and its tail equals it after
// both are lowered character by character with tolower.
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);

}  // namespace vadu::qdmstrip
