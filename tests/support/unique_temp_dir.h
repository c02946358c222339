// A folder of a test's own under the temporary directory.
#pragma once

#include <filesystem>
#include <string>

namespace vadu::testing {

// Creates a new, empty folder whose name starts with `prefix` and that no
// other process has: suites run side by side (two checkouts, two builds) must
// not remove each other's files.
std::filesystem::path MakeUniqueTempDir(const std::string &prefix);

}  // namespace vadu::testing
