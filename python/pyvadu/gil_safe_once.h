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
//
// A fork made while another thread initialises would leave the child with
// this once's mutex, and whatever init holds (an import, a static's guard),
// owned by a thread the child does not have: the child's first use would wait
// forever. So every fork through the interpreter waits for the mutex and
// holds it until the fork is done: it happens before or after init, never
// during it.
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
    HoldAcrossForks();
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_.load(std::memory_order_relaxed)) return;
    py::gil_scoped_acquire locked;
    init();
    done_.store(true, std::memory_order_release);
  }

 private:
  // Registers the fork hooks that hold the mutex, on the first call; call
  // with the interpreter lock held.
  void HoldAcrossForks();

  std::mutex mutex_;
  std::atomic<bool> done_{false};
  // Read and written only with the interpreter lock held.
  bool fork_hooks_registered_ = false;
};

}  // namespace vadu::python
