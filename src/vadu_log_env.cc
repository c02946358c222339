#include "vadu_log_env.h"

#include <climits>
#include <cstdlib>

namespace vadu::logging {
namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

}  // namespace

int ParseLogLevel(const char* value) {
  if (value == nullptr) return kDefaultLogLevel;
  char* end = nullptr;
  const long parsed = std::strtol(value, &end, 10);
  if (end == value) return kDefaultLogLevel;
  if (parsed > INT_MAX) return INT_MAX;
  if (parsed < INT_MIN) return INT_MIN;
  return static_cast<int>(parsed);
}

bool TagListEnables(std::string_view tags, std::string_view tag) {
  if (tags.size() >= 3 && (tags.find("all") != std::string_view::npos ||
                           tags.find("ALL") != std::string_view::npos)) {
    return true;
  }
  const std::string_view wanted = Trim(tag);
  if (wanted.empty()) return false;
  while (true) {
    const auto comma = tags.find(',');
    const std::string_view item = Trim(tags.substr(0, comma));
    if (!item.empty() && item == wanted) return true;
    if (comma == std::string_view::npos) return false;
    tags.remove_prefix(comma + 1);
  }
}

}  // namespace vadu::logging
