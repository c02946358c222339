// How the logging environment variables are read; kept apart from the cached
// process state so the rules can be checked directly.
#pragma once

#include <string_view>

namespace vadu::logging {

inline constexpr int kDefaultLogLevel = 2;

// The threshold from a VADU_LOG_LEVEL value: a leading decimal int as scanf
// "%d" reads it; null or unparsable text gives the default. Values beyond the
// range of int are clamped.
int ParseLogLevel(const char* value);

// Whether a VADU_LOG_TAGS value enables `tag`.
bool TagListEnables(std::string_view tags, std::string_view tag);

}  // namespace vadu::logging
