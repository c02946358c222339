#include "vadu_mmap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string_view>
#include <thread>

#include "vadu_address_range.h"
#include "vadu_log.h"

// Set per library variant by src/CMakeLists.txt.
#ifndef VADU_MMAP_LOG_OPEN_FAILURE
#error "VADU_MMAP_LOG_OPEN_FAILURE must be defined to 0 or 1"
#endif

namespace vadu {
namespace {

constexpr bool kLogOpenFailure = VADU_MMAP_LOG_OPEN_FAILURE != 0;
// Fixed text: it must not change with the build's file layout.
constexpr std::string_view kOpenFailedLine =
    "src/vadu_mmap:150:Init: 'fd >= 0' FAILED! [Status: 0] open file failed:  ";
// Files above this size get the pre-fetch thread.
constexpr uint64_t kPrefetchThreshold = 0x40000000;
// One 32-bit word per 4096-byte page.
constexpr uint64_t kWordsPerPage = 1024;

uint64_t Address(const void* pointer) { return reinterpret_cast<uint64_t>(pointer); }

void Prefetch(const uint8_t* data, uint64_t size, const std::atomic<bool>* stop) {
  const auto* words = reinterpret_cast<const volatile uint32_t*>(data);
  uint64_t sum = 0;
  for (uint64_t i = 0; i < size / 4; i += kWordsPerPage) {
    sum += words[i];
    if (stop->load()) return;
  }
  VADU_LOG_INFO << sum;
}

}  // namespace

class ReadOnlyMMapFile::Impl {
 public:
  ~Impl() { CleanUp(); }

  bool Init(const std::string& path, bool is_lazy_memory);
  void CleanUp();
  void StartPrefetch();
  static AddressRangeManager& GetAddrManager();

  std::thread thread;
  std::atomic<bool> stop{true};
  int fd = -1;
  const uint8_t* data = nullptr;
  uint64_t size = 0;
};

AddressRangeManager& ReadOnlyMMapFile::Impl::GetAddrManager() {
  static AddressRangeManager manager;
  return manager;
}

bool ReadOnlyMMapFile::Impl::Init(const std::string& path, bool is_lazy_memory) {
  VADU_TAG_LOG_INFO("MMAP") << "mmap file " << path << " is_lazy_memory "
                            << is_lazy_memory;
  CleanUp();

  fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if constexpr (kLogOpenFailure) {
      VADU_LOG_ERROR << kOpenFailedLine << path;
    }
    return false;
  }

  struct stat status {};
  if (fstat(fd, &status) != 0) {
    CleanUp();
    return false;
  }

  size = static_cast<uint64_t>(status.st_size);
  if (size == 0) {
    // Nothing to map: an empty file keeps no descriptor and no range.
    close(fd);
    fd = -1;
    return true;
  }

  void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapped == MAP_FAILED) {
    data = nullptr;
    CleanUp();
    return false;
  }
  data = static_cast<const uint8_t*>(mapped);

  if (is_lazy_memory) {
    GetAddrManager().AddAddressRange(Address(data), Address(data) + size);
  }
  return true;
}

void ReadOnlyMMapFile::Impl::CleanUp() {
  stop.store(true, std::memory_order_seq_cst);
  if (thread.joinable()) thread.join();

  if (data != nullptr) {
    GetAddrManager().RemoveAddressRange(Address(data), size);
    munmap(const_cast<uint8_t*>(data), size);
    data = nullptr;
  }
  if (fd >= 0) {
    // Drops the file's cached pages.
    posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    close(fd);
    fd = -1;
  }
  size = 0;
}

void ReadOnlyMMapFile::Impl::StartPrefetch() {
  stop.store(false);
  thread = std::thread(Prefetch, data, size, &stop);
}

ReadOnlyMMapFile::ReadOnlyMMapFile() : impl_(std::make_unique<Impl>()) {}

ReadOnlyMMapFile::~ReadOnlyMMapFile() = default;

ReadOnlyMMapFile::ReadOnlyMMapFile(ReadOnlyMMapFile&& other) noexcept = default;

ReadOnlyMMapFile& ReadOnlyMMapFile::operator=(ReadOnlyMMapFile&& other) noexcept {
  if (this != &other) {
    if (impl_) impl_->CleanUp();
    impl_ = std::move(other.impl_);
  }
  return *this;
}

bool ReadOnlyMMapFile::Init(const std::string& path) {
  if (!impl_) impl_ = std::make_unique<Impl>();
  const bool mapped = impl_->Init(path, /*is_lazy_memory=*/true);
  madvise(const_cast<uint8_t*>(impl_->data), impl_->size, MADV_RANDOM);
  return mapped;
}

bool ReadOnlyMMapFile::InitOpt(const std::string& path) {
  if (!impl_) impl_ = std::make_unique<Impl>();
  const bool mapped = impl_->Init(path, /*is_lazy_memory=*/false);
  if (mapped && impl_->size > kPrefetchThreshold) impl_->StartPrefetch();
  return mapped;
}

const void* ReadOnlyMMapFile::data() const { return impl_ ? impl_->data : nullptr; }

const char* ReadOnlyMMapFile::char_data() const {
  return static_cast<const char*>(data());
}

uint64_t ReadOnlyMMapFile::size() const { return impl_ ? impl_->size : 0; }

bool ReadOnlyMMapFile::valid() const { return data() != nullptr || size() == 0; }

bool ReadOnlyMMapFile::IsLazyMemory(const void* address) {
  return Impl::GetAddrManager().Contains(Address(address));
}

void ReadOnlyMMapFile::MarkDontNeed(const void* address, uint64_t length) {
  VADU_TAG_LOG_INFO("MMAP") << "Marking unused: " << logging::hex << Address(address)
                            << " - " << Address(address) + length;
  madvise(const_cast<void*>(address), length, MADV_DONTNEED);
}

void ReadOnlyMMapFile::MarkSequential(const void* address, uint64_t length) {
  VADU_TAG_LOG_INFO("MMAP") << "Marking memory sequential: " << logging::hex
                            << Address(address) << " - " << Address(address) + length;
  madvise(const_cast<void*>(address), length, MADV_SEQUENTIAL);
}

}  // namespace vadu
