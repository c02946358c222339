// Runs logging and mapping steps named on the command line, so tests can watch
// what one process writes under a given environment. Each argument is one step:
//   error:TEXT  info:TEXT  tag-mmap:TEXT  tag-model:TEXT  hex:NUMBER  null-text:TEXT
//   init:PATH  init-twice:PATH  initopt:PATH  initopt-wait:PATH  mark:PATH
// and "done" prints "done" on standard output with printf.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "vadu_log.h"
#include "vadu_mmap.h"

namespace {

int CountThreads() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ++count;
  }
  return count;
}

// Keeps the mapping until its pre-fetch thread has ended by itself.
bool MapAndWaitForPrefetch(const std::string& path) {
  vadu::ReadOnlyMMapFile file;
  if (!file.InitOpt(path)) return false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  while (CountThreads() > 1) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

bool RunStep(const std::string& step) {
  const auto colon = step.find(':');
  const std::string name = step.substr(0, colon);
  const std::string value = colon == std::string::npos ? "" : step.substr(colon + 1);
  if (name == "error") {
    VADU_LOG_ERROR << value;
  } else if (name == "info") {
    VADU_LOG_INFO << value;
  } else if (name == "tag-mmap") {
    VADU_TAG_LOG_INFO("MMAP") << value;
  } else if (name == "tag-model") {
    VADU_TAG_LOG_INFO("Model") << value;
  } else if (name == "hex") {
    VADU_LOG_ERROR << vadu::logging::hex << std::stoull(value) << " " << std::stoi(value);
  } else if (name == "null-text") {
    const char* missing = nullptr;
    VADU_LOG_ERROR << value << missing << value;
  } else if (name == "init") {
    vadu::ReadOnlyMMapFile file;
    return file.Init(value);
  } else if (name == "init-twice") {
    vadu::ReadOnlyMMapFile file;
    return file.Init(value) && file.Init(value);
  } else if (name == "initopt") {
    vadu::ReadOnlyMMapFile file;
    return file.InitOpt(value);
  } else if (name == "initopt-wait") {
    return MapAndWaitForPrefetch(value);
  } else if (name == "mark") {
    vadu::ReadOnlyMMapFile file;
    if (!file.Init(value)) return false;
    vadu::ReadOnlyMMapFile::MarkDontNeed(file.data(), file.size());
    vadu::ReadOnlyMMapFile::MarkSequential(file.data(), file.size());
  } else if (name == "done") {
    std::fflush(stdout);
    std::printf("done\n");
  } else {
    std::fprintf(stderr, "unknown step %s\n", step.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    if (!RunStep(argv[i])) ++failures;
  }
  return failures;
}
