#include "cli_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "test_support.h"
#include "unchanged_files.h"

extern char **environ;

namespace vadu::qdmstrip::testing {
namespace {

std::string Slurp(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The test's environment without the logging variables, plus the log target.
std::vector<std::string> ChildEnvironment(const std::string &log_file) {
  std::vector<std::string> env;
  for (char **e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("VADU_LOG_", 0) == 0) continue;
    env.push_back(entry);
  }
  if (log_file.empty()) {
    env.push_back("VADU_LOG_LEVEL=0");
  } else {
    env.push_back("VADU_LOG_FILE=" + log_file);
  }
  return env;
}

std::vector<char *> Pointers(std::vector<std::string> &strings) {
  std::vector<char *> pointers;
  for (std::string &s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

CliResult RunQdmstrip(const std::vector<std::string> &args, const std::string &working_dir,
                      const std::string &log_file, const std::function<void()> &before_start) {
  ScratchDir capture;
  const std::string out_path = capture.File("stdout");
  const std::string err_path = capture.File("stderr");

  std::vector<std::string> argv_strings = {QDMSTRIP_BINARY};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<std::string> env_strings = ChildEnvironment(log_file);
  std::vector<char *> argv = Pointers(argv_strings);
  std::vector<char *> envp = Pointers(env_strings);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (!working_dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, working_dir.c_str());
  // Whatever the run does, it must leave its inputs as they were.
  const vadu::testing::UnchangedFiles inputs(vadu::testing::FileArguments(args, {"-o", "--output"}, working_dir));
  if (before_start) before_start();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + argv_strings[0]);

  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
  inputs.ExpectUnchanged();
  CliResult result;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.major_faults = usage.ru_majflt;
  result.out = Slurp(out_path);
  result.err = Slurp(err_path);
  return result;
}

}  // namespace vadu::qdmstrip::testing
