// What every fuzz target needs: a quiet process, the input at the alignment a
// mapping gives, and a private scratch directory for files the tools read and
// write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace vadu::fuzz {

// Sends the standard C++ streams nowhere and switches the logger off, so the
// tools' own lines cost nothing and cannot hide a sanitizer report. Call once,
// before anything logs.
void QuietProcess();

// A copy of the input at the start of a page, as a mapped file would hand it
// over. The copy is exactly `size` bytes long, so reading past it is caught.
class PageAlignedCopy {
 public:
  PageAlignedCopy(const uint8_t *data, size_t size);

  const uint8_t *data() const { return bytes_.get(); }
  size_t size() const { return size_; }

 private:
  struct Free {
    void operator()(uint8_t *p) const;
  };
  std::unique_ptr<uint8_t, Free> bytes_;
  size_t size_;
};

// A directory of this process's own, created on first use under $TMPDIR
// (else /dev/shm or /tmp) and removed at normal exit; libFuzzer's own exits
// skip that, so scripts/fuzz points TMPDIR at a directory it removes. The working directory stays as it is
// (libFuzzer resolves its paths after initialisation), so a verification dump
// the tools drop there lands where the caller runs the target.
const std::filesystem::path &ScratchDir();

// Writes `size` bytes to `path`, replacing what was there.
void WriteBytes(const std::filesystem::path &path, const uint8_t *data, size_t size);

// True when the buffer carries the container identifier at bytes 4 to 7.
bool HasContainerIdentifier(const uint8_t *data, size_t size);

}  // namespace vadu::fuzz
