#include "vadu/runtime/imageops/config.h"

namespace vadu::ImageOps {

Config& Config::Global() {
  static Config config;
  return config;
}

Config& Config::SetDirPath(const std::string& dir_path) {
  std::lock_guard lock(mutex_);
  dir_path_ = dir_path;
  return *this;
}

Config& Config::SetEnvName(const std::string& env_name) {
  std::lock_guard lock(mutex_);
  env_name_ = env_name;
  return *this;
}

std::string Config::GetDirPath() const {
  std::lock_guard lock(mutex_);
  return dir_path_;
}

}  // namespace vadu::ImageOps
