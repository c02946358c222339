// Small file and process helpers for the mapped-file and logging tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vadu::testing {

// A fresh directory under the test temp dir, removed with the object.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::filesystem::path File(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void WriteText(const std::filesystem::path& path, const std::string& text);
std::string ReadText(const std::filesystem::path& path);
// A sparse file of `size` bytes with each (offset, word) pair written into it.
void MakeSparseFile(const std::filesystem::path& path, uint64_t size,
                    const std::vector<std::pair<uint64_t, uint32_t>>& words = {});

int CountOpenDescriptors();
int CountThreads();

struct ProbeResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs a program with the parent's environment minus every VADU_LOG_* variable,
// plus `env`, and collects what it writes.
ProbeResult RunProbe(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env = {});

// Log lines with the "[date time] [tid N] " head removed, so "[error] text".
std::vector<std::string> LogLines(const std::string& text);

}  // namespace vadu::testing
