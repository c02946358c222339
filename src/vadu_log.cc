#include "vadu_log.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>

#include "vadu_log_env.h"

namespace vadu::logging {
namespace {

constexpr const char* kLoggerName = "VADU_LOGGER";
constexpr const char* kPattern = "[%Y-%m-%d %H:%M:%S.%e] [tid %t] [%l] %v";

static_assert(TagHash("MMAP") == 0x3B45B5AF586A1DAEULL);
static_assert(TagHash("Model") == 0x5DA52AF9B083C29AULL);

int Threshold() {
  static const int threshold = ParseLogLevel(std::getenv("VADU_LOG_LEVEL"));
  return threshold;
}

const std::optional<std::string>& EnvTags() {
  static const std::optional<std::string> tags = [] {
    const char* value = std::getenv("VADU_LOG_TAGS");
    return value ? std::optional<std::string>(value) : std::nullopt;
  }();
  return tags;
}

spdlog::level::level_enum Severity(LOG_LEVEL level) {
  return level == LOG_LEVEL::LOG_ERROR ? spdlog::level::err : spdlog::level::info;
}

}  // namespace

bool IsLevelEnable(LOG_LEVEL level) {
  return Threshold() >= static_cast<int>(level);
}

bool ReadEnvTagEnable(std::string_view tag) {
  const auto& tags = EnvTags();
  return tags.has_value() && TagListEnables(*tags, tag);
}

std::shared_ptr<spdlog::logger> LogManager::CreateLogger() {
  std::shared_ptr<spdlog::logger> logger;
  try {
    logger = spdlog::get(kLoggerName);
    if (!logger) {
      if (const char* file = std::getenv("VADU_LOG_FILE")) {
        logger = spdlog::basic_logger_mt(kLoggerName, file, /*truncate=*/false);
      } else {
        auto sink = std::make_shared<spdlog::sinks::stdout_color_sink_mt>();
        sink->set_pattern(kPattern);
        logger = std::make_shared<spdlog::logger>(kLoggerName, std::move(sink));
        spdlog::register_logger(logger);
      }
    }
  } catch (const spdlog::spdlog_ex& error) {
    std::fprintf(stderr, "LogManager Init Error: %s\n", error.what());
  }
  if (logger) logger->set_pattern(kPattern);
  return logger;
}

spdlog::logger* LogManager::Instance() {
  static const std::shared_ptr<spdlog::logger> owner = CreateLogger();
  static spdlog::logger* const instance = owner.get();
  return instance;
}

namespace detail {

void WriteLine(LOG_LEVEL level, std::string_view line) {
  // A logger that could not be created is never written to.
  if (spdlog::logger* logger = LogManager::Instance()) {
    logger->log(spdlog::source_loc{}, Severity(level),
                spdlog::string_view_t(line.data(), line.size()));
  }
}

}  // namespace detail
}  // namespace vadu::logging
