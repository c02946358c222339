// Process-wide levelled and tagged logging.
//
// A line is switched on by the threshold in VADU_LOG_LEVEL (default 2) and, for
// tagged lines, by VADU_LOG_TAGS. Every decision is taken once per process and
// cached, so a line that is off costs one test of a cached bool. Use the macros
// at the end of this file:
//
//   VADU_LOG_ERROR << "Not supported model type!";
//   VADU_TAG_LOG_INFO("MMAP") << logging::hex << start << " - " << end;
//
// The tagged macros take a string literal and prefix the line with "[tag] ".
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace spdlog {
class logger;
}

namespace vadu::logging {

enum class LOG_LEVEL : int {
  LOG_ERROR = 1,
  LOG_INFO = 3,
};

// True when the process threshold is at least `level`.
bool IsLevelEnable(LOG_LEVEL level);

// The tag rule applied to VADU_LOG_TAGS (false when it is unset).
bool ReadEnvTagEnable(std::string_view tag);

template <LOG_LEVEL L>
bool LevelEnable() {
  static const bool enabled = IsLevelEnable(L);
  return enabled;
}

// 64-bit FNV-1a: gives each tag its own cached decision at compile time.
constexpr uint64_t TagHash(std::string_view tag) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (char c : tag) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

template <LOG_LEVEL L, uint64_t H>
bool TagEnable(std::string_view tag) {
  // The environment is not read when the level is off.
  static const bool enabled = IsLevelEnable(L) && ReadEnvTagEnable(tag);
  return enabled;
}

class LogManager {
 public:
  // The logger named "VADU_LOGGER", created on first use; null when it could
  // not be created (the failure was reported once on standard error).
  static spdlog::logger* Instance();
  static std::shared_ptr<spdlog::logger> CreateLogger();
};

namespace detail {
// Sends one finished line to the process logger, if there is one.
void WriteLine(LOG_LEVEL level, std::string_view line);
}  // namespace detail

// Inserted into a Logger, switches integers to "0x{:x}" for the rest of the line.
struct HexFlag {};
inline constexpr HexFlag hex{};

template <typename T>
concept LoggedInteger = std::integral<T> && !std::same_as<T, bool> &&
                        !std::same_as<T, char>;

// One line under construction; written when the temporary is destroyed.
template <LOG_LEVEL L>
class Logger {
 public:
  Logger() : enabled_(LevelEnable<L>()) {}
  // Tagged lines pass the result of their TagEnable test.
  explicit Logger(bool enabled) : enabled_(enabled) {}
  ~Logger() {
    if (enabled_ && buffer_.size() != 0) {
      detail::WriteLine(L, std::string_view(buffer_.data(), buffer_.size()));
    }
  }
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  Logger& operator<<(HexFlag) {
    hex_ = true;
    return *this;
  }
  Logger& operator<<(const char* text) { return Append("{}", text); }
  Logger& operator<<(const std::string& text) { return Append("{}", text); }
  Logger& operator<<(std::string_view text) { return Append("{}", text); }
  Logger& operator<<(bool value) { return Append("{}", value); }
  template <LoggedInteger T>
  Logger& operator<<(T value) {
    return hex_ ? Append("0x{:x}", value) : Append("{}", value);
  }

 private:
  template <typename T>
  Logger& Append(fmt::format_string<const T&> format, const T& value) {
    if (!enabled_) return *this;
    try {
      fmt::format_to(fmt::appender(buffer_), format, value);
    } catch (...) {
      static constexpr std::string_view kError = "[LOG_FMT_ERR]";
      buffer_.append(kError.data(), kError.data() + kError.size());
    }
    return *this;
  }

  bool enabled_;
  bool hex_ = false;
  fmt::basic_memory_buffer<char, 500> buffer_;
};

// Lets the macros below be used as one expression statement.
struct Voidify {
  template <LOG_LEVEL L>
  void operator&(const Logger<L>&) const {}
};

}  // namespace vadu::logging

#define VADU_LOG_AT(level)                                             \
  !::vadu::logging::LevelEnable<level>()                               \
      ? (void)0                                                        \
      : ::vadu::logging::Voidify() & ::vadu::logging::Logger<level>()

#define VADU_TAG_LOG_AT(level, tag)                                          \
  !::vadu::logging::TagEnable<level, ::vadu::logging::TagHash(tag)>(tag)    \
      ? (void)0                                                              \
      : ::vadu::logging::Voidify() & ::vadu::logging::Logger<level>(true)    \
                                         << "[" tag "] "

#define VADU_LOG_ERROR VADU_LOG_AT(::vadu::logging::LOG_LEVEL::LOG_ERROR)
#define VADU_LOG_INFO VADU_LOG_AT(::vadu::logging::LOG_LEVEL::LOG_INFO)
#define VADU_TAG_LOG_ERROR(tag) \
  VADU_TAG_LOG_AT(::vadu::logging::LOG_LEVEL::LOG_ERROR, tag)
#define VADU_TAG_LOG_INFO(tag) \
  VADU_TAG_LOG_AT(::vadu::logging::LOG_LEVEL::LOG_INFO, tag)
