#include "test_support.h"

#include <stdlib.h>

#include <stdexcept>

namespace vadu::qdmstrip::testing {

ScratchDir::ScratchDir(const std::filesystem::path &parent) {
  std::string pattern = (parent / "qdmstrip_test_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

CapturedStreams::CapturedStreams() {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
}

CapturedStreams::~CapturedStreams() {
  if (!taken_) Take();
}

void CapturedStreams::Take() {
  if (taken_) return;
  taken_ = true;
  out_ = ::testing::internal::GetCapturedStdout();
  err_ = ::testing::internal::GetCapturedStderr();
}

WorkingDirectory::WorkingDirectory(const std::filesystem::path &dir) : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

WorkingDirectory::~WorkingDirectory() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

std::string CompleteBar(const std::string &label, uint64_t total) {
  return "\r[" + label + "] Progress: [" + std::string(50, '=') + "] 100% (" + std::to_string(total) + "/" +
         std::to_string(total) + ")\n";
}

}  // namespace vadu::qdmstrip::testing
