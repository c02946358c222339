#include "unchanged_files.h"

#include <algorithm>
#include <system_error>

#include <gtest/gtest.h>

namespace vadu::testing {

UnchangedFiles::UnchangedFiles(const std::vector<std::filesystem::path> &paths) {
  for (const auto &path : paths) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) continue;
    try {
      files_.push_back({path, ReadFile(path)});
    } catch (const std::exception &) {
      // Unreadable to the test as well: nothing to compare against.
    }
  }
}

void UnchangedFiles::ExpectUnchanged() const {
  for (const Recorded &file : files_) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file.path, error)) {
      ADD_FAILURE() << "input file is gone: " << file.path;
      continue;
    }
    const Bytes now = ReadFile(file.path);
    if (now.size() != file.bytes.size()) {
      ADD_FAILURE() << "input file changed size: " << file.path << " from " << file.bytes.size() << " to "
                    << now.size() << " bytes";
    } else if (now != file.bytes) {
      const auto first = std::mismatch(now.begin(), now.end(), file.bytes.begin()).first - now.begin();
      ADD_FAILURE() << "input file changed: " << file.path << " (first different byte at " << first << ")";
    }
  }
}

std::vector<std::filesystem::path> FileArguments(const std::vector<std::string> &args,
                                                 const std::vector<std::string> &options_with_value,
                                                 const std::filesystem::path &dir) {
  std::vector<std::filesystem::path> paths;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string &arg = args[i];
    if (std::find(options_with_value.begin(), options_with_value.end(), arg) != options_with_value.end()) {
      ++i;  // its value names an output, not an input
      continue;
    }
    if (arg.empty() || arg[0] == '-') continue;
    const std::filesystem::path path(arg);
    paths.push_back(path.is_relative() && !dir.empty() ? dir / path : path);
  }
  return paths;
}

}  // namespace vadu::testing
