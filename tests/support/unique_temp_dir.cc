#include "unique_temp_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <system_error>

#include <gtest/gtest.h>

namespace vadu::testing {

std::filesystem::path MakeUniqueTempDir(const std::string &prefix) {
  std::string pattern = (std::filesystem::path(::testing::TempDir()) / (prefix + "_XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "cannot create " + pattern);
  }
  return pattern;
}

}  // namespace vadu::testing
