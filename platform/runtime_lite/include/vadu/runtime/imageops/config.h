// The process-wide configuration of the image operations.
//
// The simulator only stores the directory path and the environment-variable
// name (a device library would look for its image kernels there); nothing in
// this library reads them back except GetDirPath.
#pragma once

#include <mutex>
#include <string>

namespace vadu::ImageOps {

class Config {
 public:
  // The one configuration of the process; it lives until the process ends.
  static Config& Global();

  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;
  ~Config() = default;

  // Both store their argument and return this configuration, for chaining.
  Config& SetDirPath(const std::string& dir_path);
  Config& SetEnvName(const std::string& env_name);
  // The path as last stored ("" until then).
  std::string GetDirPath() const;

 private:
  Config() = default;

  // Every thread of the process shares the singleton.
  mutable std::mutex mutex_;
  std::string dir_path_;
  std::string env_name_;
};

}  // namespace vadu::ImageOps
