// One-time initialisation for code that runs with the interpreter lock held.
#pragma once

#include <atomic>
#include <mutex>

#include <pybind11/pybind11.h>

namespace vadu::python {

namespace py = pybind11;

// A function-local static is not safe here when its initialiser calls into
// Python: the interpreter may hand the lock to another thread halfway, and that
// thread then waits for the static's guard while holding the lock the first
// thread needs to finish. Here a thread gives the lock up before it waits, so
// the thread that initialises can always take it back.
class GilSafeOnce {
 public:
  constexpr GilSafeOnce() = default;
  GilSafeOnce(const GilSafeOnce&) = delete;
  GilSafeOnce& operator=(const GilSafeOnce&) = delete;

  // Runs init unless it has completed before; call with the interpreter lock
  // held. When init throws, the error propagates and the next call tries again.
  template <typename Init>
  void Run(Init&& init) {
    if (done_.load(std::memory_order_acquire)) return;
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_.load(std::memory_order_relaxed)) return;
    py::gil_scoped_acquire locked;
    init();
    done_.store(true, std::memory_order_release);
  }

 private:
  std::mutex mutex_;
  std::atomic<bool> done_{false};
};

}  // namespace vadu::python
