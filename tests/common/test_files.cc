#include "test_files.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>

#include <gtest/gtest.h>

extern char** environ;

namespace vadu::testing {
namespace {

int CountEntries(const char* dir) {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir)) {
    ++count;
  }
  return count;
}

}  // namespace

ScratchDir::ScratchDir() {
  static std::atomic<int> counter{0};
  path_ = std::filesystem::path(::testing::TempDir()) /
          ("vadu_common_" + std::to_string(getpid()) + "_" + std::to_string(counter++));
  std::filesystem::remove_all(path_);
  std::filesystem::create_directories(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void MakeSparseFile(const std::filesystem::path& path, uint64_t size,
                    const std::vector<std::pair<uint64_t, uint32_t>>& words) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path.string());
  bool ok = ftruncate(fd, static_cast<off_t>(size)) == 0;
  for (const auto& [offset, word] : words) {
    ok = ok && pwrite(fd, &word, sizeof(word), static_cast<off_t>(offset)) == sizeof(word);
  }
  close(fd);
  if (!ok) throw std::runtime_error("cannot fill " + path.string());
}

int CountOpenDescriptors() {
  // The iterator's own descriptor is counted every time, so counts compare.
  return CountEntries("/proc/self/fd");
}

int CountThreads() { return CountEntries("/proc/self/task"); }

ProbeResult RunProbe(const std::string& program, const std::vector<std::string>& args,
                     const std::map<std::string, std::string>& env) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string_view(*entry).rfind("VADU_LOG_", 0) != 0) environment.emplace_back(*entry);
  }
  for (const auto& [name, value] : env) environment.push_back(name + "=" + value);

  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& text : argv_text) argv.push_back(text.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);

  ScratchDir capture;
  const std::string out_path = capture.File("out").string();
  const std::string err_path = capture.File("err").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);

  int status = 0;
  waitpid(pid, &status, 0);
  ProbeResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadText(out_path);
  result.err = ReadText(err_path);
  return result;
}

std::vector<std::string> LogLines(const std::string& text) {
  static const std::regex head(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[tid \d+\] (.*)$)");
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::smatch match;
    lines.push_back(std::regex_match(line, match, head) ? match[1].str() : "UNMATCHED " + line);
  }
  return lines;
}

}  // namespace vadu::testing
