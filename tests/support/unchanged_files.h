// Guards the input files of a tool run: the size and bytes of every named
// regular file are recorded up front, and each one that is different or gone
// afterwards is reported as a test failure.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "model_factory.h"

namespace vadu::testing {

class UnchangedFiles {
 public:
  // Paths that do not name a readable regular file are not guarded.
  explicit UnchangedFiles(const std::vector<std::filesystem::path> &paths);

  // Adds a failure to the running test for every guarded file that changed.
  void ExpectUnchanged() const;

 private:
  struct Recorded {
    std::filesystem::path path;
    Bytes bytes;
  };
  std::vector<Recorded> files_;
};

// The arguments of a command line that may name input files: every one that
// does not start with '-' and is not the value of an option in
// `options_with_value`, resolved against `dir` when relative.
std::vector<std::filesystem::path> FileArguments(const std::vector<std::string> &args,
                                                 const std::vector<std::string> &options_with_value,
                                                 const std::filesystem::path &dir);

}  // namespace vadu::testing
