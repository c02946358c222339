#include "fuzz_support.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <streambuf>

namespace vadu::fuzz {
namespace {

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char *, std::streamsize n) override { return n; }
};

constexpr size_t kPageSize = 4096;

// $TMPDIR when set, else memory-backed when the machine has /dev/shm: every
// run writes and maps files, and on a disk the mapped file's release (which
// drops its cached pages) makes each run wait for the write.
std::string Base() {
  const char *tmpdir = std::getenv("TMPDIR");
  if (tmpdir != nullptr && *tmpdir != '\0') return tmpdir;
  return access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
}

struct Scratch {
  Scratch() {
    std::string pattern = Base() + "/vadu_fuzz_XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a scratch directory");
    path = pattern;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  std::filesystem::path path;
};

}  // namespace

void QuietProcess() {
  // Never destroyed: the standard streams flush it at exit, after every static.
  static NullBuffer *const null_buffer = new NullBuffer;
  std::cout.rdbuf(null_buffer);
  std::cerr.rdbuf(null_buffer);
  std::clog.rdbuf(null_buffer);
  setenv("VADU_LOG_LEVEL", "0", 1);
  unsetenv("VADU_LOG_FILE");
  unsetenv("VADU_LOG_TAGS");
}

void PageAlignedCopy::Free::operator()(uint8_t *p) const { std::free(p); }

PageAlignedCopy::PageAlignedCopy(const uint8_t *data, size_t size) : size_(size) {
  // An empty input still gets a valid address of its own.
  void *raw = nullptr;
  if (posix_memalign(&raw, kPageSize, size == 0 ? 1 : size) != 0) throw std::bad_alloc();
  bytes_.reset(static_cast<uint8_t *>(raw));
  if (size != 0) std::memcpy(bytes_.get(), data, size);
}

const std::filesystem::path &ScratchDir() {
  static const Scratch scratch;
  return scratch.path;
}

void WriteBytes(const std::filesystem::path &path, const uint8_t *data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

bool HasContainerIdentifier(const uint8_t *data, size_t size) {
  return size >= 8 && std::memcmp(data + 4, "QDMS", 4) == 0;
}

}  // namespace vadu::fuzz
