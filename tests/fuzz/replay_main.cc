// Runs a fuzz target's entry point once per file, for builds without
// libFuzzer: regression inputs and seeds then run in every test suite, under
// whichever sanitizers the build has. Arguments are files or directories
// (searched recursively); a run that finds no input at all fails.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> InputFiles(int argc, char **argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg = fs::absolute(argv[i]);
    if (fs::is_directory(arg)) {
      for (const auto &entry : fs::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else if (fs::is_regular_file(arg)) {
      files.push_back(arg);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// In one sized read: byte by byte is slow under the sanitizers. A file that
// cannot be opened reads as empty.
std::vector<uint8_t> ReadAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::error_code ec;
  const uintmax_t size = fs::file_size(path, ec);
  std::vector<uint8_t> bytes(in && !ec ? size : 0);
  in.read(reinterpret_cast<char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

}  // namespace

int main(int argc, char **argv) {
  const std::vector<fs::path> files = InputFiles(argc, argv);
  LLVMFuzzerInitialize(&argc, &argv);
  for (const fs::path &file : files) {
    // Named before the run, so a crash report can be traced to its input.
    std::fprintf(stderr, "input %s\n", file.c_str());
    const std::vector<uint8_t> bytes = ReadAll(file);
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  }
  std::fprintf(stderr, "ran %zu inputs\n", files.size());
  return files.empty() ? 1 : 0;
}
