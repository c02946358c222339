// The builders take their memory from operator new[]. Here it comes filled
// with a non-zero pattern, so that a byte a tool leaves as the allocator had
// it (instead of writing it, zero gaps included) shows up in the layout checks
// instead of passing by the luck of fresh, zeroed pages.
#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr int kPattern = 0xA5;
}  // namespace

void *operator new[](std::size_t size) {
  void *p = std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  std::memset(p, kPattern, size);
  return p;
}

void operator delete[](void *p) noexcept { std::free(p); }
void operator delete[](void *p, std::size_t) noexcept { std::free(p); }
